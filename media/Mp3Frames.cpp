#include "media/Mp3Frames.h"

#include "media/FileDescriptor.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::uint32_t BigEndian32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

std::uint32_t LittleEndian32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The file read through a window that follows the walk. A chain check looks at most three
// frames ahead (under 9 KB), so the window always holds that much past where it is asked.
class Window {
public:
    Window(int fd, std::int64_t end) : fd_(fd), end_(end), data_(64 * 1024) {}

    // The bytes from offset on, up to the end the window was given; available says how many.
    const std::uint8_t *At(std::int64_t offset, std::size_t &available)
    {
        constexpr std::int64_t lookAhead = 16 * 1024;
        if (offset < start_ || (offset + lookAhead > start_ + filled_ && !ReachesEnd())) {
            start_ = offset;
            const std::size_t wanted = std::size_t(std::min<std::int64_t>(std::int64_t(data_.size()), end_ - offset));
            filled_ = std::int64_t(ReadAt(fd_, offset, data_.data(), wanted));
            // A read that stops short ends the walk there, as the end of the file would.
            if (filled_ < std::int64_t(wanted))
                end_ = start_ + filled_;
        }
        available = std::size_t(std::max<std::int64_t>(start_ + filled_ - offset, 0));
        return data_.data() + (offset - start_);
    }
    bool ReachesEnd() const { return start_ + filled_ >= end_; }

private:
    int fd_;
    std::int64_t end_;
    std::vector<std::uint8_t> data_;
    std::int64_t start_ = 0;
    std::int64_t filled_ = 0;
};

// Where the frames must end: before the tags that may close the file (APE, then ID3v1).
std::int64_t AudioEnd(int fd, std::int64_t end)
{
    std::uint8_t tag[32];
    if (end >= 128 && ReadAt(fd, end - 128, tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0)
        end -= 128;
    // An APE footer gives the tag's size without its header, whose presence is the flags' top bit.
    if (end >= 32 && ReadAt(fd, end - 32, tag, 32) == 32 && std::memcmp(tag, "APETAGEX", 8) == 0) {
        const std::int64_t bytes = std::int64_t(LittleEndian32(tag + 12)) + ((tag[23] & 0x80) ? 32 : 0);
        if (bytes <= end)
            end -= bytes;
    }
    return end;
}

// The encoder's Info (or Xing) frame: a first frame without sound that tells what the encoder
// wrote of the whole stream. False when the first frame is sound.
bool ReadInfoFrame(const std::uint8_t *p, std::size_t available, Mp3Frames &walk)
{
    const Mp3Frames::Header &header = walk.first;
    if (header.layer != 3)
        return false;
    const std::size_t sideInfo = header.version == 1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17);
    std::size_t at = 4 + (header.crc ? 2 : 0) + sideInfo;
    const std::size_t length = std::min(header.length, available);
    if (at + 8 > length || (std::memcmp(p + at, "Xing", 4) != 0 && std::memcmp(p + at, "Info", 4) != 0))
        return false;
    const std::uint32_t flags = BigEndian32(p + at + 4);
    at += 8;
    if ((flags & 1) && at + 4 <= length)
        walk.promisedFrames = BigEndian32(p + at);
    at += (flags & 1) ? 4 : 0;
    if ((flags & 2) && at + 4 <= length)
        walk.promisedBytes = BigEndian32(p + at);
    at += ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
    // The LAME extension: the encoder's name, then at 21 its delay and padding, 12 bits each.
    if (at + 24 <= length && std::isalpha(p[at]))
        walk.encoderDelay = p[at + 21] << 4 | p[at + 22] >> 4;
    return true;
}

bool AllZero(Window &window, std::int64_t from, std::int64_t to)
{
    while (from < to) {
        std::size_t available = 0;
        const std::uint8_t *p = window.At(from, available);
        const std::size_t count = std::size_t(std::min<std::int64_t>(std::int64_t(available), to - from));
        if (count == 0 || std::any_of(p, p + count, [](std::uint8_t byte) { return byte != 0; }))
            return false;
        from += std::int64_t(count);
    }
    return true;
}

} // namespace

bool Mp3Frames::ParseHeader(const std::uint8_t *p, Header &header)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false; // reserved values; free-format streams are not accepted either
    static constexpr int bitrates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2 layers II, III
    };
    static constexpr int rates[3] = {44100, 48000, 32000};
    header.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    header.layer = 4 - layerBits;
    header.rate = rates[rateIndex] / (header.version == 1 ? 1 : header.version == 2 ? 2 : 4);
    header.crc = (p[1] & 1) == 0;
    header.mono = (p[3] >> 6) == 3;
    const int table = header.version == 1 ? header.layer - 1 : header.layer == 1 ? 3 : 4;
    const long bitrate = bitrates[table][bitrateIndex] * 1000L;
    if (header.layer == 1) {
        header.length = std::size_t((12 * bitrate / header.rate + padding) * 4);
        header.samples = 384;
    } else if (header.layer == 3 && header.version != 1) {
        header.length = std::size_t(72 * bitrate / header.rate + padding);
        header.samples = 576;
    } else {
        header.length = std::size_t(144 * bitrate / header.rate + padding);
        header.samples = 1152;
    }
    return header.length > 4;
}

