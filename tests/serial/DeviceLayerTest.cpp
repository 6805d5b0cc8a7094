#include "base/Exception.h"
#include "serial/PortLock.h"
#include "serial/SystemErrors.h"
#include "tests/serial/SerialTestSupport.h"

#include <QScopeGuard>
#include <dlfcn.h>
#include <fstream>
#include <functional>
#include <future>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/sysmacros.h>

namespace {

// Called with the descriptor before each flock(2) of this program.
std::function<void(int)> beforeFlock;

} // namespace

// Another program may act between the moment a lock file is opened and the moment it is locked:
// the test steps in there, through the program's own calls.
extern "C" int flock(int descriptor, int operation)
{
    static const auto real = reinterpret_cast<int (*)(int, int)>(dlsym(RTLD_NEXT, "flock"));
    if (beforeFlock)
        beforeFlock(descriptor);
    return real(descriptor, operation);
}

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
    EXPECT_EQ(CheckPortsDirectory(), 0);
    EXPECT_EQ(ResolvePortName("\\\\.\\COM12"), ports.PortPath(12));
    EXPECT_EQ(ResolvePortName("\\\\.\\COM51"), ports.PortPath(51));
}

// A mistyped TAMBLO_PORTS must not send commands to the machine's real ports.
TEST(PortNames, APortsVariableThatNamesNoDirectoryReachesNoPort)
{
    PortsDirectory ports;
    const std::string file = ports.Path() + "/not-a-directory";
    WriteText(file, "x");
    for (const std::string &value : {std::string("/nonexistent/directory"), file, std::string()}) {
        setenv("TAMBLO_PORTS", value.c_str(), 1);
        EXPECT_EQ(ResolvePortName("\\\\.\\COM2"), "") << value;
        EXPECT_EQ(CheckPortsDirectory(), SystemError::BadEnvironment) << value;
        SerialDevice device;
        EXPECT_EQ(device.Open("\\\\.\\COM1"), SystemError::BadEnvironment) << value;
        EXPECT_EQ(SystemErrorText(SystemError::BadEnvironment),
                  "TAMBLO_PORTS does not name a directory: \"" + value + "\"");
    }
}

class DeviceLayerTest : public ::testing::Test {
protected:
    PortsDirectory ports;
    PtyPort pty{ports, 5};
    SerialDevice device;
};

