#include "media/MidiFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::int64_t defaultTempo = 500000; // 120 beats per minute
// Beyond this a song would last for years: such tick counts only come from damaged files, and
// capping them keeps the time arithmetic inside 64 bits.
constexpr std::int64_t maxTick = std::int64_t(1) << 38;
constexpr std::int64_t maxLengthMicroseconds = std::int64_t(2147483647) * 1000;

std::uint32_t BigEndian32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint16_t BigEndian16(const std::uint8_t *p) { return std::uint16_t(p[0] << 8 | p[1]); }

std::uint32_t LittleEndian32(const std::uint8_t *p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

bool HasId(std::span<const std::uint8_t> bytes, std::size_t at, const char *id)
{
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, id, 4) == 0;
}

// A variable-length quantity of at most four bytes.
bool ReadVarLen(std::span<const std::uint8_t> data, std::size_t &pos, std::uint32_t &value)
{
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= data.size())
            return false;
        const std::uint8_t byte = data[pos++];
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0)
            return true;
    }
    return false;
}

} // namespace

MidiFile::Status MidiFile::Parse(std::span<const std::uint8_t> bytes)
{
    smf_.clear();
    tempoMap_.clear();
    if (HasId(bytes, 0, "MThd"))
        return ParseSmf(bytes);
    if (!(HasId(bytes, 0, "RIFF") && HasId(bytes, 8, "RMID")))
        return Status::NotMidi;

    // An RMI file: the RIFF form's chunks are word-aligned; the "data" chunk holds the song.
    const std::size_t formEnd = std::min<std::size_t>(bytes.size(), std::size_t(LittleEndian32(bytes.data() + 4)) + 8);
    std::size_t pos = 12;
    while (pos + 8 <= formEnd) {
        const std::size_t size = LittleEndian32(bytes.data() + pos + 4);
        if (size > formEnd - pos - 8)
            return Status::Damaged;
        if (HasId(bytes, pos, "data")) {
            const Status status = ParseSmf(bytes.subspan(pos + 8, size));
            return status == Status::NotMidi ? Status::Damaged : status;
        }
        pos += 8 + size + (size & 1);
    }
    return Status::Damaged;
}

MidiFile::Status MidiFile::ParseSmf(std::span<const std::uint8_t> bytes)
{
    if (!HasId(bytes, 0, "MThd"))
        return Status::NotMidi;
    if (bytes.size() < 14)
        return Status::Damaged;
    const std::uint32_t headerSize = BigEndian32(bytes.data() + 4);
    if (headerSize < 6 || headerSize > bytes.size() - 8)
        return Status::Damaged;
    format_ = BigEndian16(bytes.data() + 8);
    tracks_ = BigEndian16(bytes.data() + 10);
    const std::uint16_t division = BigEndian16(bytes.data() + 12);
    if (format_ > 2 || tracks_ == 0 || (format_ == 0 && tracks_ != 1))
        return Status::Damaged;
    if (division & 0x8000) {
        const int framesPerSecond = -static_cast<std::int8_t>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        double rate = 0;
        switch (framesPerSecond) {
        case 24:
        case 25:
        case 30: rate = framesPerSecond; break;
        case 29: rate = 30000.0 / 1001.0; break; // drop-frame: 29.97 frames per second
        default: return Status::Damaged;
        }
        if (ticksPerFrame == 0)
            return Status::Damaged;
        ticksPerQuarter_ = 0;
        smpteTickMicroseconds_ = 1e6 / (rate * ticksPerFrame);
        smpteFramesPerSecond_ = framesPerSecond;
        smpteTicksPerFrame_ = ticksPerFrame;
    } else {
        if (division == 0)
            return Status::Damaged;
        ticksPerQuarter_ = division;
        smpteTickMicroseconds_ = 0;
    }

    // Chunks of unknown type are skipped; a chunk that runs past the end of the file is damage.
    std::vector<std::pair<std::int64_t, std::int64_t>> tempos;
    tempoTypeOffsets_.clear();
    lastTick_ = 0;
    int found = 0;
    std::size_t firstTrack = 0;
    std::size_t pos = 8 + headerSize;
    while (found < tracks_ && pos + 8 <= bytes.size()) {
        const std::size_t size = BigEndian32(bytes.data() + pos + 4);
        if (size > bytes.size() - pos - 8)
            return Status::Damaged;
        // A chunk type is four letters; anything else is garbage where a chunk should start.
        if (!std::all_of(bytes.begin() + std::ptrdiff_t(pos), bytes.begin() + std::ptrdiff_t(pos + 4),
                         [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; }))
            return Status::Damaged;
        if (HasId(bytes, pos, "MTrk")) {
            if (!ParseTrack(bytes.subspan(pos + 8, size), pos + 8, tempos))
                return Status::Damaged;
            if (found++ == 0)
                firstTrack = pos;
        }
        pos += 8 + size;
    }
    if (found < tracks_)
        return Status::Damaged;

    BuildTempoMap(std::move(tempos));
    if (LengthMicroseconds() > maxLengthMicroseconds)
        return Status::Damaged;
    smf_.assign(bytes.begin(), bytes.end());
    if (ticksPerQuarter_ == 0)
        MakeMetrical(firstTrack);
    return Status::Ok;
}

