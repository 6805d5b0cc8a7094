#pragma once

#include <optional>
#include <string>
#include <vector>

// Which serial ports this machine has, as the program names them (COM1 to COM50), where each one
// leads, which driver and adapter stand behind it, and whether it can be opened now. The port
// dialog and the command line describe ports in the same words through this module.

enum class PortAccess { Free, Held, NoPermission };

struct PortDetails {
    int ComNumber = 0;
    // The path the program opens ($TAMBLO_PORTS/COM3, /dev/ttyUSB0, ...).
    std::string Path;
    // What the path leads to when it is a link (/dev/pts/4), else the path itself.
    std::string Device;
    // The stable names of the device in /dev/serial/by-id.
    std::vector<std::string> StableNames;
    // The kernel driver (ftdi_sio, cdc_acm, serial, ...), "pseudo-terminal", or empty when unknown.
    std::string Driver;
    // The USB adapter, when the device sits on one.
    std::string UsbVendorId;
    std::string UsbProductId;
    std::string UsbManufacturer;
    std::string UsbProduct;
    std::string UsbSerial;
    PortAccess Access = PortAccess::Free;
};

// The highest port number the program offers.
constexpr int HighestPortNumber = 50;

// The ports COM1 to COM50 that exist, in ascending order. Each is probed by opening it as the
// program would, and closed again at once.
std::vector<PortDetails> ListPorts();
// Port n, or nothing when it does not exist.
std::optional<PortDetails> InspectPort(int comNumber);
// A port named by its device path, or nothing when there is no such port.
std::optional<PortDetails> InspectDevicePath(const std::string &path);
// A port that this program holds open (its path), described without opening it again.
PortDetails DescribeHeldPort(const std::string &path);
// The same for a port given by its device path, or by its COM number when the path is empty.
PortDetails DescribeHeldPort(int comNumber, const std::string &devicePath);

// "free", "held" or "no permission".
const char *PortAccessText(PortAccess access);
// One line: the path (and where it leads), the stable names, the driver, the adapter and the
// access, for example "/dev/ttyUSB0 (/dev/serial/by-id/usb-FTDI_..-port0), ftdi_sio, USB FTDI
// FT232R USB UART 0403:6001 serial A50285BI, free".
std::string DescribePort(const PortDetails &port);

// The parts that read the system's tables, with their roots as arguments for the tests: the
// driver and USB adapter of tty `ttyName` from sysfs (`sysRoot`, normally "/sys"), and the links
// in `byIdDirectory` (normally "/dev/serial/by-id") that lead to `device`.
void ReadTtyDriver(const std::string &sysRoot, const std::string &ttyName, PortDetails &port);
std::vector<std::string> StableNamesOf(const std::string &byIdDirectory, const std::string &device);
