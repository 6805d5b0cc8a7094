#include "serial/SystemErrors.h"
#include "tests/serial/SerialTestSupport.h"

#include <fstream>
#include <future>
#include <gtest/gtest.h>

namespace {

TEST(PortNames, FixedTableWithoutAPortsDirectory)
{
    unsetenv("TAMBLO_PORTS");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM16"), "/dev/ttyS15");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM17"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM32"), "/dev/ttyUSB15");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM33"), "/dev/ttyACM0");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM48"), "/dev/ttyACM15");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM49"), "");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM0"), "");
    EXPECT_EQ(ResolvePortName("\\\\.\\COMx"), "");
    // A device path is no port number: it is opened as it is.
    EXPECT_EQ(ResolvePortName("/dev/ttyS0"), "/dev/ttyS0");
}

TEST(PortNames, APortsDirectoryTakesOverEveryNumber)
{
    PortsDirectory ports;
    EXPECT_EQ(ResolvePortName("\\\\.\\COM12"), ports.PortPath(12));
    EXPECT_EQ(ResolvePortName("\\\\.\\COM51"), ports.PortPath(51));
    setenv("TAMBLO_PORTS", "/nonexistent/directory", 1);
    EXPECT_EQ(ResolvePortName("\\\\.\\COM2"), "/dev/ttyS1");
}

class DeviceLayerTest : public ::testing::Test {
protected:
    PortsDirectory ports;
    PtyPort pty{ports, 5};
    TSerialDevice device;
};

TEST_F(DeviceLayerTest, BytesCrossTheLineUnchangedBothWays)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    const std::string sent = "REC1\r\n\n\r\x11\x13\x03\x7f";
    ASSERT_EQ(device.Write(sent.data(), sent.size()), static_cast<int>(sent.size()));
    EXPECT_EQ(pty.Read(sent.size()), sent);

    pty.Write("OK\r\n\x04");
    ASSERT_TRUE(WaitFor([&] {
        TLineStatus status;
        std::uint32_t errors = 0;
        return device.ClearError(status, errors) == 0 && status.cbInQue == 5;
    }));
    char buffer[16] = {};
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "OK\r\n\x04");
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 0);
}

TEST_F(DeviceLayerTest, APortIsHeldExclusively)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    TSerialDevice second;
    EXPECT_EQ(second.Open("\\\\.\\COM5"), SystemError::AccessDenied);
    EXPECT_EQ(second.LastError(), SystemError::AccessDenied);
    ASSERT_EQ(device.Close(), 0);
    EXPECT_EQ(second.Open("\\\\.\\COM5"), 0);
}

TEST_F(DeviceLayerTest, APortHeldByAnotherProcessIsAccessDenied)
{
    PortHolder holder(pty.LinkPath);
    ASSERT_TRUE(holder.Holding());
    EXPECT_EQ(device.Open("\\\\.\\COM5"), SystemError::AccessDenied);
}

TEST_F(DeviceLayerTest, MissingPortsAndFilesThatAreNoTtyDoNotExist)
{
    EXPECT_EQ(device.Open("\\\\.\\COM6"), SystemError::FileNotFound);
    std::ofstream(ports.PortPath(7)) << "not a tty";
    EXPECT_EQ(device.Open("\\\\.\\COM7"), SystemError::FileNotFound);
    EXPECT_FALSE(device.IsOpen());
}

// A pseudo-terminal keeps 8 data bits without parity whatever it is told, so those two are
// left out here.
TEST_F(DeviceLayerTest, LineSettingsReachTheTtyAndReadBack)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    TLineSettings line;
    ASSERT_EQ(device.GetState(line), 0);
    line.BaudRate = 19200;
    line.StopBits = TWOSTOPBITS;
    line.fOutX = true;
    line.XonChar = 'Q';
    line.fOutxDsrFlow = true;  // no tty flag for it: kept as set
    ASSERT_EQ(device.SetState(line), 0);

    const termios tty = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&tty), B19200);
    EXPECT_TRUE(tty.c_cflag & CSTOPB);
    EXPECT_TRUE(tty.c_iflag & IXON);
    EXPECT_FALSE(tty.c_iflag & IXOFF);
    EXPECT_EQ(tty.c_cc[VSTART], 'Q');
    EXPECT_FALSE(tty.c_oflag & OPOST);
    EXPECT_FALSE(tty.c_lflag & (ICANON | ECHO));

    TLineSettings back;
    ASSERT_EQ(device.GetState(back), 0);
    EXPECT_EQ(back.BaudRate, 19200u);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(back.fOutX);
    EXPECT_TRUE(back.fOutxDsrFlow);

    line.ByteSize = 9;
    EXPECT_EQ(device.SetState(line), SystemError::InvalidParameter);
}

