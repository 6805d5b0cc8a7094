#include "cli/ConsoleRecorder.h"
#include "media/SoundAnalysis.h"
#include "serial/PortLock.h"
#include "tests/cli/TambloProcess.h"
#include "tests/common/DeviceSimulator.h"
#include "tests/common/SoundSink.h"
#include "tests/media/MediaFixtures.h"

#include <QFile>
#include <QJsonArray>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// 256 frames at 16 kHz last exactly 16 ms: SDL's dummy and disk outputs keep real time.
constexpr int kRate = 16000;

class RecordCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(device.Start(&error)) << error.toStdString();
        environment = CommandLineEnvironment(device.PortsDirectory());
    }

    QString Tone(const char *name, int milliseconds)
    {
        const std::string path = files.Path(name);
        WriteWave(path, kRate, 1, std::int64_t(kRate) * milliseconds / 1000, SF_FORMAT_PCM_16);
        return QString::fromStdString(path);
    }

    // Seconds from one command's arrival at a device to another's.
    static double Between(DeviceSimulator &from, const char *first, DeviceSimulator &to, const char *second)
    {
        const auto a = from.Arrival(QString::fromLatin1(first), 1);
        const auto b = to.Arrival(QString::fromLatin1(second), 1);
        if (!a || !b)
            return -1;
        return std::chrono::duration<double>(*b - *a).count();
    }

    // What the device received, once a command that came after everything else has arrived.
    QStringList CommandsUpToAStop()
    {
        // What the run before sent has reached the device by now.
        QTest::qWait(100);
        const int stops = device.Commands().count(QStringLiteral("REC")) + 1;
        const TambloResult stop = RunTamblo({QStringLiteral("stop")}, environment);
        EXPECT_EQ(stop.exitCode, 0) << stop.err.toStdString();
        EXPECT_TRUE(device.WaitForCommand(QStringLiteral("REC"), stops, 10000));
        return device.Commands();
    }

    FixtureDir files;
    DeviceSimulator device;
    QProcessEnvironment environment;
};

const QStringList kRecordThenStop{QStringLiteral("REC1"), QStringLiteral("REC")};

// The state letter of a process ('T' while stopped), or 0 when it is gone.
char ProcessState(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() ? 0 : line[close + 2];
}

TEST_F(RecordCommand, AShortFilePlaysWholeAndTheDeviceStopsAtItsEnd)
{
    const QString tone = Tone("tone.wav", 1500);
    const QString output = QString::fromStdString(files.Path("output.raw"));
    environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
    environment.insert(QStringLiteral("SDL_DISKAUDIOFILE"), output);

    const TambloResult result =
        RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), tone}, environment);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    // (SDL's disk output announces itself on standard error.)
    EXPECT_FALSE(result.err.contains(QStringLiteral("tamblo:"))) << result.err.toStdString();
    // Not on a terminal: nothing but the result.
    EXPECT_EQ(result.out,
              QStringLiteral("GSM1 on COM1: recorded %1, 1500 ms, stopped at the end of the file\n").arg(tone));

    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    // The simulator names only commands that came whole, with their CR LF.
    EXPECT_EQ(device.Commands(), kRecordThenStop);
    const double recorded = Between(device, "REC1", device, "REC");
    EXPECT_GE(recorded, 1.45);
    EXPECT_LT(recorded, 3.0);

    // Every frame of the file reached the sound output, once.
    QFile raw(output);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    EXPECT_EQ(SoundFrames(samples, 1), 1500 * kRate / 1000);
}

