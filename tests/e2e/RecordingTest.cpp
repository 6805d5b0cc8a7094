#include "tests/common/PaintCounter.h"
#include "tests/e2e/RecorderHarness.h"

#include "app/TLabel.h"
#include "base/TerminationSignals.h"
#include "controls/Gauges.h"
#include "controls/ZintarLiquidIndicator.h"
#include "controls/kwFltBtn.h"
#include "recorder/Recorder.h"
#include "recorder/RecordingHistory.h"
#include "tests/common/TestOutputs.h"
#include "ui_TForm1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int kRate = 16000;

// Where only the content of the sound counts: SDL's disk driver writes it to a file.
class Recording : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(harness.Start(&error)) << error.toStdString();
    }

    Ui::TForm1 &form() { return harness.Window().Form(); }

    // Seconds of sound the output was handed, judged from the output itself.
    double playedSeconds() { return double(RecorderHarness::SoundFrames(harness.AudioFile(), 1).first) / kRate; }

    RecorderHarness harness;
};

// What the device hears: the sound at a private sound server's sink, on the serial line's
// timeline. The device must not stop recording before the sound it records has been played.
class RecordingAtTheSink : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SoundSink::Available())
            GTEST_SKIP() << SoundSink::Missing();
        QString error;
        ASSERT_TRUE(harness.Start(&error)) << error.toStdString();
    }

    Ui::TForm1 &form() { return harness.Window().Form(); }

    // Presses a record button, runs `until` (which ends the recording) and gives what the sink
    // played around it.
    std::optional<HeardRecording> Record(QWidget *button, const QString &command, const std::function<void()> &until)
    {
        ++recordings;
        const std::int64_t from = harness.Sink().FrameCount();
        harness.Click(button, recordings == 1);
        until();
        EXPECT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), recordings, 30000));
        QString error;
        auto heard = harness.Heard(from, command, &error);
        EXPECT_TRUE(heard.has_value()) << error.toStdString();
        return heard;
    }

    // The device stopped recording after the last of the sound had been played. (When the sound
    // starts against "REC1" depends as much on how soon the device reads its line as on the
    // sound, so the figures print it and the tests leave it alone.)
    static void ExpectStoppedAfterTheSound(const HeardRecording &heard)
    {
        EXPECT_GE(heard.TailMs(), 0.0) << "REC came while the sound still played";
    }

    // The sound fell off over its last milliseconds instead of being cut off at full level.
    void ExpectFadedOut(const HeardRecording &heard)
    {
        const SoundEnding ending = harness.EndingOf(heard);
        EXPECT_LT(ending.lastMs, 0.25 * ending.before) << "cut off at full level";
        EXPECT_LT(ending.secondHalf, 0.6 * ending.firstHalf) << "not falling off";
        EXPECT_LT(ending.firstHalf, 1.2 * ending.before) << "a burst before the end";
    }

    RecorderHarness harness{RecorderHarness::Audio::Sink};
    int recordings = 0;
};

TEST_F(RecordingAtTheSink, ShortFilesStopAfterTheirLastSoundHasPlayed)
{
    const QString wave = harness.MakeToneWav(QStringLiteral("short.wav"), 1500, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(wave));
    EXPECT_EQ(form().LabelLength->Caption(), QStringLiteral("1.500 sec."));
    const auto waitForEnd = [] {};
    auto heard = Record(form().kwFlatBtn1, QStringLiteral("REC1"), waitForEnd);
    ASSERT_TRUE(heard);
    EXPECT_EQ(harness.PortDialogsAnswered(), 1);
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC")}));
    EXPECT_EQ(form().Gauge1->Progress(), 15);
    EXPECT_EQ(form().Gauge2->Progress(), 0);
    // The display shows the tick's own reading, which may come just before the stop test's (on a
    // busy machine, some milliseconds before).
    const int shown = form().LCDPosition->Indicatorstring().toInt();
    EXPECT_GE(shown, 1450);
    EXPECT_LE(shown, 1500);
    EXPECT_EQ(form().RecGSM1->FontColor(), clGradientActiveCaption);
    EXPECT_FALSE(harness.Window().Timer1().isActive());
    // All of the tone reached the sink, within the device's recording.
    EXPECT_GE(heard->HeardMs(), 1500 - 0.5);
    EXPECT_LT(heard->HeardMs(), 1500 + 500);
    ExpectStoppedAfterTheSound(*heard);

    const QString mp3 = harness.MakeToneMp3(QStringLiteral("short.mp3"), 1500);
    ASSERT_FALSE(mp3.isEmpty());
    ASSERT_TRUE(harness.LoadThroughLabel(mp3));
    heard = Record(form().kwFlatBtn3, QStringLiteral("REC2"), waitForEnd);
    ASSERT_TRUE(heard);
    EXPECT_GE(heard->HeardMs(), 1500 - 0.5);
    ExpectStoppedAfterTheSound(*heard);
}

