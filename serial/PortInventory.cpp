#include "serial/PortInventory.h"

#include "serial/DeviceLayer.h"
#include "serial/SystemErrors.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How far above a tty's device sysfs is searched for its USB device.
constexpr int kMaxParentLevels = 8;

std::string RealPath(const std::string &path)
{
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    return error ? std::string() : real.string();
}

std::string BaseName(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The first line of a sysfs attribute, without its line end; empty when there is none.
std::string ReadAttribute(const std::string &path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool IsPseudoTerminal(const std::string &device)
{
    struct stat info {};
    return ::stat(device.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && IsPseudoTerminalNumber(info.st_rdev);
}

// Opens the port as the program does and closes it again: nothing when it does not exist.
std::optional<PortAccess> Probe(const std::string &path)
{
    SerialDevice device;
    const int result = device.Open(path);
    if (result == 0) {
        device.Close();
        return PortAccess::Free;
    }
    if (result == SystemError::AccessDenied)
        return PortAccess::Held;
    if (result == SystemError::InvalidAccess)
        return PortAccess::NoPermission;
    return std::nullopt;
}

PortDetails Describe(const std::string &path, PortAccess access)
{
    PortDetails port;
    port.Path = path;
    port.Access = access;
    const std::string real = RealPath(path);
    port.Device = real.empty() ? path : real;
    port.StableNames = StableNamesOf("/dev/serial/by-id", port.Device);
    if (IsPseudoTerminal(port.Device))
        port.Driver = "pseudo-terminal";
    else
        ReadTtyDriver("/sys", BaseName(port.Device), port);
    return port;
}

} // namespace

void ReadTtyDriver(const std::string &sysRoot, const std::string &ttyName, PortDetails &port)
{
    const std::string root = RealPath(sysRoot);
    std::string directory = RealPath(sysRoot + "/class/tty/" + ttyName + "/device");
    if (root.empty() || directory.empty())
        return;
    for (int level = 0; level < kMaxParentLevels && directory.size() > root.size(); ++level) {
        // The serial core's own port and controller devices sit between a tty and its hardware.
        const std::string driver = RealPath(directory + "/driver");
        if (port.Driver.empty() && !driver.empty() && driver.find("/bus/serial-base/") == std::string::npos)
            port.Driver = BaseName(driver);
        if (::access((directory + "/idVendor").c_str(), F_OK) == 0) {
            port.UsbVendorId = ReadAttribute(directory + "/idVendor");
            port.UsbProductId = ReadAttribute(directory + "/idProduct");
            port.UsbManufacturer = ReadAttribute(directory + "/manufacturer");
            port.UsbProduct = ReadAttribute(directory + "/product");
            port.UsbSerial = ReadAttribute(directory + "/serial");
            return;
        }
        directory = Parent(directory);
    }
}

std::vector<std::string> StableNamesOf(const std::string &byIdDirectory, const std::string &device)
{
    std::vector<std::string> names;
    const std::string target = RealPath(device);
    std::error_code error;
    if (target.empty())
        return names;
    for (const auto &entry : std::filesystem::directory_iterator(byIdDirectory, error)) {
        if (RealPath(entry.path()) == target)
            names.push_back(entry.path());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<PortDetails> InspectPort(int comNumber)
{
    if (comNumber <= 0)
        return std::nullopt;
    const std::string path = ResolvePortName("COM" + std::to_string(comNumber));
    if (path.empty())
        return std::nullopt;
    const std::optional<PortAccess> access = Probe(path);
    if (!access)
        return std::nullopt;
    PortDetails port = Describe(path, *access);
    port.ComNumber = comNumber;
    return port;
}

std::optional<PortDetails> InspectDevicePath(const std::string &path)
{
    if (path.empty() || path.front() != '/')
        return std::nullopt;
    const std::optional<PortAccess> access = Probe(path);
    if (!access)
        return std::nullopt;
    return Describe(path, *access);
}

PortDetails DescribeHeldPort(const std::string &path) { return Describe(path, PortAccess::Held); }

PortDetails DescribeHeldPort(int comNumber, const std::string &devicePath)
{
    return DescribeHeldPort(devicePath.empty() ? ResolvePortName("COM" + std::to_string(comNumber)) : devicePath);
}

std::vector<PortDetails> ListPorts()
{
    std::vector<PortDetails> ports;
    for (int n = 1; n <= HighestPortNumber; ++n) {
        if (std::optional<PortDetails> port = InspectPort(n))
            ports.push_back(std::move(*port));
    }
    return ports;
}

const char *PortAccessText(PortAccess access)
{
    switch (access) {
    case PortAccess::Free: return "free";
    case PortAccess::Held: return "held";
    case PortAccess::NoPermission: return "no permission";
    }
    return "";
}

std::string DescribePort(const PortDetails &port)
{
    std::string text = port.Path;
    if (!port.Device.empty() && port.Device != port.Path)
        text += " -> " + port.Device;
    if (!port.StableNames.empty()) {
        text += " (";
        for (std::size_t i = 0; i < port.StableNames.size(); ++i)
            text += (i ? ", " : "") + port.StableNames[i];
        text += ")";
    }
    if (!port.Driver.empty())
        text += ", " + port.Driver;
    if (!port.UsbVendorId.empty()) {
        std::string adapter = "USB";
        for (const std::string *part : {&port.UsbManufacturer, &port.UsbProduct}) {
            if (!part->empty())
                adapter += " " + *part;
        }
        adapter += " " + port.UsbVendorId + ":" + port.UsbProductId;
        if (!port.UsbSerial.empty())
            adapter += " serial " + port.UsbSerial;
        text += ", " + adapter;
    }
    text += ", ";
    text += PortAccessText(port.Access);
    return text;
}
