#pragma once

#include <string>

// The serial link numbers operating-system failures the Windows way, so that its result codes
// (-n for system error n) and message table keep one numbering on every platform.
namespace SystemError {
constexpr int InvalidFunction = 1;
constexpr int FileNotFound = 2;
constexpr int PathNotFound = 3;
constexpr int TooManyOpenFiles = 4;
constexpr int AccessDenied = 5;
constexpr int InvalidHandle = 6;
constexpr int NotEnoughMemory = 8;
// TAMBLO_PORTS is set but names no directory.
constexpr int BadEnvironment = 10;
// The user has no permission to open the port (not in the group that may use serial ports).
constexpr int InvalidAccess = 12;
constexpr int WriteProtect = 19;
// The path exists but is no serial device (a directory, a plain file, ...).
constexpr int BadUnit = 20;
constexpr int GenFailure = 31;
constexpr int SharingViolation = 32;
constexpr int NotSupported = 50;
constexpr int InvalidParameter = 87;
constexpr int BrokenPipe = 109;
constexpr int DiskFull = 112;
constexpr int SemTimeout = 121;
constexpr int OperationAborted = 995;
constexpr int IoDevice = 1117;
} // namespace SystemError

// The system error number for an errno value, as met outside any particular call: a missing or
// placeholder device is FileNotFound, a device held elsewhere (or our lock refused) AccessDenied.
int SystemErrorFromErrno(int errnoValue);

// Linux's own words for a system error number, or an empty text when it has none. The errors
// that only opening a port meets (BadEnvironment, InvalidAccess, BadUnit) get texts that say
// what to do about them.
std::string SystemErrorText(int systemError);
