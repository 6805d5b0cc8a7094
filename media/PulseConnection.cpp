#include "media/PulseConnection.h"

#include <poll.h>
#include <pthread.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct ProplistDeleter {
    void operator()(pa_proplist *list) const { pa_proplist_free(list); }
};

// What the desktop's sound settings show for the program and its streams.
std::unique_ptr<pa_proplist, ProplistDeleter> ApplicationProperties()
{
    std::unique_ptr<pa_proplist, ProplistDeleter> list(pa_proplist_new());
    pa_proplist_sets(list.get(), PA_PROP_APPLICATION_NAME, "Tamblo");
    pa_proplist_sets(list.get(), PA_PROP_APPLICATION_ID, "org.tamblo.Tamblo");
    pa_proplist_sets(list.get(), PA_PROP_APPLICATION_ICON_NAME, "org.tamblo.Tamblo");
    return list;
}

bool Finished(pa_context_state_t state) { return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED; }

} // namespace

PulseConnection::PulseConnection(const char *threadName) : loop_(pa_mainloop_new()), threadName_(threadName)
{
    // The kernel keeps 15 characters of a thread's name.
    threadName_.resize(std::min<std::size_t>(threadName_.size(), 15));
    if (loop_)
        pa_mainloop_set_poll_func(loop_, &PulseConnection::Poll, this);
}

PulseConnection::~PulseConnection()
{
    stopLoop();
    // The loop thread has ended: nothing else touches the connection now.
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_mainloop_free(loop_);
}

void PulseConnection::stopLoop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        pa_mainloop_quit(loop_, 0);
    }
    thread_.join();
}

// The loop waits for the server without the lock, so that other threads can call in meanwhile.
int PulseConnection::Poll(pollfd *fds, unsigned long count, int timeout, void *data)
{
    auto &self = *static_cast<PulseConnection *>(data);
    const std::chrono::milliseconds interval = self.wakeInterval_;
    const bool arrivalWanted = self.arrivalWanted_;
    self.mutex_.unlock();
    int result = 0;
    // Awake anyway: what is there already is read now, a packet at a time as libpulse reads.
    if (interval.count() > 0)
        result = ::poll(fds, nfds_t(count), 0);
    if (result == 0) {
        const Clock::time_point now = Clock::now();
        // Every fifth wake waits for the next packet: batches alone would stamp everything a little
        // late, by how long it lay in the socket.
        constexpr unsigned promptEvery = 5;
        const bool prompt = ++self.wakes_ % promptEvery == 0 || arrivalWanted;
        Clock::time_point until = prompt ? now : self.lastWake_ + interval;
        if (timeout >= 0)
            until = std::min(until, now + std::chrono::milliseconds(timeout));
        const bool sleeps = until > now;
        if (sleeps) {
            // What arrives meanwhile waits in the socket; the loop's own timers still come in time.
            std::this_thread::sleep_until(until);
            if (timeout >= 0)
                timeout = std::max(
                    0, timeout - int(std::chrono::ceil<std::chrono::milliseconds>(Clock::now() - now).count()));
        }
        result = ::poll(fds, nfds_t(count), timeout);
        self.lastWake_ = Clock::now();
        // Without an interval nothing looked for what was there already.
        self.onArrival_ = !sleeps && interval.count() > 0;
    } else {
        self.onArrival_ = false;
    }
    self.mutex_.lock();
    if (self.onArrival_ && result > 0)
        self.arrivalWanted_ = false;
    return result;
}

bool PulseConnection::Connect(std::chrono::milliseconds timeout, std::string *error)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    if (!loop_) {
        *error = "the sound server's client library could not start";
        return false;
    }
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), threadName_.c_str());
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        pa_mainloop_run(loop_, nullptr);
    });
    Lock lock(*this);
    context_ = pa_context_new_with_proplist(pa_mainloop_get_api(loop_), "Tamblo", ApplicationProperties().get());
    if (!context_) {
        *error = "the sound server's client library could not start";
        return false;
    }
    pa_context_set_state_callback(
        context_, [](pa_context *, void *self) { static_cast<PulseConnection *>(self)->Signal(); }, this);
    // Never start a server of our own: with none running there is nothing to check or hear.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        *error = "no sound server answers (" + LastError() + ")";
        return false;
    }
    const bool ready = WaitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, deadline);
    if (!ready) {
        *error = Finished(pa_context_get_state(context_)) ? "no sound server answers (" + LastError() + ")"
                                                          : "the sound server did not answer in time";
        return false;
    }
    return true;
}

bool PulseConnection::Up() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

std::string PulseConnection::LastError() const
{
    return context_ ? pa_strerror(pa_context_errno(context_)) : "not connected";
}

PulseConnection::Lock::Lock(const PulseConnection &connection) : mutex_(connection.mutex_) { mutex_.lock(); }

PulseConnection::Lock::~Lock() { mutex_.unlock(); }

void PulseConnection::Signal() { signal_.notify_all(); }

bool PulseConnection::WaitUntil(const std::function<bool()> &done, Clock::time_point deadline)
{
    if (done())
        return true;
    const auto remaining = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (remaining.count() <= 0 || !context_)
        return false;
    // A timer on the loop wakes the wait at the deadline: the loop's own wait has no timeout.
    pa_time_event *timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + pa_usec_t(remaining.count()),
        [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self) {
            static_cast<PulseConnection *>(self)->Signal();
        },
        this);
    bool result = false;
    for (;;) {
        if (done()) {
            result = true;
            break;
        }
        if (Finished(pa_context_get_state(context_)) || Clock::now() >= deadline)
            break;
        signal_.wait(mutex_);
    }
    if (timer)
        pa_mainloop_get_api(loop_)->time_free(timer);
    return result;
}

bool PulseConnection::Complete(pa_operation *operation, Clock::time_point deadline)
{
    if (!operation)
        return false;
    const bool done =
        WaitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, deadline);
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

bool ServedByPipeWire(const pa_server_info *info)
{
    return info != nullptr && info->server_name != nullptr && std::strstr(info->server_name, "PipeWire") != nullptr;
}
