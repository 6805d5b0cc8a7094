#include "media/PulseOutput.h"

#include "media/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr const char *applicationName = "Tamblo";
constexpr const char *applicationId = "org.tamblo.Tamblo";
// A server that does not answer within this is taken to be absent.
constexpr pa_usec_t answerTimeout = 3 * PA_USEC_PER_SEC;

// The properties a server shows for our connection and stream.
struct Properties {
    Properties() : list(pa_proplist_new()) {}
    ~Properties() { pa_proplist_free(list); }
    Properties(const Properties &) = delete;
    Properties &operator=(const Properties &) = delete;
    void Set(const char *key, const char *value) { pa_proplist_sets(list, key, value); }
    pa_proplist *list;
};

// Waits, with the main loop locked, until `done` or the server's time to answer has passed.
bool WaitUntil(pa_threaded_mainloop *loop, pa_context *context, const std::function<bool()> &done)
{
    bool late = false;
    struct Wake {
        pa_threaded_mainloop *loop;
        bool *late;
    } wake{loop, &late};
    pa_time_event *timer = pa_context_rttime_new(
        context, pa_rtclock_now() + answerTimeout,
        [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *data) {
            auto *w = static_cast<Wake *>(data);
            *w->late = true;
            pa_threaded_mainloop_signal(w->loop, 0);
        },
        &wake);
    while (!done() && !late)
        pa_threaded_mainloop_wait(loop);
    if (timer != nullptr)
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
    return done();
}

bool Settled(pa_context_state_t state) { return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state); }

// A connection to the server on a thread of its own, with the main loop unlocked when it ends.
struct Connection {
    ~Connection()
    {
        if (loop == nullptr)
            return;
        if (context != nullptr) {
            pa_threaded_mainloop_lock(loop);
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            pa_threaded_mainloop_unlock(loop);
        }
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
};

} // namespace

bool PulseOutput::Wanted()
{
    const char *driver = std::getenv("SDL_AUDIODRIVER");
    return driver == nullptr || *driver == '\0' || std::strcmp(driver, "pulseaudio") == 0
           || std::strcmp(driver, "pipewire") == 0;
}

bool PulseOutput::ServerAnswers()
{
    Connection connection;
    connection.loop = pa_threaded_mainloop_new();
    if (connection.loop == nullptr)
        return false;
    Properties properties;
    properties.Set(PA_PROP_APPLICATION_NAME, applicationName);
    connection.context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(connection.loop), applicationName, properties.list);
    if (connection.context == nullptr
        || pa_context_connect(connection.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    pa_context_set_state_callback(
        connection.context,
        [](pa_context *, void *loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0); },
        connection.loop);
    pa_threaded_mainloop_lock(connection.loop);
    bool ready = false;
    if (pa_threaded_mainloop_start(connection.loop) == 0) {
        WaitUntil(connection.loop, connection.context,
                  [&] { return Settled(pa_context_get_state(connection.context)); });
        ready = pa_context_get_state(connection.context) == PA_CONTEXT_READY;
    }
    pa_threaded_mainloop_unlock(connection.loop);
    return ready;
}

