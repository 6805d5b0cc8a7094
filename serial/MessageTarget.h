#pragma once

#include <QObject>
#include <functional>

class QEvent;

// An object living on a thread (the main thread, for the serial link) that runs the calls which
// other threads hand it, in order. Notifications reach the port component through one of these.
class MessageTarget : public QObject {
public:
    using QObject::QObject;

protected:
    bool event(QEvent *event) override;
};

// Runs call on the target's thread and waits at most timeoutMs (negative: without limit) for it
// to finish; runs it at once when the caller is on that thread. True when it ran in time.
bool SendToTarget(MessageTarget *target, std::function<void()> call, int timeoutMs);
// Queues call for the target's thread and returns.
void PostToTarget(MessageTarget *target, std::function<void()> call);
// On the main thread, runs the calls that other threads are waiting for (and only those).
void HandleSentCalls();
