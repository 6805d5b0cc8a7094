#include "base/Exception.h"
#include "tests/serial/SerialTestSupport.h"

#include <gtest/gtest.h>

namespace {

const std::uint8_t *Data(const std::string &text)
{
    return reinterpret_cast<const std::uint8_t *>(text.data());
}

class DispatcherTest : public ::testing::Test {
protected:
    // 9600 8N1, DTR and RTS raised, like the port component opens it.
    int Open(std::uint32_t outSize = 4096, std::uint8_t options = 0x03)
    {
        return d.OpenLine("\\\\.\\COM1", 9600, 0, 8, 1, 4096, outSize, options);
    }
    int Write(const std::string &text) { return d.WriteBlock(Data(text), text.size()); }

    FakeDispatcher d;
};

TEST_F(DispatcherTest, ASmallWriteReturnsAtOnceAndLeavesInOneWrite)
{
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(Write("REC1\r\n"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.Writes().size() == 1; }));
    EXPECT_EQ(d.Writes()[0], "REC1\r\n");
    EXPECT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    EXPECT_EQ(Write(""), 0);
    Idle(100);
    EXPECT_EQ(d.Writes().size(), 1u);
}

TEST_F(DispatcherTest, AWriteOfExactlyTheFreeRoomFillsTheRingAndOneMoreByteIsRefused)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(0);
    EXPECT_EQ(Write("0123456789abcdef"), 0);
    EXPECT_EQ(d.OutputUsed(), 16u);
    EXPECT_EQ(d.OutputFree(), 0u);
    EXPECT_EQ(Write("x"), -3006);
    EXPECT_EQ(d.OutputUsed(), 16u);

    d.Release();
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    EXPECT_EQ(Bytes(d.Writes()), "0123456789abcdef");
}

TEST_F(DispatcherTest, ARingWithoutRoomRefusesEveryWriteUntilTheClose)
{
    ASSERT_EQ(Open(0), 0);
    EXPECT_EQ(Write("x"), -3006);
    EXPECT_EQ(Write(""), 0);
    d.CloseLine();
    EXPECT_EQ(Write("x"), -2007);
}

TEST_F(DispatcherTest, MoreThanTheFreeRoomQueuesNothing)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(0);
    ASSERT_EQ(Write("0123456789"), 0);
    EXPECT_EQ(Write("ABCDEFG"), -3006);
    EXPECT_EQ(Write("ABCDEF"), 0);
    d.Release();
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    EXPECT_EQ(Bytes(d.Writes()), "0123456789ABCDEF");
}

TEST_F(DispatcherTest, AWrappedRingLeavesInOrderInOneWrite)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(1, 8);
    ASSERT_EQ(Write("01234567" "89AB"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.BlockedAttempts() > 0; }));
    ASSERT_EQ(d.Writes(), std::vector<std::string>{"01234567"});

    // Four bytes still wait at 8..11; the next eight wrap around the end of the ring.
    ASSERT_EQ(Write("CDEFGHIJ"), 0);
    d.Release();
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    EXPECT_EQ(d.Writes(), (std::vector<std::string>{"01234567", "89ABCDEFGHIJ"}));
}

TEST_F(DispatcherTest, AFullWrappedRingLeavesOnceAndEmptiesTheRing)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(1, 8);
    ASSERT_EQ(Write("01234567" "89AB"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.BlockedAttempts() > 0; }));
    ASSERT_EQ(Write("abcdefghijkl"), 0);
    EXPECT_EQ(d.OutputUsed(), 16u);

    d.Release();
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    Idle(100);
    EXPECT_EQ(d.Writes(), (std::vector<std::string>{"01234567", "89ABabcdefghijkl"}));
    EXPECT_EQ(Write("z"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.Writes().size() == 3; }));
    EXPECT_EQ(d.Writes()[2], "z");
}

TEST_F(DispatcherTest, FlushOutputAbandonsAPendingWriteAndEmptiesTheRing)
{
    ASSERT_EQ(Open(), 0);
    d.HoldAfter(0);
    ASSERT_EQ(Write("REC1\r\n"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.BlockedAttempts() > 0; }));

    EXPECT_EQ(d.FlushOutput(), 0);
    EXPECT_EQ(d.OutputUsed(), 0u);
    d.Release();
    Idle(100);
    EXPECT_TRUE(d.Writes().empty());

    ASSERT_EQ(Write("REC\r\n"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.Writes().size() == 1; }));
    EXPECT_EQ(d.Writes()[0], "REC\r\n");
}

