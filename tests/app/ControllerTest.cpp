#include "app/TForm1.h"
#include "tests/app/FakeParts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tuple>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kRed = std::to_string(TForm1::RecordingColour);
const std::string kNormal = std::to_string(clGradientActiveCaption);

class Controller : public ::testing::Test {
protected:
    void SetUp() override
    {
        ActiveGSM1 = false;
        ActiveGSM2 = false;
    }

    // Loads a file of the given length through the file-name label and forgets the calls.
    void load(std::int32_t lengthMs)
    {
        fakes.dialog.chosen = QStringLiteral("/sounds/tone.wav");
        fakes.player.length = lengthMs;
        form.FnameClick();
        fakes.log.calls.clear();
    }

    FakeForm fakes;
    TForm1 form{fakes.parts()};
};

TEST_F(Controller, RecordSendsCommandThenPlaysFromStart)
{
    load(4200);
    form.kwFlatBtn1Click();
    EXPECT_THAT(fakes.log.calls, ElementsAre("send REC1\r\n", "Timer on", "SeekTo 0", "StartPlayback",
                                             "RecGSM1 colour " + kRed, "RecGSM2 colour " + kNormal));
    EXPECT_TRUE(ActiveGSM1);
    EXPECT_FALSE(ActiveGSM2);

    fakes.log.calls.clear();
    form.kwFlatBtn3Click();
    // Switching channels sends no stop first and restarts playback.
    EXPECT_THAT(fakes.log.calls, ElementsAre("send REC2\r\n", "Timer on", "SeekTo 0", "StartPlayback",
                                             "RecGSM2 colour " + kRed, "RecGSM1 colour " + kNormal));
    EXPECT_FALSE(ActiveGSM1);
    EXPECT_TRUE(ActiveGSM2);
}

TEST_F(Controller, RecordWithoutFileArmsTheDeviceOnly)
{
    form.kwFlatBtn3Click();
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("send REC2\r\n", "Timer on", "RecGSM2 colour " + kRed, "RecGSM1 colour " + kNormal));
    // Every tick returns at its first test: the player never reports a position.
    fakes.log.calls.clear();
    for (int i = 0; i < 5; ++i)
        form.Timer1Timer();
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    EXPECT_TRUE(fakes.timer.enabled);
}

TEST_F(Controller, StopAndEraseWithAndWithoutFile)
{
    form.kwFlatBtn2Click();
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal, "RecGSM2 colour " + kNormal));

    load(4200);
    form.kwFlatBtn2Click();
    EXPECT_THAT(fakes.log.calls, ElementsAre("StopPlayback", "Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal,
                                             "RecGSM2 colour " + kNormal));
}

TEST_F(Controller, EraseRunsBothGaugesDownWithoutStoppingTheRecordFirst)
{
    load(4200);
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    form.kwFlatBtn6Click();

    std::vector<std::string> expected{"StopPlayback", "Timer off", "send ERASE\r\n"};
    for (const char *gauge : {"Gauge1", "Gauge2"}) {
        for (int value = 100; value >= 0; --value) {
            expected.push_back(std::string(gauge) + " " + std::to_string(value));
            expected.push_back("Sleep 30");
        }
    }
    EXPECT_EQ(fakes.log.calls, expected);
    EXPECT_EQ(fakes.log.sends(), std::vector<std::string>{"ERASE\r\n"});
    // The channel label stays red and the flags stay as they were.
    EXPECT_EQ(fakes.recGsm1.colour, TForm1::RecordingColour);
    EXPECT_TRUE(ActiveGSM1);
}

TEST_F(Controller, LoadingThroughTheListButtonStopsTheRecordingFirst)
{
    fakes.dialog.chosen = QStringLiteral("/sounds/a.mid");
    fakes.player.length = 7350;
    form.kwFlatBtn4Click();
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("dialog", "Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal,
                            "RecGSM2 colour " + kNormal, "FileName /sounds/a.mid", "OpenDevice", "StepFrames 1",
                            "StepForward", "NotifyRequest true", "DisplayArea 0,0,17,17", "TimeFormat 0",
                            "LabelLength caption 7.350 sec.", "Fname caption /sounds/a.mid"));
    EXPECT_EQ(fakes.player.lengthQueries, 3);
}

