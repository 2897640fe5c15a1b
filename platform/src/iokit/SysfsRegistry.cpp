// SysfsRegistry.cpp: from the kernel's device tree to a registry.
#include "SysfsRegistry.h"

#include "SysfsTree.h"
#include "UTF.h"

#include <IOKit/IOBSD.h>
#include <IOKit/IOKitKeys.h>
#include <IOKit/network/IOEthernetController.h>
#include <IOKit/network/IONetworkInterface.h>
#include <IOKit/serial/IOSerialKeys.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vz {

namespace {

// Linux interface types (if_arp.h).
constexpr uint32_t kLinuxEthernetType = 1;
constexpr uint32_t kLinuxIEEE1394Type = 24;
// The registry's "IOInterfaceType" of an interface that is neither.
constexpr SInt32 kOtherInterfaceType = 1;
// Bytes of an IEEE 1394 interface's address that are its unique ID.
constexpr size_t kUniqueIDBytes = 8;
// The longest hardware address the kernel keeps (MAX_ADDR_LEN).
constexpr size_t kMaxAddressBytes = 32;

// The maker's modem: a USB device whose manufacturer is exactly this. On the
// platform the maker's driver names the modem's serial ports itself; here
// the registry does, in the order of their USB interfaces' numbers, and a
// fourth or later port keeps its terminal's name.
constexpr std::string_view kMakerManufacturer = "ZORVEX";
constexpr const char      *kMakerBaseName     = "ZORVEXMobile";
constexpr const char      *kMakerPortNames[]  = {"ZORVEXMobile-Modem", "ZORVEXMobile-Diag",
                                                 "ZORVEXMobile-Pcui"};
// Where a terminal's device node is.
constexpr std::string_view kDeviceFolder = "/dev/";

// The USB drivers of mobile broadband modems whose serial ports carry the
// modem's commands rather than a plain serial line.
constexpr std::string_view kMobileBroadbandDrivers[] = {"option", "qcserial", "sierra", "qcaux"};
// The kernel's own devices between a port and its hardware, by subsystem:
// how many folders up the hardware is, and its subsystem when the layer
// fixes it (else it is read there). A USB interface is one more such layer:
// its USB device is the folder above.
struct Layer {
    std::string_view subsystem;
    int              up;
    std::string_view above;
};
constexpr Layer kLayers[] = {
    {"usb-serial", 2, "usb"}, // a USB serial port, under its interface, under the device
    {"serial-base", 2, {}},   // a serial core port, under its controller, under the UART
    {"virtio", 1, {}},        // a virtio device, on its transport (PCI or platform)
};

template <size_t N> bool isOneOf(std::string_view text, const std::string_view (&set)[N])
{
    for (std::string_view member : set)
        if (text == member) return true;
    return false;
}

// ---- values ------------------------------------------------------------------

template <typename T> CFRef<T> made(T ref)
{
    if (ref == nullptr) throw std::bad_alloc();
    return CFRef<T>(ref);
}

CFRef<CFMutableDictionaryRef> makeDictionary()
{
    return made(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                          &kCFTypeDictionaryValueCallBacks));
}

CFRef<CFNumberRef> makeNumber(SInt32 value)
{
    return made(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
}

CFRef<CFDataRef> makeData(std::string_view bytes)
{
    return made(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                             static_cast<CFIndex>(bytes.size())));
}

// A string of text that is UTF-8 without control characters or the two
// noncharacters XML refuses (no registry name holds them, and a snapshot
// could not carry them); an empty reference for any other bytes.
CFRef<CFStringRef> makeText(std::string_view text)
{
    auto bytes = reinterpret_cast<const uint8_t *>(text.data());
    for (size_t i = 0; i < text.size();) {
        int32_t c = nextUTF8(bytes, i, text.size());
        if (c < 0x20 || c == 0x7F || c == 0xFFFE || c == 0xFFFF) return {}; // -1: not UTF-8
    }
    return made(CFStringCreateWithBytes(nullptr, bytes, static_cast<CFIndex>(text.size()),
                                        kCFStringEncodingUTF8, false));
}

// ---- attributes --------------------------------------------------------------

