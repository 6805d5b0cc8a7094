#include "serial/DispatcherThreads.h"

#include "base/Exception.h"
#include "serial/Dispatcher.h"
#include "serial/SystemErrors.h"

#include <algorithm>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace {

// Line events the comm thread waits for; older systems also knew a trailing-edge ring event.
constexpr std::uint32_t kLineEvents = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
constexpr bool kSystemKnowsTrailingRing = false;

// Niceness per step of the framework's priority scale.
constexpr int kNicePerLevel = 5;

// The dispatch thread's round period without events.
constexpr int kRoundMs = 50;

// How long the stop sequence waits for the dispatch thread before it wakes it again.
constexpr int kGraceMs = 36 * 55;

thread_local const TBaseDispatcher *workerOf = nullptr;

} // namespace

TDispatcherThread::TDispatcherThread(TBaseDispatcher &dispatcher) : Dispatcher(dispatcher) {}

TDispatcherThread::~TDispatcherThread() { Join(); }

void TDispatcherThread::Start() { thread_ = std::thread(&TDispatcherThread::Run, this); }

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

bool TDispatcherThread::IsWorkerOf(const TBaseDispatcher &dispatcher) { return workerOf == &dispatcher; }

void TDispatcherThread::Run()
{
    workerOf = &Dispatcher;
    pthread_setname_np(pthread_self(), Name());
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
                d.MarkDeviceGone();
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
        const int which = SyncEvent::WaitAny({d.OutputReadySignal.get(), d.FlushSignal.get()}, -1);
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

// ---------------------------------------------------------------------------------------------
// Starting and stopping the threads of a dispatcher

void TBaseDispatcher::StartThreads()
{
    std::lock_guard control(threadControlLock_);
    std::lock_guard guard(GeneralLock);
    if (ThreadsStarted.load())
        throw Exception("Dispatcher already started");
    ThreadsStarted.store(true);
    StopRequested.store(false);

    auto start = [this](std::unique_ptr<TDispatcherThread> thread, std::atomic<TDispatcherThread *> &reference) {
        // Counted before it runs, so that a thread ending early never finds the count at 0
        // while its siblings are still being started.
        ActiveThreads.fetch_add(1);
        reference.store(thread.get());
        TDispatcherThread *raw = thread.get();
        threads_.push_back(std::move(thread));
        try {
            raw->Start();
        } catch (const std::system_error &) {
            reference.store(nullptr);
            if (ActiveThreads.fetch_sub(1) == 1)
                ThreadsStarted.store(false);
            return;
        }
        // A thread that is slow to start does not stop the open.
        AckSignal->Wait(3000);
    };
    start(std::make_unique<TComThread>(*this), CommWorker);
    start(std::make_unique<TDispThread>(*this), DispatchWorker);
    start(std::make_unique<TOutThread>(*this), OutputWorker);
    ApplyPriorities();
}

void TBaseDispatcher::StopThreads()
{
    {
        std::lock_guard control(threadControlLock_);
        if (!ThreadsStarted.load())
            return;
        SignalAndWaitForThreads();
    }
    // The dispatch thread may still be finishing a deferred close, which needs the lock above;
    // the other callers wait until every thread is out.
    if (!TDispatcherThread::IsWorkerOf(*this))
        WaitHandlingMessages([this] { return ActiveThreads.load() == 0; }, -1);
}

void TBaseDispatcher::SignalAndWaitForThreads()
{
    StopRequested.store(true);
    if (OutputWorker.load()) {
        FlushSignal->Set();
        WaitHandlingMessages([this] { return OutputWorker.load() == nullptr; }, -1);
    }
    if (CommWorker.load()) {
        DeviceSetMask(0);
        DispatchDoneSignal->Set();
        AckSignal->Reset();
        WaitHandlingMessages([this] { return CommWorker.load() == nullptr; }, -1);
    }
    if (DispatchWorker.load()) {
        // Woken at once rather than at the end of its 50 ms period: it checks for the stop
        // first thing after its wait.
        CommEventSignal->Set();
        if (!WaitHandlingMessages([this] { return DispatchWorker.load() == nullptr; }, kGraceMs)) {
            CommEventSignal->Set();
            // Freeing the dispatcher under a running thread would crash: a thread that outlives
            // both grace periods (a handler that does not return) is waited for to the end.
            WaitHandlingMessages([this] { return DispatchWorker.load() == nullptr; }, -1);
        }
    }
}

void TBaseDispatcher::ThreadEnded(TDispatcherThread *thread)
{
    const bool dispatchThread = DispatchWorker.load() == thread;
    for (auto *reference : {&CommWorker, &DispatchWorker, &OutputWorker}) {
        TDispatcherThread *expected = thread;
        reference->compare_exchange_strong(expected, nullptr);
    }
    if (dispatchThread && CleanupOnExit.load()) {
        ReleaseBuffers();
        CleanupOnExit.store(false);
    }
    if (ActiveThreads.fetch_sub(1) == 1)
        ThreadsStarted.store(false);
}

void TBaseDispatcher::JoinThreads()
{
    WaitHandlingMessages([this] { return ActiveThreads.load() == 0; }, -1);
    for (auto &thread : threads_)
        thread->Join();
}

bool TBaseDispatcher::WaitHandlingMessages(const std::function<bool()> &done, int maxMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (!done()) {
        // A worker may be waiting for the main thread to take a notification.
        HandleSentCalls();
        if (done())
            break;
        if (maxMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Priorities

void TBaseDispatcher::SetPriorityBoost(std::uint8_t boost)
{
    std::lock_guard guard(GeneralLock);
    if (boost == PriorityBoost)
        return;
    PriorityBoost = boost;
    ApplyPriorities();
}

void TBaseDispatcher::ApplyPriorities()
{
    std::lock_guard guard(GeneralLock);
    if (TDispatcherThread *thread = CommWorker.load())
        thread->SetPriorityLevel(PriorityBoost);
    if (TDispatcherThread *thread = DispatchWorker.load())
        thread->SetPriorityLevel(PriorityBoost);
    if (TDispatcherThread *thread = OutputWorker.load())
        thread->SetPriorityLevel(PriorityBoost + (RS485.load() ? 1 : 0));
}

int TBaseDispatcher::Yield()
{
    sched_yield();
    return 0;
}
