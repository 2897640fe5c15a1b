// FakeSysfs.h: sysfs-shaped trees for tests and benchmarks, made at run time
// in a folder of the caller's: device folders with their attribute files, and
// the symbolic links the kernel makes (class/net/IF, class/tty/NAME, each
// port's "device", each device's "subsystem" and "driver"), all relative and
// as short as the kernel makes them, so that a tree works wherever it lives.
//
//   FakeSysfs sys(folder);
//   std::string nic = sys.Device("pci0000:00/0000:00:19.0", "pci", "e1000e");
//   sys.Net(nic, "eno1", 1, "8c:16:45:00:00:01");
//
// The machines the tests share (a laptop, a desktop with a two-port card in
// a slot, a mobile broadband dongle, a machine with a UART) are below.
#ifndef VZ_TESTS_FAKESYSFS_H
#define VZ_TESTS_FAKESYSFS_H

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vztest {

class FakeSysfs {
  public:
    explicit FakeSysfs(std::string folder) : folder_(std::move(folder))
    {
        for (const char *path : {"class/net", "class/tty", "bus/pci/slots", "devices/virtual"})
            std::filesystem::create_directories(folder_ + "/" + path);
    }
    const std::string &Folder() const { return folder_; }

    // The device folder devices/PATH on the bus (its "subsystem" link),
    // bound to driver unless that is empty; returns its path in the tree.
    std::string Device(const std::string &path, const std::string &bus,
                       const std::string &driver = "") const
    {
        std::string device = "devices/" + path;
        std::filesystem::create_directories(folder_ + "/" + device);
        Link(device + "/subsystem", "bus/" + bus);
        if (!driver.empty()) Link(device + "/driver", "bus/" + bus + "/drivers/" + driver);
        return device;
    }
    // A file of the tree holding value and the kernel's newline.
    void Attribute(const std::string &path, const std::string &value) const
    {
        Write(path, value + "\n");
    }
    void Write(const std::string &path, const std::string &contents) const
    {
        std::filesystem::create_directories(
            std::filesystem::path(folder_ + "/" + path).parent_path());
        std::ofstream(folder_ + "/" + path, std::ios::binary | std::ios::trunc) << contents;
    }
    // A symbolic link at path to target (both paths in the tree), relative.
    void Link(const std::string &path, const std::string &target) const
    {
        std::filesystem::create_directories(
            std::filesystem::path(folder_ + "/" + path).parent_path());
        std::filesystem::create_symlink(Relative(Parent(path), target), folder_ + "/" + path);
    }

    // The network interface NAME of device (a virtual one when device is
    // empty) with its type and address; returns its folder.
    std::string Net(const std::string &device, const std::string &name, int type,
                    const std::string &address) const
    {
        std::string folder = (device.empty() ? "devices/virtual" : device) + "/net/" + name;
        Attribute(folder + "/type", std::to_string(type));
        Attribute(folder + "/address", address);
        if (!device.empty()) Link(folder + "/device", device);
        Link(folder + "/subsystem", "class/net");
        Link("class/net/" + name, folder);
        return folder;
    }
    // The terminal NAME of device (a virtual one when device is empty), with
    // its device number; returns its folder.
    std::string Tty(const std::string &device, const std::string &name) const
    {
        std::string folder = (device.empty() ? "devices/virtual" : device) + "/tty/" + name;
        Attribute(folder + "/dev", "4:" + std::to_string(ttys_++));
        if (!device.empty()) Link(folder + "/device", device);
        Link(folder + "/subsystem", "class/tty");
        Link("class/tty/" + name, folder);
        return folder;
    }
    // A USB device under the host controller's root hub, with its product.
    std::string UsbDevice(const std::string &port, const std::string &product) const
    {
        std::string device = Device("pci0000:00/0000:00:14.0/usb1/" + port, "usb", "usb");
        if (!product.empty()) Attribute(device + "/product", product);
        return device;
    }
    // Interface number of a USB device, bound to driver.
    std::string UsbInterface(const std::string &device, int number, const std::string &driver) const
    {
        std::string name      = std::filesystem::path(device).filename().string();
        std::string path      = device.substr(8) + "/" + name + ":1." + std::to_string(number);
        std::string interface = Device(path, "usb", driver);
        char        hex[8];
        std::snprintf(hex, sizeof hex, "%02x", number); // as the kernel writes it
        Attribute(interface + "/bInterfaceNumber", hex);
        return interface;
    }
    // A USB serial port (ttyUSBn) of a USB interface, its driver's port
    // device between the two as the kernel has it.
    std::string UsbSerial(const std::string &interface, const std::string &name,
                          const std::string &portDriver) const
    {
        return Tty(Device(interface.substr(8) + "/" + name, "usb-serial", portDriver), name);
    }
    // A UART ttySn of the device with its serial core type (0: none there),
    // behind the serial core's controller and port devices of newer kernels.
    std::string Uart(const std::string &device, const std::string &name, int type) const
    {
        std::string base = device.substr(8) + "/" + Leaf(device) + ":0";
        Device(base, "serial-base", "ctrl");
        std::string port = Device(base + "/" + Leaf(device) + ":0.0", "serial-base", "port");
        std::string tty  = Tty(port, name);
        Attribute(tty + "/type", std::to_string(type));
        return tty;
    }
    void Slot(const std::string &name, const std::string &address) const
    {
        Attribute("bus/pci/slots/" + name + "/address", address);
    }

    static std::string Parent(const std::string &path)
    {
        size_t slash = path.rfind('/');
        return slash == std::string::npos ? "" : path.substr(0, slash);
    }
    static std::string Leaf(const std::string &path) { return path.substr(path.rfind('/') + 1); }

  private:
    static std::vector<std::string> Split(const std::string &path)
    {
        std::vector<std::string> parts;
        size_t                   start = 0;
        while (start < path.size()) {
            size_t end = path.find('/', start);
            if (end == std::string::npos) end = path.size();
            if (end > start) parts.push_back(path.substr(start, end - start));
            start = end + 1;
        }
        return parts;
    }
    // The shortest relative path from folder to target.
    static std::string Relative(const std::string &folder, const std::string &target)
    {
        std::vector<std::string> from = Split(folder), to = Split(target);
        size_t                   common = 0;
        while (common < from.size() && common < to.size() && from[common] == to[common])
            ++common;
        std::string relative;
        for (size_t i = common; i < from.size(); ++i)
            relative += "../";
        for (size_t i = common; i < to.size(); ++i)
            relative += to[i] + (i + 1 < to.size() ? "/" : "");
        return relative.empty() ? "." : relative;
    }

    std::string folder_;
    mutable int ttys_ = 0; // minor numbers
};

// ---- machines ----------------------------------------------------------------

// The pieces every PC has that are no ports: the loopback and a bridge,
// consoles and the pseudo-terminal master, and the four legacy serial ports
// of the platform's 8250 driver with no UART behind them.
inline void CommonDevices(const FakeSysfs &sys)
{
    sys.Net("", "lo", 772, "00:00:00:00:00:00");
    sys.Net("", "virbr0", 1, "52:54:00:12:34:56");
    for (const char *name : {"console", "ptmx", "tty0", "tty1"})
        sys.Tty("", name);
    std::string platform = sys.Device("platform/serial8250", "platform", "serial8250");
    for (const char *name : {"ttyS1", "ttyS2", "ttyS3", "ttyS10"})
        sys.Attribute(sys.Tty(platform, name) + "/type", "0");
}

// Built-in Ethernet on the chipset, Wi-Fi on a PCI Express card (not in a
// slot), a USB modem of the cdc-acm kind and a USB Ethernet adaptor.
inline void Laptop(const FakeSysfs &sys)
{
    CommonDevices(sys);
    sys.Net(sys.Device("pci0000:00/0000:00:1f.6", "pci", "e1000e"), "enp0s31f6", 1,
            "8c:16:45:aa:bb:01");
    std::string wifi = sys.Device("pci0000:00/0000:00:1c.0/0000:02:00.0", "pci", "iwlwifi");
    std::string wlan = sys.Net(wifi, "wlp2s0", 1, "a0:88:b4:aa:bb:02");
    sys.Link(wlan + "/phy80211", wifi + "/ieee80211/phy0");
    std::string modem = sys.UsbDevice("1-2", "ZORVEX V.92 USB Modem");
    sys.Tty(sys.UsbInterface(modem, 0, "cdc_acm"), "ttyACM0");
    std::string dock = sys.UsbDevice("1-4", "USB 10/100/1000 LAN");
    sys.Net(sys.UsbInterface(dock, 0, "r8152"), "enx00e04c680001", 1, "00:e0:4c:68:00:01");
}

// Built-in Ethernet, and a two-port card in the physical slot "4" (one
// empty slot and one naming only a bus beside it).
inline void Desktop(const FakeSysfs &sys)
{
    CommonDevices(sys);
    sys.Net(sys.Device("pci0000:00/0000:00:19.0", "pci", "e1000e"), "eno1", 1, "8c:16:45:cc:dd:01");
    for (int function = 0; function < 2; ++function) {
        std::string card = sys.Device(
            "pci0000:00/0000:00:1c.4/0000:03:00." + std::to_string(function), "pci", "igb");
        sys.Net(card, "enp3s0f" + std::to_string(function), 1,
                "a0:36:9f:00:00:1" + std::to_string(function));
    }
    sys.Slot("1", "0000:05");
    sys.Slot("4", "0000:03:00");
    sys.Slot("6", "0000:04:00");
}

// A mobile broadband dongle: three serial ports bound to the option driver,
// and its network interface in raw IP mode.
inline void Dongle(const FakeSysfs &sys)
{
    CommonDevices(sys);
    std::string dongle = sys.UsbDevice("1-1", "ZORVEX Mobile Broadband");
    for (int port = 0; port < 3; ++port)
        sys.UsbSerial(sys.UsbInterface(dongle, port, "option"), "ttyUSB" + std::to_string(port),
                      "option1");
    sys.Net(sys.UsbInterface(dongle, 4, "qmi_wwan"), "wwan0", 65534, "");
}

// The maker's dongle, its device's manufacturer "ZORVEX": three serial ports
// bound to the option driver on interfaces 0 to 2, and its network interface
// on interface 4.
inline void MakersDongle(const FakeSysfs &sys)
{
    CommonDevices(sys);
    std::string dongle = sys.UsbDevice("1-1", "ZORVEX Mobile");
    sys.Attribute(dongle + "/manufacturer", "ZORVEX");
    for (int port = 0; port < 3; ++port)
        sys.UsbSerial(sys.UsbInterface(dongle, port, "option"), "ttyUSB" + std::to_string(port),
                      "option1");
    sys.Net(sys.UsbInterface(dongle, 4, "qmi_wwan"), "wwan0", 65534, "");
}

// A UART on the motherboard (ttyS0), one on a PCI card (ttyS4) and a USB
// serial adaptor.
inline void UartMachine(const FakeSysfs &sys)
{
    CommonDevices(sys);
    sys.Uart(sys.Device("pnp0/00:04", "pnp", "serial"), "ttyS0", 4);
    sys.Uart(sys.Device("pci0000:00/0000:00:1c.2/0000:04:00.0", "pci", "exar_serial"), "ttyS4", 4);
    std::string adaptor = sys.UsbDevice("1-3", "USB-Serial Cable");
    sys.UsbSerial(sys.UsbInterface(adaptor, 0, "ftdi_sio"), "ttyUSB0", "ftdi_sio");
}

} // namespace vztest

#endif
