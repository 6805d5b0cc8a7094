#pragma once

#include "base/TerminationSignals.h"
#include "cli/ConsoleParts.h"
#include "cli/ConsolePlayer.h"
#include "cli/PortFanOut.h"
#include "cli/ProgressReport.h"
#include "media/OutputWatch.h"
#include "recorder/OutputPart.h"
#include "recorder/Recorder.h"
#include "recorder/TimerAdapter.h"

#include <QTimer>
#include <functional>

// The recorder driven from the command line: the same verbs as the window's buttons, on the same
// kinds of parts, with the ports named on the command line and the file given instead of chosen.
// Each run returns the program's exit status.
class ConsoleRecorder {
public:
    // The sound output of a recording: the operator's choice (empty: the default), whether to
    // record onto one that would not be heard, and the lowest volume it may be turned down to.
    struct OutputChoice {
        std::string name;
        bool force = false;
        double minimumDb = Verdict::DefaultMinimumVolumeDb;
    };

    ConsoleRecorder(const QList<PortArgument> &ports, ProgressReport &report);
    ~ConsoleRecorder();

    // Finds the sound output (a choice that fits none or several is a usage error), opens the
    // file (its path byte for byte) on it, then the ports; sends REC1 or REC2, plays the file
    // while listening to the output and stops as the window does; a termination signal stops it
    // on the way out, Ctrl-Z before the program stops. The recording goes into the history.
    int Record(int channel, const std::string &file, const OutputChoice &output);
    int Erase();
    int Stop();

private:
    // Runs a verb of the recorder; false when it raised (the failure is reported, after the
    // subject it concerns, if any).
    bool run(const std::function<void()> &verb, const QString &subject = QString());
    // Opens the ports; false when the command cannot go on (no port, or a signal came).
    bool openPorts();
    bool interrupted();
    int exitStatus() const;
    void paceTicks();
    int sendOnly(const std::function<void()> &verb, DeviceCommand command);
    void reportHeard(const RecordingEnd &end);
    void keepHistory(const RecordingEnd &end);

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
    ConsolePlatform platform_;
    OutputWatch watch_;
    OutputPart output_;
    QList<PortArgument> portArguments_;
    QTimer timer_;
    TimerAdapter timerOps_;
    Recorder recorder_;
    // The ports the record command reached, and of those the ones that REC reached too.
    QStringList recordingOn_;
    QStringList recordedOn_;
    bool failed_ = false;
};
