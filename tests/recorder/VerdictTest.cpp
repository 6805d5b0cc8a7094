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
}

// Each way a recording ends, in the order of StopReason: the word scripts and the history read,
// whether it is whole, and its exit status (128: by the signal's number); the texts are held by
// the results the faces print.
TEST(Verdict, EveryEndingHasItsWordAndStatus)
{
    std::string words, whole, statuses;
    for (std::size_t i = 0; i < Verdict::Endings().size(); ++i) {
        const Verdict::Ending &ending = Verdict::EndingOf(StopReason(i));
        EXPECT_EQ(&ending, &Verdict::Endings()[i]);
        words += std::string(i ? " " : "") + ending.word;
        whole += ending.whole ? '1' : '0';
        statuses += std::string(i ? " " : "") + std::to_string(ending.exitStatus);
    }
    EXPECT_EQ(words, "end limit stopped interrupted interrupted suspended output-lost damaged-file disconnected paused "
                     "silent-output play-failed output-moved output-muted output-turned-down server-stalled");
    EXPECT_EQ(whole, "1110000000000000");
    EXPECT_EQ(statuses, "0 0 0 0 128 1 1 1 1 1 1 1 1 1 1 1");
    EXPECT_STREQ(Verdict::EndingOf(StopReason::FileEnd).text, "stopped at the end of the file");
    EXPECT_EQ(Verdict::ExitStatus(false), 0);
    EXPECT_EQ(Verdict::ExitStatus(true), 1);
    EXPECT_EQ(Verdict::ExitStatus(true, 15), 143);
}

} // namespace
