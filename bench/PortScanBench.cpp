// PortScanBench.cpp: what a port scan costs beside parsing the registry
// snapshot it reads, over generated registries of 100, 1,000 and 10,000
// entries (the argument), a tenth of them ports and the rest other devices:
//
//   Parse/N          CFPropertyListCreateFromXMLData of the snapshot's bytes,
//                    and the release of the tree
//   Scan/N           MoreSCCreatePortArray with the platform's caches emptied
//                    first (the emptying, which releases the last scan's tree
//                    and registry, is timed too): read, parse, build the
//                    registry, three matching walks, a record and a name per
//                    port, the sort with localised comparison
//   RepeatedScan/N   MoreSCCreatePortArray of the unchanged snapshot: the
//                    registry of the last scan is reused
//
// Targets: Scan within 1.5x Parse at 10,000 entries; Scan growing at most 12x
// from 1,000 to 10,000 entries. The snapshots are left to age past the
// timestamp guard of FileIdentity.h before measuring, so that an unchanged
// file is proven so by its metadata.
#include "RegistryText.h"
#include "TempRoots.h"

#include <CoreFoundation/CoreFoundation.h>
#include <VZPlatformTesting.h>
#include <VaviVAZPortScanner.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using vztest::Data;
using vztest::Integer;
using vztest::Node;
using vztest::String;

namespace {

// Devices that are no ports: bridges, hubs and platform devices with the
// kinds of property real ones carry.
Node OtherDevice(const std::string &className, int n)
{
    Node device(className, "device" + std::to_string(n));
    device.Set("name", Data("device" + std::to_string(n), true))
        .Set("compatible", Data("pci8086,2448", true))
        .Set("vendor-id", Data({0x86, 0x80, 0x00, 0x00}))
        .Set("IODeviceMemory", "<array><dict><key>address</key>" + Integer(0xF0000000LL + n) +
                                   "<key>length</key>" + Integer(4096) + "</dict></array>")
        .Set("IOPowerManagement", "<dict><key>CurrentPowerState</key>" + Integer(2) +
                                      "<key>MaxPowerState</key>" + Integer(2) + "</dict>");
    return device;
}

// Ten entries: one port (a network interface, a modem stream or an RS-232
// stream, in turn) with the entries above it, and other devices.
Node Group(int g)
{
    Node        bridge = OtherDevice("IOPCIBridge", g * 10);
    std::string id     = std::to_string(g);
    int         used   = 1;
    switch (g % 3) {
    case 0: {
        Node card = OtherDevice("IOPCIDevice", g * 10 + 1);
        card.Set("slot-name", Data("SLOT-" + std::string(1, char('A' + g % 4)), true));
        Node controller("IOEthernetController");
        controller.Set("IOClass", String("DemoEthernet"))
            .Set("IOProviderClass", String(g % 2 ? "IOPCIDevice" : "IOUSBInterface"))
            .Set("IOMACAddress", Data({2, 0, 0, uint8_t(g >> 16), uint8_t(g >> 8), uint8_t(g)}));
        controller.Add(Node("IOEthernetInterface", "en" + id)
                           .Set("BSD Name", String("en" + id))
                           .Set("IOInterfaceType", Integer(6)));
        bridge.Add(card.Add(controller));
        used += 3;
        break;
    }
    default: {
        bool modem = g % 3 == 1;
        Node usb   = OtherDevice("IOUSBDevice", g * 10 + 1);
        if (modem) usb.Set("Product Name", String("Modem " + id));
        usb.Add(Node("IOSerialBSDClient")
                    .Set("IOSerialBSDClientType",
                         String(modem ? "IOModemSerialStream" : "IORS232SerialStream"))
                    .Set("IOTTYBaseName", String(modem ? "wwan" : "Serial"))
                    .Set("IOTTYDevice", String("tty" + id)));
        bridge.Add(usb);
        used += 2;
        break;
    }
    }
    for (int n = used; n < 10; n++)
        bridge.Add(OtherDevice("IOPlatformDevice", g * 10 + n));
    return bridge;
}

std::string GenerateRegistry(int64_t entries)
{
    Node root("IORegistryEntry", "Root");
    for (int g = 0; g < entries / 10; g++)
        root.Add(Group(g));
    return RegistryXml(root);
}

// The root of a registry of that many entries, aged.
const std::string &RootFor(int64_t entries)
{
    return vzbench::TempRootFor("ports", entries, [&](const std::string &root) {
        fs::path snapshot = fs::path(root) / vztest::kRegistryPath;
        fs::create_directories(snapshot.parent_path());
        std::ofstream(snapshot, std::ios::binary) << GenerateRegistry(entries);
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    });
}

std::string SnapshotBytes(int64_t entries)
{
    std::ifstream in(fs::path(RootFor(entries)) / vztest::kRegistryPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void ScanOnce(benchmark::State &state)
{
    CFArrayRef ports = NULL;
    if (MoreSCCreatePortArray(&ports) != noErr) {
        state.SkipWithError("the scan failed");
        return;
    }
    benchmark::DoNotOptimize(ports);
    CFRelease(ports);
}

void BM_Parse(benchmark::State &state)
{
    std::string bytes = SnapshotBytes(state.range(0));
    CFDataRef   data =
        CFDataCreateWithBytesNoCopy(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                    static_cast<CFIndex>(bytes.size()), kCFAllocatorNull);
    for (auto _ : state) {
        CFPropertyListRef tree =
            CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr);
        if (tree == nullptr) {
            state.SkipWithError("the snapshot does not parse");
            break;
        }
        CFRelease(tree);
    }
    CFRelease(data);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
    state.counters["snapshot_bytes"] = static_cast<double>(bytes.size());
}

void BM_Scan(benchmark::State &state)
{
    setenv("VAVIVAZ_ROOT", RootFor(state.range(0)).c_str(), 1);
    ScanOnce(state); // the system version and constant strings, once
    for (auto _ : state) {
        VZFlushPlatformCaches();
        ScanOnce(state);
    }
}

void BM_RepeatedScan(benchmark::State &state)
{
    setenv("VAVIVAZ_ROOT", RootFor(state.range(0)).c_str(), 1);
    VZFlushPlatformCaches();
    ScanOnce(state);
    for (auto _ : state)
        ScanOnce(state);
}

} // namespace

BENCHMARK(BM_Parse)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepeatedScan)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
