#include "media/WaveDecoder.h"

#include "media/WaveHeader.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using Source = WaveDecoder::Source;

sf_count_t SourceLength(void *source)
{
    struct stat info {};
    return ::fstat(static_cast<Source *>(source)->fd, &info) == 0 ? sf_count_t(info.st_size) : -1;
}

sf_count_t SourceSeek(sf_count_t offset, int whence, void *data)
{
    auto &source = *static_cast<Source *>(data);
    std::int64_t target = offset;
    if (whence == SEEK_CUR)
        target += source.offset;
    else if (whence == SEEK_END)
        target += SourceLength(data);
    else if (whence != SEEK_SET)
        return -1;
    if (target < 0)
        return -1;
    source.offset = target;
    return target;
}

sf_count_t SourceRead(void *out, sf_count_t bytes, void *data)
{
    auto &source = *static_cast<Source *>(data);
    const std::size_t got = ReadAt(source.fd, source.offset, out, std::size_t(bytes));
    source.offset += std::int64_t(got);
    return sf_count_t(got);
}

sf_count_t SourceWrite(const void *, sf_count_t, void *) { return 0; }

sf_count_t SourceTell(void *data) { return static_cast<Source *>(data)->offset; }

SF_VIRTUAL_IO sourceIo = {SourceLength, SourceSeek, SourceRead, SourceWrite, SourceTell};

// Encodings where every sample has its own bytes: libsndfile counts them from the data exactly.
bool SampleByteEncoding(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return true;
    default: return false;
    }
}

// The frames of sound in a compressed wave file. libsndfile counts whole blocks, so the padding
// that fills the last block counts as sound; the fact chunk holds the true count. libsndfile
// also takes the pad byte of an odd-sized GSM 6.10 data chunk for one more block, which decodes
// to noise; here the blocks are counted from the data alone.
std::int64_t SoundFrames(std::int64_t frames, int format, const std::optional<WaveHeader> &header)
{
    if (!header || SampleByteEncoding(format))
        return frames;
    if (header->formatTag == WaveHeader::gsm610 && header->hasData && header->blockAlign > 0) {
        constexpr std::int64_t gsmFramesPerBlock = 320; // two 160-sample frames in 65 bytes
        const std::int64_t perBlock = header->samplesPerBlock > 0 ? header->samplesPerBlock : gsmFramesPerBlock;
        frames = std::min(frames, header->dataBytes / header->blockAlign * perBlock);
    }
    if (header->factFrames && *header->factFrames > 0)
        frames = std::min<std::int64_t>(frames, *header->factFrames);
    return frames;
}

} // namespace

MCIERROR WaveDecoder::Open(FileDescriptor file, std::unique_ptr<Decoder> &decoder)
{
    std::unique_ptr<WaveDecoder> wave(new WaveDecoder);
    wave->file_ = std::move(file);
    wave->source_.fd = wave->file_.Get();
    const std::optional<WaveHeader> header = WaveHeader::Read(wave->file_.Get());
    SF_INFO info{};
    if (!wave->OpenStream(info)) {
        // A wave file in an encoding libsndfile has no decoder for is not damaged.
        if (header && header->hasFormat && !header->KnownEncoding())
            return MCIERR_UNSUPPORTED_ENCODING;
        return MCIERR_DAMAGED_FILE;
    }
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const bool waveContainer = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64
                               || container == SF_FORMAT_W64;
    if (!waveContainer || info.samplerate <= 0 || info.channels <= 0 || info.frames < 0)
        return MCIERR_DAMAGED_FILE;
    wave->rate_ = info.samplerate;
    wave->channels_ = info.channels;
    wave->frames_ = SoundFrames(info.frames, info.format, header);
    wave->seekable_ = info.seekable != 0;
    // A file cut short (a download that stopped) holds less than its header says.
    const std::int64_t missingMs = header ? header->MissingMs() : 0;
    if (missingMs > 0)
        wave->damage_ = {wave->frames_ * 1000 / wave->rate_,
                         "the file ends there, " + std::to_string(missingMs) + " ms before its header says it does"};
    decoder = std::move(wave);
    return MMSYSERR_NOERROR;
}

bool WaveDecoder::OpenStream(SF_INFO &info)
{
    source_.offset = 0;
    info = SF_INFO{};
    stream_ = sf_open_virtual(&sourceIo, SFM_READ, &info, &source_);
    streamAt_ = 0;
    return stream_ != nullptr;
}

WaveDecoder::~WaveDecoder()
{
    if (stream_ != nullptr)
        sf_close(stream_);
}

bool WaveDecoder::Rewind()
{
    if (stream_ != nullptr)
        sf_close(stream_);
    stream_ = nullptr;
    SF_INFO info{};
    if (!OpenStream(info))
        return false;
    // The file may have changed since it was opened; it must still be the same sound.
    if (info.samplerate != rate_ || info.channels != channels_ || info.frames < frames_) {
        sf_close(stream_);
        stream_ = nullptr;
        return false;
    }
    return true;
}

bool WaveDecoder::Skip(std::int64_t frames)
{
    std::vector<float> scratch(std::size_t(channels_) * 1024);
    while (frames > 0) {
        const sf_count_t wanted = std::min<std::int64_t>(frames, 1024);
        const sf_count_t got = sf_readf_float(stream_, scratch.data(), wanted);
        if (got <= 0)
            return false;
        streamAt_ += got;
        frames -= got;
    }
    return true;
}

std::int64_t WaveDecoder::Read(float *out, std::int64_t frames)
{
    frames = std::min(frames, frames_ - next_);
    if (frames <= 0)
        return 0;
    if (stream_ == nullptr)
        return -1;
    const sf_count_t got = sf_readf_float(stream_, out, frames);
    if (got < frames && sf_error(stream_) != SF_ERR_NO_ERROR)
        return -1;
    streamAt_ += got;
    next_ += got;
    return got;
}

bool WaveDecoder::Seek(std::int64_t frame)
{
    if (frame < 0 || frame > frames_)
        return false;
    // At the end nothing more is read: the stream may stay where it is.
    if (frame == frames_) {
        next_ = frame;
        return true;
    }
    if (seekable_) {
        if (stream_ == nullptr || sf_seek(stream_, frame, SEEK_SET) != frame)
            return false;
        streamAt_ = frame;
    } else {
        // libsndfile cannot seek in GSM 6.10, G.721 or NMS ADPCM: start again where needed and
        // decode forward to the frame.
        if ((stream_ == nullptr || frame < streamAt_) && !Rewind())
            return false;
        if (!Skip(frame - streamAt_))
            return false;
    }
    next_ = frame;
    return true;
}
