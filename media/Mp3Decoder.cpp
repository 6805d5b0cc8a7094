#include "media/Mp3Decoder.h"

#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

struct FrameHeader {
    int version = 0; // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;
    int rate = 0;
    std::size_t length = 0; // bytes, header included
};

bool ParseHeader(const std::uint8_t *p, FrameHeader &header)
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
    const int table = header.version == 1 ? header.layer - 1 : header.layer == 1 ? 3 : 4;
    const long bitrate = bitrates[table][bitrateIndex] * 1000L;
    if (header.layer == 1)
        header.length = std::size_t((12 * bitrate / header.rate + padding) * 4);
    else if (header.layer == 3 && header.version != 1)
        header.length = std::size_t(72 * bitrate / header.rate + padding);
    else
        header.length = std::size_t(144 * bitrate / header.rate + padding);
    return header.length > 4;
}

// Three frames in a row with the same version, layer and rate, or fewer that end the file.
bool ChainAt(const std::vector<std::uint8_t> &data, std::size_t at, bool windowIsWholeRest)
{
    FrameHeader first;
    std::size_t pos = at;
    for (int count = 0; count < 3; ++count) {
        if (pos + 4 > data.size()) {
            const bool endsFile = windowIsWholeRest && pos == data.size();
            const bool tagFollows = pos + 3 <= data.size() && std::memcmp(data.data() + pos, "TAG", 3) == 0;
            return count > 0 && (endsFile || tagFollows);
        }
        FrameHeader header;
        if (!ParseHeader(data.data() + pos, header))
            return count > 0 && pos + 3 <= data.size() && std::memcmp(data.data() + pos, "TAG", 3) == 0;
        if (count == 0)
            first = header;
        else if (header.version != first.version || header.layer != first.layer || header.rate != first.rate)
            return false;
        pos += header.length;
    }
    return true;
}

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

} // namespace

Mp3Decoder::Probe Mp3Decoder::Examine(int fd, bool searchAhead)
{
    constexpr std::size_t window = 64 * 1024;
    std::uint8_t tag[10];
    off_t start = 0;
    const bool tagged = ::pread(fd, tag, sizeof tag, 0) == sizeof tag && std::memcmp(tag, "ID3", 3) == 0;
    if (tagged) {
        // ID3v2: a 28-bit size in four 7-bit bytes, plus a footer when flagged.
        start = 10
                + (off_t(tag[6] & 0x7F) << 21 | off_t(tag[7] & 0x7F) << 14 | off_t(tag[8] & 0x7F) << 7
                   | off_t(tag[9] & 0x7F));
        if (tag[5] & 0x10)
            start += 10;
    }
    std::vector<std::uint8_t> data(window);
    const ssize_t got = ::pread(fd, data.data(), data.size(), start);
    if (got < 0)
        return tagged ? Probe::Damaged : Probe::NotMpeg;
    data.resize(std::size_t(got));
    const bool wholeRest = data.size() < window;
    const std::size_t last = (tagged || searchAhead) && data.size() >= 4 ? data.size() - 4 : 0;
    for (std::size_t at = 0; at <= last && at < data.size(); ++at) {
        if (ChainAt(data, at, wholeRest))
            return Probe::Mpeg;
    }
    return tagged ? Probe::Damaged : Probe::NotMpeg;
}

