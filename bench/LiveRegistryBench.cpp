// LiveRegistryBench.cpp: what building the registry from sysfs costs beside
// the least any reader of the same tree does, over a generated tree of 200
// network interfaces and 200 serial ports that are ports (and the virtual
// interfaces, consoles and empty UART slots a machine has besides):
//
//   ListAndRead   lists class/net and class/tty and reads one attribute of
//                 each entry (an interface's "type", a terminal's "dev"),
//                 with plain system calls: the floor
//   Build         the registry of the tree (vz::registryFromSysfs), released
//   Scan          MoreSCCreatePortArray on the root / over the tree, with the
//                 platform's caches emptied first: the build, three matching
//                 walks, a record and a name per port, the sort
//
// Target: Build within 3x ListAndRead. The tree is made once in a temporary
// folder (TempRoots.h) and removed at exit.
#include "FakeSysfs.h"
#include "SysfsRegistry.h"
#include "TempRoots.h"

#include <CoreFoundation/CoreFoundation.h>
#include <VZPlatformTesting.h>
#include <VaviVAZPortScanner.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string Hex(int value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

std::string Mac(int prefix, int n)
{
    return Hex(prefix, 2) + ":16:45:00:" + Hex(n >> 8, 2) + ":" + Hex(n & 0xFF, 2);
}

// 200 network ports: 50 two-port cards in slots, 50 Wi-Fi cards, 50 USB
// Ethernet adaptors. 200 serial ports: 34 dongles of three (102), 48 USB
// modems, 50 UARTs. Besides: 10 virtual interfaces, 64 consoles, the
// pseudo-terminal master, 25 empty UART slots.
void MakeMachine(const vztest::FakeSysfs &sys)
{
    for (int card = 0; card < 50; card++) {
        std::string bus = Hex(0x10 + card, 2);
        for (int function = 0; function < 2; function++)
            sys.Net(sys.Device("pci0000:00/0000:00:1c." + std::to_string(card) + "/0000:" + bus +
                                   ":00." + std::to_string(function),
                               "pci", "igb"),
                    "enp" + std::to_string(0x10 + card) + "s0f" + std::to_string(function), 1,
                    Mac(0xa0, card * 2 + function));
        sys.Slot(std::to_string(card + 1), "0000:" + bus + ":00");
    }
    for (int card = 0; card < 50; card++) {
        std::string wifi = sys.Device("pci0000:00/0000:00:1d." + std::to_string(card) +
                                          "/0000:" + Hex(0x50 + card, 2) + ":00.0",
                                      "pci", "iwlwifi");
        std::string wlan =
            sys.Net(wifi, "wlp" + std::to_string(0x50 + card) + "s0", 1, Mac(0xa2, card));
        sys.Link(wlan + "/phy80211", wifi + "/ieee80211/phy" + std::to_string(card));
    }
    int usb = 1;
    for (int n = 0; n < 50; n++, usb++)
        sys.Net(sys.UsbInterface(sys.UsbDevice("1-" + std::to_string(usb), "USB LAN"), 0, "r8152"),
                "enx" + std::to_string(n), 1, Mac(0x00, n));
    for (int n = 0; n < 34; n++, usb++) {
        std::string dongle = sys.UsbDevice("1-" + std::to_string(usb), "Mobile Broadband");
        for (int port = 0; port < 3; port++)
            sys.UsbSerial(sys.UsbInterface(dongle, port, "option"),
                          "ttyUSB" + std::to_string(n * 3 + port), "option1");
    }
    for (int n = 0; n < 48; n++, usb++)
        sys.Tty(
            sys.UsbInterface(sys.UsbDevice("1-" + std::to_string(usb), "USB Modem"), 0, "cdc_acm"),
            "ttyACM" + std::to_string(n));
    std::string platform = sys.Device("platform/serial8250", "platform", "serial8250");
    for (int n = 0; n < 75; n++) {
        if (n % 3 == 2) {
            sys.Attribute(sys.Tty(platform, "ttyS" + std::to_string(n)) + "/type", "0");
            continue;
        }
        sys.Uart(sys.Device("pnp0/00:" + Hex(n, 2), "pnp", "serial"), "ttyS" + std::to_string(n),
                 4);
    }
    for (int n = 0; n < 10; n++)
        sys.Net("", "veth" + std::to_string(n), 1, Mac(0x52, n));
    for (int n = 0; n < 64; n++)
        sys.Tty("", "tty" + std::to_string(n));
    sys.Tty("", "ptmx");
}

const std::string &MachineFolder()
{
    return vzbench::TempRootFor(
        "sysfs", 400, [](const std::string &folder) { MakeMachine(vztest::FakeSysfs(folder)); });
}

// Reads one attribute of every entry of a class folder; the number read.
int ReadEach(int root, const char *classFolder, const char *attribute)
{
    int folder = openat(root, classFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return 0;
    DIR *stream = fdopendir(folder);
    int  read   = 0;
    while (const dirent *entry = readdir(stream)) {
        if (entry->d_name[0] == '.') continue;
        std::string path = std::string(classFolder) + "/" + entry->d_name + "/" + attribute;
        int         file = openat(root, path.c_str(), O_RDONLY | O_CLOEXEC);
        if (file < 0) continue;
        char buffer[4097];
        if (::read(file, buffer, sizeof buffer) >= 0) read++;
        close(file);
    }
    closedir(stream);
    return read;
}

void BM_ListAndRead(benchmark::State &state)
{
    int root = open(MachineFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (auto _ : state) {
        int read = ReadEach(root, "class/net", "type") + ReadEach(root, "class/tty", "dev");
        benchmark::DoNotOptimize(read);
    }
    close(root);
}

void BM_Build(benchmark::State &state)
{
    for (auto _ : state) {
        std::shared_ptr<const vz::Registry> registry;
        if (vz::registryFromSysfs(MachineFolder(), &registry) != kIOReturnSuccess) {
            state.SkipWithError("the build failed");
            break;
        }
        state.counters["entries"] = static_cast<double>(registry->size());
    }
}

void BM_Scan(benchmark::State &state)
{
    setenv("VAVIVAZ_ROOT", "/", 1);
    setenv("VAVIVAZ_SYSFS", MachineFolder().c_str(), 1);
    for (auto _ : state) {
        VZFlushPlatformCaches();
        CFArrayRef ports = NULL;
        if (MoreSCCreatePortArray(&ports) != noErr) {
            state.SkipWithError("the scan failed");
            break;
        }
        state.counters["ports"] = static_cast<double>(CFArrayGetCount(ports));
        CFRelease(ports);
    }
}

} // namespace

BENCHMARK(BM_ListAndRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
