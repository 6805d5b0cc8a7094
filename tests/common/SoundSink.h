#pragma once

// A private PulseAudio server with one null sink, and parec recording the sink's monitor in real
// time. What the sink plays is what a recorder on the sound card's output hears. Every chunk parec
// delivers is stamped on the steady clock as it arrives, so the sound can be placed on the same
// timeline as the bytes on the serial line.
//
// The server runs as root or not, with its runtime folder in a temporary directory, no system
// service and no D-Bus. Programs reach it through SDL's pulseaudio driver and PULSE_SERVER.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class SoundSink {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int Rate = 48000;

    SoundSink();
    ~SoundSink();
    SoundSink(const SoundSink &) = delete;
    SoundSink &operator=(const SoundSink &) = delete;

    // Whether pulseaudio and parec are installed; tests skip their sink checks without them.
    static bool Available();
    // Starts the server and the capture; false, with the reason, when either cannot start.
    bool Start(std::string *error);
    // "unix:<socket>", the value for PULSE_SERVER.
    std::string Server() const;
    // Points SDL in this process, and the programs it starts from now on, at the sink.
    void UseForSdl() const;

    // Mono 16-bit frames captured so far.
    std::vector<std::int16_t> Samples() const;
    std::int64_t FrameCount() const;
    // When a captured frame was played at the sink, on the steady clock. The frames are evenly
    // spaced at Rate; the timeline is placed by the earliest arrival seen relative to the frames
    // it carried, since a chunk can arrive late but never before it was played.
    Clock::time_point FrameTime(std::int64_t frame) const;
    // The first frame at or after `from` whose magnitude exceeds the threshold, or the last such
    // frame before `end` (end < 0: all frames captured so far).
    std::optional<std::int64_t> FirstSound(int threshold, std::int64_t from = 0) const;
    std::optional<std::int64_t> LastSound(int threshold, std::int64_t from = 0, std::int64_t end = -1) const;
    // Waits until the capture holds what the sink played up to `moment`.
    bool WaitUntilCaptured(Clock::time_point moment, std::chrono::milliseconds timeout) const;

private:
    void stop();
    void readCapture(int fd);

    std::string folder_;
    pid_t server_ = -1;
    pid_t capture_ = -1;
    std::thread reader_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;  // guards samples_ and origin_
    std::vector<std::int16_t> samples_;
    std::optional<Clock::time_point> origin_;  // the moment frame 0 was played
};
