#include "serial/DeviceLayer.h"

#include "serial/CustomBaud.h"
#include "serial/SyncEvent.h"
#include "serial/SystemErrors.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

struct SerialDevice::Saved {
    termios settings{};
};

namespace {

struct Speed {
    speed_t code;
    std::uint32_t baud;
};

constexpr std::array<Speed, 30> kSpeeds{{
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},         {B300, 300},         {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},       {B4800, 4800},       {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},     {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
}};

bool SpeedCode(std::uint32_t baud, speed_t &code)
{
    for (const Speed &speed : kSpeeds) {
        if (speed.baud == baud) {
            code = speed.code;
            return true;
        }
    }
    return false;
}

// Pseudo-terminals and some drivers do not know modem-line and exclusivity requests.
bool Unsupported(int error) { return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP; }

bool ParsePortNumber(const std::string &name, int &number)
{
    static const std::string kLong = "\\\\.\\COM";
    std::string digits;
    if (name.rfind(kLong, 0) == 0)
        digits = name.substr(kLong.size());
    else if (name.rfind("COM", 0) == 0)
        digits = name.substr(3);
    else
        return false;
    if (digits.empty() || digits.size() > 5)
        return false;
    number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    return true;
}

bool IsDirectory(const char *path)
{
    struct stat info {};
    return *path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether another process has the tty at descriptor open. Processes that cannot be looked into
// count as having it open.
bool OpenedElsewhere(int descriptor)
{
    struct stat device {};
    if (fstat(descriptor, &device) != 0)
        return true;
    const std::string self = std::to_string(getpid());
    DIR *processes = opendir("/proc");
    if (!processes)
        return true;
    bool found = false;
    while (const dirent *process = readdir(processes)) {
        if (process->d_name[0] < '1' || process->d_name[0] > '9' || self == process->d_name)
            continue;
        const std::string folder = std::string("/proc/") + process->d_name + "/fd";
        DIR *descriptors = opendir(folder.c_str());
        if (!descriptors) {
            // A process that ended meanwhile is gone; one we may not look into may hold the port.
            found = errno != ENOENT;
        } else {
            while (const dirent *entry = readdir(descriptors)) {
                struct stat info {};
                if (entry->d_name[0] != '.' && stat((folder + "/" + entry->d_name).c_str(), &info) == 0
                    && S_ISCHR(info.st_mode) && info.st_rdev == device.st_rdev) {
                    found = true;
                    break;
                }
            }
            closedir(descriptors);
        }
        if (found)
            break;
    }
    closedir(processes);
    return found;
}

// The system error for a failed open of a port's path.
int OpenError(int errnoValue)
{
    // No permission is not "in use": the operator must be told how to get it.
    return errnoValue == EACCES ? SystemError::InvalidAccess : SystemErrorFromErrno(errnoValue);
}

} // namespace

int CheckPortsDirectory()
{
    const char *ports = std::getenv("TAMBLO_PORTS");
    return ports && !IsDirectory(ports) ? SystemError::BadEnvironment : 0;
}

std::string ResolvePortName(const std::string &portName)
{
    if (portName.rfind('/', 0) == 0)
        return portName;
    int number = 0;
    if (!ParsePortNumber(portName, number) || number <= 0)
        return {};
    // Once set, the variable is the only place ports are looked up: a mistyped folder must not
    // send commands to whatever real port has the same number.
    if (const char *ports = std::getenv("TAMBLO_PORTS"))
        return IsDirectory(ports) ? std::string(ports) + "/COM" + std::to_string(number) : std::string();
    if (number <= 16)
        return "/dev/ttyS" + std::to_string(number - 1);
    if (number <= 32)
        return "/dev/ttyUSB" + std::to_string(number - 17);
    if (number <= 48)
        return "/dev/ttyACM" + std::to_string(number - 33);
    return {};
}

bool IsPseudoTerminalNumber(std::uint64_t deviceNumber)
{
    // The majors of the UNIX 98 pseudo-terminal slaves.
    constexpr unsigned kFirstPtyMajor = 136;
    constexpr unsigned kLastPtyMajor = 143;
    const unsigned number = major(deviceNumber);
    return number >= kFirstPtyMajor && number <= kLastPtyMajor;
}

SerialDevice::SerialDevice()
    : epollFd_(epoll_create1(EPOLL_CLOEXEC)),
      maskChanged_(std::make_unique<SyncEvent>(SyncEvent::AutoReset)),
      saved_(std::make_unique<Saved>())
{
    if (epollFd_ >= 0 && maskChanged_->IsValid()) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = maskChanged_->Descriptor();
        epoll_ctl(epollFd_, EPOLL_CTL_ADD, maskChanged_->Descriptor(), &event);
    }
}

