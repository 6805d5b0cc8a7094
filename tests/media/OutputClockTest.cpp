#include "media/OutputClock.h"
#include "media/StreamClock.h"

#include <gtest/gtest.h>

namespace {

using Clock = OutputClock::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int rate = 48000;
constexpr int buffer = 480; // 10 ms

// An output whose driver asks for a buffer every 10 ms and plays what it got one buffer later.
struct Output {
    explicit Output(std::int64_t heldMin = buffer, std::int64_t heldMax = 2 * buffer) : clock(rate, heldMin, heldMax) {}
    // The next request, `late` after it was due.
    Clock::time_point Request(Clock::duration late = {})
    {
        due += late;
        const Clock::time_point when = due;
        clock.Pulled(when, pulled, buffer);
        pulled += buffer;
        due += milliseconds(10);
        return when;
    }
    OutputClock clock;
    Clock::time_point due = Clock::time_point(std::chrono::seconds(100));
    std::int64_t pulled = 0;
};

TEST(OutputClockTest, CountsAtTheRateBehindWhatTheOutputStillHolds)
{
    Output output;
    EXPECT_LT(output.clock.Played(output.due), 0); // nothing asked for yet
    const Clock::time_point start = output.Request();
    // The first buffer is taken to be played once the one the output holds has been.
    EXPECT_EQ(output.clock.Played(start), -buffer);
    EXPECT_EQ(output.clock.Played(start + milliseconds(5)), -buffer / 2);
    EXPECT_EQ(output.clock.Played(start + milliseconds(10)), 0);
    for (int i = 0; i < 50; ++i)
        output.Request();
    // 50 buffers later the count, at the output's rate, runs behind the buffer just handed and
    // the one the output holds.
    const Clock::time_point last = output.due - milliseconds(10);
    EXPECT_EQ(output.clock.Played(last), 50 * buffer - buffer);
    EXPECT_EQ(output.clock.Played(last + microseconds(2500)), 50 * buffer - buffer + 120);
}

TEST(OutputClockTest, NeverCountsMoreThanTheOutputCanHavePlayed)
{
    Output output;
    for (int i = 0; i < 10; ++i)
        output.Request();
    const std::int64_t handed = output.pulled;
    // The output stops asking (the machine is busy, or the server stalled): the count stops at
    // what was handed less what the output held at its last request, however long it waits.
    const Clock::time_point later = output.due + std::chrono::seconds(5);
    EXPECT_EQ(output.clock.Played(later), handed - buffer);
    // When it asks again, it starts from there: the time it waited was not played.
    const std::int64_t before = output.clock.Played(later);
    const Clock::time_point resumed = output.Request(std::chrono::seconds(5));
    EXPECT_EQ(output.clock.Played(resumed), before);
    EXPECT_EQ(output.clock.Played(resumed + milliseconds(5)), before + 240);
}

TEST(OutputClockTest, NeverGoesBack)
{
    Output output;
    std::int64_t last = -buffer;
    // Requests early and late by up to 4 ms around their due time; the count is read every
    // 0.5 ms in between.
    const auto jitter = [](int i) { return microseconds((i * 7919) % 8000 - 4000); };
    Clock::time_point when = output.Request(jitter(0));
    output.due -= jitter(0);
    for (int i = 1; i < 400; ++i) {
        const Clock::time_point next = output.due + jitter(i);
        for (Clock::time_point t = when; t < next; t += microseconds(500)) {
            const std::int64_t played = output.clock.Played(t);
            ASSERT_GE(played, last) << i;
            last = played;
        }
        when = output.Request(jitter(i));
        output.due -= jitter(i);
    }
}

// A count that fell behind (a request that came when the output held next to nothing) catches
// up once the recent requests no longer say it must stay there.
TEST(OutputClockTest, TheTightestRecentRequestSetsTheCount)
{
    Output output(buffer / 2, 2 * buffer);
    for (int i = 0; i < 40; ++i)
        output.Request();
    const Clock::time_point steady = output.due - milliseconds(10);
    const std::int64_t behindSteady = output.pulled - output.clock.Played(steady);
    // One request 4 ms late: the output held 4 ms less then, so the count drops behind by that.
    output.Request(milliseconds(4));
    output.due -= milliseconds(4);
    for (int i = 0; i < 8; ++i)
        output.Request();
    Clock::time_point now = output.due - milliseconds(10);
    EXPECT_EQ(output.pulled - output.clock.Played(now), behindSteady + 192);
    // Once that request is old, the count is set by the others again.
    for (int i = 0; i < 40; ++i)
        output.Request();
    now = output.due - milliseconds(10);
    EXPECT_EQ(output.pulled - output.clock.Played(now), behindSteady);
}

// A sound card whose clock runs 0.1 % fast takes the buffers a little sooner each time: the
// count follows it instead of falling further behind with every second.
TEST(OutputClockTest, FollowsAnOutputThatRunsALittleFast)
{
    Output output;
    Clock::time_point when{};
    for (int i = 0; i < 1000; ++i) // ten seconds
        when = output.Request(-microseconds(10));
    const std::int64_t behind = output.pulled - output.clock.Played(when);
    EXPECT_LE(behind, 2 * buffer + 48); // the buffer just handed, the one held, and 1 ms
    EXPECT_GE(behind, 2 * buffer);
}

// An output that holds nothing once it has taken a buffer (a file, or the silent output) is
// counted exactly: what it took is played over the time of the buffer.
TEST(OutputClockTest, AnOutputThatHoldsNothingIsCountedExactly)
{
    Output output(0, 0);
    output.Request();
    for (int i = 0; i < 20; ++i) {
        const Clock::time_point when = output.Request();
        EXPECT_EQ(output.clock.Played(when), output.pulled - buffer);
        EXPECT_EQ(output.clock.Played(when + milliseconds(10)), output.pulled);
        EXPECT_EQ(output.clock.Played(when + milliseconds(30)), output.pulled);
    }
}

} // namespace

