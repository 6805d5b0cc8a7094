#include "serial/ComPort.h"
#include "serial/CrashStop.h"
#include "serial/SelectPort.h"
#include "serial/SerialErrors.h"
#include "serial/SystemErrors.h"
#include "tests/serial/SerialTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>

namespace {

// Runs call and checks that it raises exactly E with the given message.
template <typename E, typename Call>
void ExpectRaises(Call call, const std::string &message)
{
    try {
        call();
        ADD_FAILURE() << "nothing raised, expected: " << message;
    } catch (const E &error) {
        EXPECT_EQ(error.Message(), message);
    } catch (const std::exception &error) {
        ADD_FAILURE() << "wrong exception: " << error.what();
    }
}

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void Click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

QPushButton *Button(QDialog *dialog, const char *name) { return dialog->findChild<QPushButton *>(name); }

std::vector<std::string> Entries(TComSelectForm *form)
{
    std::vector<std::string> entries;
    for (int i = 0; i < form->PortsComboBox()->count(); ++i)
        entries.push_back(form->PortsComboBox()->itemText(i).toStdString());
    return entries;
}

void Choose(TComSelectForm *form, const QString &entry)
{
    form->PortsComboBox()->setCurrentIndex(form->PortsComboBox()->findText(entry));
    Click(Button(form, "OkBtn"));
}

// A device layer whose open fails with the given system error.
class RefusingDispatcher : public FakeDispatcher {
public:
    RefusingDispatcher(TCustomComPort *owner, int error) : FakeDispatcher(owner), error_(error) {}
    int DeviceOpen(const std::string &, std::uint32_t, std::uint32_t) override { return -1; }
    int LastSystemError() const override { return error_; }

private:
    int error_;
};

class ComPortTest : public ::testing::Test {
protected:
    ComPortTest() { port.setBaud(9600); }

    PortsDirectory ports;
    PtyPort pty{ports, 5};
    TComPort port;
};

TEST_F(ComPortTest, SendTextPutsTheBytesOnTheWireAt9600)
{
    port.setComNumber(5);
    port.SendText("REC1\r\n");
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.PortPhase(), ppOpen);
    EXPECT_EQ(pty.Read(6), "REC1\r\n");
    port.SendText("");
    port.SendText("REC\r\n");
    EXPECT_EQ(pty.Read(5), "REC\r\n");

    const termios line = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&line), B9600);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
}

TEST_F(ComPortTest, TheOpenLineIsRaw9600EightN1WithoutFlowControl)
{
    const termios cooked = pty.SlaveSettings();
    ASSERT_TRUE(cooked.c_lflag & ICANON);
    ASSERT_TRUE(cooked.c_oflag & OPOST);

    port.setComNumber(5);
    port.setOpen(true);
    const termios line = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&line), B9600);
    EXPECT_EQ(cfgetispeed(&line), B9600);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK | BRKINT), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);

    // Line ends cross unchanged both ways, and nothing is echoed back to the device.
    port.SendText("REC1\r\n");
    EXPECT_EQ(pty.Read(6), "REC1\r\n");
    pty.Write("OK\r\n");
    ASSERT_TRUE(WaitFor([&] { return port.Dispatcher()->InputUsed() == 4; }));
    std::uint8_t received[4] = {};
    ASSERT_EQ(port.Dispatcher()->GetBlock(received, 4), 0);
    EXPECT_EQ(std::string(received, received + 4), "OK\r\n");
    EXPECT_EQ(pty.Drain(), "");
}

TEST_F(ComPortTest, EveryCommandSentBeforeACloseReachesTheFarEnd)
{
    constexpr int kRounds = 500;
    port.setComNumber(5);
    std::string received;
    for (int round = 0; round < kRounds; ++round) {
        port.SendText("REC\r\n");
        port.setOpen(false);
        received += pty.Read(5, 1000);
    }
    received += pty.Drain();
    std::string expected;
    for (int round = 0; round < kRounds; ++round)
        expected += "REC\r\n";
    EXPECT_EQ(received.size(), expected.size()) << "commands lost: " << (expected.size() - received.size()) / 5.0;
    EXPECT_TRUE(received == expected);
}

TEST_F(ComPortTest, SendTextReturnsBeforeTheBytesLeave)
{
    FakeDispatcher *fake = nullptr;
    port.setDispatcherFactory([&](TCustomComPort &owner) {
        auto dispatcher = std::make_unique<FakeDispatcher>(&owner);
        dispatcher->HoldAfter(0);
        fake = dispatcher.get();
        return dispatcher;
    });
    port.setComNumber(5);
    port.SendText("REC1\r\n");
    ASSERT_NE(fake, nullptr);
    EXPECT_TRUE(fake->Writes().empty());
    EXPECT_EQ(fake->RingCount(), 6u);
    fake->Release();
    ASSERT_TRUE(WaitFor([&] { return fake->Writes().size() == 1; }));
    EXPECT_EQ(fake->Writes()[0], "REC1\r\n");
}