TEST_F(DeviceLayerTest, ARateOutsideTheStandardTableIsSetExactly)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    TLineSettings line;
    ASSERT_EQ(device.GetState(line), 0);
    line.BaudRate = 14400;
    ASSERT_EQ(device.SetState(line), 0);
    TLineSettings back;
    ASSERT_EQ(device.GetState(back), 0);
    EXPECT_EQ(back.BaudRate, 14400u);
}

TEST_F(DeviceLayerTest, ClosingRestoresTheSettingsFoundAtOpen)
{
    const termios before = pty.SlaveSettings();
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    TLineSettings line;
    device.GetState(line);
    line.BaudRate = 1200;
    ASSERT_EQ(device.SetState(line), 0);
    ASSERT_EQ(device.Close(), 0);
    const termios after = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

TEST_F(DeviceLayerTest, ModemLineRequestsOnAPseudoTerminalChangeNothingAndFailNothing)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    EXPECT_FALSE(device.HasModemLines());
    EXPECT_EQ(device.Escape(SETDTR), 0);
    EXPECT_EQ(device.Escape(CLRRTS), 0);
    EXPECT_EQ(device.ModemStatus(), 0u);
    TLineSettings line;
    device.GetState(line);
    line.fDtrControl = DTR_CONTROL_DISABLE;
    EXPECT_EQ(device.SetState(line), 0);
}

TEST_F(DeviceLayerTest, AnEventWaitReportsEachArrivalOnceAndEndsOnAMaskChange)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    ASSERT_EQ(device.SetMask(EV_RXCHAR), 0);
    auto wait = [&] {
        return std::async(std::launch::async, [&] {
            std::uint32_t events = 0;
            const int result = device.WaitEvent(events);
            return std::make_pair(result, events);
        });
    };
    // The mask change itself ends the first wait; drain it.
    auto first = wait();
    ASSERT_EQ(first.get().first, 0);

    pty.Write("a");
    auto arrival = wait();
    ASSERT_EQ(arrival.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(arrival.get(), std::make_pair(0, EV_RXCHAR));

    // The byte stays unread: the next wait sleeps until something new happens.
    auto next = wait();
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    pty.Write("b");
    ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(next.get(), std::make_pair(0, EV_RXCHAR));

    auto stopped = wait();
    EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    device.SetMask(0);
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(stopped.get(), std::make_pair(0, 0u));
}

TEST_F(DeviceLayerTest, AFarEndThatHangsUpEndsTheWaitAndFailsWrites)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    ASSERT_EQ(device.SetMask(EV_RXCHAR), 0);
    std::uint32_t events = 0;
    ASSERT_EQ(device.WaitEvent(events), 0);  // the mask change
    auto waiting = std::async(std::launch::async, [&] {
        std::uint32_t seen = 0;
        return device.WaitEvent(seen);
    });
    pty.HangUp();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_NE(waiting.get(), 0);
    EXPECT_LT(device.Write("x", 1), 0);
    char byte;
    EXPECT_LE(device.Read(&byte, 1), 0);
    EXPECT_EQ(device.Close(), 0);
}

TEST_F(DeviceLayerTest, AFullDriverMakesWritesWaitUntilInterrupted)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    const std::string block(4096, 'x');
    int accepted = 0;
    for (int i = 0; i < 1000; ++i) {
        const int n = device.Write(block.data(), block.size());
        if (n == 0)
            break;
        ASSERT_GT(n, 0);
        accepted += n;
    }
    EXPECT_GT(accepted, 0);
    EXPECT_EQ(device.Write("y", 1), 0);

    // Waiting for room neither spins nor misses the interruption of a flush.
    TSyncEvent interrupt(TSyncEvent::AutoReset);
    std::atomic<int> turns{0};
    auto writer = std::async(std::launch::async, [&] {
        for (;;) {
            const int n = device.Write("y", 1);
            if (n < 0)
                return -1;
            if (n > 0)
                continue;
            ++turns;
            if (device.WaitWritable(interrupt) == 0)
                return 0;
        }
    });
    EXPECT_EQ(writer.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    interrupt.Set();
    ASSERT_EQ(writer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(writer.get(), 0);
    EXPECT_LT(turns.load(), 100);
}

TEST(SyncEvent, AutoAndManualReset)
{
    TSyncEvent automatic(TSyncEvent::AutoReset);
    TSyncEvent manual(TSyncEvent::ManualReset);
    EXPECT_FALSE(automatic.Wait(0));
    automatic.Set();
    automatic.Set();
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));

    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_EQ(TSyncEvent::WaitAny({&automatic, &manual}, 0), 1);
    manual.Reset();
    EXPECT_EQ(TSyncEvent::WaitAny({&automatic, &manual}, 20), -1);
}

} // namespace