// A decimal number as the kernel writes one: digits only.
std::optional<uint32_t> parseNumber(std::string_view text)
{
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A number the kernel writes as two hexadecimal digits ("%02x").
std::optional<uint32_t> parseHexByte(std::string_view text)
{
    if (text.size() != 2 || hexValue(text[0]) < 0 || hexValue(text[1]) < 0) return std::nullopt;
    return static_cast<uint32_t>(hexValue(text[0]) * 16 + hexValue(text[1]));
}

// A hardware address as the kernel writes one: two hexadecimal digits per
// byte, the bytes joined by ":".
std::optional<std::string> parseAddress(std::string_view text)
{
    std::string bytes;
    for (size_t i = 0;; i += 3) {
        if (i + 2 > text.size() || bytes.size() == kMaxAddressBytes) return std::nullopt;
        int high = hexValue(text[i]), low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
        if (i + 2 == text.size()) return bytes;
        if (text[i + 2] != ':') return std::nullopt;
    }
}

// "DDDD:BB:DD" of a PCI device's name "DDDD:BB:DD.F" (domain, bus, device
// and function, in hexadecimal), the form of a slot's address; empty for a
// name of another shape.
std::string_view pciDeviceAddress(std::string_view name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 2 != name.size() || name[dot + 1] < '0' ||
        name[dot + 1] > '7')
        return {};
    std::string_view address = name.substr(0, dot);
    int              colons  = 0;
    for (char c : address) {
        if (c == ':')
            ++colons;
        else if (hexValue(c) < 0)
            return {};
    }
    return colons == 2 ? address : std::string_view();
}

// ---- the loader --------------------------------------------------------------

enum class BusKind { PCI, USB, Platform };

struct BusDevice {
    Registry::Index entry  = 0;
    BusKind         kind   = BusKind::Platform;
    bool            inSlot = false;
    bool            maker  = false; // a USB device of the maker's
};

// A serial client, held back until every terminal is read: the maker's
// modem ports are named by their rank among the modem's ports.
struct SerialClient {
    Registry::Index               parent = 0;
    CFRef<CFStringRef>            name; // the entry's name, the terminal's
    CFRef<CFMutableDictionaryRef> properties;
    bool                          makerModem = false;
    std::optional<uint32_t>       interfaceNumber; // of the USB interface it hangs off
};

// A network interface of class/net and its folder's path in the tree.
struct NetworkInterface {
    std::string name;
    std::string path;
};

// Each port's folder is held open while the port is read: the names in it
// and through its "device" link then cost the kernel a name or two each
// rather than the whole path again, and walking paths is most of what a
// build costs.
class SysfsLoader {
  public:
    explicit SysfsLoader(const std::string &folder) : tree_(folder) {}

    std::shared_ptr<const Registry> load()
    {
        // Every interface's folder first: a PCI device's entry says which of
        // its functions have network interfaces (a net/ folder), so it must
        // know them all when it is made.
        std::vector<NetworkInterface> interfaces;
        for (std::string &name : tree_.top().list("class/net")) {
            std::optional<std::string> path = tree_.top().resolve("class/net", name);
            if (!path) continue; // gone since the class was listed
            std::string_view net = parentOf(*path);
            if (lastComponent(net) == "net") addFunction(parentOf(net));
            interfaces.push_back({std::move(name), std::move(*path)});
        }
        for (NetworkInterface &interface : interfaces)
            addNetworkInterface(std::move(interface));
        for (const std::string &name : tree_.top().list("class/tty"))
            addSerialPort(name);
        nameMakersPorts();
        for (SerialClient &client : serialClients_)
            builder_.addEntry(client.parent, CFSTR(kIOSerialBSDServiceValue), client.name.get(),
                              client.properties.get());
        return builder_.finish();
    }

  private:
    void                     addFunction(std::string_view device);
    void                     addNetworkInterface(NetworkInterface interface);
    void                     addSerialPort(const std::string &name);
    void                     nameMakersPorts();
    std::optional<BusDevice> busDeviceOf(const SysfsFolder &from, std::string via,
                                         const std::string &device);
    BusDevice addBusDevice(const SysfsFolder &port, const std::string &via, const std::string &path,
                           std::string_view subsystem);
    std::optional<std::string> slotOf(std::string_view address);
    std::optional<SInt32>      functionRank(const std::string &path, std::string_view address);

    SysfsTree       tree_;
    RegistryBuilder builder_;
    // By their paths. A port's own device is looked up here first: often
    // it is the bus device itself.
    std::unordered_map<std::string, BusDevice> busDevices_;
    // Slot folder by the address it names, read once.
    std::optional<std::unordered_map<std::string, std::string>> slots_;
    // The functions of each PCI device (by its folder and address) that
    // network interfaces hang off, in natural order: those with a net/
    // folder.
    std::unordered_map<std::string, std::vector<std::string>> functionsWithNet_;
    // In the natural order of their terminals' names.
    std::vector<SerialClient> serialClients_;
};

