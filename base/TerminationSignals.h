#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <initializer_list>
#include <memory>

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the thread that created this object, so a
// program can stop what it drives (a device that records, for one) before it ends. While an
// object exists, those signals no longer end the process by themselves. One object at a time.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // The first signal received, or 0.
    int Received() const { return received_; }

signals:
    void Arrived(int signalNumber);

private:
    void readPipe();

    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};