// A name reaches the file system byte for byte and is never read as a format.
TEST_F(RecordCommand, AnyFileNameRecordsAndIsShownAsItIs)
{
    const std::string tone = Tone("tone.wav", 500).toStdString();
    const std::string odd = tone.substr(0, tone.rfind('/') + 1) + "bad\xff%1.wav";
    ASSERT_EQ(::rename(tone.c_str(), odd.c_str()), 0);
    TambloProcess run({QStringLiteral("-c"), QStringLiteral("exec \"$0\" record --channel 2 \"$1\"bad*"),
                       QStringLiteral(TAMBLO_PATH), QString::fromStdString(tone.substr(0, tone.rfind('/') + 1))},
                      environment, {}, QStringLiteral("/bin/sh"));
    const TambloResult result = run.Finish(20000);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("GSM2 on COM1: recorded ")
                              + QString::fromStdString(odd.substr(0, odd.rfind('/') + 1))
                              + QStringLiteral("bad\\xff%1.wav, 500 ms, stopped at the end of the file\n"));
}

TEST_F(RecordCommand, ALongFileStopsAtTheTenSecondLimitAndJsonTellsEachStep)
{
    const QString tone = Tone("long.wav", 25000);
    const TambloResult result = RunTamblo(
        {QStringLiteral("record"), QStringLiteral("--json"), QStringLiteral("--channel"), QStringLiteral("2"), tone},
        environment);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_EQ(device.Commands(), QStringList({QStringLiteral("REC2"), QStringLiteral("REC")}));
    const double recorded = Between(device, "REC2", device, "REC");
    EXPECT_GE(recorded, 9.8);
    EXPECT_LT(recorded, 12.0);

    std::vector<QJsonObject> events = result.Events();
    // The file's length is warned of before anything is sent.
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events.front()[QStringLiteral("message")],
              tone + QStringLiteral(": The file is 25.000 s long; the device keeps only its first 10.000 s"));
    while (events.front()[QStringLiteral("event")] == QStringLiteral("warning"))
        events.erase(events.begin());
    EXPECT_EQ(events.front()[QStringLiteral("event")], QStringLiteral("sent"));
    EXPECT_EQ(events.front()[QStringLiteral("command")], QStringLiteral("REC2"));
    EXPECT_EQ(events.front()[QStringLiteral("ports")], QJsonArray({QStringLiteral("COM1")}));
    EXPECT_EQ(events[1][QStringLiteral("event")], QStringLiteral("playing"));
    EXPECT_EQ(events[1][QStringLiteral("file")], tone);
    EXPECT_EQ(events[1][QStringLiteral("channel")], 2);
    EXPECT_EQ(events[1][QStringLiteral("length_ms")], 25000);
    EXPECT_EQ(events[1][QStringLiteral("length_text")], QStringLiteral("25.000 sec."));

    const QJsonObject &stopped = events.back();
    EXPECT_EQ(stopped[QStringLiteral("event")], QStringLiteral("stopped"));
    EXPECT_EQ(stopped[QStringLiteral("reason")], QStringLiteral("limit"));
    const int stoppedAt = stopped[QStringLiteral("ms")].toInt();
    EXPECT_GE(stoppedAt, 10000);
    EXPECT_LT(stoppedAt, 10300);
    const QJsonObject &stop = events[events.size() - 2];
    EXPECT_EQ(stop[QStringLiteral("event")], QStringLiteral("sent"));
    EXPECT_EQ(stop[QStringLiteral("command")], QStringLiteral("REC"));

    // One position for each 100 ms of sound, rising, with the gauge of the same tick.
    int positions = 0;
    int lastStep = -1;
    for (std::size_t i = 2; i + 2 < events.size(); ++i) {
        const QJsonObject &event = events[i];
        ASSERT_EQ(event[QStringLiteral("event")], QStringLiteral("position"));
        const int ms = event[QStringLiteral("ms")].toInt();
        EXPECT_GT(ms / 100, lastStep);
        lastStep = ms / 100;
        EXPECT_NEAR(event[QStringLiteral("gauge")].toInt(), ms / 100.0, 1.0);
        ++positions;
    }
    EXPECT_GE(positions, 90);
    EXPECT_LE(positions, 101);
}

