#include "media/StreamClock.h"

#include <algorithm>

void StreamClock::Reported(Clock::time_point when, std::int64_t read, std::int64_t held, bool playing)
{
    reportTime_ = when;
    reported_ = read - held;
    playing_ = playing;
}

void StreamClock::Halted(Clock::time_point when)
{
    reported_ = Played(when);
    reportTime_ = when;
    playing_ = false;
}

std::int64_t StreamClock::Played(Clock::time_point when) const
{
    std::int64_t played = reported_;
    if (playing_)
        played += FramesIn(std::min(when - reportTime_, reach_));
    played = std::min(played, written_);
    last_ = std::max(last_, played);
    return last_;
}

std::int64_t StreamClock::FramesIn(Clock::duration span) const
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(span).count();
    if (elapsed <= 0)
        return 0;
    constexpr std::int64_t second = 1000000000;
    return elapsed / second * rate_ + elapsed % second * rate_ / second;
}
