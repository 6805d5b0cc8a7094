#include "serial/CustomBaud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...);

int SetCustomBaud(int descriptor, std::uint32_t baud)
{
    termios2 settings{};
    if (ioctl(descriptor, TCGETS2, &settings) != 0)
        return errno;
    settings.c_cflag &= ~CBAUD;
    settings.c_cflag |= BOTHER;
    settings.c_cflag &= ~(CBAUD << IBSHIFT);
    settings.c_cflag |= BOTHER << IBSHIFT;
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    if (ioctl(descriptor, TCSETS2, &settings) != 0)
        return errno;
    return 0;
}

int GetCustomBaud(int descriptor, std::uint32_t &baud)
{
    termios2 settings{};
    if (ioctl(descriptor, TCGETS2, &settings) != 0)
        return errno;
    baud = settings.c_ospeed;
    return 0;
}
