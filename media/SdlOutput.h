#pragma once

#include "media/AudioOutput.h"
#include "media/OutputClock.h"

#include <condition_variable>
#include <thread>

// The output through SDL: an SDL audio device, which converts our frames to whatever the device
// takes, or, where SDL would play silently, a silent output of our own that keeps real time. It
// plays from its opening on; its count comes from when the device asks for more (OutputClock).
class SdlOutput final : public AudioOutput {
public:
    // Frames per buffer at a rate: the largest power of two that lasts no more than 20 ms.
    static int BufferFrames(int rate);

    static MCIERROR Open(int rate, int channels, AudioSource &source, std::unique_ptr<AudioOutput> &output);
    ~SdlOutput() override;

    std::int64_t Played(Clock::time_point now) const override;
    bool Lost() const override;

private:
    SdlOutput() = default;
    static void Callback(void *userdata, std::uint8_t *stream, int length);
    void Pull(float *out, int frames);
    void Pace(int frames);

    int rate_ = 0;
    int channels_ = 0;
    AudioSource *source_ = nullptr;
    std::int64_t pulled_ = 0; // frames taken so far; under mutex_

    mutable std::mutex clockMutex_;
    OutputClock clock_; // under clockMutex_

    bool subsystem_ = false;
    std::uint32_t device_ = 0; // the SDL device, if that is the output

    // The silent output: a thread that pulls a buffer each time one would have been played.
    std::thread pacer_;
    std::mutex paceMutex_;
    std::condition_variable paceWake_;
    bool stopping_ = false; // under paceMutex_
};
