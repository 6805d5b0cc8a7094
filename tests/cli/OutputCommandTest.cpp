#include "tests/cli/TambloProcess.h"
#include "tests/common/DeviceSimulator.h"
#include "tests/common/TestOutputs.h"
#include "tests/media/MediaFixtures.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

// The real program at a private sound server with the outputs to choose among, recording onto
// the simulator; its history in a folder of the test's own.
class OutputsAtTheSink : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SoundSink::Available())
            GTEST_SKIP() << SoundSink::Missing();
        // The capture at a desktop's usual cycle: the monitor then gets its sound in blocks of
        // about 20 ms, and a placement of what it heard that lags by a block shows as silence.
        SoundSink::Options options;
        options.captureLatencyMs = 20;
        std::string error;
        ASSERT_TRUE(sink.Start(&error, options) && outputs.Add(&error)) << error;
        QString failure;
        ASSERT_TRUE(device.Start(&failure)) << failure.toStdString();
        environment = CommandLineEnvironment(device.PortsDirectory());
        environment.remove(QStringLiteral("SDL_AUDIODRIVER"));
        environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(sink.Server()));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), QString::fromStdString(files.Path("state")));
        WriteToneWave(files.Path("tone.wav"), 48000, 48000 * 3 / 2); // -12.3 dBFS
    }

    QStringList Record(const QStringList &options, const char *file = "tone.wav") const
    {
        return QStringList{QStringLiteral("record"), QStringLiteral("--json"), QStringLiteral("--channel"),
                           QStringLiteral("1")}
               + options + QStringList{QString::fromStdString(files.Path(file))};
    }

    SoundSink sink;
    TestOutputs outputs{sink};
    DeviceSimulator device;
    FixtureDir files;
    QProcessEnvironment environment;
};

QJsonObject Last(const TambloResult &result, const char *event)
{
    const std::vector<QJsonObject> events = result.Events();
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if ((*it)[QStringLiteral("event")] == QLatin1String(event))
            return *it;
    }
    return {};
}

TEST_F(OutputsAtTheSink, ListedWithTheirVolumeAndWhetherTheyAreMuted)
{
    const TambloResult plain = RunTamblo({QStringLiteral("outputs")}, environment);
    EXPECT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    for (const char *shown :
         {"rec (default)\n", "chosen\n  Chosen Output, 100 % (0.0 dB), ",
          "muted\n  Muted Output, muted, 100 % (0.0 dB), ", "quiet\n  Quiet Output, 32 % (−30.0 dB), "})
        EXPECT_TRUE(plain.out.contains(QString::fromUtf8(shown))) << shown << plain.out.toStdString();

    const TambloResult json = RunTamblo({QStringLiteral("outputs"), QStringLiteral("--json")}, environment);
    std::map<QString, QJsonObject> byName;
    for (const QJsonObject &output : json.Events())
        byName[output[QStringLiteral("name")].toString()] = output;
    ASSERT_EQ(byName.size(), 4u) << json.out.toStdString();
    EXPECT_TRUE(byName[QStringLiteral("rec")][QStringLiteral("default")].toBool());
    EXPECT_FALSE(byName[QStringLiteral("chosen")][QStringLiteral("default")].toBool());
    EXPECT_TRUE(byName[QStringLiteral("muted")][QStringLiteral("muted")].toBool());
    EXPECT_NEAR(byName[QStringLiteral("quiet")][QStringLiteral("volume_db")].toDouble(), -30, 0.1);
    EXPECT_EQ(byName[QStringLiteral("quiet")][QStringLiteral("volume_percent")], 32);
    EXPECT_EQ(byName[QStringLiteral("chosen")][QStringLiteral("description")], QStringLiteral("Chosen Output"));
}