// "FOLDER/DDDD:BB:DD", a PCI device by its folder and address.
std::string functionsKey(std::string_view path, std::string_view address)
{
    std::string key(parentOf(path));
    key += '/';
    key += address;
    return key;
}

void SysfsLoader::addFunction(std::string_view device)
{
    std::string_view name    = lastComponent(device);
    std::string_view address = pciDeviceAddress(name);
    if (address.empty()) return;
    std::vector<std::string> &functions = functionsWithNet_[functionsKey(device, address)];
    auto                      at        = std::lower_bound(
                                    functions.begin(), functions.end(), name,
                                    [](const std::string &a, std::string_view b) { return naturalLess(a, b); });
    if (at == functions.end() || *at != name) functions.insert(at, std::string(name));
}

void SysfsLoader::addNetworkInterface(NetworkInterface port)
{
    CFRef<CFStringRef> bsdName = makeText(port.name);
    if (!bsdName) return;
    SysfsFolder                interface = tree_.open(std::move(port.path));
    std::optional<std::string> device    = interface.resolve("device");
    if (!device) return; // virtual, or gone since the class was listed
    std::optional<uint32_t> type;
    if (std::optional<std::string> text = interface.read("type")) type = parseNumber(*text);
    std::optional<BusDevice> bus = busDeviceOf(interface, "device", *device);
    if (!bus) return;

    bool        ethernet = type == kLinuxEthernetType, fireWire = type == kLinuxIEEE1394Type;
    CFStringRef interfaceClass = CFSTR("IONetworkInterface");
    SInt32      registryType   = kOtherInterfaceType;
    if (fireWire) {
        // Before the wireless test: a FireWire type must not meet AirPort
        // hardware in one port.
        interfaceClass = CFSTR("IOFireWireIP");
        registryType   = IFT_IEEE1394;
    } else if (ethernet) {
        bool wireless  = interface.exists("phy80211") || interface.exists("wireless");
        interfaceClass = wireless ? CFSTR("IO80211Interface") : CFSTR("IOEthernetInterface");
        registryType   = IFT_ETHER;
    }
    CFRef<CFMutableDictionaryRef> interfaceProperties = makeDictionary();
    CFDictionarySetValue(interfaceProperties.get(), CFSTR(kIOBSDNameKey), bsdName.get());
    if (type)
        CFDictionarySetValue(interfaceProperties.get(), CFSTR(kIOInterfaceType),
                             makeNumber(registryType).get());

    CFRef<CFMutableDictionaryRef> controllerProperties = makeDictionary();
    if (ethernet || fireWire) {
        std::optional<std::string> address;
        if (std::optional<std::string> text = interface.read("address"))
            address = parseAddress(*text);
        if (address && fireWire)
            address = address->size() >= kUniqueIDBytes
                          ? std::optional(address->substr(0, kUniqueIDBytes))
                          : std::nullopt;
        if (address)
            CFDictionarySetValue(controllerProperties.get(), CFSTR(kIOMACAddress),
                                 makeData(*address).get());
    }
    CFRef<CFStringRef> driver;
    if (std::optional<std::string> text = interface.linkName("device/driver"))
        driver = makeText(*text);
    if (driver) CFDictionarySetValue(controllerProperties.get(), CFSTR(kIOClassKey), driver.get());
    CFStringRef provider = CFSTR("IOPlatformDevice");
    if (bus->kind == BusKind::PCI && bus->inSlot) provider = CFSTR("IOPCIDevice");
    if (bus->kind == BusKind::USB) provider = CFSTR("IOUSBInterface");
    CFDictionarySetValue(controllerProperties.get(), CFSTR(kIOProviderClassKey), provider);

    Registry::Index controller = builder_.addEntry(bus->entry, CFSTR("IOEthernetController"),
                                                   driver.get(), controllerProperties.get());
    builder_.addEntry(controller, interfaceClass, bsdName.get(), interfaceProperties.get());
}

