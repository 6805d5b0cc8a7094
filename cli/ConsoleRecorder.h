#pragma once

#include "app/TForm1.h"
#include "app/TimerAdapter.h"
#include "base/TerminationSignals.h"
#include "cli/ConsoleParts.h"
#include "cli/ConsolePlayer.h"
#include "cli/PortFanOut.h"
#include "cli/ProgressReport.h"

#include <QTimer>

// The recording controller driven from the command line: the same handlers as the window's
// buttons, on the same kinds of parts, with the ports named on the command line and the file
// given instead of chosen. Each run returns the program's exit status.
class ConsoleRecorder {
public:
    ConsoleRecorder(const QList<PortArgument> &ports, ProgressReport &report);
    ~ConsoleRecorder();

    // Opens the file and the sound output, then the ports; sends REC1 or REC2, plays the file and
    // stops as the window does; Ctrl-C or SIGTERM stops it on the way out.
    int Record(int channel, const QString &file);
    int Erase();
    int Stop();

private:
    // Runs a handler; false when it raised (the failure is reported).
    bool run(void (TForm1::*handler)());
    // Opens the ports; false when the command cannot go on (no port, or a signal came).
    bool openPorts();
    bool interrupted();
    int exitStatus() const;
    int sendOnly(void (TForm1::*handler)(), const char *command);

    // Declared first, so that signals stay caught until the ports have let their output go.
    TerminationSignals termination_;
    ProgressReport &report_;
    PortFanOut ports_;
    ConsolePlayer player_;
    ProgressDisplay display_;
    ProgressGauge gauge1_;
    ProgressGauge gauge2_;
    QuietLabel recGsm1_;
    QuietLabel recGsm2_;
    QuietLabel fname_;
    QuietLabel labelLength_;
    NoPanel panel_;
    NoPicture picture_;
    NoWindow window_;
    ConsolePlatform platform_;
    FileArgument file_;
    QTimer timer_;
    TimerAdapter timerOps_;
    std::unique_ptr<TForm1> form_;
    QStringList sentTo_;
    bool failed_ = false;
};
