#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Where a sound file is damaged, as its own structure shows when it opens or its decoding shows
// later: the first place, in milliseconds of the sound as it decodes, and what is wrong there.
struct SoundDamage {
    std::int64_t atMs = -1; // -1: none found
    std::string what;       // "20480 bytes there are not sound", ...
    bool Found() const { return atMs >= 0; }
};

// A sound file opened for reading as interleaved 32-bit float frames. Opening a decoder learns the
// exact length without decoding the whole file. Read and Seek run on the output thread while a
// sound plays, one call at a time.
class Decoder {
public:
    virtual ~Decoder() = default;

    virtual int SampleRate() const = 0;
    virtual int Channels() const = 0;
    // The exact number of frames from the start to the end of the sound.
    virtual std::int64_t Frames() const = 0;
    // Fills out with up to frames frames; returns how many were written (fewer only at the end),
    // or -1 when the file can no longer be decoded.
    virtual std::int64_t Read(float *out, std::int64_t frames) = 0;
    // Positions the next Read at frame (0 <= frame <= Frames()); false on failure.
    virtual bool Seek(std::int64_t frame) = 0;
    // What opening found damaged in the file: where its frames break, or that it ends before
    // its header says. The sound that decodes is what Read gives.
    virtual SoundDamage Damage() const { return {}; }
};
