#pragma once

// The outputs the tests choose among, added to a private sound server beside its own sink "rec",
// which stays the default: "chosen" (described "Chosen Output"), "muted" ("Muted Output", muted)
// and "quiet" ("Quiet Output", at -30 dB).

#include "tests/common/SoundSink.h"

#include <string>
#include <sys/types.h>
#include <vector>

class TestOutputs {
public:
    explicit TestOutputs(const SoundSink &sink) : sink_(sink) {}
    bool Add(std::string *error);
    // Runs pactl at the server; its output ("ok" when it had none), or empty when it failed.
    std::string Pactl(const std::string &arguments) const;
    // Plays a file into an output until the returned process is ended. Each player has a name of
    // its own, so that no state a session manager kept of an earlier one applies to it.
    pid_t Play(const std::string &output, const std::string &file);
    // The module that made "chosen".
    const std::string &ChosenModule() const { return modules_.front(); }
    // The number of the server's first playback stream; empty when there is none.
    std::string FirstStream() const;

private:
    const SoundSink &sink_;
    std::vector<std::string> modules_;
    int players_ = 0;
};
