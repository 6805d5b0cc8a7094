#include "serial/PortLock.h"

#include "serial/SystemErrors.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex directoryLock;
std::string lockDirectory = "/var/lock";

enum class Owner { None, Stale, Running };

// Who holds the lock file at path. A lock that cannot be read counts as held; one without a
// process id, or whose process has ended, is stale.
Owner LockOwner(const std::string &path, pid_t *pid = nullptr)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ENOENT ? Owner::None : Owner::Running;
    char text[32] = {};
    const ssize_t got = read(descriptor, text, sizeof text - 1);
    close(descriptor);
    if (got <= 0)
        return Owner::Stale;
    char *end = nullptr;
    const long owner = std::strtol(text, &end, 10);
    if (end == text || owner <= 0 || owner > INT32_MAX)
        return Owner::Stale;
    if (pid)
        *pid = static_cast<pid_t>(owner);
    if (kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM)
        return Owner::Running;
    return Owner::Stale;
}

} // namespace

PortLock::~PortLock() { Release(); }

std::string PortLock::Directory()
{
    std::lock_guard guard(directoryLock);
    return lockDirectory;
}

void PortLock::SetDirectory(const std::string &directory)
{
    std::lock_guard guard(directoryLock);
    lockDirectory = directory;
}

int PortLock::Acquire(const std::string &devicePath)
{
    Release();
    const std::string directory = Directory();
    const std::string lockPath = directory + "/LCK.." + devicePath.substr(devicePath.rfind('/') + 1);
    char content[16];
    std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(getpid()));

    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Written aside and linked into place, so that nobody ever reads a half-written lock.
        const std::string aside = directory + "/LTMP." + std::to_string(getpid()) + "." + std::to_string(serial++);
        const int descriptor = open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (descriptor < 0)
            break;
        const bool written = write(descriptor, content, 11) == 11;
        close(descriptor);
        const int linked = written ? link(aside.c_str(), lockPath.c_str()) : -1;
        const int error = errno;
        unlink(aside.c_str());
        if (linked == 0) {
            path_ = lockPath;
            return 0;
        }
        if (!written || error != EEXIST)
            break;
        const Owner owner = LockOwner(lockPath);
        if (owner == Owner::Running)
            return SystemError::AccessDenied;
        // Left behind by a process that has ended: take it over.
        if (owner == Owner::Stale && unlink(lockPath.c_str()) != 0)
            break;
    }
    // No lock file can be made here; one that a running process holds is honoured all the same.
    return LockOwner(lockPath) == Owner::Running ? SystemError::AccessDenied : 0;
}

void PortLock::Release()
{
    if (path_.empty())
        return;
    pid_t owner = 0;
    // A lock that was taken over from us belongs to its new owner.
    if (LockOwner(path_, &owner) == Owner::Running && owner == getpid())
        unlink(path_.c_str());
    path_.clear();
}
