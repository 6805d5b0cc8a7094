#pragma once

#include <chrono>
#include <cstdint>

// How much of a stream a sound server has played, from the server's own account of it: at each
// report, the frames it has taken from the stream (its read index) less those it still holds on
// their way to the sink (its latency). Between reports the count runs on at the stream's rate
// while the server said the stream was playing, but never past the frames written to it, and
// never further than `reach` past the latest report: a server that stops answering (stalled,
// stopped, or gone) stops the count instead of letting it run ahead of the sound. The count
// never decreases.
class StreamClock {
public:
    using Clock = std::chrono::steady_clock;

    StreamClock() = default;
    StreamClock(int rate, Clock::duration reach) : rate_(rate), reach_(reach) {}

    // The server's report, current at `when`: frames read from the stream, frames of those not
    // yet played, and whether the stream is playing (not corked, not run dry).
    void Reported(Clock::time_point when, std::int64_t read, std::int64_t held, bool playing);
    // Frames written to the stream so far.
    void Written(std::int64_t frames) { written_ = frames; }
    // The stream ran dry or stopped: no counting on until the next report.
    void Halted(Clock::time_point when);
    // Frames played by `when`; negative or 0 before the first frame has been played.
    std::int64_t Played(Clock::time_point when) const;

private:
    std::int64_t FramesIn(Clock::duration span) const;

    int rate_ = 0;
    Clock::duration reach_{};
    Clock::time_point reportTime_{};
    std::int64_t reported_ = 0;
    bool playing_ = false;
    std::int64_t written_ = 0;
    mutable std::int64_t last_ = 0; // the highest count given, so that it never goes back
};
