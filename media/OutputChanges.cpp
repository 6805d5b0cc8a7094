#include "media/OutputChanges.h"

#include "media/PulseConnection.h"
#include "media/PulseOutput.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

namespace {

struct Baseline {
    PulseConnection *connection = nullptr;
    bool done = false;
    bool found = false;
    std::uint32_t index = PA_INVALID_INDEX;
    SoundOutput output;
};

std::string Property(const pa_proplist *list, const char *key)
{
    const char *value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? value : "";
}

} // namespace

OutputChanges::OutputChanges() = default;

OutputChanges::~OutputChanges() { Stop(); }

bool OutputChanges::Start(const std::string &sink, double minimumDb, std::string *error,
                          std::chrono::milliseconds timeout)
{
    Stop();
    const Clock::time_point deadline = Clock::now() + timeout;
    connection_ = std::make_unique<PulseConnection>("output-changes");
    const bool following = connection_->Connect(timeout, error) && follow(sink, minimumDb, error, deadline);
    if (!following)
        Stop();
    return following;
}

bool OutputChanges::follow(const std::string &sink, double minimumDb, std::string *error, Clock::time_point deadline)
{
    PulseConnection::Lock lock(*connection_);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        change_ = {};
    }
    Baseline baseline;
    baseline.connection = connection_.get();
    const bool answered =
        connection_->Complete(pa_context_get_sink_info_by_name(
                                  connection_->Context(), sink.empty() ? "@DEFAULT_SINK@" : sink.c_str(),
                                  [](pa_context *, const pa_sink_info *info, int last, void *data) {
                                      auto &baseline = *static_cast<Baseline *>(data);
                                      if (info && last == 0) {
                                          baseline.found = true;
                                          baseline.index = info->index;
                                          baseline.output = SoundOutputOf(*info);
                                      }
                                      if (last != 0)
                                          baseline.done = true;
                                      baseline.connection->Signal();
                                  },
                                  &baseline),
                              deadline);
    if (!answered || !baseline.done || !baseline.found) {
        *error = answered ? "there is no sound output '" + sink + "'" : "the sound server did not describe the output";
        return false;
    }
    sinkIndex_ = baseline.index;
    description_ = baseline.output.description;
    minimumDb_ = minimumDb;
    wasMuted_ = baseline.output.muted;
    wasTurnedDown_ = Verdict::TurnedDown(baseline.output.volumeDb, minimumDb);
    processId_ = std::to_string(::getpid());
    following_ = true;

    pa_context_set_subscribe_callback(
        connection_->Context(),
        [](pa_context *, pa_subscription_event_type_t event, std::uint32_t index, void *self) {
            static_cast<OutputChanges *>(self)->onEvent(unsigned(event), index);
        },
        this);
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT);
    const bool subscribed = connection_->Complete(
        pa_context_subscribe(
            connection_->Context(), mask,
            [](pa_context *, int, void *connection) { static_cast<PulseConnection *>(connection)->Signal(); },
            connection_.get()),
        deadline);
    if (!subscribed)
        *error = "the sound server did not take the request for its events";
    return subscribed;
}

void OutputChanges::Stop()
{
    if (!connection_)
        return;
    {
        PulseConnection::Lock lock(*connection_);
        following_ = false;
        if (connection_->Context())
            pa_context_set_subscribe_callback(connection_->Context(), nullptr, nullptr);
    }
    // No answer comes once the connection has gone: the questions still open go with it.
    connection_.reset();
    looks_.clear();
}

OutputChanges::Change OutputChanges::First() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return change_;
}

void OutputChanges::tell(Change::Kind kind, Clock::time_point at, const std::string &movedTo, const std::string &volume)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (change_.kind != Change::None)
        return;
    change_.kind = kind;
    change_.at = at;
    change_.output = description_;
    change_.movedTo = movedTo;
    change_.volume = volume;
    change_.minimumDb = minimumDb_;
}

// An event names what changed, not how: the server is asked, and the answer judged.
void OutputChanges::onEvent(unsigned event, std::uint32_t index)
{
    const Clock::time_point at = Clock::now();
    const unsigned facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && index == sinkIndex_) {
        if (type == PA_SUBSCRIPTION_EVENT_REMOVE)
            tell(Change::Removed, at);
        else
            ask(Look::Chosen, index, at);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && type != PA_SUBSCRIPTION_EVENT_REMOVE) {
        ask(Look::Stream, index, at);
    }
}

void OutputChanges::ask(Look::What what, std::uint32_t index, Clock::time_point at)
{
    if (First().kind != Change::None)
        return;
    Look &look = looks_.emplace_back();
    look.self = this;
    look.what = what;
    look.at = at;
    pa_context *context = connection_->Context();
    pa_operation *operation =
        what == Look::Stream ? pa_context_get_sink_input_info(context, index, &OutputChanges::StreamLooked, &look)
                             : pa_context_get_sink_info_by_index(context, index, &OutputChanges::SinkLooked, &look);
    if (operation)
        pa_operation_unref(operation);
    else
        looks_.pop_back();
}

void OutputChanges::SinkLooked(pa_context *, const pa_sink_info *info, int last, void *data)
{
    auto &look = *static_cast<Look *>(data);
    if (!look.self->following_)
        return;
    if (last == 0) {
        if (info) {
            look.found = true;
            look.output = SoundOutputOf(*info);
        }
        return;
    }
    look.self->answered(look);
}

void OutputChanges::StreamLooked(pa_context *, const pa_sink_input_info *info, int last, void *data)
{
    auto &look = *static_cast<Look *>(data);
    if (!look.self->following_)
        return;
    // A stream not yet placed on an output has none (PipeWire, while it links it).
    if (last == 0) {
        if (info && look.self->ours(*info) && info->sink != PA_INVALID_INDEX && info->sink != look.self->sinkIndex_)
            look.movedTo = info->sink;
        return;
    }
    look.self->answered(look);
}

bool OutputChanges::ours(const pa_sink_input_info &stream) const
{
    return Property(stream.proplist, PA_PROP_APPLICATION_PROCESS_ID) == processId_
           && Property(stream.proplist, PA_PROP_MEDIA_NAME) == PulseOutput::StreamName;
}

void OutputChanges::answered(Look &look)
{
    switch (look.what) {
    case Look::Chosen:
        if (!look.found) {
            if (pa_context_errno(connection_->Context()) == PA_ERR_NOENTITY)
                tell(Change::Removed, look.at);
        } else if (look.output.muted && !wasMuted_) {
            tell(Change::Muted, look.at);
        } else if (Verdict::TurnedDown(look.output.volumeDb, minimumDb_) && !wasTurnedDown_) {
            tell(Change::TurnedDown, look.at, {}, FormatVolume(look.output));
        }
        break;
    case Look::Stream:
        // A removed output moves its streams elsewhere, before or after it is gone: whether it
        // still exists is asked first, and the server answers in order.
        if (look.movedTo != PA_INVALID_INDEX) {
            ask(Look::Chosen, sinkIndex_, look.at);
            ask(Look::Destination, look.movedTo, look.at);
        }
        break;
    case Look::Destination: tell(Change::Moved, look.at, look.found ? look.output.description : std::string()); break;
    }
    looks_.remove_if([&](const Look &each) { return &each == &look; });
}
