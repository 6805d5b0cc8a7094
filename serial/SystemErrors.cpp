#include "serial/SystemErrors.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct Pair {
    int errnoValue;
    int systemError;
};

// errno -> system error. Several errno values share a system error; the first row of each
// system error is the errno whose words describe it.
constexpr std::array<Pair, 27> kPairs{{
    {ENOENT, SystemError::FileNotFound},      {ENXIO, SystemError::FileNotFound},
    {ENODEV, SystemError::FileNotFound},      {EIO, SystemError::FileNotFound},
    {ENOTDIR, SystemError::PathNotFound},     {ENAMETOOLONG, SystemError::PathNotFound},
    {ELOOP, SystemError::PathNotFound},       {EMFILE, SystemError::TooManyOpenFiles},
    {ENFILE, SystemError::TooManyOpenFiles},  {EACCES, SystemError::AccessDenied},
    {EPERM, SystemError::AccessDenied},       {EBUSY, SystemError::AccessDenied},
    {EWOULDBLOCK, SystemError::AccessDenied}, {EBADF, SystemError::InvalidHandle},
    {ENOMEM, SystemError::NotEnoughMemory},   {EROFS, SystemError::WriteProtect},
    {ENOTTY, SystemError::InvalidFunction},   {EOPNOTSUPP, SystemError::NotSupported},
    {ENOSYS, SystemError::NotSupported},      {EINVAL, SystemError::InvalidParameter},
    {EPIPE, SystemError::BrokenPipe},         {ENOSPC, SystemError::DiskFull},
    {ETIMEDOUT, SystemError::SemTimeout},     {ECANCELED, SystemError::OperationAborted},
    {EINTR, SystemError::OperationAborted},   {EFAULT, SystemError::InvalidParameter},
    {EPROTO, SystemError::IoDevice},
}};

// The words for system errors whose first errno row above would describe them poorly.
struct Words {
    int systemError;
    int errnoValue;
};
constexpr std::array<Words, 3> kWords{{
    {SystemError::AccessDenied, EACCES},
    {SystemError::GenFailure, EIO},
    {SystemError::IoDevice, EIO},
}};

} // namespace

int SystemErrorFromErrno(int errnoValue)
{
    for (const Pair &pair : kPairs) {
        if (pair.errnoValue == errnoValue)
            return pair.systemError;
    }
    return SystemError::GenFailure;
}

std::string SystemErrorText(int systemError)
{
    switch (systemError) {
    case SystemError::BadEnvironment: {
        const char *ports = std::getenv("TAMBLO_PORTS");
        return std::string("TAMBLO_PORTS does not name a directory: \"") + (ports ? ports : "") + "\"";
    }
    case SystemError::InvalidAccess:
        return "Permission denied: this user may not open the serial port (add the user to the "
               "dialout group and log in again)";
    case SystemError::BadUnit: return "Not a serial device";
    default: break;
    }
    int errnoValue = 0;
    for (const Words &words : kWords) {
        if (words.systemError == systemError)
            errnoValue = words.errnoValue;
    }
    for (const Pair &pair : kPairs) {
        if (errnoValue == 0 && pair.systemError == systemError)
            errnoValue = pair.errnoValue;
    }
    if (errnoValue == 0)
        return {};
    return std::strerror(errnoValue);
}
