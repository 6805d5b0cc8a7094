#pragma once

#include "media/Decoder.h"
#include "media/FileDescriptor.h"
#include "media/MciDefs.h"

#include <memory>

struct sf_private_tag;
struct SF_INFO;

// Wave files (PCM of every width, float, mu-law, A-law, IMA and MS ADPCM, GSM 6.10, G.721,
// NMS ADPCM) through libsndfile.
class WaveDecoder : public Decoder {
public:
    static MCIERROR Open(FileDescriptor file, std::unique_ptr<Decoder> &decoder);
    ~WaveDecoder() override;

    int SampleRate() const override { return rate_; }
    int Channels() const override { return channels_; }
    std::int64_t Frames() const override { return frames_; }
    std::int64_t Read(float *out, std::int64_t frames) override;
    bool Seek(std::int64_t frame) override;
    SoundDamage Damage() const override { return damage_; }

    // libsndfile reads the file through this, never through the descriptor itself: it closes a
    // descriptor it was handed once it refuses the file, even when told to leave it open.
    struct Source {
        int fd = -1;
        std::int64_t offset = 0;
    };

private:
    WaveDecoder() = default;
    // Opens libsndfile on the file from its start; false when it refuses the file.
    bool OpenStream(SF_INFO &info);
    // For encodings libsndfile cannot seek in: a fresh start, and decoding forward.
    bool Rewind();
    bool Skip(std::int64_t frames);

    FileDescriptor file_;
    Source source_;
    sf_private_tag *stream_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = 0;
    bool seekable_ = false;
    std::int64_t next_ = 0;     // the frame the next Read gives
    std::int64_t streamAt_ = 0; // the frame libsndfile reads next
    SoundDamage damage_;
};
