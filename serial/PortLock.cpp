#include "serial/PortLock.h"

#include "serial/SystemErrors.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex directoryLock;
std::string chosenDirectory;

// An empty lock file younger than this is another program between creating and writing it.
constexpr std::time_t kFreshEmptySeconds = 5;
// How long a stale lock that another program is taking over is waited for.
constexpr auto kTakeOverWait = std::chrono::seconds(2);

enum class Owner { None, Stale, Running };

struct Verdict {
    Owner owner = Owner::None;
    pid_t pid = 0;
    // For a lock that holds: why, naming the file.
    std::string why;
};

Verdict Held(std::string why) { return {Owner::Running, 0, std::move(why)}; }

const char *KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

// Who holds the lock open at descriptor, read from its start.
Verdict Inspect(int descriptor, const std::string &path)
{
    struct stat info {};
    if (fstat(descriptor, &info) != 0)
        return Held("held: cannot read " + path);
    if (!S_ISREG(info.st_mode))
        return Held(std::string("held: ") + path + " is " + KindOf(info.st_mode) + ", not a lock file");
    char text[32] = {};
    const ssize_t got = pread(descriptor, text, sizeof text - 1, 0);
    if (got < 0)
        return Held("held: cannot read " + path);
    if (got == 0) {
        if (std::time(nullptr) - info.st_mtime < kFreshEmptySeconds)
            return Held("held by a program that is writing " + path);
        return {Owner::Stale, 0, {}};
    }
    const pid_t pid = PortLock::OwnerIn(std::string(text, static_cast<std::size_t>(got)));
    if (pid == 0)
        return {Owner::Stale, 0, {}};
    // EPERM: the process runs, under another user.
    if (kill(pid, 0) == 0 || errno == EPERM)
        return {Owner::Running, pid, "held by process " + std::to_string(pid) + " (" + path + ")"};
    return {Owner::Stale, pid, {}};
}

// Opens a lock file without waiting (a FIFO would block) and without following a link.
int OpenLock(const std::string &path) { return open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }

Verdict LockOwner(const std::string &path)
{
    const int descriptor = OpenLock(path);
    if (descriptor < 0) {
        const int error = errno;
        if (error == ENOENT)
            return {};
        if (error == ELOOP)
            return Held("held: " + path + " is a link, not a lock file");
        return Held("held: cannot read " + path + " (" + std::strerror(error) + ")");
    }
    Verdict verdict = Inspect(descriptor, path);
    close(descriptor);
    return verdict;
}

bool SameFile(int descriptor, const std::string &path)
{
    struct stat open {};
    struct stat named {};
    return fstat(descriptor, &open) == 0 && lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev
           && open.st_ino == named.st_ino;
}

} // namespace

PortLock::~PortLock() { Release(); }

pid_t PortLock::OwnerIn(const std::string &text)
{
    // A process id never takes more than three bytes, so four bytes with a zero among them are
    // the binary form, even when the others happen to be digits ("79\0\0" is 14647, not 79).
    if (text.size() == sizeof(std::int32_t) && text.find('\0') != std::string::npos) {
        std::int32_t binary = 0;
        std::memcpy(&binary, text.data(), sizeof binary);
        return binary > 0 ? static_cast<pid_t>(binary) : 0;
    }
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos)
        return 0;
    long value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 10; ++i, ++digits)
        value = value * 10 + (text[i] - '0');
    if (digits == 0 || text.find_first_not_of(std::string(" \r\n\0", 4), i) != std::string::npos)
        return 0;
    return value <= INT32_MAX ? static_cast<pid_t>(value) : 0;
}

std::string PortLock::LockName(const std::string &devicePath)
{
    std::string name;
    if (devicePath.rfind("/dev/", 0) == 0)
        name = devicePath.substr(5);
    else
        name = devicePath.substr(devicePath.rfind('/') + 1);
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    return name;
}

std::string PortLock::Directory()
{
    {
        std::lock_guard guard(directoryLock);
        if (!chosenDirectory.empty())
            return chosenDirectory;
    }
    const char *fromEnvironment = std::getenv("TAMBLO_LOCK_DIR");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : "/var/lock";
}