MCIERROR Mp3Decoder::Open(FileDescriptor file, std::unique_ptr<Decoder> &decoder)
{
    InitLibrary();
    int error = MPG123_OK;
    mpg123_handle *handle = mpg123_new(nullptr, &error);
    std::unique_ptr<Mp3Decoder> mp3(new Mp3Decoder);
    mp3->file_ = std::move(file);
    if (handle == nullptr)
        return MCIERR_OUT_OF_MEMORY;
    mp3->handle_ = handle;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    // Float output at the stream's own rate and channel count; the output stage converts.
    mpg123_format_none(handle);
    const long *rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

    mp3->reader_.fd = mp3->file_.Get();
    mp3->reader_.buffer.resize(64 * 1024);
    if (mpg123_replace_reader_handle(handle, &Reader::Read, &Reader::Seek, nullptr) != MPG123_OK
        || mpg123_open_handle(handle, &mp3->reader_) != MPG123_OK)
        return MCIERR_DAMAGED_FILE;
    // The scan reads every frame header (no decoding), so the length is exact even without an
    // Info frame.
    if (mpg123_scan(handle) != MPG123_OK)
        return MCIERR_DAMAGED_FILE;
    int encoding = 0;
    if (mpg123_getformat(handle, &mp3->rate_, &mp3->channels_, &encoding) != MPG123_OK || mp3->rate_ <= 0)
        return MCIERR_DAMAGED_FILE;
    const off_t length = mpg123_length(handle);
    if (length <= 0)
        return MCIERR_DAMAGED_FILE;
    mp3->frames_ = length;
    decoder = std::move(mp3);
    return MMSYSERR_NOERROR;
}

ssize_t Mp3Decoder::Reader::Read(void *handle, void *out, std::size_t bytes)
{
    auto &reader = *static_cast<Reader *>(handle);
    std::size_t done = 0;
    while (done < bytes) {
        if (reader.used == reader.filled) {
            reader.bufferStart += std::int64_t(reader.filled);
            reader.used = reader.filled = 0;
            const ssize_t got =
                ::pread(reader.fd, reader.buffer.data(), reader.buffer.size(), off_t(reader.bufferStart));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return done > 0 ? ssize_t(done) : -1;
            if (got == 0)
                break;
            reader.filled = std::size_t(got);
        }
        const std::size_t count = std::min(bytes - done, reader.filled - reader.used);
        std::memcpy(static_cast<unsigned char *>(out) + done, reader.buffer.data() + reader.used, count);
        reader.used += count;
        done += count;
    }
    return ssize_t(done);
}

off_t Mp3Decoder::Reader::Seek(void *handle, off_t offset, int whence)
{
    auto &reader = *static_cast<Reader *>(handle);
    std::int64_t target = offset;
    if (whence == SEEK_CUR) {
        target += reader.bufferStart + std::int64_t(reader.used);
    } else if (whence == SEEK_END) {
        struct stat info {};
        if (::fstat(reader.fd, &info) != 0)
            return -1;
        target += info.st_size;
    } else if (whence != SEEK_SET) {
        return -1;
    }
    if (target < 0)
        return -1;
    // Within the buffer only the read point moves; elsewhere the buffer starts again there.
    if (target >= reader.bufferStart && target <= reader.bufferStart + std::int64_t(reader.filled)) {
        reader.used = std::size_t(target - reader.bufferStart);
    } else {
        reader.bufferStart = target;
        reader.used = reader.filled = 0;
    }
    return off_t(target);
}

Mp3Decoder::~Mp3Decoder()
{
    if (handle_ != nullptr) {
        mpg123_close(handle_);
        mpg123_delete(handle_);
    }
}

std::int64_t Mp3Decoder::Read(float *out, std::int64_t frames)
{
    frames = std::min(frames, frames_ - next_);
    const std::size_t frameBytes = sizeof(float) * std::size_t(channels_);
    std::size_t filled = 0;
    const std::size_t wanted = std::size_t(frames) * frameBytes;
    while (filled < wanted) {
        std::size_t done = 0;
        const int result =
            mpg123_read(handle_, reinterpret_cast<unsigned char *>(out) + filled, wanted - filled, &done);
        filled += done;
        if (result == MPG123_DONE)
            break;
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(handle_, &rate, &channels, &encoding);
            if (rate != rate_ || channels != channels_)
                return -1; // a stream that changes its format midway cannot go on through one output
            continue;
        }
        if (result != MPG123_OK) {
            if (filled == 0)
                return -1;
            break; // hand out what was decoded; the next call reports the failure
        }
    }
    const std::int64_t got = std::int64_t(filled / frameBytes);
    next_ += got;
    return got;
}

bool Mp3Decoder::Seek(std::int64_t frame)
{
    if (mpg123_seek(handle_, off_t(frame), SEEK_SET) < 0)
        return false;
    next_ = frame;
    return true;
}