TEST_F(ComPortTest, AStringLongerThanTheFreeRoomRaisesAndQueuesNothing)
{
    FakeDispatcher *fake = nullptr;
    port.setDispatcherFactory([&](TCustomComPort &owner) {
        auto dispatcher = std::make_unique<FakeDispatcher>(&owner);
        dispatcher->HoldAfter(0);
        fake = dispatcher.get();
        return dispatcher;
    });
    port.setComNumber(5);
    port.setOutSize(16);
    port.SendText("0123456789");
    port.SendText("abcdef"); // exactly the room left
    ExpectRaises<EOutputBufferTooSmall>([&] { port.SendText("X"); }, "Output buffer too small for block");
    EXPECT_TRUE(port.Open());
    fake->Release();
    ASSERT_TRUE(WaitFor([&] { return fake->RingCount() == 0; }));
    EXPECT_EQ(Bytes(fake->Writes()), "0123456789abcdef");
}

TEST_F(ComPortTest, AnOutputRingWithoutRoomRefusesEveryCommandAsTooLong)
{
    port.setComNumber(5);
    port.setOutSize(0);
    ExpectRaises<EOutputBufferTooSmall>([&] { port.SendText("REC1\r\n"); }, "Output buffer too small for block");
    EXPECT_TRUE(port.Open());
    port.SendText("");
    EXPECT_EQ(pty.Drain(), "");
}

TEST_F(ComPortTest, AMissingPortRaisesBadIdAndIsRetriedWithoutADialog)
{
    ModalWatcher<TComSelectForm> watcher([](TComSelectForm *form) { form->done(TComSelectForm::mrAbort); });
    port.setComNumber(9);
    ExpectRaises<EBadId>([&] { port.SendText("REC1\r\n"); }, "ie_BadId - Specified comport doesn't exist");
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortPhase(), ppClosed);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.ComNumber(), 9);
    ExpectRaises<EBadId>([&] { port.SendText("REC1\r\n"); }, "ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(watcher.Shown, 0);
}

TEST_F(ComPortTest, APortHeldByAnotherProgramRaisesAlreadyOpen)
{
    PortHolder holder(pty.LinkPath);
    ASSERT_TRUE(holder.Holding());
    port.setComNumber(5);
    ExpectRaises<EAlreadyOpen>([&] { port.SendText("REC1\r\n"); }, "ie_Open - device already open");
    EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, ALockFileThatHoldsThePortIsNamed)
{
    RunningProcess other;
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    WriteText(lock, FormatText("%10d\n", static_cast<int>(other.Pid())));
    port.setComNumber(5);
    ExpectRaises<EAlreadyOpen>([&] { port.SendText("REC1\r\n"); }, "ie_Open - device already open: held by process "
                                                                       + std::to_string(other.Pid()) + " (" + lock
                                                                       + ")");
    EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, APortInAnotherProgramsExclusiveModeIsListedRefusedAndLeftInThatMode)
{
    PortHolder holder(pty.LinkPath, PortHolder::ByExclusiveMode);
    ASSERT_TRUE(holder.Holding());
    std::vector<std::string> listed;
    ModalWatcher<TComSelectForm> watcher([&](TComSelectForm *form) {
        listed = Entries(form);
        Choose(form, "COM5");
    });
    ExpectRaises<EAlreadyOpen>([&] { port.SendText("REC1\r\n"); }, "ie_Open - device already open");
    EXPECT_EQ(listed, std::vector<std::string>{"COM5"});
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(InExclusiveMode(pty.slave));
    EXPECT_EQ(pty.Drain(), "");
}

TEST_F(ComPortTest, OpenFailuresSayWhatIsWrong)
{
    struct Case {
        int systemError;
        std::string message;
    };
    const std::vector<Case> cases = {
        {SystemError::FileNotFound, "ie_BadId - Specified comport doesn't exist"},
        {SystemError::PathNotFound, "ie_BadId - Specified comport doesn't exist"},
        {SystemError::AccessDenied, "ie_Open - device already open"},
        {SystemError::InvalidAccess, "Permission denied: this user may not open the serial port (add the user to "
                                     "the dialout group and log in again)"},
        {SystemError::BadUnit, "Not a serial device"},
    };
    port.setComNumber(5);
    for (const Case &c : cases) {
        port.setDispatcherFactory(
            [&](TCustomComPort &owner) { return std::make_unique<RefusingDispatcher>(&owner, c.systemError); });
        try {
            port.SendText("REC1\r\n");
            ADD_FAILURE() << "nothing raised for " << c.systemError;
        } catch (const Exception &error) {
            EXPECT_EQ(error.Message(), c.message) << c.systemError;
            if (c.systemError == SystemError::InvalidAccess || c.systemError == SystemError::BadUnit) {
                const auto *io = dynamic_cast<const EInOutError *>(&error);
                ASSERT_NE(io, nullptr);
                EXPECT_EQ(io->ErrorCode, c.systemError);
            }
        }
        EXPECT_FALSE(port.Open());
    }
}

TEST_F(ComPortTest, APathThatIsNoSerialDeviceSaysSo)
{
    mkdir(ports.PortPath(7).c_str(), 0755);
    std::ofstream(ports.PortPath(8)) << "not a tty";
    for (std::uint16_t n : {7, 8}) {
        port.setComNumber(n);
        ExpectRaises<EInOutError>([&] { port.SendText("REC1\r\n"); }, "Not a serial device");
        EXPECT_FALSE(port.Open());
    }
}

