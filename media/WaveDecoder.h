#pragma once

#include "media/Decoder.h"
#include "media/MciDefs.h"

#include <memory>

struct sf_private_tag;

// Wave files (PCM of every width, float, mu-law, A-law, IMA and MS ADPCM) through libsndfile.
class WaveDecoder : public Decoder {
public:
    // Takes ownership of fd, which is open for reading at any offset.
    static MCIERROR Open(int fd, std::unique_ptr<Decoder> &decoder);
    ~WaveDecoder() override;

    int SampleRate() const override { return rate_; }
    int Channels() const override { return channels_; }
    std::int64_t Frames() const override { return frames_; }
    std::int64_t Read(float *out, std::int64_t frames) override;
    bool Seek(std::int64_t frame) override;

private:
    WaveDecoder() = default;

    sf_private_tag *file_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = 0;
};