void SysfsLoader::addSerialPort(const std::string &name)
{
    std::string_view view(name);
    bool             acm = view.starts_with("ttyACM"), usb = view.starts_with("ttyUSB");
    bool             uart = !acm && !usb && view.starts_with("ttyS");
    if (!acm && !usb && !uart) return;
    CFRef<CFStringRef> ttyDevice = makeText(name);
    if (!ttyDevice) return;
    std::string entry = "class/tty/" + name;
    if (uart) {
        // The serial core lists every port it could drive; type 0 says no
        // UART answered there. Most are such: tested before anything else.
        std::optional<std::string> text = tree_.top().read(entry, "type");
        std::optional<uint32_t>    type = text ? parseNumber(*text) : std::nullopt;
        if (!type || *type == 0) return;
    }
    std::optional<std::string> path = tree_.top().resolve(entry);
    if (!path) return; // gone since the class was listed
    SysfsFolder                tty    = tree_.open(std::move(*path));
    std::optional<std::string> device = tty.resolve("device");
    if (!device) return; // virtual, or gone since the class was listed

    bool        modem    = acm;
    CFStringRef baseName = uart ? CFSTR("serial") : CFSTR("usbmodem");
    // The USB interface: the port device itself for ttyACM, its parent for
    // ttyUSB.
    const char *interface = acm ? "device" : "device/..";
    if (usb) {
        std::optional<std::string> driver = tty.linkName(interface, "driver");
        modem                             = driver && isOneOf(*driver, kMobileBroadbandDrivers);
        baseName                          = modem ? CFSTR("usbmodem") : CFSTR("usbserial");
    }
    std::optional<BusDevice> bus = busDeviceOf(tty, "device", *device);
    if (!bus) return;

    SerialClient client;
    client.parent                     = bus->entry;
    client.name                       = ttyDevice;
    client.properties                 = makeDictionary();
    CFMutableDictionaryRef properties = client.properties.get();
    CFDictionarySetValue(properties, CFSTR(kIOSerialBSDTypeKey),
                         modem ? CFSTR(kIOSerialBSDModemType) : CFSTR(kIOSerialBSDRS232Type));
    CFDictionarySetValue(properties, CFSTR(kIOTTYBaseNameKey), baseName);
    CFDictionarySetValue(properties, CFSTR(kIOTTYDeviceKey), ttyDevice.get());
    // The device node, which a port of any name leads back to.
    CFRef<CFStringRef> node = makeText(std::string(kDeviceFolder) + name);
    CFDictionarySetValue(properties, CFSTR(kIOCalloutDeviceKey), node.get());
    CFDictionarySetValue(properties, CFSTR(kIODialinDeviceKey), node.get());
    if (modem && bus->maker) {
        client.makerModem = true;
        if (std::optional<std::string> text = tty.read(interface, "bInterfaceNumber"))
            client.interfaceNumber = parseHexByte(*text);
    }
    serialClients_.push_back(std::move(client));
}

void SysfsLoader::nameMakersPorts()
{
    // The maker's modem ports of each device, by interface number; a port
    // whose number cannot be read comes after those whose can.
    std::unordered_map<Registry::Index, std::vector<SerialClient *>> byDevice;
    for (SerialClient &client : serialClients_)
        if (client.makerModem) byDevice[client.parent].push_back(&client);
    for (auto &[device, clients] : byDevice) {
        std::stable_sort(clients.begin(), clients.end(),
                         [](const SerialClient *a, const SerialClient *b) {
                             return a->interfaceNumber.value_or(UINT32_MAX) <
                                    b->interfaceNumber.value_or(UINT32_MAX);
                         });
        for (size_t rank = 0; rank < clients.size() && rank < std::size(kMakerPortNames); ++rank) {
            CFRef<CFStringRef> name = made(
                CFStringCreateWithCString(nullptr, kMakerPortNames[rank], kCFStringEncodingUTF8));
            CFRef<CFStringRef> base =
                made(CFStringCreateWithCString(nullptr, kMakerBaseName, kCFStringEncodingUTF8));
            CFDictionarySetValue(clients[rank]->properties.get(), CFSTR(kIOTTYDeviceKey),
                                 name.get());
            CFDictionarySetValue(clients[rank]->properties.get(), CFSTR(kIOTTYBaseNameKey),
                                 base.get());
            clients[rank]->name = name;
        }
    }
}

