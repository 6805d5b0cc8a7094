#pragma once

#include <atomic>
#include <sys/types.h>
#include <thread>

class TBaseDispatcher;

// A worker thread of a dispatcher. It runs its loop once; the dispatcher owns the object and
// joins the thread after the loop has ended and cleared the dispatcher's reference to it.
class TDispatcherThread {
public:
    explicit TDispatcherThread(TBaseDispatcher &dispatcher);
    virtual ~TDispatcherThread();

    TDispatcherThread(const TDispatcherThread &) = delete;
    TDispatcherThread &operator=(const TDispatcherThread &) = delete;

    void Start();
    void Join();
    // Every worker's name begins with this, so that tools and tests can tell them apart.
    static constexpr const char *NamePrefix = "serial-";
    // Whether the calling thread is a worker of the dispatcher.
    static bool IsWorkerOf(const TBaseDispatcher &dispatcher);
    // Priority on the framework's scale (normal 0, higher 1, highest 2, ...), as niceness; a
    // refusal by the system changes nothing else.
    void SetPriorityLevel(int level);

protected:
    virtual void Execute() = 0;
    // The thread's name as the system shows it: at most 15 characters.
    virtual const char *Name() const = 0;
    TBaseDispatcher &Dispatcher;

private:
    void Run();

    std::thread thread_;
    std::atomic<pid_t> threadId_{0};
    std::atomic<int> priorityLevel_{0};
};

// Waits for line events from the driver and hands each to the dispatch thread.
class TComThread : public TDispatcherThread {
public:
    using TDispatcherThread::TDispatcherThread;

protected:
    void Execute() override;
    const char *Name() const override { return "serial-comm"; }
};

// Reads received bytes into the input ring every 50 ms and on each event, and delivers the
// notifications that are due.
class TDispThread : public TDispatcherThread {
public:
    using TDispatcherThread::TDispatcherThread;

protected:
    void Execute() override;
    const char *Name() const override { return "serial-dispatch"; }
};

// Writes the output ring to the device.
class TOutThread : public TDispatcherThread {
public:
    using TDispatcherThread::TDispatcherThread;

protected:
    void Execute() override;
    const char *Name() const override { return "serial-output"; }
};
