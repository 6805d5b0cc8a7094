#pragma once

#include "media/MciDefs.h"

#include <memory>

// What the output pulls sound from. Render runs on the output's own thread and must fill all
// frames (silence where there is no sound); it never waits for the GUI thread.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual void Render(float *out, int frames) = 0;
};

// One SDL audio output device fed with interleaved float frames at the source's rate and channel
// count; SDL converts them to whatever the device takes. The device runs from Open until the
// object is destroyed.
class AudioOutput {
public:
    // Frames per device buffer: the delay from a command to the sound stays within a few ms.
    static constexpr int bufferFrames = 256;
    // What the output takes. SDL plays at most 8 channels; a buffer at a rate below the lowest
    // would last long enough to hold up closing for seconds (256 s at 1 Hz).
    static constexpr int maxChannels = 8;
    static constexpr int minRate = 1000;
    static constexpr int maxRate = 384000;

    // 0 when the output can play sound of this rate and channel count, else the code that says
    // which of them it cannot.
    static MCIERROR Supports(int rate, int channels);

    static MCIERROR Open(int rate, int channels, AudioSource &source, std::unique_ptr<AudioOutput> &output);
    ~AudioOutput();

    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // While a Lock lives, Render is not running and will not start.
    class Lock {
    public:
        explicit Lock(AudioOutput &output);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        AudioOutput &output_;
    };

private:
    AudioOutput() = default;
    static void Callback(void *userdata, std::uint8_t *stream, int length);

    bool subsystem_ = false;
    std::uint32_t device_ = 0;
    AudioSource *source_ = nullptr;
    int channels_ = 0;
};