TEST_F(RecordCommand, CtrlCAndSigtermStopTheDeviceBeforeTheProgramEnds)
{
    const QString tone = Tone("tone.wav", 8000);
    int recordings = 0;
    const std::pair<int, int> endings[] = {
        {SIGINT, 130}, {SIGTERM, 143}, {SIGQUIT, 131}, {SIGUSR1, 138}, {SIGUSR2, 140}, {SIGALRM, 142},
    };
    for (const auto &[signalNumber, status] : endings) {
        SCOPED_TRACE(signalNumber);
        TambloProcess run({QStringLiteral("record"), QStringLiteral("--json"), QStringLiteral("--channel"),
                           QStringLiteral("1"), tone},
                          environment);
        ++recordings;
        ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), recordings, 10000));
        QTest::qWait(300);
        run.Signal(signalNumber);
        const TambloResult result = run.Finish(20000);
        ASSERT_TRUE(result.exited);
        EXPECT_EQ(result.exitCode, status) << result.err.toStdString();
        EXPECT_LT(result.elapsed, std::chrono::milliseconds(7000));
        ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), recordings, 10000));
        const std::vector<QJsonObject> events = result.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()[QStringLiteral("event")], QStringLiteral("stopped"));
        EXPECT_EQ(events.back()[QStringLiteral("reason")], QStringLiteral("interrupted"));
    }
    EXPECT_EQ(device.Commands(), kRecordThenStop + kRecordThenStop + kRecordThenStop + kRecordThenStop + kRecordThenStop
                                     + kRecordThenStop);
}

// While the program stands still the device records on: that gap is never reported as a good
// recording. Ctrl-Z sends REC before the program stops.
TEST_F(RecordCommand, APausedOrSuspendedRecordingIsToldAsInterrupted)
{
    const QString tone = Tone("tone.wav", 4000);
    const QStringList record{QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), tone};
    TambloProcess paused(record, environment);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    QTest::qWait(500);
    paused.Signal(SIGSTOP);
    QTest::qWait(1500);
    paused.Signal(SIGCONT);
    TambloResult result = paused.Finish(20000);
    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
    EXPECT_TRUE(
        result.err.startsWith(QStringLiteral("tamblo: The recording on GSM1 was interrupted: the device recorded ")))
        << result.err.toStdString();
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));

    TambloProcess suspended(record, environment);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), 2, 10000));
    QTest::qWait(500);
    suspended.Signal(SIGTSTP);
    // REC arrives, and only then does the program stop.
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 2, 10000));
    EXPECT_TRUE(WaitFor([&] { return ProcessState(suspended.Pid()) == 'T'; }, 10000));
    suspended.Signal(SIGCONT);
    result = suspended.Finish(20000);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("suspended"))) << result.err.toStdString();
    EXPECT_EQ(device.Commands(), kRecordThenStop + kRecordThenStop);
}