// The bus device of a port whose device is at device in the tree and at
// via from the folder from: the device itself, or the hardware above the
// kernel's own layer that the device is.
std::optional<BusDevice> SysfsLoader::busDeviceOf(const SysfsFolder &from, std::string via,
                                                  const std::string &device)
{
    if (auto found = busDevices_.find(device); found != busDevices_.end()) return found->second;
    std::string                path      = device; // in the tree
    std::optional<std::string> subsystem = from.linkName(via, "subsystem");
    if (subsystem) {
        int              up    = 0;
        std::string_view above = {};
        // A USB interface's name holds a ":" ("1-2:1.0"); its device's does not.
        if (*subsystem == "usb" && lastComponent(path).find(':') != std::string::npos) {
            up    = 1;
            above = "usb";
        }
        for (const Layer &layer : kLayers)
            if (*subsystem == layer.subsystem) up = layer.up, above = layer.above;
        for (; up > 0 && !parentOf(path).empty(); --up) {
            via += "/..";
            path.resize(parentOf(path).size());
        }
        if (path != device) {
            if (auto found = busDevices_.find(path); found != busDevices_.end())
                return found->second;
            subsystem =
                above.empty() ? from.linkName(via, "subsystem") : std::optional<std::string>(above);
        }
    }
    // A device with no subsystem link is a platform device when it is there
    // at all; a link that led nowhere, or round a loop, is not.
    if (!subsystem && !from.isFolder(via)) return std::nullopt;
    BusDevice bus = addBusDevice(from, via, path,
                                 subsystem ? std::string_view(*subsystem) : std::string_view());
    busDevices_.try_emplace(std::move(path), bus);
    return bus;
}

BusDevice SysfsLoader::addBusDevice(const SysfsFolder &port, const std::string &via,
                                    const std::string &path, std::string_view subsystem)
{
    BusDevice                     bus;
    CFRef<CFStringRef>            name = makeText(lastComponent(path));
    CFRef<CFMutableDictionaryRef> properties;
    CFStringRef                   className = CFSTR("IOPlatformDevice");
    if (subsystem == "pci") {
        bus.kind   = BusKind::PCI;
        className  = CFSTR("IOPCIDevice");
        properties = makeDictionary();
        CFDictionarySetValue(properties.get(), CFSTR("name"),
                             makeData(std::string_view("ethernet", 9)).get());
        std::string_view address = pciDeviceAddress(lastComponent(path));
        if (std::optional<std::string> slot = slotOf(address)) {
            bus.inSlot = true;
            CFDictionarySetValue(properties.get(), CFSTR("slot-name"),
                                 makeData("SLOT-" + *slot + std::string(1, '\0')).get());
        }
        if (std::optional<SInt32> rank = functionRank(path, address))
            CFDictionarySetValue(properties.get(), CFSTR("IOChildIndex"), makeNumber(*rank).get());
    } else if (subsystem == "usb") {
        bus.kind   = BusKind::USB;
        className  = CFSTR("IOUSBDevice");
        properties = makeDictionary();
        CFRef<CFStringRef> product;
        if (std::optional<std::string> text = port.read(via, "product"); text && !text->empty())
            product = makeText(*text);
        if (product) CFDictionarySetValue(properties.get(), CFSTR("Product Name"), product.get());
        // The whole value: a name that only begins with the maker's, or
        // bytes that are not text, are someone else's.
        bus.maker = port.read(via, "manufacturer") == kMakerManufacturer;
    }
    bus.entry = builder_.addEntry(0, className, name.get(), properties.get());
    return bus;
}

std::optional<std::string> SysfsLoader::slotOf(std::string_view address)
{
    if (address.empty()) return std::nullopt;
    if (!slots_) {
        slots_.emplace();
        for (const std::string &slot : tree_.top().list("bus/pci/slots"))
            if (std::optional<std::string> named =
                    tree_.top().read("bus/pci/slots/" + slot, "address"))
                slots_->emplace(*named, slot); // the first slot in name order wins
    }
    auto found = slots_->find(std::string(address));
    if (found == slots_->end()) return std::nullopt;
    return found->second;
}

std::optional<SInt32> SysfsLoader::functionRank(const std::string &path, std::string_view address)
{
    if (address.empty()) return std::nullopt;
    auto functions = functionsWithNet_.find(functionsKey(path, address));
    if (functions == functionsWithNet_.end() || functions->second.size() < 2) return std::nullopt;
    std::string_view name = lastComponent(path);
    for (size_t rank = 0; rank < functions->second.size(); ++rank)
        if (functions->second[rank] == name) return static_cast<SInt32>(rank);
    return std::nullopt;
}

} // namespace

std::string sysfsDirectory()
{
    const char *value = std::getenv("VAVIVAZ_SYSFS");
    return value != nullptr && *value != '\0' ? value : "/sys";
}

IOReturn registryFromSysfs(const std::string               &folder,
                           std::shared_ptr<const Registry> *registry) noexcept
{
    return guarded(kIOReturnNoMemory, [&] {
        *registry = SysfsLoader(folder).load();
        return kIOReturnSuccess;
    });
}

} // namespace vz