// Output the line has taken is never purged at the close: the driver may still be handing it on.
TEST_F(DispatcherTest, QueuedOutputLeavesBeforeTheCloseAndIsNotPurged)
{
    ASSERT_EQ(Open(), 0);
    d.HoldAfter(0);
    ASSERT_EQ(Write("REC\r\n"), 0);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        d.Release();
    });
    d.CloseLine();
    release.join();
    const std::vector<std::string> journal = d.Journal();
    EXPECT_NE(std::find(journal.begin(), journal.end(), "write:REC\r\n"), journal.end());
    EXPECT_EQ(std::find(journal.begin(), journal.end(), "purge:5"), journal.end());
}

TEST_F(DispatcherTest, ALineThatTakesNothingDoesNotHoldTheCloseUp)
{
    ASSERT_EQ(Open(), 0);
    d.HoldAfter(0);
    ASSERT_EQ(Write("REC\r\n"), 0);
    d.CloseLine();
    EXPECT_TRUE(d.Writes().empty());
    EXPECT_EQ(d.RingCount(), 0u);
    EXPECT_EQ(d.ActiveThreads.load(), 0);
}

TEST_F(DispatcherTest, ChangeLineWithTheCurrentValuesTouchesNothing)
{
    ASSERT_EQ(Open(), 0);
    const int before = d.StateWrites();
    EXPECT_EQ(d.ChangeLine(9600, 0, 8, 1), 0);
    EXPECT_EQ(d.ChangeLine(0, 5, 9, 3), 0);  // every item kept
    EXPECT_EQ(d.ChangeLine(9600, 0, 8, 0), 0);  // stop bits 0 count as 1
    EXPECT_EQ(d.StateWrites(), before);
}

TEST_F(DispatcherTest, ChangeLineMapsStopBits)
{
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(d.ChangeLine(9600, 0, 8, 7), 0);
    EXPECT_EQ(d.State().StopBits, TWOSTOPBITS);
    // With 5 data bits the line always has one and a half stop bits.
    EXPECT_EQ(d.ChangeLine(9600, 2, 5, 1), 0);
    EXPECT_EQ(d.State().StopBits, ONE5STOPBITS);
    EXPECT_EQ(d.State().ByteSize, 5);
    EXPECT_EQ(d.State().Parity, EVENPARITY);

    std::uint32_t baud = 0;
    int parity = 0, dataBits = 0, stopBits = 0;
    EXPECT_EQ(d.ChangeLine(0xFF16, 0, 8, 2), 0);  // a legacy baud code
    d.GetLineSettings(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 9600u);
    EXPECT_EQ(dataBits, 8);
    EXPECT_EQ(stopBits, 2);
}

TEST_F(DispatcherTest, ChangeLineWaitsForQueuedOutputBeforeApplying)
{
    ASSERT_EQ(Open(), 0);
    d.HoldAfter(0);
    ASSERT_EQ(Write("ERASE\r\n"), 0);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        d.Release();
    });
    EXPECT_EQ(d.ChangeLine(19200, 0, 8, 1), 0);
    release.join();
    const std::vector<std::string> journal = d.Journal();
    const auto written = std::find(journal.begin(), journal.end(), "write:ERASE\r\n");
    ASSERT_NE(written, journal.end());
    EXPECT_NE(std::find(written, journal.end(), "state"), journal.end());
    EXPECT_EQ(d.State().BaudRate, 19200u);
}

