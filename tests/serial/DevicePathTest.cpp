#include "serial/ComPort.h"
#include "serial/DeviceLayer.h"
#include "tests/serial/SerialTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(DevicePath, ADevicePathIsOpenedAsItIs)
{
    PortsDirectory ports;
    EXPECT_EQ(ResolvePortName("/dev/ttyUSB3"), "/dev/ttyUSB3");
    EXPECT_EQ(ResolvePortName("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"),
              "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    EXPECT_EQ(ResolvePortName("COM3"), ports.PortPath(3));
    EXPECT_EQ(ResolvePortName("dev/ttyUSB3"), "");
}

// A port named by its device path needs no port number and asks for none.
TEST(DevicePath, ThePortComponentSendsToTheDeviceItIsGiven)
{
    PortsDirectory ports;
    PtyPort pty(ports, 4);
    TComPort port;
    port.setBaud(9600);
    port.setPromptForPort(false);
    port.setDevicePath(pty.SlaveName);
    port.SendText("REC2\r\n");
    EXPECT_EQ(pty.Read(6), "REC2\r\n");
    EXPECT_EQ(port.ComNumber(), 0);
}

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
