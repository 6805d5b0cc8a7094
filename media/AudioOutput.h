#pragma once

#include "media/MciDefs.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// What the output pulls sound from. Render runs on the output's own thread and must fill all
// frames (silence where there is no sound); it never waits for the GUI thread. `first` counts the
// frames the output took before this buffer, `when` is the moment it asked for this one.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual void Render(float *out, int frames, std::int64_t first, std::chrono::steady_clock::time_point when) = 0;
};

// One sound output fed with interleaved float frames at the source's rate and channel count: an
// SDL audio device, which converts them to whatever the device takes, or, where SDL would play
// silently, a silent output of our own that keeps real time. The output runs from Open until the
// object is destroyed.
class AudioOutput {
public:
    // What the output takes. SDL plays at most 8 channels; a buffer at a rate below the lowest
    // would last long enough to hold up closing for seconds (256 s at 1 Hz).
    static constexpr int maxChannels = 8;
    static constexpr int minRate = 1000;
    static constexpr int maxRate = 384000;

    // Frames per buffer at a rate: the largest power of two that lasts no more than 20 ms. On a
    // busy machine a shorter buffer lets the sound server run dry between two of them, and the
    // sound gets gaps; a longer one delays the sound after a command.
    static int BufferFrames(int rate);

    // 0 when the output can play sound of this rate and channel count, else the code that says
    // which of them it cannot.
    static MCIERROR Supports(int rate, int channels);

    static MCIERROR Open(int rate, int channels, AudioSource &source, std::unique_ptr<AudioOutput> &output);
    ~AudioOutput();

    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // What the output may still hold of earlier sound when it asks for a buffer, in frames: the
    // bounds that its OutputClock works with.
    std::int64_t HeldMin() const { return heldMin_; }
    std::int64_t HeldMax() const { return heldMax_; }

    // While a Lock lives, Render is not running and will not start.
    class Lock {
    public:
        explicit Lock(AudioOutput &output) : lock_(output.mutex_) {}

    private:
        std::unique_lock<std::mutex> lock_;
    };

private:
    AudioOutput() = default;
    static void Callback(void *userdata, std::uint8_t *stream, int length);
    void Pull(float *out, int frames);
    void Pace(int frames);

    int rate_ = 0;
    int channels_ = 0;
    AudioSource *source_ = nullptr;
    std::int64_t heldMin_ = 0;
    std::int64_t heldMax_ = 0;

    std::mutex mutex_;        // held while the source renders
    std::int64_t pulled_ = 0; // frames taken so far; under mutex_

    bool subsystem_ = false;
    std::uint32_t device_ = 0; // the SDL device, if that is the output

    // The silent output: a thread that pulls a buffer each time one would have been played.
    std::thread pacer_;
    std::mutex paceMutex_;
    std::condition_variable paceWake_;
    bool stopping_ = false; // under paceMutex_
};