// Run in this process, a signal raised before the run waits in the signal pipe unread, as one that
// comes while the file and the ports open: the run must notice it before it sends anything.
TEST_F(RecordCommand, ASignalWhileTheFileAndPortsOpenSendsNothing)
{
    const QString tone = Tone("tone.wav", 1000);
    setenv("TAMBLO_PORTS", device.PortsDirectory().toLocal8Bit().constData(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::mkdir(files.Path("locks").c_str(), 0700);
    PortLock::SetDirectory(files.Path("locks"));
    std::FILE *quiet = std::fopen("/dev/null", "w");
    int status = -1;
    {
        ProgressReport report(ProgressReport::Plain, quiet, quiet);
        ConsoleRecorder recorder({*ParsePortArgument(QStringLiteral("COM1"))}, report);
        ::raise(SIGTERM);
        status = recorder.Record(1, tone.toStdString(), {});
    }
    std::fclose(quiet);
    unsetenv("TAMBLO_PORTS");
    EXPECT_EQ(status, 128 + SIGTERM);
    EXPECT_EQ(CommandsUpToAStop(), QStringList{QStringLiteral("REC")});
}

TEST_F(RecordCommand, AReaderThatGoesAwayDoesNotLeaveTheDeviceRecording)
{
    const QString tone = Tone("tone.wav", 1000);
    // As `tamblo record --json ... | head -c 1`: the reader leaves after the first byte.
    TambloProcess run(
        {QStringLiteral("record"), QStringLiteral("--json"), QStringLiteral("--channel"), QStringLiteral("1"), tone},
        environment, {QStringLiteral("head"), QStringLiteral("-c"), QStringLiteral("1")});
    const TambloResult result = run.Finish(20000);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_EQ(device.Commands(), kRecordThenStop);
}

TEST_F(RecordCommand, AFileOrSoundOutputThatCannotPlaySendsNothing)
{
    const std::string text = files.Path("notes.wav");
    WriteBytes(text, {'n', 'o', 't', 'e', 's', '\n'});
    const QString empty = Tone("empty.wav", 0);
    const QString tone = Tone("tone.wav", 1000);
    struct Case {
        QString file;
        const char *audio;
        QString error;
    };
    const QString missing = QString::fromStdString(files.Path("missing.wav"));
    // Damaged where the device would keep it: told as the media system's analysis tells it.
    const std::string wave = files.Path("3s.wav"), mp3 = files.Path("3s.mp3");
    WriteWave(wave, 44100, 2, 44100 * 3, SF_FORMAT_PCM_16);
    EncodeMp3(wave, mp3, true);
    const std::pair<const char *, std::function<void(const std::string &)>> damages[] = {
        {"random.mp3", [&](const std::string &to) { WriteDamagedCopy(mp3, to, Damage::RandomOverMiddle, 20480); }},
        {"zeros.mp3", [&](const std::string &to) { WriteDamagedCopy(mp3, to, Damage::ZerosOverMiddle, 8192); }},
        {"cut.mp3", [&](const std::string &to) { WriteDamagedCopy(mp3, to, Damage::CutShort, 24000); }},
        {"cut.wav", [&](const std::string &to) { WriteDamagedCopy(wave, to, Damage::CutShort, 44 + 44100 * 6); }}};
    std::vector<Case> damaged;
    for (const auto &[name, make] : damages) {
        make(files.Path(name));
        SoundAnalysis analysis;
        ASSERT_EQ(AnalyseSound(files.Path(name), analysis, RecordingMeasureMs), 0u);
        ASSERT_NE(DamageText(analysis), "") << name;
        const QString file = QString::fromStdString(files.Path(name));
        damaged.push_back({file, "dummy", file + QStringLiteral(": ") + QString::fromStdString(DamageText(analysis))});
    }
    // A file's error names the file.
    const Case cases[] = {
        damaged[0],
        damaged[1],
        damaged[2],
        damaged[3],
        {QString::fromStdString(text), "dummy",
         QString::fromStdString(text)
             + QStringLiteral(": The file is not a sound file the media system knows (wave, MIDI, MP3 or RMI)")},
        {missing, "dummy", missing + QStringLiteral(": The sound file was not found")},
        {empty, "dummy", empty + QStringLiteral(": The sound file is empty: ") + empty},
        {tone, "none-installed", QStringLiteral("Sound card is not installed")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        QProcessEnvironment own = environment;
        own.insert(QStringLiteral("SDL_AUDIODRIVER"), QLatin1String(c.audio));
        const TambloResult result =
            RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("2"), c.file}, own);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, QStringLiteral("tamblo: ") + c.error + QLatin1Char('\n'));
        EXPECT_EQ(result.out, QString());
    }
    EXPECT_EQ(CommandsUpToAStop(), QStringList{QStringLiteral("REC")});

    // With --force, what decodes is recorded, and the operator is told it is damaged.
    const TambloResult forced = RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"),
                                           QStringLiteral("--force"), damaged[1].file},
                                          environment);
    EXPECT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    EXPECT_EQ(forced.warnings, QStringLiteral("tamblo: warning: ") + damaged[1].error.mid(damaged[1].file.size() + 2)
                                   + QStringLiteral("; recording anyway (--force)\n"));
    EXPECT_TRUE(forced.out.contains(QStringLiteral("stopped at the end of the file"))) << forced.out.toStdString();
    EXPECT_EQ(CommandsUpToAStop(), (QStringList{QStringLiteral("REC"), QStringLiteral("REC1"), QStringLiteral("REC"),
                                                QStringLiteral("REC")}));
}