bool Mp3Frames::ChainAt(const std::uint8_t *data, std::size_t size, std::size_t at, bool wholeRest)
{
    Header first;
    std::size_t pos = at;
    for (int count = 0; count < 3; ++count) {
        if (pos + 4 > size) {
            const bool endsFile = wholeRest && pos == size;
            const bool tagFollows = pos + 3 <= size && std::memcmp(data + pos, "TAG", 3) == 0;
            return count > 0 && (endsFile || tagFollows);
        }
        Header header;
        if (!ParseHeader(data + pos, header))
            return count > 0 && pos + 3 <= size && std::memcmp(data + pos, "TAG", 3) == 0;
        if (count == 0)
            first = header;
        else if (!header.SameStream(first))
            return false;
        pos += header.length;
    }
    return true;
}

Mp3Frames Mp3Frames::Walk(int fd, std::int64_t start)
{
    Mp3Frames walk;
    struct stat info {};
    const std::int64_t fileBytes = ::fstat(fd, &info) == 0 ? std::int64_t(info.st_size) : 0;
    const std::int64_t end = AudioEnd(fd, fileBytes);
    Window window(fd, end);
    std::size_t available = 0;
    const std::uint8_t *p = start >= 0 ? window.At(start, available) : nullptr;
    if (available < 4 || !ParseHeader(p, walk.first)) {
        walk.spans.push_back({0, fileBytes});
        return walk;
    }
    const auto note = [&walk](std::int64_t frame, std::string what) {
        if (++walk.damagedPlaces > 1)
            return;
        walk.damagedFrame = std::max<std::int64_t>(frame, 0);
        walk.damage = std::move(what);
    };
    std::int64_t pos = start;
    if (ReadInfoFrame(p, available, walk))
        pos += std::int64_t(walk.first.length);
    std::int64_t spanStart = 0;
    while (pos < end) {
        p = window.At(pos, available);
        Header header;
        if (available >= 4 && ParseHeader(p, header) && header.SameStream(walk.first)) {
            if (header.length > available) {
                note(walk.frames, "the file ends inside a frame, cut short");
                break;
            }
            ++walk.frames;
            pos += std::int64_t(header.length);
            continue;
        }
        // The chain breaks here: it goes on where three frames of the stream follow each other.
        std::int64_t next = -1;
        for (std::int64_t at = pos + 1; at + 4 <= end && next < 0; ++at) {
            p = window.At(at, available);
            if (available >= 4 && ParseHeader(p, header) && header.SameStream(walk.first)
                && ChainAt(p, available, 0, window.ReachesEnd()))
                next = at;
        }
        // The frame that runs into a damaged stretch is damaged itself, as far as anyone can tell.
        if (next >= 0) {
            note(walk.frames - 1, std::to_string(next - pos) + " bytes there are not sound");
            walk.spans.push_back({spanStart, pos - spanStart});
            spanStart = pos = next;
            continue;
        }
        // Nothing follows that could be sound: padding, or a few stray bytes, end it well.
        if (end - pos >= std::int64_t(walk.first.length) && !AllZero(window, pos, end))
            note(walk.frames - 1, std::to_string(end - pos) + " bytes there are not sound");
        break;
    }
    walk.spans.push_back({spanStart, pos - spanStart});

    // A file cut short between frames shows only against what its Info frame promises. The
    // byte count may or may not include a tag before that frame; the smaller reading is taken.
    const auto shortBy = [&]() -> std::string {
        if (walk.promisedFrames && *walk.promisedFrames > walk.frames)
            return std::to_string((*walk.promisedFrames - walk.frames) * walk.first.samples * 1000 / walk.first.rate)
                   + " ms";
        if (!walk.promisedFrames && walk.promisedBytes && *walk.promisedBytes > pos)
            return std::to_string(*walk.promisedBytes - pos) + " bytes";
        return {};
    }();
    if (!shortBy.empty() && walk.damagedFrame < 0)
        note(walk.frames, "");
    if (!shortBy.empty() && walk.damagedFrame == walk.frames)
        walk.damage = "the file ends there, " + shortBy + " before its header says it does";
    if (walk.damagedPlaces > 1)
        walk.damage += ", and " + std::to_string(walk.damagedPlaces - 1) + " more damaged place"
                       + (walk.damagedPlaces > 2 ? "s" : "") + " after it";
    return walk;
}
