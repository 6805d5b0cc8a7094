#include "serial/Dispatcher.h"

#include "serial/ComPort.h"
#include "serial/SystemErrors.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::uint16_t kLastTriggerNumber = 0x1FFF;
constexpr std::size_t kMaxTriggerText = 255;

// How long a window handler may take before the dispatch thread goes on without it.
constexpr int kSendTimeoutMs = 3000;

} // namespace

// ---------------------------------------------------------------------------------------------
// Modem lines

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
            for (DataTrigger &trigger : DataTriggers) {
                if (!trigger.Enabled || trigger.Text.empty())
                    continue;
                auto same = [&](char wanted) {
                    return trigger.IgnoreCase ? std::toupper(wanted) == std::toupper(byte)
                                              : wanted == static_cast<char>(byte);
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
            SendToTarget(
                mainThreadTarget_.get(), [&] { handler.Handler(msg, trigger, lParam); }, -1);
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
            NotifyWindow *window = nullptr;
            {
                std::lock_guard guard(GeneralLock);
                if (i < WindowHandlers.size() && !WindowHandlers[i].Deleted)
                    window = WindowHandlers[i].Window;
            }
            if (!window)
                continue;
            before();
            SendToTarget(
                window, [window, msg, trigger, lParam] { window->WindowProc(msg, trigger, lParam); }, kSendTimeoutMs);
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
    case 0: NotifyNeeded.store(handlers || EventsAssigned.load()); break;
    case 1:
        EventsAssigned.store(true);
        NotifyNeeded.store(true);
        break;
    case 2:
        EventsAssigned.store(false);
        NotifyNeeded.store(handlers);
        break;
    default: break;
    }
}

void TBaseDispatcher::AddWindowHandler(NotifyWindow *window)
{
    std::lock_guard guard(GeneralLock);
    WindowHandlers.push_back({window, false});
    NotifyNeeded.store(true);
}

void TBaseDispatcher::RemoveWindowHandler(NotifyWindow *window)
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

void TBaseDispatcher::CopyTriggersOut(TriggerSave &save)
{
    std::lock_guard guard(GeneralLock);
    save = TriggerSave{AvailThreshold, TimerTriggers, DataTriggers, StatusTriggers};
}

void TBaseDispatcher::CopyTriggersIn(const TriggerSave &save)
{
    std::lock_guard guard(GeneralLock);
    AvailThreshold = save.AvailThreshold;
    TimerTriggers = save.TimerTriggers;
    DataTriggers = save.DataTriggers;
    StatusTriggers = save.StatusTriggers;
    const auto now = std::chrono::steady_clock::now();
    std::uint16_t highest = 0;
    for (TimerTrigger &trigger : TimerTriggers) {
        trigger.Due = now + std::chrono::milliseconds(trigger.Interval);
        highest = std::max<std::uint16_t>(highest, trigger.Handle >> 3);
    }
    for (DataTrigger &trigger : DataTriggers) {
        trigger.Matched = 0;
        highest = std::max<std::uint16_t>(highest, trigger.Handle >> 3);
    }
    for (const StatusTrigger &trigger : StatusTriggers)
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
        return SerialResult::NoMoreTriggers;
    const auto handle = static_cast<std::uint16_t>(NextTriggerHandle++ << 3);
    TimerTriggers.push_back({handle, intervalMs, false, {}});
    return handle;
}

int TBaseDispatcher::SetTimerTrigger(std::uint16_t handle, std::uint32_t intervalMs, bool enabled)
{
    std::lock_guard guard(GeneralLock);
    for (TimerTrigger &trigger : TimerTriggers) {
        if (trigger.Handle == handle) {
            trigger.Interval = intervalMs;
            trigger.Enabled = enabled;
            trigger.Due = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
            return 0;
        }
    }
    return SerialResult::BadTriggerHandle;
}

int TBaseDispatcher::AddDataTrigger(const std::string &text, bool ignoreCase)
{
    if (text.size() > kMaxTriggerText)
        return SerialResult::TriggerTooLong;
    if (text.empty())
        return SerialResult::BadArgument;
    std::lock_guard guard(GeneralLock);
    if (NextTriggerHandle > kLastTriggerNumber)
        return SerialResult::NoMoreTriggers;
    const auto handle = static_cast<std::uint16_t>(NextTriggerHandle++ << 3);
    DataTriggers.push_back({handle, text, ignoreCase, true, 0});
    return handle;
}

int TBaseDispatcher::AddStatusTrigger(std::uint16_t kind)
{
    if (kind < StatusModem || kind > StatusOutSent)
        return SerialResult::BadArgument;
    std::lock_guard guard(GeneralLock);
    if (NextTriggerHandle > kLastTriggerNumber)
        return SerialResult::NoMoreTriggers;
    const auto handle = static_cast<std::uint16_t>((NextTriggerHandle++ << 3) | kind);
    StatusTriggers.push_back({handle, 0, false, 0});
    return handle;
}

int TBaseDispatcher::SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled)
{
    std::lock_guard guard(GeneralLock);
    for (StatusTrigger &trigger : StatusTriggers) {
        if (trigger.Handle == handle) {
            trigger.Value = value;
            trigger.Enabled = enabled;
            trigger.Reference = ModemLines & 0xF0;
            if ((handle & 7) == StatusOutSent && enabled)
                OutputSent.store(false);
            return 0;
        }
    }
    return SerialResult::BadTriggerHandle;
}

int TBaseDispatcher::RemoveTrigger(std::uint16_t handle)
{
    std::lock_guard guard(GeneralLock);
    auto remove = [handle](auto &list) {
        const auto found =
            std::find_if(list.begin(), list.end(), [handle](const auto &t) { return t.Handle == handle; });
        if (found == list.end())
            return false;
        list.erase(found);
        return true;
    };
    if (remove(TimerTriggers) || remove(DataTriggers) || remove(StatusTriggers))
        return 0;
    return SerialResult::BadTriggerHandle;
}

void TBaseDispatcher::EvaluateStatusTriggers()
{
    std::vector<std::uint16_t> fired;
    {
        std::lock_guard guard(GeneralLock);
        for (StatusTrigger &trigger : StatusTriggers) {
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
        for (TimerTrigger &trigger : TimerTriggers) {
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

void TBaseDispatcher::MarkDeviceGone()
{
    if (DeviceGone.exchange(true))
        return;
    // A wait for the output to leave ends at once.
    if (OutputEmptySignal)
        OutputEmptySignal->Set();
    if (TCustomComPort *owner = Owner)
        QMetaObject::invokeMethod(
            owner, [owner] { owner->LineGoneArrived(); }, Qt::QueuedConnection);
}
