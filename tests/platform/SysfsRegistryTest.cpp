// SysfsRegistryTest.cpp: the registry built from sysfs-shaped trees: the
// entries and properties each machine gives, when the live registry is used
// and how long it is kept, its snapshot round trip, running out of memory,
// and the reader's name order. (The port arrays of the same machines, and
// broken trees: tests/ports/LiveRegistryTest.cpp.)
#include "SysfsRegistry.h"
#include "FakeSysfs.h"
#include "PrivateBus.h"
#include "RegistrySnapshot.h"
#include "RegistrySource.h"
#include "Root.h"
#include "StoreTestSupport.h"
#include "SysfsTree.h"

#include <IOKit/IOKitLib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using vztest::FakeSysfs;

std::string ValueText(CFTypeRef value)
{
    if (CFGetTypeID(value) == CFStringGetTypeID())
        return vztest::Utf8(static_cast<CFStringRef>(value));
    if (CFGetTypeID(value) == CFNumberGetTypeID()) {
        long long number = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberLongLongType, &number);
        return std::to_string(number);
    }
    if (CFGetTypeID(value) != CFDataGetTypeID()) return "?";
    auto         data  = static_cast<CFDataRef>(value);
    const UInt8 *bytes = CFDataGetBytePtr(data);
    CFIndex      count = CFDataGetLength(data);
    if (count > 0 && bytes[count - 1] == 0) // text and its zero byte
        return "\"" + std::string(reinterpret_cast<const char *>(bytes), count - 1) + "\\0\"";
    std::string hex = "<";
    for (CFIndex i = 0; i < count; i++) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        hex += digits;
    }
    return hex + ">";
}

// One line per entry, two spaces per level: class, own name, then each
// property as key=value in key order.
std::string Dump(const vz::Registry &registry)
{
    std::string      out;
    std::vector<int> depth(registry.size());
    for (vz::Registry::Index i = 0; i < registry.size(); i++) {
        vz::Registry::Index up = registry.parent(i);
        depth[i]               = up == vz::Registry::kNoParent ? 0 : depth[up] + 1;
        out += std::string(depth[i] * 2, ' ') + registry.classNameUTF8(i);
        if (CFStringRef name = registry.ownName(i)) out += " " + vztest::Utf8(name);
        vz::CFRef<CFMutableDictionaryRef> properties(registry.copyProperties(i));
        CFIndex                           count = CFDictionaryGetCount(properties.get());
        std::vector<const void *>         keys(count), values(count);
        std::vector<std::pair<std::string, std::string>> lines;
        CFDictionaryGetKeysAndValues(properties.get(), keys.data(), values.data());
        for (CFIndex k = 0; k < count; k++)
            lines.emplace_back(vztest::Utf8(static_cast<CFStringRef>(keys[k])),
                               ValueText(values[k]));
        std::sort(lines.begin(), lines.end());
        for (const auto &[key, value] : lines)
            out += " " + key + "=" + value;
        out += "\n";
    }
    return out;
}

class SysfsRegistry : public vztest::TempRoot {
  protected:
    void TearDown() override
    {
        unsetenv("VAVIVAZ_SYSFS");
        TempRoot::TearDown();
    }
    std::string Build(void (*machine)(const FakeSysfs &))
    {
        std::string folder = root_ + "/sys" + std::to_string(trees_++);
        machine(FakeSysfs(folder));
        return folder;
    }
    static std::shared_ptr<const vz::Registry> Load(const std::string &folder)
    {
        std::shared_ptr<const vz::Registry> registry;
        EXPECT_EQ(vz::registryFromSysfs(folder, &registry), kIOReturnSuccess);
        return registry;
    }

  private:
    int trees_ = 0;
};

