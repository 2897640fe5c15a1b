// SysfsReaderFuzz.cpp: fuzz target for the registry built from sysfs. Each
// input is a small program that builds a sysfs-shaped tree in a temporary
// folder, with the kernel's kinds of folders, attributes and links
// (FakeSysfs.h) and then whatever the input says: attributes of any text,
// links to anywhere inside the tree, loops included. The registry built from
// the tree must come whole (every entry below its parent, in registry
// order), turn into a snapshot and back into the same registry, and release
// everything it made. Links never lead out of the temporary folder, so the
// target reads nothing of the machine it runs on.
// scripts/fuzz sysfs-reader SECONDS runs it.
#include "FakeSysfs.h"
#include "FuzzSupport.h"
#include "RegistrySnapshot.h"
#include "SysfsRegistry.h"
#include "VZPlatformTesting.h"

#include <CoreFoundation/CoreFoundation.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using vzfuzz::Check;

constexpr size_t kMaxInput      = 4096;
constexpr size_t kMaxOperations = 64;

// Names the kernel uses, from which the input picks path components.
const char *const kNames[]    = {"devices",
                                 "pci0000:00",
                                 "0000:00:19.0",
                                 "0000:02:00.0",
                                 "usb1",
                                 "1-2",
                                 "1-2:1.0",
                                 "1-2:1.1",
                                 "platform",
                                 "serial8250",
                                 "virtual",
                                 "net",
                                 "tty",
                                 "class",
                                 "bus",
                                 "pci",
                                 "slots",
                                 "usb",
                                 "usb-serial",
                                 "drivers",
                                 "device",
                                 "subsystem",
                                 "driver",
                                 "type",
                                 "address",
                                 "wireless",
                                 "phy80211",
                                 "product",
                                 "dev",
                                 "ieee80211",
                                 "eth0",
                                 "wlan0",
                                 "enx00e04c680001",
                                 "ttyUSB0",
                                 "ttyUSB1",
                                 "ttyACM0",
                                 "ttyS0",
                                 "ttyS1",
                                 "option",
                                 "qcserial",
                                 "sierra",
                                 "qcaux",
                                 "cdc_acm",
                                 "e1000e",
                                 "r8152",
                                 "serial-base",
                                 "ctrl",
                                 "port",
                                 "bInterfaceNumber",
                                 "1",
                                 "2",
                                 "lo"};
const char *const kBuses[]    = {"pci", "usb", "usb-serial", "platform", "serial-base", "virtio"};
const char *const kDrivers[]  = {"",       "e1000e", "iwlwifi", "r8152", "option",     "qcserial",
                                 "sierra", "qcaux",  "cdc_acm", "usb",   "serial8250", "ftdi_sio"};
const char *const kNetNames[] = {"eth0", "eno1", "wlan0", "wlp2s0", "enx00e04c680001",
                                 "fw0",  "lo",   "en\xff"};
const char *const kTtyNames[] = {"ttyUSB0", "ttyUSB1", "ttyACM0",   "ttyS0",
                                 "ttyS1",   "console", "ttyUSB\xfe"};