void PortLock::SetDirectory(const std::string &directory)
{
    std::lock_guard guard(directoryLock);
    chosenDirectory = directory;
}

int PortLock::Acquire(const std::string &devicePath, const std::string &givenPath)
{
    Release();
    holder_.clear();
    tookOverStale_ = false;
    const std::string directory = Directory();
    const std::string lockPath = directory + "/LCK.." + LockName(devicePath);
    if (!givenPath.empty()) {
        // Another program locks under the name it was given the port by; that lock is only read.
        const std::string givenLock = directory + "/LCK.." + LockName(givenPath);
        if (givenLock != lockPath) {
            const Verdict given = LockOwner(givenLock);
            if (given.owner == Owner::Running && given.pid != getpid()) {
                holder_ = given.why;
                return SystemError::AccessDenied;
            }
        }
    }
    return Take(lockPath);
}

int PortLock::Take(const std::string &lockPath)
{
    const std::string directory = lockPath.substr(0, lockPath.rfind('/'));
    char content[16];
    std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(getpid()));
    // Written aside and linked into place, so that nobody ever reads a half-written lock. The
    // name is this thread's own; one left behind by a killed process of the same id is removed.
    const std::string aside = directory + "/LTMP." + std::to_string(getpid()) + "." + std::to_string(gettid());
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int descriptor = open(aside.c_str(), flags, 0644);
    if (descriptor < 0 && errno == EEXIST && unlink(aside.c_str()) == 0)
        descriptor = open(aside.c_str(), flags, 0644);
    bool written = false;
    if (descriptor >= 0) {
        written = write(descriptor, content, 11) == 11;
        close(descriptor);
    }

    const auto deadline = std::chrono::steady_clock::now() + kTakeOverWait;
    while (written && std::chrono::steady_clock::now() < deadline) {
        if (link(aside.c_str(), lockPath.c_str()) == 0) {
            unlink(aside.c_str());
            path_ = lockPath;
            return 0;
        }
        if (errno != EEXIST)
            break;
        const int existing = OpenLock(lockPath);
        if (existing < 0) {
            if (errno == ENOENT) {
                holder_.clear();
                continue;
            }
            break;
        }
        // Those who find the same stale lock take it over one at a time, under a lock on the
        // stale file itself: the first replaces it, the others then find a file that holds.
        Verdict verdict;
        if (flock(existing, LOCK_EX | LOCK_NB) == 0 && SameFile(existing, lockPath)) {
            verdict = Inspect(existing, lockPath);
            if (verdict.owner == Owner::Stale && rename(aside.c_str(), lockPath.c_str()) == 0) {
                close(existing);
                path_ = lockPath;
                tookOverStale_ = true;
                return 0;
            }
        } else {
            verdict = Inspect(existing, lockPath);
            if (verdict.owner == Owner::Stale) {
                // Being taken over right now: its new owner is known in a moment.
                verdict = {Owner::None, 0, "held: another program is taking over " + lockPath};
            }
        }
        close(existing);
        if (verdict.owner == Owner::Running) {
            unlink(aside.c_str());
            holder_ = verdict.why;
            return SystemError::AccessDenied;
        }
        holder_ = verdict.why;
        usleep(1000);
    }
    if (written)
        unlink(aside.c_str());
    // Still being taken over by another: running without a lock could leave the port with none.
    if (written && !holder_.empty())
        return SystemError::AccessDenied;
    // No lock file can be made here; one that holds is honoured all the same.
    const Verdict verdict = LockOwner(lockPath);
    if (verdict.owner == Owner::Running) {
        holder_ = verdict.why;
        return SystemError::AccessDenied;
    }
    return 0;
}

void PortLock::Release()
{
    if (path_.empty())
        return;
    // A lock that was taken over from us belongs to its new owner.
    const Verdict verdict = LockOwner(path_);
    if (verdict.owner == Owner::Running && verdict.pid == getpid())
        unlink(path_.c_str());
    path_.clear();
}
