#pragma once

#include "serial/DeviceLayer.h"
#include "serial/SyncEvent.h"
#include "serial/TraceLog.h"

#include <QEvent>
#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TCustomComPort;
class TDispatcherThread;

// Notification messages, with the trigger value as wParam and, in lParam, the dispatcher's
// table index in the high word and the data in the low word.
constexpr std::uint16_t NotifyAvail = 0x7E01;
constexpr std::uint16_t NotifyData = 0x7E02;
constexpr std::uint16_t NotifyTimer = 0x7E03;
constexpr std::uint16_t NotifyStatus = 0x7E04;
constexpr std::uint16_t NotifyClosePending = 0x7E0A;

// Status trigger kinds, held in the low 3 bits of a status trigger's handle.
constexpr std::uint16_t StatusModem = 1;
constexpr std::uint16_t StatusLineError = 2;
constexpr std::uint16_t StatusOutbuffFree = 3;
constexpr std::uint16_t StatusOutbuffUsed = 4;
constexpr std::uint16_t StatusOutSent = 5;

// An object living on the main thread that runs calls which other threads hand it, in order.
// Notifications reach the port component through one of these.
class TMessageTarget : public QObject {
public:
    using QObject::QObject;

protected:
    bool event(QEvent *event) override;
};

// A receiver of notification messages: the port component's hidden window.
class TNotifyWindow : public TMessageTarget {
public:
    using TMessageTarget::TMessageTarget;
    virtual void WindowProc(std::uint16_t msg, std::uint16_t wParam, std::int32_t lParam) = 0;
};

// Runs call on the target's thread and waits at most timeoutMs (negative: without limit) for it
// to finish; runs it at once when the caller is on that thread. True when it ran in time.
bool SendToTarget(TMessageTarget *target, std::function<void()> call, int timeoutMs);
// Queues call for the target's thread and returns.
void PostToTarget(TMessageTarget *target, std::function<void()> call);
// On the main thread, runs the calls that other threads are waiting for (and only those).
void HandleSentCalls();

// A procedure or event handler of notifications: (message, trigger value, lParam).
using TNotifyHandler = std::function<void(std::uint16_t, std::uint16_t, std::int32_t)>;

struct TTimerTrigger {
    std::uint16_t Handle = 0;
    std::uint32_t Interval = 0; // milliseconds
    bool Enabled = false;
    std::chrono::steady_clock::time_point Due{};
};

struct TDataTrigger {
    std::uint16_t Handle = 0;
    std::string Text;
    bool IgnoreCase = false;
    bool Enabled = true;
    std::size_t Matched = 0; // characters of Text matched so far
};

struct TStatusTrigger {
    std::uint16_t Handle = 0;
    std::uint32_t Value = 0; // modem line mask, or a byte count for the output kinds
    bool Enabled = false;
    std::uint32_t Reference = 0; // modem lines when armed
};

// The triggers and the data-available threshold, copied out at close and in at the next open.
struct TTriggerSave {
    std::uint32_t AvailThreshold = 0;
    std::vector<TTimerTrigger> TimerTriggers;
    std::vector<TDataTrigger> DataTriggers;
    std::vector<TStatusTrigger> StatusTriggers;
};

// Owns one open serial device for a port component: the device, the output ring that the
// caller writes into, the input ring that the worker threads fill, the cached line settings,
// three re-entrant locks and six signals. Operations return result codes: 0, a positive
// informational value, or a negative failure (a negated system error or a library code).
// Every field below is guarded by the lock named beside it or is atomic.
class TBaseDispatcher {
public:
    static constexpr std::uint32_t InRingSize = 8192;

    explicit TBaseDispatcher(TCustomComPort *owner);
    virtual ~TBaseDispatcher();

    TBaseDispatcher(const TBaseDispatcher &) = delete;
    TBaseDispatcher &operator=(const TBaseDispatcher &) = delete;

