#pragma once

#include <string>
#include <sys/types.h>

// The lock file "LCK..<name>" by which serial programs on Linux tell each other that a port is
// in use. It holds the owner's process id in ASCII, ten characters and a line end; a lock whose
// process has ended is stale and is taken over. The name is the device's path below /dev with
// "/" made "_" (LCK..ttyUSB0, LCK..pts_3, LCK..serial_by-id_usb-...), or the last part of a path
// elsewhere.
class PortLock {
public:
    PortLock() = default;
    ~PortLock();

    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Locks the device at devicePath, its real path, under the device's own name. A lock that
    // another program made under the name of the path it was given (givenPath, a link such as
    // /dev/serial/by-id/...) is honoured as well. 0 when locked, and also when no lock file can
    // be made (no lock folder, or no right to write in it); AccessDenied when a running process
    // holds a lock, or when something that is no lock file stands at a lock's name.
    int Acquire(const std::string &devicePath, const std::string &givenPath = {});
    // Removes the lock file made by Acquire, if it is still ours.
    void Release();
    // The lock file this object holds, or an empty text.
    const std::string &Path() const { return path_; }
    // Why the last Acquire was refused, naming the lock file ("held by process 4242
    // (/var/lock/LCK..ttyUSB0)"); empty when it was not.
    const std::string &Holder() const { return holder_; }
    // Whether the last Acquire took over the lock of a process that had ended.
    bool TookOverStale() const { return tookOverStale_; }

    // The owner's process id in a lock file's text: ASCII digits (ten, padded with spaces, and a
    // line end), or in the old form the four bytes of a binary int. 0 when the text holds none.
    static pid_t OwnerIn(const std::string &text);
    // The part of a lock file's name after "LCK.." for a device path.
    static std::string LockName(const std::string &devicePath);
    // The folder of the lock files: the one a test has chosen, else $TAMBLO_LOCK_DIR when it is
    // set, else /var/lock.
    static std::string Directory();
    // An empty text gives the choice back to the environment.
    static void SetDirectory(const std::string &directory);

private:
    int Take(const std::string &lockPath);

    std::string path_;
    std::string holder_;
    bool tookOverStale_ = false;
};