TEST_F(SysfsRegistry, EachMachineGivesItsEntries)
{
    struct Row {
        const char *machine;
        void (*build)(const FakeSysfs &);
        const char *entries;
    };
    const Row rows[] = {
        {"laptop", vztest::Laptop,
         "IORegistryEntry\n"
         "  IOPCIDevice 0000:00:1f.6 name=\"ethernet\\0\"\n"
         "    IOEthernetController e1000e IOClass=e1000e IOMACAddress=<8c1645aabb01> "
         "IOProviderClass=IOPlatformDevice\n"
         "      IOEthernetInterface enp0s31f6 BSD Name=enp0s31f6 IOInterfaceType=6\n"
         "  IOUSBDevice 1-4 Product Name=USB 10/100/1000 LAN\n"
         "    IOEthernetController r8152 IOClass=r8152 IOMACAddress=<00e04c680001> "
         "IOProviderClass=IOUSBInterface\n"
         "      IOEthernetInterface enx00e04c680001 BSD Name=enx00e04c680001 IOInterfaceType=6\n"
         "  IOPCIDevice 0000:02:00.0 name=\"ethernet\\0\"\n"
         "    IOEthernetController iwlwifi IOClass=iwlwifi IOMACAddress=<a088b4aabb02> "
         "IOProviderClass=IOPlatformDevice\n"
         "      IO80211Interface wlp2s0 BSD Name=wlp2s0 IOInterfaceType=6\n"
         "  IOUSBDevice 1-2 Product Name=ZORVEX V.92 USB Modem\n"
         "    IOSerialBSDClient ttyACM0 IOCalloutDevice=/dev/ttyACM0 IODialinDevice=/dev/ttyACM0 "
         "IOSerialBSDClientType=IOModemSerialStream "
         "IOTTYBaseName=usbmodem IOTTYDevice=ttyACM0\n"},
        {"desktop", vztest::Desktop,
         "IORegistryEntry\n"
         "  IOPCIDevice 0000:00:19.0 name=\"ethernet\\0\"\n"
         "    IOEthernetController e1000e IOClass=e1000e IOMACAddress=<8c1645ccdd01> "
         "IOProviderClass=IOPlatformDevice\n"
         "      IOEthernetInterface eno1 BSD Name=eno1 IOInterfaceType=6\n"
         "  IOPCIDevice 0000:03:00.0 IOChildIndex=0 name=\"ethernet\\0\" slot-name=\"SLOT-4\\0\"\n"
         "    IOEthernetController igb IOClass=igb IOMACAddress=<a0369f000010> "
         "IOProviderClass=IOPCIDevice\n"
         "      IOEthernetInterface enp3s0f0 BSD Name=enp3s0f0 IOInterfaceType=6\n"
         "  IOPCIDevice 0000:03:00.1 IOChildIndex=1 name=\"ethernet\\0\" slot-name=\"SLOT-4\\0\"\n"
         "    IOEthernetController igb IOClass=igb IOMACAddress=<a0369f000011> "
         "IOProviderClass=IOPCIDevice\n"
         "      IOEthernetInterface enp3s0f1 BSD Name=enp3s0f1 IOInterfaceType=6\n"},
        {"dongle", vztest::Dongle,
         "IORegistryEntry\n"
         "  IOUSBDevice 1-1 Product Name=ZORVEX Mobile Broadband\n"
         "    IOEthernetController qmi_wwan IOClass=qmi_wwan IOProviderClass=IOUSBInterface\n"
         "      IONetworkInterface wwan0 BSD Name=wwan0 IOInterfaceType=1\n"
         "    IOSerialBSDClient ttyUSB0 IOCalloutDevice=/dev/ttyUSB0 IODialinDevice=/dev/ttyUSB0 "
         "IOSerialBSDClientType=IOModemSerialStream "
         "IOTTYBaseName=usbmodem IOTTYDevice=ttyUSB0\n"
         "    IOSerialBSDClient ttyUSB1 IOCalloutDevice=/dev/ttyUSB1 IODialinDevice=/dev/ttyUSB1 "
         "IOSerialBSDClientType=IOModemSerialStream "
         "IOTTYBaseName=usbmodem IOTTYDevice=ttyUSB1\n"
         "    IOSerialBSDClient ttyUSB2 IOCalloutDevice=/dev/ttyUSB2 IODialinDevice=/dev/ttyUSB2 "
         "IOSerialBSDClientType=IOModemSerialStream "
         "IOTTYBaseName=usbmodem IOTTYDevice=ttyUSB2\n"},
        {"UART", vztest::UartMachine,
         "IORegistryEntry\n"
         "  IOPlatformDevice 00:04\n"
         "    IOSerialBSDClient ttyS0 IOCalloutDevice=/dev/ttyS0 IODialinDevice=/dev/ttyS0 "
         "IOSerialBSDClientType=IORS232SerialStream "
         "IOTTYBaseName=serial IOTTYDevice=ttyS0\n"
         "  IOPCIDevice 0000:04:00.0 name=\"ethernet\\0\"\n"
         "    IOSerialBSDClient ttyS4 IOCalloutDevice=/dev/ttyS4 IODialinDevice=/dev/ttyS4 "
         "IOSerialBSDClientType=IORS232SerialStream "
         "IOTTYBaseName=serial IOTTYDevice=ttyS4\n"
         "  IOUSBDevice 1-3 Product Name=USB-Serial Cable\n"
         "    IOSerialBSDClient ttyUSB0 IOCalloutDevice=/dev/ttyUSB0 IODialinDevice=/dev/ttyUSB0 "
         "IOSerialBSDClientType=IORS232SerialStream "
         "IOTTYBaseName=usbserial IOTTYDevice=ttyUSB0\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.machine);
        std::shared_ptr<const vz::Registry> registry = Load(Build(row.build));
        ASSERT_TRUE(registry);
        EXPECT_EQ(Dump(*registry), row.entries);

        // Its snapshot describes an equal registry.
        vz::CFRef<CFDictionaryRef> tree;
        ASSERT_EQ(vz::snapshotFromRegistry(*registry, &tree), kIOReturnSuccess);
        vz::CFRef<CFDataRef> xml(CFPropertyListCreateXMLData(nullptr, tree.get()));
        ASSERT_TRUE(xml);
        vz::CFRef<CFDictionaryRef> parsed(
            static_cast<CFDictionaryRef>(CFPropertyListCreateFromXMLData(
                nullptr, xml.get(), kCFPropertyListImmutable, nullptr)));
        std::shared_ptr<const vz::Registry> again;
        ASSERT_EQ(vz::registryFromSnapshot(parsed.get(), &again), kIOReturnSuccess);
        EXPECT_EQ(Dump(*again), row.entries);
    }
}

// The maker's modem ports are named by the rank of their USB interfaces'
// numbers, whatever their terminals are called; nothing else is the maker's.
// The helper of the installed udev rule gives each terminal the same name.
TEST_F(SysfsRegistry, TheMakersPortsAreNamedAsItsDriverNamesThem)
{
    struct Port {
        int         interface;
        const char *tty, *driver;
        std::string name; // its IOTTYDevice
    };
    struct Row {
        const char       *what;
        const char       *manufacturer;
        std::vector<Port> ports;
    };
    const std::string modem = "ZORVEXMobile-Modem", diag = "ZORVEXMobile-Diag",
                      pcui = "ZORVEXMobile-Pcui";
    const Row rows[]       = {
              {"in order",
               "ZORVEX",
               {{0, "ttyUSB0", "option", modem},
                {1, "ttyUSB1", "option", diag},
                {2, "ttyUSB2", "option", pcui}}},
              {"by interface, and a fourth port",
               "ZORVEX",
               {{3, "ttyUSB0", "option", "ttyUSB0"},
                {1, "ttyUSB1", "qcserial", diag},
                {2, "ttyUSB2", "option", pcui},
                {0, "ttyUSB3", "option", modem}}},
              {"a plain serial port among them",
               "ZORVEX",
               {{0, "ttyUSB0", "ftdi_sio", "ttyUSB0"},
                {1, "ttyUSB1", "option", modem},
                {2, "ttyUSB2", "option", diag}}},
              {"cdc-acm", "ZORVEX", {{0, "ttyACM0", "cdc_acm", modem}, {2, "ttyACM1", "cdc_acm", diag}}},
              {"only the maker's name at the start",
               "ZORVEX Labs",
               {{0, "ttyUSB0", "option", "ttyUSB0"}}},
              {"not text", "ZORVE\xff", {{0, "ttyUSB0", "option", "ttyUSB0"}}},
              {"another case", "zorvex", {{0, "ttyUSB0", "option", "ttyUSB0"}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string folder = root_ + "/sys" + row.what;
        FakeSysfs   sys(folder);
        std::string device = sys.UsbDevice("1-1", "ZORVEX Mobile");
        sys.Attribute(device + "/manufacturer", row.manufacturer);
        for (const Port &port : row.ports) {
            std::string interface = sys.UsbInterface(device, port.interface, port.driver);
            if (std::string(port.tty).starts_with("ttyACM"))
                sys.Tty(interface, port.tty);
            else
                sys.UsbSerial(interface, port.tty, port.driver);
        }
        std::shared_ptr<const vz::Registry> registry = Load(folder);
        ASSERT_TRUE(registry);
        for (const Port &port : row.ports) {
            SCOPED_TRACE(port.tty);
            vz::CFRef<CFStringRef> node(
                CFStringCreateWithFormat(nullptr, nullptr, CFSTR("/dev/%s"), port.tty));
            std::string name;
            for (vz::Registry::Index i = 0; i < registry->size(); i++) {
                CFTypeRef callout = registry->property(i, CFSTR("IOCalloutDevice"));
                if (callout == nullptr || !CFEqual(callout, node.get())) continue;
                name = vztest::Utf8(
                    static_cast<CFStringRef>(registry->property(i, CFSTR("IOTTYDevice"))));
                EXPECT_EQ(vztest::Utf8(registry->ownName(i)), port.name);
            }
            EXPECT_EQ(name, port.name);
            std::string tty = std::filesystem::canonical(folder + "/class/tty/" + port.tty);
            vztest::ProgramOutput helper = vztest::RunProgram({"sh", VZ_PORT_NAME_HELPER, tty});
            if (port.name == port.tty) {
                EXPECT_EQ(helper.status, 1) << helper.out;
                EXPECT_EQ(helper.out, "");
            } else {
                EXPECT_EQ(helper.status, 0);
                EXPECT_EQ(helper.out, port.name + "\n");
            }
        }
    }
}

// Only a live root without a snapshot is this machine, and its registry is
// built once: a tree that changes later is not seen until the caches are
// emptied.
TEST_F(SysfsRegistry, OnlyALiveRootIsThisMachine)
{
    std::string folder = Build(vztest::Dongle);
    setenv("VAVIVAZ_SYSFS", folder.c_str(), 1);
    auto entries = [] {
        std::shared_ptr<const vz::Registry> registry;
        EXPECT_EQ(vz::loadRegistry(&registry), kIOReturnSuccess);
        return registry ? registry->size() : 0;
    };
    EXPECT_EQ(entries(), 1u); // this test's root: a bare registry
    setenv("VAVIVAZ_LIVE", "1", 1);
    EXPECT_EQ(entries(), 7u);
    std::filesystem::remove(folder + "/class/tty/ttyUSB2");
    EXPECT_EQ(entries(), 7u);
    VZFlushPlatformCaches();
    EXPECT_EQ(entries(), 6u);
    // A snapshot wins over the machine.
    Write(vz::kRegistrySnapshotFile, "<plist version=\"1.0\"><dict><key>IOObjectClass</key>"
                                     "<string>IORegistryEntry</string></dict></plist>");
    EXPECT_EQ(entries(), 1u);
    unsetenv("VAVIVAZ_LIVE");
}

// Every allocation the build makes may fail, once or from then on: the
// build then fails whole, and leaks nothing.
TEST_F(SysfsRegistry, RunningOutOfMemoryFailsTheBuild)
{
    std::string folder   = Build(vztest::Laptop);
    std::string expected = Dump(*Load(folder));
    for (Boolean persist : {false, true}) {
        for (long n = 0;; n++) {
            ASSERT_LT(n, 1000) << "the build never succeeded";
            VZArmAllocationFailure(n, persist);
            std::shared_ptr<const vz::Registry> registry;
            IOReturn                            status = vz::registryFromSysfs(folder, &registry);
            bool                                failed = VZGetAllocationFailureCount() > 0;
            VZClearAllocationFailure();
            if (!failed) {
                ASSERT_EQ(status, kIOReturnSuccess);
                EXPECT_EQ(Dump(*registry), expected);
                EXPECT_GT(n, 0);
                break;
            }
            EXPECT_EQ(status, kIOReturnNoMemory) << n << (persist ? " for good" : " once");
            EXPECT_FALSE(registry) << n;
        }
    }
}

TEST(SysfsTree, NaturalOrder)
{
    const std::vector<std::string> ordered = {"eth2",  "eth10", "ttyS",   "ttyS0",   "ttyS01",
                                              "ttyS1", "ttyS9", "ttyS10", "ttyUSB0", "wl0"};
    for (size_t i = 0; i < ordered.size(); i++)
        for (size_t j = 0; j < ordered.size(); j++)
            EXPECT_EQ(vz::naturalLess(ordered[i], ordered[j]), i < j)
                << ordered[i] << " " << ordered[j];
}

} // namespace