MCIERROR PulseOutput::Open(int rate, int channels, AudioSource &source, const std::string &sink,
                           std::unique_ptr<AudioOutput> &output)
{
    std::unique_ptr<PulseOutput> opened(new PulseOutput);
    opened->rate_ = rate;
    opened->channels_ = channels;
    opened->frameBytes_ = std::size_t(channels) * sizeof(float);
    opened->source_ = &source;
    opened->clock_ = StreamClock(rate, std::chrono::milliseconds(2 * requestMs));
    opened->loop_ = pa_threaded_mainloop_new();
    if (opened->loop_ == nullptr)
        return MCIERR_OUT_OF_MEMORY;
    pa_threaded_mainloop_set_name(opened->loop_, "sound-output");
    Properties properties;
    properties.Set(PA_PROP_APPLICATION_NAME, applicationName);
    properties.Set(PA_PROP_APPLICATION_ID, applicationId);
    properties.Set(PA_PROP_APPLICATION_ICON_NAME, applicationId);
    opened->context_ =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(opened->loop_), applicationName, properties.list);
    if (opened->context_ == nullptr)
        return MCIERR_OUT_OF_MEMORY;
    pa_context_set_state_callback(opened->context_, &PulseOutput::ContextChanged, opened.get());
    if (pa_context_connect(opened->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return MCIERR_NO_OUTPUT_DEVICE;
    pa_threaded_mainloop_lock(opened->loop_);
    const bool connected = pa_threaded_mainloop_start(opened->loop_) == 0 && opened->Connect(sink);
    const bool serverAnswered = pa_context_get_state(opened->context_) == PA_CONTEXT_READY;
    opened->open_ = connected;
    pa_threaded_mainloop_unlock(opened->loop_);
    if (!connected)
        return serverAnswered ? MCIERR_OUTPUT_FAILED : MCIERR_NO_OUTPUT_DEVICE;
    output = std::move(opened);
    return MMSYSERR_NOERROR;
}

// With the main loop locked: the connection, then a corked stream on it.
bool PulseOutput::Connect(const std::string &sink)
{
    if (!WaitUntil(loop_, context_, [this] { return Settled(pa_context_get_state(context_)); })
        || pa_context_get_state(context_) != PA_CONTEXT_READY)
        return false;
    const auto told = [](pa_context *, const pa_server_info *info, void *self) {
        auto *output = static_cast<PulseOutput *>(self);
        output->pipeWire_ = ServedByPipeWire(info);
        output->serverKnown_ = true;
        pa_threaded_mainloop_signal(output->loop_, 0);
    };
    if (pa_operation *op = pa_context_get_server_info(context_, told, this)) {
        WaitUntil(loop_, context_, [this] { return serverKnown_; });
        pa_operation_unref(op);
    }

    pa_sample_spec layout{};
    layout.format = PA_SAMPLE_FLOAT32NE;
    layout.rate = std::uint32_t(rate_);
    layout.channels = std::uint8_t(channels_);
    // Sound files keep their channels in the wave format's order.
    pa_channel_map map{};
    if (pa_channel_map_init_extend(&map, unsigned(channels_), PA_CHANNEL_MAP_WAVEEX) == nullptr)
        return false;
    Properties properties;
    properties.Set(PA_PROP_MEDIA_ROLE, "production");
    properties.Set(PA_PROP_MEDIA_NAME, StreamName);
    properties.Set(PA_PROP_APPLICATION_ICON_NAME, applicationId);
    stream_ = pa_stream_new_with_proplist(context_, StreamName, &layout, &map, properties.list);
    if (stream_ == nullptr)
        return false;
    pa_stream_set_state_callback(stream_, &PulseOutput::StreamChanged, this);
    pa_stream_set_write_callback(stream_, &PulseOutput::Writable, this);
    pa_stream_set_underflow_callback(stream_, &PulseOutput::RanDry, this);
    pa_stream_set_started_callback(stream_, &PulseOutput::Resumed, this);

    // The latency is the whole of what the stream and the server hold: the server lowers its own
    // buffering to fit (a sink that renders far ahead would otherwise play a new stream late).
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(holdsAtMostMs) * PA_USEC_PER_MSEC, &layout));
    attr.tlength = std::uint32_t(pa_usec_to_bytes(latencyMs * PA_USEC_PER_MSEC, &layout));
    attr.minreq = std::uint32_t(pa_usec_to_bytes(requestMs * PA_USEC_PER_MSEC, &layout));
    attr.prebuf = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_, sink.empty() ? nullptr : sink.c_str(), &attr, flags, nullptr, nullptr) < 0)
        return false;
    const auto settled = [this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    };
    if (!WaitUntil(loop_, context_, settled) || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return false;
    // A server may hold less than asked (PulseAudio and PipeWire: 4 MiB a stream).
    const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream_);
    heldMost_ = granted != nullptr ? std::int64_t(granted->maxlength / frameBytes_) : 0;
    return true;
}

