#include "media/WaveDecoder.h"

#include <sndfile.h>
#include <unistd.h>

MCIERROR WaveDecoder::Open(int fd, std::unique_ptr<Decoder> &decoder)
{
    SF_INFO info{};
    SNDFILE *file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) {
        // sf_open_fd closes the descriptor only when it succeeds.
        ::close(fd);
        return MCIERR_DAMAGED_FILE;
    }
    std::unique_ptr<WaveDecoder> wave(new WaveDecoder);
    wave->file_ = file;
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const bool waveContainer = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
                      container == SF_FORMAT_RF64 || container == SF_FORMAT_W64;
    if (!waveContainer || info.samplerate <= 0 || info.channels <= 0 || info.frames < 0)
        return MCIERR_DAMAGED_FILE;
    wave->rate_ = info.samplerate;
    wave->channels_ = info.channels;
    wave->frames_ = info.frames;
    decoder = std::move(wave);
    return MMSYSERR_NOERROR;
}

WaveDecoder::~WaveDecoder()
{
    if (file_ != nullptr)
        sf_close(file_);
}

std::int64_t WaveDecoder::Read(float *out, std::int64_t frames)
{
    const sf_count_t got = sf_readf_float(file_, out, frames);
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR)
        return -1;
    return got;
}

bool WaveDecoder::Seek(std::int64_t frame)
{
    return sf_seek(file_, frame, SEEK_SET) == frame;
}
