#pragma once

#include "base/Component.h"
#include "base/Exception.h"
#include "media/MciDefs.h"

#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include <QMenu>

class MciNotifyEvent;

// Raised when a file cannot be opened and when a command needs an open device and there is none.
class EMCIDeviceError : public Exception {
public:
    using Exception::Exception;
};

// A set of TMPBtnType values: bit n stands for the button of value n.
using TButtonSet = std::uint16_t;

// The least and the largest size a control may take, in pixels; 0 leaves that side free.
struct TSizeConstraints {
    Q_GADGET
    Q_PROPERTY(int MinWidth MEMBER MinWidth)
    Q_PROPERTY(int MinHeight MEMBER MinHeight)
    Q_PROPERTY(int MaxWidth MEMBER MaxWidth)
    Q_PROPERTY(int MaxHeight MEMBER MaxHeight)

public:
    int MinWidth = 0;
    int MinHeight = 0;
    int MaxWidth = 0;
    int MaxHeight = 0;
    bool operator==(const TSizeConstraints &) const = default;
};

// The media player control: opens a sound file through the media system, plays, stops and
// positions it, reports its length and position, and offers a bar of nine push buttons.
class TMediaPlayer : public QWidget, public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName WRITE setFileName)
    Q_PROPERTY(TMPDeviceTypes DeviceType READ DeviceType WRITE setDeviceType)
    Q_PROPERTY(bool AutoOpen READ AutoOpen WRITE setAutoOpen)
    Q_PROPERTY(bool AutoRewind READ AutoRewind WRITE setAutoRewind)
    Q_PROPERTY(bool AutoEnable READ AutoEnable WRITE setAutoEnable)
    Q_PROPERTY(bool Shareable READ Shareable WRITE setShareable)
    Q_PROPERTY(uint VisibleButtons READ VisibleButtons WRITE setVisibleButtons)
    Q_PROPERTY(uint EnabledButtons READ EnabledButtons WRITE setEnabledButtons)
    Q_PROPERTY(uint ColoredButtons READ ColoredButtons WRITE setColoredButtons)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ Visible WRITE setVisible)
    Q_PROPERTY(bool TabStop READ TabStop WRITE setTabStop)
    Q_PROPERTY(int TabOrder READ TabOrder WRITE setTabOrder)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE setShowHint)
    Q_PROPERTY(bool ParentShowHint READ ParentShowHint WRITE setParentShowHint)
    Q_PROPERTY(TAnchors Anchors READ Anchors WRITE setAnchors)
    Q_PROPERTY(TSizeConstraints Constraints READ Constraints WRITE setConstraints)

