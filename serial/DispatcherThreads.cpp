#include "serial/DispatcherThreads.h"

#include "serial/Dispatcher.h"
#include "serial/SystemErrors.h"

#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Line events the comm thread waits for; older systems also knew a trailing-edge ring event.
constexpr std::uint32_t kLineEvents = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
constexpr bool kSystemKnowsTrailingRing = false;

// Niceness per step of the framework's priority scale.
constexpr int kNicePerLevel = 5;

// The dispatch thread's round period without events.
constexpr int kRoundMs = 50;

thread_local const TBaseDispatcher *workerOf = nullptr;

} // namespace

TDispatcherThread::TDispatcherThread(TBaseDispatcher &dispatcher) : Dispatcher(dispatcher) {}

TDispatcherThread::~TDispatcherThread()
{
    Join();
}

void TDispatcherThread::Start()
{
    thread_ = std::thread(&TDispatcherThread::Run, this);
}

void TDispatcherThread::Join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TDispatcherThread::SetPriorityLevel(int level)
{
    priorityLevel_.store(level);
    const pid_t id = threadId_.load();
    if (id != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(id), std::clamp(-level * kNicePerLevel, -20, 19));
}

bool TDispatcherThread::IsWorkerOf(const TBaseDispatcher &dispatcher)
{
    return workerOf == &dispatcher;
}

void TDispatcherThread::Run()
{
    workerOf = &Dispatcher;
    threadId_.store(gettid());
    if (priorityLevel_.load() != 0)
        SetPriorityLevel(priorityLevel_.load());
    try {
        Execute();
    } catch (...) {
        // A failure inside the loop ends the thread like a stop would; nothing reaches the
        // application from here.
    }
    Dispatcher.ThreadEnded(this);
}

void TComThread::Execute()
{
    TBaseDispatcher &d = Dispatcher;
    std::uint32_t mask = kSystemKnowsTrailingRing ? kLineEvents | EV_RINGTE : kLineEvents;
    d.DeviceSetMask(mask);
    d.AckSignal->Set();

    while (!d.StopRequested.load()) {
        std::uint32_t events = 0;
        const int result = d.DeviceWaitEvent(events);
        if (result != 0) {
            if (result == SystemError::InvalidParameter && (mask & EV_RINGTE) && !d.StopRequested.load()) {
                mask = kLineEvents;
                d.DeviceSetMask(mask);
                continue;
            }
            if (result == SystemError::FileNotFound && !d.StopRequested.load())
                d.DeviceGone.store(true);
            break;
        }
        d.EventMask.store(events);
        if (events & (EV_RING | EV_RINGTE))
            d.RingSeen.store(true);
        if (d.StopRequested.load())
            break;
        d.CommEventSignal->Set();
        d.DispatchDoneSignal->Wait(-1);
    }
    d.AckSignal->Set();
}

void TDispThread::Execute()
{
    TBaseDispatcher &d = Dispatcher;
    d.AckSignal->Set();
    for (;;) {
        d.CommEventSignal->Wait(kRoundMs);
        if (d.StopRequested.load())
            break;
        d.EventRound();
        d.TimerRound();
        if (d.StopRequested.load() || d.ClosePending.load()) {
            d.AckSignal->Set();
            break;
        }
    }
    d.CleanupOnExit.store(d.ClosePending.load() || d.StopRequested.load());
}

void TOutThread::Execute()
{
    TBaseDispatcher &d = Dispatcher;
    d.AckSignal->Set();
    for (;;) {
        const int which = TSyncEvent::WaitAny({d.OutputReadySignal.get(), d.FlushSignal.get()}, -1);
        if (which == 0) {
            if (d.StopRequested.load())
                break;
            d.WriteLoop(*d.WriteDoneSignal);
        } else if (which == 1) {
            d.AckSignal->Set();
        }
        if (d.StopRequested.load() || d.ClosePending.load())
            break;
    }
}