TEST_F(RecordCommand, APortHeldByAnotherProgramIsNamedAndNothingIsSent)
{
    const QString tone = Tone("tone.wav", 1000);
    const int holder = ::open(device.PortPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const TambloResult result =
        RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), tone}, environment);
    ::close(holder);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("tamblo: COM1: ie_Open - device already open\n"));
    EXPECT_EQ(CommandsUpToAStop(), QStringList{QStringLiteral("REC")});
}

// What the recorder hears: the sound at a real sound server's sink, on the serial line's timeline.
class RecordingAtTheSink : public RecordCommand {
protected:
    void SetUp() override
    {
        if (!SoundSink::Available())
            GTEST_SKIP() << "pulseaudio and parec are not installed (scripts/setup installs them)";
        RecordCommand::SetUp();
        std::string reason;
        ASSERT_TRUE(sink.Start(&reason)) << reason;
        environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(sink.Server()));
    }

    // The test pattern rises from silence by one step a frame: this is a few ms into it.
    static constexpr int kThreshold = 50;
    SoundSink sink;
};

TEST_F(RecordingAtTheSink, TheWholeFileSoundsWhileTheDeviceRecords)
{
    const QString tone = Tone("tone.wav", 1500);
    const std::int64_t before = sink.FrameCount();
    const TambloResult result =
        RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), tone}, environment);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    const auto start = device.Arrival(QStringLiteral("REC1"), 1);
    const auto stop = device.Arrival(QStringLiteral("REC"), 1);
    ASSERT_TRUE(start && stop);
    ASSERT_TRUE(sink.WaitUntilCaptured(*stop + std::chrono::milliseconds(300), std::chrono::seconds(5)));

    const auto first = sink.FirstSound(kThreshold, before);
    ASSERT_TRUE(first.has_value()) << "no sound reached the sink";
    const auto last = sink.LastSound(kThreshold, *first);
    ASSERT_TRUE(last.has_value());
    // The file was opened before REC1 went out, yet it sounds only once the device records.
    EXPECT_GT(sink.FrameTime(*first), *start);
    EXPECT_NEAR(double(*last - *first) / SoundSink::Rate, 1.5, 0.05);
    const double startDelay = std::chrono::duration<double, std::milli>(sink.FrameTime(*first) - *start).count();
    const double tail = std::chrono::duration<double, std::milli>(sink.FrameTime(*last) - *stop).count();
    std::printf("[ figures  ] REC1 to first sound %.1f ms; last sound %.1f ms after REC\n", startDelay, tail);
}

// A sink that idles in long blocks and cannot take them back (the capture here asks it for
// 2 s) would play the prompt after up to 2 s of the silence it holds, and the device would record
// that first: the sound waits until it has drained, and the recording is whole.
using FarAheadAtTheSink = RecordCommand;

TEST_F(FarAheadAtTheSink, TheSoundWaitsForTheSilenceTheSinkHolds)
{
    if (!SoundSink::Available() || SoundSink::Chosen() != SoundSink::ServerKind::PulseAudio)
        GTEST_SKIP() << "a PulseAudio null sink renders ahead";
    SoundSink sink;
    std::string reason;
    ASSERT_TRUE(sink.Start(&reason, {.rendersAhead = true, .captureLatencyMs = 2000})) << reason;
    environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(sink.Server()));
    const QString tone = Tone("tone.wav", 1000);
    for (int round = 0; round < 2; ++round) {
        const TambloResult result =
            RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), tone}, environment);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(QStringLiteral("stopped at the end of the file"))) << result.out.toStdString();
        std::this_thread::sleep_for(std::chrono::seconds(2)); // idle again
    }
}

