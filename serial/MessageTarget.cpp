#include "serial/MessageTarget.h"

#include "base/ExceptionSink.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// Qt's event queue synchronises with a lock the thread sanitizer cannot see; the hand-off of
// a call to another thread is told to it here.
#if defined(__SANITIZE_THREAD__)
void HandOver(const void *call) { __tsan_release(const_cast<void *>(call)); }
void TakeOver(const void *call) { __tsan_acquire(const_cast<void *>(call)); }
#else
void HandOver(const void *) {}
void TakeOver(const void *) {}
#endif

bool OnMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

struct CallRecord {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
};

// A call handed to a target's thread: sent (someone waits for it) or posted.
class CallEvent : public QEvent {
public:
    CallEvent(Type type, std::function<void()> call, std::shared_ptr<CallRecord> record)
        : QEvent(type),
          Call(std::move(call)),
          Record(std::move(record))
    {}
    ~CallEvent() override { Finish(); }

    void Finish()
    {
        if (!Record)
            return;
        {
            std::lock_guard guard(Record->lock);
            Record->done = true;
        }
        Record->finished.notify_all();
        Record.reset();
    }

    std::function<void()> Call;
    std::shared_ptr<CallRecord> Record;
};

QEvent::Type SentCallType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type PostedCallType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
} // namespace

bool MessageTarget::event(QEvent *event)
{
    TakeOver(event);
    if (event->type() != SentCallType() && event->type() != PostedCallType())
        return QObject::event(event);
    auto *call = static_cast<CallEvent *>(event);
    if (call->Call)
        RunAtBoundary(call->Call);
    call->Finish();
    return true;
}

bool SendToTarget(MessageTarget *target, std::function<void()> call, int timeoutMs)
{
    if (!target)
        return false;
    if (QThread::currentThread() == target->thread()) {
        call();
        return true;
    }
    auto record = std::make_shared<CallRecord>();
    auto *event = new CallEvent(SentCallType(), std::move(call), record);
    HandOver(event);
    QCoreApplication::postEvent(target, event);
    std::unique_lock guard(record->lock);
    if (timeoutMs < 0) {
        record->finished.wait(guard, [&] { return record->done; });
        return true;
    }
    return record->finished.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return record->done; });
}

void PostToTarget(MessageTarget *target, std::function<void()> call)
{
    if (!target)
        return;
    auto *event = new CallEvent(PostedCallType(), std::move(call), nullptr);
    HandOver(event);
    QCoreApplication::postEvent(target, event);
}

void HandleSentCalls()
{
    if (OnMainThread())
        QCoreApplication::sendPostedEvents(nullptr, SentCallType());
}
