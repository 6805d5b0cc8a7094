#include "base/Component.h"
#include "media/MediaPlayer.h"
#include "tests/media/MediaFixtures.h"

#include <QTest>
#include <sndfile.h>

#include <gtest/gtest.h>

namespace {

using Btn = TMediaPlayer;

struct OpenPlayer {
    OpenPlayer(int milliseconds = 3000)
    {
        path = dir.Path("p.wav");
        WriteWave(path, 32000, 1, 32 * milliseconds, SF_FORMAT_PCM_16);
        player.setFileName(QString::fromStdString(path));
        player.OnNotify = [this](QObject *) { ++notices; };
    }
    // Lets queued notices arrive and returns how many came since the last call.
    int NewNotices()
    {
        QCoreApplication::processEvents();
        QTest::qWait(30);
        QCoreApplication::processEvents();
        return std::exchange(notices, 0);
    }
    FixtureDir dir;
    std::string path;
    TMediaPlayer player;
    int notices = 0;
};

TEST(PlayerControlTest, ClosedPlayerRaisesNoMciDeviceOpen)
{
    TMediaPlayer player;
    const std::function<void()> needsDevice[] = {
        [&] { player.MediaLength(); },  [&] { player.SeekTo(0); },     [&] { player.StartPlayback(); },
        [&] { player.StopPlayback(); }, [&] { player.StepForward(); }, [&] { player.SeekToStart(); },
    };
    for (const auto &call : needsDevice) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const EMCIDeviceError &error) {
            EXPECT_EQ(error.Message(), "No MCI device open");
        }
    }
    // Position and mode ask device 0, which fails quietly.
    EXPECT_EQ(player.CurrentPosition(), 0);
    EXPECT_NE(player.LastMciResult(), 0u);
    EXPECT_EQ(player.LastMciResultText(), "No media device is open under this identifier");
    EXPECT_NO_THROW(player.DeviceMode());
    EXPECT_NO_THROW(player.CloseDevice());
}

TEST(PlayerControlTest, DefaultsAndConstruction)
{
    TMediaPlayer player;
    EXPECT_EQ(player.size(), QSize(240, 30));
    EXPECT_TRUE(player.TabStop());
    EXPECT_TRUE(player.AutoRewind());
    EXPECT_TRUE(player.AutoEnable());
    EXPECT_FALSE(player.AutoOpen());
    EXPECT_EQ(player.VisibleButtons(), 511);
    EXPECT_EQ(player.DeviceType(), TMediaPlayer::dtAutoSelect);
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.DeviceNumber(), 0);
    EXPECT_FALSE(player.NotifyRequest());
    EXPECT_FALSE(player.NotifyArmed());
    // The window's description can set the published properties by name.
    EXPECT_TRUE(player.setProperty("VisibleButtons", 0u));
    EXPECT_TRUE(player.setProperty("Visible", false));
    EXPECT_TRUE(player.setProperty("DeviceType", "dtWaveAudio"));
    EXPECT_EQ(player.VisibleButtons(), 0);
    EXPECT_TRUE(player.isHidden());
    EXPECT_EQ(player.DeviceType(), TMediaPlayer::dtWaveAudio);
}

TEST(PlayerControlTest, NotifyRequestArmsOneCommand)
{
    OpenPlayer p;
    p.player.OpenDevice();
    p.NewNotices();

    // Wait-style: a notice only for the one command after NotifyRequest was written true.
    p.player.setNotifyRequest(true);
    EXPECT_TRUE(p.player.NotifyArmed());
    p.player.SeekTo(0);
    EXPECT_FALSE(p.player.NotifyArmed());
    EXPECT_EQ(p.NewNotices(), 1);
    p.player.SeekTo(0);
    EXPECT_EQ(p.NewNotices(), 0);
    EXPECT_TRUE(p.player.NotifyRequest()); // the stored value stays

    // Play-style: a notice unless it was refused for this one play.
    p.player.setNotifyRequest(false);
    p.player.StartPlayback();
    p.player.StopPlayback();
    EXPECT_EQ(p.NewNotices(), 0);
    p.player.StartPlayback();
    p.player.StopPlayback(); // the play's notice: aborted
    EXPECT_EQ(p.NewNotices(), 1);
    EXPECT_FALSE(p.player.NotifyRequest());

    // The time format always asks for a notice and leaves the marker alone.
    p.player.setNotifyRequest(true);
    p.player.setTimeFormatCode(0);
    EXPECT_TRUE(p.player.NotifyArmed());
    EXPECT_EQ(p.NewNotices(), 1);
}

