#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <initializer_list>
#include <memory>
#include <vector>

// Turns SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1 and SIGUSR2, and every other signal that would
// end the process without a core where nobody else handles or ignores it (SIGALRM, SIGPIPE,
// SIGPROF, the real-time signals, ...), into a Qt signal on the thread that created this object,
// so a program can stop what it drives (a device that records, for one) before it ends. While an
// object exists, those signals no longer end the process by themselves.
// Ctrl-Z (SIGTSTP) becomes Suspending when a receiver is connected, which stops the process
// with Suspend once it is ready; without one the process stops at once, as it always did. One
// object at a time.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // The first termination signal received, or 0.
    int Received() const { return received_; }

    // Stops the process as Ctrl-Z would, and returns when it is continued (fg, SIGCONT); then
    // Continued is emitted.
    void Suspend();

signals:
    void Arrived(int signalNumber);
    void Suspending();
    void Continued();

private:
    void readPipe();

    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
    // The signals this object handles, to give back as it found them.
    std::vector<int> taken_;
};