TEST_F(ComPortTest, AMistypedPortsVariableIsReportedInsteadOfAnEmptyDialog)
{
    const std::string typo = ports.Path() + "/no-such-folder";
    setenv("TAMBLO_PORTS", typo.c_str(), 1);
    ModalWatcher<TComSelectForm> watcher([](TComSelectForm *form) { form->done(TComSelectForm::mrAbort); });
    const std::string message = "TAMBLO_PORTS does not name a directory: \"" + typo + "\"";
    ExpectRaises<EInOutError>([&] { port.SendText("REC1\r\n"); }, message);
    EXPECT_EQ(watcher.Shown, 0);
    EXPECT_EQ(port.ComNumber(), 0);
    port.setComNumber(1);
    ExpectRaises<EInOutError>([&] { port.SendText("REC1\r\n"); }, message);
    EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, AClosedPortWithoutAutoOpenRaisesNotOpen)
{
    ModalWatcher<TComSelectForm> watcher([](TComSelectForm *form) { form->done(TComSelectForm::mrAbort); });
    port.setAutoOpen(false);
    ExpectRaises<ECommNotOpen>([&] { port.SendText("REC1\r\n"); }, "ie_NOpen - device not open");
    EXPECT_EQ(watcher.Shown, 0);
    EXPECT_EQ(port.PendingLineError(), 0);
    EXPECT_FALSE(port.BreakReceived());
}

TEST_F(ComPortTest, NoPortNumberAndNoPromptRaisesNoPortSelected)
{
    port.setPromptForPort(false);
    ExpectRaises<ENoPortSelected>([&] { port.SendText("REC1\r\n"); },
                                  "The ComNumber property of the TComPort has not been set");
    EXPECT_EQ(port.ComNumber(), 0);
}

TEST_F(ComPortTest, TheDialogAsksOnFirstUseOnlyAndListsTheExistingPorts)
{
    PtyPort com1(ports, 1), com3(ports, 3), com12(ports, 12), com51(ports, 51);
    std::vector<std::string> listed;
    int selected = -1;
    ModalWatcher<TComSelectForm> watcher([&](TComSelectForm *form) {
        listed = Entries(form);
        selected = form->PortsComboBox()->currentIndex();
        Choose(form, "COM12");
    });
    port.SendText("REC2\r\n");
    EXPECT_EQ(watcher.Shown, 1);
    EXPECT_EQ(listed, (std::vector<std::string>{"COM1", "COM3", "COM5", "COM12"}));
    EXPECT_EQ(selected, 0);
    EXPECT_EQ(port.ComNumber(), 12);
    EXPECT_EQ(com12.Read(6), "REC2\r\n");

    port.SendText("REC\r\n");
    port.setOpen(false);
    port.SendText("ERASE\r\n");
    EXPECT_EQ(com12.Read(12), "REC\r\nERASE\r\n");
    EXPECT_EQ(watcher.Shown, 1);
}

TEST_F(ComPortTest, CancelRaisesNoPortSelectedAndTheNextCommandAsksAgain)
{
    ModalWatcher<TComSelectForm> watcher([](TComSelectForm *form) { Click(Button(form, "AbortBtn")); });
    ExpectRaises<ENoPortSelected>([&] { port.SendText("REC1\r\n"); },
                                  "The ComNumber property of the TComPort has not been set");
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_FALSE(port.Open());

    // Closing the dialog by its close box is a cancel as well.
    watcher.SetAction([](TComSelectForm *form) { form->close(); });
    ExpectRaises<ENoPortSelected>([&] { port.SendText("REC1\r\n"); },
                                  "The ComNumber property of the TComPort has not been set");

    watcher.SetAction([](TComSelectForm *form) { Choose(form, "COM5"); });
    port.SendText("REC1\r\n");
    EXPECT_EQ(watcher.Shown, 3);
    EXPECT_EQ(pty.Read(6), "REC1\r\n");
}

TEST_F(ComPortTest, AChosenPortThatFailsToOpenIsRetriedWithoutTheDialog)
{
    PortHolder holder(pty.LinkPath);
    ASSERT_TRUE(holder.Holding());
    ModalWatcher<TComSelectForm> watcher([](TComSelectForm *form) { Choose(form, "COM5"); });
    ExpectRaises<EAlreadyOpen>([&] { port.SendText("REC1\r\n"); }, "ie_Open - device already open");
    EXPECT_EQ(port.ComNumber(), 5);
    ExpectRaises<EAlreadyOpen>([&] { port.SendText("REC1\r\n"); }, "ie_Open - device already open");
    EXPECT_EQ(watcher.Shown, 1);
}

TEST_F(ComPortTest, FarEndThatStopsReadingHangsNeitherSendTextNorTheClose)
{
    port.setComNumber(5);
    const std::string block(1000, 'x');
    bool refused = false;
    for (int i = 0; i < 10000 && !refused; ++i) {
        try {
            port.SendText(block);
        } catch (const EOutputBufferTooSmall &) {
            refused = true;
        }
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(refused);
    port.setOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortPhase(), ppClosed);
}