TEST(PlayerControlTest, SoundFilesHaveNoVideo)
{
    OpenPlayer p;
    p.player.OpenDevice();
    EXPECT_TRUE(p.player.PlayCapable());
    EXPECT_FALSE(p.player.VideoCapable());
    EXPECT_FALSE(p.player.StepCapable());
    EXPECT_EQ(p.player.StepFrames(), 300);
    // A refused track format is recorded; what follows sends nothing and leaves it standing.
    p.player.setTimeFormatCode(10);
    const MCIERROR refused = p.player.LastMciResult();
    ASSERT_NE(refused, 0u);
    EXPECT_EQ(p.player.LastMciResultText(), "The media device does not support this time format");
    p.player.setStepFrames(1);
    p.player.StepForward();
    p.player.setDisplayArea(QRect(0, 0, 17, 17));
    QWidget panel;
    p.player.setDisplay(&panel);
    EXPECT_EQ(p.player.DisplayArea(), QRect());
    EXPECT_EQ(p.player.LastMciResult(), refused);
    EXPECT_EQ(p.player.Display(), &panel);
    EXPECT_EQ(p.player.CurrentPosition(), 0);
}

TEST(PlayerControlTest, ButtonsFollowTheDeviceState)
{
    OpenPlayer p(200);
    EXPECT_EQ(p.player.AutoEnabledButtons(), 0);
    p.player.OpenDevice();
    EXPECT_EQ(p.player.AutoEnabledButtons(), Btn::Bit(Btn::btPlay) | Btn::Bit(Btn::btNext) | Btn::Bit(Btn::btPrev));

    std::vector<Btn::TMPBtnType> clicked, posted;
    p.player.OnClick = [&](QObject *, Btn::TMPBtnType button, bool &) { clicked.push_back(button); };
    p.player.OnPostClick = [&](QObject *, Btn::TMPBtnType button) { posted.push_back(button); };
    p.player.show();
    // Nine buttons of (240 - 1) / 9 + 1 = 27 pixels, sharing edges: play at 0..26, stop at 52..78.
    QTest::mouseClick(&p.player, Qt::LeftButton, {}, QPoint(13, 15));
    EXPECT_EQ(p.player.DeviceMode(), 2);
    EXPECT_EQ(p.player.AutoEnabledButtons(),
              Btn::Bit(Btn::btPause) | Btn::Bit(Btn::btStop) | Btn::Bit(Btn::btNext) | Btn::Bit(Btn::btPrev));
    QTest::mouseClick(&p.player, Qt::LeftButton, {}, QPoint(65, 15));
    EXPECT_EQ(p.player.DeviceMode(), 1);
    EXPECT_EQ(clicked, (std::vector<Btn::TMPBtnType>{Btn::btPlay, Btn::btStop}));
    EXPECT_EQ(posted, clicked);

    // A disabled button takes no click; a refused click does nothing but tell.
    QTest::mouseClick(&p.player, Qt::LeftButton, {}, QPoint(65, 15));
    EXPECT_EQ(clicked.size(), 2u);
    p.player.OnClick = [&](QObject *, Btn::TMPBtnType button, bool &doDefault) {
        clicked.push_back(button);
        doDefault = false;
    };
    QTest::mouseClick(&p.player, Qt::LeftButton, {}, QPoint(13, 15));
    EXPECT_EQ(p.player.DeviceMode(), 1);
    EXPECT_EQ(clicked.size(), 3u);
    EXPECT_EQ(posted.size(), 2u);
    // The enabling still counts the click as one on play.
    EXPECT_EQ(p.player.AutoEnabledButtons() & Btn::Bit(Btn::btPlay), 0);

    // When a play ends by itself, its notice brings play back.
    p.NewNotices();
    p.player.SeekTo(0);
    p.player.StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return p.player.CurrentPosition() == 200; }));
    ASSERT_TRUE(WaitFor([&] { return (p.player.AutoEnabledButtons() & Btn::Bit(Btn::btPlay)) != 0; }));
    EXPECT_EQ(p.player.AutoEnabledButtons() & Btn::Bit(Btn::btStop), 0);

    p.player.CloseDevice();
    EXPECT_EQ(p.player.AutoEnabledButtons(), 0);
}

