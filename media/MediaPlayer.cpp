#include "media/MediaPlayer.h"

#include "base/ExceptionSink.h"
#include "media/MciNotify.h"
#include "media/MediaErrors.h"
#include "media/MediaSystem.h"

#include <QFile>
#include <QResizeEvent>

#include <algorithm>

namespace {

// The device type name each TMPDeviceTypes value opens with; none for automatic selection.
const char *const deviceTypeNames[] = {
    nullptr,   "AVIVideo", "CDAudio",   "DAT", "DigitalVideo", "MMMovie",   "Other",
    "Overlay", "Scanner",  "Sequencer", "VCR", "Videodisc",    "WaveAudio",
};

// DeviceMode values.
constexpr std::uint8_t modeStopped = 1;
constexpr std::uint8_t modePlaying = 2;
constexpr std::uint8_t modePaused = 5;

// Track-format positions: the track in the lowest byte, then minutes, seconds and frames.
std::uint32_t TmsfTrack(std::uint32_t position) { return position & 0xFF; }
std::uint32_t TmsfMinutesSeconds(std::uint32_t position) { return (position >> 8) & 0xFFFF; }

} // namespace

TMediaPlayer::TMediaPlayer(QWidget *parent) : QWidget(parent)
{
    if (parent != nullptr)
        parent->installEventFilter(this); // for the anchors
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(240, 30);
    setTabStop(true);
    LayOutButtons();
}

TMediaPlayer::~TMediaPlayer()
{
    if (deviceNumber_ != 0) {
        MCI_GENERIC_PARMS parms;
        mciSendCommand(deviceNumber_, MCI_CLOSE, MCI_WAIT, &parms);
    }
}

// ---- Flags and state -------------------------------------------------------------------------

// Wait-style commands wait, and send a notice only when one was asked for this one command.
std::uint32_t TMediaPlayer::WaitStyleFlags()
{
    std::uint32_t flags = MCI_WAIT;
    if (notifyArmed_ && notifyRequest_)
        flags |= MCI_NOTIFY;
    notifyArmed_ = false;
    return flags;
}

// Play-style commands never wait, and send a notice unless it was refused for this one command.
std::uint32_t TMediaPlayer::PlayStyleFlags()
{
    std::uint32_t flags = 0;
    if (!(notifyArmed_ && !notifyRequest_))
        flags |= MCI_NOTIFY;
    notifyArmed_ = false;
    return flags;
}

void TMediaPlayer::setNotifyRequest(bool request)
{
    notifyRequest_ = request;
    notifyArmed_ = true;
}

QString TMediaPlayer::LastMciResultText() const
{
    char text[4096];
    if (!mciGetErrorString(lastMciResult_, text, sizeof text))
        return QStringLiteral("Unknown error code");
    return QString::fromLocal8Bit(text);
}

void TMediaPlayer::RequireOpen() const
{
    if (!isOpen_)
        throw EMCIDeviceError("No MCI device open");
}

// ---- Opening and closing ---------------------------------------------------------------------

void TMediaPlayer::OpenDevice()
{
    if (isOpen_)
        CloseDevice();

    const QByteArray element = QFile::encodeName(fileName_);
    MCI_OPEN_PARMS parms;
    parms.lpstrDeviceType = deviceTypeNames[deviceType_];
    parms.lpstrElementName = element.constData();
    std::uint32_t flags = WaitStyleFlags();
    flags |= deviceType_ != dtAutoSelect ? MCI_OPEN_TYPE : MCI_OPEN_ELEMENT;
    if (shareable_)
        flags |= MCI_OPEN_SHAREABLE;
    parms.dwCallback = this;
    lastMciResult_ = mciSendCommand(0, MCI_OPEN, flags, &parms);
    if (lastMciResult_ != 0)
        throw EMCIDeviceError(LastMciResultText().toStdString());

    isOpen_ = true;
    deviceNumber_ = parms.wDeviceID;
    stepFrames_ = MediaLength() / 10;
    QueryCapabilities();
    if (videoCapable_) {
        setDisplay(display_);
        MCI_ANIM_RECT_PARMS where;
        lastMciResult_ = mciSendCommand(deviceNumber_, MCI_WHERE, MCI_ANIM_WHERE_DESTINATION, &where);
        nativeWidth_ = where.rc.right - where.rc.left;
        nativeHeight_ = where.rc.bottom - where.rc.top;
    }
    // CD and videodisc devices count in tracks. The media system has neither, so such an open
    // has already failed above and this never applies to a sound file.
    if (deviceType_ == dtCDAudio || deviceType_ == dtVideodisc)
        setTimeFormatCode(MCI_FORMAT_TMSF);

    autoEnabledButtons_ = Bit(btNext) | Bit(btPrev);
    if (stepCapable_)
        autoEnabledButtons_ |= Bit(btStep) | Bit(btBack);
    if (playCapable_)
        autoEnabledButtons_ |= Bit(btPlay);
    if (recordCapable_)
        autoEnabledButtons_ |= Bit(btRecord);
    if (ejectCapable_)
        autoEnabledButtons_ |= Bit(btEject);
    if (DeviceMode() == modePlaying)
        AdjustAfterClick(btPlay);
    CopyAutoEnabled();
    update();
}

