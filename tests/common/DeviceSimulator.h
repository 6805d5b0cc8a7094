#pragma once

// The device simulator (tools/devsim) as a child process, publishing its pseudo-terminal as COMn
// in a ports directory, and what it printed. Shared by the end-to-end tests, the command-line
// tests and the recording figures.

#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

// One line the simulator printed: its own clock in milliseconds, and the text.
struct DeviceLine {
    double ms = 0;
    QString text;
};

// A lock folder of this test process's own (TAMBLO_LOCK_DIR of the programs it starts), so that
// no test reads or writes the machine's /var/lock. Made at the first call, removed at exit.
QString PrivateLockDirectory();

class DeviceSimulator {
public:
    // Publishes COM`com` in `portsDirectory`, or in a fresh directory of its own when none is given.
    explicit DeviceSimulator(int com = 1, const QString &portsDirectory = QString());
    ~DeviceSimulator();

    bool Start(QString *error);
    QString PortsDirectory() const { return directory_; }
    QString PortPath() const { return directory_ + QStringLiteral("/COM") + QString::number(com_); }

    // Everything it printed so far, the first line (the port it published) excluded.
    std::vector<DeviceLine> Lines();
    // Just the commands it received, in order: "REC1", "REC", "ERASE", ...
    QStringList Commands();
    // Waits (running the event loop) until the command has arrived `count` times.
    bool WaitForCommand(const QString &command, int count, int timeoutMs);
    // Plays a line in trouble: SIGUSR1 stops the line taking data or starts it again, SIGUSR2
    // hangs it up. Waits until the simulator has said it did (`said`).
    bool Signal(int signalNumber, const QString &said);
    // A command's arrival on the test's steady clock.
    std::optional<std::chrono::steady_clock::time_point> Arrival(const QString &command, int occurrence);

private:
    // Lines complete so far, from pending_ into lines_.
    void readOutput();
    bool waitForOutput(int timeoutMs);
    // Appends what the simulator has printed since to pending_; false when there was nothing.
    bool takeOutput();

    int com_;
    QTemporaryDir ownPorts_;
    QString directory_;
    pid_t pid_ = -1;
    int output_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_; // reads on while the event loop runs
    QByteArray pending_;
    std::vector<DeviceLine> lines_;
    std::chrono::steady_clock::time_point started_;
};
