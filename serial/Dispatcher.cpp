#include "serial/Dispatcher.h"

#include "base/Exception.h"
#include "base/ExceptionSink.h"
#include "serial/DispatcherThreads.h"
#include "serial/SystemErrors.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <sched.h>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// Result codes of the library.
constexpr int kBadArgument = -1002;
constexpr int kCommNotOpen = -2007;
constexpr int kPutBlockFail = -3004;
constexpr int kGetBlockFail = -3005;
constexpr int kOutputBufferTooSmall = -3006;
constexpr int kTracingNotEnabled = -3008;
constexpr int kLoggingNotEnabled = -3009;
constexpr int kBaseAddressNotSet = -3010;
constexpr int kNoMoreTriggers = -5001;
constexpr int kTriggerTooLong = -5002;
constexpr int kBadTriggerHandle = -5003;
constexpr int kNoMemory = -8;

// This system drives RS-485 direction by the driver's RTS toggle, never by hand.
constexpr bool kNTFamily = true;

constexpr std::uint16_t kLastTriggerNumber = 0x1FFF;
constexpr std::size_t kMaxTriggerText = 255;

// Bounds of the waits of the stop sequence and of a flush.
constexpr int kGraceMs = 36 * 55;
constexpr int kFlushAckMs = 5000;
constexpr int kSendTimeoutMs = 3000;
constexpr int kDrainTurns = 5000;
constexpr auto kDrainStep = std::chrono::milliseconds(2);
constexpr auto kDrainStallLimit = std::chrono::milliseconds(500);

// Line options of OpenLine.
constexpr std::uint8_t kOptionDTR = 0x01;
constexpr std::uint8_t kOptionRTS = 0x02;
constexpr std::uint8_t kOptionDTRHandshake = 0x10;
constexpr std::uint8_t kOptionRTSHandshake = 0x20;

// A baud field may hold a legacy index code instead of a rate.
std::uint32_t TranslateBaud(std::uint32_t code)
{
    static constexpr std::array<std::uint32_t, 24> kLegacy{
        110,  300,   600, 1200, 2400, 4800, 9600,   14400, 19200, 0, 0, 38400,
        0,    0,     0,   56000, 0,   0,    0,      128000, 0,    0, 0, 256000};
    if (code == 0xFEFF)
        return 115200;
    if (code >= 0xFF10 && code < 0xFF10 + kLegacy.size() && kLegacy[code - 0xFF10] != 0)
        return kLegacy[code - 0xFF10];
    return code;
}

// Qt's event queue synchronises with a lock the thread sanitizer cannot see; the hand-off of
// a call to another thread is told to it here.
#if defined(__SANITIZE_THREAD__)
void HandOver(const void *call)
{
    __tsan_release(const_cast<void *>(call));
}
void TakeOver(const void *call)
{
    __tsan_acquire(const_cast<void *>(call));
}
#else
void HandOver(const void *) {}
void TakeOver(const void *) {}
#endif

bool OnMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

struct CallRecord {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
};

// A call handed to a target's thread: sent (someone waits for it) or posted.
class CallEvent : public QEvent {
public:
    CallEvent(Type type, std::function<void()> call, std::shared_ptr<CallRecord> record)
        : QEvent(type), Call(std::move(call)), Record(std::move(record))
    {
    }
    ~CallEvent() override { Finish(); }

    void Finish()
    {
        if (!Record)
            return;
        {
            std::lock_guard guard(Record->lock);
            Record->done = true;
        }
        Record->finished.notify_all();
        Record.reset();
    }

    std::function<void()> Call;
    std::shared_ptr<CallRecord> Record;
};

QEvent::Type SentCallType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type PostedCallType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Calls between threads

bool TMessageTarget::event(QEvent *event)
{
    TakeOver(event);
    if (event->type() != SentCallType() && event->type() != PostedCallType())
        return QObject::event(event);
    auto *call = static_cast<CallEvent *>(event);
    try {
        if (call->Call)
            call->Call();
    } catch (const std::exception &error) {
        HandleApplicationException(error);
    }
    call->Finish();
    return true;
}

bool SendToTarget(TMessageTarget *target, std::function<void()> call, int timeoutMs)
{
    if (!target)
        return false;
    if (QThread::currentThread() == target->thread()) {
        call();
        return true;
    }
    auto record = std::make_shared<CallRecord>();
    auto *event = new CallEvent(SentCallType(), std::move(call), record);
    HandOver(event);
    QCoreApplication::postEvent(target, event);
    std::unique_lock guard(record->lock);
    if (timeoutMs < 0) {
        record->finished.wait(guard, [&] { return record->done; });
        return true;
    }
    return record->finished.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                     [&] { return record->done; });
}

void PostToTarget(TMessageTarget *target, std::function<void()> call)
{
    if (!target)
        return;
    auto *event = new CallEvent(PostedCallType(), std::move(call), nullptr);
    HandOver(event);
    QCoreApplication::postEvent(target, event);
}

void HandleSentCalls()
{
    if (OnMainThread())
        QCoreApplication::sendPostedEvents(nullptr, SentCallType());
}

// ---------------------------------------------------------------------------------------------
// The dispatcher table

TDispatcherTable &TDispatcherTable::Instance()
{
    static TDispatcherTable table;
    return table;
}

int TDispatcherTable::Register(TBaseDispatcher *dispatcher)
{
    std::lock_guard guard(lock_);
    const auto empty = std::find(slots_.begin(), slots_.end(), nullptr);
    if (empty != slots_.end()) {
        *empty = dispatcher;
        return static_cast<int>(empty - slots_.begin());
    }
    slots_.push_back(dispatcher);
    return static_cast<int>(slots_.size() - 1);
}

void TDispatcherTable::Unregister(int index)
{
    std::lock_guard guard(lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size())
        return;
    slots_[static_cast<std::size_t>(index)] = nullptr;
    while (!slots_.empty() && slots_.back() == nullptr)
        slots_.pop_back();
}

TBaseDispatcher *TDispatcherTable::At(int index)
{
    std::lock_guard guard(lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size())
        return nullptr;
    return slots_[static_cast<std::size_t>(index)];
}

TCustomComPort *TDispatcherTable::OwnerAt(int index)
{
    std::lock_guard guard(lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size() || !slots_[static_cast<std::size_t>(index)])
        return nullptr;
    return slots_[static_cast<std::size_t>(index)]->Owner;
}

std::size_t TDispatcherTable::Size()
{
    std::lock_guard guard(lock_);
    return slots_.size();
}

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TBaseDispatcher::TBaseDispatcher(TCustomComPort *owner) : Owner(owner)
{
    TableIndex = TDispatcherTable::Instance().Register(this);
    if (QCoreApplication::instance()) {
        mainThreadTarget_ = std::make_unique<TMessageTarget>();
        mainThreadTarget_->moveToThread(QCoreApplication::instance()->thread());
    }
}

TBaseDispatcher::~TBaseDispatcher()
{
    // Concrete dispatchers close in their own destructor (Shutdown); this only makes sure no
    // thread outlives the object.
    WaitHandlingMessages([this] { return ActiveThreads.load() == 0; }, -1);
    for (auto &thread : threads_)
        thread->Join();
    threads_.clear();
    TDispatcherTable::Instance().Unregister(TableIndex);
}