public:
    // clang-format off
    enum TMPDeviceTypes {
        dtAutoSelect, dtAVIVideo, dtCDAudio, dtDAT, dtDigitalVideo, dtMMMovie, dtOther,
        dtOverlay, dtScanner, dtSequencer, dtVCR, dtVideodisc, dtWaveAudio
    };
    // clang-format on
    Q_ENUM(TMPDeviceTypes)
    enum TMPBtnType { btPlay, btPause, btStop, btNext, btPrev, btStep, btBack, btRecord, btEject };
    Q_ENUM(TMPBtnType)
    // The parent's edges the control keeps its distance to when the parent is resized; anchored
    // to both edges of a direction, it stretches, to neither, it keeps its place in the middle.
    enum TAnchorKind { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
    Q_DECLARE_FLAGS(TAnchors, TAnchorKind)
    Q_FLAG(TAnchors)

    static constexpr int buttonCount = 9;
    static constexpr TButtonSet allButtons = (1u << buttonCount) - 1;
    static constexpr TButtonSet Bit(TMPBtnType button) { return TButtonSet(1u << button); }

    using EMPNotify = std::function<void(QObject *Sender, TMPBtnType Button, bool &DoDefault)>;
    using EMPPostNotify = std::function<void(QObject *Sender, TMPBtnType Button)>;
    using TNotifyEvent = std::function<void(QObject *Sender)>;
    using TContextPopupEvent = std::function<void(QObject *Sender, QPoint MousePos, bool &Handled)>;

    explicit TMediaPlayer(QWidget *parent = nullptr);
    ~TMediaPlayer() override;

    // Published properties.
    QString FileName() const { return fileName_; }
    void setFileName(const QString &name) { fileName_ = name; }
    TMPDeviceTypes DeviceType() const { return deviceType_; }
    void setDeviceType(TMPDeviceTypes type) { deviceType_ = type; }
    bool AutoOpen() const { return autoOpen_; }
    void setAutoOpen(bool autoOpen) { autoOpen_ = autoOpen; }
    bool AutoRewind() const { return autoRewind_; }
    void setAutoRewind(bool autoRewind) { autoRewind_ = autoRewind; }
    bool AutoEnable() const { return autoEnable_; }
    void setAutoEnable(bool autoEnable);
    bool Shareable() const { return shareable_; }
    void setShareable(bool shareable) { shareable_ = shareable; }
    TButtonSet VisibleButtons() const { return visibleButtons_; }
    void setVisibleButtons(TButtonSet buttons);
    TButtonSet EnabledButtons() const { return enabledButtons_; }
    void setEnabledButtons(TButtonSet buttons);
    TButtonSet ColoredButtons() const { return coloredButtons_; }
    void setColoredButtons(TButtonSet buttons);
    bool Enabled() const { return isEnabled(); }
    bool Visible() const { return !isHidden(); }
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void setTabStop(bool tabStop);
    int TabOrder() const { return tabOrder_; }
    void setTabOrder(int order) { tabOrder_ = order; }
    bool ShowHint() const { return showHint_; }
    void setShowHint(bool show) { showHint_ = show; }
    bool ParentShowHint() const { return parentShowHint_; }
    void setParentShowHint(bool parent) { parentShowHint_ = parent; }
    QWidget *Display() const { return display_; }
    void setDisplay(QWidget *display);
    TAnchors Anchors() const { return anchors_; }
    void setAnchors(TAnchors anchors) { anchors_ = anchors; }
    TSizeConstraints Constraints() const { return constraints_; }
    void setConstraints(const TSizeConstraints &constraints);
    QMenu *PopupMenu() const { return popupMenu_; }
    void setPopupMenu(QMenu *menu) { popupMenu_ = menu; }

    EMPNotify OnClick;
    EMPPostNotify OnPostClick;
    TNotifyEvent OnNotify;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TContextPopupEvent OnContextPopup;

    // Run-time state.
    bool IsOpen() const { return isOpen_; }
    MCIDEVICEID DeviceNumber() const { return deviceNumber_; }
    MCIERROR LastMciResult() const { return lastMciResult_; }
    QString LastMciResultText() const;
    bool NotifyRequest() const { return notifyRequest_; }
    void setNotifyRequest(bool request);
    bool NotifyArmed() const { return notifyArmed_; }
    std::int32_t StepFrames() const { return stepFrames_; }
    void setStepFrames(std::int32_t frames) { stepFrames_ = frames; }
    bool PlayCapable() const { return playCapable_; }
    bool RecordCapable() const { return recordCapable_; }
    bool EjectCapable() const { return ejectCapable_; }
    bool VideoCapable() const { return videoCapable_; }
    bool StepCapable() const { return stepCapable_; }
    std::int32_t NativeWidth() const { return nativeWidth_; }
    std::int32_t NativeHeight() const { return nativeHeight_; }
    TButtonSet AutoEnabledButtons() const { return autoEnabledButtons_; }

    // The video area: left and top, with the width and height in the places of right and bottom,
    // as the video device reads them. Only a device with video has one.
    QRect DisplayArea();
    void setDisplayArea(const QRect &area);
    // 0 = milliseconds. The track format (10) is refused by every device the media system has;
    // the refusal is only recorded in LastMciResult.
    void setTimeFormatCode(int code);

    // Device and playback.
    void OpenDevice();
    void CloseDevice();
    void StartPlayback();
    // Readies the sound output for a play from the current position (MCI_CUE, wait-style): a
    // missing output fails here, in LastMciResult, and the StartPlayback that follows is heard
    // within milliseconds.
    void Cue();
    // Why the latest play ended before the end of its sound (the file turned out damaged, the
    // sound output was lost), recorded in LastMciResult when there is a reason; 0 when it did not.
    // CurrentPosition then tells where the sound stopped.
    MCIERROR PlayFailure();
    void StopPlayback();
    void SeekTo(std::int32_t position);
    void SeekToStart();
    void StepForward();
    void StepBack();
    void PauseOrResume();
    void SkipNext();
    void SkipPrevious();
    void StartRecording();
    void Eject();
    std::int32_t CurrentPosition();
    std::int32_t MediaLength();
    std::uint8_t DeviceMode();
    void RequireOpen() const;

    // Presses a button as a release of the mouse on it does: OnClick, the action, OnPostClick.
    void Click(TMPBtnType button);

protected:
    void Loaded() override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Button {
        bool visible = true;
        bool enabled = true;
        bool colored = true;
        bool autoEnabled = false;
        QRect rect;
    };

    std::uint32_t WaitStyleFlags();
    std::uint32_t PlayStyleFlags();
    void SendPlayStyle(unsigned command);
    void MoveTo(bool playing, std::int32_t position, std::uint32_t seekFlags);
    void QueryCapabilities();
    // Sets one flag of every button from the set's bit for it.
    void CopyToButtons(TButtonSet buttons, bool Button::*flag);
    void CopyAutoEnabled();
    void AdjustAfterClick(TMPBtnType button);
    void AddPlayableButtons();
    bool Usable(int button) const;
    void LayOutButtons();
    // The size limits from the buttons and from Constraints, applied to the widget.
    void ApplySizeLimits();
    void FollowParent(const QSize &oldSize, const QSize &newSize);
    int ButtonAt(const QPoint &point) const;
    void MoveFocus(int step);
    bool AtEnd();
    void HandleNotify(const MciNotifyEvent &notice);
    std::uint32_t StatusItem(std::uint32_t item, std::uint32_t flags = 0, std::uint32_t track = 0);
    TMPBtnType PerformAction(TMPBtnType button);
    TMPBtnType FireClick(TMPBtnType button);

    QString fileName_;
    TMPDeviceTypes deviceType_ = dtAutoSelect;
    bool autoOpen_ = false;
    bool autoRewind_ = true;
    bool autoEnable_ = true;
    bool shareable_ = false;
    TButtonSet visibleButtons_ = allButtons;
    TButtonSet enabledButtons_ = allButtons;
    TButtonSet coloredButtons_ = allButtons;
    int tabOrder_ = -1;
    bool showHint_ = false;
    bool parentShowHint_ = true;
    TAnchors anchors_ = TAnchors(akLeft | akTop);
    TSizeConstraints constraints_;
    QSize buttonsMinimum_;
    QPointer<QWidget> display_;
    QPointer<QMenu> popupMenu_;

    bool isOpen_ = false;
    MCIDEVICEID deviceNumber_ = 0;
    MCIERROR lastMciResult_ = 0;
    bool notifyRequest_ = false;
    bool notifyArmed_ = false;
    std::int32_t stepFrames_ = 0;
    bool playCapable_ = false;
    bool recordCapable_ = false;
    bool ejectCapable_ = false;
    bool videoCapable_ = false;
    bool stepCapable_ = false;
    std::int32_t nativeWidth_ = 0;
    std::int32_t nativeHeight_ = 0;
    TButtonSet autoEnabledButtons_ = 0;
    bool startArmed_ = false;
    std::int32_t startPosition_ = 0;

    Button buttons_[buttonCount];
    int focusedButton_ = 0;
    int pressedButton_ = -1;
    bool pressedInside_ = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TMediaPlayer::TAnchors)
