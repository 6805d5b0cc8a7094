#include "media/OutputMonitor.h"

#include "media/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

// What the live meter shows, and how long the monitor may deliver nothing before it reads silent.
constexpr int liveBlocks = 10;
constexpr auto liveStale = std::chrono::milliseconds(200);
// The monitor is read in batches this far apart (see Start).
constexpr auto batchInterval = std::chrono::milliseconds(20);
// How much of what the output played the server keeps for the monitor until it is read.
constexpr int holdsMs = 11000;

Clock::duration FramesTime(std::int64_t frames, int rate)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(frames) / rate));
}

SoundLevel LevelOf(float peak, double meanSquare)
{
    return {AmplitudeToDb(peak), meanSquare > 0 ? 10.0 * std::log10(meanSquare) : -INFINITY};
}

struct SinkLookup {
    PulseConnection *connection = nullptr;
    bool done = false;
    bool found = false;
    std::string monitor;
    pa_sample_spec layout{};
    pa_channel_map map{};
    bool pipeWire = false;
};

} // namespace

OutputMonitor::OutputMonitor() = default;

OutputMonitor::~OutputMonitor() { Stop(); }

bool OutputMonitor::Start(const std::string &sink, std::string *error, std::chrono::milliseconds timeout)
{
    Stop();
    const Clock::time_point deadline = Clock::now() + timeout;
    auto connection = std::make_unique<PulseConnection>("output-monitor");
    if (!connection->Connect(timeout, error))
        return false;
    PulseConnection::Lock lock(*connection);

    // The monitor plays at the output's own rate and channels: asking for those needs no
    // conversion in the server, and a sound on one channel only is measured at its level.
    SinkLookup lookup;
    lookup.connection = connection.get();
    const bool answered =
        connection->Complete(pa_context_get_sink_info_by_name(
                                 connection->Context(), sink.empty() ? "@DEFAULT_SINK@" : sink.c_str(),
                                 [](pa_context *, const pa_sink_info *info, int last, void *data) {
                                     auto &lookup = *static_cast<SinkLookup *>(data);
                                     if (info && last == 0) {
                                         lookup.found = true;
                                         lookup.monitor = info->monitor_source_name ? info->monitor_source_name : "";
                                         lookup.layout = info->sample_spec;
                                         lookup.map = info->channel_map;
                                     }
                                     if (last != 0)
                                         lookup.done = true;
                                     lookup.connection->Signal();
                                 },
                                 &lookup),
                             deadline);
    const std::string what = sink.empty() ? "the default output" : "the output '" + sink + "'";
    if (!answered || !lookup.done) {
        *error = "the sound server did not describe " + what + " in time";
        return false;
    }
    if (!lookup.found || lookup.monitor.empty()) {
        *error = lookup.found ? what + " has no monitor to listen to" : "there is no sound output '" + sink + "'";
        return false;
    }
    // Whether the server plays in graph cycles; unknown counts as not.
    connection->Complete(pa_context_get_server_info(
                             connection->Context(),
                             [](pa_context *, const pa_server_info *info, void *data) {
                                 auto &lookup = *static_cast<SinkLookup *>(data);
                                 lookup.pipeWire = ServedByPipeWire(info);
                                 lookup.connection->Signal();
                             },
                             &lookup),
                         deadline);

    const pa_sample_spec layout{PA_SAMPLE_FLOAT32NE, lookup.layout.rate, lookup.layout.channels};
    std::unique_ptr<pa_proplist, void (*)(pa_proplist *)> properties(pa_proplist_new(), pa_proplist_free);
    pa_proplist_sets(properties.get(), PA_PROP_MEDIA_NAME, "Output level");
    pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, "production");
    stream_ = pa_stream_new_with_proplist(connection->Context(), "Output level", &layout,
                                          pa_channel_map_valid(&lookup.map) ? &lookup.map : nullptr, properties.get());
    if (!stream_) {
        *error = "the monitor of " + what + " cannot be recorded (" + connection->LastError() + ")";
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        rate_ = int(layout.rate);
        channels_ = int(layout.channels);
        blockFrames_ = std::max<std::int64_t>(1, rate_ / 100);
        frames_ = 0;
        blockPeak_ = 0;
        blockSquares_ = 0;
        blockFill_ = 0;
        blocks_.clear();
        silentRuns_.clear();
        silentFrom_ = -1;
        chunks_.clear();
        lostAt_.reset();
    }
    stopping_ = false;
    pa_stream_set_read_callback(
        stream_, [](pa_stream *, std::size_t, void *self) { static_cast<OutputMonitor *>(self)->onRead(); }, this);
    pa_stream_set_state_callback(
        stream_, [](pa_stream *, void *self) { static_cast<OutputMonitor *>(self)->onStateChange(); }, this);
    connection_ = std::move(connection);
    pipeWire_ = lookup.pipeWire;

    // 40 ms fragments: the level is known well within the 200 ms a silence may last, and a
    // smaller fragment would ask PipeWire for a smaller quantum, which a busy machine cannot keep.
    // The server keeps what the output played, unread, for as long as a prompt lasts: a process
    // kept from running reads it late, and never finds it missing.
    pa_buffer_attr attributes{};
    attributes.maxlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(holdsMs) * PA_USEC_PER_MSEC, &layout));
    attributes.fragsize = std::uint32_t(pa_usec_to_bytes(40000, &layout));
    attributes.tlength = attributes.prebuf = attributes.minreq = std::uint32_t(-1);
    // Stays on this output: should it go away, the stream ends instead of hearing another one.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, lookup.monitor.c_str(), &attributes, flags) < 0
        || !connection_->WaitUntil([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; }, deadline)
        || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        *error = "the monitor of " + what + " cannot be recorded (" + connection_->LastError() + ")";
        stopping_ = true;
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
        return false;
    }
    // The level is wanted a few times a second: batches of 20 ms keep the wake-ups few where a
    // low-latency client elsewhere makes the server send a block every few milliseconds. The
    // reads that now and then wait for the next packet place the frames on the clock (see Blocks).
    connection_->SetWakeInterval(batchInterval);
    return true;
}

