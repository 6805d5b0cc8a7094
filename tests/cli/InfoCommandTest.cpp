#include "tests/cli/TambloProcess.h"
#include "tests/media/MediaFixtures.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

namespace {

class InfoCommand : public ::testing::Test {
protected:
    QString Path(const char *name) const { return QString::fromStdString(files.Path(name)); }

    TambloResult Info(const QStringList &arguments)
    {
        return RunTamblo(QStringList{QStringLiteral("info")} + arguments, CommandLineEnvironment(ports.path()));
    }

    FixtureDir files;
    QTemporaryDir ports;
};

// A 1.5 s song: one quarter note at 120 beats a minute lasts 500 ms, three of them.
std::vector<std::uint8_t> Song()
{
    return MidiFileBytes(0, 480, {MidiTrack({{0, {0x90, 60, 100}}, {1440, {0x80, 60, 0}}, EndOfTrack(0)})});
}

TEST_F(InfoCommand, KindLengthChannelsAndRateOfEachKind)
{
    WriteWave(files.Path("tone.wav"), 16000, 1, 16000 * 7350 / 1000, SF_FORMAT_PCM_16);
    WriteWave(files.Path("stereo.wav"), 44100, 2, 44100 * 12010 / 1000, SF_FORMAT_PCM_16);
    EncodeMp3(files.Path("stereo.wav"), files.Path("stereo.mp3"), true);
    WriteBytes(files.Path("song.mid"), Song());
    WriteBytes(files.Path("song.rmi"), RmiBytes(Song()));

    const TambloResult result = Info({Path("tone.wav"), Path("stereo.wav"), Path("song.mid"), Path("song.rmi")});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.err, QString());
    // Each file's line, then its measurements and what the operator should know, indented.
    QStringList lines, measured;
    for (const QString &line : result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        (line.startsWith(QLatin1Char(' ')) ? measured : lines) << line;
    ASSERT_EQ(lines.size(), 4) << result.out.toStdString();
    EXPECT_EQ(lines[0], Path("tone.wav") + QStringLiteral(": WAV, 7350 ms (7.350 sec.), 1 channel, 16000 Hz"));
    EXPECT_EQ(lines[1], Path("stereo.wav") + QStringLiteral(": WAV, 12010 ms (12.010 sec.), 2 channels, 44100 Hz"));
    EXPECT_TRUE(lines[2].startsWith(Path("song.mid") + QStringLiteral(": MIDI, 1500 ms (1.500 sec.), 2 channels, ")))
        << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith(Path("song.rmi") + QStringLiteral(": RMI, 1500 ms (1.500 sec.), 2 channels, ")))
        << lines[3].toStdString();
    // The test pattern rises to full scale and drops at once, again and again.
    EXPECT_TRUE(result.out.contains(QRegularExpression(
        QStringLiteral("stereo.wav: .*\n  peak 0.0 dBFS, loudness −\\d+\\.\\d LUFS, silence 0 ms at the start and 0 ms "
                       "at the end\n  The file is 12.010 s long; the device keeps only its first 10.000 s\n"
                       "  The file clips: \\d+ runs of samples at full scale\n"))))
        << result.out.toStdString();

    const TambloResult json = Info({QStringLiteral("--json"), Path("stereo.mp3")});
    EXPECT_EQ(json.exitCode, 0) << json.err.toStdString();
    const std::vector<QJsonObject> described = json.Events();
    ASSERT_EQ(described.size(), 1u);
    EXPECT_EQ(described[0][QStringLiteral("file")], Path("stereo.mp3"));
    EXPECT_EQ(described[0][QStringLiteral("kind")], QStringLiteral("MP3"));
    // lame's Info frame keeps the exact length.
    EXPECT_EQ(described[0][QStringLiteral("length_ms")], 12010);
    EXPECT_EQ(described[0][QStringLiteral("length_text")], QStringLiteral("12.010 sec."));
    EXPECT_EQ(described[0][QStringLiteral("channels")], 2);
    EXPECT_EQ(described[0][QStringLiteral("rate")], 44100);
    EXPECT_TRUE(described[0][QStringLiteral("peak_dbfs")].isDouble());
    EXPECT_EQ(described[0][QStringLiteral("warnings")].toArray().first(),
              QStringLiteral("The file is 12.010 s long; the device keeps only its first 10.000 s"));
}