SerialDevice::~SerialDevice()
{
    Close();
    if (epollFd_ >= 0)
        close(epollFd_);
}

int SerialDevice::Open(const std::string &portName)
{
    lastError_ = CheckPortsDirectory();
    if (lastError_ != 0)
        return lastError_;
    const std::string path = ResolvePortName(portName);
    if (path.empty())
        return lastError_ = SystemError::FileNotFound;
    // Lock files and exclusivity belong to the device itself, not to a link that names it.
    char real[PATH_MAX];
    struct stat info {};
    if (!realpath(path.c_str(), real) || stat(real, &info) != 0)
        return lastError_ = OpenError(errno);
    if (!S_ISCHR(info.st_mode))
        return lastError_ = SystemError::BadUnit;
    lastError_ = lockFile_.Acquire(real, path);
    if (lastError_ != 0)
        return lastError_;
    const int descriptor = open(real, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    lastError_ = descriptor < 0 ? OpenError(errno) : Prepare(descriptor, true);
    if (lastError_ != 0)
        lockFile_.Release();
    return lastError_;
}

int SerialDevice::Adopt(int descriptor)
{
    if (descriptor < 0)
        return SystemError::InvalidHandle;
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0)
        return SystemErrorFromErrno(errno);
    fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    return Prepare(descriptor, false);
}

// Takes the device for this program alone and puts it into raw mode; closes it on failure.
int SerialDevice::Prepare(int descriptor, bool exclusive)
{
    auto fail = [descriptor](int error) {
        close(descriptor);
        return error;
    };
    if (epollFd_ < 0 || !maskChanged_->IsValid())
        return fail(SystemError::TooManyOpenFiles);
    // The lock holds against root as well, which TIOCEXCL does not.
    if (exclusive && flock(descriptor, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? SystemError::AccessDenied : SystemErrorFromErrno(errno));
    if (tcgetattr(descriptor, &saved_->settings) != 0) {
        // A placeholder tty without hardware answers EIO; a file that is no tty is no port.
        const int error = errno;
        if (error == EIO)
            return fail(SystemError::FileNotFound);
        return fail(Unsupported(error) ? SystemError::BadUnit : SystemErrorFromErrno(error));
    }
    bool ownsExclusiveMode = false;
    if (exclusive) {
        // Root opens a tty in another program's exclusive mode all the same: the mark itself
        // says that the port is in use.
        int held = 0;
        if (ioctl(descriptor, TIOCGEXCL, &held) == 0 && held) {
            // A program killed while it held the port leaves the mark on a tty that a bridge
            // keeps open. With no live holder in sight (its lock file was stale, or nobody else
            // has the device open), the mark is taken over and cleared at close.
            if (!lockFile_.TookOverStale() && OpenedElsewhere(descriptor))
                return fail(SystemError::AccessDenied);
            ownsExclusiveMode = true;
        } else if (ioctl(descriptor, TIOCEXCL) == 0)
            ownsExclusiveMode = true;
        else if (!Unsupported(errno))
            return fail(SystemErrorFromErrno(errno));
    }

    // A descriptor handed over keeps the settings its owner gave it.
    if (exclusive) {
        termios raw = saved_->settings;
        cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        if (tcsetattr(descriptor, TCSANOW, &raw) != 0) {
            const int error = errno;
            if (ownsExclusiveMode)
                ioctl(descriptor, TIOCNXCL);
            return fail(SystemErrorFromErrno(error));
        }
    }

    int lines = 0;
    hasModemLines_ = ioctl(descriptor, TIOCMGET, &lines) == 0;
    ownsExclusiveMode_ = ownsExclusiveMode;
    restore_ = exclusive;
    shadow_ = LineSettings{};
    fd_.store(descriptor);
    hasCounters_ = ReadCounters(errorCounters_);
    eventCounters_ = errorCounters_;
    eventModemLines_ = ReadModemLines();
    maskChanged_->Reset();
    mask_.store(0);

    epoll_event event{};
    // Edge-triggered: a wait reports new input once, not again and again while it lies unread.
    event.events = EPOLLIN | EPOLLET;
    event.data.fd = descriptor;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, descriptor, &event);
    return 0;
}