// Reads the input a byte or a short text at a time; zeros after its end.
class Program {
  public:
    Program(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool                            done() const { return at_ >= size_; }
    uint8_t                         byte() { return at_ < size_ ? data_[at_++] : 0; }
    template <size_t N> const char *pick(const char *const (&table)[N])
    {
        return table[byte() % N];
    }
    std::string text()
    {
        size_t      length = byte() % 24;
        std::string out;
        while (length-- > 0 && !done())
            out += static_cast<char>(byte());
        return out;
    }

  private:
    const uint8_t *data_;
    size_t         size_;
    size_t         at_ = 0;
};

// Builds the input's tree in folder.
void Build(const std::string &folder, Program &program)
{
    vztest::FakeSysfs        sys(folder);
    std::vector<std::string> devices{""}, folders{"", "class/net", "class/tty", "bus/pci/slots"};
    auto                     pickOf = [&](const std::vector<std::string> &list) {
        return list[program.byte() % list.size()];
    };
    auto path = [&] {
        std::string out;
        for (int n = 1 + program.byte() % 3; n > 0; n--)
            out += std::string(out.empty() ? "" : "/") + program.pick(kNames);
        return out;
    };
    for (size_t step = 0; step < kMaxOperations && !program.done(); step++) {
        try {
            switch (program.byte() % 11) {
            case 0:
                devices.push_back(sys.Device(path(), program.pick(kBuses), program.pick(kDrivers)));
                folders.push_back(devices.back());
                break;
            case 1: {
                std::string device = pickOf(devices);
                folders.push_back(
                    sys.Net(device, program.pick(kNetNames), program.byte(), program.text()));
                break;
            }
            case 2:
                folders.push_back(sys.Tty(pickOf(devices), program.pick(kTtyNames)));
                break;
            case 3:
                devices.push_back(sys.UsbDevice(program.pick(kNames), program.text()));
                folders.push_back(devices.back());
                break;
            case 4: {
                std::string device = pickOf(devices);
                if (device.size() > 8) {
                    devices.push_back(
                        sys.UsbInterface(device, program.byte() % 4, program.pick(kDrivers)));
                    folders.push_back(devices.back());
                }
                break;
            }
            case 5: {
                std::string interface = pickOf(devices);
                if (interface.size() > 8)
                    folders.push_back(
                        sys.UsbSerial(interface, program.pick(kTtyNames), program.pick(kDrivers)));
                break;
            }
            case 6: {
                std::string device = pickOf(devices);
                if (device.size() > 8)
                    folders.push_back(
                        sys.Uart(device, program.pick(kTtyNames), program.byte() % 4));
                break;
            }
            case 7:
                sys.Slot(program.pick(kNames), program.text());
                break;
            case 8:
                sys.Attribute(pickOf(folders) + "/" + program.pick(kNames), program.text());
                break;
            case 9:
                sys.Write(pickOf(folders) + "/" + program.pick(kNames), program.text());
                break;
            default: {
                // A link to a folder of the tree, or to something that is
                // not there; FakeSysfs makes it relative, inside the tree.
                std::string from = pickOf(folders);
                std::string to   = program.byte() % 2 ? pickOf(folders) : path();
                sys.Link((from.empty() ? "" : from + "/") + program.pick(kNames), to);
                break;
            }
            }
        } catch (const fs::filesystem_error &) {
            // A name the input used twice: the step is left out.
        }
    }
}

const std::string &TreeFolder()
{
    static vzfuzz::TempFolder folder("sysfs");
    static std::string        tree = folder.path() + "/sys";
    return tree;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) return 0;
    const std::string &folder = TreeFolder();
    fs::remove_all(folder);
    fs::create_directories(folder);
    Program program(data, size);
    Build(folder, program);

    CFIndex live = VZGetLiveObjectCount();
    {
        std::shared_ptr<const vz::Registry> registry;
        Check(vz::registryFromSysfs(folder, &registry) == kIOReturnSuccess && registry != nullptr,
              "a tree always gives a registry");
        for (vz::Registry::Index i = 1; i < registry->size(); i++) {
            vz::Registry::Index parent = registry->parent(i);
            Check(parent < i && i < registry->subtreeEnd(parent) &&
                      registry->subtreeEnd(i) <= registry->subtreeEnd(parent),
                  "every entry lies in its parent's subtree, after it");
            Check(registry->className(i) != nullptr && registry->name(i) != nullptr,
                  "every entry has a class and a name");
        }
        vz::CFRef<CFDictionaryRef> snapshot;
        Check(vz::snapshotFromRegistry(*registry, &snapshot) == kIOReturnSuccess,
              "a registry makes a snapshot");
        std::shared_ptr<const vz::Registry> again;
        Check(vz::registryFromSnapshot(snapshot.get(), &again) == kIOReturnSuccess &&
                  again->size() == registry->size(),
              "the snapshot reads back");
        for (vz::Registry::Index i = 0; i < registry->size(); i++) {
            vz::CFRef<CFMutableDictionaryRef> mine(registry->copyProperties(i)),
                theirs(again->copyProperties(i));
            Check(again->parent(i) == registry->parent(i) &&
                      CFEqual(again->className(i), registry->className(i)) &&
                      CFEqual(again->name(i), registry->name(i)) &&
                      CFEqual(mine.get(), theirs.get()),
                  "the snapshot reads back as the same registry");
        }
    }
    Check(VZGetLiveObjectCount() == live, "the registry releases everything it made");
    return 0;
}
