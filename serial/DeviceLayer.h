#pragma once

#include "serial/PortLock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>

class SyncEvent;

// Line events a wait can report.
constexpr std::uint32_t EV_RXCHAR = 0x0001;
constexpr std::uint32_t EV_RXFLAG = 0x0002;
constexpr std::uint32_t EV_TXEMPTY = 0x0004;
constexpr std::uint32_t EV_CTS = 0x0008;
constexpr std::uint32_t EV_DSR = 0x0010;
constexpr std::uint32_t EV_RLSD = 0x0020;
constexpr std::uint32_t EV_BREAK = 0x0040;
constexpr std::uint32_t EV_ERR = 0x0080;
constexpr std::uint32_t EV_RING = 0x0100;
// Trailing edge of a ring, only known to older systems.
constexpr std::uint32_t EV_RINGTE = 0x2000;

// Line error bits.
constexpr std::uint32_t CE_RXOVER = 0x0001;
constexpr std::uint32_t CE_OVERRUN = 0x0002;
constexpr std::uint32_t CE_RXPARITY = 0x0004;
constexpr std::uint32_t CE_FRAME = 0x0008;
constexpr std::uint32_t CE_BREAK = 0x0010;

// Modem line bits.
constexpr std::uint32_t MS_CTS_ON = 0x0010;
constexpr std::uint32_t MS_DSR_ON = 0x0020;
constexpr std::uint32_t MS_RING_ON = 0x0040;
constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// Escape functions.
constexpr int SETXOFF = 1;
constexpr int SETXON = 2;
constexpr int SETRTS = 3;
constexpr int CLRRTS = 4;
constexpr int SETDTR = 5;
constexpr int CLRDTR = 6;
constexpr int SETBREAK = 8;
constexpr int CLRBREAK = 9;

// Purge directions.
constexpr unsigned PURGE_TXABORT = 0x1;
constexpr unsigned PURGE_RXABORT = 0x2;
constexpr unsigned PURGE_TXCLEAR = 0x4;
constexpr unsigned PURGE_RXCLEAR = 0x8;

// DTR and RTS control modes.
constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
constexpr std::uint8_t RTS_CONTROL_TOGGLE = 3;

// Parity and stop-bit codes.
constexpr std::uint8_t NOPARITY = 0;
constexpr std::uint8_t ODDPARITY = 1;
constexpr std::uint8_t EVENPARITY = 2;
constexpr std::uint8_t MARKPARITY = 3;
constexpr std::uint8_t SPACEPARITY = 4;
constexpr std::uint8_t ONESTOPBIT = 0;
constexpr std::uint8_t ONE5STOPBITS = 1;
constexpr std::uint8_t TWOSTOPBITS = 2;

// The line settings of a device, field by field. What the tty cannot express (DSR flow, DTR
// handshake, the flow limits, ...) is kept by the device and read back as it was set.
struct LineSettings {
    std::uint32_t BaudRate = 9600;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = DTR_CONTROL_ENABLE;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = true;
    bool fOutX = false;
    bool fInX = false;
    bool fNull = false;
    std::uint8_t fRtsControl = RTS_CONTROL_ENABLE;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = NOPARITY;
    std::uint8_t StopBits = ONESTOPBIT;
    char XonChar = 17;
    char XoffChar = 19;
};