    // --- Device operations, supplied by a device layer -------------------------------------
    virtual int DeviceEscape(int function) = 0;
    virtual int DevicePurge(unsigned directions) = 0;
    // Fills the record; returns the driver's line error bits (0 when it cannot tell).
    virtual std::uint32_t DeviceStatus(TLineStatus &status) = 0;
    virtual void DeviceReadFailed(int code) { (void)code; }
    virtual int DeviceGetState(TLineSettings &line) = 0;
    virtual int DeviceRead(std::uint8_t *buffer, std::size_t count) = 0;
    virtual int DeviceSetState(const TLineSettings &line) = 0;
    virtual int DeviceQueueWrite(const std::uint8_t *data, std::size_t count);
    virtual bool DeviceSetBuffers(std::uint32_t inSize, std::uint32_t outSize) = 0;
    virtual void ReleaseBuffers();
    virtual void StartThreads();
    virtual void StopThreads();
    // The device handle, or a negative value on failure.
    virtual int DeviceOpen(const std::string &name, std::uint32_t inSize, std::uint32_t outSize) = 0;
    virtual int DeviceClose() = 0;
    virtual int Yield();
    virtual void SetPriorityBoost(std::uint8_t boost);
    virtual void SetHandlerMode(int mode);

    // The worker threads' view of the device (the background half of the write path and the
    // line event wait): see TSerialDevice for the meaning of the results.
    virtual int DeviceWrite(const std::uint8_t *data, std::size_t count) = 0;
    virtual int DeviceWaitWritable(TSyncEvent &interrupt) = 0;
    virtual int DeviceSetMask(std::uint32_t mask) = 0;
    virtual int DeviceWaitEvent(std::uint32_t &events) = 0;
    virtual std::uint32_t DeviceModemStatus() = 0;
    virtual std::uint32_t DeviceOutputQueued() { return 0; }
    // The system error of the last failed DeviceOpen.
    virtual int LastSystemError() const { return 0; }