TEST_F(RecordingAtTheSink, CtrlCSilencesTheSoundAndStopsTheDevice)
{
    const QString tone = Tone("tone.wav", 8000);
    const std::int64_t before = sink.FrameCount();
    TambloProcess run({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("2"), tone}, environment);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC2"), 1, 10000));
    QTest::qWait(1000);
    run.Signal(SIGINT);
    const TambloResult result = run.Finish(20000);
    EXPECT_EQ(result.exitCode, 130);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    const auto stop = device.Arrival(QStringLiteral("REC"), 1);
    ASSERT_TRUE(stop.has_value());
    ASSERT_TRUE(sink.WaitUntilCaptured(*stop + std::chrono::milliseconds(500), std::chrono::seconds(5)));

    const auto first = sink.FirstSound(kThreshold, before);
    ASSERT_TRUE(first.has_value()) << "no sound reached the sink";
    const auto last = sink.LastSound(kThreshold, *first);
    ASSERT_TRUE(last.has_value());
    // About a second sounded, and nothing of the rest of the file after the stop.
    EXPECT_GT(double(*last - *first) / SoundSink::Rate, 0.8);
    EXPECT_LT(sink.FrameTime(*last), *stop + std::chrono::milliseconds(200));
}

// A sound output that goes away mid-recording stops the device at once, and the recording is told
// as incomplete, never as a good one.
TEST_F(RecordingAtTheSink, ALostSoundOutputStopsTheDeviceAndIsTold)
{
    const QString tone = Tone("tone.wav", 5000);
    TambloProcess run({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), tone}, environment);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    QTest::qWait(1000);
    const auto lost = Clock::now();
    sink.KillServer();
    const TambloResult result = run.Finish(20000);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.startsWith(
        QStringLiteral("tamblo: The recording on GSM1 is incomplete: the sound output was lost at ")))
        << result.err.toStdString();
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    // Well before the file's end, also with both cores busy (the benchmark holds the strict figure).
    EXPECT_LT(*device.Arrival(QStringLiteral("REC"), 1) - lost, std::chrono::milliseconds(1500));
}

// A damaged file recorded with --force stops the recording where its sound ends, and says so.
TEST_F(RecordCommand, ADamagedFileIsToldWhereItsSoundEnds)
{
    const std::string mp3 = files.Path("damaged.mp3");
    WriteStereoThenMonoMp3(mp3, 1000);
    const TambloResult result = RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("2"),
                                           QStringLiteral("--force"), QString::fromStdString(mp3)},
                                          environment);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.startsWith(
        QStringLiteral("tamblo: The recording on GSM2 is incomplete: the sound file is damaged after ")))
        << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("the sound file is damaged"))) << result.out.toStdString();
}

class SeveralRecorders : public RecordCommand {
protected:
    void SetUp() override
    {
        RecordCommand::SetUp();
        QString error;
        ASSERT_TRUE(second.Start(&error)) << error.toStdString();
        ASSERT_TRUE(third.Start(&error)) << error.toStdString();
    }
    DeviceSimulator second{2, device.PortsDirectory()};
    DeviceSimulator third{3, device.PortsDirectory()};
};

TEST_F(SeveralRecorders, EveryPortGetsEachCommandAndTheFilePlaysOnce)
{
    const QString tone = Tone("tone.wav", 1000);
    const QString output = QString::fromStdString(files.Path("output.raw"));
    environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
    environment.insert(QStringLiteral("SDL_DISKAUDIOFILE"), output);
    const TambloResult result =
        RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), QStringLiteral("--port"),
                   QStringLiteral("COM1"), QStringLiteral("--port"), second.PortPath(), tone},
                  environment);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("GSM1 on COM1, %1: recorded %2, 1000 ms, stopped at the end of the file\n")
                              .arg(second.PortPath(), tone));
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    ASSERT_TRUE(second.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_EQ(device.Commands(), kRecordThenStop);
    EXPECT_EQ(second.Commands(), kRecordThenStop);

    // The devices' clocks are one clock: how far apart the ports got their commands.
    const double startSkew = std::abs(Between(device, "REC1", second, "REC1")) * 1000;
    const double stopSkew = std::abs(Between(device, "REC", second, "REC")) * 1000;
    RecordProperty("start_skew_us", int(startSkew * 1000));
    RecordProperty("stop_skew_us", int(stopSkew * 1000));
    std::printf("[ figures  ] skew between two ports: start %.3f ms, stop %.3f ms\n", startSkew, stopSkew);
    // Loose bounds: a loaded machine may hold up one simulator; the figures above tell the rest.
    EXPECT_LT(startSkew, 100.0);
    EXPECT_LT(stopSkew, 100.0);

    QFile raw(output);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    EXPECT_EQ(SoundFrames(samples, 1), kRate);
}

