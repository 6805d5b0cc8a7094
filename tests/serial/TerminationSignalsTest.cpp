#include "base/TerminationSignals.h"
#include "tests/serial/SerialTestSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// Every signal that ends a program from outside lets it stop the device first.
TEST(TerminationSignals, QuitAndTheUserSignalsArriveLikeTheOthers)
{
    TerminationSignals termination;
    QSignalSpy arrived(&termination, &TerminationSignals::Arrived);
    const int endings[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGUSR1,   SIGUSR2,   SIGALRM,
                           SIGPIPE, SIGPROF, SIGIO,  SIGPWR,  SIGSTKFLT, SIGVTALRM, SIGRTMIN + 3};
    for (int signalNumber : endings) {
        arrived.clear();
        ::raise(signalNumber);
        ASSERT_TRUE(WaitFor([&] { return arrived.count() == 1; }, 5000)) << signalNumber;
        EXPECT_EQ(arrived.at(0).at(0).toInt(), signalNumber);
    }
    EXPECT_EQ(termination.Received(), SIGINT);
}

// Ctrl-Z in a child: with a receiver it hears of it first and stops the process itself; without
// one the process stops at once. Either way SIGCONT continues it.
TEST(TerminationSignals, CtrlZStopsTheProcessAfterTheReceiverHadItsSay)
{
    for (bool receiver : {true, false}) {
        SCOPED_TRACE(receiver);
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        if (child == 0) {
            auto say = [&](char c) { [[maybe_unused]] ssize_t n = write(report[1], &c, 1); };
            TerminationSignals termination;
            if (receiver)
                QObject::connect(&termination, &TerminationSignals::Suspending, [&] {
                    say('S');
                    termination.Suspend();
                });
            QObject::connect(&termination, &TerminationSignals::Continued, [&] { say('C'); });
            QObject::connect(&termination, &TerminationSignals::Arrived, [&] { _exit(0); });
            say('R');
            WaitFor([] { return false; }, 20000);
            _exit(1);
        }
        close(report[1]);
        char c = 0;
        ASSERT_TRUE(read(report[0], &c, 1) == 1 && c == 'R');
        int status = 0;
        kill(child, SIGTSTP);
        ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
        EXPECT_TRUE(WIFSTOPPED(status));
        kill(child, SIGCONT);
        kill(child, SIGTERM);
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        std::string said;
        while (read(report[0], &c, 1) == 1)
            said += c;
        close(report[0]);
        EXPECT_EQ(said, receiver ? "SC" : "C");
    }
}

} // namespace
