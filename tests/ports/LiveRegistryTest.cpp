// LiveRegistryTest.cpp: the ports of machines described by sysfs-shaped trees
// (a live root without a snapshot), and the same trees with one thing broken.
#include "FakeSysfs.h"
#include "PortTestSupport.h"

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using vztest::FakeSysfs;

class LivePorts : public vztest::PortScan {
  protected:
    void SetUp() override
    {
        PortScan::SetUp();
        setenv("VAVIVAZ_LIVE", "1", 1);
        MoreSCTestingForgetSystemVersion();
    }
    void TearDown() override
    {
        unsetenv("VAVIVAZ_LIVE");
        PortScan::TearDown();
    }
    // A new empty tree, the one the platform reads from now on.
    FakeSysfs Sysfs()
    {
        std::string folder = root_ + "/sys" + std::to_string(trees_++);
        setenv("VAVIVAZ_SYSFS", folder.c_str(), 1);
        VZFlushPlatformCaches();
        return FakeSysfs(folder);
    }

  private:
    int trees_ = 0;
};

const std::vector<std::string> kLaptopPorts = {
    "ZORVEX V.92 USB Modem|Modem|ttyACM0|1",
    "AirPort|AirPort|wlp2s0|10 MACAddress=a0:88:b4:aa:bb:02",
    "Ethernet Adaptor (enp0s31f6)|Ethernet|enp0s31f6|12 BSD Name=enp0s31f6 "
    "MACAddress=8c:16:45:aa:bb:01",
    "Ethernet Adaptor (enx00e04c680001)|Ethernet|enx00e04c680001|12 BSD Name=enx00e04c680001 "
    "MACAddress=00:e0:4c:68:00:01",
};

TEST_F(LivePorts, EachMachineGivesItsPorts)
{
    struct Row {
        const char *machine;
        void (*build)(const FakeSysfs &);
        std::vector<std::string> ports;
    };
    const Row rows[] = {
        {"laptop", vztest::Laptop, kLaptopPorts},
        {"desktop",
         vztest::Desktop,
         {"PCI Ethernet Slot 4, Port 1|Ethernet|enp3s0f0|8 IOChildIndex=1 "
          "MACAddress=a0:36:9f:00:00:10 slot-name=4",
          "PCI Ethernet Slot 4, Port 2|Ethernet|enp3s0f1|8 IOChildIndex=2 "
          "MACAddress=a0:36:9f:00:00:11 slot-name=4",
          "Ethernet Adaptor (eno1)|Ethernet|eno1|12 BSD Name=eno1 MACAddress=8c:16:45:cc:dd:01"}},
        {"dongle",
         vztest::Dongle,
         {"ZORVEX Mobile Broadband|Modem|ttyUSB0|1", "ZORVEX Mobile Broadband|Modem|ttyUSB1|1",
          "ZORVEX Mobile Broadband|Modem|ttyUSB2|1"}},
        {"UART",
         vztest::UartMachine,
         {"serial-port|Modem|ttyS0|5 IOTTYBaseName=serial",
          "serial-port|Modem|ttyS4|5 IOTTYBaseName=serial", "USB-Serial Cable|Modem|ttyUSB0|5"}},
        {"empty tree", [](const FakeSysfs &) {}, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.machine);
        row.build(Sysfs());
        EXPECT_EQ(Lines(), row.ports);
    }
    // No sysfs at all: nothing to find, and no failure.
    setenv("VAVIVAZ_SYSFS", (root_ + "/nothing").c_str(), 1);
    VZFlushPlatformCaches();
    EXPECT_EQ(Lines(), std::vector<std::string>());
}