// The output is checked before REC1 goes out, and what left it is heard while the device records.
TEST_F(OutputsAtTheSink, ChosenCheckedBeforeAnythingIsSentAndHeardWhileRecording)
{
    struct Row {
        QStringList options;
        const char *variable; // TAMBLO_OUTPUT
        int exitCode;
        const char *error;  // the start of standard error
        const char *reason; // null: nothing sent
        double peakDb;      // at the output; NAN: nothing heard
    };
    const auto options = [](const char *line) { return QString::fromLatin1(line).split(' ', Qt::SkipEmptyParts); };
    // clang-format off
    const Row rows[] = {
        {options("--output muted"), "", 1, "tamblo: The output 'Muted Output' is muted\n", nullptr, NAN},
        {options("--output Quiet"), "chosen", 1,
         "tamblo: The output 'Quiet Output' is turned down to 32 % (−30.0 dB), below −20.0 dB\n", nullptr, NAN},
        {options("--output speakers"), "", 2, "tamblo: There is no sound output 'speakers'. The outputs are:\n  rec (",
         nullptr, NAN},
        {options("--output Output"), "", 2, "tamblo: More than one sound output fits 'Output'; name one of them.",
         nullptr, NAN},
        {{}, "", 0, "", "end", -12.3},
        {{}, "chosen output", 0, "", "end", -12.3},
        {options("--output quiet --min-volume -35"), "", 0, "", "end", -42.3},
        {options("--output muted --force"), "", 1,
         "tamblo: The recording on GSM1 failed: the output 'Muted Output' was silent for ", "silent-output", NAN},
    };
    // clang-format on
    int recordings = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.options.join(QLatin1Char(' ')).toStdString() + " | " + row.variable);
        environment.insert(QStringLiteral("TAMBLO_OUTPUT"), QString::fromUtf8(row.variable));
        const TambloResult result = RunTamblo(Record(row.options), environment);
        EXPECT_EQ(result.exitCode, row.exitCode);
        const QString error = QString::fromUtf8(row.error);
        EXPECT_EQ(result.err.left(error.size()), error) << result.err.toStdString();
        EXPECT_EQ(result.warnings.contains(QStringLiteral("recording anyway (--force)")),
                  row.options.contains(QStringLiteral("--force")));
        if (!row.reason) {
            EXPECT_TRUE(Last(result, "sent").isEmpty());
            continue;
        }
        ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), ++recordings, 10000));
        const QJsonObject stopped = Last(result, "stopped");
        EXPECT_EQ(stopped[QStringLiteral("reason")], QLatin1String(row.reason));
        const QJsonObject heard = stopped[QStringLiteral("heard")].toObject();
        if (std::isnan(row.peakDb)) {
            EXPECT_TRUE(heard[QStringLiteral("peak_dbfs")].isNull());
            continue;
        }
        EXPECT_NEAR(heard[QStringLiteral("peak_dbfs")].toDouble(), row.peakDb, 0.3);
        EXPECT_LE(heard[QStringLiteral("silent_ms")].toInt(), 200);
        // The level is shown while it records.
        EXPECT_NEAR(Last(result, "position")[QStringLiteral("level_dbfs")].toDouble(), row.peakDb, 0.3);
    }
    QTest::qWait(100);
    EXPECT_EQ(device.Commands().size(), 2 * recordings);
}