void TMediaPlayer::QueryCapabilities()
{
    // The items' own results are not recorded.
    const auto capability = [this](std::uint32_t item) {
        MCI_GETDEVCAPS_PARMS parms;
        parms.dwItem = item;
        mciSendCommand(deviceNumber_, MCI_GETDEVCAPS, MCI_GETDEVCAPS_ITEM | MCI_WAIT, &parms);
        return parms.dwReturn;
    };
    playCapable_ = (capability(MCI_GETDEVCAPS_CAN_PLAY) & 0xFF) != 0;
    recordCapable_ = (capability(MCI_GETDEVCAPS_CAN_RECORD) & 0xFF) != 0;
    ejectCapable_ = (capability(MCI_GETDEVCAPS_CAN_EJECT) & 0xFF) != 0;
    videoCapable_ = (capability(MCI_GETDEVCAPS_HAS_VIDEO) & 0xFF) != 0;
    const std::uint32_t type = capability(MCI_GETDEVCAPS_DEVICE_TYPE);
    stepCapable_ = type == MCI_DEVTYPE_ANIMATION || type == MCI_DEVTYPE_DIGITAL_VIDEO || type == MCI_DEVTYPE_OVERLAY
                   || type == MCI_DEVTYPE_VCR;

    MCI_ANIM_RECT_PARMS where;
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_WHERE, MCI_ANIM_WHERE_SOURCE, &where);
    nativeWidth_ = where.rc.right - where.rc.left;
    nativeHeight_ = where.rc.bottom - where.rc.top;
}

void TMediaPlayer::CloseDevice()
{
    if (deviceNumber_ == 0)
        return;
    MCI_GENERIC_PARMS parms;
    parms.dwCallback = this;
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_CLOSE, WaitStyleFlags(), &parms);
    if (lastMciResult_ != 0)
        return; // the device stays open and is recorded as such
    isOpen_ = false;
    deviceNumber_ = 0;
    autoEnabledButtons_ = 0;
    CopyAutoEnabled();
    update();
}

void TMediaPlayer::Loaded()
{
    LayOutButtons();
    if (autoOpen_)
        OpenDevice();
}

// ---- Video: nothing of it applies to sound files ---------------------------------------------

void TMediaPlayer::setDisplay(QWidget *display)
{
    if (display != nullptr && isOpen_ && videoCapable_) {
        MCI_ANIM_WINDOW_PARMS parms;
        parms.hWnd = display;
        lastMciResult_ = mciSendCommand(deviceNumber_, MCI_WINDOW, MCI_ANIM_WINDOW_HWND | MCI_WAIT, &parms);
        if (lastMciResult_ != 0) {
            display_ = nullptr;
            return;
        }
        display_ = display;
        connect(
            display, &QObject::destroyed, this,
            [this, display] {
                if (display_ != display && display_ != nullptr)
                    return;
                if (isOpen_ && videoCapable_) {
                    MCI_ANIM_WINDOW_PARMS restore;
                    mciSendCommand(deviceNumber_, MCI_WINDOW, MCI_ANIM_WINDOW_HWND | MCI_WAIT, &restore);
                }
                display_ = nullptr;
            },
            Qt::UniqueConnection);
        return;
    }
    // Held weakly: a display that is destroyed without telling us leaves no dangling pointer.
    display_ = display;
}

QRect TMediaPlayer::DisplayArea()
{
    if (!(isOpen_ && videoCapable_))
        return QRect();
    MCI_ANIM_RECT_PARMS parms;
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_WHERE, MCI_ANIM_WHERE_DESTINATION, &parms);
    return QRect(parms.rc.left, parms.rc.top, parms.rc.right, parms.rc.bottom);
}

