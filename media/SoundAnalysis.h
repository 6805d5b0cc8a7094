#pragma once

// What a prompt sounds like before it is recorded: its peak, its loudness, the silence at either
// end, whether it clips, and its level in blocks of 10 ms to set against what the output plays.
// The sound is decoded as the media system plays it, MIDI songs rendered by the same synthesizer.

#include "media/MciDefs.h"
#include "media/SoundInfo.h"
#include "media/SoundLevel.h"

#include <cstdint>
#include <string>
#include <vector>

// At or above this a sample is at full scale, and this many of them in a row on one channel are
// a clip: a single full-scale sample is a loud peak, a run of them is a flattened wave.
constexpr double ClipDb = -0.1;
constexpr int ClipRun = 3;
// Quieter than this a prompt is hard to hear on a telephone line.
constexpr double QuietLufs = -30.0;
// What the device keeps of a prompt.
constexpr std::int64_t DeviceMemoryMs = 10000;
// What a recording measures of a prompt: what the device keeps, and a little more, as the output
// may play it late.
constexpr std::int64_t RecordingMeasureMs = DeviceMemoryMs + 500;

struct SoundAnalysis {
    // What the file is; its damage is the first that opening or decoding found.
    SoundInfo info;
    // How much of the file was measured, from its start: all of it unless a limit was given.
    std::int64_t measuredMs = 0;
    // The highest sample in dBFS; -inf for a file of digital silence.
    double peakDb = 0;
    // Integrated loudness (EBU R 128), in LUFS; -inf when the file is too short (under 0.4 s)
    // or too quiet to measure.
    double loudnessLufs = 0;
    // The silence (every channel silent) before the first sound and after the last, in
    // milliseconds of what was measured; both all of it for a silent file.
    std::int64_t leadingSilenceMs = 0;
    std::int64_t trailingSilenceMs = 0;
    // Runs of ClipRun or more full-scale samples.
    std::int64_t clips = 0;
    // The peak of every channel in dBFS per LevelBlock from the start (the last block may be shorter).
    std::vector<float> envelopeDb;
};

// Decodes the file, or its first limitMs (negative: the whole file), and measures it: 0, or the
// result code (with its text from mciGetErrorString) that says why the file cannot be read. A
// file that stops decoding partway is measured up to there and told as damaged there.
MCIERROR AnalyseSound(const std::string &path, SoundAnalysis &analysis, std::int64_t limitMs = -1);

// "The sound file is damaged at 2481 ms: 20480 bytes there are not sound", when the damage lies
// before withinMs (negative: anywhere); empty when there is none.
std::string DamageText(const SoundAnalysis &analysis, std::int64_t withinMs = -1);

// What an operator should hear about the file before recording it, one sentence each: longer
// than the device keeps (by the whole file's length), clipping, very quiet (in what was measured).
// Empty when there is nothing to say.
std::vector<std::string> SoundWarnings(const SoundAnalysis &analysis);
