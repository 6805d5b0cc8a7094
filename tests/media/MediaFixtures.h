#pragma once

// Sound files made by the tests themselves, and helpers to watch playback from outside.

#include "fixtures/MidiWriter.h"

#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A folder that lives as long as the test.
class FixtureDir {
public:
    FixtureDir();
    std::string Path(const std::string &name) const;

private:
    QTemporaryDir dir_;
};

// Sample n of channel c of the test pattern: never zero, different for every frame of the first
// 32767 frames, so captured output can be matched to file frames.
float PatternSample(std::int64_t frame, int channel);

// Writes a mono 16-bit wave file of a 440 Hz tone at a quarter of full scale with no silent
// stretch: every sample is odd, so none is zero. Where a tone must survive resampling.
void WriteToneWave(const std::string &path, int rate, std::int64_t frames);
// Writes a wave file in the given libsndfile subtype (SF_FORMAT_PCM_16, ...) holding the pattern.
void WriteWave(const std::string &path, int rate, int channels, std::int64_t frames, int subtype);
// Every frame libsndfile decodes from a sound file, interleaved.
std::vector<float> DecodeWithLibsndfile(const std::string &path);
// Rewrites a RIFF file without its chunks of the given id.
void RemoveRiffChunks(const std::string &path, const char *id);
// Encodes a wave file as MP3 with lame; withInfoFrame false leaves out the Info/Xing frame.
void EncodeMp3(const std::string &wavePath, const std::string &mp3Path, bool withInfoFrame);
// Decodes an MP3 file whole with libmpg123 (gapless) and counts its frames.
std::int64_t DecodedMp3Frames(const std::string &path);

// Writes an MP3 of the test pattern whose stream turns from stereo to mono halfway (two encodings
// joined, msEach each): its frames chain, and it decodes up to the change and no further.
void WriteStereoThenMonoMp3(const std::string &path, int msEach);

void WriteBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);
std::vector<std::uint8_t> ReadBytes(const std::string &path);
// Copies a file damaged as copies are: `count` bytes from its middle overwritten with random bytes
// (the same ones every time) or zeros; or only its first `count` bytes, as a download cut short.
enum class Damage { RandomOverMiddle, ZerosOverMiddle, CutShort };
void WriteDamagedCopy(const std::string &from, const std::string &to, Damage damage, std::size_t count);

// Switches SDL to the disk driver writing the exact output to a file while alive (no output
// device may be open when it is made or destroyed); restores the dummy driver afterwards.
class DiskCapture {
public:
    explicit DiskCapture(std::string path);
    ~DiskCapture();
    // The captured interleaved float samples (read once the output device is closed).
    std::vector<float> Samples() const;

private:
    std::string path_;
};

// Index of the first frame with any non-zero sample, or -1.
std::int64_t FirstSoundFrame(const std::vector<float> &samples, int channels);
std::int64_t SoundFrames(const std::vector<float> &samples, int channels);
// Where the samples hold the whole of sound, exactly (sample indices).
std::vector<std::size_t> Occurrences(const std::vector<float> &samples, const std::vector<float> &sound);

// Runs the event loop until done() or the bound passes; returns done().
bool WaitFor(const std::function<bool()> &done, int boundMilliseconds = 20000);
