#include "media/SoundOutputs.h"

#include "media/PulseConnection.h"
#include "media/SoundLevel.h"

#include <QString>
#include <pulse/pulseaudio.h>

#include <cmath>

namespace {

std::string Property(const pa_proplist *list, const char *key)
{
    const char *value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? value : "";
}

OutputState StateOf(pa_sink_state_t state)
{
    switch (state) {
    case PA_SINK_RUNNING: return OutputState::Running;
    case PA_SINK_IDLE: return OutputState::Idle;
    case PA_SINK_SUSPENDED: return OutputState::Suspended;
    default: return OutputState::Unknown;
    }
}

struct Listing {
    PulseConnection *connection = nullptr;
    std::string defaultSink;
    bool serverInfoDone = false;
    bool sinksDone = false;
    bool failed = false;
    std::vector<SoundOutput> outputs;
};

std::string Quoted(const std::string &text) { return "'" + text + "'"; }

std::string OutputLines(const std::vector<SoundOutput> &outputs)
{
    if (outputs.empty())
        return "The sound server has no outputs.";
    std::string text = "The outputs are:";
    for (const SoundOutput &output : outputs)
        text += "\n  " + output.name + " (" + output.description + (output.isDefault ? ", default)" : ")");
    return text;
}

} // namespace

SoundOutput SoundOutputOf(const pa_sink_info &sink)
{
    SoundOutput output;
    output.name = sink.name ? sink.name : "";
    output.description = sink.description ? sink.description : output.name;
    output.bus = Property(sink.proplist, PA_PROP_DEVICE_BUS);
    output.card = Property(sink.proplist, "alsa.card_name");
    if (output.card.empty())
        output.card = Property(sink.proplist, PA_PROP_DEVICE_PRODUCT_NAME);
    output.monitor = sink.monitor_source_name ? sink.monitor_source_name : "";
    output.muted = sink.mute != 0;
    const pa_volume_t volume = pa_cvolume_max(&sink.volume);
    output.volumePercent = int(std::lround(100.0 * double(volume) / PA_VOLUME_NORM));
    output.volumeDb = pa_sw_volume_to_dB(volume);
    output.state = StateOf(sink.state);
    if (sink.active_port) {
        output.activePort = sink.active_port->description ? sink.active_port->description : sink.active_port->name;
        output.unplugged = sink.active_port->available == PA_PORT_AVAILABLE_NO;
    }
    return output;
}

SoundOutputList ListSoundOutputs(std::chrono::milliseconds timeout)
{
    const auto deadline = PulseConnection::Clock::now() + timeout;
    SoundOutputList list;
    PulseConnection connection;
    if (!connection.Connect(timeout, &list.error))
        return list;
    PulseConnection::Lock lock(connection);
    Listing listing;
    listing.connection = &connection;
    pa_operation *server = pa_context_get_server_info(
        connection.Context(),
        [](pa_context *, const pa_server_info *info, void *data) {
            auto &listing = *static_cast<Listing *>(data);
            if (info && info->default_sink_name)
                listing.defaultSink = info->default_sink_name;
            listing.serverInfoDone = true;
            listing.connection->Signal();
        },
        &listing);
    pa_operation *sinks = pa_context_get_sink_info_list(
        connection.Context(),
        [](pa_context *, const pa_sink_info *sink, int last, void *data) {
            auto &listing = *static_cast<Listing *>(data);
            if (last < 0)
                listing.failed = true;
            if (last != 0)
                listing.sinksDone = true;
            else if (sink)
                listing.outputs.push_back(SoundOutputOf(*sink));
            listing.connection->Signal();
        },
        &listing);
    const bool serverAnswered = connection.Complete(server, deadline);
    const bool sinksAnswered = connection.Complete(sinks, deadline);
    if (!serverAnswered || !sinksAnswered || !listing.serverInfoDone || !listing.sinksDone || listing.failed) {
        list.error = connection.Up() ? "the sound server did not list its outputs in time"
                                     : "the sound server went away (" + connection.LastError() + ")";
        return list;
    }
    for (SoundOutput &output : listing.outputs)
        output.isDefault = output.name == listing.defaultSink;
    list.serverReached = true;
    list.outputs = std::move(listing.outputs);
    return list;
}

std::optional<SoundOutput> ChooseOutput(const std::vector<SoundOutput> &outputs, const std::string &choice,
                                        std::string *error)
{
    if (choice.empty()) {
        for (const SoundOutput &output : outputs) {
            if (output.isDefault)
                return output;
        }
        *error = "The sound server has no default output. " + OutputLines(outputs);
        return std::nullopt;
    }
    for (const SoundOutput &output : outputs) {
        if (output.name == choice)
            return output;
    }
    const QString wanted = QString::fromStdString(choice);
    std::vector<const SoundOutput *> equal, containing;
    for (const SoundOutput &output : outputs) {
        const QString description = QString::fromStdString(output.description);
        if (description.compare(wanted, Qt::CaseInsensitive) == 0)
            equal.push_back(&output);
        else if (description.contains(wanted, Qt::CaseInsensitive))
            containing.push_back(&output);
    }
    if (equal.size() == 1)
        return *equal.front();
    if (equal.empty() && containing.size() == 1)
        return *containing.front();
    if (equal.empty() && containing.empty())
        *error = "There is no sound output " + Quoted(choice) + ". " + OutputLines(outputs);
    else
        *error = "More than one sound output fits " + Quoted(choice) + "; name one of them. " + OutputLines(outputs);
    return std::nullopt;
}

std::string FormatVolume(const SoundOutput &output)
{
    return std::to_string(output.volumePercent) + " % (" + DecibelText(output.volumeDb) + " dB)";
}

const char *OutputStateName(OutputState state)
{
    switch (state) {
    case OutputState::Running: return "running";
    case OutputState::Idle: return "idle";
    case OutputState::Suspended: return "suspended";
    case OutputState::Unknown: break;
    }
    return "unknown";
}

OutputVerdict CheckOutput(const SoundOutput &output, double minimumDb)
{
    const std::string name = "The output " + Quoted(output.description);
    if (output.muted)
        return {OutputProblem::Muted, name + " is muted"};
    if (Verdict::TurnedDown(output.volumeDb, minimumDb)) {
        return {OutputProblem::TooQuiet,
                name + " is turned down to " + FormatVolume(output) + ", below " + DecibelText(minimumDb) + " dB"};
    }
    if (output.state == OutputState::Suspended && output.unplugged)
        return {OutputProblem::NothingPlugged,
                name + " is suspended and nothing is plugged into it (" + output.activePort + ")"};
    return {};
}

ChosenOutput CheckChosenOutput(const std::string &choice, double minimumDb, std::chrono::milliseconds timeout)
{
    ChosenOutput chosen;
    const SoundOutputList list = ListSoundOutputs(timeout);
    if (!list.serverReached) {
        chosen.message = "The sound outputs cannot be checked: " + list.error;
        return chosen;
    }
    chosen.output = ChooseOutput(list.outputs, choice, &chosen.message);
    if (!chosen.output) {
        chosen.readiness = OutputReadiness::UnknownChoice;
        return chosen;
    }
    const OutputVerdict verdict = CheckOutput(*chosen.output, minimumDb);
    chosen.problem = verdict.problem;
    chosen.message = verdict.message;
    chosen.readiness = verdict.problem == OutputProblem::None ? OutputReadiness::Ready : OutputReadiness::Refused;
    return chosen;
}
