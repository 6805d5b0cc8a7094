#pragma once

// What actually left the machine: the chosen output's monitor recorded on a stream of its own
// while a recording runs, measured in blocks of 10 ms, and compared with what the file holds.

#include "media/SoundLevel.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class PulseConnection;
struct pa_stream;

// One block heard at the output: when it was played (its first and last moment) and its level.
struct HeardBlock {
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point end;
    SoundLevel level;
};

// A stretch of the output's sound, from its first moment to the moment after its last.
struct HeardSpan {
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point end;
};

// What the output played while it was listened to, on the steady clock.
struct HeardTimeline {
    // Every block heard, in order: where something was heard at all, and how loud.
    std::vector<HeardBlock> blocks;
    // Where the output was silent, to the frame, in stretches of SilentRunMin or more.
    std::vector<HeardSpan> silences;
    // When the monitor was lost: from then on nothing was heard. Until then, what it has not
    // delivered yet is not known, and not silence.
    std::optional<std::chrono::steady_clock::time_point> lostAt;
    // Whether the blocks' places are settled (the last sound was read as it came). Until then a
    // gap between blocks may be the placing's own: sound read late, in a burst, is placed by the
    // chunks after it once they have come.
    bool settled = true;
};

// The shortest silence at the output that is kept, to the frame: shorter ones are a sound's own.
constexpr std::chrono::milliseconds SilentRunMin{5};

// Chunks as the monitor read them: the frames up to a chunk's end, and when it arrived.
using MonitorChunks = std::vector<std::pair<std::int64_t, std::chrono::steady_clock::time_point>>;
// When frame 0 left the output, by each chunk and every chunk after it (see OutputMonitor::Blocks).
std::vector<std::chrono::steady_clock::time_point> FrameOrigins(const MonitorChunks &chunks, int rate);

class OutputMonitor {
public:
    using Clock = std::chrono::steady_clock;

    OutputMonitor();
    ~OutputMonitor();
    OutputMonitor(const OutputMonitor &) = delete;
    OutputMonitor &operator=(const OutputMonitor &) = delete;

    // Starts listening to the output's monitor (sink: its name; empty: the default output).
    // False with the reason when there is no sound server, no such output, or it has no monitor.
    bool Start(const std::string &sink, std::string *error,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Waits, up to the timeout, until some sound is read the moment it comes: what was heard
    // before is then placed on the clock as exactly as the rest (the batches read last came in
    // while the reading slept, and would place the end of what was heard a little late).
    void Settle(std::chrono::milliseconds timeout);
    // Stops listening; what was heard stays.
    void Stop();

    // PipeWire hands the monitor its sound as a graph cycle ends, every cycle or every few.
    struct Cycle {
        Clock::time_point next;  // when the next delivery is due
        Clock::duration period;  // a whole number of cycles
    };
    // By the last two of three deliveries, each read as it comes, within the timeout; nothing at a
    // server that plays a new stream at once (PulseAudio), or when they did not come in time.
    std::optional<Cycle> NextCycle(std::chrono::milliseconds timeout);

    // The level of the last 100 ms heard, for a live meter.
    SoundLevel Live() const;
    // The level of everything heard between two moments (default: all of it).
    SoundLevel Overall(Clock::time_point from = Clock::time_point::min(),
                       Clock::time_point to = Clock::time_point::max()) const;
    // Every block heard so far, in order, placed on the steady clock.
    std::vector<HeardBlock> Blocks() const;
    // The blocks, the silences to the frame, and whether the monitor was lost, in one look.
    HeardTimeline Timeline() const;
    // When the last chunk of sound arrived, if any did.
    std::optional<Clock::time_point> LastArrival() const;
    // When the stream or the server was lost while listening (the sound server ended, the output
    // was removed), else nothing: from then on nothing was heard.
    std::optional<Clock::time_point> LostAt() const;
    // The monitor's sample rate and channels (0 before Start).
    int Rate() const;
    int Channels() const;

private:
    void onRead();
    void onStateChange();
    void addFrames(const float *samples, std::size_t frames, Clock::time_point arrival);
    // Under the lock.
    std::vector<HeardBlock> blocks() const;
    std::vector<HeardSpan> silences() const;

    std::unique_ptr<PulseConnection> connection_;
    pa_stream *stream_ = nullptr;
    bool stopping_ = false; // under the loop's lock
    int readOnArrival_ = 0; // under the loop's lock: reads that came the moment they were sent
    bool pipeWire_ = false; // the server is PipeWire's PulseAudio side

    mutable std::mutex mutex_; // guards what follows; the loop thread writes, callers read
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t blockFrames_ = 0;
    std::int64_t frames_ = 0;
    // The block being filled.
    float blockPeak_ = 0;
    double blockSquares_ = 0;
    std::int64_t blockFill_ = 0;
    // Finished blocks: their last frame (exclusive), peak and mean square, linear.
    struct Block {
        std::int64_t end;
        float peak;
        double meanSquare;
    };
    std::vector<Block> blocks_;
    // Silent stretches of SilentRunMin or more, in frames [first, end), and the start of the one
    // going on (-1: none).
    std::vector<std::pair<std::int64_t, std::int64_t>> silentRuns_;
    std::int64_t silentFrom_ = -1;
    // For every chunk read: the frames up to its end, and when it arrived.
    MonitorChunks chunks_;
    std::optional<Clock::time_point> lostAt_;
};

// How long the output stayed silent while the file had sound there.
struct SilenceAtOutput {
    // The longest silent stretch, and where it began in the file.
    std::chrono::milliseconds longest{0};
    std::chrono::milliseconds longestFrom{0};
    // All silent stretches together.
    std::chrono::milliseconds total{0};
};

// Lays the file's envelope (peak dBFS per LevelBlock, from its start) on the output's timeline,
// beginning at soundStart, the moment the file's first frame left the output, and finds the
// stretches during which the file had sound but the output was silent, or heard nothing at all
// (a gap between blocks, or after the monitor was lost). The output may run up to `latency`
// early or late: only where the file's sound lasts that long on either side counts. Nothing
// after `until` counts (the recording stopped), nor what the monitor has not delivered yet. The
// output plays the file turned by gainDb (its volume): a passage that it turns down to silence
// is no sound to miss.
SilenceAtOutput FindSilenceAtOutput(const std::vector<float> &fileEnvelopeDb, const HeardTimeline &heard,
                                    std::chrono::steady_clock::time_point soundStart, std::chrono::milliseconds latency,
                                    std::chrono::steady_clock::time_point until, double gainDb = 0);