TEST_F(DispatcherTest, FlowControlThresholdsAndChecks)
{
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(d.SetHardwareFlow(3686, 409, 2), 0);
    EXPECT_EQ(d.State().XoffLim, 410);
    EXPECT_EQ(d.State().XonLim, 409);
    EXPECT_EQ(d.State().fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(d.DriveRTS(false), 1);
    EXPECT_TRUE(d.RTSLevel.load());

    EXPECT_EQ(d.SetHardwareFlow(100, 200, 1), -1002);
    EXPECT_EQ(d.SetHardwareFlow(5000, 200, 1), -1002);
    EXPECT_EQ(d.SetSoftwareFlow(3072, 1024, 3), 0);
    EXPECT_TRUE(d.State().fInX);
    EXPECT_TRUE(d.State().fOutX);
    EXPECT_EQ(d.State().XoffLim, 1024);
    EXPECT_EQ(d.ClearSoftwareFlow(), 0);
    EXPECT_FALSE(d.State().fInX);
    EXPECT_EQ(d.SetFlowChars('a', 'b'), 0);
    EXPECT_EQ(d.State().XonChar, 'a');
    EXPECT_EQ(d.State().XoffChar, 'b');
}

TEST_F(DispatcherTest, DtrUnderHandshakeControlIsNotDriven)
{
    ASSERT_EQ(Open(4096, 0x10 | 0x02), 0);
    EXPECT_EQ(d.DriveDTR(false), 1);
    EXPECT_TRUE(d.DTRLevel.load());
    const std::vector<int> escapes = d.Escapes();
    EXPECT_EQ(std::count(escapes.begin(), escapes.end(), CLRDTR), 0);
    EXPECT_EQ(d.DriveRTS(false), 0);
    EXPECT_EQ(d.Escapes().back(), CLRRTS);
}

TEST_F(DispatcherTest, LineErrorsAreReportedMostUrgentFirstAndBreakSeparately)
{
    ASSERT_EQ(Open(), 0);
    d.InjectErrors(CE_FRAME | CE_OVERRUN | CE_BREAK);
    d.RefreshStatus();
    EXPECT_EQ(d.LineErrorCode(), 2);
    EXPECT_EQ(d.LineErrorCode(), 9);  // only the break remains
    EXPECT_TRUE(d.TakeBreak());
    EXPECT_FALSE(d.TakeBreak());
    EXPECT_EQ(d.LineErrorCode(), 0);
}

TEST_F(DispatcherTest, EachArrivalOfBytesIsAnnouncedOnce)
{
    ASSERT_EQ(Open(), 0);
    std::mutex lock;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> seen;
    d.AddProcHandler([&](std::uint16_t msg, std::uint16_t trigger, std::int32_t) {
        std::lock_guard guard(lock);
        seen.emplace_back(msg, trigger);
    });
    d.SetAvailThreshold(1);
    auto count = [&] {
        std::lock_guard guard(lock);
        return seen.size();
    };

    d.Feed("abc");
    ASSERT_TRUE(WaitFor([&] { return count() == 1; }));
    Idle(250);  // several rounds without new bytes
    ASSERT_EQ(count(), 1u);
    d.Feed("de");
    ASSERT_TRUE(WaitFor([&] { return count() == 2; }));
    std::lock_guard guard(lock);
    EXPECT_EQ(seen[0], std::make_pair(NotifyAvail, std::uint16_t{3}));
    EXPECT_EQ(seen[1], std::make_pair(NotifyAvail, std::uint16_t{5}));  // nothing was taken
}

TEST_F(DispatcherTest, AHandlerTakesBytesDuringTheNotification)
{
    ASSERT_EQ(Open(), 0);
    std::mutex lock;
    std::string taken;
    d.AddProcHandler([&](std::uint16_t msg, std::uint16_t count, std::int32_t) {
        if (msg != NotifyAvail)
            return;
        std::vector<std::uint8_t> buffer(count);
        if (d.GetBlock(buffer.data(), count) == 0) {
            std::lock_guard guard(lock);
            taken.append(buffer.begin(), buffer.end());
        }
    });
    d.SetAvailThreshold(1);
    d.Feed("hello");
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard guard(lock);
        return taken == "hello";
    }));
    EXPECT_TRUE(WaitFor([&] { return d.InputUsed() == 0; }));
    std::uint8_t byte = 0;
    EXPECT_EQ(d.GetBlock(&byte, 1), -3005);
}

TEST_F(DispatcherTest, WithoutAReaderTheInputRingFillsAndStops)
{
    ASSERT_EQ(Open(), 0);
    d.Feed(std::string(10000, 'x'));
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == TBaseDispatcher::InRingSize; }));
    Idle(150);
    EXPECT_EQ(d.InputUsed(), TBaseDispatcher::InRingSize);
    TLineStatus status;
    d.DeviceStatus(status);
    EXPECT_EQ(status.cbInQue, 10000u - TBaseDispatcher::InRingSize);
    EXPECT_EQ(d.FlushInput(), 0);
    EXPECT_EQ(d.InputUsed(), 0u);
}

TEST_F(DispatcherTest, RoundsRunWithoutLineEvents)
{
    ASSERT_EQ(Open(), 0);
    std::atomic<int> timers{0};
    d.AddProcHandler([&](std::uint16_t msg, std::uint16_t, std::int32_t) {
        if (msg == NotifyTimer)
            ++timers;
    });
    const int handle = d.AddTimerTrigger(0);
    ASSERT_GT(handle, 0);
    ASSERT_EQ(d.SetTimerTrigger(static_cast<std::uint16_t>(handle), 100, true), 0);
    EXPECT_TRUE(WaitFor([&] { return timers.load() == 1; }));
    EXPECT_EQ(d.SetTimerTrigger(0x7FF8, 1, true), -5003);
}

