#pragma once

#include "base/Component.h"
#include "serial/Dispatcher.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace ComPortEnums {
Q_NAMESPACE

enum TDeviceLayer { dlWin32, dlWinsock };
Q_ENUM_NS(TDeviceLayer)
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
Q_ENUM_NS(TParity)
enum THWFlowOptions { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
Q_ENUM_NS(THWFlowOptions)
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
Q_ENUM_NS(TSWFlowOptions)
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
Q_ENUM_NS(TTraceLogState)
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
Q_ENUM_NS(TTapiMode)

} // namespace ComPortEnums

using ComPortEnums::TDeviceLayer;
using ComPortEnums::THWFlowOptions;
using ComPortEnums::TParity;
using ComPortEnums::TSWFlowOptions;
using ComPortEnums::TTapiMode;
using ComPortEnums::TTraceLogState;
using enum ComPortEnums::TDeviceLayer;
using enum ComPortEnums::TParity;
using enum ComPortEnums::THWFlowOptions;
using enum ComPortEnums::TSWFlowOptions;
using enum ComPortEnums::TTraceLogState;
using enum ComPortEnums::TTapiMode;

// A set of hardware flow options; option n is bit n.
class THWFlowOptionSet {
public:
    constexpr THWFlowOptionSet() = default;
    constexpr THWFlowOptionSet(std::initializer_list<THWFlowOptions> options)
    {
        for (THWFlowOptions option : options)
            bits_ |= Bit(option);
    }
    static constexpr THWFlowOptionSet FromBits(std::uint8_t bits)
    {
        THWFlowOptionSet set;
        set.bits_ = bits & 0x0F;
        return set;
    }
    constexpr bool Contains(THWFlowOptions option) const { return bits_ & Bit(option); }
    constexpr void Include(THWFlowOptions option) { bits_ |= Bit(option); }
    constexpr void Exclude(THWFlowOptions option) { bits_ &= static_cast<std::uint8_t>(~Bit(option)); }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const THWFlowOptionSet &) const = default;

private:
    static constexpr std::uint8_t Bit(THWFlowOptions option) { return static_cast<std::uint8_t>(1u << option); }
    std::uint8_t bits_ = 0;
};

Q_DECLARE_METATYPE(THWFlowOptionSet)

// A length-prefixed string of at most 255 single-byte characters.
using TPassString = std::string;

class TCustomComPort;
using TNotifyEvent = std::function<void(TCustomComPort *Sender)>;
using TTriggerEvent =
    std::function<void(TCustomComPort *CP, std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data)>;
using TTriggerAvailEvent = std::function<void(TCustomComPort *CP, std::uint16_t Count)>;
using TTriggerDataEvent = std::function<void(TCustomComPort *CP, std::uint16_t TriggerHandle)>;
using TTriggerStatusEvent = std::function<void(TCustomComPort *CP, std::uint16_t TriggerHandle)>;
using TTriggerTimerEvent = std::function<void(TCustomComPort *CP, std::uint16_t TriggerHandle)>;
using TTriggerLineErrorEvent = std::function<void(TCustomComPort *CP, std::uint16_t Error, bool LineBreak)>;

// The base of the serial link's components.
class TSerialComponent : public QObject, public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Version READ Version WRITE setVersion STORED false)
public:
    explicit TSerialComponent(QObject *parent = nullptr);

    QString Version() const { return QStringLiteral("v1.00"); }
    void setVersion(const QString &) {}
};

enum TPortPhase { ppClosed, ppShuttingDown, ppOpen };

// The serial port component: the line settings, opening on first use (asking for a port number
// when none is set), the output path, notifications and the diagnostic trace and log. Every
// operation runs on the main thread; every failure is raised as an exception.
// ComPortNotify.cpp holds its side of the notifications.
class TCustomComPort : public TSerialComponent {
    Q_OBJECT
public:
    using TDispatcherFactory = std::function<std::unique_ptr<TBaseDispatcher>(TCustomComPort &)>;

    explicit TCustomComPort(QObject *parent = nullptr);
    ~TCustomComPort() override;

