#pragma once

// The sound output that a recording plays into, looked after for the recorder: the operator's
// choice found among the sound server's outputs (the media system then plays into it), checked
// before the device is told to record, and listened to while it records, against what the file
// holds. Where the sound goes to no sound server, or none answers, there is nothing to choose,
// check or hear, and nothing is said.

#include "media/OutputChanges.h"
#include "media/OutputMonitor.h"
#include "media/SoundAnalysis.h"
#include "media/SoundOutputs.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class OutputWatch {
public:
    using Clock = std::chrono::steady_clock;

    // How late the output may play the file's start and still be placed by what it played, and
    // how far either way a block of the file may lie from where it is expected.
    static constexpr std::chrono::milliseconds StartAllowance{Verdict::LateStartMs};
    static constexpr std::chrono::milliseconds Latency{Verdict::OutputLatencyMs};
    // How long before a cycle of the output begins a sound's start must reach the server.
    static constexpr std::chrono::milliseconds CycleMargin{3};

    enum class Choice {
        Made,
        // The choice fits no output, or several: the error lists the outputs.
        Unknown,
        // The sound goes to no sound server, or none answers: no output can be chosen.
        Unavailable,
    };

    struct Hearing {
        // False where there was nothing to listen to (no monitor, no server, nothing measured).
        bool listened = false;
        // The output's description.
        std::string output;
        SoundLevel level;
        SilenceAtOutput silence;
    };

    // The choice as TAMBLO_OUTPUT gives it.
    static std::string ChoiceFromEnvironment();
    // Whether the media system plays into a sound server (SDL_AUDIODRIVER names no other output).
    static bool AtSoundServer();

    // A name, or a unique part of a description; empty: the server's default output.
    void setChoice(const std::string &choice) { choice_ = choice; }
    const std::string &ChoiceText() const { return choice_; }
    void setMinimumDb(double db) { minimumDb_ = db; }

    // Finds the chosen output and has the media system play into it; the default needs no finding.
    Choice Choose(std::string *error);
    // Measures what the device will keep of the file (its path byte for byte); nothing when it
    // cannot be decoded.
    void Measure(const std::string &path);
    const std::optional<SoundAnalysis> &Measured() const { return file_; }
    // Where what the device keeps of the measured file is damaged: empty when it is whole.
    std::string Damage() const { return file_ ? DamageText(*file_, RecordingMeasureMs) : std::string(); }
    // What is wrong with the output the sound will go to (muted, turned down, nothing plugged
    // in, gone): empty when it will be heard or when the server cannot tell.
    std::string Refusal();

    // Starts listening to the output's monitor, where it has one, and following what becomes of
    // the output.
    void Listen();
    // Waits until a command that takes `commandTime`, sent now, ends just before the output's
    // next cycle, where the monitor shows its cycles (PipeWire); at once elsewhere.
    void AwaitCycle(std::chrono::microseconds commandTime);
    // The file's sound starts now.
    void Playing();
    bool Listening() const { return listening_; }
    // The level of the last moment heard.
    SoundLevel Live() const;
    // The first change to the output since Listen (muted, turned down, removed, the sound moved
    // elsewhere); None while there was none, and where the server cannot tell.
    OutputChanges::Change Change() const { return changes_.First(); }
    // Stops listening and tells what was heard while the file played its first playedMs.
    Hearing Finish(std::int32_t playedMs);
    // While listening: the silences heard so far, against the file's first playedMs; nothing
    // listened to before the sound's start at the output is known.
    Hearing SoFar(std::int32_t playedMs) const;
    // While listening: when the monitor last delivered sound.
    std::optional<Clock::time_point> LastHeard() const;

private:
    std::optional<SilenceAtOutput> silenceIn(const HeardTimeline &heard, std::int32_t playedMs, bool ended) const;
    std::string choice_;
    double minimumDb_ = Verdict::DefaultMinimumVolumeDb;
    std::string sink_; // the chosen output's name; empty: the default
    // The output as last checked: what to call it, and its volume.
    std::string description_;
    double gainDb_ = 0;
    std::optional<SoundAnalysis> file_;
    OutputMonitor monitor_;
    OutputChanges changes_;
    bool listening_ = false;
    std::optional<Clock::time_point> playingSince_;
};
