#include "base/Exception.h"
#include "serial/ComPort.h"
#include "serial/DispatcherTable.h"
#include "serial/SystemErrors.h"
#include "tests/serial/SerialTestSupport.h"

#include <gtest/gtest.h>

namespace {

const std::uint8_t *Data(const std::string &text) { return reinterpret_cast<const std::uint8_t *>(text.data()); }

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
    EXPECT_EQ(Write("x"), SerialResult::OutputBufferTooSmall);
    EXPECT_EQ(d.OutputUsed(), 16u);

    d.Release();
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    EXPECT_EQ(Bytes(d.Writes()), "0123456789abcdef");
}

TEST_F(DispatcherTest, ARingWithoutRoomRefusesEveryWriteUntilTheClose)
{
    ASSERT_EQ(Open(0), 0);
    EXPECT_EQ(Write("x"), SerialResult::OutputBufferTooSmall);
    EXPECT_EQ(Write(""), 0);
    d.CloseLine();
    EXPECT_EQ(Write("x"), SerialResult::CommNotOpen);
}

TEST_F(DispatcherTest, MoreThanTheFreeRoomQueuesNothing)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(0);
    ASSERT_EQ(Write("0123456789"), 0);
    EXPECT_EQ(Write("ABCDEFG"), SerialResult::OutputBufferTooSmall);
    EXPECT_EQ(Write("ABCDEF"), 0);
    d.Release();
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    EXPECT_EQ(Bytes(d.Writes()), "0123456789ABCDEF");
}

TEST_F(DispatcherTest, AWrappedRingLeavesInOrderInOneWrite)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(1, 8);
    ASSERT_EQ(Write("01234567"
                    "89AB"),
              0);
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
    ASSERT_EQ(Write("01234567"
                    "89AB"),
              0);
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
    EXPECT_EQ(d.ActiveThreadCount(), 0);
}

TEST_F(DispatcherTest, ChangeLineWithTheCurrentValuesTouchesNothing)
{
    ASSERT_EQ(Open(), 0);
    const int before = d.StateWrites();
    EXPECT_EQ(d.ChangeLine(9600, 0, 8, 1), 0);
    EXPECT_EQ(d.ChangeLine(0, 5, 9, 3), 0);    // every item kept
    EXPECT_EQ(d.ChangeLine(9600, 0, 8, 0), 0); // stop bits 0 count as 1
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
    EXPECT_EQ(d.ChangeLine(0xFF16, 0, 8, 2), 0); // a legacy baud code
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
    // The wanted level stayed high: without the handshake RTS is enabled again.
    EXPECT_EQ(d.SetHardwareFlow(3686, 409, 0), 0);
    EXPECT_EQ(d.State().fRtsControl, RTS_CONTROL_ENABLE);

    EXPECT_EQ(d.SetHardwareFlow(100, 200, 1), SerialResult::BadArgument);
    EXPECT_EQ(d.SetHardwareFlow(5000, 200, 1), SerialResult::BadArgument);
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
    const std::vector<int> escapes = d.Escapes();
    EXPECT_EQ(std::count(escapes.begin(), escapes.end(), CLRDTR), 0);
    EXPECT_EQ(d.DriveRTS(false), 0);
    EXPECT_EQ(d.Escapes().back(), CLRRTS);
    // The wanted level stayed high: without the handshake DTR is enabled again.
    EXPECT_EQ(d.SetHardwareFlow(0, 0, 0), 0);
    EXPECT_EQ(d.State().fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.State().fRtsControl, RTS_CONTROL_DISABLE);
}

TEST_F(DispatcherTest, LineErrorsAreReportedMostUrgentFirstAndBreakSeparately)
{
    ASSERT_EQ(Open(), 0);
    d.InjectErrors(CE_FRAME | CE_OVERRUN | CE_BREAK);
    d.RefreshStatus();
    EXPECT_EQ(d.LineErrorCode(), 2);
    EXPECT_EQ(d.LineErrorCode(), 9); // only the break remains
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
    Idle(250); // several rounds without new bytes
    ASSERT_EQ(count(), 1u);
    d.Feed("de");
    ASSERT_TRUE(WaitFor([&] { return count() == 2; }));
    std::lock_guard guard(lock);
    EXPECT_EQ(seen[0], std::make_pair(NotifyAvail, std::uint16_t{3}));
    EXPECT_EQ(seen[1], std::make_pair(NotifyAvail, std::uint16_t{5})); // nothing was taken
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
    EXPECT_EQ(d.GetBlock(&byte, 1), SerialResult::GetBlockFail);
}

