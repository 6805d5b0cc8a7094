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
