#pragma once

#include "media/AudioOutput.h"
#include "media/StreamClock.h"

#include <array>
#include <atomic>
#include <random>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

// A playback stream at a sound server that speaks the PulseAudio protocol, on its own connection
// and thread. It holds ample sound, so that a busy machine does not let the server run dry, and
// counts as played what the server says it has played (what it took from the stream, less what
// it still holds before the sink). It opens corked and empty: Prime fills it, Start uncorks it.
// A connection or stream that fails while open is reported to the source as a lost output.
class PulseOutput final : public AudioOutput {
public:
    // How much sound the stream and the server hold between them, and how often the stream asks
    // for more.
    static constexpr int latencyMs = 240;
    static constexpr int requestMs = 40;
    // The stream's name at the server, where the output watch finds it among the others.
    static constexpr const char *StreamName = "Sound file";

    // Whether the sound server is the output to try first (SDL_AUDIODRIVER names no other driver).
    static bool Wanted();
    // Whether a sound server answers.
    static bool ServerAnswers();
    static MCIERROR Open(int rate, int channels, AudioSource &source, const std::string &sink,
                         std::unique_ptr<AudioOutput> &output);
    ~PulseOutput() override;

    void Prime() override;
    void Start() override;
    void FadeHeldSound() override;
    bool Waits() const override { return true; }
    bool Started() const override { return started_; }
    std::int64_t Played(Clock::time_point now) const override;
    bool Lost() const override { return lost_; }

private:
    PulseOutput() = default;
    bool Connect(const std::string &sink);

    // On the main loop's thread, or with its lock held.
    static void ContextChanged(pa_context *context, void *self);
    static void StreamChanged(pa_stream *stream, void *self);
    static void Writable(pa_stream *stream, std::size_t bytes, void *self);
    static void RanDry(pa_stream *stream, void *self);
    static void Resumed(pa_stream *stream, void *self);
    static void Corked(pa_stream *stream, int success, void *self);
    static void TimingArrived(pa_stream *stream, int success, void *self);
    void FillLocked();
    void HandAheadLocked();
    void ArmReportLocked();
    void AwaitSinkLocked();
    void RequestTimingLocked();
    void LoseLocked();

    int rate_ = 0;
    int channels_ = 0;
    std::size_t frameBytes_ = 0;
    AudioSource *source_ = nullptr;

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    // Under the main loop's lock.
    bool open_ = false;    // handed out: failures now are losses
    bool closing_ = false; // being closed: its own disconnection is no loss
    bool primed_ = false;
    bool timingPending_ = false;
    // The sink's own latency, in microseconds, at the latest report, and how many reports came.
    std::uint64_t sinkUsec_ = 0;
    int sinkReports_ = 0;
    std::int64_t written_ = 0;
    // The most frames the server holds for the stream, as it granted.
    std::int64_t heldMost_ = 0;
    bool serverKnown_ = false;
    bool pipeWire_ = false;     // the server is PipeWire's PulseAudio side
    std::int64_t lastRead_ = 0; // its read index at the latest report
    std::int64_t quantum_ = 0;  // the frames it takes at each cycle, as far as seen
    // PipeWire: the latest steps of its read index. Reports are asked for at random moments
    // between two requests for sound, so that some pair of them lies across a single cycle.
    std::array<std::int64_t, 8> steps_{};
    std::size_t stepCount_ = 0;
    pa_time_event *report_ = nullptr;
    std::minstd_rand phase_;
    // The latest report: when it came, the server's read index then, and whether it played.
    bool reported_ = false;
    Clock::time_point reportTime_{};
    std::int64_t reportRead_ = 0;
    bool reportPlaying_ = false;

    std::atomic<bool> started_{false};
    std::atomic<bool> lost_{false};
    mutable std::mutex clockMutex_;
    StreamClock clock_; // under clockMutex_
};