TEST_F(DispatcherTest, WithoutAReaderTheInputRingFillsAndStops)
{
    ASSERT_EQ(Open(), 0);
    d.Feed(std::string(10000, 'x'));
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == TBaseDispatcher::InRingSize; }));
    Idle(150);
    EXPECT_EQ(d.InputUsed(), TBaseDispatcher::InRingSize);
    LineStatus status;
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
    EXPECT_EQ(d.SetTimerTrigger(0x7FF8, 1, true), SerialResult::BadTriggerHandle);
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
    TriggerSave save;
    d.CopyTriggersOut(save);
    ASSERT_EQ(d.RemoveTrigger(static_cast<std::uint16_t>(data)), 0);
    EXPECT_EQ(d.RemoveTrigger(static_cast<std::uint16_t>(data)), SerialResult::BadTriggerHandle);

    d.CopyTriggersIn(save);
    TriggerSave again;
    d.CopyTriggersOut(again);
    EXPECT_EQ(again.AvailThreshold, 7u);
    ASSERT_EQ(again.DataTriggers.size(), 1u);
    EXPECT_EQ(again.DataTriggers[0].Text, "OK\r\n");
    EXPECT_TRUE(again.DataTriggers[0].IgnoreCase);
    EXPECT_NE(d.AddTimerTrigger(10), data);
}

TEST_F(DispatcherTest, ThreadsStartAndAllEndOnClose)
{
    ASSERT_EQ(Open(), 0);
    EXPECT_TRUE(d.AreThreadsStarted());
    EXPECT_EQ(d.ActiveThreadCount(), 3);
    EXPECT_THROW(d.StartThreads(), Exception);
    try {
        d.StartThreads();
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), "Dispatcher already started");
    }
    d.CloseLine();
    // Each thread clears its reference before it counts itself out.
    EXPECT_EQ(d.ActiveThreadCount(), 0);
    EXPECT_FALSE(d.AreThreadsStarted());
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
    EXPECT_TRUE(d.IsDispatching());
    EXPECT_TRUE(d.AreThreadsStarted());
    leave = true;
    EXPECT_TRUE(WaitFor([&] { return !d.AreThreadsStarted(); }));
    EXPECT_EQ(d.ActiveThreadCount(), 0);
}

// --- Boundaries of the rings, the line and the triggers --------------------------------------

TEST_F(DispatcherTest, AWrappedRingCountsItsBytesAndFillsExactly)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(1, 8);
    ASSERT_EQ(Write("01234567"
                    "89AB"),
              0);
    ASSERT_TRUE(WaitFor([&] { return d.BlockedAttempts() > 0; }));
    // Four bytes wait at 8..11; eight more wrap around the end.
    ASSERT_EQ(Write("CDEFGHIJ"), 0);
    EXPECT_EQ(d.OutputUsed(), 12u);
    EXPECT_EQ(d.OutputFree(), 4u);
    EXPECT_EQ(Write("KLMNO"), SerialResult::OutputBufferTooSmall);
    EXPECT_EQ(Write("KLMN"), 0);
    EXPECT_EQ(d.OutputUsed(), 16u);

    d.Release();
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    Idle(100);
    EXPECT_EQ(Bytes(d.Writes()), "0123456789ABCDEFGHIJKLMN");
}

