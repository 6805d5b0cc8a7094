#include "serial/ComPort.h"
#include "tests/serial/SerialTestSupport.h"

#include <gtest/gtest.h>

namespace {

// The far end of a pseudo-terminal (the simulator, a bridge to another machine) may read what
// was sent only after the port has closed: closing must not take it back. Whether the kernel
// still held the bytes at the close varies from one run to the next, so it is tried many times.
TEST(PseudoTerminal, WhatWasSentBeforeTheCloseReachesAFarEndThatReadsLate)
{
    PortsDirectory ports;
    PtyPort pty(ports, 1);
    int lost = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        {
            TComPort port;
            port.setBaud(9600);
            port.setComNumber(1);
            port.SendText("REC\r\n");
        }
        if (pty.Drain(20) != "REC\r\n")
            ++lost;
    }
    EXPECT_EQ(lost, 0);
}

} // namespace
