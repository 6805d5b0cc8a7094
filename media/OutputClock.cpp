#include "media/OutputClock.h"

#include <algorithm>

OutputClock::OutputClock(int rate, std::int64_t heldMin, std::int64_t heldMax)
    : rate_(rate),
      heldMin_(heldMin),
      heldMax_(std::max(heldMin, heldMax))
{}

void OutputClock::Pulled(Clock::time_point when, std::int64_t first, std::int64_t frames)
{
    const std::int64_t counted = Played(when);
    requests_[requestCount_++ % recent] = {when, first};
    // The tightest bound of the recent requests, carried forward to now at the output's rate.
    std::int64_t bound = first - heldMin_;
    for (std::size_t i = 0; i < std::min(requestCount_, recent); ++i) {
        const auto &[time, start] = requests_[i];
        bound = std::min(bound, start - heldMin_ + FramesIn(when - time));
    }
    // The count does not go back, and cannot be less than the output must have played by now.
    base_ = std::max(bound, first - heldMax_);
    if (started_)
        base_ = std::max(base_, counted);
    baseTime_ = when;
    cap_ = std::max(base_, first + frames - heldMin_);
    started_ = true;
}

std::int64_t OutputClock::Played(Clock::time_point when) const
{
    if (!started_)
        return -1;
    return std::min(base_ + FramesIn(when - baseTime_), cap_);
}

std::int64_t OutputClock::FramesIn(Clock::duration span) const
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(span).count();
    if (elapsed <= 0)
        return 0;
    constexpr std::int64_t second = 1000000000;
    return elapsed / second * rate_ + elapsed % second * rate_ / second;
}