TEST_F(Controller, LoadingThroughTheLabelLeavesARecordingRunning)
{
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    fakes.dialog.chosen = QStringLiteral("/sounds/b.wav");
    fakes.player.length = 12005;
    form.FnameClick();
    EXPECT_THAT(fakes.log.sends(), IsEmpty());
    EXPECT_TRUE(fakes.timer.enabled);
    EXPECT_EQ(fakes.labelLength.caption, QStringLiteral("12.005 sec."));
}

TEST_F(Controller, CancelledDialogOrNoSoundCardChangesNothing)
{
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    form.kwFlatBtn4Click(); // dialog cancelled: the timer is not stopped either
    EXPECT_THAT(fakes.log.calls, ElementsAre("dialog"));
    EXPECT_TRUE(fakes.timer.enabled);

    fakes.log.calls.clear();
    fakes.platform.soundCards = 0;
    fakes.dialog.chosen = QStringLiteral("/sounds/a.wav");
    form.kwFlatBtn4Click();
    form.FnameClick();
    EXPECT_THAT(fakes.log.calls, IsEmpty());
}

TEST_F(Controller, FailedOpenKeepsLabelsAndLeavesTheRecordToFailAtSeek)
{
    load(4200);
    fakes.player.openFails = true;
    fakes.dialog.chosen = QStringLiteral("/sounds/broken.wav");
    EXPECT_THROW(form.FnameClick(), Exception);
    EXPECT_EQ(fakes.fname.caption, QStringLiteral("/sounds/tone.wav"));
    EXPECT_EQ(fakes.labelLength.caption, QStringLiteral("4.200 sec."));
    EXPECT_TRUE(fakes.player.notifyRequest);

    // The old file is closed while NotifyRequest is still true: the record press sends its command,
    // starts the timer, then the seek raises before flags or colours change.
    fakes.log.calls.clear();
    try {
        form.kwFlatBtn3Click();
        FAIL() << "the seek on a closed player must raise";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), "No MCI device open");
    }
    // The device was told to record: it is told to stop at once, before the error is shown.
    EXPECT_THAT(fakes.log.calls, ElementsAre("send REC2\r\n", "Timer on", "Timer off", "send REC\r\n"));
    EXPECT_FALSE(ActiveGSM2);
    EXPECT_EQ(fakes.recGsm2.colour, clGradientActiveCaption);
}

TEST_F(Controller, FailedSendEndsEachHandlerWhereItStands)
{
    load(4200);
    const std::string refused = "ie_Open - device already open";
    fakes.serial.failWith = &refused;

    EXPECT_THROW(form.kwFlatBtn1Click(), Exception);
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    EXPECT_FALSE(ActiveGSM1);

    EXPECT_THROW(form.kwFlatBtn6Click(), Exception);
    EXPECT_THAT(fakes.log.calls, ElementsAre("StopPlayback", "Timer off")); // no run-down

    fakes.log.calls.clear();
    fakes.dialog.chosen = QStringLiteral("/sounds/next.wav");
    EXPECT_THROW(form.kwFlatBtn4Click(), Exception);
    EXPECT_THAT(fakes.log.calls, ElementsAre("dialog", "Timer off")); // the file is not loaded
    EXPECT_EQ(fakes.fname.caption, QStringLiteral("/sounds/tone.wav"));

    fakes.log.calls.clear();
    fakes.player.positions = {10000};
    EXPECT_THROW(form.Timer1Timer(), Exception);
    EXPECT_EQ(fakes.log.calls.back(), "Timer off");
}

TEST_F(Controller, ExitStopsARecordingInProgressAndSendsNothingOtherwise)
{
    load(4200);
    form.kwFlatBtn5Click();
    form.FormClose();
    EXPECT_THAT(fakes.log.calls, ElementsAre("Timer off", "Close", "Timer off"));

    // The exit button during a recording.
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    form.kwFlatBtn5Click();
    form.FormClose(); // the close that the button starts finds nothing left to stop
    EXPECT_THAT(fakes.log.calls, ElementsAre("StopPlayback", "Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal,
                                             "RecGSM2 colour " + kNormal, "Timer off", "Close", "Timer off"));

    // The close box, Alt+F4 or a signal during a recording armed without a file.
    FakeForm noFile;
    TForm1 other(noFile.parts());
    other.kwFlatBtn3Click();
    noFile.log.calls.clear();
    other.FormClose();
    EXPECT_THAT(noFile.log.calls, ElementsAre("Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal,
                                              "RecGSM2 colour " + kNormal, "Timer off"));
}