PulseOutput::~PulseOutput()
{
    if (loop_ == nullptr)
        return;
    pa_threaded_mainloop_lock(loop_);
    closing_ = true;
    if (report_ != nullptr)
        pa_threaded_mainloop_get_api(loop_)->time_free(report_);
    if (stream_ != nullptr) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseOutput::Prime()
{
    pa_threaded_mainloop_lock(loop_);
    if (!primed_ && !lost_) {
        primed_ = true;
        FillLocked();
        HandAheadLocked();
        AwaitSinkLocked();
    }
    pa_threaded_mainloop_unlock(loop_);
}

// A sink that cannot take back what it rendered while it idled (a null or virtual sink, a
// network one) still holds up to two seconds of silence when a stream comes, and would play our
// sound only after it: the device would record that silence first. What it holds drains as it
// plays; the sound waits until the sink holds no more than a sink in step does, or its latency
// holds steady (a Bluetooth sink is slow, and stays so).
void PulseOutput::AwaitSinkLocked()
{
    constexpr std::uint64_t steadyLatency = 2 * requestMs * PA_USEC_PER_MSEC;
    constexpr auto look = std::chrono::milliseconds(50);
    constexpr auto longest = std::chrono::milliseconds(3000);
    const Clock::time_point until = Clock::now() + longest;
    std::optional<std::uint64_t> before;
    while (!lost_ && Clock::now() < until) {
        const int reports = sinkReports_;
        RequestTimingLocked();
        if (!WaitUntil(loop_, context_, [&] { return sinkReports_ != reports || lost_; }) || lost_)
            return;
        // Draining, it loses what it plays: at least half the time between two looks.
        const bool draining = !before || *before > sinkUsec_ + pa_usec_t(look.count()) * PA_USEC_PER_MSEC / 2;
        if (sinkUsec_ <= steadyLatency || !draining)
            return;
        before = sinkUsec_;
        pa_threaded_mainloop_unlock(loop_);
        std::this_thread::sleep_for(look);
        pa_threaded_mainloop_lock(loop_);
    }
}

void PulseOutput::Start()
{
    Prime();
    pa_threaded_mainloop_lock(loop_);
    if (!started_ && !lost_) {
        started_ = true;
        if (pa_operation *op = pa_stream_cork(stream_, 0, &PulseOutput::Corked, this))
            pa_operation_unref(op);
        ArmReportLocked();
    }
    pa_threaded_mainloop_unlock(loop_);
}

// What the server will not have taken before our new sound reaches it, at its read index now
// (counted on from its latest report) and a margin on: that much the stream can rewrite. PipeWire
// takes a whole quantum at once.
void PulseOutput::FadeHeldSound()
{
    constexpr int marginMs = 15;
    pa_threaded_mainloop_lock(loop_);
    if (started_ && reported_ && !lost_ && !closing_) {
        std::int64_t from = reportRead_ + std::int64_t(rate_) * marginMs / 1000 + (pipeWire_ ? quantum_ : 0);
        if (reportPlaying_) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - reportTime_);
            from += elapsed.count() * rate_ / 1000000;
        }
        if (from < written_) {
            std::vector<float> sound(std::size_t(written_ - from) * std::size_t(channels_));
            bool rewritten = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                rewritten = source_->TakeBack(from, written_, sound.data());
            }
            if (rewritten)
                pa_stream_write(stream_, sound.data(), sound.size() * sizeof(float), nullptr,
                                from * std::int64_t(frameBytes_), PA_SEEK_ABSOLUTE);
        }
    }
    pa_threaded_mainloop_unlock(loop_);
}

std::int64_t PulseOutput::Played(Clock::time_point now) const
{
    std::lock_guard<std::mutex> guard(clockMutex_);
    return clock_.Played(now);
}

void PulseOutput::ContextChanged(pa_context *context, void *self)
{
    auto *output = static_cast<PulseOutput *>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        output->LoseLocked();
    pa_threaded_mainloop_signal(output->loop_, 0);
}

void PulseOutput::StreamChanged(pa_stream *stream, void *self)
{
    auto *output = static_cast<PulseOutput *>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        output->LoseLocked();
    pa_threaded_mainloop_signal(output->loop_, 0);
}

// An output not yet primed takes nothing: a stream that starts must start with the sound.
void PulseOutput::Writable(pa_stream *, std::size_t, void *self)
{
    auto *output = static_cast<PulseOutput *>(self);
    if (output->primed_)
        output->FillLocked();
}

void PulseOutput::RanDry(pa_stream *, void *self)
{
    auto *output = static_cast<PulseOutput *>(self);
    {
        std::lock_guard<std::mutex> guard(output->clockMutex_);
        output->clock_.Halted(Clock::now());
    }
    output->RequestTimingLocked();
}

void PulseOutput::Resumed(pa_stream *, void *self) { static_cast<PulseOutput *>(self)->RequestTimingLocked(); }

void PulseOutput::Corked(pa_stream *, int, void *self) { static_cast<PulseOutput *>(self)->RequestTimingLocked(); }