void OutputMonitor::Settle(std::chrono::milliseconds timeout)
{
    if (!connection_)
        return;
    PulseConnection::Lock lock(*connection_);
    if (!stream_)
        return;
    const int before = readOnArrival_;
    connection_->ReadNextOnArrival();
    connection_->WaitUntil([&] { return readOnArrival_ > before; }, Clock::now() + timeout);
}

std::optional<OutputMonitor::Cycle> OutputMonitor::NextCycle(std::chrono::milliseconds timeout)
{
    if (!connection_)
        return {};
    PulseConnection::Lock lock(*connection_);
    if (!stream_ || !pipeWire_)
        return {};
    const auto delivered = [this] {
        std::lock_guard<std::mutex> guard(mutex_);
        return chunks_.size();
    };
    // Read at every delivery for a moment, so that each is stamped as it comes; the first may
    // have lain in the socket.
    connection_->SetWakeInterval(std::chrono::milliseconds(0));
    const std::size_t before = delivered();
    const bool seen =
        connection_->WaitUntil([&] { return delivered() >= before + 3; }, Clock::now() + timeout);
    connection_->SetWakeInterval(batchInterval);
    if (!seen)
        return {};
    std::lock_guard<std::mutex> guard(mutex_);
    const Clock::time_point last = chunks_.back().second;
    const Clock::duration period = last - chunks_[chunks_.size() - 2].second;
    if (period <= Clock::duration::zero())
        return {};
    return Cycle{last + period, period};
}

void OutputMonitor::Stop()
{
    if (!connection_)
        return;
    {
        PulseConnection::Lock lock(*connection_);
        stopping_ = true;
        if (stream_) {
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }
    connection_.reset();
}

void OutputMonitor::onStateChange()
{
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (!stopping_ && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!lostAt_)
            lostAt_ = Clock::now();
    }
    connection_->Signal();
}

void OutputMonitor::onRead()
{
    const Clock::time_point arrival = Clock::now();
    if (connection_->ReadOnArrival())
        ++readOnArrival_;
    for (;;) {
        const void *data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0)
            break;
        std::lock_guard<std::mutex> guard(mutex_);
        // A hole is sound the server did not deliver: nothing was heard there.
        const std::size_t frames = bytes / (sizeof(float) * std::size_t(channels_));
        addFrames(static_cast<const float *>(data), frames, arrival);
        pa_stream_drop(stream_);
    }
    // Settle and NextCycle wait for reads.
    connection_->Signal();
}

void OutputMonitor::addFrames(const float *samples, std::size_t frames, Clock::time_point arrival)
{
    const float silence = float(std::pow(10.0, Verdict::SilenceDb / 20.0));
    const std::int64_t shortestRun = std::max<std::int64_t>(1, rate_ * SilentRunMin.count() / 1000);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        float loudest = 0;
        if (samples) {
            for (int channel = 0; channel < channels_; ++channel) {
                const float sample = samples[frame * std::size_t(channels_) + std::size_t(channel)];
                loudest = std::max(loudest, std::fabs(sample));
                blockSquares_ += double(sample) * sample;
            }
            blockPeak_ = std::max(blockPeak_, loudest);
        }
        // A stretch is silent to the frame: a hole in a sound shows whatever 10 ms it straddles.
        // What the server did not deliver is not known to be silent.
        const std::int64_t at = frames_ + std::int64_t(frame);
        if (samples && loudest < silence) {
            if (silentFrom_ < 0)
                silentFrom_ = at;
        } else if (silentFrom_ >= 0) {
            if (at - silentFrom_ >= shortestRun)
                silentRuns_.emplace_back(silentFrom_, at);
            silentFrom_ = -1;
        }
        if (++blockFill_ == blockFrames_) {
            blocks_.push_back({at + 1, blockPeak_, blockSquares_ / double(blockFrames_ * channels_)});
            blockPeak_ = 0;
            blockSquares_ = 0;
            blockFill_ = 0;
        }
    }
    frames_ += std::int64_t(frames);
    chunks_.emplace_back(frames_, arrival);
}

