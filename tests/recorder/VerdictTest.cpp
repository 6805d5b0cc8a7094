#include "recorder/Verdict.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

// Every limit, a hair on either side of it: a limit moved either way fails a row.
TEST(Verdict, EachLimitHoldsFromBothSides)
{
    struct Row {
        const char *what;
        std::function<bool()> decision;
        bool expected;
    };
    const Row rows[] = {
        {"a level at the floor is sound", [] { return Verdict::IsSilent(-60.0); }, false},
        {"a level just below the floor is silence", [] { return Verdict::IsSilent(-60.01); }, true},
        {"-70 dBFS is silence", [] { return Verdict::IsSilent(-70.0); }, true},
        {"nothing at all is silence", [] { return Verdict::IsSilent(-INFINITY); }, true},
        {"a gap of 100 ms is within the tolerance", [] { return Verdict::Paused(3100, 3000); }, false},
        {"a gap of 101 ms is a pause", [] { return Verdict::Paused(3101, 3000); }, true},
        {"a device ahead of the sound is no pause", [] { return Verdict::Paused(2900, 3000); }, false},
        {"a gap the program's own standing still explains is the program's",
         [] { return Verdict::CauseOfPause(4000, 3000, 900) == Verdict::PauseCause::Program; }, true},
        {"a gap 101 ms longer than the program stood still is the server's",
         [] { return Verdict::CauseOfPause(4000, 3000, 899) == Verdict::PauseCause::Server; }, true},
        {"a gap while the program ran on is the server's",
         [] { return Verdict::CauseOfPause(3500, 3000, 0) == Verdict::PauseCause::Server; }, true},
        {"no gap has no cause", [] { return Verdict::CauseOfPause(3100, 3000, 0) == Verdict::PauseCause::None; }, true},
        {"a silence of 19 ms at the output is no hole", [] { return Verdict::Hole(19); }, false},
        {"a silence of 20 ms at the output is a hole", [] { return Verdict::Hole(20); }, true},
        {"a monitor quiet for 250 ms is no stalled server", [] { return Verdict::ServerSilent(250); }, false},
        {"a monitor quiet for 251 ms is a stalled server", [] { return Verdict::ServerSilent(251); }, true},
        {"an output at the limit is not turned down", [] { return Verdict::TurnedDown(-20.0, -20.0); }, false},
        {"an output a rounding below the limit is not turned down", [] { return Verdict::TurnedDown(-20.009, -20.0); },
         false},
        {"an output 0.02 dB below the limit is turned down", [] { return Verdict::TurnedDown(-20.02, -20.0); }, true},
        {"an output 3 dB below the limit is turned down", [] { return Verdict::TurnedDown(-23.0, -20.0); }, true},
        {"an operator's limit holds the same way", [] { return Verdict::TurnedDown(-30.5, -30.0); }, true},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.decision(), row.expected) << row.what;
    EXPECT_EQ(Verdict::DefaultMinimumVolumeDb, -20.0);
}

// Each way a recording ends, with the word scripts and the history read, the result's words,
// whether it is whole, and the exit status; no two share a word unless they mean the same.
TEST(Verdict, EveryEndingHasItsWordTextAndStatus)
{
    struct Row {
        StopReason reason;
        const char *word;
        const char *text;
        bool whole;
        int exitStatus;
    };
    const Row rows[] = {
        {StopReason::FileEnd, "end", "stopped at the end of the file", true, 0},
        {StopReason::Limit, "limit", "stopped at the 10 s limit", true, 0},
        {StopReason::Operator, "stopped", "stopped", true, 0},
        {StopReason::Exit, "interrupted", "stopped as the program ended", false, 0},
        {StopReason::Signal, "interrupted", "interrupted", false, 128},
        {StopReason::Suspend, "suspended", "stopped as the program was suspended", false, 1},
        {StopReason::OutputLost, "output-lost", "the sound output was lost", false, 1},
        {StopReason::FileDamaged, "damaged-file", "the sound file is damaged", false, 1},
        {StopReason::LineLost, "disconnected", "the recorder was disconnected", false, 1},
        {StopReason::Paused, "paused", "interrupted by a pause", false, 1},
        {StopReason::SilentOutput, "silent-output", "the output was silent", false, 1},
        {StopReason::PlayFailed, "play-failed", "the sound did not start", false, 1},
        {StopReason::OutputMoved, "output-moved", "the sound was moved to another output", false, 1},
        {StopReason::OutputMuted, "output-muted", "the output was muted", false, 1},
        {StopReason::OutputTurnedDown, "output-turned-down", "the output was turned down", false, 1},
        {StopReason::ServerStalled, "server-stalled", "the sound server stopped playing", false, 1},
    };
    ASSERT_EQ(Verdict::Endings().size(), std::size(rows));
    for (const Row &row : rows) {
        const Verdict::Ending &ending = Verdict::EndingOf(row.reason);
        SCOPED_TRACE(row.word);
        EXPECT_EQ(ending.reason, row.reason);
        EXPECT_STREQ(ending.word, row.word);
        EXPECT_STREQ(ending.text, row.text);
        EXPECT_EQ(ending.whole, row.whole);
        EXPECT_EQ(ending.exitStatus, row.exitStatus);
    }
    EXPECT_EQ(Verdict::ExitStatus(false), 0);
    EXPECT_EQ(Verdict::ExitStatus(true), 1);
    EXPECT_EQ(Verdict::ExitStatus(true, 15), 143);
    EXPECT_EQ(Verdict::ExitStatus(false, 1), 129);
}

} // namespace