// Each row breaks one thing of the laptop: only the port it concerns loses
// the property, or is left out, and the scan goes on.
TEST_F(LivePorts, BadInputCostsOnlyWhatIsBad)
{
    const std::string wifi    = "devices/pci0000:00/0000:00:1c.0/0000:02:00.0";
    const std::string wlan    = wifi + "/net/wlp2s0";
    const std::string eth     = "devices/pci0000:00/0000:00:1f.6/net/enp0s31f6";
    const std::string usb     = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    auto              replace = [](const FakeSysfs &sys, const std::string &path) {
        std::filesystem::remove(sys.Folder() + "/" + path);
    };
    auto folderAt = [&](const FakeSysfs &sys, const std::string &path) {
        replace(sys, path);
        std::filesystem::create_directory(sys.Folder() + "/" + path);
    };
    auto fifoAt = [&](const FakeSysfs &sys, const std::string &path) {
        replace(sys, path);
        ASSERT_EQ(mkfifo((sys.Folder() + "/" + path).c_str(), 0600), 0);
    };
    auto linkAt = [&](const FakeSysfs &sys, const std::string &path, const std::string &target) {
        replace(sys, path);
        std::filesystem::create_symlink(target, sys.Folder() + "/" + path);
    };
    const std::string noWlan = "wlp2s0 left out", noEthMAC = "enp0s31f6 without MAC",
                      noProduct = "ttyACM0 without product", noModem = "ttyACM0 left out";
    struct Row {
        const char                               *damage;
        std::function<void(const FakeSysfs &sys)> apply;
        std::string                               effect;
    };
    const Row rows[] = {
        {"type not a number", [&](auto &sys) { sys.Attribute(wlan + "/type", "ether"); }, noWlan},
        {"type empty", [&](auto &sys) { sys.Write(wlan + "/type", ""); }, noWlan},
        {"type with a sign", [&](auto &sys) { sys.Attribute(wlan + "/type", "+1"); }, noWlan},
        {"type beyond 32 bits", [&](auto &sys) { sys.Attribute(wlan + "/type", "4294967297"); },
         noWlan},
        {"type missing", [&](auto &sys) { replace(sys, wlan + "/type"); }, noWlan},
        {"type a folder", [&](auto &sys) { folderAt(sys, wlan + "/type"); }, noWlan},
        {"type a FIFO", [&](auto &sys) { fifoAt(sys, wlan + "/type"); }, noWlan},
        {"type a link",
         [&](auto &sys) {
             sys.Attribute(wlan + "/type-elsewhere", "1");
             linkAt(sys, wlan + "/type", "type-elsewhere");
         },
         noWlan},
        {"address short a digit",
         [&](auto &sys) { sys.Attribute(eth + "/address", "8c:16:45:aa:bb:0"); }, noEthMAC},
        {"address not hexadecimal",
         [&](auto &sys) { sys.Attribute(eth + "/address", "8c:16:45:aa:bb:zz"); }, noEthMAC},
        {"address with a trailing colon",
         [&](auto &sys) { sys.Attribute(eth + "/address", "8c:16:45:aa:bb:01:"); }, noEthMAC},
        {"address a folder", [&](auto &sys) { folderAt(sys, eth + "/address"); }, noEthMAC},
        {"address longer than a page",
         [&](auto &sys) { sys.Attribute(eth + "/address", std::string(5000, 'a')); }, noEthMAC},
        {"device link leading nowhere",
         [&](auto &sys) { linkAt(sys, wlan + "/device", "../../../0000:02:00.7"); }, noWlan},
        {"device link in a loop",
         [&](auto &sys) {
             linkAt(sys, wlan + "/device", "../../loop-a");
             sys.Link(wifi + "/loop-a", wifi + "/loop-b");
             sys.Link(wifi + "/loop-b", wifi + "/loop-a");
         },
         noWlan},
        {"device link out of the tree",
         [&](auto &sys) {
             // Followed, it would find a device there.
             std::filesystem::create_directories(sys.Folder() + "/../outside/net");
             linkAt(sys, wlan + "/device", "../../../../../../../outside");
         },
         noWlan},
        {"device link absolute, out of the tree",
         [&](auto &sys) { linkAt(sys, wlan + "/device", "/"); }, noWlan},
        {"interface gone since the class was listed",
         [&](auto &sys) { std::filesystem::remove_all(sys.Folder() + "/" + wlan); }, noWlan},
        {"interface name not UTF-8",
         [&](auto &sys) {
             std::filesystem::rename(sys.Folder() + "/class/net/wlp2s0",
                                     sys.Folder() + "/class/net/wl\xff");
         },
         noWlan},
        {"product not UTF-8", [&](auto &sys) { sys.Attribute(usb + "/product", "Modem \xe9"); },
         noProduct},
        {"product with a control character",
         [&](auto &sys) { sys.Attribute(usb + "/product", "Modem\x1b[2J"); }, noProduct},
        {"product empty", [&](auto &sys) { sys.Attribute(usb + "/product", ""); }, noProduct},
        {"product a FIFO", [&](auto &sys) { fifoAt(sys, usb + "/product"); }, noProduct},
        {"terminal's class link dangling",
         [&](auto &sys) { linkAt(sys, "class/tty/ttyACM0", "../../devices/gone/tty/ttyACM0"); },
         noModem},
        {"terminal without device link",
         [&](auto &sys) { replace(sys, usb + "/1-2:1.0/tty/ttyACM0/device"); }, noModem},
        {"terminal name not UTF-8",
         [&](auto &sys) {
             std::filesystem::rename(sys.Folder() + "/class/tty/ttyACM0",
                                     sys.Folder() + "/class/tty/ttyACM\xff");
         },
         noModem},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.damage);
        FakeSysfs sys = Sysfs();
        vztest::Laptop(sys);
        row.apply(sys);
        std::vector<std::string> expected = kLaptopPorts;
        if (row.effect == noWlan) expected.erase(expected.begin() + 1);
        if (row.effect == noModem) expected.erase(expected.begin());
        if (row.effect == noProduct) expected[0] = "USB Modem|Modem|ttyACM0|1";
        if (row.effect == noEthMAC)
            expected[2] = "Ethernet Adaptor (enp0s31f6)|Ethernet|enp0s31f6|12 BSD Name=enp0s31f6";
        EXPECT_EQ(Lines(), expected);
    }
}

} // namespace