// A chunk that ends at frame e and arrived at a says that frame f < e left the output no later
// than a - (e - f) / rate. The tightest bound of all the chunks from a frame on places it: chunks
// that lay in the socket a while, or came after a busy moment, loosen only their own bounds, and
// now and then one comes without delay (see PulseConnection::SetWakeInterval). Taking only the
// chunks soon after a frame would let neighbouring blocks be placed by different chunks, apart by
// as much as a chunk was late: a gap between them that reads as silence. The output's clock runs
// a little off ours, by a few milliseconds over a recording at most.
std::vector<Clock::time_point> FrameOrigins(const MonitorChunks &chunks, int rate)
{
    std::vector<Clock::time_point> origin(chunks.size());
    if (chunks.empty() || rate <= 0)
        return origin;
    origin.back() = chunks.back().second - FramesTime(chunks.back().first, rate);
    for (std::size_t i = chunks.size() - 1; i-- > 0;)
        origin[i] = std::min(origin[i + 1], chunks[i].second - FramesTime(chunks[i].first, rate));
    return origin;
}

namespace {

// Places frames on the clock by the chunk each lies in.
class FramePlacement {
public:
    FramePlacement(const MonitorChunks &chunks, int rate)
        : chunks_(chunks),
          origin_(FrameOrigins(chunks, rate)),
          rate_(rate)
    {}
    Clock::time_point At(std::int64_t frame) const
    {
        // The chunk that holds the frame: the first that ends beyond it.
        auto chunk = std::upper_bound(chunks_.begin(), chunks_.end(), frame,
                                      [](std::int64_t f, const auto &c) { return f < c.first; });
        if (chunk == chunks_.end())
            --chunk;
        return origin_[std::size_t(chunk - chunks_.begin())] + FramesTime(frame, rate_);
    }

private:
    const MonitorChunks &chunks_;
    std::vector<Clock::time_point> origin_;
    int rate_;
};

} // namespace

std::vector<HeardBlock> OutputMonitor::blocks() const
{
    std::vector<HeardBlock> heard;
    if (chunks_.empty())
        return heard;
    const FramePlacement place(chunks_, rate_);
    const Clock::duration length = FramesTime(blockFrames_, rate_);
    heard.reserve(blocks_.size());
    for (const Block &block : blocks_) {
        const Clock::time_point start = place.At(block.end - blockFrames_);
        heard.push_back({start, start + length, LevelOf(block.peak, block.meanSquare)});
    }
    return heard;
}

// A silent stretch ends where its last frame ends; one going on, where the frames read end.
std::vector<HeardSpan> OutputMonitor::silences() const
{
    std::vector<HeardSpan> spans;
    if (chunks_.empty())
        return spans;
    const FramePlacement place(chunks_, rate_);
    const Clock::duration frame = FramesTime(1, rate_);
    const auto add = [&](std::int64_t first, std::int64_t end) {
        const Clock::time_point start = place.At(first);
        spans.push_back({start, std::max(start, place.At(end - 1) + frame)});
    };
    for (const auto &[first, end] : silentRuns_)
        add(first, end);
    if (silentFrom_ >= 0 && frames_ > silentFrom_)
        add(silentFrom_, frames_);
    return spans;
}

std::vector<HeardBlock> OutputMonitor::Blocks() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return blocks();
}

HeardTimeline OutputMonitor::Timeline() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return {blocks(), silences(), lostAt_, false};
}

SoundLevel OutputMonitor::Live() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (chunks_.empty() || Clock::now() - chunks_.back().second > liveStale)
        return {};
    float peak = 0;
    double squares = 0;
    const std::size_t count = std::min<std::size_t>(blocks_.size(), liveBlocks);
    for (std::size_t i = blocks_.size() - count; i < blocks_.size(); ++i) {
        peak = std::max(peak, blocks_[i].peak);
        squares += blocks_[i].meanSquare;
    }
    return count ? LevelOf(peak, squares / double(count)) : SoundLevel{};
}

