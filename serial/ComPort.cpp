#include "serial/ComPort.h"

#include "base/Exception.h"
#include "base/ExceptionSink.h"
#include "serial/CrashStop.h"
#include "serial/DispatcherTable.h"
#include "serial/MessageTable.h"
#include "serial/SelectPort.h"
#include "serial/SerialErrors.h"
#include "serial/SystemErrors.h"
#include "serial/Win32Dispatcher.h"

#include <QMetaEnum>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <exception>

namespace {

constexpr std::uint32_t kMaxTraceSize = 4'000'000;
constexpr std::uint32_t kMaxLogSize = 16'000'000;
constexpr std::size_t kMaxPassString = 255;

// The option word bit that UseEventWord stands for.
constexpr std::uint32_t kEventWordOption = 4;

// How soon a deferred close looks again whether the dispatcher's threads have ended.
constexpr int kClosePendingRetryMs = 5;

// The hidden receiver of the dispatcher's notifications. A message finds its component through
// the dispatcher table, so a message that outlives its dispatcher does nothing.
class ComNotifyWindow : public NotifyWindow {
public:
    ComNotifyWindow() { setObjectName(QStringLiteral("comNotifyWindow")); }

    void WindowProc(std::uint16_t msg, std::uint16_t wParam, std::int32_t lParam) override
    {
        TCustomComPort *port = DispatcherTable::Instance().OwnerAt((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFF);
        if (!port)
            return;
        RunAtBoundary([&] { port->WindowProc(msg, wParam, lParam); });
    }
};

std::uint8_t HardwareMask(THWFlowOptionSet options) { return options.Bits(); }

int SoftwareMask(TSWFlowOptions options)
{
    switch (options) {
    case swfReceive: return 2;
    case swfTransmit: return 1;
    case swfBoth: return 3;
    default: return 0;
    }
}

// A set of hardware flow options as a text: the option names joined by "|"; "[a, b]" is read
// as well. False for a name that is no option.
bool HWFlowOptionsFromText(const QString &text, THWFlowOptionSet &options)
{
    const QMetaEnum names = QMetaEnum::fromType<THWFlowOptions>();
    static const QRegularExpression separators(QStringLiteral("[|,\\[\\]\\s]+"));
    THWFlowOptionSet parsed;
    for (const QString &name : text.split(separators, Qt::SkipEmptyParts)) {
        bool known = false;
        const int option = names.keyToValue(name.toLatin1().constData(), &known);
        if (!known)
            return false;
        parsed.Include(static_cast<THWFlowOptions>(option));
    }
    options = parsed;
    return true;
}

QString HWFlowOptionsText(THWFlowOptionSet options)
{
    const QMetaEnum names = QMetaEnum::fromType<THWFlowOptions>();
    QStringList included;
    for (int i = 0; i < names.keyCount(); ++i) {
        if (options.Contains(static_cast<THWFlowOptions>(names.value(i))))
            included << QString::fromLatin1(names.key(i));
    }
    return included.join(QLatin1Char('|'));
}

// Lets a stored description give HWFlowOptions as a text or as a number, like the other
// properties.
void RegisterPropertyConversions()
{
    static const bool registered = [] {
        const QMetaType set = QMetaType::fromType<THWFlowOptionSet>();
        QMetaType::registerConverterFunction(
            [](const void *from, void *to) {
                return HWFlowOptionsFromText(*static_cast<const QString *>(from), *static_cast<THWFlowOptionSet *>(to));
            },
            QMetaType::fromType<QString>(), set);
        QMetaType::registerConverterFunction(
            [](const void *from, void *to) {
                *static_cast<QString *>(to) = HWFlowOptionsText(*static_cast<const THWFlowOptionSet *>(from));
                return true;
            },
            set, QMetaType::fromType<QString>());
        QMetaType::registerConverterFunction(
            [](const void *from, void *to) {
                const int bits = *static_cast<const int *>(from);
                if (bits < 0 || bits > 0x0F)
                    return false;
                *static_cast<THWFlowOptionSet *>(to) = THWFlowOptionSet::FromBits(static_cast<std::uint8_t>(bits));
                return true;
            },
            QMetaType::fromType<int>(), set);
        return true;
    }();
    (void)registered;
}

} // namespace

// Sets ForceApply for a stretch of code and gives it back its previous value afterwards.
class TCustomComPort::ApplyScope {
public:
    explicit ApplyScope(TCustomComPort &port) : port_(port), previous_(port.forceApply_) { port.forceApply_ = true; }
    ~ApplyScope() { port_.forceApply_ = previous_; }
    ApplyScope(const ApplyScope &) = delete;
    ApplyScope &operator=(const ApplyScope &) = delete;

private:
    TCustomComPort &port_;
    bool previous_;
};

TSerialComponent::TSerialComponent(QObject *parent) : QObject(parent) {}

TCustomComPort::TCustomComPort(QObject *parent) : TSerialComponent(parent) { RegisterPropertyConversions(); }

TCustomComPort::~TCustomComPort()
{
    destroying_ = true;
    if (portPhase_ == ppOpen)
        RunAtBoundary([this] { ClosePort(); });
    // A deferred close may still be waiting for the dispatch thread: the dispatcher waits for it.
    dispatcher_.reset();
    delete notifyWindow_.data();
}

// ---------------------------------------------------------------------------------------------
// Operations

TBaseDispatcher &TCustomComPort::RequireDispatcher()
{
    TBaseDispatcher *dispatcher = AcquireDispatcher();
    if (!dispatcher) {
        RaiseOnError(*this, SerialResult::CommNotOpen);
        throw ECommNotOpen(SerialResult::CommNotOpen);
    }
    return *dispatcher;
}

void TCustomComPort::SendText(const std::string &text)
{
    if (portPhase_ == ppShuttingDown)
        return;
    TBaseDispatcher *dispatcher = AcquireDispatcher();
    if (!dispatcher) {
        RaiseOnError(*this, SerialResult::CommNotOpen);
        return;
    }
    const int result = dispatcher->WriteBlock(reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
    // A device that has gone away is closed, so that the next command opens it afresh (or says
    // that it is missing) instead of failing on the dead one for the rest of the run.
    if (result == SerialResult::PutBlockFail && dispatcher->IsDeviceGone()) {
        lineGone_ = true;
        const std::string name = dispatcher->DeviceName();
        ClosePort();
        if (!IsLoading())
            throw ELineGone(result, "The recorder on " + name
                                        + " was disconnected (the serial line hung up): the command did not reach "
                                          "it, and it may still be recording");
    }
    RaiseOnError(*this, result);
}

TCustomComPort::SendState TCustomComPort::WaitSent(int timeoutMs)
{
    if (lineGone_)
        return SendState::LineGone;
    return IsPortOpen() ? dispatcher_->WaitSent(timeoutMs) : SendState::Delivered;
}

void TCustomComPort::LineGoneArrived()
{
    if (dispatcher_ && dispatcher_->IsDeviceGone())
        lineGone_ = true;
    if (!lineGone_ || lineGoneReported_)
        return;
    lineGoneReported_ = true;
    if (auto handler = onLineGone_)
        handler(this);
}

TBaseDispatcher *TCustomComPort::AcquireDispatcher()
{
    if (!dispatcher_ && !IsLoading() && portPhase_ != ppOpen && autoOpen_)
        setOpen(true);
    return dispatcher_.get();
}

std::uint16_t TCustomComPort::PendingLineError()
{
    if (!IsPortOpen())
        return 0;
    return static_cast<std::uint16_t>(RaiseOnError(*this, dispatcher_->LineErrorCode()));
}

bool TCustomComPort::BreakReceived() { return IsPortOpen() && dispatcher_->TakeBreak(); }

void TCustomComPort::YieldToDevice()
{
    if (portPhase_ == ppShuttingDown)
        return;
    RaiseOnError(*this, RequireDispatcher().Yield());
}

std::uint16_t TCustomComPort::AddTimerTrigger(std::uint32_t intervalMs)
{
    return static_cast<std::uint16_t>(RaiseOnError(*this, RequireDispatcher().AddTimerTrigger(intervalMs)));
}

void TCustomComPort::SetTimerTrigger(std::uint16_t handle, std::uint32_t intervalMs, bool enabled)
{
    RaiseOnError(*this, RequireDispatcher().SetTimerTrigger(handle, intervalMs, enabled));
}

std::uint16_t TCustomComPort::AddDataTrigger(const std::string &text, bool ignoreCase)
{
    return static_cast<std::uint16_t>(RaiseOnError(*this, RequireDispatcher().AddDataTrigger(text, ignoreCase)));
}

std::uint16_t TCustomComPort::AddStatusTrigger(std::uint16_t kind)
{
    return static_cast<std::uint16_t>(RaiseOnError(*this, RequireDispatcher().AddStatusTrigger(kind)));
}

void TCustomComPort::SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled)
{
    RaiseOnError(*this, RequireDispatcher().SetStatusTrigger(handle, value, enabled));
}

void TCustomComPort::RemoveTrigger(std::uint16_t handle)
{
    RaiseOnError(*this, RequireDispatcher().RemoveTrigger(handle));
}

void TCustomComPort::CopyFrom(const TComponent &source)
{
    const auto *other = dynamic_cast<const TCustomComPort *>(&source);
    if (!other)
        return;
    forceApply_ = other->forceApply_;
    deviceLayer_ = other->deviceLayer_;
    comNumber_ = other->comNumber_;
    baud_ = other->baud_;
    parity_ = other->parity_;
    dataBits_ = other->dataBits_;
    stopBits_ = other->stopBits_;
    inSize_ = other->inSize_;
    outSize_ = other->outSize_;
    autoOpen_ = other->autoOpen_;
    promptForPort_ = other->promptForPort_;
    rs485Mode_ = other->rs485Mode_;
    priorityBoost_ = other->priorityBoost_;
    dtr_ = other->dtr_;
    rts_ = other->rts_;
    bufferFull_ = other->bufferFull_;
    bufferResume_ = other->bufferResume_;
    hwFlowOptions_ = other->hwFlowOptions_;
    swFlowOptions_ = other->swFlowOptions_;
    xOnChar_ = other->xOnChar_;
    xOffChar_ = other->xOffChar_;
    tracing_ = other->tracing_;
    traceSize_ = other->traceSize_;
    traceName_ = other->traceName_;
    traceHex_ = other->traceHex_;
    traceAllHex_ = other->traceAllHex_;
    logging_ = other->logging_;
    logSize_ = other->logSize_;
    logName_ = other->logName_;
    logHex_ = other->logHex_;
    logAllHex_ = other->logAllHex_;
    availThreshold_ = other->availThreshold_;
    onPortOpen_ = other->onPortOpen_;
    onPortClose_ = other->onPortClose_;
    tapiMode_ = other->tapiMode_;
    setOpen(false);
    setOnTrigger(other->onTrigger_);
    setOnTriggerAvail(other->onTriggerAvail_);
    setOnTriggerData(other->onTriggerData_);
    setOnTriggerStatus(other->onTriggerStatus_);
    setOnTriggerTimer(other->onTriggerTimer_);
    if (other->IsPortOpen()) {
        other->dispatcher_->CopyTriggersOut(savedTriggers_);
        triggersSaved_ = true;
    }
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TCustomComPort::Loaded()
{
    if (openAtLoad_)
        open_ = true;
    if (!open_)
        return;
    openAtLoad_ = false;
    try {
        OpenNow();
    } catch (const std::exception &error) {
        open_ = false;
        HandleApplicationException(error);
    }
}

void TCustomComPort::setOpen(bool open)
{
    // A reopen asked for during a deferred close is remembered although Open still reads True.
    if (open == open_ && !(open && portPhase_ == ppShuttingDown))
        return;
    if (IsLoading()) {
        open_ = open;
        if (open)
            openAtLoad_ = true;
        return;
    }
    if (!open)
        ClosePort();
    else if (portPhase_ == ppClosed)
        OpenNow();
    else if (portPhase_ == ppShuttingDown)
        reopenRequested_ = true;
}

void TCustomComPort::RequestPortNumber()
{
    if (comNumber_ != 0)
        return;
    if (!promptForPort_)
        throw ENoPortSelected(SerialResult::NoPortSelected);
    // A ports folder that does not exist would only show an empty list: say what is wrong.
    if (const int error = CheckPortsDirectory())
        RaiseOnError(*this, -error);
    TComSelectForm form;
    if (form.ShowModal() != TComSelectForm::mrOk)
        throw ENoPortSelected(SerialResult::NoPortSelected);
    setComNumber(static_cast<std::uint16_t>(form.SelectedComNumber()));
}

std::unique_ptr<TBaseDispatcher> TCustomComPort::CreateDispatcher()
{
    if (dispatcherFactory_)
        return dispatcherFactory_(*this);
    if (deviceLayer_ != dlWin32)
        throw ENullApi(SerialResult::NullApi);
    if (tapiMode_ == tmOn)
        return std::make_unique<TTapi32Dispatcher>(this, tapiHandle_);
    return std::make_unique<TWin32Dispatcher>(this);
}

void TCustomComPort::InitDispatcher()
{
    std::string name;
    if (tapiMode_ != tmOn)
        name = devicePath_.empty() ? FormatText("\\\\.\\COM%d", comNumber_) : devicePath_;
    const std::uint8_t options = static_cast<std::uint8_t>((dtr_ ? 0x01 : 0) | (rts_ ? 0x02 : 0)
                                                           | (hwFlowOptions_.Contains(hwfUseDTR) ? 0x10 : 0)
                                                           | (hwFlowOptions_.Contains(hwfUseRTS) ? 0x20 : 0));
    int result = dispatcher_->OpenLine(name, static_cast<std::uint32_t>(baud_), parity_, dataBits_, stopBits_, inSize_,
                                       outSize_, options);
    if (result == -SystemError::AccessDenied) {
        result = SerialResult::AlreadyOpen;
        // A lock file is named, so that the operator knows what to look at.
        const std::string holder = dispatcher_->DeviceHolder();
        if (!holder.empty() && !IsLoading())
            throw EAlreadyOpen(result, MessageForCode(result) + ": " + holder);
    } else if (result == -SystemError::FileNotFound || result == -SystemError::PathNotFound)
        result = SerialResult::BadId;
    if (result != 0)
        RaiseOnError(*this, result);
}

void TCustomComPort::OpenNow()
{
    if (tapiMode_ != tmOn && devicePath_.empty())
        RequestPortNumber();
    dispatcher_ = CreateDispatcher();
    dispatcher_->SetDeviceName(devicePath_.empty() ? FormatText("COM%d", comNumber_) : devicePath_);
    try {
        if (tapiMode_ == tmOn) {
            if (tapiHandle_ == 0)
                throw ENotOpenedByTapi(SerialResult::NotOpenedByTapi);
            std::uint32_t baud = 0;
            int parity = 0;
            int dataBits = 0;
            int stopBits = 0;
            dispatcher_->GetLineSettings(baud, parity, dataBits, stopBits);
            baud_ = static_cast<std::int32_t>(baud);
            parity_ = static_cast<TParity>(parity);
            dataBits_ = static_cast<std::uint16_t>(dataBits);
            stopBits_ = static_cast<std::uint16_t>(stopBits);
            int hardware = 0;
            int software = 0;
            dispatcher_->GetFlowSettings(hardware, software, xOnChar_, xOffChar_);
            hwFlowOptions_ = THWFlowOptionSet::FromBits(static_cast<std::uint8_t>(hardware));
            static constexpr TSWFlowOptions kSoftware[] = {swfNone, swfTransmit, swfReceive, swfBoth};
            swFlowOptions_ = kSoftware[software & 3];
        }
        InitDispatcher();
        lineGone_ = lineGoneReported_ = false;
        purgedAtClose_ = 0;
        portPhase_ = ppOpen;
        UpdateHandlerMode();
        {
            // Everything set while the port was closed reaches the new device.
            ApplyScope apply(*this);
            setTracing(tracing_);
            setLogging(logging_);
            setHWFlowOptions(hwFlowOptions_);
            setSWFlowOptions(swFlowOptions_);
            setXOnChar(xOnChar_);
            setXOffChar(xOffChar_);
            dispatcher_->SetAvailThreshold(availThreshold_);
            setDTR(dtr_);
            setRTS(rts_);
            setUseEventWord(useEventWord_);
            setRS485Mode(rs485Mode_);
            dispatcher_->SetPriorityBoost(priorityBoost_);
        }
        forceApply_ = false;
        open_ = true;
        UpdateCrashStop();
        SetNotifyWindow(true);
        if (triggersSaved_) {
            triggersSaved_ = false;
            dispatcher_->CopyTriggersIn(savedTriggers_);
        }
        NotifyPortOpen();
    } catch (...) {
        open_ = false;
        portPhase_ = ppClosed;
        UpdateCrashStop();
        if (notifyWindow_)
            SetNotifyWindow(false);
        dispatcher_.reset();
        throw;
    }
}

void TCustomComPort::setCrashText(const std::string &text)
{
    if (text.size() > CrashStop::MaxText)
        throw EBadArgument(SerialResult::BadArgument);
    crashText_ = text;
    UpdateCrashStop();
}

void TCustomComPort::UpdateCrashStop()
{
    CrashStop::Unregister(crashRegistration_);
    crashRegistration_ = -1;
    if (IsPortOpen() && !crashText_.empty())
        crashRegistration_ = CrashStop::Register(dispatcher_->DeviceDescriptor(), crashText_);
}

void TCustomComPort::SetNotifyWindow(bool create)
{
    if (create) {
        if (!notifyWindow_)
            notifyWindow_ = new ComNotifyWindow;
        if (dispatcher_)
            dispatcher_->AddWindowHandler(notifyWindow_);
        return;
    }
    if (!notifyWindow_)
        return;
    if (dispatcher_)
        dispatcher_->RemoveWindowHandler(notifyWindow_);
    // The window may be running the very message that ends the close.
    notifyWindow_->deleteLater();
    notifyWindow_ = nullptr;
}

void TCustomComPort::ClosePort()
{
    if (portPhase_ != ppOpen)
        return;
    // A trace or log that cannot be written must not keep the port open: the close goes on and
    // the failure is raised at its end.
    std::exception_ptr dumpFailure;
    try {
        setTracing(tlDump);
    } catch (...) {
        dumpFailure = std::current_exception();
    }
    try {
        setLogging(tlDump);
    } catch (...) {
        if (!dumpFailure)
            dumpFailure = std::current_exception();
    }
    portPhase_ = ppShuttingDown;
    UpdateCrashStop();
    NotifyPortClosing();
    dispatcher_->CopyTriggersOut(savedTriggers_);
    triggersSaved_ = true;
    dispatcher_->CloseLine();
    purgedAtClose_ = dispatcher_->BytesPurgedAtClose();
    if (dispatcher_->IsDispatching()) {
        const auto lParam = static_cast<std::int32_t>(static_cast<std::uint32_t>(dispatcher_->IndexInTable()) << 16);
        QPointer<NotifyWindow> window = notifyWindow_;
        PostToTarget(notifyWindow_, [window, lParam] {
            if (window)
                window->WindowProc(NotifyClosePending, 0, lParam);
        });
        HandleSentCalls();
    } else {
        FinishClose();
    }
    NotifyPortClose();
    if (dumpFailure)
        std::rethrow_exception(dumpFailure);
}

void TCustomComPort::FinishClose()
{
    SetNotifyWindow(false);
    dispatcher_.reset();
    portPhase_ = ppClosed;
    open_ = false;
}

void TCustomComPort::ClosePendingArrived(std::int32_t lParam)
{
    if (portPhase_ != ppShuttingDown || !dispatcher_)
        return;
    if (dispatcher_->AreThreadsStarted()) {
        QPointer<NotifyWindow> window = notifyWindow_;
        QTimer::singleShot(kClosePendingRetryMs, window, [window, lParam] {
            PostToTarget(window, [window, lParam] {
                if (window)
                    window->WindowProc(NotifyClosePending, 0, lParam);
            });
        });
        return;
    }
    FinishClose();
    if (reopenRequested_) {
        reopenRequested_ = false;
        OpenNow();
    }
}

// Each event is called through a copy, so that a handler may replace itself.
void TCustomComPort::NotifyPortOpen()
{
    if (auto handler = onPortOpen_)
        handler(this);
}

void TCustomComPort::NotifyPortClose()
{
    if (auto handler = onPortClose_)
        handler(this);
}

// ---------------------------------------------------------------------------------------------
// Property setters

void TCustomComPort::setDeviceLayer(TDeviceLayer layer)
{
    // dlWin32 is the only layer this system has.
    if (layer != dlWin32 || layer == deviceLayer_ || portPhase_ != ppClosed)
        return;
    deviceLayer_ = layer;
    DeviceLayerChanged();
}

void TCustomComPort::setComNumber(std::uint16_t number)
{
    if (number == comNumber_)
        return;
    if (!IsPortOpen()) {
        comNumber_ = number;
        return;
    }
    TriggerSave triggers;
    dispatcher_->CopyTriggersOut(triggers);
    const TTraceLogState tracing = tracing_;
    const TTraceLogState logging = logging_;
    ClosePort();
    comNumber_ = number;
    setTracing(tracing);
    setLogging(logging);
    setOpen(true);
    if (IsPortOpen())
        dispatcher_->CopyTriggersIn(triggers);
}

void TCustomComPort::ApplyLineChange()
{
    if (IsPortOpen())
        RaiseOnError(*this, dispatcher_->ChangeLine(static_cast<std::uint32_t>(baud_), parity_, dataBits_, stopBits_));
}

void TCustomComPort::setBaud(std::int32_t baud)
{
    if (baud == baud_)
        return;
    baud_ = baud;
    ApplyLineChange();
}

void TCustomComPort::setParity(TParity parity)
{
    if (parity == parity_)
        return;
    parity_ = parity;
    ApplyLineChange();
}

void TCustomComPort::setDataBits(std::uint16_t bits)
{
    if (bits == dataBits_)
        return;
    dataBits_ = bits;
    ApplyLineChange();
}

void TCustomComPort::setStopBits(std::uint16_t bits)
{
    if (bits == stopBits_)
        return;
    stopBits_ = bits;
    ApplyLineChange();
}

void TCustomComPort::setInSize(std::uint16_t size)
{
    if (size == inSize_)
        return;
    inSize_ = size;
    if (IsPortOpen())
        dispatcher_->SetQueueSizes(inSize_, outSize_);
}

void TCustomComPort::setOutSize(std::uint16_t size)
{
    if (size == outSize_)
        return;
    outSize_ = size;
    if (IsPortOpen())
        dispatcher_->SetQueueSizes(inSize_, outSize_);
}

void TCustomComPort::setDTR(bool on)
{
    if (on == dtr_ && !forceApply_)
        return;
    // Under handshake control (result 1) the line is the driver's and the property stays.
    if (IsPortOpen() && RaiseOnError(*this, dispatcher_->DriveDTR(on)) != 0)
        return;
    dtr_ = on;
}

void TCustomComPort::setRTS(bool on)
{
    if (on == rts_ && !forceApply_)
        return;
    if (IsPortOpen() && RaiseOnError(*this, dispatcher_->DriveRTS(on)) != 0)
        return;
    rts_ = on;
}

void TCustomComPort::setHWFlowOptions(THWFlowOptionSet options)
{
    if (options == hwFlowOptions_ && !forceApply_)
        return;
    const std::uint8_t mask = HardwareMask(options);
    if (mask != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = static_cast<std::uint16_t>(inSize_ * 9 / 10);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = static_cast<std::uint16_t>(inSize_ / 10);
    }
    if (IsPortOpen())
        RaiseOnError(*this, dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, mask));
    hwFlowOptions_ = options;
    if (options.Contains(hwfUseRTS) || options.Contains(hwfRequireCTS))
        setRS485Mode(false);
}

void TCustomComPort::setSWFlowOptions(TSWFlowOptions options)
{
    if (options == swFlowOptions_ && !forceApply_)
        return;
    const int mask = SoftwareMask(options);
    if (mask != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = static_cast<std::uint16_t>(inSize_ * 3 / 4);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = static_cast<std::uint16_t>(inSize_ / 4);
    }
    if (IsPortOpen()) {
        if (mask != 0)
            RaiseOnError(*this, dispatcher_->SetSoftwareFlow(bufferFull_, bufferResume_, mask));
        else
            RaiseOnError(*this, dispatcher_->ClearSoftwareFlow());
    }
    swFlowOptions_ = options;
}

void TCustomComPort::setXOnChar(char c)
{
    if (c == xOnChar_ && !forceApply_)
        return;
    xOnChar_ = c;
    if (IsPortOpen())
        RaiseOnError(*this, dispatcher_->SetFlowChars(xOnChar_, xOffChar_));
}

void TCustomComPort::setXOffChar(char c)
{
    if (c == xOffChar_ && !forceApply_)
        return;
    xOffChar_ = c;
    if (IsPortOpen())
        RaiseOnError(*this, dispatcher_->SetFlowChars(xOnChar_, xOffChar_));
}

void TCustomComPort::setBufferFull(std::uint16_t level)
{
    if (level == bufferFull_ && !forceApply_)
        return;
    bufferFull_ = level > inSize_ ? static_cast<std::uint16_t>(level * 9 / 10) : level;
    ApplyScope apply(*this);
    setHWFlowOptions(hwFlowOptions_);
    setSWFlowOptions(swFlowOptions_);
}

void TCustomComPort::setBufferResume(std::uint16_t level)
{
    if (level == bufferResume_ && !forceApply_)
        return;
    bufferResume_ = level > bufferFull_ ? static_cast<std::uint16_t>(bufferFull_ / 10) : level;
    ApplyScope apply(*this);
    setHWFlowOptions(hwFlowOptions_);
    setSWFlowOptions(swFlowOptions_);
}

// The trace and the log follow the same states; trace selects which one.
void TCustomComPort::ApplyTraceLogState(TTraceLogState &current, TTraceLogState wanted, bool trace)
{
    if (wanted == current && !forceApply_)
        return;
    if (!IsPortOpen()) {
        current = wanted == tlOn ? tlOn : tlOff;
        return;
    }
    TBaseDispatcher &d = *dispatcher_;
    const bool running = current == tlOn || current == tlPause;
    switch (wanted) {
    case tlOff:
        trace ? d.StopTracing() : d.StopLogging();
        current = tlOff;
        break;
    case tlOn:
        if (current == tlPause)
            trace ? d.PauseTracing(false) : d.PauseLogging(false);
        else if (trace)
            d.StartTracing(traceSize_);
        else
            d.StartLogging(logSize_);
        current = tlOn;
        break;
    case tlDump:
    case tlAppend:
        if (running) {
            current = tlOff;
            const bool append = wanted == tlAppend;
            RaiseOnError(*this, trace ? d.DumpTrace(traceName_, append, traceHex_, traceAllHex_)
                                      : d.DumpLog(logName_, append, logHex_, logAllHex_));
        }
        break;
    case tlClear:
        if (running)
            trace ? d.ClearTracing() : d.ClearLogging();
        break;
    case tlPause:
        if (current == tlOn) {
            trace ? d.PauseTracing(true) : d.PauseLogging(true);
            current = tlPause;
        }
        break;
    }
}

void TCustomComPort::setTracing(TTraceLogState state) { ApplyTraceLogState(tracing_, state, true); }

void TCustomComPort::setLogging(TTraceLogState state) { ApplyTraceLogState(logging_, state, false); }

void TCustomComPort::setTraceSize(std::uint32_t size)
{
    size = std::min(size, kMaxTraceSize);
    if (size == traceSize_)
        return;
    traceSize_ = size;
    if (IsPortOpen() && (tracing_ == tlOn || tracing_ == tlPause)) {
        const TTraceLogState previous = tracing_;
        setTracing(tlOff);
        setTracing(previous);
    }
}

void TCustomComPort::setLogSize(std::uint32_t size)
{
    size = std::min(size, kMaxLogSize);
    if (size == logSize_)
        return;
    logSize_ = size;
    if (IsPortOpen() && (logging_ == tlOn || logging_ == tlPause)) {
        const TTraceLogState previous = logging_;
        setLogging(tlOff);
        setLogging(previous);
    }
}

void TCustomComPort::setTraceName(const TPassString &name) { traceName_ = name.substr(0, kMaxPassString); }

void TCustomComPort::setLogName(const TPassString &name) { logName_ = name.substr(0, kMaxPassString); }

void TCustomComPort::setUseEventWord(bool use)
{
    if (use == useEventWord_ && !forceApply_)
        return;
    if (IsPortOpen()) {
        if (use)
            dispatcher_->SetOptionBits(kEventWordOption);
        else
            dispatcher_->ClearOptionBits(kEventWordOption);
    }
    useEventWord_ = use;
}

void TCustomComPort::setRS485Mode(bool on)
{
    if (on == rs485Mode_ && !forceApply_)
        return;
    if (IsPortOpen())
        dispatcher_->SetRS485(on);
    rs485Mode_ = on;
    if (on) {
        THWFlowOptionSet options = hwFlowOptions_;
        options.Exclude(hwfUseRTS);
        options.Exclude(hwfRequireCTS);
        setHWFlowOptions(options);
        setRTS(false);
    }
}

void TCustomComPort::setAvailThreshold(std::uint16_t threshold)
{
    availThreshold_ = threshold;
    if (IsPortOpen())
        dispatcher_->SetAvailThreshold(threshold);
}

void TCustomComPort::setPriorityBoost(std::uint8_t boost)
{
    priorityBoost_ = boost;
    if (IsPortOpen())
        dispatcher_->SetPriorityBoost(boost);
}