void TMediaPlayer::setDisplayArea(const QRect &area)
{
    if (!(isOpen_ && videoCapable_))
        return;
    MCI_ANIM_RECT_PARMS parms;
    parms.rc = MciRect{area.left(), area.top(), area.width(), area.height()};
    if (area.width() == 0 && area.height() == 0) {
        parms.rc.right = nativeWidth_;
        parms.rc.bottom = nativeHeight_;
    }
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_PUT, MCI_ANIM_RECT | MCI_ANIM_PUT_DESTINATION, &parms);
}

void TMediaPlayer::setTimeFormatCode(int code)
{
    MCI_SET_PARMS parms;
    parms.dwCallback = this;
    parms.dwTimeFormat = std::uint8_t(code);
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_SET, MCI_SET_TIME_FORMAT | MCI_NOTIFY, &parms);
}

// ---- Playback and status ---------------------------------------------------------------------

std::uint32_t TMediaPlayer::StatusItem(std::uint32_t item, std::uint32_t flags, std::uint32_t track)
{
    MCI_STATUS_PARMS parms;
    parms.dwItem = item;
    parms.dwTrack = track;
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT | flags, &parms);
    return parms.dwReturn;
}

// With no device open the request fails and the position reads 0.
std::int32_t TMediaPlayer::CurrentPosition() { return std::int32_t(StatusItem(MCI_STATUS_POSITION)); }

std::int32_t TMediaPlayer::MediaLength()
{
    RequireOpen();
    return std::int32_t(StatusItem(MCI_STATUS_LENGTH));
}

std::uint8_t TMediaPlayer::DeviceMode() { return std::uint8_t((StatusItem(MCI_STATUS_MODE) & 0xFF) - 12); }

bool TMediaPlayer::AtEnd() { return CurrentPosition() == MediaLength(); }

void TMediaPlayer::StartPlayback()
{
    RequireOpen();
    if (autoRewind_ && !startArmed_ && AtEnd())
        SeekToStart();
    SendPlayStyle(MCI_PLAY);
}

// Play and record: no waiting, a notice unless refused for this one command, and the start
// position the skip buttons armed, if any.
void TMediaPlayer::SendPlayStyle(unsigned command)
{
    MCI_PLAY_PARMS parms;
    parms.dwCallback = this;
    std::uint32_t flags = PlayStyleFlags();
    if (startArmed_) {
        flags |= MCI_FROM;
        parms.dwFrom = std::uint32_t(startPosition_);
        startArmed_ = false;
    }
    lastMciResult_ = mciSendCommand(deviceNumber_, command, flags, &parms);
}

void TMediaPlayer::Cue()
{
    RequireOpen();
    MCI_GENERIC_PARMS parms;
    parms.dwCallback = this;
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_CUE, WaitStyleFlags(), &parms);
}

MCIERROR TMediaPlayer::PlayFailure()
{
    const MCIERROR failure = StatusItem(MCI_STATUS_FAILURE);
    if (failure != 0)
        lastMciResult_ = failure;
    return failure;
}

void TMediaPlayer::StopPlayback()
{
    RequireOpen();
    MCI_GENERIC_PARMS parms;
    parms.dwCallback = this;
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_STOP, WaitStyleFlags(), &parms);
}

void TMediaPlayer::SeekTo(std::int32_t position)
{
    RequireOpen();
    MCI_SEEK_PARMS parms;
    parms.dwCallback = this;
    parms.dwTo = std::uint32_t(position);
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_SEEK, WaitStyleFlags() | MCI_TO, &parms);
}

void TMediaPlayer::SeekToStart()
{
    RequireOpen();
    MCI_SEEK_PARMS parms;
    mciSendCommand(deviceNumber_, MCI_SEEK, MCI_SEEK_TO_START | MCI_WAIT, &parms);
}

// Stepping moves a video by frames; a sound has none, so nothing is sent for it.
void TMediaPlayer::StepForward()
{
    RequireOpen();
    if (!videoCapable_)
        return;
    if (autoRewind_ && AtEnd())
        SeekToStart();
    MCI_ANIM_STEP_PARMS parms;
    parms.dwCallback = this;
    parms.dwFrames = std::uint32_t(stepFrames_);
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_STEP, WaitStyleFlags() | MCI_ANIM_STEP_FRAMES, &parms);
}