TEST_F(DispatcherTest, StatusTriggerReportsOutputSent)
{
    ASSERT_EQ(Open(), 0);
    std::atomic<int> fired{0};
    std::atomic<int> handleSeen{0};
    d.AddProcHandler([&](std::uint16_t msg, std::uint16_t trigger, std::int32_t) {
        if (msg == NotifyStatus) {
            handleSeen = trigger;
            ++fired;
        }
    });
    const int handle = d.AddStatusTrigger(StatusOutSent);
    ASSERT_EQ(handle & 7, StatusOutSent);
    ASSERT_EQ(d.SetStatusTrigger(static_cast<std::uint16_t>(handle), 0, true), 0);
    Idle(150);
    EXPECT_EQ(fired.load(), 0);
    ASSERT_EQ(Write("REC\r\n"), 0);
    ASSERT_TRUE(WaitFor([&] { return fired.load() == 1; }));
    EXPECT_EQ(handleSeen.load(), handle);
}

TEST_F(DispatcherTest, TriggersSurviveACopyOutAndIn)
{
    ASSERT_EQ(Open(), 0);
    d.SetAvailThreshold(7);
    const int data = d.AddDataTrigger("OK\r\n", true);
    ASSERT_GT(data, 0);
    TTriggerSave save;
    d.CopyTriggersOut(save);
    ASSERT_EQ(d.RemoveTrigger(static_cast<std::uint16_t>(data)), 0);
    EXPECT_EQ(d.RemoveTrigger(static_cast<std::uint16_t>(data)), -5003);

    d.CopyTriggersIn(save);
    {
        std::lock_guard guard(d.GeneralLock);
        EXPECT_EQ(d.AvailThreshold, 7u);
        ASSERT_EQ(d.DataTriggers.size(), 1u);
        EXPECT_EQ(d.DataTriggers[0].Text, "OK\r\n");
    }
    EXPECT_NE(d.AddTimerTrigger(10), data);
}

TEST_F(DispatcherTest, ThreadsStartAndAllEndOnClose)
{
    ASSERT_EQ(Open(), 0);
    EXPECT_TRUE(d.ThreadsStarted.load());
    EXPECT_EQ(d.ActiveThreads.load(), 3);
    EXPECT_THROW(d.StartThreads(), Exception);
    try {
        d.StartThreads();
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), "Dispatcher already started");
    }
    d.CloseLine();
    EXPECT_EQ(d.ActiveThreads.load(), 0);
    EXPECT_FALSE(d.ThreadsStarted.load());
    EXPECT_EQ(d.CommWorker.load(), nullptr);
    EXPECT_EQ(d.DispatchWorker.load(), nullptr);
    EXPECT_EQ(d.OutputWorker.load(), nullptr);
}

TEST_F(DispatcherTest, ACloseDuringADeliveryFinishesWhenTheHandlerReturns)
{
    ASSERT_EQ(Open(), 0);
    std::atomic<bool> inHandler{false};
    std::atomic<bool> leave{false};
    d.AddProcHandler([&](std::uint16_t, std::uint16_t, std::int32_t) {
        inHandler = true;
        while (!leave.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    d.SetAvailThreshold(1);
    d.Feed("x");
    ASSERT_TRUE(WaitFor([&] { return inHandler.load(); }));

    d.CloseLine();
    EXPECT_TRUE(d.ClosePending.load());
    EXPECT_TRUE(d.ThreadsStarted.load());
    leave = true;
    EXPECT_TRUE(WaitFor([&] { return !d.ThreadsStarted.load(); }));
    EXPECT_EQ(d.ActiveThreads.load(), 0);
}

TEST(DispatcherTable, SlotsAreReusedAndTrimmed)
{
    const std::size_t before = TDispatcherTable::Instance().Size();
    auto first = std::make_unique<FakeDispatcher>();
    auto second = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(TDispatcherTable::Instance().At(first->TableIndex), first.get());
    const int firstIndex = first->TableIndex;
    first.reset();
    EXPECT_EQ(TDispatcherTable::Instance().At(firstIndex), nullptr);
    auto third = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(third->TableIndex, firstIndex);
    third.reset();
    second.reset();
    EXPECT_EQ(TDispatcherTable::Instance().Size(), before);
}

} // namespace