TEST_F(SeveralRecorders, APortThatFailsIsNamedAndTheOthersStillGetTheirStop)
{
    const QString tone = Tone("tone.wav", 1000);
    const TambloResult result = RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"),
                                           QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--port"),
                                           QStringLiteral("COM7"), QStringLiteral("--port"), QStringLiteral("2"), tone},
                                          environment);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("tamblo: COM7: ie_BadId - Specified comport doesn't exist\n"));
    EXPECT_EQ(result.out,
              QStringLiteral("GSM1 on COM1, COM2: recorded %1, 1000 ms, stopped at the end of the file\n").arg(tone));
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    ASSERT_TRUE(second.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_EQ(device.Commands(), kRecordThenStop);
    EXPECT_EQ(second.Commands(), kRecordThenStop);
}

// A recorder that REC did not reach may still be recording: it is not among those that recorded.
TEST_F(SeveralRecorders, APortThatDidNotTakeTheStopIsNotCountedAsRecorded)
{
    const QString tone = Tone("tone.wav", 1500);
    TambloProcess run({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"),
                       QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--port"),
                       QStringLiteral("COM2"), tone},
                      environment);
    ASSERT_TRUE(second.WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    ASSERT_TRUE(second.Signal(SIGUSR1, QStringLiteral("line stopped")));
    const TambloResult result = run.Finish(20000);
    ASSERT_TRUE(second.Signal(SIGUSR1, QStringLiteral("line started")));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              QStringLiteral("GSM1 on COM1: recorded %1, 1500 ms, stopped at the end of the file\n").arg(tone));
    EXPECT_TRUE(result.err.contains(QStringLiteral("REC was not delivered to COM2"))) << result.err.toStdString();
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
}

// An unplugged line is noticed when it happens: the sound stops, and the operator is told that
// the recorder may still be recording. With several recorders, the others record on and get REC.
TEST_F(SeveralRecorders, AnUnpluggedLineIsToldWhenItHappens)
{
    const QString tone = Tone("tone.wav", 3000);
    TambloProcess alone({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"),
                         QStringLiteral("--port"), QStringLiteral("COM1"), tone},
                        environment);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    QTest::qWait(500);
    ASSERT_TRUE(device.Signal(SIGUSR2, QStringLiteral("hung up")));
    TambloResult result = alone.Finish(20000);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("tamblo: The recorder on COM1 was disconnected during the recording of GSM1 "
                                         "and may still be recording\n"));
    EXPECT_LT(result.elapsed, std::chrono::milliseconds(2500));

    TambloProcess both({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("2"),
                        QStringLiteral("--port"), QStringLiteral("COM2"), QStringLiteral("--port"),
                        QStringLiteral("COM3"), tone},
                       environment);
    DeviceSimulator &first = second;
    ASSERT_TRUE(first.WaitForCommand(QStringLiteral("REC2"), 1, 10000));
    ASSERT_TRUE(third.WaitForCommand(QStringLiteral("REC2"), 1, 10000));
    QTest::qWait(500);
    ASSERT_TRUE(third.Signal(SIGUSR2, QStringLiteral("hung up")));
    result = both.Finish(20000);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("tamblo: The recorder on COM3 was disconnected during the recording of GSM2 "
                                         "and may still be recording\n"));
    ASSERT_TRUE(first.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_EQ(first.Commands(), QStringList({QStringLiteral("REC2"), QStringLiteral("REC")}));
}

} // namespace
