#pragma once

#include "fixtures/PublishedPty.h"
#include "serial/Dispatcher.h"
#include "serial/DispatcherThreads.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

// Runs the event loop until done() holds or timeoutMs passes; returns done().
inline bool WaitFor(const std::function<bool()> &done, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Keeps the event loop running for a while, for checks that something does not happen.
inline void Idle(int ms)
{
    WaitFor([] { return false; }, ms);
}

// A fresh ports directory that TAMBLO_PORTS names while it exists. Lock files go to a folder
// inside it, so that tests neither need /var/lock nor leave anything there.
class PortsDirectory {
public:
    PortsDirectory() : previousLocks_(PortLock::Directory())
    {
        char pattern[] = "/tmp/tamblo-ports-XXXXXX";
        path_ = mkdtemp(pattern);
        setenv("TAMBLO_PORTS", path_.c_str(), 1);
        mkdir(LockPath().c_str(), 0755);
        PortLock::SetDirectory(LockPath());
    }
    ~PortsDirectory()
    {
        PortLock::SetDirectory(previousLocks_);
        unsetenv("TAMBLO_PORTS");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PortsDirectory(const PortsDirectory &) = delete;
    PortsDirectory &operator=(const PortsDirectory &) = delete;

    const std::string &Path() const { return path_; }
    std::string PortPath(int n) const { return path_ + "/COM" + std::to_string(n); }
    std::string LockPath() const { return path_ + "/lock"; }

private:
    std::string path_;
    std::string previousLocks_;
};

// A pseudo-terminal published as COMn: the far end (master) is the test's device, and the
// slave descriptor that stays open shows the line settings the port left.
class PtyPort {
public:
    PtyPort(const PortsDirectory &ports, int n)
    {
        std::string error;
        // Without its link the port cannot be reached by name, and every test on it would fail obscurely.
        if (!pty_.Publish(ports.Path(), n, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        master = pty_.Master();
        slave = pty_.Slave();
        SlaveName = pty_.SlaveName();
        LinkPath = pty_.LinkPath();
    }
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    // Reads from the far end until count bytes came or timeoutMs passed.
    std::string Read(std::size_t count, int timeoutMs = 10000)
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{master, POLLIN, 0};
            if (poll(&entry, 1, 10) > 0) {
                char buffer[4096];
                const ssize_t n = read(master, buffer, std::min(sizeof buffer, count - got.size()));
                if (n > 0)
                    got.append(buffer, static_cast<std::size_t>(n));
            }
            QCoreApplication::processEvents();
        }
        return got;
    }

    // Everything that arrives until the line has been quiet for quietMs.
    std::string Drain(int quietMs = 200)
    {
        std::string got;
        for (;;) {
            pollfd entry{master, POLLIN, 0};
            if (poll(&entry, 1, quietMs) <= 0)
                return got;
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                return got;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }

    void Write(const std::string &bytes) { [[maybe_unused]] ssize_t n = write(master, bytes.data(), bytes.size()); }

    // The far end goes away.
    void HangUp()
    {
        pty_.CloseMaster();
        master = -1;
    }

    termios SlaveSettings() const
    {
        termios settings{};
        tcgetattr(slave, &settings);
        return settings;
    }

    int master = -1;
    int slave = -1;
    std::string SlaveName;
    std::string LinkPath;

private:
    PublishedPty pty_;
};

// Another process that holds a port exclusively, as a second program would: by a lock on the
// device, or by putting the tty into exclusive mode (as most serial tools do).
class PortHolder {
public:
    enum How { ByLock, ByExclusiveMode, ByOpeningOnly };

    explicit PortHolder(const std::string &path, How how = ByLock)
    {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        const char *device = path.c_str();
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
            const bool held = fd >= 0
                              && (how == ByOpeningOnly
                                  || (how == ByLock ? flock(fd, LOCK_EX | LOCK_NB) == 0 : ioctl(fd, TIOCEXCL) == 0));
            const char ok = held ? '1' : '0';
            [[maybe_unused]] ssize_t n = write(ready[1], &ok, 1);
            for (;;)
                pause();
        }
        close(ready[1]);
        char ok = '0';
        [[maybe_unused]] ssize_t n = read(ready[0], &ok, 1);
        close(ready[0]);
        holding_ = ok == '1';
    }
    ~PortHolder()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    PortHolder(const PortHolder &) = delete;
    PortHolder &operator=(const PortHolder &) = delete;

    bool Holding() const { return holding_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

// Whether the tty is in exclusive mode, as seen through a descriptor of it.
inline bool InExclusiveMode(int descriptor)
{
    int mode = 0;
    return ioctl(descriptor, TIOCGEXCL, &mode) == 0 && mode != 0;
}

// The lock file that names the device behind a port link: /dev/pts/3 is LCK..pts_3.
inline std::string LockFileFor(const PortsDirectory &ports, const std::string &deviceName)
{
    std::string name = deviceName.substr(5);
    std::replace(name.begin(), name.end(), '/', '_');
    return ports.LockPath() + "/LCK.." + name;
}

inline std::string ReadText(const std::string &path)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return text;
    char buffer[256];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
}

inline void WriteText(const std::string &path, const std::string &text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    [[maybe_unused]] ssize_t n = write(fd, text.data(), text.size());
    close(fd);
}

// Fills the line towards a far end that reads nothing, through write (the count taken, 0 or
// less for none), until it has taken nothing for two looks in a row: a pseudo-terminal moves
// bytes along a while after it refused a write, and has room again then. Returns the count.
template <typename Write>
std::size_t FillLine(Write write, char filler = 'f')
{
    const std::string chunk(512, filler);
    std::size_t taken = 0;
    for (int quiet = 0; quiet < 2;) {
        long n;
        bool tookMore = false;
        while ((n = write(chunk.data(), chunk.size())) > 0) {
            taken += static_cast<std::size_t>(n);
            tookMore = true;
        }
        quiet = tookMore ? 0 : quiet + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return taken;
}

// A process that runs, doing nothing, while this object exists.
class RunningProcess {
public:
    RunningProcess()
    {
        pid_ = fork();
        if (pid_ == 0) {
            for (;;)
                pause();
        }
    }
    ~RunningProcess()
    {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    RunningProcess(const RunningProcess &) = delete;
    RunningProcess &operator=(const RunningProcess &) = delete;

    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// The id of a process that has ended (and been reaped).
inline pid_t EndedProcess()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

// The number of the serial link's worker threads in this process, known by their names (a
// sanitizer or a library may run threads of its own).
inline int SerialThreadCount()
{
    const std::string prefix = TDispatcherThread::NamePrefix;
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
        const std::string name = ReadText(entry.path().string() + "/comm");
        if (name.rfind(prefix, 0) == 0)
            ++count;
    }
    return count;
}

// Answers every modal dialog of one kind that shows while it exists, with the action given,
// and counts them.
template <typename Dialog>
class ModalWatcher {
public:
    explicit ModalWatcher(std::function<void(Dialog *)> action) : action_(std::move(action))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
            if (!dialog || dialog == last_)
                return;
            last_ = dialog;
            ++Shown;
            action_(dialog);
        });
        timer_.start();
    }
    void SetAction(std::function<void(Dialog *)> action) { action_ = std::move(action); }

    int Shown = 0;

private:
    std::function<void(Dialog *)> action_;
    QTimer timer_;
    QPointer<Dialog> last_;
};

// A dispatcher over an in-memory device whose writes can be held back, for exact checks of the
// rings and the write loop.
class FakeDispatcher : public TBaseDispatcher {
public:
    explicit FakeDispatcher(TCustomComPort *owner = nullptr) : TBaseDispatcher(owner) {}
    ~FakeDispatcher() override { Shutdown(); }

    // What happened on the device, in order: "write:<bytes>", "state", "purge:<n>".
    std::vector<std::string> Journal()
    {
        std::lock_guard guard(lock_);
        return journal_;
    }
    std::vector<std::string> Writes()
    {
        std::vector<std::string> writes;
        for (const std::string &entry : Journal()) {
            if (entry.rfind("write:", 0) == 0)
                writes.push_back(entry.substr(6));
        }
        return writes;
    }
    // Writes are taken until limit writes have happened; each takes at most perWrite bytes.
    void HoldAfter(std::size_t writes, std::size_t perWrite = SIZE_MAX)
    {
        std::lock_guard guard(lock_);
        allowedWrites_ = writes;
        perWrite_ = perWrite;
    }
    void Release()
    {
        {
            std::lock_guard guard(lock_);
            allowedWrites_ = SIZE_MAX;
            perWrite_ = SIZE_MAX;
        }
        writable_.Set();
    }
    int BlockedAttempts()
    {
        std::lock_guard guard(lock_);
        return blockedAttempts_;
    }
    void Feed(const std::string &bytes)
    {
        {
            std::lock_guard guard(lock_);
            input_ += bytes;
        }
        Raise(EV_RXCHAR);
    }
    // The next write is refused with this result (a negated system error).
    void RefuseNextWrite(int result)
    {
        std::lock_guard guard(lock_);
        refusal_ = result;
    }
    // Each read hands over at most this many bytes, whatever the status said was waiting.
    void ShortReads(std::size_t most)
    {
        std::lock_guard guard(lock_);
        readLimit_ = most;
    }
    // The modem lines (MS_ bits) from now on, announced by a line event when one is given.
    void SetModemLines(std::uint32_t lines, std::uint32_t event = 0)
    {
        modemLines_.store(lines);
        if (event != 0)
            Raise(event);
    }
    LineSettings State()
    {
        std::lock_guard guard(lock_);
        return state_;
    }
    int StateWrites()
    {
        std::lock_guard guard(lock_);
        return stateWrites_;
    }
    std::vector<int> Escapes()
    {
        std::lock_guard guard(lock_);
        return escapes_;
    }
    std::uint32_t RingCount() { return OutputRingCount(); }

    int DeviceEscape(int function) override
    {
        std::lock_guard guard(lock_);
        escapes_.push_back(function);
        return 0;
    }
    int DevicePurge(unsigned directions) override
    {
        std::lock_guard guard(lock_);
        journal_.push_back("purge:" + std::to_string(directions));
        if (directions & PURGE_RXCLEAR)
            input_.clear();
        return 0;
    }
    std::uint32_t DeviceStatus(LineStatus &status) override
    {
        status.cbOutQue = OutputRingCount();
        std::lock_guard guard(lock_);
        status.cbInQue = static_cast<std::uint32_t>(input_.size());
        return std::exchange(pendingErrors_, 0);
    }
    void InjectErrors(std::uint32_t errors)
    {
        std::lock_guard guard(lock_);
        pendingErrors_ |= errors;
    }
    int DeviceGetState(LineSettings &line) override
    {
        std::lock_guard guard(lock_);
        line = state_;
        return 0;
    }
    int DeviceRead(std::uint8_t *buffer, std::size_t count) override
    {
        std::lock_guard guard(lock_);
        const std::size_t n = std::min({count, input_.size(), readLimit_});
        std::copy_n(input_.begin(), n, buffer);
        input_.erase(0, n);
        return static_cast<int>(n);
    }
    int DeviceSetState(const LineSettings &line) override
    {
        std::lock_guard guard(lock_);
        state_ = line;
        ++stateWrites_;
        journal_.push_back("state");
        return 0;
    }
    bool DeviceSetBuffers(std::uint32_t, std::uint32_t) override { return true; }
    int DeviceOpen(const std::string &, std::uint32_t, std::uint32_t) override { return 3; }
    int DeviceClose() override { return 0; }
    int DeviceWrite(const std::uint8_t *data, std::size_t count) override
    {
        std::lock_guard guard(lock_);
        if (refusal_ != 0)
            return std::exchange(refusal_, 0);
        if (allowedWrites_ == 0) {
            ++blockedAttempts_;
            return 0;
        }
        --allowedWrites_;
        const std::size_t n = std::min(count, perWrite_);
        journal_.push_back("write:" + std::string(reinterpret_cast<const char *>(data), n));
        return static_cast<int>(n);
    }
    int DeviceWaitWritable(SyncEvent &interrupt) override
    {
        return SyncEvent::WaitAny({&writable_, &interrupt}, -1) == 0 ? 1 : 0;
    }
    int DeviceSetMask(std::uint32_t mask) override
    {
        mask_.store(mask);
        maskChanged_.Set();
        return 0;
    }
    int DeviceWaitEvent(std::uint32_t &events) override
    {
        events = 0;
        if (mask_.load() == 0)
            return 87;
        if (SyncEvent::WaitAny({&eventRaised_, &maskChanged_}, -1) == 0)
            events = pendingEvents_.exchange(0);
        return 0;
    }
    std::uint32_t DeviceModemStatus() override { return modemLines_.load(); }

    using TBaseDispatcher::Shutdown;

private:
    void Raise(std::uint32_t event)
    {
        pendingEvents_.fetch_or(event);
        eventRaised_.Set();
    }

    std::mutex lock_;
    std::vector<std::string> journal_;
    std::size_t allowedWrites_ = SIZE_MAX;
    std::size_t perWrite_ = SIZE_MAX;
    int blockedAttempts_ = 0;
    std::string input_;
    LineSettings state_;
    int stateWrites_ = 0;
    std::vector<int> escapes_;
    std::uint32_t pendingErrors_ = 0;
    int refusal_ = 0;
    std::size_t readLimit_ = SIZE_MAX;
    std::atomic<std::uint32_t> mask_{0};
    std::atomic<std::uint32_t> pendingEvents_{0};
    std::atomic<std::uint32_t> modemLines_{0};
    SyncEvent writable_{SyncEvent::AutoReset};
    SyncEvent eventRaised_{SyncEvent::AutoReset};
    SyncEvent maskChanged_{SyncEvent::AutoReset};
};

inline std::string Bytes(const std::vector<std::string> &parts)
{
    std::string all;
    for (const std::string &part : parts)
        all += part;
    return all;
}
