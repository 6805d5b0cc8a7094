#pragma once

// A private sound server with one null sink, and parec recording the sink's monitor in real time.
// What the sink plays is what a recorder on the sound card's output hears. Every chunk parec
// delivers is stamped on the steady clock as it arrives, so the sound can be placed on the same
// timeline as the bytes on the serial line.
//
// The server is PulseAudio, or PipeWire with its session manager and its PulseAudio side, as
// TAMBLO_TEST_SERVER says (pulseaudio or pipewire; pulseaudio when unset). It runs as root or not,
// with its runtime folder in a temporary directory and no system service (PipeWire gets a private
// session bus). Programs reach it through PULSE_SERVER.

#include <sys/types.h>
#include <time.h>

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

    enum class ServerKind { PulseAudio, PipeWire };
    struct Options {
        // A PulseAudio null sink that renders far ahead and rewinds, as it does by default, and as
        // a sink that cannot rewind behaves; else one that renders just in time.
        bool rendersAhead = false;
        // What the capture asks of the monitor. At PipeWire 2 ms sets the whole graph to its
        // 5.3 ms floor, which a machine with both cores busy misses now and then for every
        // client: a test of gaps asks for a cycle of PipeWire's usual size instead.
        int captureLatencyMs = 2;
    };

    SoundSink();
    ~SoundSink();
    SoundSink(const SoundSink &) = delete;
    SoundSink &operator=(const SoundSink &) = delete;

    // The server chosen by TAMBLO_TEST_SERVER, and its name there.
    static ServerKind Chosen();
    static const char *Name(ServerKind server);
    // Whether the chosen server's programs and parec are installed; tests skip their sink checks
    // without them, with Missing() as the reason.
    static bool Available();
    static std::string Missing();
    // Starts the server and the capture; false, with the reason, when either cannot start.
    bool Start(std::string *error, Options options);
    bool Start(std::string *error) { return Start(error, Options()); }
    ServerKind Kind() const { return server_; }
    // Makes the server work in periods of this many frames (PipeWire's forced quantum; 0 lets it
    // choose again). False where the server has no such setting.
    bool ForceQuantum(int frames);
    // Kills the server at once, as a crash would; the capture ends with it.
    void KillServer();
    // Stops the server's process (SIGSTOP), or continues it: a server that stalls on a busy
    // machine, or under a debugger.
    void FreezeServer(bool frozen);
    // Removes the null sink, the server's only one.
    bool RemoveSink();
    // The environment its client programs run in: ours, pointed at the server.
    std::vector<std::string> Environment() const;
    // "unix:<socket>", the value for PULSE_SERVER.
    std::string Server() const;
    // Points SDL in this process, and the programs it starts from now on, at the sink.
    void UseForSdl() const;

    // Mono 16-bit frames captured so far.
    std::vector<std::int16_t> Samples() const;
    std::int64_t FrameCount() const;
    // When a captured frame was played at the sink, on the steady clock. A chunk can arrive late
    // but never before its frames were played, so each frame is placed by the chunks that arrived
    // soonest after it, counting back at Rate from their arrival.
    Clock::time_point FrameTime(std::int64_t frame) const;
    // The first frame at or after `from` whose magnitude exceeds the threshold, or the last such
    // frame before `end` (end < 0: all frames captured so far).
    std::optional<std::int64_t> FirstSound(int threshold, std::int64_t from = 0) const;
    std::optional<std::int64_t> LastSound(int threshold, std::int64_t from = 0, std::int64_t end = -1) const;
    // Waits until the capture holds what the sink played up to `moment`.
    bool WaitUntilCaptured(Clock::time_point moment, std::chrono::milliseconds timeout) const;
    // The capture's own delay: for every chunk parec delivered, how long after its last frame was
    // played it arrived, in milliseconds, sorted. This is what the placement of frames takes out.
    std::vector<double> CaptureLagsMs() const;
    // The CPU time the capture has taken in this process, so that figures can leave it out.
    double CaptureCpuSeconds() const;

private:
    void stop();
    bool startPulseAudio(const Options &options, std::string *error);
    bool startPipeWire(std::string *error);
    // Runs a client program of the server to its end; true when it succeeded.
    bool run(const std::vector<std::string> &argv) const;
    void readCapture(int fd);
    Clock::time_point frameTimeLocked(std::int64_t frame) const;

    ServerKind server_ = ServerKind::PulseAudio;
    std::string folder_;
    int logFd_ = -1;
    std::vector<pid_t> daemons_; // the server's processes, in the order they started
    pid_t capture_ = -1;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
    std::atomic<clockid_t> readerClock_{};
    std::atomic<bool> readerClockSet_{false};

    mutable std::mutex mutex_; // guards samples_ and chunks_
    std::vector<std::int16_t> samples_;
    // For every chunk: the frames captured up to its end, and its arrival.
    std::vector<std::pair<std::int64_t, Clock::time_point>> chunks_;
};