TEST_F(ComPortTest, ACloseThatCannotDrainDropsOnlyWhatItGaveUpOn)
{
    port.setComNumber(5);
    port.setOpen(true);
    // The far end reads nothing: fill the line towards it until it takes no more.
    const int own = pty.slave;
    fcntl(own, F_SETFL, fcntl(own, F_GETFL) | O_NONBLOCK);
    const std::size_t filler = FillLine([own](const char *data, std::size_t count) { return write(own, data, count); });
    ASSERT_GT(filler, 0u);

    port.SendText("REC\r\n");
    Idle(100);
    ASSERT_EQ(port.Dispatcher()->OutputUsed(), 5u); // stuck in the ring

    const auto start = std::chrono::steady_clock::now();
    port.setOpen(false);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortPhase(), ppClosed);
    // The drain gives up after half a second without progress; far less than this bound.
    EXPECT_LT(took, std::chrono::seconds(10));

    // What the line had taken still arrives; only the command the close gave up on is gone.
    std::string arrived = pty.Read(filler);
    arrived += pty.Drain();
    EXPECT_EQ(arrived.size(), filler);
    EXPECT_EQ(arrived.find_first_not_of('f'), std::string::npos);
}

// An unplugged line is noticed when it happens, told once, and named in the next send; nothing
// hangs or crashes.
TEST_F(ComPortTest, FarEndThatHangsUpMidStreamIsToldAtOnceAndOnce)
{
    int told = 0;
    port.setOnLineGone([&](TCustomComPort *) { ++told; });
    port.setComNumber(5);
    port.SendText("REC1\r\n");
    EXPECT_EQ(pty.Read(6), "REC1\r\n");
    EXPECT_FALSE(port.LineGone());
    pty.HangUp();
    ASSERT_TRUE(WaitFor([&] { return told == 1; }, 5000));
    EXPECT_TRUE(port.LineGone());
    EXPECT_EQ(port.WaitSent(1000), TComPort::SendState::LineGone);
    ExpectRaises<ELineGone>([&] { port.SendText(std::string(100, 'y')); },
                            "The recorder on COM5 was disconnected (the serial line hung up): the command did not "
                            "reach it, and it may still be recording");
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortPhase(), ppClosed);
    Idle(100);
    EXPECT_EQ(told, 1);
    // The pseudo-terminal is gone for good: the next command says so and the program goes on.
    ExpectRaises<EBadId>([&] { port.SendText("REC\r\n"); }, "ie_BadId - Specified comport doesn't exist");
}

TEST_F(ComPortTest, AllThreadsEndWhenThePortCloses)
{
    port.setComNumber(5);
    ASSERT_EQ(SerialThreadCount(), 0);
    port.setOpen(true);
    EXPECT_EQ(port.Dispatcher()->ActiveThreadCount(), 3);
    EXPECT_EQ(SerialThreadCount(), 3);
    int closes = 0;
    port.setOnPortClose([&](TCustomComPort *) { ++closes; });
    port.ClosePort();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(SerialThreadCount(), 0);
}

TEST_F(ComPortTest, ANewComNumberOnAnOpenPortReopensThere)
{
    PtyPort com6(ports, 6);
    std::vector<std::string> events;
    port.setOnPortOpen([&](TCustomComPort *p) { events.push_back("open " + std::to_string(p->ComNumber())); });
    port.setOnPortClose([&](TCustomComPort *p) { events.push_back("close " + std::to_string(p->ComNumber())); });
    port.setComNumber(5);
    port.setComNumber(5);
    port.SendText("REC1\r\n");
    port.setComNumber(6);
    port.SendText("REC\r\n");
    EXPECT_EQ(pty.Read(6), "REC1\r\n");
    EXPECT_EQ(com6.Read(5), "REC\r\n");
    EXPECT_EQ(events, (std::vector<std::string>{"open 5", "close 5", "open 6"}));
    port.setOnPortClose(nullptr);
}

TEST_F(ComPortTest, LineSettingsApplyToAnOpenPortOnly)
{
    port.setComNumber(5);
    port.setBaud(19200);
    EXPECT_FALSE(port.Open());
    port.setOpen(true);
    const termios opened = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&opened), B19200);
    port.SendText("ERASE\r\n");
    port.setBaud(2400);
    port.setStopBits(2);
    EXPECT_EQ(pty.Read(7), "ERASE\r\n");
    const termios line = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&line), B2400);
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    // A pseudo-terminal cannot take 7 data bits: the refusal is the driver's error.
    EXPECT_THROW(port.setDataBits(7), EInOutError);
}

