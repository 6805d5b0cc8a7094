#pragma once

#include <cstdint>
#include <span>
#include <vector>

// A standard MIDI file read for its timing: the header, every track's events checked for
// well-formedness, the tempo map, and the time of the last event. Nothing is rendered.
class MidiFile {
public:
    enum class Status { Ok, NotMidi, Damaged };

    // Reads a standard MIDI file ("MThd" first) or an RMI file (a RIFF "RMID" form whose "data"
    // chunk holds one). NotMidi when the bytes are neither; Damaged when they claim to be one
    // but do not hold together.
    Status Parse(std::span<const std::uint8_t> bytes);

    // The standard MIDI file itself (the "data" chunk of an RMI file), as handed to the synthesizer.
    // A file with SMPTE timing comes in an equivalent metrical form, which the synthesizer plays.
    const std::vector<std::uint8_t> &Smf() const { return smf_; }
    int Format() const { return format_; }
    int Tracks() const { return tracks_; }
    std::int64_t LastTick() const { return lastTick_; }
    // Microseconds from the start to the last event of any track.
    std::int64_t LengthMicroseconds() const { return MicrosecondsAt(lastTick_); }

    std::int64_t MicrosecondsAt(std::int64_t tick) const;
    // The last tick that starts at or before the given time.
    std::int64_t TickAt(std::int64_t microseconds) const;

private:
    struct TempoChange {
        std::int64_t tick;
        std::int64_t microseconds; // time at tick
        std::int64_t tempo;        // microseconds per quarter note from tick on
    };

    Status ParseSmf(std::span<const std::uint8_t> bytes);
    bool ParseTrack(std::span<const std::uint8_t> track, std::size_t offset,
                    std::vector<std::pair<std::int64_t, std::int64_t>> &tempos);
    void MakeMetrical(std::size_t firstTrack);
    void BuildTempoMap(std::vector<std::pair<std::int64_t, std::int64_t>> tempos);

    std::vector<std::uint8_t> smf_;
    int format_ = 0;
    int tracks_ = 0;
    // Metrical division: ticks per quarter note. SMPTE division: a fixed tick length instead.
    int ticksPerQuarter_ = 0;
    double smpteTickMicroseconds_ = 0;
    std::int64_t lastTick_ = 0;
    std::vector<TempoChange> tempoMap_;
    int smpteFramesPerSecond_ = 0;
    int smpteTicksPerFrame_ = 0;
    std::vector<std::size_t> tempoTypeOffsets_; // where each tempo event's type byte lies in smf_
};
