#pragma once

#include "media/MciDefs.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// What the output pulls sound from. Render runs on the output's own thread (or, to fill an output
// before it starts, on the thread that primes it) and must fill all frames (silence where there
// is no sound); it never waits for the GUI thread. `first` counts the frames the output took
// before this buffer, `when` is the moment it asked for this one.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual void Render(float *out, int frames, std::int64_t first, std::chrono::steady_clock::time_point when) = 0;
    // The output is gone (its server ended or dropped the stream, its device was removed): of
    // what it took, `played` frames were played, and no more will be. Called once, on the
    // output's thread, with the output's lock held.
    virtual void OutputLost(std::int64_t played) = 0;
    // The output can still replace the frames it took from `from` to `to`: the source fills `out`
    // with them falling silent from `from` on and returns true, or returns false to leave them.
    // Called with the output's lock held.
    virtual bool TakeBack(std::int64_t from, std::int64_t to, float *out) = 0;
    // The frames of sound still to hand; after them the source renders silence. Called with the
    // output's lock held.
    virtual std::int64_t SoundLeft() = 0;
};

// One sound output fed with interleaved float frames at the source's rate and channel count. At a
// sound server that speaks the PulseAudio protocol (PulseAudio itself, PipeWire's pipewire-pulse)
// it is a stream of the server's, whose own account of what it has played sets the count; else an
// SDL audio device, or a silent output of our own that keeps real time. An output that can wait
// does not play until Start: what it is handed before then is heard from the moment it starts.
class AudioOutput {
public:
    using Clock = std::chrono::steady_clock;

    // What the output takes. SDL plays at most 8 channels; a buffer at a rate below the lowest
    // would last long enough to hold up closing for seconds (256 s at 1 Hz).
    static constexpr int maxChannels = 8;
    static constexpr int minRate = 1000;
    static constexpr int maxRate = 384000;
    // The most sound an output holds ahead: a whole prompt (what the device keeps, and a little
    // more) and its own latency. Handed all at once before it starts, it plays whole however
    // long this process is kept from running.
    static constexpr int holdsAtMostMs = 11000;

    // 0 when the output can play sound of this rate and channel count, else the code that says
    // which of them it cannot.
    static MCIERROR Supports(int rate, int channels);

    // Opens an output on the named sink of the sound server (empty: its default).
    static MCIERROR Open(int rate, int channels, AudioSource &source, std::unique_ptr<AudioOutput> &output,
                         const std::string &sink = {});
    virtual ~AudioOutput() = default;

    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // Fills the output with as much sound as it holds, to be heard from Start on. Never called
    // with a Lock held.
    virtual void Prime() {}
    // Starts playing (primed first, if it was not). Never called with a Lock held.
    virtual void Start() {}
    // Lets the source fade out what the output holds but has not yet played (TakeBack), where the
    // output can still replace it; the sound then falls silent within milliseconds instead of
    // once all that was handed has played. Never called with a Lock held.
    virtual void FadeHeldSound() {}
    // Whether the output can wait for Start (else it plays from its opening on), and whether it
    // plays what it is handed (it started, or it cannot wait).
    virtual bool Waits() const { return false; }
    virtual bool Started() const { return true; }
    // The output frames played by `now`: negative or 0 before the first frame has been played.
    virtual std::int64_t Played(Clock::time_point now) const = 0;
    // Whether the output has gone; it plays nothing more.
    virtual bool Lost() const = 0;

    // While a Lock lives, Render is not running and will not start.
    class Lock {
    public:
        explicit Lock(AudioOutput &output) : lock_(output.mutex_) {}

    private:
        std::unique_lock<std::mutex> lock_;
    };

protected:
    AudioOutput() = default;
    std::mutex mutex_; // held while the source renders
};