SoundLevel OutputMonitor::Overall(Clock::time_point from, Clock::time_point to) const
{
    const std::vector<HeardBlock> heard = Blocks();
    double peak = -INFINITY;
    double energy = 0;
    std::size_t count = 0;
    for (const HeardBlock &block : heard) {
        if (block.start < from || block.end > to)
            continue;
        peak = std::max(peak, block.level.peakDb);
        energy += std::pow(10.0, block.level.rmsDb / 10.0);
        ++count;
    }
    return {peak, count && energy > 0 ? 10.0 * std::log10(energy / double(count)) : -INFINITY};
}

std::optional<Clock::time_point> OutputMonitor::LastArrival() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return chunks_.empty() ? std::nullopt : std::optional<Clock::time_point>(chunks_.back().second);
}

std::optional<Clock::time_point> OutputMonitor::LostAt() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return lostAt_;
}

int OutputMonitor::Rate() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return rate_;
}

int OutputMonitor::Channels() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return channels_;
}

SilenceAtOutput FindSilenceAtOutput(const std::vector<float> &fileEnvelopeDb, const HeardTimeline &heard,
                                    Clock::time_point soundStart, std::chrono::milliseconds latency,
                                    Clock::time_point until, double gainDb)
{
    SilenceAtOutput result;
    const std::vector<HeardBlock> &blocks = heard.blocks;
    if (blocks.empty())
        return result;
    // Where the output was silent or heard nothing, in order and joined.
    std::vector<HeardSpan> quiet = heard.silences;
    // A gap between blocks is sound that never arrived, where it is longer than the placing can be
    // off: frames that a sink rendered ahead of time come early, and those after them on time.
    // (A stream that ran dry is no gap: the output plays silence, and the monitor hears it.)
    constexpr auto wobble = std::chrono::milliseconds(100);
    if (blocks.front().start > soundStart + wobble)
        quiet.push_back({soundStart, blocks.front().start});
    for (std::size_t i = 1; i < blocks.size() && heard.settled; ++i) {
        if (blocks[i].start > blocks[i - 1].end + wobble)
            quiet.push_back({blocks[i - 1].end, blocks[i].start});
    }
    // What the monitor has not delivered yet is not silence; after it was lost, nothing was heard.
    if (heard.lostAt)
        quiet.push_back({std::min(blocks.back().end, *heard.lostAt), until});
    std::sort(quiet.begin(), quiet.end(), [](const HeardSpan &a, const HeardSpan &b) { return a.start < b.start; });
    std::vector<HeardSpan> joined;
    for (const HeardSpan &span : quiet) {
        if (span.end <= span.start)
            continue;
        if (!joined.empty() && span.start <= joined.back().end)
            joined.back().end = std::max(joined.back().end, span.end);
        else
            joined.push_back(span);
    }

    // Where the file sounds, with `latency` of its sound on either side, in stretches of blocks.
    const std::int64_t count = std::int64_t(fileEnvelopeDb.size());
    const std::int64_t margin = (latency.count() + LevelBlock.count() - 1) / LevelBlock.count();
    // quietBefore[k]: the file's silent blocks before block k, so that a window is checked at once.
    std::vector<std::int64_t> quietBefore(std::size_t(count) + 1, 0);
    for (std::int64_t k = 0; k < count; ++k)
        quietBefore[std::size_t(k) + 1] =
            quietBefore[std::size_t(k)] + Verdict::IsSilent(fileEnvelopeDb[std::size_t(k)] + gainDb);
    std::vector<HeardSpan> sounding;
    for (std::int64_t k = margin; k + margin < count; ++k) {
        if (quietBefore[std::size_t(k + margin + 1)] != quietBefore[std::size_t(k - margin)])
            continue;
        const Clock::time_point start = soundStart + k * LevelBlock;
        if (!sounding.empty() && sounding.back().end == start)
            sounding.back().end = start + LevelBlock;
        else
            sounding.push_back({start, start + LevelBlock});
    }

    // Both lists are in order: walk them side by side.
    std::size_t s = 0;
    for (const HeardSpan &gap : joined) {
        while (s < sounding.size() && sounding[s].end <= gap.start)
            ++s;
        for (std::size_t t = s; t < sounding.size() && sounding[t].start < gap.end; ++t) {
            const Clock::time_point from = std::max(gap.start, sounding[t].start);
            const Clock::time_point to = std::min({gap.end, sounding[t].end, until});
            if (to <= from)
                continue;
            const auto length = std::chrono::round<std::chrono::milliseconds>(to - from);
            result.total += length;
            if (length > result.longest) {
                result.longest = length;
                result.longestFrom = std::chrono::round<std::chrono::milliseconds>(from - soundStart);
            }
        }
    }
    return result;
}