// The synthesizer does not play SMPTE timing. The same ticks in metrical form: as many ticks per
// quarter note as per second (rounded to whole frames), one fixed tempo that makes a tick last
// as long, and the file's own tempo events turned into events that change nothing.
void MidiFile::MakeMetrical(std::size_t firstTrack)
{
    const int roundedRate = smpteFramesPerSecond_ == 29 ? 30 : smpteFramesPerSecond_;
    const int ticksPerQuarter = roundedRate * smpteTicksPerFrame_;
    // 30 frames stand for 29.97: the quarter note lasts 30 / 29.97 s.
    const std::uint32_t tempo = smpteFramesPerSecond_ == 29 ? 1001000 : 1000000;
    for (std::size_t offset : tempoTypeOffsets_)
        smf_[offset] = 0x7F; // sequencer-specific meta event
    smf_[12] = std::uint8_t(ticksPerQuarter >> 8);
    smf_[13] = std::uint8_t(ticksPerQuarter);
    const std::uint8_t event[] = {
        0x00, 0xFF, 0x51, 0x03, std::uint8_t(tempo >> 16), std::uint8_t(tempo >> 8), std::uint8_t(tempo)};
    smf_.insert(smf_.begin() + std::ptrdiff_t(firstTrack + 8), std::begin(event), std::end(event));
    const std::uint32_t size = BigEndian32(smf_.data() + firstTrack + 4) + sizeof event;
    for (int i = 0; i < 4; ++i)
        smf_[firstTrack + 4 + std::size_t(i)] = std::uint8_t(size >> (24 - 8 * i));
}

bool MidiFile::ParseTrack(std::span<const std::uint8_t> track, std::size_t offset,
                          std::vector<std::pair<std::int64_t, std::int64_t>> &tempos)
{
    std::size_t pos = 0;
    std::int64_t tick = 0;
    std::uint8_t running = 0;
    while (pos < track.size()) {
        std::uint32_t delta = 0;
        if (!ReadVarLen(track, pos, delta))
            return false;
        tick += delta;
        if (tick > maxTick || pos >= track.size())
            return false;
        const std::uint8_t lead = track[pos];
        if (lead == 0xFF) {
            if (++pos >= track.size())
                return false;
            const std::size_t typeAt = pos;
            const std::uint8_t type = track[pos++];
            std::uint32_t length = 0;
            if (!ReadVarLen(track, pos, length) || length > track.size() - pos)
                return false;
            // The synthesizer refuses a file whose tempo or end-of-track events have another size.
            if ((type == 0x51 && length != 3) || (type == 0x2F && length != 0))
                return false;
            if (type == 0x51) {
                tempoTypeOffsets_.push_back(offset + typeAt);
                const std::int64_t tempo = std::int64_t(track[pos]) << 16 | track[pos + 1] << 8 | track[pos + 2];
                if (tempo > 0)
                    tempos.emplace_back(tick, tempo);
            }
            pos += length;
            running = 0;
            lastTick_ = std::max(lastTick_, tick);
            if (type == 0x2F) // end of track; anything after it is not played
                return true;
            continue;
        }
        if (lead == 0xF0 || lead == 0xF7) {
            ++pos;
            std::uint32_t length = 0;
            if (!ReadVarLen(track, pos, length) || length > track.size() - pos)
                return false;
            pos += length;
            running = 0;
            lastTick_ = std::max(lastTick_, tick);
            continue;
        }
        std::uint8_t status = running;
        if (lead & 0x80) {
            if (lead >= 0xF0) // system common and real-time messages do not belong in a file
                return false;
            status = lead;
            running = lead;
            ++pos;
        } else if (status == 0) {
            return false;
        }
        const std::size_t dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        if (dataBytes > track.size() - pos)
            return false;
        for (std::size_t i = 0; i < dataBytes; ++i) {
            if (track[pos + i] & 0x80)
                return false;
        }
        pos += dataBytes;
        lastTick_ = std::max(lastTick_, tick);
    }
    return true;
}

void MidiFile::BuildTempoMap(std::vector<std::pair<std::int64_t, std::int64_t>> tempos)
{
    // A later tempo event at the same tick wins, as it would when the events are played in order.
    std::stable_sort(tempos.begin(), tempos.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    tempoMap_.assign(1, TempoChange{0, 0, defaultTempo});
    if (ticksPerQuarter_ == 0)
        return; // SMPTE division: ticks have a fixed length and tempo events do not apply
    for (const auto &[tick, tempo] : tempos) {
        TempoChange &last = tempoMap_.back();
        if (tick == last.tick) {
            last.tempo = tempo;
            continue;
        }
        const std::int64_t at = last.microseconds + (tick - last.tick) * last.tempo / ticksPerQuarter_;
        tempoMap_.push_back(TempoChange{tick, at, tempo});
    }
}

std::int64_t MidiFile::MicrosecondsAt(std::int64_t tick) const
{
    if (tempoMap_.empty())
        return 0;
    if (ticksPerQuarter_ == 0)
        return std::llround(double(tick) * smpteTickMicroseconds_);
    auto it = std::upper_bound(tempoMap_.begin(), tempoMap_.end(), tick,
                               [](std::int64_t t, const TempoChange &change) { return t < change.tick; });
    const TempoChange &change = *std::prev(it);
    return change.microseconds + (tick - change.tick) * change.tempo / ticksPerQuarter_;
}

std::int64_t MidiFile::TickAt(std::int64_t microseconds) const
{
    if (tempoMap_.empty())
        return 0;
    if (ticksPerQuarter_ == 0)
        return std::int64_t(double(microseconds) / smpteTickMicroseconds_);
    auto it = std::upper_bound(tempoMap_.begin(), tempoMap_.end(), microseconds,
                               [](std::int64_t us, const TempoChange &change) { return us < change.microseconds; });
    const TempoChange &change = *std::prev(it);
    return change.tick + (microseconds - change.microseconds) * ticksPerQuarter_ / change.tempo;
}