// The sound server dies mid-recording: the device is stopped at once and the box says the
// recording is incomplete. A record press while there is no sound output sends nothing.
TEST_F(RecordingAtTheSink, ALostOutputIsToldAndWithoutOneNothingIsSent)
{
    const QString wave = harness.MakeToneWav(QStringLiteral("long.wav"), 5000, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(wave));
    harness.Click(form().kwFlatBtn1, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    QTest::qWait(1000);
    QString shown;
    ExpectMessageBox(&shown);
    harness.Sink().KillServer();
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("The recording on GSM1 is incomplete: the sound output was lost at ")))
        << shown.toStdString();
    EXPECT_EQ(form().RecGSM1->FontColor(), clGradientActiveCaption);

    shown.clear();
    ExpectMessageBox(&shown);
    harness.Click(form().kwFlatBtn3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
    QTest::qWait(200);
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC")}));
    EXPECT_FALSE(harness.Window().Timer1().isActive());
}

TEST_F(RecordingAtTheSink, LongFileStopsAtTheTenSecondLimitFadingOut)
{
    const QString file = harness.MakeToneWav(QStringLiteral("long.wav"), 25000, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));
    EXPECT_EQ(form().LabelLength->Caption(), QStringLiteral("25.000 sec."));
    const auto heard = Record(form().kwFlatBtn3, QStringLiteral("REC2"), [] {});
    ASSERT_TRUE(heard);
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC2"), QStringLiteral("REC")}));
    EXPECT_EQ(form().Gauge2->Progress(), 100);
    EXPECT_EQ(form().Gauge1->Progress(), 0);
    const int shown = form().LCDPosition->Indicatorstring().toInt();
    EXPECT_GE(shown, 9900);
    EXPECT_LT(shown, 10200);
    // The sound stopped with the device: ten seconds were played, not 25.
    EXPECT_GE(heard->HeardMs(), 10000);
    EXPECT_LT(heard->HeardMs(), 10600);
    ExpectStoppedAfterTheSound(*heard);
    ExpectFadedOut(*heard);
}

TEST_F(RecordingAtTheSink, StopFadesOutBeforeTheDeviceStopsAndThePortDialogComesOnlyOnce)
{
    const QString file = harness.MakeToneWav(QStringLiteral("tone.wav"), 8000, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));
    const auto stopLater = [this] {
        ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000));
        QTest::qWait(600);
        harness.Click(form().kwFlatBtn2);
    };
    auto heard = Record(form().kwFlatBtn1, QStringLiteral("REC1"), stopLater);
    ASSERT_TRUE(heard);
    EXPECT_GT(heard->HeardMs(), 300);
    EXPECT_LT(heard->HeardMs(), 3000);
    ExpectStoppedAfterTheSound(*heard);
    ExpectFadedOut(*heard);

    // Later commands go straight to the open port.
    heard = Record(form().kwFlatBtn3, QStringLiteral("REC2"), [this] {
        ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC2"), 1, 10000));
        QTest::qWait(300);
        harness.Click(form().kwFlatBtn2);
    });
    ASSERT_TRUE(heard);
    ExpectStoppedAfterTheSound(*heard);
    ExpectFadedOut(*heard);
    EXPECT_EQ(harness.PortDialogsAnswered(), 1);
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC"),
                                                        QStringLiteral("REC2"), QStringLiteral("REC")}));
    EXPECT_EQ(form().RecGSM2->FontColor(), clGradientActiveCaption);
}

