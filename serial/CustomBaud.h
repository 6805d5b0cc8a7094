#pragma once

#include <cstdint>

// Rates outside the standard termios table, through the kernel's own termios records. Kept
// apart because those records clash with <termios.h>. Both return 0 or errno.
int SetCustomBaud(int descriptor, std::uint32_t baud);
int GetCustomBaud(int descriptor, std::uint32_t &baud);