void TMediaPlayer::StepBack()
{
    RequireOpen();
    if (!videoCapable_)
        return;
    MCI_ANIM_STEP_PARMS parms;
    parms.dwCallback = this;
    parms.dwFrames = std::uint32_t(stepFrames_);
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_STEP,
                                    WaitStyleFlags() | MCI_ANIM_STEP_FRAMES | MCI_ANIM_STEP_REVERSE, &parms);
}

void TMediaPlayer::PauseOrResume()
{
    RequireOpen();
    const std::uint8_t mode = DeviceMode();
    MCI_GENERIC_PARMS parms;
    parms.dwCallback = this;
    if (mode == modePlaying) {
        lastMciResult_ = mciSendCommand(deviceNumber_, MCI_PAUSE, WaitStyleFlags(), &parms);
    } else if (mode == modePaused) {
        lastMciResult_ = mciSendCommand(deviceNumber_, MCI_RESUME, PlayStyleFlags(), &parms);
        if (lastMciResult_ != 0)
            StartPlayback();
    }
}

// The skip buttons go to the start or the end of the sound. In the track format, which only CD
// and videodisc devices use (the media system has none), they go from track to track instead.
// While the device plays, playback goes on from the new place.
void TMediaPlayer::SkipNext()
{
    RequireOpen();
    const bool playing = DeviceMode() == modePlaying;
    if (StatusItem(MCI_STATUS_TIME_FORMAT) == MCI_FORMAT_TMSF) {
        const std::uint32_t tracks = StatusItem(MCI_STATUS_NUMBER_OF_TRACKS);
        const std::uint32_t track = std::min(TmsfTrack(StatusItem(MCI_STATUS_POSITION)) + 1, tracks);
        MoveTo(playing, std::int32_t(StatusItem(MCI_STATUS_POSITION, MCI_TRACK, track)), MCI_TO);
        return;
    }
    MoveTo(playing, playing ? MediaLength() : 0, MCI_SEEK_TO_END);
}

void TMediaPlayer::SkipPrevious()
{
    RequireOpen();
    const bool playing = DeviceMode() == modePlaying;
    if (StatusItem(MCI_STATUS_TIME_FORMAT) == MCI_FORMAT_TMSF) {
        const std::uint32_t position = StatusItem(MCI_STATUS_POSITION);
        std::uint32_t track = TmsfTrack(position);
        std::uint32_t start = StatusItem(MCI_STATUS_POSITION, MCI_TRACK, track);
        // Within the first second of a track the button goes to the track before.
        if (track != 1 && TmsfMinutesSeconds(position) == TmsfMinutesSeconds(start)) {
            --track;
            start = StatusItem(MCI_STATUS_POSITION, MCI_TRACK, track);
        }
        MoveTo(playing, std::int32_t(start), MCI_TO);
        return;
    }
    MoveTo(playing, 0, MCI_SEEK_TO_START);
}

// While the device plays, playback goes on from `position`; otherwise the device seeks there with
// `seekFlags` (MCI_TO, which takes the position, or the flag for the start or the end).
void TMediaPlayer::MoveTo(bool playing, std::int32_t position, std::uint32_t seekFlags)
{
    if (playing) {
        startArmed_ = true;
        startPosition_ = position;
        StartPlayback();
        return;
    }
    MCI_SEEK_PARMS parms;
    parms.dwCallback = this;
    parms.dwTo = std::uint32_t(position);
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_SEEK, WaitStyleFlags() | seekFlags, &parms);
}

void TMediaPlayer::StartRecording()
{
    RequireOpen();
    SendPlayStyle(MCI_RECORD);
}

void TMediaPlayer::Eject()
{
    RequireOpen();
    if (!ejectCapable_)
        return;
    MCI_SET_PARMS parms;
    parms.dwCallback = this;
    lastMciResult_ = mciSendCommand(deviceNumber_, MCI_SET, WaitStyleFlags() | MCI_SET_DOOR_OPEN, &parms);
}

// ---- Completion notices ----------------------------------------------------------------------

bool TMediaPlayer::event(QEvent *event)
{
    if (event->type() == MciNotifyEvent::EventType()) {
        HandleNotify(*static_cast<MciNotifyEvent *>(event));
        return true;
    }
    // The anchors follow whichever parent the player has.
    if (event->type() == QEvent::ParentAboutToChange && parentWidget() != nullptr)
        parentWidget()->removeEventFilter(this);
    if (event->type() == QEvent::ParentChange && parentWidget() != nullptr)
        parentWidget()->installEventFilter(this);
    return QWidget::event(event);
}