TEST_F(DispatcherTest, ARefusedChunkIsDroppedAndAGoneDeviceRefusesMore)
{
    ASSERT_EQ(Open(), 0);
    d.RefuseNextWrite(-SystemError::GenFailure);
    ASSERT_EQ(Write("lost"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
    ASSERT_EQ(Write("kept"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.Writes().size() == 1; }));
    Idle(100);
    EXPECT_EQ(d.Writes(), std::vector<std::string>{"kept"});
    EXPECT_FALSE(d.IsDeviceGone());

    d.RefuseNextWrite(-SystemError::FileNotFound);
    ASSERT_EQ(Write("unplugged"), 0);
    ASSERT_TRUE(WaitFor([&] { return d.IsDeviceGone(); }));
    EXPECT_EQ(Write("x"), SerialResult::PutBlockFail);
    EXPECT_EQ(d.Writes().size(), 1u);
}

TEST_F(DispatcherTest, EveryLineErrorBitHasItsCode)
{
    ASSERT_EQ(Open(), 0);
    const struct {
        std::uint32_t bits;
        int first;
        int second;
    } rows[] = {
        {CE_RXOVER, 1, 0},
        {CE_OVERRUN, 2, 0},
        {CE_RXPARITY, 3, 0},
        {CE_FRAME, 4, 0},
        // A break stays until it is taken.
        {CE_BREAK, 9, 9},
        // The most urgent error wins, and the others are cleared with it.
        {CE_RXOVER | CE_FRAME, 1, 0},
        {CE_OVERRUN | CE_RXPARITY, 2, 0},
        {CE_RXPARITY | CE_FRAME, 3, 0},
        {CE_FRAME | CE_BREAK, 4, 9},
        // Bits outside the five are no line errors.
        {0x20 | 0x100, 0, 0},
    };
    for (const auto &row : rows) {
        d.InjectErrors(row.bits);
        d.RefreshStatus();
        EXPECT_EQ(d.LineErrorCode(), row.first) << row.bits;
        EXPECT_EQ(d.LineErrorCode(), row.second) << row.bits;
        EXPECT_EQ(d.TakeBreak(), (row.bits & CE_BREAK) != 0) << row.bits;
        EXPECT_EQ(d.LineErrorCode(), 0) << row.bits;
    }
}

TEST_F(DispatcherTest, AWriteKeepsTheLineErrorsItSees)
{
    ASSERT_EQ(Open(), 0);
    d.InjectErrors(CE_RXPARITY);
    ASSERT_EQ(Write("x"), 0);
    EXPECT_EQ(d.LineErrorCode(), 3);
}

TEST_F(DispatcherTest, LegacyBaudCodesReadAsTheirRates)
{
    ASSERT_EQ(Open(), 0);
    // The slowest rate comes last: each change first waits for 18 characters at the old rate.
    const std::pair<std::uint32_t, std::uint32_t> rows[] = {
        {0xFEFF, 115200},
        {0xFF16, 9600},
        {0xFF27, 256000},
        // A code without a rate, and codes just outside the table, are rates themselves.
        {0xFF19, 0xFF19},
        {0xFF28, 0xFF28},
        {0xFF0F, 0xFF0F},
        {0xFF10, 110},
    };
    for (const auto &[code, rate] : rows) {
        ASSERT_EQ(d.ChangeLine(code, 0, 8, 1), 0);
        std::uint32_t baud = 0;
        int parity = 0, dataBits = 0, stopBits = 0;
        d.GetLineSettings(baud, parity, dataBits, stopBits);
        EXPECT_EQ(baud, rate) << std::hex << code;
    }
}

TEST_F(DispatcherTest, EachLineItemAloneChangesTheLine)
{
    ASSERT_EQ(Open(), 0);
    int writes = d.StateWrites();
    EXPECT_EQ(d.ChangeLine(9600, 2, 8, 1), 0);
    EXPECT_EQ(d.State().Parity, EVENPARITY);
    EXPECT_EQ(d.StateWrites(), ++writes);
    EXPECT_EQ(d.ChangeLine(9600, 2, 7, 1), 0);
    EXPECT_EQ(d.State().ByteSize, 7);
    EXPECT_EQ(d.StateWrites(), ++writes);

    // One and a half stop bits read as two.
    EXPECT_EQ(d.ChangeLine(9600, 2, 5, 1), 0);
    std::uint32_t baud = 0;
    int parity = 0, dataBits = 0, stopBits = 0;
    d.GetLineSettings(baud, parity, dataBits, stopBits);
    EXPECT_EQ(dataBits, 5);
    EXPECT_EQ(stopBits, 2);
}

TEST_F(DispatcherTest, FlowThresholdsAtTheirLimits)
{
    ASSERT_EQ(Open(), 0);
    // Full may equal the queue size and the resume level.
    EXPECT_EQ(d.SetHardwareFlow(4096, 4096, 0), 0);
    EXPECT_EQ(d.State().XoffLim, 0);
    EXPECT_EQ(d.State().XonLim, 4096);
    EXPECT_EQ(d.SetSoftwareFlow(4096, 4096, 2), 0);
    EXPECT_EQ(d.SetHardwareFlow(4097, 0, 0), SerialResult::BadArgument);
    EXPECT_EQ(d.SetSoftwareFlow(4097, 0, 2), SerialResult::BadArgument);
    EXPECT_EQ(d.SetHardwareFlow(10, 11, 0), SerialResult::BadArgument);
    EXPECT_EQ(d.SetSoftwareFlow(10, 11, 2), SerialResult::BadArgument);
}

// A distinct byte pattern, so that a misplaced byte shows.
std::string Pattern(std::size_t count, std::size_t from = 0)
{
    std::string bytes;
    for (std::size_t i = from; i < from + count; ++i)
        bytes.push_back(static_cast<char>(i * 7 % 251));
    return bytes;
}

std::string Take(FakeDispatcher &d, std::size_t count)
{
    std::string bytes(count, '\0');
    if (d.GetBlock(reinterpret_cast<std::uint8_t *>(bytes.data()), count) != 0)
        return "refused";
    return bytes;
}

TEST_F(DispatcherTest, TheInputRingWrapsAroundItsEnd)
{
    ASSERT_EQ(Open(), 0);
    d.Feed(Pattern(8000));
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 8000; }));
    EXPECT_EQ(Take(d, 8000), Pattern(8000));
    // The driver hands over at most 100 bytes per read, less than it says are waiting.
    d.ShortReads(100);
    d.Feed(Pattern(1000, 8000));
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 1000; }));
    EXPECT_EQ(Take(d, 1000), Pattern(1000, 8000));
    EXPECT_EQ(Take(d, 1), "refused");

    // From an empty ring whose indices stand mid-way, whole reads wrap it too.
    d.ShortReads(SIZE_MAX);
    d.Feed(Pattern(8000, 9000));
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 8000; }));
    EXPECT_EQ(Take(d, 8000), Pattern(8000, 9000));

    // A flush empties a ring that is neither empty nor full.
    d.Feed("xyz");
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 3; }));
    EXPECT_EQ(d.FlushInput(), 0);
    EXPECT_EQ(d.InputUsed(), 0u);
    d.Feed("q");
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 1; }));
    EXPECT_EQ(Take(d, 1), "q");
}