// A song ends at its last event, though its notes would ring on: the sound fades out there, and
// the device stops once it has been played, not before and not seconds later.
TEST_F(RecordingAtTheSink, MidiSongsStopWhenTheirSoundHasEndedAndFadeOut)
{
    const QString midi = harness.MakeHeldNoteSong(QStringLiteral("held.mid"), 2000);
    const QString rmi = harness.MakeHeldNoteSong(QStringLiteral("held.rmi"), 2000, true);
    for (const QString &song : {midi, rmi}) {
        ASSERT_TRUE(harness.LoadThroughLabel(song)) << song.toStdString();
        EXPECT_EQ(form().LabelLength->Caption(), QStringLiteral("2.000 sec."));
        const auto heard = Record(form().kwFlatBtn1, QStringLiteral("REC1"), [] {});
        ASSERT_TRUE(heard) << song.toStdString();
        ExpectStoppedAfterTheSound(*heard);
        ExpectFadedOut(*heard);
        // The song's two seconds, less the few milliseconds of the organ's attack and of the fade
        // that lie below the threshold of sound. A server that ran dry on a busy machine stretches
        // the sound by its gap (the recording figures give the exact length).
        EXPECT_GE(heard->HeardMs(), 1990) << song.toStdString();
        EXPECT_LE(heard->HeardMs(), 2100) << song.toStdString();
        EXPECT_LT(heard->StopAfterSoundMs(), 3000) << song.toStdString();
    }
}

TEST_F(Recording, EraseRunsTheGaugesDownAndSendsOnlyErase)
{
    const QString file = harness.MakeToneWav(QStringLiteral("tone.wav"), 1200, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));
    harness.Click(form().kwFlatBtn1, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 20000));
    EXPECT_EQ(form().Gauge1->Progress(), 12);

    // Count the gauge's paints during the run-down: each step is drawn while the window is busy.
    PaintCounter counter;
    form().Gauge1->installEventFilter(&counter);
    const auto before = std::chrono::steady_clock::now();
    harness.Click(form().kwFlatBtn6);
    const auto blocked = std::chrono::steady_clock::now() - before;
    form().Gauge1->removeEventFilter(&counter);

    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("ERASE"), 1, 10000));
    EXPECT_EQ(harness.Device().Commands(),
              QStringList({QStringLiteral("REC1"), QStringLiteral("REC"), QStringLiteral("ERASE")}));
    EXPECT_EQ(form().Gauge1->Progress(), 0);
    EXPECT_EQ(form().Gauge2->Progress(), 0);
    // 202 pauses of 30 ms: the click handler held the window for at least that long.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(blocked).count(), 202 * 30);
    // Percent changes at every step from 100 down to 0 that differs from the last one shown.
    EXPECT_GE(counter.paints, 100);
}

TEST_F(Recording, BusyPortShowsTheErrorAndTheNextPressSendsWithoutADialog)
{
    // Another program holds the port.
    const int holder = ::open(harness.Device().PortPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    QString shown;
    ExpectMessageBox(&shown);
    harness.Click(form().kwFlatBtn1, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
    EXPECT_EQ(shown, QStringLiteral("ie_Open - device already open."));
    // Nothing else of the handler ran.
    EXPECT_FALSE(harness.Window().Timer1().isActive());
    EXPECT_EQ(form().RecGSM1->FontColor(), clGradientActiveCaption);

    ::close(holder);
    harness.Click(form().kwFlatBtn1);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    EXPECT_EQ(harness.PortDialogsAnswered(), 1);
    harness.Click(form().kwFlatBtn2);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
}

// Starts a recording of an 8 s tone on GSM1 and waits until the device has its command.
void StartLongRecording(RecorderHarness &harness)
{
    const QString file = harness.MakeToneWav(QStringLiteral("tone.wav"), 8000, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));
    harness.Click(harness.Window().Form().kwFlatBtn1, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000));
}