void TMediaPlayer::HandleNotify(const MciNotifyEvent &notice)
{
    if (autoEnable_ && isOpen_ && DeviceMode() == modeStopped) {
        AddPlayableButtons();
        autoEnabledButtons_ &= TButtonSet(~(Bit(btPause) | Bit(btStop)));
        CopyAutoEnabled();
        update();
    }
    // A play that failed on its way (a file cut short while it played) leaves its reason as the
    // last error: the play command itself had succeeded.
    if (notice.Flags() == MCI_NOTIFY_FAILURE && notice.Error() != 0 && notice.Device() == deviceNumber_)
        lastMciResult_ = notice.Error();
    if (OnNotify)
        RunAtBoundary([this] { OnNotify(this); });
}

void TMediaPlayer::ApplySizeLimits()
{
    const QSize least = buttonsMinimum_.expandedTo(QSize(constraints_.MinWidth, constraints_.MinHeight));
    const QSize most(constraints_.MaxWidth > 0 ? constraints_.MaxWidth : QWIDGETSIZE_MAX,
                     constraints_.MaxHeight > 0 ? constraints_.MaxHeight : QWIDGETSIZE_MAX);
    // Qt resizes the widget into its new limits.
    setMinimumSize(least);
    setMaximumSize(most.expandedTo(least));
}

void TMediaPlayer::setConstraints(const TSizeConstraints &constraints)
{
    if (constraints_ == constraints)
        return;
    constraints_ = constraints;
    if (!IsLoading())
        ApplySizeLimits();
}

bool TMediaPlayer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && !IsLoading()) {
        const auto *resize = static_cast<QResizeEvent *>(event);
        if (resize->oldSize().isValid())
            FollowParent(resize->oldSize(), resize->size());
    }
    return QWidget::eventFilter(watched, event);
}

// Along each direction: anchored to both edges, the size follows the parent's; to the far edge
// only, the place does; to neither, the place moves by half.
void TMediaPlayer::FollowParent(const QSize &oldSize, const QSize &newSize)
{
    const auto follow = [](bool nearEdge, bool farEdge, int grown, int &place, int &size) {
        if (nearEdge && farEdge)
            size += grown;
        else if (farEdge)
            place += grown;
        else if (!nearEdge)
            place += grown / 2;
    };
    const QRect bounds = geometry();
    int x = bounds.x(), y = bounds.y(), width = bounds.width(), height = bounds.height();
    follow(anchors_ & akLeft, anchors_ & akRight, newSize.width() - oldSize.width(), x, width);
    follow(anchors_ & akTop, anchors_ & akBottom, newSize.height() - oldSize.height(), y, height);
    setGeometry(x, y, width, height);
}

TMediaPlayer::TMPBtnType TMediaPlayer::PerformAction(TMPBtnType button)
{
    switch (button) {
    case btPlay: StartPlayback(); break;
    case btPause: PauseOrResume(); break;
    case btStop: StopPlayback(); break;
    case btNext:
    case btPrev: {
        // Playing on from a track's start counts as a click on play.
        const bool playing = isOpen_ && DeviceMode() == modePlaying;
        button == btNext ? SkipNext() : SkipPrevious();
        return playing ? btPlay : button;
    }
    case btStep: StepForward(); break;
    case btBack: StepBack(); break;
    case btRecord: StartRecording(); break;
    case btEject: Eject(); break;
    }
    return button;
}

// OnClick, then the action and OnPostClick unless OnClick refused; gives the button whose click
// the automatic enabling counts.
TMediaPlayer::TMPBtnType TMediaPlayer::FireClick(TMPBtnType button)
{
    bool doDefault = true;
    if (OnClick)
        OnClick(this, button, doDefault);
    if (!doDefault)
        return button;
    const TMPBtnType counted = PerformAction(button);
    if (OnPostClick)
        OnPostClick(this, button);
    return counted;
}

void TMediaPlayer::Click(TMPBtnType button)
{
    const TMPBtnType counted = FireClick(button);
    if (autoEnable_ && lastMciResult_ == 0 && isOpen_) {
        AdjustAfterClick(counted);
        CopyAutoEnabled();
        update();
    }
}