int SerialDevice::Close()
{
    std::unique_lock lock(fdLock_);
    const int descriptor = fd_.load();
    if (descriptor < 0)
        return SystemError::InvalidHandle;
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, descriptor, nullptr);
    if (restore_)
        tcsetattr(descriptor, TCSANOW, &saved_->settings);
    // The exclusive mark outlives our descriptor when another one stays open on the tty.
    if (ownsExclusiveMode_)
        ioctl(descriptor, TIOCNXCL);
    ownsExclusiveMode_ = false;
    fd_.store(-1);
    // A wait in progress must not sleep on for a device that is gone.
    maskChanged_->Set();
    const int closed = close(descriptor);
    const int error = errno;
    lockFile_.Release();
    if (closed != 0 && error != EINTR)
        return SystemErrorFromErrno(error);
    return 0;
}

int SerialDevice::GetState(LineSettings &settings)
{
    std::shared_lock lock(fdLock_);
    const int descriptor = fd_.load();
    termios current{};
    if (descriptor < 0)
        return SystemError::InvalidHandle;
    if (tcgetattr(descriptor, &current) != 0)
        return SystemErrorFromErrno(errno);

    settings = shadow_;
    const speed_t code = cfgetospeed(&current);
    settings.BaudRate = 0;
    for (const Speed &speed : kSpeeds) {
        if (speed.code == code)
            settings.BaudRate = speed.baud;
    }
    if (settings.BaudRate == 0) {
        std::uint32_t baud = 0;
        if (GetCustomBaud(descriptor, baud) == 0)
            settings.BaudRate = baud;
    }
    switch (current.c_cflag & CSIZE) {
    case CS5: settings.ByteSize = 5; break;
    case CS6: settings.ByteSize = 6; break;
    case CS7: settings.ByteSize = 7; break;
    default: settings.ByteSize = 8; break;
    }
    if (!(current.c_cflag & PARENB))
        settings.Parity = NOPARITY;
    else if (current.c_cflag & CMSPAR)
        settings.Parity = (current.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        settings.Parity = (current.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(current.c_cflag & CSTOPB))
        settings.StopBits = ONESTOPBIT;
    else
        settings.StopBits = settings.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    settings.fParity = (current.c_iflag & INPCK) != 0;
    settings.fOutX = (current.c_iflag & IXON) != 0;
    settings.fInX = (current.c_iflag & IXOFF) != 0;
    settings.XonChar = static_cast<char>(current.c_cc[VSTART]);
    settings.XoffChar = static_cast<char>(current.c_cc[VSTOP]);
    const bool hardware = (current.c_cflag & CRTSCTS) != 0;
    if (!hardware) {
        settings.fOutxCtsFlow = false;
        if (settings.fRtsControl == RTS_CONTROL_HANDSHAKE)
            settings.fRtsControl = RTS_CONTROL_ENABLE;
    } else if (!settings.fOutxCtsFlow && settings.fRtsControl != RTS_CONTROL_HANDSHAKE) {
        settings.fOutxCtsFlow = true;
    }
    return 0;
}

int SerialDevice::SetState(const LineSettings &settings)
{
    if (settings.ByteSize < 5 || settings.ByteSize > 8 || settings.Parity > SPACEPARITY
        || settings.StopBits > TWOSTOPBITS || settings.BaudRate == 0)
        return SystemError::InvalidParameter;

    std::shared_lock lock(fdLock_);
    const int descriptor = fd_.load();
    termios wanted{};
    if (descriptor < 0)
        return SystemError::InvalidHandle;
    if (tcgetattr(descriptor, &wanted) != 0)
        return SystemErrorFromErrno(errno);

    speed_t code = B9600;
    const bool standard = SpeedCode(settings.BaudRate, code);
    if (standard)
        cfsetspeed(&wanted, code);

    wanted.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    wanted.c_cflag |= kSizes[settings.ByteSize - 5] | CLOCAL | CREAD;
    switch (settings.Parity) {
    case ODDPARITY: wanted.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: wanted.c_cflag |= PARENB; break;
    case MARKPARITY: wanted.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: wanted.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    // One and a half stop bits exist only with 5 data bits, where the UART makes them of CSTOPB.
    if (settings.StopBits != ONESTOPBIT)
        wanted.c_cflag |= CSTOPB;
    if (settings.fOutxCtsFlow || settings.fRtsControl == RTS_CONTROL_HANDSHAKE)
        wanted.c_cflag |= CRTSCTS;

    wanted.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (settings.fParity)
        wanted.c_iflag |= INPCK;
    if (settings.fOutX)
        wanted.c_iflag |= IXON;
    if (settings.fInX)
        wanted.c_iflag |= IXOFF;
    wanted.c_cc[VSTART] = static_cast<cc_t>(settings.XonChar);
    wanted.c_cc[VSTOP] = static_cast<cc_t>(settings.XoffChar);

    if (tcsetattr(descriptor, TCSANOW, &wanted) != 0)
        return SystemErrorFromErrno(errno);
    if (!standard) {
        const int error = SetCustomBaud(descriptor, settings.BaudRate);
        if (error != 0)
            return SystemErrorFromErrno(error);
    }

    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if (settings.fDtrControl == DTR_CONTROL_ENABLE)
        ioctl(descriptor, TIOCMBIS, &dtr);
    else if (settings.fDtrControl == DTR_CONTROL_DISABLE)
        ioctl(descriptor, TIOCMBIC, &dtr);
    if (!(wanted.c_cflag & CRTSCTS)) {
        if (settings.fRtsControl == RTS_CONTROL_ENABLE)
            ioctl(descriptor, TIOCMBIS, &rts);
        else if (settings.fRtsControl == RTS_CONTROL_DISABLE)
            ioctl(descriptor, TIOCMBIC, &rts);
    }
    shadow_ = settings;
    return 0;
}

int SerialDevice::Escape(int function)
{
    std::shared_lock lock(fdLock_);
    const int descriptor = fd_.load();
    if (descriptor < 0)
        return SystemError::InvalidHandle;
    int bits = 0;
    int result = 0;
    switch (function) {
    case SETXOFF: result = tcflow(descriptor, TCIOFF); break;
    case SETXON: result = tcflow(descriptor, TCION); break;
    case SETRTS:
        bits = TIOCM_RTS;
        result = ioctl(descriptor, TIOCMBIS, &bits);
        break;
    case CLRRTS:
        bits = TIOCM_RTS;
        result = ioctl(descriptor, TIOCMBIC, &bits);
        break;
    case SETDTR:
        bits = TIOCM_DTR;
        result = ioctl(descriptor, TIOCMBIS, &bits);
        break;
    case CLRDTR:
        bits = TIOCM_DTR;
        result = ioctl(descriptor, TIOCMBIC, &bits);
        break;
    case SETBREAK: result = ioctl(descriptor, TIOCSBRK); break;
    case CLRBREAK: result = ioctl(descriptor, TIOCCBRK); break;
    default: return SystemError::InvalidParameter;
    }
    if (result != 0 && !Unsupported(errno))
        return SystemErrorFromErrno(errno);
    return 0;
}

int SerialDevice::Purge(unsigned directions)
{
    std::shared_lock lock(fdLock_);
    const int descriptor = fd_.load();
    if (descriptor < 0)
        return SystemError::InvalidHandle;
    const bool output = directions & (PURGE_TXABORT | PURGE_TXCLEAR);
    const bool input = directions & (PURGE_RXABORT | PURGE_RXCLEAR);
    const int queue = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
    if ((output || input) && tcflush(descriptor, queue) != 0)
        return SystemErrorFromErrno(errno);
    return 0;
}

bool SerialDevice::ReadCounters(Counters &counters)
{
    serial_icounter_struct icount{};
    if (ioctl(fd_.load(), TIOCGICOUNT, &icount) != 0)
        return false;
    counters = Counters{icount.cts,     icount.dsr,    icount.rng, icount.dcd,        icount.frame,
                        icount.overrun, icount.parity, icount.brk, icount.buf_overrun};
    return true;
}

int SerialDevice::ClearError(LineStatus &status, std::uint32_t &errors)
{
    std::shared_lock lock(fdLock_);
    const int descriptor = fd_.load();
    errors = 0;
    if (descriptor < 0)
        return SystemError::InvalidHandle;
    int waiting = 0;
    if (ioctl(descriptor, FIONREAD, &waiting) != 0)
        return SystemErrorFromErrno(errno);
    int queued = 0;
    if (ioctl(descriptor, TIOCOUTQ, &queued) != 0)
        queued = 0;
    status.Flags = 0;
    status.cbInQue = static_cast<std::uint32_t>(waiting);
    status.cbOutQue = static_cast<std::uint32_t>(queued);

    Counters now;
    if (hasCounters_ && ReadCounters(now)) {
        if (now.bufOverrun != errorCounters_.bufOverrun)
            errors |= CE_RXOVER;
        if (now.overrun != errorCounters_.overrun)
            errors |= CE_OVERRUN;
        if (now.parity != errorCounters_.parity)
            errors |= CE_RXPARITY;
        if (now.frame != errorCounters_.frame)
            errors |= CE_FRAME;
        if (now.brk != errorCounters_.brk)
            errors |= CE_BREAK;
        errorCounters_ = now;
    }
    return 0;
}

std::uint32_t SerialDevice::ModemStatus()
{
    std::shared_lock lock(fdLock_);
    return ReadModemLines();
}

std::uint32_t SerialDevice::ReadModemLines()
{
    int lines = 0;
    if (!hasModemLines_ || fd_.load() < 0 || ioctl(fd_.load(), TIOCMGET, &lines) != 0)
        return 0;
    std::uint32_t bits = 0;
    if (lines & TIOCM_CTS)
        bits |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        bits |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        bits |= MS_RING_ON;
    if (lines & TIOCM_CAR)
        bits |= MS_RLSD_ON;
    return bits;
}

std::uint32_t SerialDevice::OutputQueued()
{
    std::shared_lock lock(fdLock_);
    int queued = 0;
    if (fd_.load() < 0 || ioctl(fd_.load(), TIOCOUTQ, &queued) != 0)
        return 0;
    return static_cast<std::uint32_t>(queued);
}

int SerialDevice::Read(void *buffer, std::size_t count)
{
    std::shared_lock lock(fdLock_);
    const int descriptor = fd_.load();
    if (descriptor < 0)
        return -SystemError::InvalidHandle;
    const ssize_t got = read(descriptor, buffer, count);
    if (got >= 0)
        return static_cast<int>(got);
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    return -SystemErrorFromErrno(errno);
}

int SerialDevice::Write(const void *data, std::size_t count)
{
    std::shared_lock lock(fdLock_);
    const int descriptor = fd_.load();
    if (descriptor < 0)
        return -SystemError::InvalidHandle;
    const ssize_t written = write(descriptor, data, count);
    if (written > 0) {
        stalls_ = 0;
        return static_cast<int>(written);
    }
    if (written == 0 || errno == EAGAIN || errno == EINTR) {
        if (claimedWritable_)
            ++stalls_;
        return 0;
    }
    return -SystemErrorFromErrno(errno);
}

int SerialDevice::WaitWritable(SyncEvent &interrupt)
{
    claimedWritable_ = false;
    if (stalls_ > 0) {
        // The driver said it had room and then took nothing: poll would answer at once again,
        // so look again after a pause that grows up to 160 ms.
        pollfd entry{interrupt.Descriptor(), POLLIN, 0};
        const int pause = 10 << std::min(stalls_ - 1, 4);
        if (poll(&entry, 1, pause) > 0 && interrupt.TryTake())
            return 0;
        claimedWritable_ = true;
        return 1;
    }
    for (;;) {
        pollfd entries[2] = {{fd_.load(), POLLOUT, 0}, {interrupt.Descriptor(), POLLIN, 0}};
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if ((entries[1].revents & POLLIN) && interrupt.TryTake())
            return 0;
        // Writable, hung up or closed: the next write tells which.
        if (entries[0].revents) {
            claimedWritable_ = true;
            return 1;
        }
    }
}

int SerialDevice::SetMask(std::uint32_t mask)
{
    if (!IsOpen())
        return SystemError::InvalidHandle;
    mask_.store(mask);
    maskChanged_->Set();
    return 0;
}

std::uint32_t SerialDevice::SampleEvents()
{
    std::shared_lock lock(fdLock_);
    if (fd_.load() < 0)
        return 0;
    std::uint32_t events = 0;
    const std::uint32_t lines = ReadModemLines();
    const std::uint32_t changed = lines ^ eventModemLines_;
    eventModemLines_ = lines;
    if (changed & MS_CTS_ON)
        events |= EV_CTS;
    if (changed & MS_DSR_ON)
        events |= EV_DSR;
    if (changed & MS_RLSD_ON)
        events |= EV_RLSD;
    Counters now;
    if (hasCounters_ && ReadCounters(now)) {
        if (now.rng != eventCounters_.rng)
            events |= EV_RING;
        if (now.brk != eventCounters_.brk)
            events |= EV_BREAK;
        if (now.frame != eventCounters_.frame || now.overrun != eventCounters_.overrun
            || now.parity != eventCounters_.parity || now.bufOverrun != eventCounters_.bufOverrun)
            events |= EV_ERR;
        eventCounters_ = now;
    } else if ((changed & MS_RING_ON) && !(lines & MS_RING_ON)) {
        events |= EV_RING;
    }
    return events;
}

int SerialDevice::WaitEvent(std::uint32_t &events)
{
    events = 0;
    // Modem lines and error counters cannot be waited for together with a stop signal, so a
    // device that has them is looked at ten times a second; a pseudo-terminal sleeps until input.
    const int period = hasModemLines_ ? 100 : -1;
    for (;;) {
        if (!IsOpen())
            return SystemError::InvalidHandle;
        const std::uint32_t mask = mask_.load();
        if (mask == 0)
            return SystemError::InvalidParameter;
        epoll_event ready[2];
        const int count = epoll_wait(epollFd_, ready, 2, period);
        if (count < 0 && errno != EINTR)
            return SystemErrorFromErrno(errno);
        bool gone = false;
        for (int i = 0; i < count; ++i) {
            if (ready[i].data.fd == maskChanged_->Descriptor()) {
                maskChanged_->Reset();
                // The mask changed under the wait: it ends with no events.
                return IsOpen() ? 0 : SystemError::InvalidHandle;
            }
            if (ready[i].events & (EPOLLHUP | EPOLLERR))
                gone = true;
            else if (ready[i].events & EPOLLIN)
                events |= EV_RXCHAR;
        }
        if (gone)
            return SystemError::FileNotFound;
        if (hasModemLines_)
            events |= SampleEvents();
        events &= mask;
        if (events)
            return 0;
    }
}
