#pragma once

#include <array>
#include <chrono>
#include <cstdint>

// How much of the sound handed to an output has left it, at any moment. The sound library tells
// nothing of what its driver and the sound server still hold, only when the output asks for more.
// So the frames handed are counted as played at the output's rate as time passes, bounded by
// what each request says: when the output asks for the buffer starting at frame `first`, it is
// taken to hold at least heldMin frames of what came before, and at most heldMax. The tightest
// bound of the recent requests sets the count: one of them came while the output held little
// more than heldMin, so the count does not run ahead of the sound; older ones are let go, so
// that a sound card whose clock runs a little fast does not leave the count further behind with
// every second. A request that comes late (the machine was busy and the output ran dry) holds
// the count back. The count never decreases.
class OutputClock {
public:
    using Clock = std::chrono::steady_clock;

    OutputClock() = default;
    OutputClock(int rate, std::int64_t heldMin, std::int64_t heldMax);

    // The output asked at `when` for `frames` frames starting at output frame `first`; each
    // request follows on from the one before.
    void Pulled(Clock::time_point when, std::int64_t first, std::int64_t frames);
    // The output frames played by `when` (at or after the latest request): negative before the
    // first frame has been played.
    std::int64_t Played(Clock::time_point when) const;

private:
    std::int64_t FramesIn(Clock::duration span) const;

    // Requests whose bounds still count.
    static constexpr std::size_t recent = 32;

    int rate_ = 0;
    std::int64_t heldMin_ = 0;
    std::int64_t heldMax_ = 0;
    std::array<std::pair<Clock::time_point, std::int64_t>, recent> requests_{};
    std::size_t requestCount_ = 0;
    bool started_ = false;
    Clock::time_point baseTime_{};
    std::int64_t base_ = -1; // frames played at baseTime_
    std::int64_t cap_ = -1;  // no more than this until the next request
};
