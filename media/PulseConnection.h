#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct pa_context;
struct pa_mainloop;
struct pa_operation;
struct pa_server_info;
struct pollfd;

// A connection to the sound server that the environment names (PULSE_SERVER, else the user's own
// server; PipeWire serves the same protocol), with a loop thread of its own. Every call into
// libpulse happens with the loop locked; callbacks run on the loop thread with the lock held.
// No wait outlasts its deadline: a server that does not answer is an error, never a hang.
class PulseConnection {
public:
    using Clock = std::chrono::steady_clock;

    // `threadName` names the connection's thread, so that its wake-ups can be told apart.
    explicit PulseConnection(const char *threadName = "sound-server");
    ~PulseConnection();
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    // Connects as "Tamblo"; false with the reason when no server answers within the timeout.
    bool Connect(std::chrono::milliseconds timeout, std::string *error);
    // The connection, for calls made with the lock held.
    pa_context *Context() const { return context_; }
    // With the lock held: whether the connection is up, and the server's last error text.
    bool Up() const;
    std::string LastError() const;

    // Holds the loop's lock while alive.
    class Lock {
    public:
        explicit Lock(const PulseConnection &connection);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        std::recursive_mutex &mutex_;
    };

    // With the lock held: waits until done() holds, the connection fails or the deadline passes;
    // true when done() holds. Callbacks wake it with Signal().
    bool WaitUntil(const std::function<bool()> &done, Clock::time_point deadline);
    // Runs an operation to its end within the deadline, cancelling it otherwise, so that its
    // callback is never called after this returns. Takes over the operation (null: it failed).
    bool Complete(pa_operation *operation, Clock::time_point deadline);
    // From a callback: wakes WaitUntil.
    void Signal();
    // With the lock held: the loop thread wakes at most once per `interval` (zero: whenever the
    // server sends). A stream that only has to be heard now and then is read in batches, instead
    // of at every block that a low-latency client elsewhere makes the server send. What a batch
    // reads came in while the thread slept; every few wakes it waits for the next packet instead,
    // so that a reader that notes when its data came sees some of it the moment it comes.
    void SetWakeInterval(std::chrono::milliseconds interval) { wakeInterval_ = interval; }
    // From a callback, with a wake interval: whether what is being read came while the loop thread
    // waited for it (and so is read the moment it came), not while it slept.
    bool ReadOnArrival() const { return onArrival_; }
    // With the lock held: the next wake waits for the next packet, whatever the interval.
    void ReadNextOnArrival() { arrivalWanted_ = true; }

private:
    static int Poll(pollfd *fds, unsigned long count, int timeout, void *self);
    void stopLoop();

    pa_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    std::string threadName_;
    std::thread thread_;
    // Held by the loop thread except while it waits for the server, as libpulse's own threaded
    // loop does: recursive, so that a callback may take it again.
    mutable std::recursive_mutex mutex_;
    std::condition_variable_any signal_;
    std::chrono::milliseconds wakeInterval_{0};
    Clock::time_point lastWake_;
    unsigned wakes_ = 0;
    bool onArrival_ = false;
    bool arrivalWanted_ = false;
};

// Whether a server's description is PipeWire's PulseAudio side, which plays in graph cycles.
bool ServedByPipeWire(const pa_server_info *info);