    // --- Operations of the port component ---------------------------------------------------
    int OpenLine(const std::string &deviceName, std::uint32_t baud, int parity, int dataBits,
                 int stopBits, std::uint32_t inSize, std::uint32_t outSize, std::uint8_t lineOptions);
    // Lets queued output leave while the line keeps taking it, drops what it gave up on, and
    // closes.
    void CloseLine();
    // Waits while queued output leaves; false when the line stopped taking it.
    bool DrainOutput();
    int ChangeLine(std::uint32_t baud, int parity, int dataBits, int stopBits);
    void GetLineSettings(std::uint32_t &baud, int &parity, int &dataBits, int &stopBits);
    void GetFlowSettings(int &hardwareOptions, int &softwareOptions, char &xOn, char &xOff);
    int SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize);
    int SetHardwareFlow(std::uint32_t full, std::uint32_t resume, int options);
    int SetSoftwareFlow(std::uint32_t full, std::uint32_t resume, int options);
    int ClearSoftwareFlow();
    int SetFlowChars(char xOn, char xOff);
    int DriveDTR(bool on);
    int DriveRTS(bool on);
    int WriteBlock(const std::uint8_t *data, std::size_t count);
    std::uint32_t OutputUsed();
    std::uint32_t OutputFree();
    int FlushOutput();
    int FlushInput();
    void RefreshStatus();
    int LineErrorCode();
    bool TakeBreak();
    void SetRS485(bool on);
    void SetOptionBits(std::uint32_t mask);
    void ClearOptionBits(std::uint32_t mask);
    void SetAvailThreshold(std::uint32_t threshold);
    void AddWindowHandler(TNotifyWindow *window);
    void RemoveWindowHandler(TNotifyWindow *window);
    void AddProcHandler(const TNotifyHandler &handler);
    // onMainThread: the call is made on the main thread while the dispatch thread waits.
    void AddEventHandler(const TNotifyHandler &handler, bool onMainThread);
    void CopyTriggersOut(TTriggerSave &save);
    void CopyTriggersIn(const TTriggerSave &save);
    std::uint32_t InputUsed();
    // Takes count received bytes, whole or not at all (-3005); inside a data-available
    // notification the bytes are counted as consumed and leave the ring when it ends.
    int GetBlock(std::uint8_t *buffer, std::size_t count);
    std::uint32_t RefreshModemStatus(std::uint32_t mask);

    // Triggers: handles or negative codes (-5001 no more, -5002 too long, -5003 bad handle).
    int AddTimerTrigger(std::uint32_t intervalMs);
    int SetTimerTrigger(std::uint16_t handle, std::uint32_t intervalMs, bool enabled);
    int AddDataTrigger(const std::string &text, bool ignoreCase);
    int AddStatusTrigger(std::uint16_t kind);
    int SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled);
    int RemoveTrigger(std::uint16_t handle);

    // Trace and log (the port component keeps their states).
    void StartTracing(std::uint32_t entries);
    void StopTracing();
    void PauseTracing(bool pause);
    void ClearTracing();
    int DumpTrace(const std::string &fileName, bool append, bool hex, bool allHex);
    void StartLogging(std::uint32_t bytes);
    void StopLogging();
    void PauseLogging(bool pause);
    void ClearLogging();
    int DumpLog(const std::string &fileName, bool append, bool hex, bool allHex);
    void Log(std::uint16_t kind, std::uint16_t detail, std::uint32_t data,
             const std::uint8_t *bytes = nullptr, std::size_t count = 0);

    void SetDeviceName(const std::string &name);
    std::string DeviceName();

    // --- The worker threads' rounds: the read side and the write loop ---------------------
    void WriteLoop(TSyncEvent &writeDone);
    void EventRound();
    void TimerRound();
    void ReadIntoRing();
    // One data check: true when it should run again in the same round.
    bool DataCheck();
    bool Deliver(std::uint16_t msg, std::uint16_t trigger, std::uint16_t data);
    void EvaluateStatusTriggers();
    void EvaluateTimerTriggers();
    // The common ending of a worker thread.
    void ThreadEnded(TDispatcherThread *thread);
    // Waits until done() holds, handling the main thread's waiting calls when on it; gives up
    // after maxMs (negative: never).
    static bool WaitHandlingMessages(const std::function<bool()> &done, int maxMs);

    // --- State ------------------------------------------------------------------------------
    TCustomComPort *Owner;
    int TableIndex = -1;
    std::atomic<int> DeviceHandle{-1};

    // Guarded by GeneralLock.
    std::recursive_mutex GeneralLock;
    TLineSettings Line;
    std::uint32_t AppliedBaud = 115200;
    std::uint32_t OptionWord = 0;
    std::atomic<bool> DTRLevel{true};
    std::atomic<bool> RTSLevel{true};
    std::atomic<bool> DTRHandshake{false};
    std::atomic<bool> RTSHandshake{false};
    std::atomic<bool> RS485{false};
    std::uint32_t ModemLines = 0;
    std::uint32_t AvailThreshold = 0;
    std::vector<TTimerTrigger> TimerTriggers;
    std::vector<TDataTrigger> DataTriggers;
    std::vector<TStatusTrigger> StatusTriggers;
    std::uint16_t NextTriggerHandle = 1;
    struct WindowEntry {
        TNotifyWindow *Window;
        bool Deleted;
    };
    struct HandlerEntry {
        TNotifyHandler Handler;
        bool Deleted;
        bool OnMainThread;
    };
    std::vector<WindowEntry> WindowHandlers;
    std::vector<HandlerEntry> ProcHandlers;
    std::vector<HandlerEntry> EventHandlers;
    bool DeferredRemoval = false;
    std::atomic<bool> EventsAssigned{false};
    std::atomic<bool> NotifyNeeded{false};
    std::uint8_t PriorityBoost = 0;
    TCharTrace Trace;
    TEventLog EventLog;

    // Accumulated line errors (1 queue overflow, 2 overrun, 4 parity, 8 framing, 16 break).
    std::atomic<std::uint32_t> LineErrors{0};

    // Guarded by OutputLock.
    std::recursive_mutex OutputLock;
    // Between the open and the release of the buffers; the ring may have no room at all.
    bool OutputOpen = false;
    std::vector<std::uint8_t> OutRing;
    std::uint32_t OutSize = 0;
    std::uint32_t OutHead = 0;
    std::uint32_t OutTail = 0;
    bool OutFull = false;
    TLineStatus Status;
    // Counts flushes, so that a write finishing after one does not move the emptied ring.
    std::uint64_t OutGeneration = 0;
    std::atomic<bool> OutputSent{false};

    // Guarded by InputLock.
    std::recursive_mutex InputLock;
    std::vector<std::uint8_t> InRing;
    std::uint32_t InSize = 0;
    std::uint32_t InHead = 0;
    std::uint32_t InTail = 0;
    bool InFull = false;
    // Positions count every byte received since the open, so that a whole ring of new bytes
    // is not mistaken for none.
    std::uint64_t ReceivedTotal = 0;
    std::uint64_t ScanPosition = 0;
    std::uint64_t LastNotifiedPosition = 0;
    bool InAvailNotify = false;
    std::uint32_t ConsumedCount = 0;
    std::uint32_t LargestConsumed = 0;

    // Thread control.
    std::atomic<TDispatcherThread *> CommWorker{nullptr};
    std::atomic<TDispatcherThread *> DispatchWorker{nullptr};
    std::atomic<TDispatcherThread *> OutputWorker{nullptr};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> ThreadsStarted{false};
    std::atomic<int> ActiveThreads{0};
    std::atomic<bool> Dispatching{false};
    std::atomic<bool> ClosePending{false};
    std::atomic<bool> CleanupOnExit{false};
    std::atomic<bool> RingSeen{false};
    std::atomic<std::uint32_t> EventMask{0};
    // The device hung up (an adapter unplugged, the far end of a pseudo-terminal closed).
    std::atomic<bool> DeviceGone{false};
    std::atomic<bool> StatusHit{false};

    // The six signals; they live as long as the dispatcher.
    std::unique_ptr<TSyncEvent> CommEventSignal;
    std::unique_ptr<TSyncEvent> DispatchDoneSignal;
    std::unique_ptr<TSyncEvent> AckSignal;
    std::unique_ptr<TSyncEvent> OutputReadySignal;
    std::unique_ptr<TSyncEvent> WriteDoneSignal;
    std::unique_ptr<TSyncEvent> FlushSignal;