// A refused file (no frames, no bytes) leaves the window as able to load and record as before.
TEST_F(RecordingAtTheSink, AnEmptyWaveIsRefusedWhenLoadedAndTheNextFileLoads)
{
    const QString noFrames = harness.MakeToneWav(QStringLiteral("empty.wav"), 0, kRate);
    const QString noBytes = harness.MakeToneWav(QStringLiteral("nothing.wav"), 0, kRate);
    ASSERT_TRUE(QFile::resize(noBytes, 0));
    const QString good = harness.MakeToneWav(QStringLiteral("good.wav"), 300, kRate);
    const std::pair<QString, QString> refusals[] = {
        {noFrames, QStringLiteral("The sound file is empty: ") + noFrames + QLatin1Char('.')},
        {noBytes, QStringLiteral("The sound file is empty.")},
    };
    ASSERT_TRUE(harness.LoadThroughLabel(good));
    // The port is chosen once, so that the list button's stop goes out without asking.
    harness.Click(form().kwFlatBtn2, true);
    for (const auto &[file, refusal] : refusals) {
        SCOPED_TRACE(file.toStdString());
        QString shown;
        ExpectMessageBox(&shown, 20000);
        EXPECT_FALSE(harness.LoadThroughLabel(file));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
        EXPECT_EQ(shown.toStdString(), refusal.toStdString());
        EXPECT_EQ(form().Fname->Caption(), good);
        ASSERT_TRUE(harness.LoadThroughLabel(good, form().kwFlatBtn4));
        EXPECT_EQ(form().LabelLength->Caption(), QStringLiteral("0.300 sec."));
    }
    harness.Click(form().kwFlatBtn1);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 4, 10000));
    EXPECT_EQ(harness.Device().Commands().mid(3), (QStringList{QStringLiteral("REC1"), QStringLiteral("REC")}));
}

TEST_F(Recording, ClosingTheWindowDuringARecordingStopsTheDevice)
{
    StartLongRecording(harness);
    harness.Window().close(); // the close box and Alt+F4 end here
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC")}));
    EXPECT_LT(playedSeconds(), 4.0);
}

TEST_F(Recording, TheExitButtonDuringARecordingStopsTheDevice)
{
    StartLongRecording(harness);
    harness.Click(form().kwFlatBtn5);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_FALSE(harness.Window().isVisible());
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC")}));
}

// A signal ends every event loop at once, a modal box's too; the program then leaves no box behind.
void EndTheLoopsASignalEnded()
{
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

TEST_F(Recording, TerminationSignalsDuringARecordingStopTheDeviceAsTheCloseBoxDoes)
{
    for (int signalNumber : {SIGTERM, SIGINT}) {
        RecorderHarness own;
        QString error;
        ASSERT_TRUE(own.Start(&error)) << error.toStdString();
        // Wired as the program wires it.
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::Arrived, &own.Window(), &MainWindow::EndBySignal);
        StartLongRecording(own);
        ASSERT_EQ(::raise(signalNumber), 0);
        ASSERT_TRUE(own.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000)) << signalNumber;
        EXPECT_EQ(termination.Received(), signalNumber);
        EXPECT_FALSE(own.Window().isVisible());
        // The history keeps the status the process ends with.
        std::string reason;
        const auto entries = RecordingHistory(RecordingHistory::DefaultPath()).Entries(&reason);
        ASSERT_TRUE(entries && entries->size() == 1u) << reason;
        EXPECT_EQ(entries->front().exitStatus, 128 + signalNumber);
        EndTheLoopsASignalEnded();
    }
}

