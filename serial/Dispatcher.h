#pragma once

#include "serial/DeviceLayer.h"
#include "serial/Notifications.h"
#include "serial/SyncEvent.h"
#include "serial/TraceLog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TCustomComPort;
class TDispatcherThread;

// Whether what was queued for sending has left the port.
enum class SendState {
    Delivered,
    // The line stopped taking data (flow stopped, a stuck adapter or bridge).
    Pending,
    // The line hung up.
    LineGone,
};

// Owns one open serial device for a port component: the device, the output ring that the
// caller writes into, the input ring that the worker threads fill, the cached line settings,
// three re-entrant locks and six signals. Operations return result codes: 0, a positive
// informational value, or a negative failure (a negated system error or a library code).
//
// The class spans several files along its seams: Dispatcher.cpp opens and closes, keeps the
// line settings and the two rings; DispatcherThreads.cpp starts and stops the worker threads;
// DispatcherNotify.cpp holds the rounds, the triggers and the delivery of notifications. The
// device layers that implement the device operations are in Win32Dispatcher.h.
class TBaseDispatcher {
public:
    static constexpr std::uint32_t InRingSize = 8192;

    explicit TBaseDispatcher(TCustomComPort *owner);
    virtual ~TBaseDispatcher();

    TBaseDispatcher(const TBaseDispatcher &) = delete;
    TBaseDispatcher &operator=(const TBaseDispatcher &) = delete;

    // --- Operations of the port component ---------------------------------------------------
    int OpenLine(const std::string &deviceName, std::uint32_t baud, int parity, int dataBits, int stopBits,
                 std::uint32_t inSize, std::uint32_t outSize, std::uint8_t lineOptions);
    // Lets queued output leave while the line keeps taking it, drops what it gave up on, and
    // closes.
    void CloseLine();
    // Waits while queued output leaves; false when the line stopped taking it.
    bool DrainOutput();
    // Waits on the calling thread, at most timeoutMs, until everything queued has left the
    // port: the output ring and the driver's queue.
    SendState WaitSent(int timeoutMs);
    // The bytes the last close gave up on and dropped.
    std::uint32_t BytesPurgedAtClose() const { return PurgedAtClose.load(); }
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
    void AddWindowHandler(NotifyWindow *window);
    void RemoveWindowHandler(NotifyWindow *window);
    void AddProcHandler(const TNotifyHandler &handler);
    // onMainThread: the call is made on the main thread while the dispatch thread waits.
    void AddEventHandler(const TNotifyHandler &handler, bool onMainThread);
    void CopyTriggersOut(TriggerSave &save);
    void CopyTriggersIn(const TriggerSave &save);
    std::uint32_t InputUsed();
    // Takes count received bytes, whole or not at all (GetBlockFail); inside a data-available
    // notification the bytes are counted as consumed and leave the ring when it ends.
    int GetBlock(std::uint8_t *buffer, std::size_t count);
    std::uint32_t RefreshModemStatus(std::uint32_t mask);
    virtual void ReleaseBuffers();
    virtual void StartThreads();
    virtual void StopThreads();
    virtual int Yield();
    virtual void SetPriorityBoost(std::uint8_t boost);
    virtual void SetHandlerMode(int mode);

    // Triggers: handles, or NoMoreTriggers, TriggerTooLong or BadTriggerHandle.
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
    void Log(std::uint16_t kind, std::uint16_t detail, std::uint32_t data, const std::uint8_t *bytes = nullptr,
             std::size_t count = 0);

    void SetDeviceName(const std::string &name);
    std::string DeviceName();

    // --- What the port component reads of the state -----------------------------------------
    TCustomComPort *OwnerPort() const { return Owner; }
    int IndexInTable() const { return TableIndex; }
    // A notification is being delivered; a close asked for now finishes when it ends.
    bool IsDispatching() const { return Dispatching.load(); }
    // Cleared when the last worker thread has ended.
    bool AreThreadsStarted() const { return ThreadsStarted.load(); }
    int ActiveThreadCount() const { return ActiveThreads.load(); }
    // The device hung up (an adapter unplugged, the far end of a pseudo-terminal closed).
    bool IsDeviceGone() const { return DeviceGone.load(); }
    // The open device's descriptor, or -1.
    int DeviceDescriptor() const { return DeviceHandle.load(); }
    // When a lock file refused the open: who holds it, naming the file; else empty.
    virtual std::string DeviceHolder() const { return {}; }

protected:
    // --- Device operations, supplied by a device layer -------------------------------------
    virtual int DeviceEscape(int function) = 0;
    virtual int DevicePurge(unsigned directions) = 0;
    // Fills the record; returns the driver's line error bits (0 when it cannot tell).
    virtual std::uint32_t DeviceStatus(LineStatus &status) = 0;
    virtual void DeviceReadFailed(int code) { (void)code; }
    virtual int DeviceGetState(LineSettings &line) = 0;
    virtual int DeviceRead(std::uint8_t *buffer, std::size_t count) = 0;
    virtual int DeviceSetState(const LineSettings &line) = 0;
    virtual int DeviceQueueWrite(const std::uint8_t *data, std::size_t count);
    virtual bool DeviceSetBuffers(std::uint32_t inSize, std::uint32_t outSize) = 0;
    // The device handle, or a negative value on failure.
    virtual int DeviceOpen(const std::string &name, std::uint32_t inSize, std::uint32_t outSize) = 0;
    // Closes the device only: the dispatcher has told its threads to stop before.
    virtual int DeviceClose() = 0;
    // The worker threads' view of the device (the background half of the write path and the
    // line event wait): see SerialDevice for the meaning of the results.
    virtual int DeviceWrite(const std::uint8_t *data, std::size_t count) = 0;
    virtual int DeviceWaitWritable(SyncEvent &interrupt) = 0;
    virtual int DeviceSetMask(std::uint32_t mask) = 0;
    virtual int DeviceWaitEvent(std::uint32_t &events) = 0;
    virtual std::uint32_t DeviceModemStatus() = 0;
    virtual std::uint32_t DeviceOutputQueued() { return 0; }
    // The system error of the last failed DeviceOpen.
    virtual int LastSystemError() const { return 0; }