TEST_F(DeviceLayerTest, BytesCrossTheLineUnchangedBothWays)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    const std::string sent = "REC1\r\n\n\r\x11\x13\x03\x7f";
    ASSERT_EQ(device.Write(sent.data(), sent.size()), static_cast<int>(sent.size()));
    EXPECT_EQ(pty.Read(sent.size()), sent);

    pty.Write("OK\r\n\x04");
    ASSERT_TRUE(WaitFor([&] {
        LineStatus status;
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
    SerialDevice second;
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

// Root may open a tty in exclusive mode; the mode still means that another program uses it,
// and only the program that set it clears it.
TEST_F(DeviceLayerTest, AnotherProgramsExclusiveModeHoldsThePortAndStays)
{
    ASSERT_FALSE(InExclusiveMode(pty.slave));
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    EXPECT_TRUE(InExclusiveMode(pty.slave));
    ASSERT_EQ(device.Close(), 0);
    EXPECT_FALSE(InExclusiveMode(pty.slave));

    PortHolder holder(pty.LinkPath, PortHolder::ByExclusiveMode);
    ASSERT_TRUE(holder.Holding());
    ASSERT_TRUE(InExclusiveMode(pty.slave));
    EXPECT_EQ(device.Open("\\\\.\\COM5"), SystemError::AccessDenied);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_TRUE(InExclusiveMode(pty.slave));
}

TEST_F(DeviceLayerTest, ALockFileNamesTheDeviceAndLivesWhileThePortIsOpen)
{
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    EXPECT_EQ(ReadText(lock), FormatText("%10d\n", static_cast<int>(getpid())));
    SerialDevice second;
    EXPECT_EQ(second.Open("\\\\.\\COM5"), SystemError::AccessDenied);
    EXPECT_EQ(ReadText(lock), FormatText("%10d\n", static_cast<int>(getpid())));
    ASSERT_EQ(device.Close(), 0);
    EXPECT_NE(access(lock.c_str(), F_OK), 0);
}

TEST_F(DeviceLayerTest, ALockFileOfARunningProcessHoldsThePortAndAStaleOneIsTakenOver)
{
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    RunningProcess other;
    const std::string held = FormatText("%10d\n", static_cast<int>(other.Pid()));
    WriteText(lock, held);
    EXPECT_EQ(device.Open("\\\\.\\COM5"), SystemError::AccessDenied);
    EXPECT_EQ(ReadText(lock), held);

    WriteText(lock, FormatText("%10d\n", static_cast<int>(EndedProcess())));
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    EXPECT_EQ(ReadText(lock), FormatText("%10d\n", static_cast<int>(getpid())));
    ASSERT_EQ(device.Close(), 0);
    EXPECT_NE(access(lock.c_str(), F_OK), 0);
}

// A program that died with the port leaves the tty's exclusive mark behind on a line that a
// bridge keeps open; with no live holder in sight the port is taken and the mark cleared.
TEST_F(DeviceLayerTest, AnExclusiveMarkWithoutALiveHolderIsTakenOverAndClearedAtClose)
{
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    auto leaveMark = [&] {
        const pid_t child = fork();
        if (child == 0) {
            const int fd = open(pty.SlaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            _exit(fd >= 0 && ioctl(fd, TIOCEXCL) == 0 ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 && InExclusiveMode(pty.slave);
    };
    struct Case {
        const char *what;
        bool staleLock;
        bool bridge;
        int expected;
    };
    for (const Case &c :
         {Case{"its stale lock and a bridge", true, true, 0}, Case{"nobody else has the device open", false, false, 0},
          Case{"a live program has it open, no lock", false, true, SystemError::AccessDenied}}) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(leaveMark());
        if (c.staleLock)
            WriteText(lock, FormatText("%10d\n", static_cast<int>(EndedProcess())));
        // A child process has the test's own descriptors of the device as well.
        std::optional<PortHolder> bridge;
        if (c.bridge) {
            ASSERT_TRUE(bridge.emplace(pty.SlaveName, PortHolder::ByOpeningOnly).Holding());
        }
        EXPECT_EQ(device.Open("\\\\.\\COM5"), c.expected);
        if (c.expected == 0) {
            EXPECT_TRUE(InExclusiveMode(pty.slave));
            EXPECT_EQ(ReadText(lock), FormatText("%10d\n", static_cast<int>(getpid())));
            EXPECT_EQ(device.Close(), 0);
            EXPECT_FALSE(InExclusiveMode(pty.slave));
        } else {
            EXPECT_TRUE(InExclusiveMode(pty.slave));
            ioctl(pty.slave, TIOCNXCL);
        }
    }
}

// Lock files of other programs, whatever their age and form, under the device's own name or
// the name of the path the port was given by.
TEST_F(DeviceLayerTest, LockFilesOfOtherProgramsAreHonouredUnderTheirNames)
{
    RunningProcess other;
    const std::string own = LockFileFor(ports, pty.SlaveName);
    const std::string given = ports.LockPath() + "/LCK..COM5";
    const auto binary = [](pid_t pid) {
        const std::int32_t value = pid;
        return std::string(reinterpret_cast<const char *>(&value), sizeof value);
    };
    const std::string running = FormatText("%10d\n", static_cast<int>(other.Pid()));
    struct Case {
        const char *what;
        std::string path;
        std::string content;
        int ageSeconds;
        int expected;
    };
    const std::vector<Case> cases = {
        {"own name", own, running, 0, SystemError::AccessDenied},
        {"name of the path given", given, running, 0, SystemError::AccessDenied},
        {"a stale lock under the name given is left alone", given, FormatText("%10d\n", EndedProcess()), 0, 0},
        {"being written", own, "", 0, SystemError::AccessDenied},
        {"empty and old", own, "", 60, 0},
        {"binary process id", own, binary(other.Pid()), 0, SystemError::AccessDenied},
        {"binary id of an ended process", own, binary(EndedProcess()), 0, 0},
        {"short ASCII id", own, std::to_string(other.Pid()) + "\n", 0, SystemError::AccessDenied},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteText(c.path, c.content);
        const timespec age[2] = {{time(nullptr) - c.ageSeconds, 0}, {time(nullptr) - c.ageSeconds, 0}};
        utimensat(AT_FDCWD, c.path.c_str(), age, 0);
        EXPECT_EQ(device.Open("\\\\.\\COM5"), c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(ReadText(own), FormatText("%10d\n", static_cast<int>(getpid())));
            device.Close();
        } else {
            EXPECT_FALSE(device.IsOpen());
        }
        unlink(c.path.c_str());
        unlink(own.c_str());
    }
}

// The owner as the forms of lock files give it; a binary id whose bytes look like digits is
// still binary.
TEST(PortLockText, TheOwnerIsReadInEitherForm)
{
    const std::pair<std::string, pid_t> cases[] = {
        {"      4242\n", 4242},
        {"4242\n", 4242},
        {"4242", 4242},
        {std::string("\x92\x10\0\0", 4), 4242},
        {std::string("79\0\0", 4), 14647},
        {std::string("1\0\0\0", 4), 49},
        {"12345678901\n", 0},
        {"42x\n", 0},
        {"   \n", 0},
    };
    for (const auto &[text, pid] : cases)
        EXPECT_EQ(PortLock::OwnerIn(text), pid) << '"' << text << '"';
}

// Anything but a regular file at a lock's name holds the port, with a text that names it, and
// nothing there may block the open (every local user can put a FIFO into the lock folder): an
// open that blocks ends the test program by the alarm.
TEST_F(DeviceLayerTest, SomethingElseAtALocksNameHoldsThePortAndNothingBlocks)
{
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    const std::string target = ports.Path() + "/target";
    WriteText(target, FormatText("%10d\n", static_cast<int>(getpid())));
    const std::vector<std::pair<std::function<int()>, std::string>> cases = {
        {[&] { return mkfifo(lock.c_str(), 0666); }, "a FIFO"},
        {[&] { return mkdir(lock.c_str(), 0755); }, "a directory"},
        {[&] { return mknod(lock.c_str(), S_IFCHR | 0666, makedev(1, 3)); }, "a device"},
        {[&] { return symlink(target.c_str(), lock.c_str()); }, "a link"},
    };
    for (const auto &[make, kind] : cases) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(make(), 0) << std::strerror(errno);
        alarm(10);
        EXPECT_EQ(device.Open("\\\\.\\COM5"), SystemError::AccessDenied);
        alarm(0);
        EXPECT_EQ(device.Holder(), "held: " + lock + " is " + kind + ", not a lock file");
        std::filesystem::remove(lock);
    }
    EXPECT_EQ(device.Open("\\\\.\\COM5"), 0);
}

// Another program in the middle of taking over the same stale lock (it holds a lock on the
// stale file) is waited for, and its new lock then holds the port.
TEST_F(DeviceLayerTest, AStaleLockThatAnotherIsTakingOverIsNotTakenTwice)
{
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    WriteText(lock, FormatText("%10d\n", static_cast<int>(EndedProcess())));
    RunningProcess other;
    const std::string running = FormatText("%10d\n", static_cast<int>(other.Pid()));
    const int stale = open(lock.c_str(), O_RDONLY);
    ASSERT_EQ(flock(stale, LOCK_EX), 0);
    auto takeOver = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string aside = ports.LockPath() + "/LTMP.other";
        WriteText(aside, running);
        const int renamed = rename(aside.c_str(), lock.c_str());
        close(stale);
        return renamed;
    });
    EXPECT_EQ(device.Open("\\\\.\\COM5"), SystemError::AccessDenied);
    EXPECT_EQ(device.Holder(), "held by process " + std::to_string(other.Pid()) + " (" + lock + ")");
    EXPECT_EQ(takeOver.get(), 0);
    EXPECT_EQ(ReadText(lock), running);
}

// Another program's lock is never taken: not when it replaced a stale one between the look at
// that and the lock on it (the file locked is no longer the one at the lock's name), nor when it
// took ours over while the port was open (closing the port leaves it).
TEST_F(DeviceLayerTest, AnotherProgramsLockIsNeverTakenNorRemoved)
{
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    WriteText(lock, FormatText("%10d\n", static_cast<int>(EndedProcess())));
    struct stat stale {};
    ASSERT_EQ(stat(lock.c_str(), &stale), 0);
    RunningProcess other;
    const std::string theirs = FormatText("%10d\n", static_cast<int>(other.Pid()));
    const std::string aside = ports.LockPath() + "/LTMP.other";
    bool replaced = false;
    beforeFlock = [&](int descriptor) {
        struct stat locked {};
        if (!replaced && fstat(descriptor, &locked) == 0 && locked.st_ino == stale.st_ino) {
            WriteText(aside, theirs);
            replaced = rename(aside.c_str(), lock.c_str()) == 0;
        }
    };
    EXPECT_EQ(device.Open("\\\\.\\COM5"), SystemError::AccessDenied);
    beforeFlock = nullptr;
    EXPECT_TRUE(replaced);
    EXPECT_EQ(ReadText(lock), theirs);

    ASSERT_EQ(unlink(lock.c_str()), 0);
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    WriteText(aside, theirs);
    ASSERT_EQ(rename(aside.c_str(), lock.c_str()), 0);
    ASSERT_EQ(device.Close(), 0);
    EXPECT_EQ(ReadText(lock), theirs);
}

// A link planted at the name of the file the lock is written into first must not be followed.
TEST_F(DeviceLayerTest, TheLockIsWrittenAsideWithoutFollowingALinkPlantedThere)
{
    const std::string victim = ports.Path() + "/victim";
    WriteText(victim, "precious contents\n");
    const std::string aside = ports.LockPath() + "/LTMP." + std::to_string(getpid()) + "." + std::to_string(gettid());
    ASSERT_EQ(symlink(victim.c_str(), aside.c_str()), 0);
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    EXPECT_EQ(ReadText(victim), "precious contents\n");
    EXPECT_EQ(ReadText(LockFileFor(ports, pty.SlaveName)), FormatText("%10d\n", static_cast<int>(getpid())));
    ASSERT_EQ(device.Close(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(ports.LockPath()));
}

// A process of another user cannot be signalled, and runs all the same. Root may signal
// anyone, so the check runs in a child that gives up its rights.
TEST_F(DeviceLayerTest, ALockOfARunningProcessOfAnotherUserHolds)
{
    const std::string lock = LockFileFor(ports, pty.SlaveName);
    WriteText(lock, FormatText("%10d\n", static_cast<int>(getpid())));
    ASSERT_EQ(chmod(ports.Path().c_str(), 0755) | chmod(ports.LockPath().c_str(), 0777), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() != 0 || setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        PortLock other;
        const bool held = other.Acquire(pty.SlaveName) == SystemError::AccessDenied
                          && other.Holder() == "held by process " + std::to_string(getppid()) + " (" + lock + ")";
        _exit(held ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "needs root to run a process of another user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the lock was taken for stale";
    EXPECT_EQ(ReadText(lock), FormatText("%10d\n", static_cast<int>(getpid())));
}

TEST_F(DeviceLayerTest, WithoutAWritableLockFolderThePortOpensWithoutALockFile)
{
    PortLock::SetDirectory(ports.Path() + "/no-such-folder");
    EXPECT_EQ(device.Open("\\\\.\\COM5"), 0);
    EXPECT_EQ(device.Close(), 0);
    PortLock::SetDirectory(ports.LockPath());
}

TEST_F(DeviceLayerTest, MissingPortsDoNotExistAndOtherFilesAreNoSerialDevices)
{
    EXPECT_EQ(device.Open("\\\\.\\COM6"), SystemError::FileNotFound);
    std::ofstream(ports.PortPath(7)) << "not a tty";
    EXPECT_EQ(device.Open("\\\\.\\COM7"), SystemError::BadUnit);
    mkdir(ports.PortPath(8).c_str(), 0755);
    EXPECT_EQ(device.Open("\\\\.\\COM8"), SystemError::BadUnit);
    ASSERT_EQ(symlink("/dev/null", ports.PortPath(9).c_str()), 0);
    EXPECT_EQ(device.Open("\\\\.\\COM9"), SystemError::BadUnit);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(SystemErrorText(SystemError::BadUnit), "Not a serial device");
    // None of them left a lock file behind.
    EXPECT_TRUE(std::filesystem::is_empty(ports.LockPath()));
}

// Root passes every file mode, so the check runs in a child that gives up its rights.
TEST_F(DeviceLayerTest, AUserWithoutPermissionIsToldSoNotThatThePortIsInUse)
{
    ASSERT_EQ(chmod(ports.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(pty.SlaveName.c_str(), 0), 0);
    int result[2];
    ASSERT_EQ(pipe(result), 0);
    const pid_t child = fork();
    if (child == 0) {
        int code = -1;
        if (geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0)) {
            SerialDevice unprivileged;
            code = unprivileged.Open("\\\\.\\COM5");
        }
        [[maybe_unused]] ssize_t n = write(result[1], &code, sizeof code);
        _exit(0);
    }
    close(result[1]);
    int code = -2;
    [[maybe_unused]] ssize_t n = read(result[0], &code, sizeof code);
    close(result[0]);
    waitpid(child, nullptr, 0);
    if (code == -1)
        GTEST_SKIP() << "cannot give up the rights of user " << geteuid();
    EXPECT_EQ(code, SystemError::InvalidAccess);
    EXPECT_EQ(SystemErrorText(SystemError::InvalidAccess),
              "Permission denied: this user may not open the serial port (add the user to the dialout group and "
              "log in again)");
}

// A pseudo-terminal keeps 8 data bits without parity whatever it is told, so those two are
// left out here.
TEST_F(DeviceLayerTest, LineSettingsReachTheTtyAndReadBack)
{
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    LineSettings line;
    ASSERT_EQ(device.GetState(line), 0);
    line.BaudRate = 19200;
    line.StopBits = TWOSTOPBITS;
    line.fOutX = true;
    line.XonChar = 'Q';
    line.fOutxDsrFlow = true; // no tty flag for it: kept as set
    ASSERT_EQ(device.SetState(line), 0);

    const termios tty = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&tty), B19200);
    EXPECT_TRUE(tty.c_cflag & CSTOPB);
    EXPECT_TRUE(tty.c_iflag & IXON);
    EXPECT_FALSE(tty.c_iflag & IXOFF);
    EXPECT_EQ(tty.c_cc[VSTART], 'Q');
    EXPECT_FALSE(tty.c_oflag & OPOST);
    EXPECT_FALSE(tty.c_lflag & (ICANON | ECHO));

    LineSettings back;
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
    LineSettings line;
    ASSERT_EQ(device.GetState(line), 0);
    line.BaudRate = 14400;
    ASSERT_EQ(device.SetState(line), 0);
    LineSettings back;
    ASSERT_EQ(device.GetState(back), 0);
    EXPECT_EQ(back.BaudRate, 14400u);
}

TEST_F(DeviceLayerTest, ClosingRestoresTheSettingsFoundAtOpen)
{
    const termios before = pty.SlaveSettings();
    ASSERT_EQ(device.Open("\\\\.\\COM5"), 0);
    LineSettings line;
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
    LineSettings line;
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
    std::future<std::pair<int, std::uint32_t>> first, arrival, next, stopped;
    // A failed check must not leave a wait behind for the futures to join for ever.
    const auto endWaits = qScopeGuard([&] { device.Close(); });

    // The mask change itself ends the first wait; drain it.
    first = wait();
    ASSERT_EQ(first.get().first, 0);

    pty.Write("a");
    arrival = wait();
    ASSERT_EQ(arrival.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(arrival.get(), std::make_pair(0, EV_RXCHAR));

    // The byte stays unread: the next wait sleeps until something new happens.
    next = wait();
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    pty.Write("b");
    ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(next.get(), std::make_pair(0, EV_RXCHAR));

    stopped = wait();
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
    ASSERT_EQ(device.WaitEvent(events), 0); // the mask change
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
    int failure = 0;
    const std::size_t accepted = FillLine([&](const char *data, std::size_t count) {
        const int n = device.Write(data, count);
        if (n < 0)
            failure = n;
        return n;
    });
    EXPECT_EQ(failure, 0);
    EXPECT_GT(accepted, 0u);
    EXPECT_EQ(device.Write("y", 1), 0);

    // Waiting for room neither spins nor misses the interruption of a flush.
    SyncEvent interrupt(SyncEvent::AutoReset);
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
    SyncEvent automatic(SyncEvent::AutoReset);
    SyncEvent manual(SyncEvent::ManualReset);
    EXPECT_FALSE(automatic.Wait(0));
    automatic.Set();
    automatic.Set();
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));

    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_EQ(SyncEvent::WaitAny({&automatic, &manual}, 0), 1);
    manual.Reset();
    EXPECT_EQ(SyncEvent::WaitAny({&automatic, &manual}, 20), -1);
}

} // namespace