TEST_F(Controller, StopAndEraseReachTheDeviceEvenWhenThePlayerFails)
{
    load(4200);
    form.kwFlatBtn1Click();
    // A failed load closes the old file but leaves NotifyRequest set: the player refuses to stop.
    fakes.player.openFails = true;
    fakes.dialog.chosen = QStringLiteral("/sounds/notasound.txt");
    EXPECT_THROW(form.FnameClick(), Exception);
    fakes.log.calls.clear();

    EXPECT_THROW(form.kwFlatBtn2Click(), Exception);
    EXPECT_THAT(fakes.log.sends(), ElementsAre("REC\r\n"));
    EXPECT_FALSE(fakes.timer.enabled);
    EXPECT_EQ(fakes.recGsm1.colour, clGradientActiveCaption);

    fakes.log.calls.clear();
    try {
        form.kwFlatBtn6Click();
        FAIL() << "the player's failure must still be shown";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), "No MCI device open");
    }
    EXPECT_THAT(fakes.log.sends(), ElementsAre("ERASE\r\n"));
    EXPECT_EQ(fakes.log.calls.size(), 2u + 2 * 101 * 2); // the gauges still run down
}

TEST_F(Controller, RecordWhosePlaybackCannotStartStopsTheDeviceAtOnce)
{
    load(4200);
    fakes.player.playFailure = "The sound output could not be opened";
    try {
        form.kwFlatBtn1Click();
        FAIL() << "a play that did not start must be shown";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), fakes.player.playFailure);
    }
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("send REC1\r\n", "Timer on", "SeekTo 0", "StartPlayback", "Timer off", "send REC\r\n"));
    EXPECT_FALSE(ActiveGSM1);
    EXPECT_EQ(fakes.recGsm1.colour, clGradientActiveCaption);
}

TEST_F(Controller, AnEmptySoundFileIsRefusedWhenLoaded)
{
    load(4200);
    fakes.dialog.chosen = QStringLiteral("/sounds/empty.wav");
    fakes.player.length = 0;
    try {
        form.FnameClick();
        FAIL() << "a file of 0 ms must be refused";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), "The sound file is empty: /sounds/empty.wav");
    }
    EXPECT_EQ(fakes.log.calls.back(), "CloseDevice");
    EXPECT_EQ(fakes.fname.caption, QStringLiteral("/sounds/tone.wav"));
    EXPECT_EQ(fakes.labelLength.caption, QStringLiteral("4.200 sec."));

    // Nothing is recorded from it: the device is stopped as soon as it was started.
    fakes.log.calls.clear();
    EXPECT_THROW(form.kwFlatBtn1Click(), Exception);
    EXPECT_THAT(fakes.log.sends(), ElementsAre("REC1\r\n", "REC\r\n"));
}

TEST_F(Controller, TickReturnsEarlyUntilThereIsAPositionAndAFile)
{
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    fakes.player.positions = {0};
    form.Timer1Timer();
    EXPECT_EQ(fakes.player.positionQueries, 1);

    // A position but no file loaded: the second test returns.
    fakes.player.positions = {500};
    form.Timer1Timer();
    EXPECT_EQ(fakes.player.positionQueries, 2);
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    EXPECT_EQ(fakes.display.text, QStringLiteral("000000"));
}

TEST_F(Controller, TickFollowsThePositionAndStopsAtTheFilesEnd)
{
    load(4200);
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    const int lengthQueriesBefore = fakes.player.lengthQueries;

    // Each query of one tick sees the sound move on a little.
    fakes.player.positions = {1149, 1150, 1151, 1152, 1153};
    form.Timer1Timer();
    EXPECT_THAT(fakes.log.calls, ElementsAre("Gauge1 12", "LCD 1151"));
    EXPECT_EQ(fakes.player.lengthQueries, lengthQueriesBefore + 1);

    fakes.log.calls.clear();
    fakes.player.positions = {4200};
    form.Timer1Timer();
    EXPECT_THAT(fakes.log.calls, ElementsAre("Gauge1 42", "LCD 4200", "StopPlayback", "Timer off", "send REC\r\n",
                                             "RecGSM1 colour " + kNormal, "RecGSM2 colour " + kNormal));
    EXPECT_EQ(fakes.gauge2.progress, 0);
}

