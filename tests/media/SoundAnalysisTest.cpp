#include "media/MediaErrors.h"
#include "media/SoundAnalysis.h"
#include "tests/media/MediaFixtures.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <functional>

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

// Damage is told where it lies in the sound as it decodes; past what the device keeps it is told
// but refuses no recording. Good files of every kind, tags and leading junk included, have none.
TEST(SoundAnalysis, DamageIsToldWhereItLiesAndGoodFilesHaveNone)
{
    FixtureDir dir;
    const auto path = [&](const std::string &name) { return dir.Path(name); };
    WriteWave(path("3s.wav"), 44100, 2, 44100 * 3, SF_FORMAT_PCM_16);
    EncodeMp3(path("3s.wav"), path("3s.mp3"), true);
    EncodeMp3(path("3s.wav"), path("bare.mp3"), false);
    WriteWave(path("12s.wav"), 22050, 1, 22050 * 12, SF_FORMAT_PCM_16);
    EncodeMp3(path("12s.wav"), path("12s.mp3"), true);
    const std::vector<std::uint8_t> mp3 = ReadBytes(path("3s.mp3"));
    const std::size_t waveBytes = ReadBytes(path("3s.wav")).size();
    const auto joined = [&](std::vector<std::uint8_t> head, const std::vector<std::uint8_t> &tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const std::vector<std::uint8_t> id3v2{'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0}; // 128 bytes follow
    // An APEv2 tag without items: a header, then a footer that says there is one.
    std::vector<std::uint8_t> ape{'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 7, 0, 0, 32, 0, 0, 0};
    ape.resize(32, 0);
    ape[23] = 0xA0;
    ape = joined(ape, ape);
    ape[55] = 0x80;
    std::vector<std::uint8_t> id3v1(128, ' ');
    std::copy_n("TAG", 3, id3v1.begin());

    struct Row {
        std::string file;
        std::function<void(const std::string &)> make;
        std::string damage; // after "The sound file is damaged at N ms: "; empty: none
        std::int64_t fromMs = 0, toMs = 0;
    };
    const auto copy = [&](const char *from, Damage damage, std::size_t count) {
        return [=](const std::string &to) { WriteDamagedCopy(path(from), to, damage, count); };
    };
    const auto bytes = [](std::vector<std::uint8_t> content) {
        return [=](const std::string &to) { WriteBytes(to, content); };
    };
    const auto existing = [](const std::string &) {};
    const auto wave = [&](int subtype) {
        return [=](const std::string &to) { WriteWave(to, 8000, 1, 8000 * 3, subtype); };
    };
    const std::string notSound = "\\d+ bytes there are not sound";
    std::vector<std::uint8_t> lost = mp3;
    lost.erase(lost.begin() + std::ptrdiff_t(lost.size() / 2), lost.begin() + std::ptrdiff_t(lost.size() / 2 + 2));
    const auto song = MidiFileBytes(0, 480, {MidiTrack({{0, {0x90, 60, 100}}, {960, {0x80, 60, 0}}, EndOfTrack(0)})});
    // clang-format off
    const Row rows[] = {
        {"random.mp3", copy("3s.mp3", Damage::RandomOverMiddle, 20480), notSound, 800, 900},
        {"zeros.mp3", copy("3s.mp3", Damage::ZerosOverMiddle, 8192), notSound, 1200, 1300},
        {"cut.mp3", copy("3s.mp3", Damage::CutShort, mp3.size() / 2), "the file ends there, \\d+ ms before its header says it does", 1450, 1550},
        {"cutbare.mp3", copy("bare.mp3", Damage::CutShort, mp3.size() / 2 + 100), "the file ends inside a frame, cut short", 1450, 1550},
        {"lost.mp3", bytes(lost), notSound, 1450, 1550},
        {"twice.mp3", [&](const std::string &to) { WriteDamagedCopy(path("bare.mp3"), to, Damage::ZerosOverMiddle, 8192);
                                                   WriteDamagedCopy(to, to, Damage::CutShort, mp3.size() - 900); },
         notSound + ", and 1 more damaged place after it", 1200, 1300},
        {"mono.mp3", [](const std::string &to) { WriteStereoThenMonoMp3(to, 1000); }, "the sound does not decode on from there", 1000, 1060},
        {"cut.wav", copy("3s.wav", Damage::CutShort, 44 + (waveBytes - 44) / 2), "the file ends there, 1500 ms before its header says it does", 1500, 1500},
        // Past 10.5 s: told, and no refusal.
        {"12s-cut.mp3", copy("12s.mp3", Damage::CutShort, ReadBytes(path("12s.mp3")).size() * 23 / 24), "the file ends there, \\d+ ms before its header says it does", 11400, 11600},
        {"3s.mp3", existing, ""}, {"bare.mp3", existing, ""}, {"12s.mp3", existing, ""}, {"3s.wav", existing, ""},
        {"id3v2.mp3", bytes(joined(joined(id3v2, std::vector<std::uint8_t>(128, 0)), mp3)), ""},
        {"id3v1.mp3", bytes(joined(mp3, id3v1)), ""}, {"ape.mp3", bytes(joined(joined(mp3, ape), id3v1)), ""},
        {"junk.mp3", bytes(joined(std::vector<std::uint8_t>(700, 'j'), mp3)), ""},
        {"float.wav", wave(SF_FORMAT_FLOAT), ""}, {"gsm.wav", wave(SF_FORMAT_GSM610), ""}, {"ima.wav", wave(SF_FORMAT_IMA_ADPCM), ""},
        {"ms.wav", wave(SF_FORMAT_MS_ADPCM), ""}, {"ulaw.wav", wave(SF_FORMAT_ULAW), ""}, {"g721.wav", wave(SF_FORMAT_G721_32), ""},
        {"song.mid", bytes(song), ""}, {"song.rmi", bytes(RmiBytes(song)), ""},
    };
    // clang-format on
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file);
        row.make(path(row.file));
        SoundAnalysis analysis;
        ASSERT_EQ(AnalyseSound(path(row.file), analysis, RecordingMeasureMs), 0u);
        const std::string told = DamageText(analysis);
        const QRegularExpressionMatch match =
            QRegularExpression(
                QStringLiteral("^The sound file is damaged at (\\d+) ms: %1$").arg(QString::fromStdString(row.damage)))
                .match(QString::fromStdString(told));
        if (row.damage.empty()) {
            EXPECT_EQ(told, "");
            continue;
        }
        ASSERT_TRUE(match.hasMatch()) << told;
        EXPECT_GE(match.captured(1).toLongLong(), row.fromMs) << told;
        EXPECT_LE(match.captured(1).toLongLong(), row.toMs) << told;
        EXPECT_EQ(DamageText(analysis, RecordingMeasureMs), row.fromMs < RecordingMeasureMs ? told : "");
    }
}

} // namespace
