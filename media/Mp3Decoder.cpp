#include "media/Mp3Decoder.h"

#include "media/Mp3Frames.h"

#include <mpg123.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// The samples libmpg123 drops at the start of a layer III stream beyond the encoder's delay.
constexpr std::int64_t decoderDelay = 529;

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

} // namespace

// The offset of the first chain of frames: at the start of the file (after an ID3v2 tag), or
// anywhere near the start when searchAhead is set; -1 when there is none.
std::int64_t Mp3Decoder::FirstChain(int fd, bool searchAhead, bool *tagged)
{
    constexpr std::size_t window = 64 * 1024;
    std::uint8_t tag[10];
    off_t start = 0;
    *tagged = ::pread(fd, tag, sizeof tag, 0) == sizeof tag && std::memcmp(tag, "ID3", 3) == 0;
    if (*tagged) {
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
        return -1;
    data.resize(std::size_t(got));
    const bool wholeRest = data.size() < window;
    const std::size_t last = (*tagged || searchAhead) && data.size() >= 4 ? data.size() - 4 : 0;
    for (std::size_t at = 0; at <= last && at < data.size(); ++at) {
        if (Mp3Frames::ChainAt(data.data(), data.size(), at, wholeRest))
            return start + std::int64_t(at);
    }
    return -1;
}

Mp3Decoder::Probe Mp3Decoder::Examine(int fd, bool searchAhead)
{
    bool tagged = false;
    if (FirstChain(fd, searchAhead, &tagged) >= 0)
        return Probe::Mpeg;
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

    // libmpg123 reads the chains of frames only: past a damaged stretch it would search for
    // the next frame itself and decode noise out of what looks like one.
    bool tagged = false;
    const Mp3Frames walk = Mp3Frames::Walk(mp3->file_.Get(), FirstChain(mp3->file_.Get(), true, &tagged));
    mp3->reader_.fd = mp3->file_.Get();
    mp3->reader_.buffer.resize(64 * 1024);
    for (const Mp3Frames::Span &span : walk.spans) {
        mp3->reader_.spans.push_back({span.offset, mp3->reader_.size, span.bytes});
        mp3->reader_.size += span.bytes;
    }
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
    if (walk.damagedFrame >= 0) {
        // Where the damage lies in the sound as it decodes: less what libmpg123 drops at the
        // start, which it drops only while the file holds all the frames its Info frame counts.
        const std::int64_t whole = walk.frames * walk.first.samples;
        const std::int64_t dropped =
            walk.encoderDelay >= 0 && length < whole ? std::min(whole - length, walk.encoderDelay + decoderDelay) : 0;
        const std::int64_t sample = std::max<std::int64_t>(walk.damagedFrame * walk.first.samples - dropped, 0);
        mp3->damage_ = {sample * 1000 / mp3->rate_, walk.damage};
    }
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
            // The buffer is filled from the one span it starts in.
            const auto span = std::find_if(reader.spans.begin(), reader.spans.end(), [&](const Span &s) {
                return reader.bufferStart >= s.start && reader.bufferStart < s.start + s.bytes;
            });
            if (span == reader.spans.end())
                break;
            const std::int64_t inSpan = reader.bufferStart - span->start;
            const std::size_t wanted =
                std::size_t(std::min<std::int64_t>(std::int64_t(reader.buffer.size()), span->bytes - inSpan));
            const ssize_t got = ::pread(reader.fd, reader.buffer.data(), wanted, off_t(span->offset + inSpan));
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
    if (whence == SEEK_CUR)
        target += reader.bufferStart + std::int64_t(reader.used);
    else if (whence == SEEK_END)
        target += reader.size;
    else if (whence != SEEK_SET)
        return -1;
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
    if (formatChanged_)
        return -1;
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
            // A stream that changes its format midway cannot go on through one output: what
            // came before the change is handed out, and the next call fails.
            if (rate != rate_ || channels != channels_) {
                formatChanged_ = true;
                if (filled == 0)
                    return -1;
                break;
            }
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
    formatChanged_ = false;
    return true;
}
