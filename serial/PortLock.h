#pragma once

#include <string>

// The lock file "LCK..<device name>" by which serial programs on Linux tell each other that a
// port is in use. It holds the owner's process id in ASCII, ten characters and a line end; a
// lock whose process has ended is stale and is taken over.
class PortLock {
public:
    PortLock() = default;
    ~PortLock();

    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Locks the device at devicePath, its real path (not a link to it). 0 when locked, and also
    // when no lock file can be made (no lock folder, or no right to write in it); AccessDenied
    // when a running process holds the lock.
    int Acquire(const std::string &devicePath);
    // Removes the lock file made by Acquire, if it is still ours.
    void Release();
    // The lock file this object holds, or an empty text.
    const std::string &Path() const { return path_; }

    // The folder of the lock files: /var/lock, unless a test has chosen another.
    static std::string Directory();
    static void SetDirectory(const std::string &directory);

private:
    std::string path_;
};