// A signal that comes while an error box is up still ends the program, and the device first.
TEST_F(Recording, ASignalWhileAnErrorBoxIsOpenStopsTheDeviceAndEndsTheBox)
{
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::Arrived, &harness.Window(), &MainWindow::EndBySignal);
    StartLongRecording(harness);
    const QString empty = harness.MakeToneWav(QStringLiteral("empty.wav"), 0, kRate);
    bool boxSeen = false;
    ExpectModal([&](QWidget *modal) {
        if (!qobject_cast<QMessageBox *>(modal))
            return false;
        boxSeen = true;
        ::raise(SIGTERM);
        return true;
    });
    const auto raised = std::chrono::steady_clock::now();
    // A box the signal failed to end (hidden with the window, perhaps) fails the test here rather
    // than at its timeout.
    QTimer::singleShot(6000, qApp, [] {
        for (QWidget *widget : QApplication::allWidgets())
            if (auto *stuck = qobject_cast<QMessageBox *>(widget))
                stuck->reject();
    });
    harness.LoadThroughLabel(empty);
    EXPECT_TRUE(boxSeen);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - raised, std::chrono::seconds(5));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(harness.Window().isVisible());
    EndTheLoopsASignalEnded();
}

// The output named when the window starts: until it exists it is told at the start and at each
// load; muted, it is refused before anything is sent. A recording goes into the history.
TEST(OutputChoiceAtTheSink, AnOutputNotThereIsToldAndAMutedOneRefused)
{
    if (!SoundSink::Available())
        GTEST_SKIP() << SoundSink::Missing();
    RecorderHarness harness(RecorderHarness::Audio::Sink);
    QString shown;
    ExpectMessageBox(&shown);
    setenv("TAMBLO_OUTPUT", "muted", 1);
    QString error;
    const bool started = harness.Start(&error);
    unsetenv("TAMBLO_OUTPUT");
    ASSERT_TRUE(started) << error.toStdString();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("There is no sound output 'muted'. The outputs are:\n  rec (")))
        << shown.toStdString();

    const QString tone = harness.MakeToneWav(QStringLiteral("tone.wav"), 1000);
    shown.clear();
    ExpectMessageBox(&shown);
    EXPECT_FALSE(harness.LoadThroughLabel(tone));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("There is no sound output 'muted'."))) << shown.toStdString();

    TestOutputs outputs(harness.Sink());
    std::string reason;
    ASSERT_TRUE(outputs.Add(&reason)) << reason;
    ASSERT_TRUE(harness.LoadThroughLabel(tone));
    ExpectMessageBox(&shown);
    harness.Click(harness.Window().Form().kwFlatBtn1);
    EXPECT_EQ(shown, QStringLiteral("The output 'Muted Output' is muted."));
    QTest::qWait(200);
    EXPECT_TRUE(harness.Device().Commands().isEmpty());

    outputs.Pactl("set-sink-mute muted 0");
    harness.Click(harness.Window().Form().kwFlatBtn1, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
    const auto entries = RecordingHistory(RecordingHistory::DefaultPath()).Entries(&reason);
    ASSERT_TRUE(entries && entries->size() == 1u) << reason;
    EXPECT_EQ(entries->front().port, "COM1");
    EXPECT_EQ(entries->front().ended, "end");
    EXPECT_EQ(entries->front().exitStatus, 0);
    EXPECT_NEAR(entries->front().heardPeakDb, -12.3, 0.3);
}

TEST(StartUp, WithoutASoundCardTheMessageComesBeforeTheWindow)
{
    setenv("SDL_AUDIODRIVER", "none-installed", 1);
    QString text;
    bool windowVisible = true;
    ExpectModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return false;
        text = box->text();
        windowVisible = false;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (qobject_cast<MainWindow *>(top) && top->isVisible())
                windowVisible = true;
        }
        box->button(QMessageBox::Ok)->click();
        return true;
    });
    MainWindow window;
    EXPECT_EQ(text, QStringLiteral("Sound card is not installed"));
    EXPECT_FALSE(windowVisible);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Loading does nothing without a sound card: no dialog comes up.
    QTest::mouseClick(window.Form().Fname, Qt::LeftButton);
    EXPECT_EQ(window.Form().Fname->Caption(), QStringLiteral("---------"));
    unsetenv("SDL_AUDIODRIVER");
}

} // namespace