TEST(PlayerControlTest, KeyboardMovesFocusAndClicks)
{
    OpenPlayer p;
    p.player.OpenDevice();
    p.player.setVisibleButtons(Btn::Bit(Btn::btPlay) | Btn::Bit(Btn::btStop));
    p.player.show();
    p.player.setFocus();
    QTest::keyClick(&p.player, Qt::Key_Space); // play
    EXPECT_EQ(p.player.DeviceMode(), 2);
    QTest::keyClick(&p.player, Qt::Key_Right); // the next visible button: stop
    QTest::keyClick(&p.player, Qt::Key_Space);
    EXPECT_EQ(p.player.DeviceMode(), 1);
    QTest::keyClick(&p.player, Qt::Key_Right); // wraps round to play
    p.player.setEnabledButtons(0);             // the keyboard goes by the enabled flags
    QTest::keyClick(&p.player, Qt::Key_Space);
    EXPECT_EQ(p.player.DeviceMode(), 1);
}

TEST(PlayerControlTest, AutoOpenOpensWhenLoadingEnds)
{
    FixtureDir dir;
    const std::string path = dir.Path("auto.wav");
    WriteWave(path, 8000, 1, 8000, SF_FORMAT_PCM_16);
    std::unique_ptr<TMediaPlayer> player;
    {
        FormLoadingScope loading;
        player = std::make_unique<TMediaPlayer>();
        player->setFileName(QString::fromStdString(path));
        player->setAutoOpen(true);
    }
    EXPECT_FALSE(player->IsOpen());
    player->FinishLoading();
    EXPECT_TRUE(player->IsOpen());
    EXPECT_EQ(player->MediaLength(), 1000);
}

// Anchors and Constraints are published like the other framework properties: a value stored by
// name, as the window's description stores it, reaches the control.
TEST(PlayerControlTest, AnchorsAndConstraintsReachTheControl)
{
    QWidget window;
    window.resize(400, 300);
    QWidget &parent = *new QWidget(&window);
    parent.resize(200, 100);
    auto *player = new TMediaPlayer(&parent);
    window.show(); // a hidden widget's resizing waits until it is shown
    EXPECT_EQ(player->Anchors(), TMediaPlayer::TAnchors(TMediaPlayer::akLeft | TMediaPlayer::akTop));
    EXPECT_EQ(player->Constraints(), TSizeConstraints{});
    player->setVisibleButtons(0);
    player->setGeometry(10, 10, 50, 20);

    // Left, right and bottom: the player stretches with the parent's width and keeps its
    // distance from the bottom edge.
    EXPECT_TRUE(
        player->setProperty("Anchors", QVariant::fromValue(TMediaPlayer::TAnchors(
                                           TMediaPlayer::akLeft | TMediaPlayer::akRight | TMediaPlayer::akBottom))));
    parent.resize(300, 150);
    EXPECT_EQ(player->geometry(), QRect(10, 60, 150, 20));

    TSizeConstraints limits;
    limits.MinWidth = 60;
    limits.MinHeight = 25;
    limits.MaxWidth = 120;
    limits.MaxHeight = 30;
    EXPECT_TRUE(player->setProperty("Constraints", QVariant::fromValue(limits)));
    EXPECT_EQ(player->Constraints(), limits);
    EXPECT_EQ(player->size(), QSize(120, 25)); // 150 wide was too wide, 20 high too low
    player->resize(1000, 1000);
    EXPECT_EQ(player->size(), QSize(120, 30));
    player->resize(1, 1);
    EXPECT_EQ(player->size(), QSize(60, 25));
    // Stretching goes on within the limits.
    parent.resize(280, 150);
    EXPECT_EQ(player->width(), 60);
}

} // namespace