TEST_F(ComPortTest, EachArrivalIsNotifiedOnceOnTheMainThread)
{
    std::vector<std::uint16_t> counts;
    std::vector<std::uint16_t> triggers;
    port.setOnTriggerAvail([&](TCustomComPort *, std::uint16_t count) { counts.push_back(count); });
    port.setOnTrigger(
        [&](TCustomComPort *, std::uint16_t msg, std::uint16_t, std::uint16_t) { triggers.push_back(msg); });
    port.setComNumber(5);
    port.setOpen(true);
    pty.Write("abc");
    ASSERT_TRUE(WaitFor([&] { return counts.size() == 1; }));
    Idle(200);
    pty.Write("de");
    ASSERT_TRUE(WaitFor([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts, (std::vector<std::uint16_t>{3, 5}));
    EXPECT_EQ(triggers, (std::vector<std::uint16_t>{NotifyAvail, NotifyAvail}));
}

TEST_F(ComPortTest, AHandlerThatClosesThePortFinishesTheCloseAfterwards)
{
    ASSERT_EQ(SerialThreadCount(), 0);
    int closes = 0;
    port.setOnPortClose([&](TCustomComPort *) { ++closes; });
    port.setOnTriggerAvail([&](TCustomComPort *p, std::uint16_t) {
        p->setOpen(false);
        EXPECT_EQ(p->PortPhase(), ppShuttingDown);
        p->SendText("ignored\r\n");
    });
    port.setComNumber(5);
    port.setOpen(true);
    pty.Write("x");
    ASSERT_TRUE(WaitFor([&] { return port.PortPhase() == ppClosed; }));
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(pty.Drain(), "");
    EXPECT_TRUE(WaitFor([&] { return SerialThreadCount() == 0; }));

    port.setOnTriggerAvail(nullptr);
    port.setOnPortClose(nullptr);
    port.SendText("REC\r\n");
    EXPECT_EQ(pty.Read(5), "REC\r\n");
}

TEST_F(ComPortTest, AReopenAskedForDuringADeferredCloseHappensAfterIt)
{
    int opens = 0;
    port.setOnPortOpen([&](TCustomComPort *) { ++opens; });
    port.setOnTriggerAvail([&](TCustomComPort *p, std::uint16_t) {
        p->setOnTriggerAvail(nullptr);
        p->setOpen(false);
        p->setOpen(true);
    });
    port.setComNumber(5);
    port.setOpen(true);
    pty.Write("x");
    ASSERT_TRUE(WaitFor([&] { return opens == 2 && port.PortPhase() == ppOpen; }));
    port.SendText("REC\r\n");
    EXPECT_EQ(pty.Read(5), "REC\r\n");
}

TEST_F(ComPortTest, TraceDumpShowsEachRunOfBytes)
{
    const std::string file = ports.Path() + "/SERIAL.TRC";
    port.setTraceName(file);
    port.setTracing(tlDump);
    EXPECT_EQ(port.Tracing(), tlOff);
    port.setTracing(tlOn);
    EXPECT_EQ(port.Tracing(), tlOn);
    port.setComNumber(5);
    port.SendText("REC1\r\n");
    pty.Write("OK 1\r\n");
    ASSERT_TRUE(WaitFor([&] { return port.Dispatcher()->InputUsed() == 6; }));
    port.SendText("REC\r\n");
    port.setTracing(tlDump);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(ReadFile(file), "COM5\nTransmit: \nREC10D0A\nReceive: \nOK201"
                              "0D0A\nTransmit: \nREC0D0A\n");

    port.setTraceHex(false);
    port.setTracing(tlOn);
    port.SendText("A B\x01");
    port.setTracing(tlPause);
    port.SendText("not traced");
    port.setTracing(tlAppend);
    EXPECT_EQ(ReadFile(file), "COM5\nTransmit: \nREC10D0A\nReceive: \nOK201"
                              "0D0A\nTransmit: \nREC0D0A\n"
                              "COM5\nTransmit: \nA B[1]\n");
}

TEST_F(ComPortTest, LogDumpListsTheEvents)
{
    const std::string file = ports.Path() + "/SERIAL.LOG";
    port.setLogName(file);
    port.setLogging(tlOn);
    port.setComNumber(5);
    port.SendText("REC1\r\n");
    port.setOpen(false); // a running log is written at the close
    const std::string log = ReadFile(file);
    EXPECT_EQ(log.rfind("Serial link event log\nCOM5\nTime (ms)  Kind  Detail  Data\n", 0), 0u) << log;
    EXPECT_NE(log.find("  Write  Data written  6  REC10D0A\n"), std::string::npos) << log;
    EXPECT_EQ(port.Logging(), tlOff);
}

TEST_F(ComPortTest, DumpsRefuseToWriteThroughALink)
{
    const std::string target = ports.Path() + "/precious.txt";
    std::ofstream(target) << "keep me";
    const std::string traceLink = ports.Path() + "/SERIAL.TRC";
    const std::string logLink = ports.Path() + "/SERIAL.LOG";
    ASSERT_EQ(symlink(target.c_str(), traceLink.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), logLink.c_str()), 0);
    port.setTraceName(traceLink);
    port.setLogName(logLink);
    port.setComNumber(5);
    port.setTracing(tlOn);
    port.setLogging(tlOn);
    port.SendText("REC1\r\n");
    ExpectRaises<EInOutError>([&] { port.setTracing(tlDump); }, "File access denied");
    port.setTracing(tlOn);
    ExpectRaises<EInOutError>([&] { port.setTracing(tlAppend); }, "File access denied");
    ExpectRaises<EInOutError>([&] { port.setLogging(tlDump); }, "File access denied");
    EXPECT_EQ(ReadFile(target), "keep me");
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(port.Logging(), tlOff);
}

TEST_F(ComPortTest, AnUnwritableTraceStillLetsThePortClose)
{
    port.setTraceName(ports.Path() + "/no/such/dir/SERIAL.TRC");
    port.setTracing(tlOn);
    port.setComNumber(5);
    port.SendText("REC1\r\n");
    EXPECT_THROW(port.setOpen(false), EInOutError);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortPhase(), ppClosed);
}

