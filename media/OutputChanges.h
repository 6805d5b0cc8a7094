#pragma once

// What becomes of the output while a recording plays into it, told by the sound server the moment
// it happens: the output muted, turned down below the limit or removed, or this program's sound
// moved from it to another output. The output's monitor would only show the silence that follows,
// and only once the recording is over.

#include "media/SoundOutputs.h"

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

class PulseConnection;
struct pa_context;
struct pa_sink_info;
struct pa_sink_input_info;

class OutputChanges {
public:
    using Clock = std::chrono::steady_clock;

    struct Change {
        enum Kind { None, Moved, Muted, TurnedDown, Removed };
        Kind kind = None;
        // When the server told of it.
        Clock::time_point at{};
        // The output, as the desktop calls it; where the sound went (Moved; empty when that output
        // went too); the volume it was turned down to ("20 % (−41.9 dB)") and the limit it is
        // below (TurnedDown).
        std::string output;
        std::string movedTo;
        std::string volume;
        double minimumDb = 0;
    };

    OutputChanges();
    ~OutputChanges();
    OutputChanges(const OutputChanges &) = delete;
    OutputChanges &operator=(const OutputChanges &) = delete;

    // Follows the output (its name; empty: the default output) on a connection of its own; false,
    // with the reason, when the server does not answer in time or has no such output. What the
    // output already was when this starts (muted or turned down, and recorded onto anyway) is no
    // change.
    bool Start(const std::string &sink, double minimumDb, std::string *error, std::chrono::milliseconds timeout);
    void Stop();
    // The first change since Start; None while there was none.
    Change First() const;

private:
    // A question to the server about an event, kept until its answer has come.
    struct Look {
        enum What { Chosen, Stream, Destination };
        OutputChanges *self = nullptr;
        What what = Chosen;
        Clock::time_point at{}; // the event's
        // Chosen, Destination: the output, as the server described it.
        bool found = false;
        SoundOutput output;
        // Stream: the other output that this program's sound now plays into.
        std::uint32_t movedTo = std::uint32_t(-1);
    };

    bool follow(const std::string &sink, double minimumDb, std::string *error, Clock::time_point deadline);
    void onEvent(unsigned event, std::uint32_t index);
    void ask(Look::What what, std::uint32_t index, Clock::time_point at);
    void answered(Look &look);
    bool ours(const pa_sink_input_info &stream) const;
    void tell(Change::Kind kind, Clock::time_point at, const std::string &movedTo = {}, const std::string &volume = {});
    static void SinkLooked(pa_context *, const pa_sink_info *info, int last, void *look);
    static void StreamLooked(pa_context *, const pa_sink_input_info *info, int last, void *look);

    std::unique_ptr<PulseConnection> connection_;
    // Under the loop's lock.
    bool following_ = false; // false: the answers still coming are not looked at
    std::uint32_t sinkIndex_ = std::uint32_t(-1);
    std::string description_;
    double minimumDb_ = 0;
    bool wasMuted_ = false;
    bool wasTurnedDown_ = false;
    std::string processId_;
    std::list<Look> looks_;

    mutable std::mutex mutex_; // guards change_: the loop thread writes it, callers read it
    Change change_;
};