    // Closes and waits for the threads; every concrete dispatcher calls it in its destructor,
    // while its device operations still exist.
    void Shutdown();
    // The bytes in the output ring, for a device layer's status record.
    std::uint32_t OutputRingCount();

private:
    // The worker threads run the rounds and the write loop below and read the thread control.
    friend class TDispatcherThread;
    friend class TComThread;
    friend class TDispThread;
    friend class TOutThread;

    // --- Opening, closing and the line (Dispatcher.cpp) ---------------------------------------
    bool CreateSignals();
    // Applies Line to the device and drives DTR and RTS to their levels.
    int ApplyLine();
    // Makes the threads leave their waits on the device, before it closes.
    void EndThreadWaits();

    // Records that the device hung up and tells the port component once, on its thread.
    void MarkDeviceGone();

    // --- The rings (Dispatcher.cpp) ----------------------------------------------------------
    void WriteLoop(SyncEvent &writeDone);
    void AdvanceOutTail(std::uint32_t count);
    // Makes the output thread let go of its write and empties the output ring.
    void AbandonOutputRing();
    std::uint32_t RingUsed() const; // under OutputLock
    void ReadIntoRing();
    std::uint32_t UnreadInput() const; // under InputLock

    // --- The worker threads (DispatcherThreads.cpp) ------------------------------------------
    void SignalAndWaitForThreads();
    // The common ending of a worker thread.
    void ThreadEnded(TDispatcherThread *thread);
    // Waits until every thread has ended and joins them.
    void JoinThreads();
    void ApplyPriorities();
    // Waits until done() holds, handling the main thread's waiting calls when on it; gives up
    // after maxMs (negative: never).
    static bool WaitHandlingMessages(const std::function<bool()> &done, int maxMs);

    // --- Rounds and notifications (DispatcherNotify.cpp) -------------------------------------
    void EventRound();
    void TimerRound();
    // One data check: true when it should run again in the same round.
    bool DataCheck();
    bool Deliver(std::uint16_t msg, std::uint16_t trigger, std::uint16_t data);
    void EvaluateStatusTriggers();
    void EvaluateTimerTriggers();

    // --- State ------------------------------------------------------------------------------
    // Set at construction.
    TCustomComPort *const Owner;
    int TableIndex = -1;
    std::atomic<int> DeviceHandle{-1};

    // Guarded by GeneralLock.
    std::recursive_mutex GeneralLock;
    LineSettings Line;
    std::uint32_t AppliedBaud = 115200;
    std::uint32_t OptionWord = 0;
    std::atomic<bool> DTRLevel{true};
    std::atomic<bool> RTSLevel{true};
    std::atomic<bool> DTRHandshake{false};
    std::atomic<bool> RTSHandshake{false};
    std::atomic<bool> RS485{false};
    std::uint32_t ModemLines = 0;
    std::uint32_t AvailThreshold = 0;
    std::vector<TimerTrigger> TimerTriggers;
    std::vector<DataTrigger> DataTriggers;
    std::vector<StatusTrigger> StatusTriggers;
    std::uint16_t NextTriggerHandle = 1;
    struct WindowEntry {
        NotifyWindow *Window;
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
    CharTrace Trace;
    EventLog eventLog_;
    std::string deviceName_;

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
    LineStatus Status;
    // Counts flushes, so that a write finishing after one does not move the emptied ring.
    std::uint64_t OutGeneration = 0;
    std::atomic<bool> OutputSent{false};
    std::atomic<std::uint32_t> PurgedAtClose{0};
    // The latest write to the driver: when, and how many bytes. A UART's transmit FIFO may still
    // hold them after the driver's queue is empty.
    std::atomic<std::int64_t> LastWriteNs{0};
    std::atomic<std::uint32_t> LastWriteBytes{0};

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

    // Thread control. Each worker clears its own reference when it ends.
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
    std::atomic<bool> DeviceGone{false};
    std::atomic<bool> StatusHit{false};
    // Serialises starting and stopping the threads without involving GeneralLock, which the
    // dispatch thread needs in every round.
    std::recursive_mutex threadControlLock_;
    // Filled under threadControlLock_; joined once every thread has ended.
    std::vector<std::unique_ptr<TDispatcherThread>> threads_;

    // The six signals; they live as long as the dispatcher.
    std::unique_ptr<SyncEvent> CommEventSignal;
    std::unique_ptr<SyncEvent> DispatchDoneSignal;
    std::unique_ptr<SyncEvent> AckSignal;
    std::unique_ptr<SyncEvent> OutputReadySignal;
    std::unique_ptr<SyncEvent> WriteDoneSignal;
    std::unique_ptr<SyncEvent> FlushSignal;
    // Set while the output ring is empty.
    std::unique_ptr<SyncEvent> OutputEmptySignal;

    // Runs the event handlers that want the main thread; made with the dispatcher.
    std::unique_ptr<MessageTarget> mainThreadTarget_;
};