TEST_F(ComPortTest, FlowControlThresholdsDeriveFromInSize)
{
    port.setHWFlowOptions({hwfUseRTS});
    EXPECT_EQ(port.BufferFull(), 3686);
    EXPECT_EQ(port.BufferResume(), 409);
    TComPort other;
    other.setSWFlowOptions(swfBoth);
    EXPECT_EQ(other.BufferFull(), 3072);
    EXPECT_EQ(other.BufferResume(), 1024);

    port.setRS485Mode(true);
    EXPECT_FALSE(port.HWFlowOptions().Contains(hwfUseRTS));
    EXPECT_FALSE(port.RTS());
    port.setBufferFull(5000);
    EXPECT_EQ(port.BufferFull(), 4500);
    port.setBufferResume(4000);
    EXPECT_EQ(port.BufferResume(), 4000);
    port.setBufferResume(4600);
    EXPECT_EQ(port.BufferResume(), 450);
}

TEST_F(ComPortTest, FlowSettingsReachTheOpenPort)
{
    port.setComNumber(5);
    port.setSWFlowOptions(swfTransmit);
    port.setXOnChar('A');
    port.setOpen(true);
    termios line = pty.SlaveSettings();
    EXPECT_TRUE(line.c_iflag & IXON);
    EXPECT_EQ(line.c_cc[VSTART], 'A');
    port.setSWFlowOptions(swfNone);
    line = pty.SlaveSettings();
    EXPECT_FALSE(line.c_iflag & IXON);

    ExpectRaises<EBadArgument>(
        [&] {
            port.setBufferResume(90);
            port.setBufferFull(50);
        },
        "Bad argument passed to function");
}

TEST_F(ComPortTest, FixedPropertiesAndDefaults)
{
    EXPECT_EQ(port.Version().toStdString(), "v1.00");
    port.setVersion("v9");
    EXPECT_EQ(port.Version().toStdString(), "v1.00");
    port.setUseMSRShadow(false);
    EXPECT_TRUE(port.UseMSRShadow());
    port.setDeviceLayer(dlWinsock);
    EXPECT_EQ(port.DeviceLayer(), dlWin32);
    port.setTraceSize(5'000'000);
    EXPECT_EQ(port.TraceSize(), 4'000'000u);
    port.setLogSize(20'000'000);
    EXPECT_EQ(port.LogSize(), 16'000'000u);
    port.setTracing(tlPause);
    EXPECT_EQ(port.Tracing(), tlOff);

    TComPort fresh;
    EXPECT_EQ(fresh.Baud(), 19200);
    EXPECT_EQ(fresh.InSize(), 4096);
    EXPECT_EQ(fresh.OutSize(), 4096);
    EXPECT_EQ(fresh.TraceName(), "SERIAL.TRC");
    EXPECT_EQ(fresh.LogName(), "SERIAL.LOG");
    EXPECT_EQ(fresh.XOnChar(), 17);
    EXPECT_EQ(fresh.XOffChar(), 19);
    EXPECT_TRUE(fresh.DTR());
    EXPECT_TRUE(fresh.RTS());
    EXPECT_EQ(fresh.property("Baud").toInt(), 19200);
}

TEST_F(ComPortTest, EveryPublishedSettingCanComeFromAStoredDescription)
{
    for (const char *name : {"DeviceLayer", "ComNumber",     "Baud",          "PromptForPort",
                             "Parity",      "DataBits",      "StopBits",      "InSize",
                             "OutSize",     "AutoOpen",      "Open",          "DTR",
                             "RTS",         "HWFlowOptions", "SWFlowOptions", "XOnChar",
                             "XOffChar",    "BufferFull",    "BufferResume",  "Tracing",
                             "TraceSize",   "TraceName",     "TraceHex",      "TraceAllHex",
                             "Logging",     "LogSize",       "LogName",       "LogHex",
                             "LogAllHex",   "UseMSRShadow",  "UseEventWord",  "CommNotificationLevel",
                             "TapiMode",    "RS485Mode"})
        EXPECT_TRUE(port.metaObject()->property(port.metaObject()->indexOfProperty(name)).isWritable()) << name;

    // As a form description gives them: texts for sets and names, numbers for characters.
    EXPECT_TRUE(port.setProperty("HWFlowOptions", QStringLiteral("hwfUseDTR|hwfRequireDSR")));
    EXPECT_EQ(port.HWFlowOptions(), (THWFlowOptionSet{hwfUseDTR, hwfRequireDSR}));
    EXPECT_EQ(port.BufferFull(), 3686); // the setter ran
    EXPECT_EQ(port.property("HWFlowOptions").toString().toStdString(), "hwfUseDTR|hwfRequireDSR");
    EXPECT_TRUE(port.setProperty("HWFlowOptions", QStringLiteral("[hwfRequireCTS]")));
    EXPECT_EQ(port.HWFlowOptions(), THWFlowOptionSet{hwfRequireCTS});
    EXPECT_TRUE(port.setProperty("HWFlowOptions", 2));
    EXPECT_EQ(port.HWFlowOptions(), THWFlowOptionSet{hwfUseRTS});
    EXPECT_FALSE(port.setProperty("HWFlowOptions", QStringLiteral("hwfUseRTS|hwfNoSuchOption")));
    EXPECT_EQ(port.HWFlowOptions(), THWFlowOptionSet{hwfUseRTS});
    EXPECT_TRUE(port.setProperty("HWFlowOptions", QString()));
    EXPECT_EQ(port.HWFlowOptions(), THWFlowOptionSet{});

    EXPECT_TRUE(port.setProperty("XOnChar", 65));
    EXPECT_TRUE(port.setProperty("XOffChar", 66));
    EXPECT_TRUE(port.setProperty("TraceName", QStringLiteral("line.trc")));
    EXPECT_TRUE(port.setProperty("LogName", QStringLiteral("line.log")));
    EXPECT_EQ(port.XOnChar(), 'A');
    EXPECT_EQ(port.XOffChar(), 'B');
    EXPECT_EQ(port.TraceName(), "line.trc");
    EXPECT_EQ(port.LogName(), "line.log");
    EXPECT_EQ(port.property("TraceName").toString().toStdString(), "line.trc");

    // They reach the line like any setting.
    port.setSWFlowOptions(swfTransmit);
    port.setComNumber(5);
    port.setOpen(true);
    EXPECT_EQ(pty.SlaveSettings().c_cc[VSTART], 'A');
    EXPECT_TRUE(port.setProperty("XOffChar", 67));
    EXPECT_EQ(pty.SlaveSettings().c_cc[VSTOP], 'C');
}

