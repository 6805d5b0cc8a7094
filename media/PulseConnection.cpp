#include "media/PulseConnection.h"

#include <pulse/pulseaudio.h>

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

PulseConnection::PulseConnection(const char *threadName) : loop_(pa_threaded_mainloop_new())
{
    if (loop_)
        pa_threaded_mainloop_set_name(loop_, threadName);
}

PulseConnection::~PulseConnection()
{
    if (started_)
        pa_threaded_mainloop_stop(loop_);
    // The loop thread has ended: nothing else touches the connection now.
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::Connect(std::chrono::milliseconds timeout, std::string *error)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
        *error = "the sound server's client library could not start";
        return false;
    }
    started_ = true;
    Lock lock(*this);
    context_ =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Tamblo", ApplicationProperties().get());
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

PulseConnection::Lock::Lock(const PulseConnection &connection) : loop_(connection.loop_)
{
    pa_threaded_mainloop_lock(loop_);
}

PulseConnection::Lock::~Lock() { pa_threaded_mainloop_unlock(loop_); }

void PulseConnection::Signal() { pa_threaded_mainloop_signal(loop_, 0); }

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
        pa_threaded_mainloop_wait(loop_);
    }
    if (timer)
        pa_threaded_mainloop_get_api(loop_)->time_free(timer);
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
