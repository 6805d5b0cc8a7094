#pragma once

#include <cstddef>
#include <cstdint>

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
};