TEST_F(ComPortTest, APortSetOpenWhileLoadingOpensWhenLoadingEnds)
{
    std::unique_ptr<TComPort> loaded;
    {
        FormLoadingScope loading;
        loaded = std::make_unique<TComPort>();
    }
    loaded->setComNumber(5);
    loaded->setOpen(true);
    EXPECT_TRUE(loaded->Open());
    EXPECT_EQ(loaded->PortPhase(), ppClosed);
    loaded->FinishLoading();
    EXPECT_EQ(loaded->PortPhase(), ppOpen);
    loaded->SendText("REC2\r\n");
    EXPECT_EQ(pty.Read(6), "REC2\r\n");
}

TEST_F(ComPortTest, CopyFromTakesTheSettingsAndClosesTheTarget)
{
    TComPort source;
    source.setComNumber(5);
    source.setBaud(4800);
    source.setHWFlowOptions({hwfRequireCTS});
    source.setTraceName("copy.trc");
    port.setComNumber(5);
    port.setOpen(true);
    port.CopyFrom(source);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Baud(), 4800);
    EXPECT_TRUE(port.HWFlowOptions().Contains(hwfRequireCTS));
    EXPECT_EQ(port.TraceName(), "copy.trc");
    port.SendText("REC\r\n");
    const termios line = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&line), B4800);
}

TEST_F(ComPortTest, ADeviceHandedOverByATelephonyLineIsAdoptedWithItsSettings)
{
    port.setTapiMode(tmOn);
    ExpectRaises<ENotOpenedByTapi>([&] { port.setOpen(true); }, "Comport was not opened by Tapi");

    const int handle = open(pty.SlaveName.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GT(handle, 0);
    // The line hands the device over raw, at its own speed.
    termios line = pty.SlaveSettings();
    cfmakeraw(&line);
    cfsetspeed(&line, B4800);
    tcsetattr(pty.slave, TCSANOW, &line);
    port.setTapiHandle(static_cast<std::uint16_t>(handle));
    port.SendText("REC2\r\n");
    EXPECT_EQ(port.Baud(), 4800);
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_EQ(pty.Read(6), "REC2\r\n");
    port.setOpen(false);
}

TEST(ComSelectForm, HeldPortsAreListedAndMissingOnesAreNot)
{
    PortsDirectory ports;
    PtyPort free(ports, 2), held(ports, 4);
    PortHolder holder(held.LinkPath);
    ASSERT_TRUE(holder.Holding());
    EXPECT_TRUE(TComSelectForm::IsPortAvailable(2));
    EXPECT_TRUE(TComSelectForm::IsPortAvailable(4));
    EXPECT_FALSE(TComSelectForm::IsPortAvailable(3));
    EXPECT_FALSE(TComSelectForm::IsPortAvailable(0));
    // The probe holds a port only while it looks: the port opens afterwards.
    SerialDevice device;
    EXPECT_EQ(device.Open("\\\\.\\COM2"), 0);
}

TEST(ComSelectForm, LayoutCaptionsAndKeys)
{
    PortsDirectory ports;
    TComSelectForm form;
    EXPECT_EQ(form.windowTitle().toStdString(), "Select Port");
    EXPECT_EQ(form.size(), QSize(220, 131));
    EXPECT_EQ(form.findChild<QLabel *>("Label1")->text().toStdString(), "The configured serial port is not valid.");
    EXPECT_EQ(form.findChild<QLabel *>("Label2")->text().toStdString(), "Please choose another port.");
    EXPECT_EQ(Button(&form, "OkBtn")->text().toStdString(), "OK");
    EXPECT_EQ(Button(&form, "AbortBtn")->text().toStdString(), "Cancel");
    EXPECT_EQ(Button(&form, "OkBtn")->geometry(), QRect(8, 95, 85, 27));
    EXPECT_EQ(Button(&form, "AbortBtn")->geometry(), QRect(124, 95, 85, 27));
    EXPECT_EQ(form.PortsComboBox()->geometry().topLeft(), QPoint(8, 64));
    EXPECT_EQ(form.PortsComboBox()->count(), 0);
    EXPECT_EQ(form.PortsComboBox()->currentIndex(), -1);

    // Escape closes nothing; Enter presses OK, which with no port cannot convert.
    int result = -1;
    QTimer::singleShot(0, &form, [&] {
        QTest::keyClick(&form, Qt::Key_Escape);
        EXPECT_TRUE(form.isVisible());
        QTest::keyClick(&form, Qt::Key_Return);
    });
    result = form.ShowModal();
    EXPECT_EQ(result, TComSelectForm::mrOk);
    ExpectRaises<EConvertError>([&] { form.SelectedComNumber(); }, "'' is not a valid integer value");
}

TEST(ComSelectForm, EachLabelShowsItsWholeText)
{
    PortsDirectory ports;
    TComSelectForm form;
    for (const char *name : {"Label1", "Label2"}) {
        const QLabel *label = form.findChild<QLabel *>(name);
        ASSERT_NE(label, nullptr);
        // The font asked for is really there, not replaced by a wider one.
        EXPECT_EQ(QFontInfo(label->font()).family().toStdString(), label->font().family().toStdString()) << name;
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width()) << name;
        EXPECT_LE(metrics.height(), label->height()) << name;
    }
}