// A stream muted mid-way, as a desktop's mixer would: the output falls silent while the file has
// sound, and the recording fails. The history keeps both recordings, with what was heard.
TEST_F(OutputsAtTheSink, AnOutputThatFallsSilentFailsTheRecordingAndTheHistoryTellsIt)
{
    const TambloResult good = RunTamblo(Record({QStringLiteral("--output"), QStringLiteral("chosen")}), environment);
    EXPECT_EQ(good.exitCode, 0) << good.err.toStdString();
    EXPECT_TRUE(good.err.isEmpty()) << good.err.toStdString();

    WriteToneWave(files.Path("long.wav"), 48000, 48000 * 3);
    TambloProcess run(Record({QStringLiteral("--output"), QStringLiteral("chosen")}, "long.wav"), environment);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), 2, 10000));
    QTest::qWait(500);
    // A server still placing a new stream may pass over the change: it is asked again.
    for (int i = 0; i < 10 && outputs.Pactl("set-sink-input-mute " + outputs.FirstStream() + " 1").empty(); ++i)
        QTest::qWait(50);
    const TambloResult silenced = run.Finish();
    EXPECT_EQ(silenced.exitCode, 1);
    EXPECT_TRUE(silenced.err.startsWith(
        QStringLiteral("tamblo: The recording on GSM1 failed: the output 'Chosen Output' was silent for ")))
        << silenced.err.toStdString();
    const QJsonObject stopped = Last(silenced, "stopped");
    EXPECT_EQ(stopped[QStringLiteral("reason")], QStringLiteral("silent-output"));
    // Heard while it happens: REC leaves long before the file's end.
    EXPECT_GE(stopped[QStringLiteral("heard")].toObject()[QStringLiteral("silent_ms")].toInt(), 20);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 2, 10000));
    EXPECT_LT(*device.Arrival(QStringLiteral("REC"), 2) - *device.Arrival(QStringLiteral("REC1"), 2),
              std::chrono::milliseconds(2500));

    const TambloResult listing = RunTamblo({QStringLiteral("history")}, environment);
    const QStringList lines = listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << listing.out.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("silent 0 ms  end, exit 0"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("silent-output, exit 1"))) << lines[1].toStdString();

    QFile tone(QString::fromStdString(files.Path("tone.wav")));
    ASSERT_TRUE(tone.open(QIODevice::ReadOnly));
    const QString sha256 =
        QString::fromLatin1(QCryptographicHash::hash(tone.readAll(), QCryptographicHash::Sha256).toHex());
    const std::vector<QJsonObject> entries =
        RunTamblo({QStringLiteral("history"), QStringLiteral("--json")}, environment).Events();
    ASSERT_EQ(entries.size(), 2u);
    const QJsonObject &entry = entries[0];
    EXPECT_EQ(entry[QStringLiteral("port")], QStringLiteral("COM1"));
    EXPECT_TRUE(entry[QStringLiteral("device")].toString().startsWith(QStringLiteral("/dev/pts/")));
    EXPECT_EQ(entry[QStringLiteral("channel")], 1);
    EXPECT_EQ(entry[QStringLiteral("file")], tone.fileName());
    EXPECT_EQ(entry[QStringLiteral("sha256")], sha256);
    EXPECT_EQ(entry[QStringLiteral("length_ms")], 1500);
    EXPECT_NEAR(entry[QStringLiteral("heard")].toObject()[QStringLiteral("peak_dbfs")].toDouble(), -12.3, 0.3);
    EXPECT_EQ(entries[1][QStringLiteral("ended")], QStringLiteral("silent-output"));
    EXPECT_EQ(entries[1][QStringLiteral("exit_status")], 1);
}

// What the server tells of the output while the device records ends the recording at once, and
// the text says what became of which output, at which millisecond of the file. Changes that
// leave the output heard end nothing. The removal comes last: it takes "chosen" away.
TEST_F(OutputsAtTheSink, AChangedOutputStopsTheRecordingAtOnceAndIsTold)
{
    struct Row {
        const char *change; // pactl's arguments; %s: the stream
        const char *undo;
        const char *error; // after "tamblo: The recording on GSM1 failed: "; null: none
        const char *reason;
    };
    // clang-format off
    const Row rows[] = {
        {"set-sink-mute chosen 1", "set-sink-mute chosen 0", "the output 'Chosen Output' was muted at ", "output-muted"},
        {"set-sink-volume chosen 20%", "set-sink-volume chosen 100%",
         "the output 'Chosen Output' was turned down to 20 % (−41.9 dB), below −20.0 dB, at ", "output-turned-down"},
        {"move-sink-input %s quiet", nullptr, "the sound was moved from the output 'Chosen Output' to 'Quiet Output' at ",
         "output-moved"},
        // Still above the limit, and another output's.
        {"set-sink-volume chosen 50%", "set-sink-volume chosen 100%", nullptr, "end"},
        {"set-sink-mute rec 1", "set-sink-mute rec 0", nullptr, "end"},
        {"unload-module %m", nullptr, "the output 'Chosen Output' was removed at ", "output-lost"},
    };
    // clang-format on
    WriteToneWave(files.Path("long.wav"), 48000, 48000 * 4);
    int recordings = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.change);
        TambloProcess run(Record({QStringLiteral("--output"), QStringLiteral("chosen")}, "long.wav"), environment);
        ++recordings;
        ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), recordings, 10000));
        QTest::qWait(1000);
        QString change = QString::fromLatin1(row.change);
        change.replace(QStringLiteral("%m"), QString::fromStdString(outputs.ChosenModule()));
        // A server still placing a new stream may pass over the change: it is asked again.
        Clock::time_point changed;
        bool made = false;
        for (int i = 0; i < 10 && !made; ++i) {
            QString arguments = change;
            arguments.replace(QStringLiteral("%s"), QString::fromStdString(outputs.FirstStream()));
            made = !outputs.Pactl(arguments.toStdString()).empty();
            changed = Clock::now();
            if (!made)
                QTest::qWait(50);
        }
        EXPECT_TRUE(made);
        const TambloResult result = run.Finish();
        if (row.undo)
            outputs.Pactl(row.undo);
        const QJsonObject stopped = Last(result, "stopped");
        EXPECT_EQ(stopped[QStringLiteral("reason")], QLatin1String(row.reason));
        ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), recordings, 10000));
        const auto start = device.Arrival(QStringLiteral("REC1"), recordings);
        const auto stop = device.Arrival(QStringLiteral("REC"), recordings);
        ASSERT_TRUE(start && stop);
        if (!row.error) {
            EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
            EXPECT_GT(*stop - *start, std::chrono::milliseconds(3900));
            continue;
        }
        // Well before the file's end, also with both cores busy.
        const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(*stop - changed);
        EXPECT_LT(delay, std::chrono::milliseconds(1500));
        std::printf("[ figure ] %s at %s: REC %lld ms after the change\n", SoundSink::Name(sink.Kind()), row.reason,
                    static_cast<long long>(delay.count()));
        EXPECT_EQ(result.exitCode, 1);
        const QString told = QStringLiteral("tamblo: The recording on GSM1 failed: ") + QString::fromUtf8(row.error);
        EXPECT_EQ(result.err.left(told.size()), told) << result.err.toStdString();
        // The change lies between the wait and REC, on the file's clock.
        const QRegularExpressionMatch at = QRegularExpression(QStringLiteral(" at (\\d+) ms\n$")).match(result.err);
        EXPECT_TRUE(at.hasMatch()) << result.err.toStdString();
        EXPECT_GE(at.captured(1).toInt(), 500);
        EXPECT_LE(std::chrono::milliseconds(at.captured(1).toInt()), *stop - *start);
    }
}