TEST_F(DispatcherTest, TakingFromAFullInputRingMakesRoomForMore)
{
    ASSERT_EQ(Open(), 0);
    d.Feed(Pattern(10000));
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == TBaseDispatcher::InRingSize; }));
    EXPECT_EQ(Take(d, 100), Pattern(100));
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == TBaseDispatcher::InRingSize; }));
    EXPECT_EQ(Take(d, TBaseDispatcher::InRingSize), Pattern(TBaseDispatcher::InRingSize, 100));
}

// Collects the notifications of a dispatcher, from the dispatch thread.
class NotificationLog {
public:
    explicit NotificationLog(FakeDispatcher &d)
    {
        d.AddProcHandler([this](std::uint16_t msg, std::uint16_t trigger, std::int32_t) {
            std::lock_guard guard(lock_);
            seen_.emplace_back(msg, trigger);
        });
    }
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Seen()
    {
        std::lock_guard guard(lock_);
        return seen_;
    }
    std::size_t Count(std::uint16_t msg)
    {
        const auto seen = Seen();
        return static_cast<std::size_t>(
            std::count_if(seen.begin(), seen.end(), [msg](const auto &s) { return s.first == msg; }));
    }

private:
    std::mutex lock_;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> seen_;
};

TEST_F(DispatcherTest, DataAvailableWaitsForItsThreshold)
{
    ASSERT_EQ(Open(), 0);
    NotificationLog log(d);
    d.SetAvailThreshold(4);
    d.Feed("abc");
    Idle(200);
    EXPECT_EQ(log.Count(NotifyAvail), 0u);
    d.Feed("d");
    ASSERT_TRUE(WaitFor([&] { return log.Count(NotifyAvail) == 1; }));
    EXPECT_EQ(log.Seen()[0], std::make_pair(NotifyAvail, std::uint16_t{4}));
}

TEST_F(DispatcherTest, EveryHandlerSeesTheSameBytesAndTheLargestTakeLeavesTheRing)
{
    ASSERT_EQ(Open(), 0);
    std::mutex lock;
    std::vector<std::string> taken;
    auto taker = [&](std::size_t count) {
        return [&, count](std::uint16_t msg, std::uint16_t, std::int32_t) {
            if (msg != NotifyAvail)
                return;
            const std::string bytes = Take(d, count);
            std::lock_guard guard(lock);
            taken.push_back(bytes);
        };
    };
    d.AddProcHandler(taker(5));
    d.AddProcHandler(taker(3));
    d.SetAvailThreshold(1);
    d.Feed("abcdefgh");
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 3; }));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(taken, (std::vector<std::string>{"abcde", "abc"}));
    }
    EXPECT_EQ(Take(d, 3), "fgh");
}

