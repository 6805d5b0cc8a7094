#include "media/OutputWatch.h"

#include "media/PlaybackSink.h"
#include "media/PulseOutput.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace {

// The monitor answers at once when the output check just reached the server.
constexpr std::chrono::milliseconds monitorTimeout{1000};
// Three deliveries of the monitor come well within this at the largest cycles.
constexpr std::chrono::milliseconds cycleTimeout{300};

} // namespace

std::string OutputWatch::ChoiceFromEnvironment()
{
    const char *choice = std::getenv("TAMBLO_OUTPUT");
    return choice ? choice : "";
}

bool OutputWatch::AtSoundServer() { return PulseOutput::Wanted(); }

OutputWatch::Choice OutputWatch::Choose(std::string *error)
{
    if (choice_.empty()) {
        sink_.clear();
        SetPlaybackSink(sink_);
        return Choice::Made;
    }
    if (!AtSoundServer()) {
        *error = "The sound output '" + choice_ + "' cannot be chosen: SDL_AUDIODRIVER="
                 + std::getenv("SDL_AUDIODRIVER") + " plays into no sound server";
        return Choice::Unavailable;
    }
    const SoundOutputList list = ListSoundOutputs();
    if (!list.serverReached) {
        *error = "The sound output '" + choice_ + "' cannot be chosen: " + list.error;
        return Choice::Unavailable;
    }
    const std::optional<SoundOutput> output = ChooseOutput(list.outputs, choice_, error);
    if (!output)
        return Choice::Unknown;
    sink_ = output->name;
    description_ = output->description;
    SetPlaybackSink(sink_);
    return Choice::Made;
}

void OutputWatch::Measure(const std::string &path)
{
    SoundAnalysis analysis;
    if (AnalyseSound(path, analysis, RecordingMeasureMs) == MMSYSERR_NOERROR)
        file_ = std::move(analysis);
    else
        file_.reset();
}

std::string OutputWatch::Refusal()
{
    if (!AtSoundServer())
        return {};
    const ChosenOutput chosen = CheckChosenOutput(sink_, minimumDb_);
    if (chosen.output) {
        description_ = chosen.output->description;
        gainDb_ = chosen.output->volumeDb;
    }
    const bool refused =
        chosen.readiness == OutputReadiness::Refused || chosen.readiness == OutputReadiness::UnknownChoice;
    return refused ? chosen.message : std::string();
}

void OutputWatch::Listen()
{
    playingSince_.reset();
    std::string error;
    listening_ = AtSoundServer() && monitor_.Start(sink_, &error, monitorTimeout);
    if (AtSoundServer())
        changes_.Start(sink_, minimumDb_, &error, monitorTimeout);
}

// A sound started at a moment of the cycle plays from the next cycle on: started just before one
// begins, it is heard within a few milliseconds of the command's end, at any size of cycle.
void OutputWatch::AwaitCycle(std::chrono::microseconds commandTime)
{
    if (!listening_)
        return;
    const std::optional<OutputMonitor::Cycle> cycle = monitor_.NextCycle(cycleTimeout);
    if (!cycle)
        return;
    Clock::time_point at = cycle->next - commandTime - CycleMargin;
    const Clock::time_point now = Clock::now();
    if (at < now)
        at += cycle->period * ((now - at) / cycle->period + 1);
    std::this_thread::sleep_until(at);
}

void OutputWatch::Playing() { playingSince_ = Clock::now(); }

SoundLevel OutputWatch::Live() const { return listening_ ? monitor_.Live() : SoundLevel{}; }

OutputWatch::Hearing OutputWatch::Finish(std::int32_t playedMs)
{
    changes_.Stop();
    Hearing hearing;
    if (!listening_)
        return hearing;
    listening_ = false;
    monitor_.Settle(std::chrono::milliseconds(200));
    monitor_.Stop();
    HeardTimeline heard = monitor_.Timeline();
    heard.settled = true;
    const std::vector<HeardBlock> &blocks = heard.blocks;
    if (blocks.empty() || !playingSince_)
        return hearing;
    hearing.listened = true;
    hearing.output = description_.empty() ? sink_ : description_;
    hearing.level = monitor_.Overall(*playingSince_ - Latency);
    if (file_)
        hearing.silence = silenceIn(heard, playedMs, true).value_or(SilenceAtOutput{});
    return hearing;
}

OutputWatch::Hearing OutputWatch::SoFar(std::int32_t playedMs) const
{
    Hearing hearing;
    if (!listening_ || !playingSince_ || !file_)
        return hearing;
    const std::optional<SilenceAtOutput> silence = silenceIn(monitor_.Timeline(), playedMs, false);
    hearing.listened = silence.has_value();
    hearing.output = description_.empty() ? sink_ : description_;
    hearing.silence = silence.value_or(SilenceAtOutput{});
    return hearing;
}

std::optional<OutputWatch::Clock::time_point> OutputWatch::LastHeard() const
{
    return listening_ ? monitor_.LastArrival() : std::nullopt;
}

// Where the file's first frame left the output: placed by the first sound heard, which follows
// the file's leading silence; where nothing came in time, at the start of the play. While the
// recording goes on, nothing is judged before the start is known.
std::optional<SilenceAtOutput> OutputWatch::silenceIn(const HeardTimeline &heard, std::int32_t playedMs,
                                                      bool ended) const
{
    const Clock::time_point played = *playingSince_;
    Clock::time_point start = played;
    const auto lead = std::chrono::milliseconds(file_->leadingSilenceMs);
    const auto first = std::find_if(heard.blocks.begin(), heard.blocks.end(), [&](const HeardBlock &block) {
        return !Verdict::IsSilent(block.level.peakDb) && block.start >= played - Latency;
    });
    if (first != heard.blocks.end() && first->start - lead <= played + StartAllowance)
        start = std::max(played, first->start - lead);
    else if (!ended && Clock::now() < played + lead + StartAllowance)
        return std::nullopt;
    return FindSilenceAtOutput(file_->envelopeDb, heard, start, Latency, start + std::chrono::milliseconds(playedMs),
                               gainDb_ - Verdict::SilenceHeadroomDb);
}
