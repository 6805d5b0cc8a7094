#include "tests/e2e/RecorderHarness.h"
#include "tests/common/PaintCounter.h"

#include "app/TForm1.h"
#include "app/TLabel.h"
#include "base/TerminationSignals.h"
#include "controls/Gauges.h"
#include "controls/ZintarLiquidIndicator.h"
#include "controls/kwFltBtn.h"
#include "ui_TForm1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int kRate = 16000;

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

TEST_F(Recording, ShortFileToGsm1StopsAtItsEnd)
{
    const QString file = harness.MakeToneWav(QStringLiteral("short.wav"), 1500, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));
    EXPECT_EQ(form().LabelLength->Caption(), QStringLiteral("1.500 sec."));

    harness.Click(form().kwFlatBtn1, true);
    EXPECT_EQ(harness.PortDialogsAnswered(), 1);
    EXPECT_EQ(form().RecGSM1->FontColor(), TForm1::RecordingColour);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 20000));

    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC")}));
    EXPECT_EQ(form().Gauge1->Progress(), 15);
    EXPECT_EQ(form().Gauge2->Progress(), 0);
    EXPECT_EQ(form().LCDPosition->Indicatorstring(), QStringLiteral("1500"));
    EXPECT_EQ(form().RecGSM1->FontColor(), clGradientActiveCaption);
    EXPECT_FALSE(harness.Window().Timer1().isActive());
    // The whole file went to the sound output while the device recorded.
    EXPECT_NEAR(playedSeconds(), 1.5, 0.05);
}

TEST_F(Recording, LongFileToGsm2StopsAtTheTenSecondLimit)
{
    const QString file = harness.MakeToneWav(QStringLiteral("long.wav"), 25000, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));
    EXPECT_EQ(form().LabelLength->Caption(), QStringLiteral("25.000 sec."));

    harness.Click(form().kwFlatBtn3, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 30000));

    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC2"), QStringLiteral("REC")}));
    EXPECT_EQ(form().Gauge2->Progress(), 100);
    EXPECT_EQ(form().Gauge1->Progress(), 0);
    const int shown = form().LCDPosition->Indicatorstring().toInt();
    EXPECT_GE(shown, 9900);
    EXPECT_LT(shown, 10200);
    // The sound stopped with the device: about ten seconds were played, not 25.
    EXPECT_GT(playedSeconds(), 9.8);
    EXPECT_LT(playedSeconds(), 10.6);
}

TEST_F(Recording, StopEndsTheRecordingAndThePortDialogComesOnlyOnce)
{
    const QString file = harness.MakeToneWav(QStringLiteral("tone.wav"), 8000, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));
    harness.Click(form().kwFlatBtn1, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    QTest::qWait(600);
    harness.Click(form().kwFlatBtn2);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
    const double played = playedSeconds();
    EXPECT_GT(played, 0.3);
    EXPECT_LT(played, 3.0);

    // Later commands go straight to the open port.
    harness.Click(form().kwFlatBtn3);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC2"), 1, 10000));
    harness.Click(form().kwFlatBtn2);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 2, 10000));
    EXPECT_EQ(harness.PortDialogsAnswered(), 1);
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC"),
                                                        QStringLiteral("REC2"), QStringLiteral("REC")}));
    EXPECT_EQ(form().RecGSM2->FontColor(), clGradientActiveCaption);
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
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC"),
                                                        QStringLiteral("ERASE")}));
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
    ExpectModal([&shown](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return false;
        shown = box->text();
        box->button(QMessageBox::Ok)->click();
        return true;
    });
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

TEST_F(Recording, ClosingTheWindowDuringARecordingStopsTheDevice)
{
    StartLongRecording(harness);
    harness.Window().close();  // the close box and Alt+F4 end here
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

TEST_F(Recording, TerminationSignalsDuringARecordingStopTheDeviceAsTheCloseBoxDoes)
{
    for (int signalNumber : {SIGTERM, SIGINT}) {
        RecorderHarness own;
        QString error;
        ASSERT_TRUE(own.Start(&error)) << error.toStdString();
        // Wired as the program wires it.
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::Arrived, &own.Window(), &QWidget::close);
        StartLongRecording(own);
        ASSERT_EQ(::raise(signalNumber), 0);
        ASSERT_TRUE(own.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000)) << signalNumber;
        EXPECT_EQ(termination.Received(), signalNumber);
        EXPECT_FALSE(own.Window().isVisible());
    }
}

TEST_F(Recording, AnEmptyWaveIsRefusedWhenLoaded)
{
    const QString empty = harness.MakeToneWav(QStringLiteral("empty.wav"), 0, kRate);
    ASSERT_FALSE(empty.isEmpty());
    QString shown;
    ExpectModal([&shown](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return false;
        shown = box->text();
        box->button(QMessageBox::Ok)->click();
        return true;
    }, 20000);
    EXPECT_FALSE(harness.LoadThroughLabel(empty));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
    EXPECT_EQ(shown, QStringLiteral("The sound file is empty: ") + empty + QLatin1Char('.'));
    EXPECT_EQ(form().Fname->Caption(), QStringLiteral("---------"));
}

// What the device hears: the sound at a real sound server's sink, on the serial line's timeline.
TEST(RecordingAtTheSink, TheWholeToneReachesTheSinkWhileTheDeviceRecords)
{
    if (!SoundSink::Available())
        GTEST_SKIP() << "pulseaudio and parec are not installed (scripts/setup installs them)";
    RecorderHarness harness(RecorderHarness::Audio::Sink);
    QString error;
    ASSERT_TRUE(harness.Start(&error)) << error.toStdString();
    Ui::TForm1 &form = harness.Window().Form();
    const QString file = harness.MakeToneWav(QStringLiteral("tone.wav"), 1500, kRate);
    ASSERT_TRUE(harness.LoadThroughLabel(file));

    const std::int64_t before = harness.Sink().FrameCount();
    harness.Click(form.kwFlatBtn1, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 20000));
    const auto start = harness.Device().Arrival(QStringLiteral("REC1"), 1);
    const auto stop = harness.Device().Arrival(QStringLiteral("REC"), 1);
    ASSERT_TRUE(start && stop);
    ASSERT_TRUE(harness.Sink().WaitUntilCaptured(*stop + std::chrono::milliseconds(300), std::chrono::seconds(5)));

    SoundSink &sink = harness.Sink();
    const auto first = sink.FirstSound(500, before);
    ASSERT_TRUE(first.has_value()) << "no sound reached the sink";
    const auto last = sink.LastSound(500, *first);
    ASSERT_TRUE(last.has_value());
    // The tone starts once the device records, and about 1.5 s of it is played.
    EXPECT_GT(sink.FrameTime(*first), *start);
    EXPECT_NEAR(double(*last - *first) / SoundSink::Rate, 1.5, 0.05);
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