TEST_F(DispatcherTest, AHandlerReadingTwiceInOneNotificationGetsTheBytesThatFollow)
{
    ASSERT_EQ(Open(), 0);
    std::mutex lock;
    std::vector<std::string> taken;
    d.AddProcHandler([&](std::uint16_t msg, std::uint16_t, std::int32_t) {
        if (msg != NotifyAvail)
            return;
        const std::string first = Take(d, 2);
        const std::string second = Take(d, 2);
        std::lock_guard guard(lock);
        taken.push_back(first);
        taken.push_back(second);
    });
    d.SetAvailThreshold(1);
    d.Feed("abcdef");
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 2; }));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(taken, (std::vector<std::string>{"ab", "cd"}));
    }
    EXPECT_EQ(Take(d, 2), "ef");
}

TEST_F(DispatcherTest, AFlushDuringANotificationEmptiesTheRingWhenItEnds)
{
    ASSERT_EQ(Open(), 0);
    // The first handler takes two bytes, the second flushes the rest, once.
    std::atomic<int> calls{0};
    d.AddProcHandler([&](std::uint16_t msg, std::uint16_t, std::int32_t) {
        if (msg == NotifyAvail && calls.load() == 0 && Take(d, 2) == "ab")
            ++calls;
    });
    d.AddProcHandler([&](std::uint16_t msg, std::uint16_t, std::int32_t) {
        if (msg == NotifyAvail && calls.load() == 1 && d.FlushInput() == 0)
            ++calls;
    });
    d.SetAvailThreshold(1);
    d.Feed("abcdef");
    ASSERT_TRUE(WaitFor([&] { return calls.load() == 2; }));
    EXPECT_TRUE(WaitFor([&] { return d.InputUsed() == 0; }));
    Idle(100);
    EXPECT_EQ(d.InputUsed(), 0u);
    d.Feed("g");
    ASSERT_TRUE(WaitFor([&] { return d.InputUsed() == 1; }));
    EXPECT_EQ(Take(d, 1), "g");
}

TEST_F(DispatcherTest, ADataTriggerFindsItsTextAfterAFalseStart)
{
    ASSERT_EQ(Open(), 0);
    NotificationLog log(d);
    const int handle = d.AddDataTrigger("ab", false);
    ASSERT_GT(handle, 0);
    d.Feed("xaab");
    ASSERT_TRUE(WaitFor([&] { return log.Count(NotifyData) == 1; }));
    EXPECT_EQ(log.Seen()[0], std::make_pair(NotifyData, static_cast<std::uint16_t>(handle)));
    d.Feed("AB");
    Idle(150);
    EXPECT_EQ(log.Count(NotifyData), 1u);
}

TEST_F(DispatcherTest, AModemTriggerFiresOnAChangeOfItsLinesOnly)
{
    d.SetModemLines(MS_CTS_ON);
    ASSERT_EQ(Open(), 0);
    NotificationLog log(d);
    const int handle = d.AddStatusTrigger(StatusModem);
    ASSERT_EQ(d.SetStatusTrigger(static_cast<std::uint16_t>(handle), MS_CTS_ON, true), 0);
    // CTS is on, but has not changed; DSR changes, but is not watched.
    Idle(150);
    d.SetModemLines(MS_CTS_ON | MS_DSR_ON, EV_DSR);
    Idle(150);
    EXPECT_EQ(log.Count(NotifyStatus), 0u);
    d.SetModemLines(MS_DSR_ON, EV_CTS);
    ASSERT_TRUE(WaitFor([&] { return log.Count(NotifyStatus) == 1; }));
    EXPECT_EQ(log.Seen()[0].second, handle);
    // It fires once until it is set again.
    d.SetModemLines(MS_CTS_ON | MS_DSR_ON, EV_CTS);
    Idle(150);
    EXPECT_EQ(log.Count(NotifyStatus), 1u);
}

