#include "serial/Dispatcher.h"

#include "serial/DispatcherTable.h"
#include "serial/DispatcherThreads.h"
#include "serial/SystemErrors.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

namespace {

// This system drives RS-485 direction by the driver's RTS toggle, never by hand.
constexpr bool kNTFamily = true;

// Bounds of the waits of a flush and of the drains before a close or a line change.
constexpr int kFlushAckMs = 5000;
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
    static constexpr std::array<std::uint32_t, 24> kLegacy{110,   300, 600, 1200,   2400, 4800, 9600, 14400,
                                                           19200, 0,   0,   38400,  0,    0,    0,    56000,
                                                           0,     0,   0,   128000, 0,    0,    0,    256000};
    if (code == 0xFEFF)
        return 115200;
    if (code >= 0xFF10 && code < 0xFF10 + kLegacy.size() && kLegacy[code - 0xFF10] != 0)
        return kLegacy[code - 0xFF10];
    return code;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TBaseDispatcher::TBaseDispatcher(TCustomComPort *owner) : Owner(owner)
{
    TableIndex = DispatcherTable::Instance().Register(this, owner);
    if (QCoreApplication::instance()) {
        mainThreadTarget_ = std::make_unique<MessageTarget>();
        mainThreadTarget_->moveToThread(QCoreApplication::instance()->thread());
    }
}

TBaseDispatcher::~TBaseDispatcher()
{
    // Concrete dispatchers close in their own destructor (Shutdown); this only makes sure no
    // thread outlives the object.
    JoinThreads();
    threads_.clear();
    DispatcherTable::Instance().Unregister(TableIndex);
}

void TBaseDispatcher::Shutdown()
{
    if (ClosePending.load())
        ReleaseBuffers();
    else
        CloseLine();
    JoinThreads();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

bool TBaseDispatcher::CreateSignals()
{
    CommEventSignal = std::make_unique<SyncEvent>(SyncEvent::AutoReset);
    DispatchDoneSignal = std::make_unique<SyncEvent>(SyncEvent::AutoReset);
    AckSignal = std::make_unique<SyncEvent>(SyncEvent::AutoReset);
    OutputReadySignal = std::make_unique<SyncEvent>(SyncEvent::AutoReset);
    WriteDoneSignal = std::make_unique<SyncEvent>(SyncEvent::ManualReset);
    FlushSignal = std::make_unique<SyncEvent>(SyncEvent::AutoReset);
    OutputEmptySignal = std::make_unique<SyncEvent>(SyncEvent::ManualReset);
    OutputEmptySignal->Set();
    return OutputEmptySignal->IsValid() && CommEventSignal->IsValid() && DispatchDoneSignal->IsValid()
           && AckSignal->IsValid() && OutputReadySignal->IsValid() && WriteDoneSignal->IsValid()
           && FlushSignal->IsValid();
}

int TBaseDispatcher::OpenLine(const std::string &deviceName, std::uint32_t baud, int parity, int dataBits, int stopBits,
                              std::uint32_t inSize, std::uint32_t outSize, std::uint8_t lineOptions)
{
    RingSeen.store(false);
    Dispatching.store(false);
    {
        std::lock_guard guard(GeneralLock);
        DeferredRemoval = false;
    }
    if (!CreateSignals()) {
        CloseLine();
        return -SystemError::NotEnoughMemory;
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
    PurgedAtClose.store(0);
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
        eventLog_.Stop();
        eventLog_.SetTimeBase(std::chrono::steady_clock::now());
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

SendState TBaseDispatcher::WaitSent(int timeoutMs)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    const auto left = [&] { return ceil<microseconds>(deadline - steady_clock::now()); };
    // The output thread empties the ring into the driver.
    while (OutputRingCount() > 0) {
        if (DeviceGone.load())
            return SendState::LineGone;
        const microseconds wait = left();
        if (wait.count() <= 0)
            return SendState::Pending;
        OutputEmptySignal->Wait(static_cast<int>(ceil<milliseconds>(wait).count()));
    }
    std::uint32_t rate;
    {
        std::lock_guard guard(GeneralLock);
        rate = std::max<std::uint32_t>(1, TranslateBaud(AppliedBaud));
    }
    // The driver's queue leaves at the pace of the line: look again when it should have.
    for (;;) {
        const std::uint64_t queued = DeviceOutputQueued();
        if (DeviceGone.load())
            return SendState::LineGone;
        if (queued == 0) {
            // The driver's queue does not count the UART's transmit FIFO: the bytes of the
            // latest write may still be shifting out. At most a FIFO's worth.
            constexpr std::uint64_t kFifoBytes = 16;
            const std::uint64_t shifting = std::min<std::uint64_t>(LastWriteBytes.load(), kFifoBytes);
            const auto out = steady_clock::time_point(steady_clock::duration(LastWriteNs.load()))
                             + microseconds(shifting * 10'000'000 / rate);
            if (out > steady_clock::now())
                std::this_thread::sleep_until(std::min(out, deadline));
            return SendState::Delivered;
        }
        const microseconds wait = left();
        if (wait.count() <= 0)
            return SendState::Pending;
        const microseconds onTheWire(queued * 10'000'000 / rate);
        std::this_thread::sleep_for(std::clamp(onTheWire, microseconds(500), wait));
    }
}

void TBaseDispatcher::CloseLine()
{
    if (DeviceHandle.load() != -1) {
        // Only what the drain gave up on is dropped. A driver that reports nothing queued may
        // still hold bytes for the far end (a pseudo-terminal does), and a purge would lose them.
        if (!DrainOutput()) {
            PurgedAtClose.store(OutputRingCount() + DeviceOutputQueued());
            AbandonOutputRing();
            if (DeviceOutputQueued() > 0)
                DevicePurge(PURGE_TXABORT | PURGE_TXCLEAR);
        }
        FlushInput();
        Log(LogKind::Close, LogDetail::None, 0);
        EndThreadWaits();
        if (DeviceClose() == 0)
            DeviceHandle.store(-1);
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

void TBaseDispatcher::EndThreadWaits()
{
    if (!ThreadsStarted.load())
        return;
    StopRequested.store(true);
    // An empty event mask ends the comm thread's wait on the device.
    DeviceSetMask(0);
    DispatchDoneSignal->Set();
    AckSignal->Reset();
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
        if (newBaud == Line.BaudRate && newParity == Line.Parity && newSize == Line.ByteSize
            && stopCode == Line.StopBits)
            return 0;
    }

    // Let the queued output leave at the old settings; the driver's own queue counts too, since
    // it holds far more than a UART's FIFO on this system.
    for (int turn = 0; turn < kDrainTurns && (OutputUsed() > 0 || DeviceOutputQueued() > 0); ++turn)
        std::this_thread::sleep_for(kDrainStep);
    LineSettings current;
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
    hardwareOptions = (Line.fDtrControl == DTR_CONTROL_HANDSHAKE ? 1 : 0)
                      | (Line.fRtsControl == RTS_CONTROL_HANDSHAKE ? 2 : 0) | (Line.fOutxDsrFlow ? 4 : 0)
                      | (Line.fOutxCtsFlow ? 8 : 0);
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
        return SerialResult::BadArgument;
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
        return SerialResult::BadArgument;
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
    return result < 0 ? SerialResult::BadArgument : result;
}

int TBaseDispatcher::DriveRTS(bool on)
{
    if (RTSHandshake.load())
        return 1;
    const int result = DeviceEscape(on ? SETRTS : CLRRTS);
    RTSLevel.store(on);
    return result < 0 ? SerialResult::BadArgument : result;
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

std::uint32_t TBaseDispatcher::OutputRingCount()
{
    std::lock_guard output(OutputLock);
    return RingUsed();
}

int TBaseDispatcher::WriteBlock(const std::uint8_t *data, std::size_t count)
{
    if (count == 0)
        return 0;
    int result = 0;
    {
        std::lock_guard output(OutputLock);
        if (!OutputOpen)
            return SerialResult::CommNotOpen;
        // Nothing queued now could ever leave.
        if (DeviceGone.load())
            return SerialResult::PutBlockFail;
        // Errors accumulate until LineErrorCode reads them, so a write does not hide them.
        LineErrors.fetch_or(DeviceStatus(Status) & 31);
        const std::uint32_t freeRoom = OutSize - RingUsed();
        if (count > freeRoom)
            return SerialResult::OutputBufferTooSmall;
        // Direction control by hand needs the legacy base address, which this system lacks.
        if (RS485.load() && !kNTFamily)
            return SerialResult::BaseAddressNotSet;
        if (count == freeRoom)
            OutFull = true;
        const int queued = DeviceQueueWrite(data, count);
        if (queued <= 0) {
            DeviceStatus(Status);
            result = SerialResult::PutBlockFail;
        }
        OutputSent.store(true);
    }
    {
        std::lock_guard guard(GeneralLock);
        if (eventLog_.Active())
            eventLog_.Add(LogKind::Write, LogDetail::DataWritten, static_cast<std::uint32_t>(count), data, count);
        Trace.Add(CharTrace::Transmit, data, count);
    }
    return result;
}

int TBaseDispatcher::DeviceQueueWrite(const std::uint8_t *data, std::size_t count)
{
    {
        std::lock_guard output(OutputLock);
        if (OutputEmptySignal)
            OutputEmptySignal->Reset();
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
    if (OutTail == OutHead) {
        OutHead = OutTail = 0;
        if (OutputEmptySignal)
            OutputEmptySignal->Set();
    }
    OutFull = false;
}

void TBaseDispatcher::WriteLoop(SyncEvent &writeDone)
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
            LastWriteNs.store(std::chrono::steady_clock::now().time_since_epoch().count());
            LastWriteBytes.store(static_cast<std::uint32_t>(written));
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
            MarkDeviceGone();
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
    if (OutputEmptySignal)
        OutputEmptySignal->Set();
}

int TBaseDispatcher::FlushOutput()
{
    AbandonOutputRing();
    return DevicePurge(PURGE_TXABORT | PURGE_TXCLEAR);
}

void TBaseDispatcher::RefreshStatus()
{
    std::lock_guard output(OutputLock);
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
        return SerialResult::CommNotOpen;
    if (count > InputUsed())
        return SerialResult::GetBlockFail;
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
    for (DataTrigger &trigger : DataTriggers)
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
        if (Trace.Active() || eventLog_.Active()) {
            std::vector<std::uint8_t> bytes(got);
            for (std::uint32_t i = 0; i < got; ++i)
                bytes[i] = InRing[(firstAt + i) % InRingSize];
            Trace.Add(CharTrace::Receive, bytes.data(), bytes.size());
            eventLog_.Add(LogKind::Read, LogDetail::DataRead, got, bytes.data(), bytes.size());
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Trace and log

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
        return SerialResult::TracingNotEnabled;
    return Trace.Dump(fileName, append, hex, allHex, deviceName_);
}

void TBaseDispatcher::StartLogging(std::uint32_t bytes)
{
    std::lock_guard guard(GeneralLock);
    eventLog_.Start(bytes);
}

void TBaseDispatcher::StopLogging()
{
    std::lock_guard guard(GeneralLock);
    eventLog_.Stop();
}

void TBaseDispatcher::PauseLogging(bool pause)
{
    std::lock_guard guard(GeneralLock);
    pause ? eventLog_.Pause() : eventLog_.Resume();
}

void TBaseDispatcher::ClearLogging()
{
    std::lock_guard guard(GeneralLock);
    eventLog_.Clear();
}

int TBaseDispatcher::DumpLog(const std::string &fileName, bool append, bool hex, bool allHex)
{
    std::lock_guard guard(GeneralLock);
    if (!eventLog_.Active())
        return SerialResult::LoggingNotEnabled;
    return eventLog_.Dump(fileName, append, hex, allHex, deviceName_);
}

void TBaseDispatcher::Log(std::uint16_t kind, std::uint16_t detail, std::uint32_t data, const std::uint8_t *bytes,
                          std::size_t count)
{
    std::lock_guard guard(GeneralLock);
    eventLog_.Add(kind, detail, data, bytes, count);
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
