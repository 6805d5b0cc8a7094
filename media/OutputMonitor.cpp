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
    pa_buffer_attr attributes{};
    attributes.maxlength = std::uint32_t(-1);
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
    for (std::size_t frame = 0; frame < frames; ++frame) {
        if (samples) {
            for (int channel = 0; channel < channels_; ++channel) {
                const float sample = samples[frame * std::size_t(channels_) + std::size_t(channel)];
                blockPeak_ = std::max(blockPeak_, std::fabs(sample));
                blockSquares_ += double(sample) * sample;
            }
        }
        if (++blockFill_ == blockFrames_) {
            blocks_.push_back(
                {frames_ + std::int64_t(frame) + 1, blockPeak_, blockSquares_ / double(blockFrames_ * channels_)});
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
std::vector<HeardBlock> OutputMonitor::Blocks() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<HeardBlock> heard;
    if (chunks_.empty())
        return heard;
    const auto framesTime = [this](std::int64_t frames) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(frames) / rate_));
    };
    // When frame 0 left the output at the latest, by the chunks from each one on.
    std::vector<Clock::time_point> origin(chunks_.size());
    origin.back() = chunks_.back().second - framesTime(chunks_.back().first);
    for (std::size_t i = chunks_.size() - 1; i-- > 0;)
        origin[i] = std::min(origin[i + 1], chunks_[i].second - framesTime(chunks_[i].first));
    heard.reserve(blocks_.size());
    const auto length = framesTime(blockFrames_);
    std::size_t chunk = 0;
    for (const Block &block : blocks_) {
        const std::int64_t first = block.end - blockFrames_;
        while (chunk + 1 < chunks_.size() && chunks_[chunk].first <= first)
            ++chunk;
        const Clock::time_point start = origin[chunk] + framesTime(first);
        heard.push_back({start, start + length, LevelOf(block.peak, block.meanSquare)});
    }
    return heard;
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

SilenceAtOutput FindSilenceAtOutput(const std::vector<float> &fileEnvelopeDb, const std::vector<HeardBlock> &heard,
                                    Clock::time_point soundStart, std::chrono::milliseconds latency,
                                    Clock::time_point until, double gainDb)
{
    const std::int64_t blocks = std::int64_t(fileEnvelopeDb.size());
    const std::int64_t margin = (latency.count() + LevelBlock.count() - 1) / LevelBlock.count();
    // quietBefore[k]: the file's silent blocks before block k, so that a window is checked at once.
    std::vector<std::int64_t> quietBefore(std::size_t(blocks) + 1, 0);
    for (std::int64_t k = 0; k < blocks; ++k)
        quietBefore[std::size_t(k) + 1] =
            quietBefore[std::size_t(k)] + Verdict::IsSilent(fileEnvelopeDb[std::size_t(k)] + gainDb);

    SilenceAtOutput result;
    std::chrono::milliseconds run{0};
    std::size_t next = 0;
    for (std::int64_t k = 0; k < blocks; ++k) {
        const Clock::time_point slotStart = soundStart + k * LevelBlock;
        const Clock::time_point slotEnd = slotStart + LevelBlock;
        if (slotEnd > until)
            break;
        // Before the file's start and after its end there is no sound to miss.
        const bool fileSounds = k >= margin && k + margin < blocks
                                && quietBefore[std::size_t(k + margin + 1)] == quietBefore[std::size_t(k - margin)];
        while (next < heard.size() && heard[next].end <= slotStart)
            ++next;
        bool outputSounds = false;
        for (std::size_t i = next; i < heard.size() && heard[i].start < slotEnd && !outputSounds; ++i)
            outputSounds = !Verdict::IsSilent(heard[i].level.peakDb);
        if (!fileSounds || outputSounds) {
            run = std::chrono::milliseconds(0);
            continue;
        }
        run += LevelBlock;
        result.total += LevelBlock;
        if (run > result.longest) {
            result.longest = run;
            result.longestFrom = (k + 1) * LevelBlock - run;
        }
    }
    return result;
}