TEST_F(Controller, TickStopsAtTheLimitWithoutAskingForTheLength)
{
    load(25000);
    form.kwFlatBtn3Click();
    fakes.log.calls.clear();
    const int lengthQueriesBefore = fakes.player.lengthQueries;

    fakes.player.positions = {9990, 9995, 9999, 10002, 10007};
    form.Timer1Timer();
    // The stop test's own query saw 10007: that tick ends the recording.
    EXPECT_THAT(fakes.log.calls, ElementsAre("Gauge2 100", "LCD 9999", "StopPlayback", "Timer off", "send REC\r\n",
                                             "RecGSM1 colour " + kNormal, "RecGSM2 colour " + kNormal));
    EXPECT_EQ(fakes.player.lengthQueries, lengthQueriesBefore);
}

TEST_F(Controller, TicksAtPositionZeroChangeNothingWhileTheSoundStarts)
{
    load(4200);
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    fakes.player.positions = {0};
    for (int i = 0; i < 3; ++i)
        form.Timer1Timer();
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    EXPECT_EQ(fakes.display.text, QStringLiteral("000000"));
    EXPECT_TRUE(fakes.timer.enabled);
}

TEST_F(Controller, TheStopTestsAtTheirExactBoundaries)
{
    // {length, position seen by every query, whether the tick ends the recording}
    const std::tuple<std::int32_t, std::int32_t, bool> cases[] = {
        {25000, 9999, false}, {25000, 10000, true}, {4200, 4199, false},  {4200, 4200, true},
        {4200, 4201, true},   {10000, 9999, false}, {10001, 10000, true},
    };
    for (const auto &[length, position, stops] : cases) {
        FakeForm own;
        TForm1 controller(own.parts());
        own.dialog.chosen = QStringLiteral("/sounds/tone.wav");
        own.player.length = length;
        controller.FnameClick();
        controller.kwFlatBtn1Click();
        own.log.calls.clear();
        own.player.positions = {position};
        controller.Timer1Timer();
        EXPECT_EQ(own.timer.enabled, !stops) << length << " " << position;
        EXPECT_EQ(own.log.sends(), stops ? std::vector<std::string>{"REC\r\n"} : std::vector<std::string>{})
            << length << " " << position;
    }
}

TEST_F(Controller, FormCreateChecksTheSoundCard)
{
    form.FormCreate();
    EXPECT_THAT(fakes.log.calls, ElementsAre("NotifyRequest false"));
    EXPECT_TRUE(fakes.picture.transparent);

    FakeForm noCard;
    noCard.platform.soundCards = 0;
    TForm1 other(noCard.parts());
    other.FormCreate();
    EXPECT_THAT(noCard.log.calls, ElementsAre("message Sound card is not installed"));
    EXPECT_TRUE(noCard.picture.transparent);
}

TEST(LengthText, SecondsDotThreeDigitsOfMilliseconds)
{
    const std::pair<std::int32_t, const char *> cases[] = {
        {7350, "7.350 sec."},   {12005, "12.005 sec."}, {5030, "5.030 sec."}, {900, "0.900 sec."},
        {60000, "60.000 sec."}, {0, "0.000 sec."},      {999, "0.999 sec."},  {1001, "1.001 sec."},
    };
    for (const auto &[length, text] : cases)
        EXPECT_EQ(TForm1::LengthText(length), QString::fromLatin1(text)) << length;
}

TEST(GaugeValue, RoundsHalfToEven)
{
    const std::pair<std::int32_t, int> cases[] = {
        {50, 0}, {150, 2}, {250, 2}, {1050, 10}, {1150, 12}, {9950, 100}, {10051, 101}, {12000, 120},
    };
    for (const auto &[position, value] : cases)
        EXPECT_EQ(TForm1::GaugeValue(position), value) << position;
}

} // namespace
