#include "media/MediaErrors.h"
#include "media/SoundAnalysis.h"
#include "tests/media/MediaFixtures.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace {

// A stretch of a wave file: a 1 kHz sine of the given peak (0: silence) on the channels given
// by mask, hard-clipped at full scale.
struct Stretch {
    int ms;
    double peak;
    unsigned mask = ~0u;
};

void WriteStretches(const std::string &path, int channels, const std::vector<Stretch> &stretches)
{
    constexpr int rate = 44100;
    std::vector<float> samples;
    std::int64_t frame = 0;
    for (const Stretch &stretch : stretches) {
        for (std::int64_t i = 0; i < std::int64_t(stretch.ms) * rate / 1000; ++i, ++frame) {
            const double value =
                std::clamp(stretch.peak * std::sin(2 * M_PI * 1000.0 * double(frame) / rate), -1.0, 1.0);
            for (int c = 0; c < channels; ++c)
                samples.push_back(stretch.mask & (1u << c) ? float(value) : 0.0f);
        }
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, samples.data(), frame);
    sf_close(file);
}

double Db(double db) { return std::pow(10.0, db / 20); }

TEST(SoundAnalysis, PeakLoudnessSilenceClipsAndWarnings)
{
    struct Row {
        const char *what;
        int channels;
        std::vector<Stretch> stretches;
        double peakDb, lufs; // NAN: not checked
        std::int64_t leading, trailing, clips;
        std::vector<std::string> warnings;
    };
    // clang-format off
    const Row rows[] = {
        // A mono prompt is heard on both sides: as loud as the same sine on both stereo channels,
        // 3 dB louder than on one.
        {"mono tone between silences", 1, {{250, 0}, {1000, Db(-20)}, {500, 0}}, -20, NAN, 250, 500, 0, {}},
        {"stereo, one channel", 2, {{1000, Db(-20), 1u}}, -20, -23, 0, 0, 0, {}},
        {"loud but not clipped", 1, {{1000, Db(-0.09)}}, -0.09, -0.09, 0, 0, 0, {}},
        {"clipped", 2, {{500, 0}, {100, 2.0}}, 0, NAN, 500, 0, 400, {"The file clips: 400 runs of samples at full scale"}},
        {"quiet", 1, {{1000, Db(-50)}}, -50, -50, 0, 0, 0, {"The file is very quiet (−50.0 LUFS)"}},
        {"silent", 1, {{1000, 0}}, -INFINITY, -INFINITY, 1000, 1000, 0, {"The file is very quiet (too quiet to measure)"}},
        {"short", 1, {{200, Db(-20)}}, -20, -INFINITY, 0, 0, 0, {}},
        {"longer than the device keeps", 1, {{12000, Db(-20)}}, -20, -20, 0, 0, 0,
         {"The file is 12.000 s long; the device keeps only its first 10.000 s"}},
    };
    // clang-format on
    FixtureDir dir;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = dir.Path("sound.wav");
        WriteStretches(path, row.channels, row.stretches);
        SoundAnalysis analysis;
        ASSERT_EQ(AnalyseSound(path, analysis), 0u);
        if (std::isinf(row.peakDb)) {
            EXPECT_EQ(analysis.peakDb, row.peakDb);
        } else {
            EXPECT_NEAR(analysis.peakDb, row.peakDb, 0.02);
        }
        if (std::isinf(row.lufs)) {
            EXPECT_EQ(analysis.loudnessLufs, row.lufs);
        } else if (!std::isnan(row.lufs)) {
            EXPECT_NEAR(analysis.loudnessLufs, row.lufs, 0.2);
        }
        // The last sample of a sine is no louder than the threshold: a millisecond either way.
        EXPECT_NEAR(analysis.leadingSilenceMs, row.leading, 1);
        EXPECT_NEAR(analysis.trailingSilenceMs, row.trailing, 1);
        EXPECT_EQ(analysis.clips, row.clips);
        EXPECT_EQ(SoundWarnings(analysis), row.warnings);
        EXPECT_EQ(std::int64_t(analysis.envelopeDb.size()), (analysis.info.lengthMs + 9) / 10);
    }
}

TEST(SoundAnalysis, EnvelopeLiesOnTheFilesOwnTimeline)
{
    FixtureDir dir;
    const std::string path = dir.Path("sound.wav");
    WriteStretches(path, 1, {{250, 0}, {105, Db(-6)}, {300, 0}, {5, Db(-6)}});
    SoundAnalysis analysis;
    ASSERT_EQ(AnalyseSound(path, analysis), 0u);
    ASSERT_EQ(analysis.envelopeDb.size(), 66u); // 660 ms
    for (std::size_t block = 0; block < analysis.envelopeDb.size(); ++block) {
        const bool sound = (block >= 25 && block <= 35) || block == 65;
        EXPECT_EQ(analysis.envelopeDb[block] >= Verdict::SilenceDb, sound)
            << block << ": " << analysis.envelopeDb[block];
    }
    EXPECT_NEAR(analysis.envelopeDb[30], -6, 0.05);
}

TEST(SoundAnalysis, MidiIsMeasuredAsPlayedAndBrokenFilesAreErrors)
{
    FixtureDir dir;
    const std::string song = dir.Path("song.mid");
    WriteBytes(song,
               MidiFileBytes(
                   0, 480, {MidiTrack({{0, {0xC0, 0}}, {240, {0x90, 60, 100}}, {960, {0x80, 60, 0}}, EndOfTrack(0)})}));
    SoundAnalysis analysis;
    ASSERT_EQ(AnalyseSound(song, analysis), 0u);
    EXPECT_EQ(analysis.info.lengthMs, 1250);
    EXPECT_EQ(analysis.envelopeDb.size(), 125u);
    // The note starts after an eighth at 120 beats a minute.
    EXPECT_NEAR(analysis.leadingSilenceMs, 250, 10);
    EXPECT_GT(analysis.peakDb, Verdict::SilenceDb);
    EXPECT_FLOAT_EQ(float(analysis.peakDb), *std::max_element(analysis.envelopeDb.begin(), analysis.envelopeDb.end()));
    EXPECT_TRUE(std::isfinite(analysis.loudnessLufs));

    const std::string broken = dir.Path("broken.wav");
    WriteBytes(broken, {'R', 'I', 'F', 'F', 0x24, 0, 0, 0, 'W', 'A', 'V', 'E'});
    EXPECT_NE(AnalyseSound(broken, analysis), 0u);
    EXPECT_EQ(AnalyseSound(dir.Path("missing.wav"), analysis), MCIERR_FILE_NOT_FOUND);
}

} // namespace
