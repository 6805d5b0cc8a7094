#include "app/TForm1.h"
#include "tests/recorder/FakeParts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kNormal = std::to_string(clGradientActiveCaption);

struct FakeDialog : OpenDialogOps {
    explicit FakeDialog(CallLog &log) : log(log) {}
    bool Execute() override
    {
        log.add("dialog");
        return !chosen.isEmpty();
    }
    QString FileName() const override { return chosen; }
    CallLog &log;
    QString chosen;
};

struct FakePicture : PictureOps {
    void setTransparent(bool value) override { transparent = value; }
    bool transparent = false;
};

struct FakeWindow : WindowOps {
    explicit FakeWindow(CallLog &log) : log(log) {}
    void Close() override { log.add("Close"); }
    CallLog &log;
};

// The window's handlers over the recorder, with the window's own parts faked too.
struct FakeForm {
    FakeParts fakes;
    FakeDialog dialog{fakes.log};
    FakePicture picture;
    FakeWindow window{fakes.log};
    Recorder recorder{fakes.parts()};
    TForm1 form{recorder, dialog, picture, window};
};

class FormHandlers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ActiveGSM1 = false;
        ActiveGSM2 = false;
    }
    FakeForm own;
    FakeParts &fakes = own.fakes;
    TForm1 &form = own.form;
};

TEST_F(FormHandlers, LoadingThroughTheListButtonStopsTheRecordingFirst)
{
    own.dialog.chosen = QStringLiteral("/sounds/a.mid");
    fakes.player.length = 7350;
    form.kwFlatBtn4Click();
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("dialog", "Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal,
                            "RecGSM2 colour " + kNormal, "FileName /sounds/a.mid", "OpenDevice", "StepFrames 1",
                            "StepForward", "NotifyRequest true", "DisplayArea 0,0,17,17", "TimeFormat 0",
                            "LabelLength caption 7.350 sec.", "Fname caption /sounds/a.mid"));
    EXPECT_EQ(fakes.player.lengthQueries, 3);

    // A send that fails ends the handler there: the file is not loaded.
    const std::string refused = "ie_Open - device already open";
    fakes.serial.failWith = &refused;
    fakes.log.calls.clear();
    own.dialog.chosen = QStringLiteral("/sounds/next.wav");
    EXPECT_THROW(form.kwFlatBtn4Click(), Exception);
    EXPECT_THAT(fakes.log.calls, ElementsAre("dialog", "StopPlayback", "Timer off"));
    EXPECT_EQ(fakes.fname.caption, QStringLiteral("/sounds/a.mid"));
}

TEST_F(FormHandlers, LoadingThroughTheLabelLeavesARecordingRunning)
{
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    own.dialog.chosen = QStringLiteral("/sounds/b.wav");
    fakes.player.length = 12005;
    form.FnameClick();
    EXPECT_THAT(fakes.log.sends(), IsEmpty());
    EXPECT_TRUE(fakes.timer.enabled);
    EXPECT_EQ(fakes.labelLength.caption, QStringLiteral("12.005 sec."));
}

TEST_F(FormHandlers, CancelledDialogOrNoSoundCardChangesNothing)
{
    form.kwFlatBtn1Click();
    fakes.log.calls.clear();
    form.kwFlatBtn4Click(); // dialog cancelled: the timer is not stopped either
    EXPECT_THAT(fakes.log.calls, ElementsAre("dialog"));
    EXPECT_TRUE(fakes.timer.enabled);

    fakes.log.calls.clear();
    fakes.platform.soundCards = 0;
    own.dialog.chosen = QStringLiteral("/sounds/a.wav");
    form.kwFlatBtn4Click();
    form.FnameClick();
    EXPECT_THAT(fakes.log.calls, IsEmpty());
}

TEST_F(FormHandlers, ExitStopsARecordingInProgressAndSendsNothingOtherwise)
{
    fakes.player.length = 4200;
    own.dialog.chosen = QStringLiteral("/sounds/tone.wav");
    form.FnameClick();
    fakes.log.calls.clear();
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
    noFile.form.kwFlatBtn3Click();
    noFile.fakes.log.calls.clear();
    noFile.form.FormClose();
    EXPECT_THAT(noFile.fakes.log.calls, ElementsAre("Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal,
                                                    "RecGSM2 colour " + kNormal, "Timer off"));
}

TEST_F(FormHandlers, FormCreateChecksTheSoundCard)
{
    form.FormCreate();
    EXPECT_THAT(fakes.log.calls, ElementsAre("NotifyRequest false"));
    EXPECT_TRUE(own.picture.transparent);

    FakeForm noCard;
    noCard.fakes.platform.soundCards = 0;
    noCard.form.FormCreate();
    EXPECT_THAT(noCard.fakes.log.calls, ElementsAre("message Sound card is not installed"));
    EXPECT_TRUE(noCard.picture.transparent);
}

} // namespace