    // --- Operations -------------------------------------------------------------------------
    // Queues the whole text for sending and returns without waiting for the line. On a line that
    // hung up it closes the port and raises ELineGone.
    void SendText(const std::string &text);
    using SendState = ::SendState;
    // Waits on the calling thread, at most timeoutMs, until everything SendText queued has left
    // the port (Delivered, also at once when nothing is queued or the port is closed); Pending
    // when the line stopped taking data, LineGone when it hung up.
    SendState WaitSent(int timeoutMs);
    // The line hung up since the port was opened (an adapter pulled out, the far end closed).
    bool LineGone() const { return lineGone_; }
    // The bytes that the last close dropped because the line did not take them.
    std::uint32_t BytesPurgedAtClose() const { return purgedAtClose_; }
    // Called by the dispatcher, on this component's thread, when the line has hung up.
    void LineGoneArrived();
    // The open dispatcher, opening the port first when it is closed and AutoOpen allows.
    TBaseDispatcher *AcquireDispatcher();
    virtual void ClosePort();
    std::uint16_t PendingLineError();
    bool BreakReceived();
    virtual void YieldToDevice();
    // Takes over the settings of another port component (nothing for other components).
    virtual void CopyFrom(const TComponent &source);

    // Triggers, on the open (or automatically opened) port; each returns its handle.
    std::uint16_t AddTimerTrigger(std::uint32_t intervalMs);
    void SetTimerTrigger(std::uint16_t handle, std::uint32_t intervalMs, bool enabled);
    std::uint16_t AddDataTrigger(const std::string &text, bool ignoreCase);
    std::uint16_t AddStatusTrigger(std::uint16_t kind);
    void SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled);
    void RemoveTrigger(std::uint16_t handle);

    // The text written to the open port when the program dies of a fault (a crash or an abort),
    // such as the command that stops a recording in progress; empty: nothing. At most
    // CrashStop::MaxText bytes.
    void setCrashText(const std::string &text);
    const std::string &CrashText() const { return crashText_; }

    // Runs a notification message on behalf of the dispatcher that sent it.
    void WindowProc(std::uint16_t msg, std::uint16_t wParam, std::int32_t lParam);

    // --- Published properties -----------------------------------------------------------------
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void setDeviceLayer(TDeviceLayer layer);
    std::uint16_t ComNumber() const { return comNumber_; }
    void setComNumber(std::uint16_t number);
    // A tty to open instead of port ComNumber (for example /dev/ttyUSB0); empty: ComNumber decides.
    // Takes effect at the next open; no port number is asked for while it is set.
    const std::string &DevicePath() const { return devicePath_; }
    void setDevicePath(const std::string &path) { devicePath_ = path; }
    std::int32_t Baud() const { return baud_; }
    void setBaud(std::int32_t baud);
    bool PromptForPort() const { return promptForPort_; }
    void setPromptForPort(bool prompt) { promptForPort_ = prompt; }
    TParity Parity() const { return parity_; }
    void setParity(TParity parity);
    std::uint16_t DataBits() const { return dataBits_; }
    void setDataBits(std::uint16_t bits);
    std::uint16_t StopBits() const { return stopBits_; }
    void setStopBits(std::uint16_t bits);
    std::uint16_t InSize() const { return inSize_; }
    void setInSize(std::uint16_t size);
    std::uint16_t OutSize() const { return outSize_; }
    void setOutSize(std::uint16_t size);
    bool AutoOpen() const { return autoOpen_; }
    void setAutoOpen(bool autoOpen) { autoOpen_ = autoOpen; }
    bool Open() const { return open_; }
    void setOpen(bool open);
    bool DTR() const { return dtr_; }
    void setDTR(bool on);
    bool RTS() const { return rts_; }
    void setRTS(bool on);
    THWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
    void setHWFlowOptions(THWFlowOptionSet options);
    TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
    void setSWFlowOptions(TSWFlowOptions options);
    char XOnChar() const { return xOnChar_; }
    void setXOnChar(char c);
    char XOffChar() const { return xOffChar_; }
    void setXOffChar(char c);
    std::uint16_t BufferFull() const { return bufferFull_; }
    void setBufferFull(std::uint16_t level);
    std::uint16_t BufferResume() const { return bufferResume_; }
    void setBufferResume(std::uint16_t level);
    TTraceLogState Tracing() const { return tracing_; }
    void setTracing(TTraceLogState state);
    std::uint32_t TraceSize() const { return traceSize_; }
    void setTraceSize(std::uint32_t size);
    TPassString TraceName() const { return traceName_; }
    void setTraceName(const TPassString &name);
    // TraceName and LogName as a stored description gives them: single-byte characters.
    QString TraceNameText() const { return QString::fromLatin1(traceName_); }
    void setTraceNameText(const QString &name) { setTraceName(name.toLatin1().toStdString()); }
    bool TraceHex() const { return traceHex_; }
    void setTraceHex(bool hex) { traceHex_ = hex; }
    bool TraceAllHex() const { return traceAllHex_; }
    void setTraceAllHex(bool allHex) { traceAllHex_ = allHex; }
    TTraceLogState Logging() const { return logging_; }
    void setLogging(TTraceLogState state);
    std::uint32_t LogSize() const { return logSize_; }
    void setLogSize(std::uint32_t size);
    TPassString LogName() const { return logName_; }
    void setLogName(const TPassString &name);
    QString LogNameText() const { return QString::fromLatin1(logName_); }
    void setLogNameText(const QString &name) { setLogName(name.toLatin1().toStdString()); }
    bool LogHex() const { return logHex_; }
    void setLogHex(bool hex) { logHex_ = hex; }
    bool LogAllHex() const { return logAllHex_; }
    void setLogAllHex(bool allHex) { logAllHex_ = allHex; }
    bool UseMSRShadow() const { return true; }
    virtual void setUseMSRShadow(bool) {}
    bool UseEventWord() const { return useEventWord_; }
    void setUseEventWord(bool use);
    std::uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void setCommNotificationLevel(std::uint16_t level) { commNotificationLevel_ = level; }
    TTapiMode TapiMode() const { return tapiMode_; }
    void setTapiMode(TTapiMode mode) { tapiMode_ = mode; }
    bool RS485Mode() const { return rs485Mode_; }
    void setRS485Mode(bool on);
    std::int32_t Tag() const { return tag_; }
    void setTag(std::int32_t tag) { tag_ = tag; }

    const TNotifyEvent &OnPortClose() const { return onPortClose_; }
    void setOnPortClose(TNotifyEvent handler) { onPortClose_ = std::move(handler); }
    // Fired once, on this component's thread, when the line of the open port hangs up.
    const TNotifyEvent &OnLineGone() const { return onLineGone_; }
    void setOnLineGone(TNotifyEvent handler) { onLineGone_ = std::move(handler); }
    const TNotifyEvent &OnPortOpen() const { return onPortOpen_; }
    void setOnPortOpen(TNotifyEvent handler) { onPortOpen_ = std::move(handler); }
    const TTriggerEvent &OnTrigger() const { return onTrigger_; }
    void setOnTrigger(TTriggerEvent handler);
    const TTriggerAvailEvent &OnTriggerAvail() const { return onTriggerAvail_; }
    void setOnTriggerAvail(TTriggerAvailEvent handler);
    const TTriggerDataEvent &OnTriggerData() const { return onTriggerData_; }
    void setOnTriggerData(TTriggerDataEvent handler);
    const TTriggerStatusEvent &OnTriggerStatus() const { return onTriggerStatus_; }
    void setOnTriggerStatus(TTriggerStatusEvent handler);
    const TTriggerTimerEvent &OnTriggerTimer() const { return onTriggerTimer_; }
    void setOnTriggerTimer(TTriggerTimerEvent handler);
    const TTriggerLineErrorEvent &OnTriggerLineError() const { return onTriggerLineError_; }
    void setOnTriggerLineError(TTriggerLineErrorEvent handler);
    const TNotifyEvent &OnTriggerModemStatus() const { return onTriggerModemStatus_; }
    void setOnTriggerModemStatus(TNotifyEvent handler);
    const TNotifyEvent &OnTriggerOutbuffFree() const { return onTriggerOutbuffFree_; }
    void setOnTriggerOutbuffFree(TNotifyEvent handler);
    const TNotifyEvent &OnTriggerOutbuffUsed() const { return onTriggerOutbuffUsed_; }
    void setOnTriggerOutbuffUsed(TNotifyEvent handler);
    const TNotifyEvent &OnTriggerOutSent() const { return onTriggerOutSent_; }
    void setOnTriggerOutSent(TNotifyEvent handler);

    // --- Internal state, readable for callers that need it ------------------------------------
    TPortPhase PortPhase() const { return portPhase_; }
    TBaseDispatcher *Dispatcher() const { return dispatcher_.get(); }
    NotifyWindow *Notifier() const { return notifyWindow_; }
    bool ForceApply() const { return forceApply_; }
    std::uint16_t AvailThreshold() const { return availThreshold_; }
    void setAvailThreshold(std::uint16_t threshold);
    std::uint8_t PriorityBoost() const { return priorityBoost_; }
    void setPriorityBoost(std::uint8_t boost);
    std::uint16_t TapiHandle() const { return tapiHandle_; }
    void setTapiHandle(std::uint16_t handle) { tapiHandle_ = handle; }
    void setDispatcherFactory(TDispatcherFactory factory) { dispatcherFactory_ = std::move(factory); }

