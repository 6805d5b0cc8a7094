#include "serial/PortInventory.h"
#include "serial/SelectPort.h"
#include "tests/serial/SerialTestSupport.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

void WriteAttribute(const fs::path &path, const std::string &value)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << value << '\n';
}

// A sysfs tree as the kernel lays it out for a USB serial adapter and for a UART behind the
// serial core's own port devices.
class FakeSysfs {
public:
    FakeSysfs()
    {
        const fs::path root = Root();
        const fs::path usb = root / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
        WriteAttribute(usb / "idVendor", "0403");
        WriteAttribute(usb / "idProduct", "6001");
        WriteAttribute(usb / "manufacturer", "FTDI");
        WriteAttribute(usb / "product", "FT232R USB UART");
        WriteAttribute(usb / "serial", "A50285BI");
        const fs::path adapter = usb / "1-2:1.0/ttyUSB0";
        Device(adapter, "usb-serial", "ftdi_sio", "ttyUSB0");
        // The interface has a driver of its own, nearer the tty than the USB device.
        Driver(usb / "1-2:1.0", "usb", "ftdi_sio");

        const fs::path uart = root / "devices/pnp0/00:00";
        Driver(uart, "pnp", "serial");
        Device(uart / "00:00:0/00:00:0.0", "serial-base", "port", "ttyS0");
        Driver(uart / "00:00:0", "serial-base", "ctrl");
    }

    std::string Root() const { return dir_.path().toStdString(); }

private:
    void Driver(const fs::path &device, const std::string &bus, const std::string &name)
    {
        const fs::path driver = Root() + "/bus/" + bus + "/drivers/" + name;
        fs::create_directories(driver);
        fs::create_directories(device);
        fs::create_symlink(driver, device / "driver");
    }
    void Device(const fs::path &device, const std::string &bus, const std::string &driver, const std::string &tty)
    {
        Driver(device, bus, driver);
        const fs::path link = Root() + "/class/tty/" + tty;
        fs::create_directories(link);
        fs::create_symlink(device, link / "device");
    }

    QTemporaryDir dir_;
};

TEST(PortInventory, DriverAndAdapterComeFromSysfs)
{
    FakeSysfs sys;
    PortDetails usb;
    ReadTtyDriver(sys.Root(), "ttyUSB0", usb);
    EXPECT_EQ(usb.Driver, "ftdi_sio");
    EXPECT_EQ(usb.UsbVendorId, "0403");
    EXPECT_EQ(usb.UsbProductId, "6001");
    EXPECT_EQ(usb.UsbManufacturer, "FTDI");
    EXPECT_EQ(usb.UsbProduct, "FT232R USB UART");
    EXPECT_EQ(usb.UsbSerial, "A50285BI");

    PortDetails uart;
    ReadTtyDriver(sys.Root(), "ttyS0", uart);
    EXPECT_EQ(uart.Driver, "serial");
    EXPECT_EQ(uart.UsbVendorId, "");

    PortDetails none;
    ReadTtyDriver(sys.Root(), "ttyACM9", none);
    EXPECT_EQ(none.Driver, "");
}

TEST(PortInventory, StableNamesAreTheLinksThatLeadToTheDevice)
{
    PortsDirectory ports;
    PtyPort pty(ports, 1);
    PtyPort other(ports, 2);
    QTemporaryDir byId;
    const std::string a = byId.path().toStdString() + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const std::string b = byId.path().toStdString() + "/usb-Prolific_PL2303-if00-port0";
    fs::create_symlink(pty.SlaveName, a);
    fs::create_symlink(other.SlaveName, b);
    EXPECT_EQ(StableNamesOf(byId.path().toStdString(), pty.LinkPath), std::vector<std::string>{a});
    EXPECT_TRUE(StableNamesOf("/nonexistent", pty.LinkPath).empty());
}

TEST(PortInventory, PortsThatExistAreListedFreeOrHeld)
{
    PortsDirectory ports;
    PtyPort first(ports, 1);
    PtyPort third(ports, 3);
    // A link to nothing and a file that is no tty are no ports.
    fs::create_symlink("/dev/nonexistent-tty", ports.PortPath(5));
    std::ofstream(ports.PortPath(6)) << "not a tty";
    PtyPort beyond(ports, HighestPortNumber + 1);

    PortHolder holder(third.LinkPath);
    ASSERT_TRUE(holder.Holding());
    const std::vector<PortDetails> listed = ListPorts();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].ComNumber, 1);
    EXPECT_EQ(listed[0].Path, first.LinkPath);
    EXPECT_EQ(listed[0].Device, first.SlaveName);
    EXPECT_EQ(listed[0].Driver, "pseudo-terminal");
    EXPECT_EQ(listed[0].Access, PortAccess::Free);
    EXPECT_EQ(listed[1].ComNumber, 3);
    EXPECT_EQ(listed[1].Access, PortAccess::Held);
    EXPECT_EQ(DescribePort(listed[1]), third.LinkPath + " -> " + third.SlaveName + ", pseudo-terminal, held");

    // Looking does not disturb the port: it opens again at once.
    EXPECT_TRUE(InspectPort(1).has_value());
    EXPECT_FALSE(InspectPort(5).has_value());
    EXPECT_FALSE(InspectPort(2).has_value());
    EXPECT_EQ(InspectDevicePath(first.SlaveName)->Access, PortAccess::Free);
    EXPECT_FALSE(InspectDevicePath("/dev/nonexistent-tty").has_value());
}

TEST(PortInventory, TheDescriptionNamesTheAdapter)
{
    PortDetails port;
    port.ComNumber = 17;
    port.Path = "/dev/ttyUSB0";
    port.Device = "/dev/ttyUSB0";
    port.StableNames = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
    port.Driver = "ftdi_sio";
    port.UsbVendorId = "0403";
    port.UsbProductId = "6001";
    port.UsbManufacturer = "FTDI";
    port.UsbProduct = "FT232R USB UART";
    port.UsbSerial = "A50285BI";
    port.Access = PortAccess::NoPermission;
    EXPECT_EQ(DescribePort(port), "/dev/ttyUSB0 (/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0), "
                                  "ftdi_sio, USB FTDI FT232R USB UART 0403:6001 serial A50285BI, no permission");
}

// Each entry of the port dialog says, as its tool tip, what the inventory says of the port.
TEST(PortInventory, ThePortDialogShowsTheDescriptionAsEachEntrysToolTip)
{
    PortsDirectory ports;
    PtyPort first(ports, 1);
    PtyPort twelfth(ports, 12);
    TComSelectForm form;
    QComboBox *entries = form.PortsComboBox();
    ASSERT_EQ(entries->count(), 2);
    EXPECT_EQ(entries->itemText(0), QStringLiteral("COM1"));
    EXPECT_EQ(entries->itemText(1), QStringLiteral("COM12"));
    EXPECT_EQ(entries->itemData(0, Qt::ToolTipRole).toString().toStdString(),
              first.LinkPath + " -> " + first.SlaveName + ", pseudo-terminal, free");
    EXPECT_EQ(entries->itemData(1, Qt::ToolTipRole).toString().toStdString(), DescribePort(*InspectPort(12)));
}

} // namespace