TEST_F(DispatcherTest, OutputTriggersFireAtTheirThresholds)
{
    ASSERT_EQ(Open(16), 0);
    d.HoldAfter(0);
    ASSERT_EQ(Write("REC1\r\n"), 0);
    NotificationLog log(d);
    const auto used = static_cast<std::uint16_t>(d.AddStatusTrigger(StatusOutbuffUsed));
    const auto free = static_cast<std::uint16_t>(d.AddStatusTrigger(StatusOutbuffFree));
    ASSERT_EQ(d.SetStatusTrigger(used, 7, true), 0);
    ASSERT_EQ(d.SetStatusTrigger(free, 11, true), 0);
    Idle(150);
    EXPECT_EQ(log.Count(NotifyStatus), 0u);
    ASSERT_EQ(d.SetStatusTrigger(used, 6, true), 0);
    ASSERT_EQ(d.SetStatusTrigger(free, 10, true), 0);
    ASSERT_TRUE(WaitFor([&] { return log.Count(NotifyStatus) == 2; }));
    d.Release();
}

TEST_F(DispatcherTest, TriggerLimits)
{
    ASSERT_EQ(Open(), 0);
    EXPECT_GT(d.AddDataTrigger(std::string(255, 'a'), false), 0);
    EXPECT_EQ(d.AddDataTrigger(std::string(256, 'a'), false), SerialResult::TriggerTooLong);
    EXPECT_EQ(d.AddDataTrigger("", false), SerialResult::BadArgument);
    EXPECT_EQ(d.AddStatusTrigger(0), SerialResult::BadArgument);
    EXPECT_EQ(d.AddStatusTrigger(StatusOutSent + 1), SerialResult::BadArgument);
    // Handles count up to 0x1FFF, shifted past the three bits of the status kind.
    int handles = 1;
    int last = 0;
    for (int handle; (handle = d.AddTimerTrigger(1000)) > 0; ++handles)
        last = handle;
    EXPECT_EQ(handles, 0x1FFF);
    EXPECT_EQ(last, 0x1FFF << 3);
    EXPECT_EQ(d.AddStatusTrigger(StatusModem), SerialResult::NoMoreTriggers);
    EXPECT_EQ(d.AddDataTrigger("OK", false), SerialResult::NoMoreTriggers);
}

TEST_F(DispatcherTest, TriggersBroughtIntoANewOpenWorkAndKeepTheirHandles)
{
    ASSERT_EQ(Open(), 0);
    const int data = d.AddDataTrigger("OK", false);
    ASSERT_GT(d.AddTimerTrigger(10), data);
    TriggerSave save;
    d.CopyTriggersOut(save);
    d.CloseLine();

    FakeDispatcher reopened;
    ASSERT_EQ(reopened.OpenLine("\\\\.\\COM1", 9600, 0, 8, 1, 4096, 4096, 0x03), 0);
    reopened.CopyTriggersIn(save);
    const int fresh = reopened.AddTimerTrigger(10);
    EXPECT_GT(fresh, 0);
    for (const TimerTrigger &trigger : save.TimerTriggers)
        EXPECT_NE(fresh, trigger.Handle);
    EXPECT_NE(fresh, data);
    NotificationLog log(reopened);
    reopened.Feed("OK");
    ASSERT_TRUE(WaitFor([&] { return log.Count(NotifyData) == 1; }));
    EXPECT_EQ(log.Seen()[0].second, data);
}

TEST(DispatcherTable, SlotsAreReusedAndTrimmed)
{
    const std::size_t before = DispatcherTable::Instance().Size();
    auto first = std::make_unique<FakeDispatcher>();
    auto second = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(DispatcherTable::Instance().At(first->IndexInTable()), first.get());
    const int firstIndex = first->IndexInTable();
    first.reset();
    EXPECT_EQ(DispatcherTable::Instance().At(firstIndex), nullptr);
    auto third = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(third->IndexInTable(), firstIndex);
    third.reset();
    second.reset();
    EXPECT_EQ(DispatcherTable::Instance().Size(), before);
}

TEST(DispatcherTable, FindsTheOwnerOfASlot)
{
    TComPort port;
    auto owned = std::make_unique<FakeDispatcher>(&port);
    auto probe = std::make_unique<FakeDispatcher>();
    DispatcherTable &table = DispatcherTable::Instance();
    EXPECT_EQ(table.OwnerAt(owned->IndexInTable()), &port);
    EXPECT_EQ(table.OwnerAt(probe->IndexInTable()), nullptr);
    EXPECT_EQ(table.OwnerAt(-1), nullptr);
    EXPECT_EQ(table.OwnerAt(static_cast<int>(table.Size())), nullptr);
    const int index = owned->IndexInTable();
    owned.reset();
    EXPECT_EQ(table.OwnerAt(index), nullptr);
}

} // namespace