protected:
    void Loaded() override;

    virtual std::unique_ptr<TBaseDispatcher> CreateDispatcher();
    virtual void DeviceLayerChanged() {}
    virtual void InitDispatcher();
    virtual void SetNotifyWindow(bool create);
    virtual void RequestPortNumber();
    virtual void TriggerHandler(std::uint16_t msg, std::uint16_t triggerHandle, std::uint16_t data);
    virtual void TriggerAvail(std::uint16_t count);
    virtual void TriggerData(std::uint16_t triggerHandle);
    virtual void TriggerStatus(std::uint16_t triggerHandle);
    virtual void TriggerTimer(std::uint16_t triggerHandle);
    virtual void UpdateHandlerMode();
    virtual void TriggerLineError(std::uint16_t error, bool lineBreak);
    virtual void TriggerModemStatus();
    virtual void TriggerOutbuffFree();
    virtual void TriggerOutbuffUsed();
    virtual void TriggerOutSent();
    // Received a wait character; no event of this component is fired for it.
    virtual void TriggerWaitChar(char) {}
    virtual void NotifyPortOpen();
    virtual void NotifyPortClose();
    virtual void NotifyPortClosing() {}
    virtual void OpenNow();

private:
    class ApplyScope;
    TBaseDispatcher &RequireDispatcher();
    bool IsPortOpen() const { return portPhase_ == ppOpen && dispatcher_; }
    void ApplyLineChange();
    void FinishClose();
    void ClosePendingArrived(std::int32_t lParam);
    bool AnyTriggerEventAssigned() const;
    // Registers the open port's descriptor with its crash text, or ends the registration.
    void UpdateCrashStop();
    void ApplyTraceLogState(TTraceLogState &current, TTraceLogState wanted, bool trace);

    // Published values.
    TDeviceLayer deviceLayer_ = dlWin32;
    std::uint16_t comNumber_ = 0;
    std::string devicePath_;
    std::int32_t baud_ = 19200;
    bool promptForPort_ = true;
    TParity parity_ = pNone;
    std::uint16_t dataBits_ = 8;
    std::uint16_t stopBits_ = 1;
    std::uint16_t inSize_ = 4096;
    std::uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptionSet hwFlowOptions_;
    TSWFlowOptions swFlowOptions_ = swfNone;
    char xOnChar_ = 17;
    char xOffChar_ = 19;
    std::uint16_t bufferFull_ = 0;
    std::uint16_t bufferResume_ = 0;
    TTraceLogState tracing_ = tlOff;
    std::uint32_t traceSize_ = 10000;
    TPassString traceName_ = "SERIAL.TRC";
    bool traceHex_ = true;
    bool traceAllHex_ = false;
    TTraceLogState logging_ = tlOff;
    std::uint32_t logSize_ = 10000;
    TPassString logName_ = "SERIAL.LOG";
    bool logHex_ = true;
    bool logAllHex_ = false;
    bool useEventWord_ = true;
    std::uint16_t commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    bool rs485Mode_ = false;
    std::int32_t tag_ = 0;

    TNotifyEvent onPortClose_;
    TNotifyEvent onPortOpen_;
    TNotifyEvent onLineGone_;
    TTriggerEvent onTrigger_;
    TTriggerAvailEvent onTriggerAvail_;
    TTriggerDataEvent onTriggerData_;
    TTriggerStatusEvent onTriggerStatus_;
    TTriggerTimerEvent onTriggerTimer_;
    TTriggerLineErrorEvent onTriggerLineError_;
    TNotifyEvent onTriggerModemStatus_;
    TNotifyEvent onTriggerOutbuffFree_;
    TNotifyEvent onTriggerOutbuffUsed_;
    TNotifyEvent onTriggerOutSent_;

    // Internal state.
    TPortPhase portPhase_ = ppClosed;
    std::unique_ptr<TBaseDispatcher> dispatcher_;
    QPointer<NotifyWindow> notifyWindow_;
    bool forceApply_ = false;
    bool reopenRequested_ = false;
    bool openAtLoad_ = false;
    TriggerSave savedTriggers_;
    bool triggersSaved_ = false;
    std::uint16_t availThreshold_ = 1;
    std::uint8_t priorityBoost_ = 0;
    std::uint16_t tapiHandle_ = 0;
    TDispatcherFactory dispatcherFactory_;
    bool destroying_ = false;
    std::string crashText_;
    int crashRegistration_ = -1;
    bool lineGone_ = false;
    bool lineGoneReported_ = false;
    std::uint32_t purgedAtClose_ = 0;
};