void PulseOutput::TimingArrived(pa_stream *stream, int success, void *self)
{
    auto *output = static_cast<PulseOutput *>(self);
    output->timingPending_ = false;
    const pa_timing_info *timing = success ? pa_stream_get_timing_info(stream) : nullptr;
    if (timing != nullptr) {
        output->sinkUsec_ = timing->sink_usec;
        ++output->sinkReports_;
        pa_threaded_mainloop_signal(output->loop_, 0);
    }
    if (timing == nullptr || timing->read_index_corrupt || output->closing_)
        return;
    // The report is a little old when it arrives: counting from its arrival keeps the count behind.
    const std::int64_t read = timing->read_index / std::int64_t(output->frameBytes_);
    std::int64_t held = std::int64_t(timing->sink_usec) * output->rate_ / std::int64_t(PA_USEC_PER_SEC);
    // PipeWire takes a stream's sound a quantum at a time, at the start of the cycle that plays
    // it, and leaves that quantum out of the latency it reports: it is held until a whole cycle
    // has passed. Reports come right after it took sound, a cycle or more apart; the extra ones
    // at random moments show the cycle itself, as the smallest step of the read index. A report
    // with no step since the last says nothing new.
    if (output->pipeWire_) {
        const std::int64_t step = read - output->lastRead_;
        if (step == 0 && output->reported_ && timing->playing)
            return;
        if (step > 0) {
            output->steps_[output->stepCount_++ % output->steps_.size()] = step;
            const auto seen =
                output->steps_.begin() + std::ptrdiff_t(std::min(output->stepCount_, output->steps_.size()));
            output->quantum_ = *std::min_element(output->steps_.begin(), seen);
        }
        output->lastRead_ = read;
        held += output->quantum_;
    }
    const Clock::time_point now = Clock::now();
    output->reported_ = true;
    output->reportTime_ = now;
    output->reportRead_ = read;
    output->reportPlaying_ = timing->playing && output->started_;
    std::lock_guard<std::mutex> guard(output->clockMutex_);
    output->clock_.Reported(now, read, held, output->reportPlaying_);
}

// Hands the source's sound to the stream for all the room it has.
void PulseOutput::FillLocked()
{
    if (lost_ || closing_)
        return;
    for (;;) {
        std::size_t bytes = pa_stream_writable_size(stream_);
        if (bytes == std::size_t(-1) || bytes < frameBytes_)
            break;
        void *data = nullptr;
        if (pa_stream_begin_write(stream_, &data, &bytes) < 0 || data == nullptr || bytes < frameBytes_)
            break;
        const int frames = int(bytes / frameBytes_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            source_->Render(static_cast<float *>(data), frames, written_, Clock::now());
        }
        if (pa_stream_write(stream_, data, std::size_t(frames) * frameBytes_, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            break;
        written_ += frames;
        std::lock_guard<std::mutex> guard(clockMutex_);
        clock_.Written(written_);
    }
    RequestTimingLocked();
}

// The server reports what it played when it asks for sound; with the whole prompt handed ahead it
// asks for none, so a report is asked for every request period, at a random phase: at PipeWire
// some pair of reports then lies across a single cycle, and shows its length.
void PulseOutput::ArmReportLocked()
{
    const pa_usec_t at = pa_rtclock_now() + pa_usec_t(requestMs * 1000 / 2 + phase_() % (requestMs * 1000));
    if (report_ != nullptr) {
        pa_context_rttime_restart(context_, report_, at);
        return;
    }
    report_ = pa_context_rttime_new(
        context_, at,
        [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self) {
            auto *output = static_cast<PulseOutput *>(self);
            output->RequestTimingLocked();
            if (!output->lost_ && !output->closing_)
                output->ArmReportLocked();
        },
        this);
}

// Before the start, the stream takes the rest of the sound too, as much as the server holds: it
// then plays the whole prompt from its own buffer, and nothing this process does or fails to do
// (a busy machine, a stall) can leave a hole in it.
void PulseOutput::HandAheadLocked()
{
    constexpr std::int64_t chunkMs = 100;
    std::vector<float> chunk(std::size_t(rate_ * chunkMs / 1000) * std::size_t(channels_));
    while (!lost_ && !closing_) {
        std::int64_t frames = std::min<std::int64_t>(heldMost_ - written_, rate_ * chunkMs / 1000);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames = std::min(frames, source_->SoundLeft());
            if (frames <= 0)
                break;
            source_->Render(chunk.data(), int(frames), written_, Clock::now());
        }
        if (pa_stream_write(stream_, chunk.data(), std::size_t(frames) * frameBytes_, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            break;
        written_ += frames;
        std::lock_guard<std::mutex> guard(clockMutex_);
        clock_.Written(written_);
    }
}

void PulseOutput::RequestTimingLocked()
{
    if (timingPending_ || lost_ || closing_)
        return;
    if (pa_operation *op = pa_stream_update_timing_info(stream_, &PulseOutput::TimingArrived, this)) {
        timingPending_ = true;
        pa_operation_unref(op);
    }
}

// The server went away or dropped the stream. What it had played stays the count; a server that
// comes back gets a new connection at the next play, never this one.
void PulseOutput::LoseLocked()
{
    if (closing_ || lost_)
        return;
    lost_ = true;
    std::int64_t played = 0;
    {
        std::lock_guard<std::mutex> guard(clockMutex_);
        clock_.Halted(Clock::now());
        played = clock_.Played(Clock::now());
    }
    if (open_) {
        std::lock_guard<std::mutex> lock(mutex_);
        source_->OutputLost(played);
    }
}