// Queue state of a device.
struct LineStatus {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

// The tty path for a port name "\\.\COMn" (or "COMn"): $TAMBLO_PORTS/COMn when that variable
// is set, otherwise COM1-16 = /dev/ttyS0-15, COM17-32 = /dev/ttyUSB0-15, COM33-48 =
// /dev/ttyACM0-15. A device path (beginning with "/") is taken as it is. Empty when the name
// maps to no device, also when TAMBLO_PORTS is set but names no directory.
std::string ResolvePortName(const std::string &portName);
// 0, or BadEnvironment when TAMBLO_PORTS is set but names no directory: then no port exists.
int CheckPortsDirectory();

// Whether a character device number belongs to a pseudo-terminal's slave end (/dev/pts/N).
bool IsPseudoTerminalNumber(std::uint64_t deviceNumber);

// One open serial device on a tty. Every operation returns 0 (or a count) on success and a
// system error number, negated where a count could be returned, on failure. The operations may
// be called from several threads; Close waits for the ones in progress.
class SerialDevice {
public:
    SerialDevice();
    ~SerialDevice();

    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    // Opens exclusively, in raw mode: 0, or FileNotFound for a port that does not exist (also a
    // placeholder tty without hardware), AccessDenied for one that another program holds (by a
    // lock on the device, its exclusive mode or a lock file), InvalidAccess for one this user
    // may not open, BadUnit for a path that is no serial device, BadEnvironment for a
    // TAMBLO_PORTS that names no directory.
    int Open(const std::string &portName);
    // Takes over a descriptor that is already open (a device handed over by another facility).
    int Adopt(int descriptor);
    // Restores the settings found at open and closes.
    int Close();
    bool IsOpen() const { return fd_.load() >= 0; }
    int Descriptor() const { return fd_.load(); }
    // Whether the device answers the modem-line requests (pseudo-terminals do not).
    bool HasModemLines() const { return hasModemLines_; }

    int GetState(LineSettings &settings);
    int SetState(const LineSettings &settings);
    // DTR, RTS, break and XON/XOFF by hand. Requests the device does not know change nothing.
    int Escape(int function);
    int Purge(unsigned directions);
    // Fills the queue counts and returns the line error bits met since the last call in errors.
    // Callers serialise it among themselves.
    int ClearError(LineStatus &status, std::uint32_t &errors);
    // Modem line bits; 0 for a device without modem lines.
    std::uint32_t ModemStatus();
    // Bytes the driver still has to transmit.
    std::uint32_t OutputQueued();

    // Reads what is there without waiting: the count, or the negated system error.
    int Read(void *buffer, std::size_t count);
    // Writes what the driver takes without waiting: the count, 0 when the driver is full (wait
    // with WaitWritable), or the negated system error.
    int Write(const void *data, std::size_t count);
    // Waits until the driver takes more output or interrupt is set (and taken): 1 or 0.
    int WaitWritable(SyncEvent &interrupt);

    // Selects the line events that WaitEvent reports; a change ends a wait in progress, which
    // then reports no events.
    int SetMask(std::uint32_t mask);
    // Waits for line events in the mask: 0 with the events, or a system error when the device
    // is gone or closed or the mask is empty.
    int WaitEvent(std::uint32_t &events);

    // The system error of the last failed Open.
    int LastError() const { return lastError_; }
    // When a lock file refused the last Open: who holds it, naming the file; else empty.
    const std::string &Holder() const { return lockFile_.Holder(); }

private:
    struct Counters {
        int cts = 0, dsr = 0, rng = 0, dcd = 0;
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };
    bool ReadCounters(Counters &counters);
    int Prepare(int descriptor, bool exclusive);
    std::uint32_t SampleEvents();
    std::uint32_t ReadModemLines();

    std::atomic<int> fd_{-1};
    // Held shared by every call on the descriptor, exclusively by Close.
    std::shared_mutex fdLock_;
    int epollFd_ = -1;
    std::unique_ptr<SyncEvent> maskChanged_;
    std::atomic<std::uint32_t> mask_{0};
    bool hasModemLines_ = false;
    bool hasCounters_ = false;
    // This object put the tty into exclusive mode, so it clears the mode again at close.
    bool ownsExclusiveMode_ = false;
    PortLock lockFile_;
    // Output thread only: a pseudo-terminal can report room that a write then refuses.
    bool claimedWritable_ = false;
    int stalls_ = 0;
    bool restore_ = false;
    int lastError_ = 0;
    LineSettings shadow_;
    Counters errorCounters_;
    Counters eventCounters_;
    std::uint32_t eventModemLines_ = 0;
    // The termios settings found at open, restored at close.
    struct Saved;
    std::unique_ptr<Saved> saved_;
};