void TBaseDispatcher::Shutdown()
{
    if (ClosePending.load())
        ReleaseBuffers();
    else
        CloseLine();
    WaitHandlingMessages([this] { return ActiveThreads.load() == 0; }, -1);
    for (auto &thread : threads_)
        thread->Join();
}

bool TBaseDispatcher::WaitHandlingMessages(const std::function<bool()> &done, int maxMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (!done()) {
        // A worker may be waiting for the main thread to take a notification.
        HandleSentCalls();
        if (done())
            break;
        if (maxMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

bool TBaseDispatcher::CreateSignals()
{
    CommEventSignal = std::make_unique<TSyncEvent>(TSyncEvent::AutoReset);
    DispatchDoneSignal = std::make_unique<TSyncEvent>(TSyncEvent::AutoReset);
    AckSignal = std::make_unique<TSyncEvent>(TSyncEvent::AutoReset);
    OutputReadySignal = std::make_unique<TSyncEvent>(TSyncEvent::AutoReset);
    WriteDoneSignal = std::make_unique<TSyncEvent>(TSyncEvent::ManualReset);
    FlushSignal = std::make_unique<TSyncEvent>(TSyncEvent::AutoReset);
    return CommEventSignal->IsValid() && DispatchDoneSignal->IsValid() && AckSignal->IsValid() &&
           OutputReadySignal->IsValid() && WriteDoneSignal->IsValid() && FlushSignal->IsValid();
}

int TBaseDispatcher::OpenLine(const std::string &deviceName, std::uint32_t baud, int parity,
                              int dataBits, int stopBits, std::uint32_t inSize,
                              std::uint32_t outSize, std::uint8_t lineOptions)
{
    RingSeen.store(false);
    Dispatching.store(false);
    {
        std::lock_guard guard(GeneralLock);
        DeferredRemoval = false;
    }
    if (!CreateSignals()) {
        CloseLine();
        return kNoMemory;
    }

    const int handle = DeviceOpen(deviceName, inSize, outSize);
    if (handle < 0) {
        const int result = handle == -1 ? -LastSystemError() : handle;
        CloseLine();
        return result;
    }
    DeviceHandle.store(handle);
    if (!DeviceSetBuffers(inSize, outSize)) {
        const int result = -LastSystemError();
        CloseLine();
        return result;
    }

    {
        std::lock_guard output(OutputLock);
        OutputOpen = true;
        OutRing.assign(outSize, 0);
        OutSize = outSize;
        OutHead = OutTail = 0;
        OutFull = false;
    }
    {
        std::lock_guard input(InputLock);
        InRing.assign(InRingSize, 0);
        InSize = inSize;
        InHead = InTail = 0;
        InFull = false;
        ScanPosition = LastNotifiedPosition = ReceivedTotal = 0;
        InAvailNotify = false;
        ConsumedCount = LargestConsumed = 0;
    }
    LineErrors.store(0);
    DeviceGone.store(false);
    OutputSent.store(false);
    ClosePending.store(false);
    RS485.store(false);

    {
        std::lock_guard guard(GeneralLock);
        DeviceGetState(Line);
    }
    if (lineOptions & kOptionDTRHandshake) {
        DTRHandshake.store(true);
    } else {
        DTRHandshake.store(false);
        DriveDTR(lineOptions & kOptionDTR);
    }
    if (lineOptions & kOptionRTSHandshake) {
        RTSHandshake.store(true);
    } else {
        RTSHandshake.store(false);
        DriveRTS(lineOptions & kOptionRTS);
    }

    {
        std::lock_guard guard(GeneralLock);
        AvailThreshold = 0;
        TimerTriggers.clear();
        DataTriggers.clear();
        StatusTriggers.clear();
        NextTriggerHandle = 1;
        ModemLines = 0;
        RefreshModemStatus(0xF0);
        AppliedBaud = 115200;
    }

    const int result = ChangeLine(baud, parity, dataBits, stopBits);
    if (result != 0) {
        CloseLine();
        return result;
    }

    RefreshStatus();
    {
        std::lock_guard guard(GeneralLock);
        Trace.Stop();
        EventLog.Stop();
        EventLog.SetTimeBase(std::chrono::steady_clock::now());
    }
    StartThreads();
    return 0;
}

bool TBaseDispatcher::DrainOutput()
{
    // Output that was accepted is sent before the close, as long as the line takes it; a far
    // end that takes nothing for a while does not hold the close up.
    std::uint64_t least = UINT64_MAX;
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        const std::uint64_t pending = std::uint64_t{OutputUsed()} + DeviceOutputQueued();
        const auto now = std::chrono::steady_clock::now();
        if (pending == 0)
            return true;
        if (pending < least) {
            least = pending;
            lastProgress = now;
        } else if (now - lastProgress > kDrainStallLimit) {
            return false;
        }
        std::this_thread::sleep_for(kDrainStep);
    }
}

void TBaseDispatcher::CloseLine()
{
    if (DeviceHandle.load() != -1) {
        // Only what the drain gave up on is dropped. A driver that reports nothing queued may
        // still hold bytes for the far end (a pseudo-terminal does), and a purge would lose them.
        if (!DrainOutput()) {
            AbandonOutputRing();
            if (DeviceOutputQueued() > 0)
                DevicePurge(PURGE_TXABORT | PURGE_TXCLEAR);
        }
        FlushInput();
        Log(LogKind::Close, LogDetail::None, 0);
        DeviceClose();
    }
    {
        std::lock_guard guard(GeneralLock);
        // A handler is running on behalf of the dispatch thread: it finishes the job.
        if (Dispatching.load()) {
            ClosePending.store(true);
            return;
        }
    }
    ReleaseBuffers();
}

void TBaseDispatcher::ReleaseBuffers()
{
    {
        std::lock_guard guard(GeneralLock);
        CleanupOnExit.store(false);
    }
    if (ThreadsStarted.load())
        StopThreads();
    {
        std::lock_guard output(OutputLock);
        OutputOpen = false;
        OutRing.clear();
        OutRing.shrink_to_fit();
        OutHead = OutTail = 0;
        OutFull = false;
    }
    {
        std::lock_guard input(InputLock);
        InRing.clear();
        InRing.shrink_to_fit();
        InHead = InTail = 0;
        InFull = false;
    }
}

void TBaseDispatcher::StartThreads()
{
    std::lock_guard control(threadControlLock_);
    std::lock_guard guard(GeneralLock);
    if (ThreadsStarted.load())
        throw Exception("Dispatcher already started");
    ThreadsStarted.store(true);
    StopRequested.store(false);

    auto start = [this](std::unique_ptr<TDispatcherThread> thread, std::atomic<TDispatcherThread *> &reference) {
        // Counted before it runs, so that a thread ending early never finds the count at 0
        // while its siblings are still being started.
        ActiveThreads.fetch_add(1);
        reference.store(thread.get());
        TDispatcherThread *raw = thread.get();
        threads_.push_back(std::move(thread));
        try {
            raw->Start();
        } catch (const std::system_error &) {
            reference.store(nullptr);
            if (ActiveThreads.fetch_sub(1) == 1)
                ThreadsStarted.store(false);
            return;
        }
        // A thread that is slow to start does not stop the open.
        AckSignal->Wait(3000);
    };
    start(std::make_unique<TComThread>(*this), CommWorker);
    start(std::make_unique<TDispThread>(*this), DispatchWorker);
    start(std::make_unique<TOutThread>(*this), OutputWorker);
    ApplyPriorities();
}

void TBaseDispatcher::StopThreads()
{
    {
        std::lock_guard control(threadControlLock_);
        if (!ThreadsStarted.load())
            return;
        SignalAndWaitForThreads();
    }
    // The dispatch thread may still be finishing a deferred close, which needs the lock above;
    // the other callers wait until every thread is out.
    if (!TDispatcherThread::IsWorkerOf(*this))
        WaitHandlingMessages([this] { return ActiveThreads.load() == 0; }, -1);
}

void TBaseDispatcher::SignalAndWaitForThreads()
{
    StopRequested.store(true);
    if (OutputWorker.load()) {
        FlushSignal->Set();
        WaitHandlingMessages([this] { return OutputWorker.load() == nullptr; }, -1);
    }
    if (CommWorker.load()) {
        DeviceSetMask(0);
        DispatchDoneSignal->Set();
        AckSignal->Reset();
        WaitHandlingMessages([this] { return CommWorker.load() == nullptr; }, -1);
    }
    if (DispatchWorker.load()) {
        // Woken at once rather than at the end of its 50 ms period: it checks for the stop
        // first thing after its wait.
        CommEventSignal->Set();
        if (!WaitHandlingMessages([this] { return DispatchWorker.load() == nullptr; }, kGraceMs)) {
            CommEventSignal->Set();
            // Freeing the dispatcher under a running thread would crash: a thread that outlives
            // both grace periods (a handler that does not return) is waited for to the end.
            WaitHandlingMessages([this] { return DispatchWorker.load() == nullptr; }, -1);
        }
    }
}

void TBaseDispatcher::ThreadEnded(TDispatcherThread *thread)
{
    const bool dispatchThread = DispatchWorker.load() == thread;
    for (auto *reference : {&CommWorker, &DispatchWorker, &OutputWorker}) {
        TDispatcherThread *expected = thread;
        reference->compare_exchange_strong(expected, nullptr);
    }
    if (dispatchThread && CleanupOnExit.load()) {
        ReleaseBuffers();
        CleanupOnExit.store(false);
    }
    if (ActiveThreads.fetch_sub(1) == 1)
        ThreadsStarted.store(false);
}

// ---------------------------------------------------------------------------------------------
// Line settings

int TBaseDispatcher::ApplyLine()
{
    std::lock_guard guard(GeneralLock);
    if (!DTRHandshake.load())
        Line.fDtrControl = DTRLevel.load() ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (!RTSHandshake.load())
        Line.fRtsControl = RTSLevel.load() ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    const int result = DeviceSetState(Line);
    AppliedBaud = Line.BaudRate;
    DriveDTR(DTRLevel.load());
    if (!RS485.load())
        DriveRTS(RTSLevel.load());
    return result;
}

int TBaseDispatcher::ChangeLine(std::uint32_t baud, int parity, int dataBits, int stopBits)
{
    std::uint32_t newBaud;
    int newParity;
    int newSize;
    int stopCode;
    {
        std::lock_guard guard(GeneralLock);
        DeviceGetState(Line);
        Line.fBinary = true;
        Line.fParity = false;
        Line.fDsrSensitivity = false;
        Line.fTXContinueOnXoff = true;
        Line.fNull = false;

        if (stopBits != 3) {
            if (stopBits == 0)
                stopBits = 1;
            else if (stopBits > 2)
                stopBits = 2;
        }
        newBaud = baud == 0 ? Line.BaudRate : baud;
        newParity = parity == 5 ? Line.Parity : parity;
        newSize = dataBits == 9 ? Line.ByteSize : dataBits;
        stopCode = stopBits == 3 ? Line.StopBits : stopBits == 1 ? ONESTOPBIT : TWOSTOPBITS;
        if (newSize == 5)
            stopCode = ONE5STOPBITS;
        if (newBaud == Line.BaudRate && newParity == Line.Parity && newSize == Line.ByteSize &&
            stopCode == Line.StopBits)
            return 0;
    }

    // Let the queued output leave at the old settings; the driver's own queue counts too, since
    // it holds far more than a UART's FIFO on this system.
    for (int turn = 0; turn < kDrainTurns && (OutputUsed() > 0 || DeviceOutputQueued() > 0); ++turn)
        std::this_thread::sleep_for(kDrainStep);
    TLineSettings current;
    {
        std::lock_guard guard(GeneralLock);
        DeviceGetState(Line);
        current = Line;
    }
    // Then the time of 18 characters for the last ones in the transmitter, in units of 100 ns.
    const std::uint32_t rate = std::max<std::uint32_t>(1, TranslateBaud(current.BaudRate));
    const std::uint64_t bits =
        current.ByteSize + 2u + (current.Parity != NOPARITY ? 1u : 0u) + (current.StopBits != ONESTOPBIT ? 1u : 0u);
    std::uint64_t pause = (10'000'000ull / rate) * bits * 18;
    if (pause < 10'000)
        pause *= 2;
    std::this_thread::sleep_for(std::chrono::milliseconds((pause + 9'999) / 10'000));

    std::lock_guard guard(GeneralLock);
    DeviceGetState(Line);
    Line.BaudRate = newBaud;
    Line.Parity = static_cast<std::uint8_t>(newParity);
    Line.ByteSize = static_cast<std::uint8_t>(newSize);
    Line.StopBits = static_cast<std::uint8_t>(stopCode);
    Log(LogKind::Line, LogDetail::None, newBaud);
    return ApplyLine();
}

void TBaseDispatcher::GetLineSettings(std::uint32_t &baud, int &parity, int &dataBits, int &stopBits)
{
    std::lock_guard guard(GeneralLock);
    DeviceGetState(Line);
    baud = TranslateBaud(Line.BaudRate);
    parity = Line.Parity;
    dataBits = Line.ByteSize;
    stopBits = Line.StopBits == ONESTOPBIT ? 1 : 2;
}

void TBaseDispatcher::GetFlowSettings(int &hardwareOptions, int &softwareOptions, char &xOn, char &xOff)
{
    std::lock_guard guard(GeneralLock);
    DeviceGetState(Line);
    hardwareOptions = (Line.fDtrControl == DTR_CONTROL_HANDSHAKE ? 1 : 0) |
                      (Line.fRtsControl == RTS_CONTROL_HANDSHAKE ? 2 : 0) | (Line.fOutxDsrFlow ? 4 : 0) |
                      (Line.fOutxCtsFlow ? 8 : 0);
    softwareOptions = (Line.fOutX ? 1 : 0) | (Line.fInX ? 2 : 0);
    xOn = Line.XonChar;
    xOff = Line.XoffChar;
}

int TBaseDispatcher::SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize)
{
    return DeviceSetBuffers(inSize, outSize) ? 0 : -LastSystemError();
}

int TBaseDispatcher::SetHardwareFlow(std::uint32_t full, std::uint32_t resume, int options)
{
    if (full < resume || InSize < full)
        return kBadArgument;
    std::lock_guard guard(GeneralLock);
    DeviceGetState(Line);
    Line.fOutxCtsFlow = false;
    Line.fOutxDsrFlow = false;
    Line.fDtrControl = DTR_CONTROL_DISABLE;
    Line.fRtsControl = RTS_CONTROL_DISABLE;
    DTRHandshake.store(false);
    RTSHandshake.store(false);
    if (options & 1) {
        Line.fDtrControl = DTR_CONTROL_HANDSHAKE;
        DTRHandshake.store(true);
    } else if (DTRLevel.load()) {
        Line.fDtrControl = DTR_CONTROL_ENABLE;
    }
    if (options & 2) {
        Line.fRtsControl = RTS_CONTROL_HANDSHAKE;
        RTSHandshake.store(true);
    } else if (RTSLevel.load()) {
        Line.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (RS485.load() && kNTFamily) {
        Line.fRtsControl = RTS_CONTROL_TOGGLE;
        RTSHandshake.store(true);
    }
    Line.XoffLim = static_cast<std::uint16_t>(InSize - full);
    Line.XonLim = static_cast<std::uint16_t>(resume);
    if (options & 4)
        Line.fOutxDsrFlow = true;
    if (options & 8)
        Line.fOutxCtsFlow = true;
    return ApplyLine();
}

int TBaseDispatcher::SetSoftwareFlow(std::uint32_t full, std::uint32_t resume, int options)
{
    if (full < resume || InSize < full)
        return kBadArgument;
    std::lock_guard guard(GeneralLock);
    DeviceGetState(Line);
    if (options & 2) {
        Line.fInX = true;
        Line.XoffLim = static_cast<std::uint16_t>(InSize - full);
        Line.XonLim = static_cast<std::uint16_t>(resume);
        Line.XonChar = 17;
        Line.XoffChar = 19;
    }
    if (options & 1) {
        Line.fOutX = true;
        Line.XonChar = 17;
        Line.XoffChar = 19;
    }
    return ApplyLine();
}

int TBaseDispatcher::ClearSoftwareFlow()
{
    std::lock_guard guard(GeneralLock);
    DeviceGetState(Line);
    Line.fInX = false;
    Line.fOutX = false;
    return ApplyLine();
}

int TBaseDispatcher::SetFlowChars(char xOn, char xOff)
{
    std::lock_guard guard(GeneralLock);
    DeviceGetState(Line);
    Line.XonChar = xOn;
    Line.XoffChar = xOff;
    return ApplyLine();
}

int TBaseDispatcher::DriveDTR(bool on)
{
    if (DTRHandshake.load())
        return 1;
    const int result = DeviceEscape(on ? SETDTR : CLRDTR);
    DTRLevel.store(on);
    return result < 0 ? kBadArgument : result;
}

int TBaseDispatcher::DriveRTS(bool on)
{
    if (RTSHandshake.load())
        return 1;
    const int result = DeviceEscape(on ? SETRTS : CLRRTS);
    RTSLevel.store(on);
    return result < 0 ? kBadArgument : result;
}

void TBaseDispatcher::SetRS485(bool on)
{
    std::lock_guard guard(GeneralLock);
    RS485.store(on);
    ApplyPriorities();
}

void TBaseDispatcher::SetOptionBits(std::uint32_t mask)
{
    std::lock_guard guard(GeneralLock);
    OptionWord |= mask;
}

void TBaseDispatcher::ClearOptionBits(std::uint32_t mask)
{
    std::lock_guard guard(GeneralLock);
    OptionWord &= ~mask;
}

// ---------------------------------------------------------------------------------------------
// Output

std::uint32_t TBaseDispatcher::RingUsed() const
{
    if (OutFull)
        return OutSize;
    if (OutSize == 0)
        return 0;
    return (OutHead + OutSize - OutTail) % OutSize;
}

int TBaseDispatcher::WriteBlock(const std::uint8_t *data, std::size_t count)
{
    if (count == 0)
        return 0;
    int result = 0;
    {
        std::lock_guard output(OutputLock);
        if (!OutputOpen)
            return kCommNotOpen;
        // Nothing queued now could ever leave.
        if (DeviceGone.load())
            return kPutBlockFail;
        // Errors accumulate until LineErrorCode reads them, so a write does not hide them.
        LineErrors.fetch_or(DeviceStatus(Status) & 31);
        const std::uint32_t freeRoom = OutSize - RingUsed();
        if (count > freeRoom)
            return kOutputBufferTooSmall;
        // Direction control by hand needs the legacy base address, which this system lacks.
        if (RS485.load() && !kNTFamily)
            return kBaseAddressNotSet;
        if (count == freeRoom)
            OutFull = true;
        const int queued = DeviceQueueWrite(data, count);
        if (queued <= 0) {
            DeviceStatus(Status);
            result = kPutBlockFail;
        }
        OutputSent.store(true);
    }
    {
        std::lock_guard guard(GeneralLock);
        if (EventLog.Active())
            EventLog.Add(LogKind::Write, LogDetail::DataWritten, static_cast<std::uint32_t>(count), data, count);
        Trace.Add(TCharTrace::Transmit, data, count);
    }
    return result;
}

int TBaseDispatcher::DeviceQueueWrite(const std::uint8_t *data, std::size_t count)
{
    {
        std::lock_guard output(OutputLock);
        const std::uint32_t toEnd = OutSize - OutHead;
        if (count <= toEnd) {
            std::memcpy(OutRing.data() + OutHead, data, count);
            OutHead += static_cast<std::uint32_t>(count);
            if (OutHead == OutSize)
                OutHead = 0;
        } else {
            std::memcpy(OutRing.data() + OutHead, data, toEnd);
            std::memcpy(OutRing.data(), data + toEnd, count - toEnd);
            OutHead = static_cast<std::uint32_t>(count - toEnd);
        }
    }
    OutputReadySignal->Set();
    return static_cast<int>(count);
}

void TBaseDispatcher::AdvanceOutTail(std::uint32_t count)
{
    OutTail += count;
    if (OutTail >= OutSize)
        OutTail = 0;
    if (OutTail == OutHead)
        OutHead = OutTail = 0;
    OutFull = false;
}

void TBaseDispatcher::WriteLoop(TSyncEvent &writeDone)
{
    for (;;) {
        const std::uint8_t *chunk = nullptr;
        std::uint32_t length = 0;
        std::uint64_t generation = 0;
        {
            std::lock_guard output(OutputLock);
            if (!(OutFull || OutHead != OutTail) || OutRing.empty())
                return;
            if (OutHead > OutTail) {
                length = OutHead - OutTail;
            } else if (OutHead == 0) {
                length = OutSize - OutTail;
            } else {
                // Wrapped: rotate so that every pending byte leaves in one write.
                std::vector<std::uint8_t> front(OutRing.begin(), OutRing.begin() + OutHead);
                std::memmove(OutRing.data(), OutRing.data() + OutTail, OutSize - OutTail);
                std::memcpy(OutRing.data() + (OutSize - OutTail), front.data(), front.size());
                OutHead += OutSize - OutTail;
                OutTail = 0;
                length = OutHead;
                // A full ring leaves its write index at the end; it belongs at 0 then.
                if (OutHead == OutSize)
                    OutHead = 0;
            }
            chunk = OutRing.data() + OutTail;
            generation = OutGeneration;
        }

        const int written = DeviceWrite(chunk, length);
        if (written > 0) {
            std::lock_guard output(OutputLock);
            if (generation == OutGeneration)
                AdvanceOutTail(static_cast<std::uint32_t>(written));
            continue;
        }
        if (written == 0) {
            // The driver is full: wait until it takes more, unless a flush comes first.
            writeDone.Reset();
            if (DeviceWaitWritable(*FlushSignal) == 0) {
                AckSignal->Set();
                return;
            }
            continue;
        }
        // The device refused (gone or failing): the chunk is dropped.
        if (written == -SystemError::FileNotFound)
            DeviceGone.store(true);
        std::lock_guard output(OutputLock);
        if (generation == OutGeneration)
            AdvanceOutTail(length);
    }
}

std::uint32_t TBaseDispatcher::OutputUsed()
{
    std::lock_guard output(OutputLock);
    RefreshStatus();
    return Status.cbOutQue;
}

std::uint32_t TBaseDispatcher::OutputFree()
{
    std::lock_guard output(OutputLock);
    return OutSize - OutputUsed();
}

void TBaseDispatcher::AbandonOutputRing()
{
    if (OutputWorker.load()) {
        AckSignal->Reset();
        FlushSignal->Set();
        AckSignal->Wait(kFlushAckMs);
    }
    std::lock_guard output(OutputLock);
    OutFull = false;
    OutHead = OutTail = 0;
    ++OutGeneration;
}

int TBaseDispatcher::FlushOutput()
{
    AbandonOutputRing();
    return DevicePurge(PURGE_TXABORT | PURGE_TXCLEAR);
}

void TBaseDispatcher::RefreshStatus()
{
    LineErrors.fetch_or(DeviceStatus(Status) & 31);
}

int TBaseDispatcher::LineErrorCode()
{
    std::lock_guard guard(GeneralLock);
    const std::uint32_t errors = LineErrors.load();
    int code = 0;
    if (errors & 1)
        code = 1;
    else if (errors & 2)
        code = 2;
    else if (errors & 4)
        code = 3;
    else if (errors & 8)
        code = 4;
    else if (errors & 16)
        code = 9;
    if (code != 0)
        LineErrors.fetch_and(~15u);
    return code;
}

bool TBaseDispatcher::TakeBreak()
{
    std::lock_guard guard(GeneralLock);
    return LineErrors.fetch_and(~16u) & 16;
}

// ---------------------------------------------------------------------------------------------
// Input

std::uint32_t TBaseDispatcher::UnreadInput() const
{
    if (InFull)
        return InRingSize;
    return (InHead + InRingSize - InTail) % InRingSize;
}

std::uint32_t TBaseDispatcher::InputUsed()
{
    std::lock_guard input(InputLock);
    const std::uint32_t unread = UnreadInput();
    return InAvailNotify ? unread - std::min(unread, ConsumedCount) : unread;
}

int TBaseDispatcher::GetBlock(std::uint8_t *buffer, std::size_t count)
{
    std::lock_guard input(InputLock);
    if (InRing.empty())
        return kCommNotOpen;
    if (count > InputUsed())
        return kGetBlockFail;
    const std::uint32_t start = (InTail + (InAvailNotify ? ConsumedCount : 0)) % InRingSize;
    for (std::size_t i = 0; i < count; ++i)
        buffer[i] = InRing[(start + i) % InRingSize];
    if (InAvailNotify) {
        ConsumedCount += static_cast<std::uint32_t>(count);
    } else if (count > 0) {
        InTail = (InTail + static_cast<std::uint32_t>(count)) % InRingSize;
        InFull = false;
    }
    return 0;
}

int TBaseDispatcher::FlushInput()
{
    int result;
    {
        std::lock_guard input(InputLock);
        result = DevicePurge(PURGE_RXABORT | PURGE_RXCLEAR);
        if (InAvailNotify) {
            LargestConsumed = UnreadInput();
        } else {
            InTail = InHead;
            ConsumedCount = 0;
        }
        InFull = false;
        ScanPosition = ReceivedTotal;
    }
    std::lock_guard guard(GeneralLock);
    for (TDataTrigger &trigger : DataTriggers)
        trigger.Matched = 0;
    return result;
}

void TBaseDispatcher::ReadIntoRing()
{
    std::uint32_t firstAt = 0;
    std::uint32_t got = 0;
    {
        std::lock_guard input(InputLock);
        if (InFull || InRing.empty())
            return;
        RefreshStatus();
        std::uint32_t waiting;
        {
            std::lock_guard output(OutputLock);
            waiting = Status.cbInQue;
        }
        if (waiting == 0)
            return;
        const std::uint32_t freeRoom = InHead == InTail ? InRingSize : (InTail + InRingSize - InHead) % InRingSize;
        const std::uint32_t contiguous = InTail <= InHead ? InRingSize - InHead : InTail - InHead;
        const std::uint32_t wanted = std::min(freeRoom, waiting);
        std::uint32_t second = wanted > contiguous ? wanted - contiguous : 0;
        firstAt = InHead;

        auto readAt = [this](std::uint32_t room) {
            int count = DeviceRead(InRing.data() + InHead, room);
            if (count < 0) {
                DeviceReadFailed(-1);
                count = 0;
            }
            InHead += static_cast<std::uint32_t>(count);
            if (InHead == InRingSize)
                InHead = 0;
            if (count > 0)
                InFull = InHead == InTail;
            return static_cast<std::uint32_t>(count);
        };
        if (contiguous != 0) {
            const std::uint32_t count = readAt(contiguous);
            got += count;
            if (count < contiguous)
                second = 0;
        }
        if (second != 0 && !InFull)
            got += readAt(second);
        ReceivedTotal += got;
        if (got == 0)
            return;
        // Traced before the bytes count as received, so the trace keeps the order of the line.
        std::lock_guard guard(GeneralLock);
        if (Trace.Active() || EventLog.Active()) {
            std::vector<std::uint8_t> bytes(got);
            for (std::uint32_t i = 0; i < got; ++i)
                bytes[i] = InRing[(firstAt + i) % InRingSize];
            Trace.Add(TCharTrace::Receive, bytes.data(), bytes.size());
            EventLog.Add(LogKind::Read, LogDetail::DataRead, got, bytes.data(), bytes.size());
        }
    }
}

std::uint32_t TBaseDispatcher::RefreshModemStatus(std::uint32_t mask)
{
    std::lock_guard guard(GeneralLock);
    ModemLines = (DeviceModemStatus() & 0xF0) | (ModemLines & 0x0F);
    if (RingSeen.exchange(false))
        ModemLines |= 0x04;
    const std::uint32_t result = ModemLines;
    ModemLines &= mask;
    return result;
}

// ---------------------------------------------------------------------------------------------
// Rounds of the dispatch thread

void TBaseDispatcher::EventRound()
{
    const std::uint32_t events = EventMask.load();
    if (events & (EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_RINGTE)) {
        {
            std::lock_guard guard(GeneralLock);
            const std::uint32_t before = ModemLines;
            RefreshModemStatus(0xFF);
            ModemLines |= ((before ^ ModemLines) & 0xF0) >> 4;
        }
        if (!Dispatching.load())
            EvaluateStatusTriggers();
    }
    if (events & (EV_BREAK | EV_ERR)) {
        RefreshStatus();
        if (!Dispatching.load())
            EvaluateStatusTriggers();
    }
    ReadIntoRing();
    if (!Dispatching.load()) {
        {
            std::lock_guard guard(GeneralLock);
            ModemLines = RefreshModemStatus(0xF0);
        }
        EvaluateStatusTriggers();
        while (DataCheck()) {
            if (ClosePending.load())
                return;
        }
        if (ClosePending.load())
            return;
    }
    DispatchDoneSignal->Set();
}

void TBaseDispatcher::TimerRound()
{
    if (ClosePending.load() || Dispatching.load())
        return;
    EvaluateStatusTriggers();
    EvaluateTimerTriggers();
}

bool TBaseDispatcher::DataCheck()
{
    std::vector<std::uint8_t> fresh;
    {
        std::lock_guard input(InputLock);
        if (InRing.empty())
            return false;
        const std::uint64_t newBytes = std::min<std::uint64_t>(ReceivedTotal - ScanPosition, InRingSize);
        if (newBytes > 0) {
            std::lock_guard guard(GeneralLock);
            if (!DataTriggers.empty()) {
                fresh.resize(newBytes);
                const std::uint64_t from = ReceivedTotal - newBytes;
                for (std::uint64_t i = 0; i < newBytes; ++i)
                    fresh[i] = InRing[(from + i) % InRingSize];
            }
        }
        ScanPosition = ReceivedTotal;
    }

    // Offer each new byte to the data triggers.
    std::vector<std::uint16_t> matched;
    if (!fresh.empty()) {
        std::lock_guard guard(GeneralLock);
        for (std::uint8_t byte : fresh) {
            for (TDataTrigger &trigger : DataTriggers) {
                if (!trigger.Enabled || trigger.Text.empty())
                    continue;
                auto same = [&](char wanted) {
                    return trigger.IgnoreCase ? std::toupper(wanted) == std::toupper(byte) : wanted == static_cast<char>(byte);
                };
                if (same(trigger.Text[trigger.Matched]))
                    ++trigger.Matched;
                else
                    trigger.Matched = same(trigger.Text[0]) ? 1 : 0;
                if (trigger.Matched == trigger.Text.size()) {
                    trigger.Matched = 0;
                    matched.push_back(trigger.Handle);
                }
            }
        }
    }
    for (std::uint16_t handle : matched) {
        Log(LogKind::Trigger, LogDetail::DataMatched, handle);
        Deliver(NotifyData, handle, static_cast<std::uint16_t>(InputUsed()));
        if (ClosePending.load())
            return false;
    }

    std::uint32_t threshold;
    {
        std::lock_guard guard(GeneralLock);
        threshold = AvailThreshold;
    }
    std::uint32_t unread;
    {
        std::lock_guard input(InputLock);
        if (threshold == 0 || ScanPosition == LastNotifiedPosition)
            return false;
        unread = InputUsed();
        if (unread < threshold)
            return false;
        LastNotifiedPosition = ScanPosition;
    }
    Log(LogKind::Available, LogDetail::None, unread);
    return Deliver(NotifyAvail, static_cast<std::uint16_t>(unread), static_cast<std::uint16_t>(unread));
}

bool TBaseDispatcher::Deliver(std::uint16_t msg, std::uint16_t trigger, std::uint16_t data)
{
    if (!NotifyNeeded.load())
        return true;
    std::size_t events;
    std::size_t procs;
    std::size_t windows;
    {
        std::lock_guard guard(GeneralLock);
        Dispatching.store(true);
        events = EventHandlers.size();
        procs = ProcHandlers.size();
        windows = WindowHandlers.size();
    }
    {
        std::lock_guard input(InputLock);
        LargestConsumed = 0;
        InAvailNotify = msg == NotifyAvail || msg == NotifyData;
    }
    const auto lParam = static_cast<std::int32_t>((static_cast<std::uint32_t>(TableIndex) << 16) | data);
    bool result = true;
    bool closed = false;

    auto before = [this] {
        std::lock_guard input(InputLock);
        ConsumedCount = 0;
    };
    auto after = [this] {
        std::lock_guard input(InputLock);
        LargestConsumed = std::max(LargestConsumed, ConsumedCount);
        return ClosePending.load();
    };
    auto entry = [this](std::vector<HandlerEntry> &list, std::size_t index, HandlerEntry &copy) {
        std::lock_guard guard(GeneralLock);
        if (index >= list.size() || list[index].Deleted)
            return false;
        copy = list[index];
        return true;
    };

    for (std::size_t i = 0; i < events && !closed; ++i) {
        HandlerEntry handler;
        if (!entry(EventHandlers, i, handler))
            continue;
        before();
        if (handler.OnMainThread && mainThreadTarget_)
            SendToTarget(mainThreadTarget_.get(), [&] { handler.Handler(msg, trigger, lParam); }, -1);
        else
            handler.Handler(msg, trigger, lParam);
        closed = after();
    }
    for (std::size_t i = 0; i < procs && !closed; ++i) {
        HandlerEntry handler;
        if (!entry(ProcHandlers, i, handler))
            continue;
        before();
        handler.Handler(msg, trigger, lParam);
        closed = after();
    }
    if (!closed && (windows > 1 || EventsAssigned.load())) {
        for (std::size_t i = 0; i < windows && !closed; ++i) {
            TNotifyWindow *window = nullptr;
            {
                std::lock_guard guard(GeneralLock);
                if (i < WindowHandlers.size() && !WindowHandlers[i].Deleted)
                    window = WindowHandlers[i].Window;
            }
            if (!window)
                continue;
            before();
            SendToTarget(window, [window, msg, trigger, lParam] { window->WindowProc(msg, trigger, lParam); },
                         kSendTimeoutMs);
            closed = after();
        }
    }

    {
        std::lock_guard input(InputLock);
        if (closed) {
            InAvailNotify = false;
            result = false;
        } else if (InAvailNotify) {
            InAvailNotify = false;
            InTail = (InTail + LargestConsumed) % InRingSize;
            if (LargestConsumed != 0)
                InFull = false;
            if (msg == NotifyAvail && LargestConsumed != trigger)
                result = false;
        }
    }

    std::lock_guard guard(GeneralLock);
    Dispatching.store(false);
    if (DeferredRemoval) {
        auto purge = [](auto &list) {
            list.erase(std::remove_if(list.begin(), list.end(), [](const auto &e) { return e.Deleted; }), list.end());
        };
        purge(WindowHandlers);
        purge(ProcHandlers);
        purge(EventHandlers);
        DeferredRemoval = false;
        SetHandlerMode(0);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TBaseDispatcher::SetAvailThreshold(std::uint32_t threshold)
{
    std::lock_guard guard(GeneralLock);
    AvailThreshold = threshold;
}

void TBaseDispatcher::SetHandlerMode(int mode)
{
    std::lock_guard guard(GeneralLock);
    const bool handlers = WindowHandlers.size() > 1 || !ProcHandlers.empty() || !EventHandlers.empty();
    switch (mode) {
    case 0:
        NotifyNeeded.store(handlers || EventsAssigned.load());
        break;
    case 1:
        EventsAssigned.store(true);
        NotifyNeeded.store(true);
        break;
    case 2:
        EventsAssigned.store(false);
        NotifyNeeded.store(handlers);
        break;
    default:
        break;
    }
}

void TBaseDispatcher::AddWindowHandler(TNotifyWindow *window)
{
    std::lock_guard guard(GeneralLock);
    WindowHandlers.push_back({window, false});
    NotifyNeeded.store(true);
}

void TBaseDispatcher::RemoveWindowHandler(TNotifyWindow *window)
{
    std::lock_guard guard(GeneralLock);
    auto found = std::find_if(WindowHandlers.begin(), WindowHandlers.end(),
                              [window](const WindowEntry &e) { return e.Window == window && !e.Deleted; });
    if (found == WindowHandlers.end())
        return;
    if (Dispatching.load()) {
        found->Deleted = true;
        DeferredRemoval = true;
    } else {
        WindowHandlers.erase(found);
    }
}

void TBaseDispatcher::AddProcHandler(const TNotifyHandler &handler)
{
    std::lock_guard guard(GeneralLock);
    ProcHandlers.push_back({handler, false, false});
    NotifyNeeded.store(true);
}

void TBaseDispatcher::AddEventHandler(const TNotifyHandler &handler, bool onMainThread)
{
    std::lock_guard guard(GeneralLock);
    EventHandlers.push_back({handler, false, onMainThread});
    NotifyNeeded.store(true);
}

void TBaseDispatcher::CopyTriggersOut(TTriggerSave &save)
{
    std::lock_guard guard(GeneralLock);
    save = TTriggerSave{AvailThreshold, TimerTriggers, DataTriggers, StatusTriggers};
}

void TBaseDispatcher::CopyTriggersIn(const TTriggerSave &save)
{
    std::lock_guard guard(GeneralLock);
    AvailThreshold = save.AvailThreshold;
    TimerTriggers = save.TimerTriggers;
    DataTriggers = save.DataTriggers;
    StatusTriggers = save.StatusTriggers;
    const auto now = std::chrono::steady_clock::now();
    std::uint16_t highest = 0;
    for (TTimerTrigger &trigger : TimerTriggers) {
        trigger.Due = now + std::chrono::milliseconds(trigger.Interval);
        highest = std::max<std::uint16_t>(highest, trigger.Handle >> 3);
    }
    for (TDataTrigger &trigger : DataTriggers) {
        trigger.Matched = 0;
        highest = std::max<std::uint16_t>(highest, trigger.Handle >> 3);
    }
    for (const TStatusTrigger &trigger : StatusTriggers)
        highest = std::max<std::uint16_t>(highest, trigger.Handle >> 3);
    // New triggers must not take the handles of the ones brought back.
    NextTriggerHandle = std::max<std::uint16_t>(NextTriggerHandle, highest + 1);
}

// ---------------------------------------------------------------------------------------------
// Triggers

int TBaseDispatcher::AddTimerTrigger(std::uint32_t intervalMs)
{
    std::lock_guard guard(GeneralLock);
    if (NextTriggerHandle > kLastTriggerNumber)
        return kNoMoreTriggers;
    const auto handle = static_cast<std::uint16_t>(NextTriggerHandle++ << 3);
    TimerTriggers.push_back({handle, intervalMs, false, {}});
    return handle;
}

int TBaseDispatcher::SetTimerTrigger(std::uint16_t handle, std::uint32_t intervalMs, bool enabled)
{
    std::lock_guard guard(GeneralLock);
    for (TTimerTrigger &trigger : TimerTriggers) {
        if (trigger.Handle == handle) {
            trigger.Interval = intervalMs;
            trigger.Enabled = enabled;
            trigger.Due = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
            return 0;
        }
    }
    return kBadTriggerHandle;
}

int TBaseDispatcher::AddDataTrigger(const std::string &text, bool ignoreCase)
{
    if (text.size() > kMaxTriggerText)
        return kTriggerTooLong;
    if (text.empty())
        return kBadArgument;
    std::lock_guard guard(GeneralLock);
    if (NextTriggerHandle > kLastTriggerNumber)
        return kNoMoreTriggers;
    const auto handle = static_cast<std::uint16_t>(NextTriggerHandle++ << 3);
    DataTriggers.push_back({handle, text, ignoreCase, true, 0});
    return handle;
}

int TBaseDispatcher::AddStatusTrigger(std::uint16_t kind)
{
    if (kind < StatusModem || kind > StatusOutSent)
        return kBadArgument;
    std::lock_guard guard(GeneralLock);
    if (NextTriggerHandle > kLastTriggerNumber)
        return kNoMoreTriggers;
    const auto handle = static_cast<std::uint16_t>((NextTriggerHandle++ << 3) | kind);
    StatusTriggers.push_back({handle, 0, false, 0});
    return handle;
}

int TBaseDispatcher::SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled)
{
    std::lock_guard guard(GeneralLock);
    for (TStatusTrigger &trigger : StatusTriggers) {
        if (trigger.Handle == handle) {
            trigger.Value = value;
            trigger.Enabled = enabled;
            trigger.Reference = ModemLines & 0xF0;
            if ((handle & 7) == StatusOutSent && enabled)
                OutputSent.store(false);
            return 0;
        }
    }
    return kBadTriggerHandle;
}

int TBaseDispatcher::RemoveTrigger(std::uint16_t handle)
{
    std::lock_guard guard(GeneralLock);
    auto remove = [handle](auto &list) {
        const auto found = std::find_if(list.begin(), list.end(), [handle](const auto &t) { return t.Handle == handle; });
        if (found == list.end())
            return false;
        list.erase(found);
        return true;
    };
    if (remove(TimerTriggers) || remove(DataTriggers) || remove(StatusTriggers))
        return 0;
    return kBadTriggerHandle;
}

void TBaseDispatcher::EvaluateStatusTriggers()
{
    std::vector<std::uint16_t> fired;
    {
        std::lock_guard guard(GeneralLock);
        for (TStatusTrigger &trigger : StatusTriggers) {
            if (!trigger.Enabled)
                continue;
            bool hit = false;
            switch (trigger.Handle & 7) {
            case StatusModem: {
                const std::uint32_t lines = ModemLines & 0xF0;
                hit = ((lines ^ trigger.Reference) & trigger.Value & 0xF0) != 0;
                trigger.Reference = lines;
                break;
            }
            case StatusLineError: {
                const std::uint32_t wanted = trigger.Value ? trigger.Value : 31;
                hit = (LineErrors.load() & wanted) != 0;
                break;
            }
            case StatusOutbuffFree: hit = OutputFree() >= trigger.Value; break;
            case StatusOutbuffUsed: hit = OutputUsed() >= trigger.Value; break;
            case StatusOutSent: hit = OutputSent.exchange(false); break;
            default: break;
            }
            if (hit) {
                // A status trigger fires once; setting it again re-arms it.
                trigger.Enabled = false;
                fired.push_back(trigger.Handle);
            }
        }
    }
    for (std::uint16_t handle : fired) {
        StatusHit.store(true);
        Log(LogKind::Status, LogDetail::StatusMatched, handle);
        Deliver(NotifyStatus, handle, 0);
        if (ClosePending.load())
            return;
    }
}

void TBaseDispatcher::EvaluateTimerTriggers()
{
    std::vector<std::uint16_t> fired;
    {
        std::lock_guard guard(GeneralLock);
        const auto now = std::chrono::steady_clock::now();
        for (TTimerTrigger &trigger : TimerTriggers) {
            if (trigger.Enabled && trigger.Due <= now) {
                trigger.Enabled = false;
                fired.push_back(trigger.Handle);
            }
        }
    }
    for (std::uint16_t handle : fired) {
        Log(LogKind::Timer, LogDetail::TimerFired, handle);
        Deliver(NotifyTimer, handle, 0);
        if (ClosePending.load())
            return;
    }
}

// ---------------------------------------------------------------------------------------------
// Priorities, trace and log

void TBaseDispatcher::SetPriorityBoost(std::uint8_t boost)
{
    std::lock_guard guard(GeneralLock);
    if (boost == PriorityBoost)
        return;
    PriorityBoost = boost;
    ApplyPriorities();
}

void TBaseDispatcher::ApplyPriorities()
{
    std::lock_guard guard(GeneralLock);
    if (TDispatcherThread *thread = CommWorker.load())
        thread->SetPriorityLevel(PriorityBoost);
    if (TDispatcherThread *thread = DispatchWorker.load())
        thread->SetPriorityLevel(PriorityBoost);
    if (TDispatcherThread *thread = OutputWorker.load())
        thread->SetPriorityLevel(PriorityBoost + (RS485.load() ? 1 : 0));
}

int TBaseDispatcher::Yield()
{
    sched_yield();
    return 0;
}

void TBaseDispatcher::StartTracing(std::uint32_t entries)
{
    std::lock_guard guard(GeneralLock);
    Trace.Start(entries);
}

void TBaseDispatcher::StopTracing()
{
    std::lock_guard guard(GeneralLock);
    Trace.Stop();
}

void TBaseDispatcher::PauseTracing(bool pause)
{
    std::lock_guard guard(GeneralLock);
    pause ? Trace.Pause() : Trace.Resume();
}

void TBaseDispatcher::ClearTracing()
{
    std::lock_guard guard(GeneralLock);
    Trace.Clear();
}

int TBaseDispatcher::DumpTrace(const std::string &fileName, bool append, bool hex, bool allHex)
{
    std::lock_guard guard(GeneralLock);
    if (!Trace.Active())
        return kTracingNotEnabled;
    return Trace.Dump(fileName, append, hex, allHex, deviceName_);
}

void TBaseDispatcher::StartLogging(std::uint32_t bytes)
{
    std::lock_guard guard(GeneralLock);
    EventLog.Start(bytes);
}

void TBaseDispatcher::StopLogging()
{
    std::lock_guard guard(GeneralLock);
    EventLog.Stop();
}

void TBaseDispatcher::PauseLogging(bool pause)
{
    std::lock_guard guard(GeneralLock);
    pause ? EventLog.Pause() : EventLog.Resume();
}

void TBaseDispatcher::ClearLogging()
{
    std::lock_guard guard(GeneralLock);
    EventLog.Clear();
}

int TBaseDispatcher::DumpLog(const std::string &fileName, bool append, bool hex, bool allHex)
{
    std::lock_guard guard(GeneralLock);
    if (!EventLog.Active())
        return kLoggingNotEnabled;
    return EventLog.Dump(fileName, append, hex, allHex, deviceName_);
}

void TBaseDispatcher::Log(std::uint16_t kind, std::uint16_t detail, std::uint32_t data,
                          const std::uint8_t *bytes, std::size_t count)
{
    std::lock_guard guard(GeneralLock);
    EventLog.Add(kind, detail, data, bytes, count);
}

void TBaseDispatcher::SetDeviceName(const std::string &name)
{
    std::lock_guard guard(GeneralLock);
    deviceName_ = name;
}

std::string TBaseDispatcher::DeviceName()
{
    std::lock_guard guard(GeneralLock);
    return deviceName_;
}

// ---------------------------------------------------------------------------------------------
// The native device layer

TWin32Dispatcher::TWin32Dispatcher(TCustomComPort *owner) : TBaseDispatcher(owner) {}

TWin32Dispatcher::~TWin32Dispatcher()
{
    Shutdown();
}

int TWin32Dispatcher::DeviceOpen(const std::string &name, std::uint32_t, std::uint32_t)
{
    lastError_ = Device.Open(name);
    if (lastError_ != 0)
        return -1;
    readEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::ManualReset);
    spareEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::ManualReset);
    if (!readEvent_->IsValid() || !spareEvent_->IsValid()) {
        readEvent_.reset();
        spareEvent_.reset();
        Device.Close();
        return kNoMemory;
    }
    return Device.Descriptor();
}

int TWin32Dispatcher::DeviceClose()
{
    readEvent_.reset();
    spareEvent_.reset();
    if (ThreadsStarted.load()) {
        StopRequested.store(true);
        Device.SetMask(0);
        DispatchDoneSignal->Set();
        AckSignal->Reset();
    }
    if (Device.Close() != 0)
        return -1;
    DeviceHandle.store(-1);
    return 0;
}

int TWin32Dispatcher::DeviceEscape(int function)
{
    Device.Escape(function);
    return 0;
}

int TWin32Dispatcher::DevicePurge(unsigned directions)
{
    const int error = Device.Purge(directions);
    return error == 0 ? 0 : -error;
}

std::uint32_t TWin32Dispatcher::DeviceStatus(TLineStatus &status)
{
    std::lock_guard output(OutputLock);
    std::uint32_t errors = 0;
    if (Device.ClearError(status, errors) != 0)
        status = TLineStatus{};
    status.cbOutQue = RingUsed();
    return errors;
}

int TWin32Dispatcher::DeviceGetState(TLineSettings &line)
{
    return Device.GetState(line) == 0 ? 0 : -1;
}

int TWin32Dispatcher::DeviceRead(std::uint8_t *buffer, std::size_t count)
{
    const int got = Device.Read(buffer, count);
    return got > 0 ? got : 0;
}

int TWin32Dispatcher::DeviceSetState(const TLineSettings &line)
{
    const int error = Device.SetState(line);
    return error == 0 ? 0 : -error;
}

bool TWin32Dispatcher::DeviceSetBuffers(std::uint32_t, std::uint32_t)
{
    // A tty's queues have the driver's fixed sizes; there is nothing to ask for.
    if (!Device.IsOpen()) {
        lastError_ = SystemError::InvalidHandle;
        return false;
    }
    return true;
}

int TWin32Dispatcher::DeviceWrite(const std::uint8_t *data, std::size_t count)
{
    return Device.Write(data, count);
}

int TWin32Dispatcher::DeviceWaitWritable(TSyncEvent &interrupt)
{
    return Device.WaitWritable(interrupt);
}

int TWin32Dispatcher::DeviceSetMask(std::uint32_t mask)
{
    return Device.SetMask(mask);
}

int TWin32Dispatcher::DeviceWaitEvent(std::uint32_t &events)
{
    return Device.WaitEvent(events);
}

std::uint32_t TWin32Dispatcher::DeviceModemStatus()
{
    return Device.ModemStatus();
}

std::uint32_t TWin32Dispatcher::DeviceOutputQueued()
{
    return Device.OutputQueued();
}

// The handle is taken over at once, so that its line settings can be read before the open.
TTapi32Dispatcher::TTapi32Dispatcher(TCustomComPort *owner, int handle)
    : TWin32Dispatcher(owner), handle_(handle)
{
    if (handle_ != 0)
        lastError_ = Device.Adopt(handle_);
}

int TTapi32Dispatcher::DeviceOpen(const std::string &, std::uint32_t, std::uint32_t)
{
    if (handle_ == 0)
        return kCommNotOpen;
    if (!Device.IsOpen())
        return -1;
    readEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::ManualReset);
    spareEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::ManualReset);
    if (!readEvent_->IsValid() || !spareEvent_->IsValid())
        return kNoMemory;
    return handle_;
}