// A name reaches the file system byte for byte, is never read as a format, and shows escaped
// where it is not text; a length past 32 bits of milliseconds is told whole.
TEST_F(InfoCommand, NamesAndLengthsAreToldAsTheyAre)
{
    // Joined as bytes: the fixture's own paths go through text.
    const std::string folder = files.Path("month.wav").substr(0, files.Path("month.wav").rfind('/') + 1);
    for (const char *name : {"100%1%2.wav", "bad\xff\xfe.wav", "esc\x1b[31m.wav"})
        WriteWave(folder + name, 16000, 1, 16000, SF_FORMAT_PCM_16);
    // 30 days of 8-bit sound at 1000 Hz: the header says so, and the file is sparse.
    const std::uint32_t bytes = 30u * 24 * 3600 * 1000;
    const auto le32 = [](std::uint32_t v) {
        return std::vector<std::uint8_t>{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                                         std::uint8_t(v >> 24)};
    };
    std::vector<std::uint8_t> header{'R', 'I', 'F', 'F'};
    for (const auto &part : {le32(bytes + 36), std::vector<std::uint8_t>{'W', 'A', 'V', 'E', 'f', 'm', 't', ' '},
                             le32(16), std::vector<std::uint8_t>{1, 0, 1, 0}, le32(1000), le32(1000),
                             std::vector<std::uint8_t>{1, 0, 8, 0, 'd', 'a', 't', 'a'}, le32(bytes)})
        header.insert(header.end(), part.begin(), part.end());
    WriteBytes(files.Path("month.wav"), header);
    ASSERT_EQ(::truncate(files.Path("month.wav").c_str(), off_t(header.size()) + bytes), 0);
    // The shell hands the names over as bytes, which a QString argument could not.
    TambloProcess run({QStringLiteral("-c"),
                       QStringLiteral("exec \"$0\" info \"$1\"100* \"$1\"bad* \"$1\"esc* \"$1\"month*"),
                       QStringLiteral(TAMBLO_PATH), QString::fromStdString(folder)},
                      CommandLineEnvironment(ports.path()), {}, QStringLiteral("/bin/sh"));
    const TambloResult result = run.Finish();
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString wave = QStringLiteral(": WAV, 1000 ms (1.000 sec.), 1 channel, 16000 Hz");
    const QStringList lines =
        result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).filter(QRegularExpression(QStringLiteral("^\\S")));
    ASSERT_EQ(lines.size(), 4) << result.out.toStdString();
    const QString shown = QString::fromStdString(folder);
    EXPECT_EQ(lines[0], shown + QStringLiteral("100%1%2.wav") + wave);
    EXPECT_EQ(lines[1], shown + QStringLiteral("bad\\xff\\xfe.wav") + wave);
    EXPECT_EQ(lines[2], shown + QStringLiteral("esc\\x1b[31m.wav") + wave);
    EXPECT_EQ(lines[3],
              Path("month.wav") + QStringLiteral(": WAV, 2592000000 ms (2592000.000 sec.), 1 channel, 1000 Hz"));
}

TEST_F(InfoCommand, BadFilesGetTheErrorLoadingWouldGive)
{
    WriteWave(files.Path("good.wav"), 16000, 1, 16000, SF_FORMAT_PCM_16);
    WriteWave(files.Path("empty.wav"), 16000, 1, 0, SF_FORMAT_PCM_16);
    WriteBytes(files.Path("notes.wav"), {'n', 'o', 't', 'e', 's'});
    std::vector<std::uint8_t> cut = Song();
    cut.resize(cut.size() - 6);
    WriteBytes(files.Path("cut.mid"), cut);

    const TambloResult result =
        Info({Path("notes.wav"), Path("good.wav"), Path("missing.wav"), Path("empty.wav"), Path("cut.mid")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.startsWith(Path("good.wav")
                                      + QStringLiteral(": WAV, 1000 ms (1.000 sec.), 1 channel, 16000 Hz\n  peak ")));
    EXPECT_EQ(result.out.count(QStringLiteral(".wav: ")), 1) << result.out.toStdString();
    EXPECT_EQ(
        result.err,
        QStringLiteral("tamblo: %1: The file is not a sound file the media system knows (wave, MIDI, MP3 or RMI)\n"
                       "tamblo: %2: The sound file was not found\n"
                       "tamblo: %3: The sound file is empty: %3\n"
                       "tamblo: %4: The sound file is damaged or incomplete\n")
            .arg(Path("notes.wav"), Path("missing.wav"), Path("empty.wav"), Path("cut.mid")));

    const TambloResult json = Info({QStringLiteral("--json"), Path("missing.wav")});
    EXPECT_EQ(json.exitCode, 1);
    const std::vector<QJsonObject> described = json.Events();
    ASSERT_EQ(described.size(), 1u);
    EXPECT_EQ(described[0][QStringLiteral("error")], QStringLiteral("The sound file was not found"));

    // A damaged file is described as it decodes, and where it is damaged is told.
    WriteWave(files.Path("3s.wav"), 44100, 2, 44100 * 3, SF_FORMAT_PCM_16);
    EncodeMp3(files.Path("3s.wav"), files.Path("3s.mp3"), true);
    WriteDamagedCopy(files.Path("3s.mp3"), files.Path("zeros.mp3"), Damage::ZerosOverMiddle, 8192);
    WriteDamagedCopy(files.Path("3s.wav"), files.Path("cut.wav"), Damage::CutShort, 44 + 44100 * 4 * 3 / 2);
    const TambloResult damaged = Info({Path("zeros.mp3"), Path("cut.wav")});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_TRUE(damaged.out.contains(Path("cut.wav") + QStringLiteral(": WAV, 1500 ms (1.500 sec.)")));
    EXPECT_TRUE(damaged.err.contains(QRegularExpression(
        QStringLiteral("^tamblo: %1: The sound file is damaged at \\d+ ms: \\d+ bytes there are not sound\n"
                       "tamblo: %2: The sound file is damaged at 1500 ms: the file ends there, 1500 ms before its "
                       "header says it does\n$")
            .arg(QRegularExpression::escape(Path("zeros.mp3")), QRegularExpression::escape(Path("cut.wav"))))))
        << damaged.err.toStdString();
    const std::vector<QJsonObject> warned = Info({QStringLiteral("--json"), Path("cut.wav")}).Events();
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_EQ(
        warned[0][QStringLiteral("warnings")].toArray().first(),
        QStringLiteral("The sound file is damaged at 1500 ms: the file ends there, 1500 ms before its header says "
                       "it does"));
}

} // namespace