// The port component as the window uses it, with its properties published.
class TComPort : public TCustomComPort {
    Q_OBJECT
    Q_PROPERTY(ComPortEnums::TDeviceLayer DeviceLayer READ DeviceLayer WRITE setDeviceLayer)
    Q_PROPERTY(ushort ComNumber READ ComNumber WRITE setComNumber)
    Q_PROPERTY(int Baud READ Baud WRITE setBaud)
    Q_PROPERTY(bool PromptForPort READ PromptForPort WRITE setPromptForPort)
    Q_PROPERTY(ComPortEnums::TParity Parity READ Parity WRITE setParity)
    Q_PROPERTY(ushort DataBits READ DataBits WRITE setDataBits)
    Q_PROPERTY(ushort StopBits READ StopBits WRITE setStopBits)
    Q_PROPERTY(ushort InSize READ InSize WRITE setInSize)
    Q_PROPERTY(ushort OutSize READ OutSize WRITE setOutSize)
    Q_PROPERTY(bool AutoOpen READ AutoOpen WRITE setAutoOpen)
    Q_PROPERTY(bool Open READ Open WRITE setOpen STORED false)
    Q_PROPERTY(bool DTR READ DTR WRITE setDTR)
    Q_PROPERTY(bool RTS READ RTS WRITE setRTS)
    // Also from a text such as "hwfUseRTS|hwfRequireCTS" or from the bits as a number.
    Q_PROPERTY(THWFlowOptionSet HWFlowOptions READ HWFlowOptions WRITE setHWFlowOptions)
    Q_PROPERTY(ComPortEnums::TSWFlowOptions SWFlowOptions READ SWFlowOptions WRITE setSWFlowOptions)
    Q_PROPERTY(char XOnChar READ XOnChar WRITE setXOnChar)
    Q_PROPERTY(char XOffChar READ XOffChar WRITE setXOffChar)
    Q_PROPERTY(ushort BufferFull READ BufferFull WRITE setBufferFull)
    Q_PROPERTY(ushort BufferResume READ BufferResume WRITE setBufferResume)
    Q_PROPERTY(ComPortEnums::TTraceLogState Tracing READ Tracing WRITE setTracing)
    Q_PROPERTY(uint TraceSize READ TraceSize WRITE setTraceSize)
    Q_PROPERTY(QString TraceName READ TraceNameText WRITE setTraceNameText)
    Q_PROPERTY(bool TraceHex READ TraceHex WRITE setTraceHex)
    Q_PROPERTY(bool TraceAllHex READ TraceAllHex WRITE setTraceAllHex)
    Q_PROPERTY(ComPortEnums::TTraceLogState Logging READ Logging WRITE setLogging)
    Q_PROPERTY(uint LogSize READ LogSize WRITE setLogSize)
    Q_PROPERTY(QString LogName READ LogNameText WRITE setLogNameText)
    Q_PROPERTY(bool LogHex READ LogHex WRITE setLogHex)
    Q_PROPERTY(bool LogAllHex READ LogAllHex WRITE setLogAllHex)
    Q_PROPERTY(bool UseMSRShadow READ UseMSRShadow WRITE setUseMSRShadow STORED false)
    Q_PROPERTY(bool UseEventWord READ UseEventWord WRITE setUseEventWord)
    Q_PROPERTY(ushort CommNotificationLevel READ CommNotificationLevel WRITE setCommNotificationLevel)
    Q_PROPERTY(ComPortEnums::TTapiMode TapiMode READ TapiMode WRITE setTapiMode)
    Q_PROPERTY(bool RS485Mode READ RS485Mode WRITE setRS485Mode)
    Q_PROPERTY(int Tag READ Tag WRITE setTag)
public:
    using TCustomComPort::TCustomComPort;
};