// A sound server's account of a stream: it has read `read` frames and holds `held` of them
// before the sink. Only what it no longer holds has been played, and between its reports the
// count runs on at the rate, no further than what was written nor than `reach` past the report.
TEST(StreamClockTest, CountsWhatTheServerNoLongerHolds)
{
    const Clock::time_point t0(std::chrono::seconds(100));
    struct Row {
        const char *what;
        std::int64_t read, held;
        bool playing;
        std::int64_t written;
        Clock::duration after;
        std::int64_t played;
    };
    const Row rows[] = {
        {"at the report: what was read less what is held", 9600, 4096, true, 14400, {}, 5504},
        {"10 ms on at the rate", 9600, 4096, true, 14400, milliseconds(10), 5504 + 480},
        {"no further than `reach` past the report", 9600, 4096, true, 14400, milliseconds(500), 5504 + 2400},
        {"no further than what was written", 9600, 4096, true, 6000, milliseconds(40), 6000},
        {"not on while the stream does not play", 9600, 4096, false, 14400, milliseconds(30), 5504},
        {"nothing before the first frame", 2048, 4096, true, 14400, {}, 0},
    };
    for (const Row &row : rows) {
        StreamClock clock(rate, milliseconds(50));
        clock.Written(row.written);
        clock.Reported(t0, row.read, row.held, row.playing);
        EXPECT_EQ(clock.Played(t0 + row.after), row.played) << row.what;
    }
}

TEST(StreamClockTest, HaltsWhenTheStreamRunsDryAndNeverGoesBack)
{
    const Clock::time_point t0(std::chrono::seconds(100));
    StreamClock clock(rate, milliseconds(50));
    clock.Written(48000);
    clock.Reported(t0, 9600, 960, true);
    // The server says the stream ran dry 10 ms on: the count stays there until it reports again.
    clock.Halted(t0 + milliseconds(10));
    EXPECT_EQ(clock.Played(t0 + milliseconds(30)), 8640 + 480);
    // A later report that counts less (it was on its way when the count ran on) takes nothing back.
    clock.Reported(t0 + milliseconds(31), 9600, 960, true);
    EXPECT_EQ(clock.Played(t0 + milliseconds(31)), 8640 + 480);
    EXPECT_EQ(clock.Played(t0 + milliseconds(41)), 8640 + 480);
    EXPECT_EQ(clock.Played(t0 + milliseconds(51)), 8640 + 960);
}
