#pragma once

// The sound outputs (the sound server's sinks) that the prompt can be played into, the choice of
// one by the operator, and the check before a recording that the chosen one will be heard. Asked
// of the sound server over a short-lived connection; where no server answers (plain ALSA) there
// is nothing to list or check.

#include "recorder/Verdict.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct pa_sink_info;

enum class OutputState { Running, Idle, Suspended, Unknown };

struct SoundOutput {
    // The server's name for it ("alsa_output.usb-0d8c_USB_Sound_Device-00.analog-stereo").
    std::string name;
    // What the desktop calls it ("USB Sound Device Analog Stereo").
    std::string description;
    // The sound card's own name, and the bus it sits on ("usb", "pci", "bluetooth"); empty when
    // the server does not say (a virtual output).
    std::string card;
    std::string bus;
    // The source that carries what the output plays.
    std::string monitor;
    bool isDefault = false;
    bool muted = false;
    // The loudest channel's volume: in percent (100 = unchanged) and in dB (-inf at 0 %).
    int volumePercent = 0;
    double volumeDb = 0;
    OutputState state = OutputState::Unknown;
    // The active port (connector), when the output has ports, and whether the server knows that
    // nothing is plugged into it.
    std::string activePort;
    bool unplugged = false;
};

// How long the sound server may take to answer before it counts as absent.
constexpr std::chrono::milliseconds DefaultServerTimeout{3000};

struct SoundOutputList {
    // False when no sound server answered; error then says why.
    bool serverReached = false;
    std::string error;
    std::vector<SoundOutput> outputs;
};

// An output as the server describes its sink.
SoundOutput SoundOutputOf(const pa_sink_info &sink);

// The outputs in the server's order; monitors, which are sources, are not among them.
SoundOutputList ListSoundOutputs(std::chrono::milliseconds timeout = DefaultServerTimeout);

// The operator's choice among the outputs: an exact name, else a description equal to the
// choice or, failing that, a single description that contains it, ignoring case. An empty choice
// is the default output. Nothing when the choice fits none or several; error then says so and
// lists the outputs that exist.
std::optional<SoundOutput> ChooseOutput(const std::vector<SoundOutput> &outputs, const std::string &choice,
                                        std::string *error);

// "31 % (−30.0 dB)"; "0 % (−inf dB)" for an output turned all the way down.
std::string FormatVolume(const SoundOutput &output);
// "running", "idle", "suspended" or "unknown".
const char *OutputStateName(OutputState state);

enum class OutputProblem { None, Muted, TooQuiet, NothingPlugged };

struct OutputVerdict {
    OutputProblem problem = OutputProblem::None;
    // What is wrong, naming the output ("The output 'Built-in Audio Analog Stereo' is muted").
    std::string message;
};

// Whether sound played into the output would be heard: not muted, not below minimumDb, not
// suspended with nothing plugged into its port.
OutputVerdict CheckOutput(const SoundOutput &output, double minimumDb = Verdict::DefaultMinimumVolumeDb);

enum class OutputReadiness {
    Ready,
    // No sound server answered: nothing can be said, and the recording goes on.
    NoServer,
    // The choice fits no output, or several.
    UnknownChoice,
    // The output would not be heard (see problem).
    Refused,
};

struct ChosenOutput {
    OutputReadiness readiness = OutputReadiness::NoServer;
    OutputProblem problem = OutputProblem::None;
    // Why it is not ready: the server's absence, the unknown choice with the outputs that exist,
    // or what is wrong with the output.
    std::string message;
    // The output chosen (Ready and Refused).
    std::optional<SoundOutput> output;
};

// All of it before a recording: asks the server, resolves the choice (empty: the default output)
// and checks the output.
ChosenOutput CheckChosenOutput(const std::string &choice, double minimumDb = Verdict::DefaultMinimumVolumeDb,
                               std::chrono::milliseconds timeout = DefaultServerTimeout);