protected:
    // Closes and waits for the threads; every concrete dispatcher calls it in its destructor,
    // while its device operations still exist.
    void Shutdown();
    // Applies Line to the device and drives DTR and RTS to their levels.
    int ApplyLine();
    bool CreateSignals();
    void AdvanceOutTail(std::uint32_t count);
    // Makes the output thread let go of its write and empties the output ring.
    void AbandonOutputRing();
    std::uint32_t RingUsed() const; // under OutputLock
    std::uint32_t UnreadInput() const; // under InputLock
    void ApplyPriorities();

private:
    void SignalAndWaitForThreads();
    // Serialises starting and stopping the threads without involving GeneralLock, which the
    // dispatch thread needs in every round.
    std::recursive_mutex threadControlLock_;
    std::vector<std::unique_ptr<TDispatcherThread>> threads_;
    std::string deviceName_;
    std::unique_ptr<TMessageTarget> mainThreadTarget_;
};

// The native device layer over a tty (selected by the port component's dlWin32).
class TWin32Dispatcher : public TBaseDispatcher {
public:
    explicit TWin32Dispatcher(TCustomComPort *owner);
    ~TWin32Dispatcher() override;

    int DeviceEscape(int function) override;
    int DevicePurge(unsigned directions) override;
    std::uint32_t DeviceStatus(TLineStatus &status) override;
    int DeviceGetState(TLineSettings &line) override;
    int DeviceRead(std::uint8_t *buffer, std::size_t count) override;
    int DeviceSetState(const TLineSettings &line) override;
    bool DeviceSetBuffers(std::uint32_t inSize, std::uint32_t outSize) override;
    int DeviceOpen(const std::string &name, std::uint32_t inSize, std::uint32_t outSize) override;
    int DeviceClose() override;
    int DeviceWrite(const std::uint8_t *data, std::size_t count) override;
    int DeviceWaitWritable(TSyncEvent &interrupt) override;
    int DeviceSetMask(std::uint32_t mask) override;
    int DeviceWaitEvent(std::uint32_t &events) override;
    std::uint32_t DeviceModemStatus() override;
    std::uint32_t DeviceOutputQueued() override;
    int LastSystemError() const override { return lastError_; }

protected:
    TSerialDevice Device;
    int lastError_ = 0;
    // The read record's event and the spare one, made with the device.
    std::unique_ptr<TSyncEvent> readEvent_;
    std::unique_ptr<TSyncEvent> spareEvent_;
};

// A device handed over by a telephony line: the descriptor is adopted, not opened.
class TTapi32Dispatcher : public TWin32Dispatcher {
public:
    TTapi32Dispatcher(TCustomComPort *owner, int handle);
    int DeviceOpen(const std::string &name, std::uint32_t inSize, std::uint32_t outSize) override;

private:
    int handle_;
};

// The process-wide list of dispatchers, by which notifications find theirs.
class TDispatcherTable {
public:
    static TDispatcherTable &Instance();
    int Register(TBaseDispatcher *dispatcher);
    void Unregister(int index);
    // The dispatcher at index, or none.
    TBaseDispatcher *At(int index);
    // The port component of the dispatcher at index, or none.
    TCustomComPort *OwnerAt(int index);
    std::size_t Size();

private:
    std::mutex lock_;
    std::vector<TBaseDispatcher *> slots_;
};