TEST(ComSelectForm, OkWithoutAnyPortLeavesThePortClosed)
{
    PortsDirectory ports;
    TComPort port;
    ModalWatcher<TComSelectForm> watcher([](TComSelectForm *form) { Click(Button(form, "OkBtn")); });
    ExpectRaises<EConvertError>([&] { port.SendText("REC1\r\n"); }, "'' is not a valid integer value");
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_FALSE(port.Open());
}

} // namespace

namespace {

// A program that dies of a fault tells the device its last words: the child opens the port,
// starts a recording and dies; the far end hears the stop after the start.
TEST_F(ComPortTest, AFaultWritesTheCrashTextBeforeTheProgramDies)
{
    static volatile int dividend = 7;
    static volatile int zero = 0;
    const std::vector<std::pair<int, void (*)()>> faults = {
        {SIGSEGV, [] { *static_cast<volatile int *>(nullptr) = 1; }},
        {SIGFPE, [] { dividend = dividend / zero; }},
        {SIGABRT, [] { std::abort(); }},
        {SIGBUS, [] { raise(SIGBUS); }},
        {SIGILL, [] { __builtin_trap(); }},
        {SIGTRAP, [] { raise(SIGTRAP); }},
        {SIGSYS, [] { raise(SIGSYS); }},
        {SIGXCPU, [] { raise(SIGXCPU); }},
        {SIGXFSZ, [] { raise(SIGXFSZ); }},
    };
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer takes the faults for its own report; an abort it leaves to the program.
    constexpr bool kFaultsToTheSanitizer = true;
#else
    constexpr bool kFaultsToTheSanitizer = false;
#endif
    for (const auto &[signalNumber, fault] : faults) {
        if (kFaultsToTheSanitizer && signalNumber != SIGABRT)
            continue;
        SCOPED_TRACE(signalNumber);
        const pid_t child = fork();
        if (child == 0) {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            port.setComNumber(5);
            port.SendText("REC1\r\n");
            port.setCrashText("REC\r\n");
            // The start has left before the fault.
            WaitFor([&] { return port.Dispatcher()->OutputUsed() == 0; }, 5000);
            fault();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signalNumber);
        EXPECT_EQ(pty.Drain(), "REC1\r\nREC\r\n");
    }
    // A closed port or an empty text leaves nothing behind to write.
    port.setComNumber(5);
    port.setCrashText("REC\r\n");
    port.SendText("REC1\r\n");
    port.setCrashText("");
    const pid_t child = fork();
    if (child == 0)
        std::abort();
    waitpid(child, nullptr, 0);
    EXPECT_EQ(pty.Drain(), "REC1\r\n");
    EXPECT_THROW(port.setCrashText(std::string(CrashStop::MaxText + 1, 'x')), EBadArgument);
}

} // namespace

namespace {

// What left the port, what the line stopped taking, and what the close then dropped.
TEST_F(ComPortTest, WaitSentTellsWhetherTheBytesLeftAndTheCloseWhatItDropped)
{
    port.setComNumber(5);
    EXPECT_EQ(port.WaitSent(0), TComPort::SendState::Delivered);
    port.SendText("REC1\r\n");
    // The last bytes may still be shifting out of the UART when the driver's queue is empty:
    // "REC1\r\n" lasts 6.25 ms on the wire at 9600 baud.
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(port.WaitSent(5000), TComPort::SendState::Delivered);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::microseconds(6250));
    EXPECT_EQ(pty.Read(6), "REC1\r\n");
    EXPECT_EQ(port.WaitSent(0), TComPort::SendState::Delivered);

    // A far end that stopped the flow (a stuck adapter or bridge) takes nothing.
    ASSERT_EQ(tcflow(pty.slave, TCOOFF), 0);
    port.SendText("REC\r\n");
    EXPECT_EQ(port.WaitSent(200), TComPort::SendState::Pending);
    port.ClosePort();
    EXPECT_EQ(port.BytesPurgedAtClose(), 5u);
    tcflow(pty.slave, TCOON);
    EXPECT_EQ(pty.Drain(), "");

    port.SendText("REC\r\n");
    port.ClosePort();
    EXPECT_EQ(port.BytesPurgedAtClose(), 0u);
    EXPECT_EQ(pty.Read(5), "REC\r\n");
}

} // namespace