// A stall in a recording is told by who made it. The program stopped for a second in the middle
// leaves no hole, as the server holds the whole prompt: the recording is whole. The sound server
// stopped while the program runs on is told at once, with REC, as the server's doing.
TEST_F(OutputsAtTheSink, AStallIsToldByWhoMadeIt)
{
    struct Row {
        bool server;
        const char *reason;
        std::vector<const char *> told;
    };
    const Row rows[] = {
        {false, "end", {}},
        {true, "server-stalled", {"tamblo: The recording on GSM1 failed: the sound server stopped playing at "}},
    };
    WriteToneWave(files.Path("long.wav"), 48000, 48000 * 3);
    int recordings = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.reason);
        TambloProcess run(Record({}, "long.wav"), environment);
        ++recordings;
        ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), recordings, 10000));
        QTest::qWait(1000);
        const auto stood = Clock::now();
        if (row.server) {
            sink.FreezeServer(true);
            device.WaitForCommand(QStringLiteral("REC"), recordings, 3000);
            sink.FreezeServer(false);
        } else {
            run.Signal(SIGSTOP);
            QTest::qWait(1000);
            run.Signal(SIGCONT);
        }
        const TambloResult result = run.Finish(20000);
        EXPECT_EQ(result.exitCode, row.server ? 1 : 0) << result.err.toStdString();
        if (!row.server) {
            EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
        }
        EXPECT_EQ(Last(result, "stopped")[QStringLiteral("reason")], QLatin1String(row.reason))
            << result.err.toStdString();
        for (const char *told : row.told)
            EXPECT_TRUE(result.err.contains(QLatin1String(told))) << told << result.err.toStdString();
        ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), recordings, 10000));
        {
            QTest::qWait(500);
            const auto samples = sink.Samples();
            auto first = sink.FirstSound(32, 0);
            if (first) {
                auto last = sink.LastSound(32, *first);
                std::int64_t run = 0, longest = 0, at = 0;
                for (std::int64_t i = *first; last && i < *last; ++i) {
                    if (std::abs(samples[std::size_t(i)]) <= 32) {
                        if (++run > longest) {
                            longest = run;
                            at = i - run;
                        }
                    } else
                        run = 0;
                }
                std::printf("DEBUG sink: sound %lld..%lld, longest silence %lld frames at %lld\n", (long long)*first,
                            (long long)(last ? *last : 0), (long long)longest, (long long)(at - *first));
            }
        }
        if (!row.server)
            continue;
        // Well before the server goes on, also with both cores busy.
        const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(
            *device.Arrival(QStringLiteral("REC"), recordings) - stood);
        std::printf("[ figure ] %s stopped: REC %lld ms after\n", SoundSink::Name(sink.Kind()),
                    static_cast<long long>(delay.count()));
        EXPECT_LT(delay, std::chrono::milliseconds(1500));
    }
}

} // namespace
