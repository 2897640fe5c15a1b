// IOKitTest.cpp: the device registry over snapshot files: class conformance
// and matching in registry order, parents, children and names, property reads
// and searches, the reuse of an unchanged snapshot and the life of handles
// across a change, bad arguments and allocation failures. (Damaged snapshots:
// tests/ports/DamagedRegistryTest.cpp and the vz-ioreg process test.)
#include "RegistryText.h"
#include "StoreTestSupport.h"

#include <IOKit/IOKitLib.h>

#include <string>
#include <vector>

namespace {

using vztest::Data;
using vztest::Integer;
using vztest::Node;
using vztest::Ref;
using vztest::String;

// Releases a handle at the end of the scope.
class Handle {
  public:
    explicit Handle(io_object_t object = IO_OBJECT_NULL) : object_(object) {}
    ~Handle()
    {
        if (object_ != IO_OBJECT_NULL) {
            EXPECT_EQ(IOObjectRelease(object_), kIOReturnSuccess);
        }
    }
    Handle(const Handle &)                 = delete;
    Handle      &operator=(const Handle &) = delete;
    io_object_t  get() const { return object_; }
    io_object_t *put() { return &object_; }

  private:
    io_object_t object_;
};

std::string NameOf(io_object_t entry)
{
    io_name_t name;
    if (IORegistryEntryGetName(entry, name) != kIOReturnSuccess) return "?";
    return name;
}

std::string ClassOf(io_object_t object)
{
    io_name_t name;
    if (IOObjectGetClass(object, name) != kIOReturnSuccess) return "?";
    return name;
}

// The names of what an iterator yields, releasing each.
std::vector<std::string> Drain(io_iterator_t iterator)
{
    std::vector<std::string> names;
    while (io_object_t entry = IOIteratorNext(iterator)) {
        names.push_back(NameOf(entry));
        EXPECT_EQ(IOObjectRelease(entry), kIOReturnSuccess);
    }
    return names;
}

// The names of the entries matching selects ({"!<status>"} on failure).
std::vector<std::string> Matches(CFDictionaryRef matching)
{
    Handle        iterator;
    kern_return_t status =
        IOServiceGetMatchingServices(kIOMasterPortDefault, matching, iterator.put());
    if (status != kIOReturnSuccess) return {"!" + std::to_string(status)};
    return Drain(iterator.get());
}

std::vector<std::string> MatchesClass(const char *className)
{
    return Matches(IOServiceMatching(className));
}

// A small machine: a PCI bridge with a wired and a wireless card, a FireWire
// port and a USB modem with two serial clients.
Node Machine()
{
    Node root("IORegistryEntry", "Root");
    root.Set("Root Property", String("root"));
    Node bridge("IOPCIBridge", "pci");
    bridge.Set("V92Modem", Integer(1)).Set("Product Name", String("Bridge"));
    bridge.Add(Node("IOPCIDevice", "ethernet")
                   .Set("name", Data("ethernet", true))
                   .Add(Node("IOEthernetController", "wired")
                            .Set("IOMACAddress", Data({0, 0x0a, 0x95, 0x9d, 0x68, 0x16}))
                            .Add(Node("IOEthernetInterface", "en0")
                                     .Set("BSD Name", String("en0"))
                                     .Set("IOInterfaceType", Integer(6)))));
    bridge.Add(Node("IOPCIDevice", "wireless")
                   .Add(Node("IOEthernetController", "radio")
                            .Add(Node("IO80211Interface", "en1").Set("BSD Name", String("en1")))));
    bridge.Add(Node("IOFireWireController", "firewire")
                   .Add(Node("IOFireWireIP", "fw0").Set("BSD Name", String("fw0"))));
    Node usb("IOUSBDevice", "modem");
    usb.Set("Product Name", String("USB Modem"));
    usb.Add(Node("IOSerialBSDClient", "data")
                .Set("IOSerialBSDClientType", String("IOModemSerialStream"))
                .Set("IOTTYBaseName", String("usbmodem"))
                .Set("IOTTYDevice", String("usbmodem1")));
    usb.Add(Node("IOSerialBSDClient", "aux")
                .Set("IOSerialBSDClientType", String("IORS232SerialStream"))
                .Set("IOTTYBaseName", String("usbserial"))
                .Set("IOTTYDevice", String("usbserial1")));
    bridge.Add(usb);
    root.Add(bridge);
    return root;
}

class IOKit : public vztest::TempRoot {
  protected:
    void WriteRegistry(const Node &root) const { Write(vztest::kRegistryPath, RegistryXml(root)); }

    // The first entry of the class, as a handle the caller releases.
    static io_object_t First(const char *className)
    {
        io_iterator_t iterator = IO_OBJECT_NULL;
        if (IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching(className),
                                         &iterator) != kIOReturnSuccess)
            return IO_OBJECT_NULL;
        io_object_t entry = IOIteratorNext(iterator);
        EXPECT_EQ(IOObjectRelease(iterator), kIOReturnSuccess);
        return entry;
    }
};

TEST_F(IOKit, ClassesConformByTheTableInRegistryOrder)
{
    WriteRegistry(Machine());
    struct Row {
        const char              *className;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"IONetworkInterface", {"en0", "en1", "fw0"}},
        {"IOEthernetInterface", {"en0", "en1"}},
        {"IO80211Interface", {"en1"}},
        {"IOFireWireIP", {"fw0"}},
        {"IONetworkController", {"wired", "radio"}},
        {"IOPCIDevice", {"ethernet", "wireless"}}, // not in the table: itself only
        {"IOService",
         {"Root", "pci", "ethernet", "wired", "en0", "wireless", "radio", "en1", "firewire", "fw0",
          "modem", "data", "aux"}},
        {"IOSerialBSDClient", {"data", "aux"}},
        {"IOEthernet", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.className);
        EXPECT_EQ(MatchesClass(row.className), row.names);
    }

    Handle en1(First("IO80211Interface"));
    EXPECT_TRUE(IOObjectConformsTo(en1.get(), "IONetworkInterface"));
    EXPECT_TRUE(IOObjectConformsTo(en1.get(), "IOEthernetInterface"));
    EXPECT_FALSE(IOObjectConformsTo(en1.get(), "IOFireWireIP"));
    EXPECT_FALSE(IOObjectConformsTo(IO_OBJECT_NULL, "IOService"));
    EXPECT_EQ(ClassOf(en1.get()), "IO80211Interface");
}

TEST_F(IOKit, MatchingComparesTheOtherKeysByValue)
{
    WriteRegistry(Machine());
    // Without a class, every entry whose property equals; numbers by value.
    CFMutableDictionaryRef byType = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    double           six = 6.0;
    Ref<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberDoubleType, &six));
    CFDictionarySetValue(byType, CFSTR("IOInterfaceType"), number.get());
    EXPECT_EQ(Matches(byType), std::vector<std::string>{"en0"});

    // A reserved key of the file is no property to match.
    CFMutableDictionaryRef byClass = IOServiceMatching("IOService");
    CFDictionarySetValue(byClass, CFSTR("IOObjectClass"), CFSTR("IOUSBDevice"));
    EXPECT_EQ(Matches(byClass), std::vector<std::string>{});
}

TEST_F(IOKit, ParentsChildrenAndNames)
{
    WriteRegistry(Machine());
    Handle en0(First("IOEthernetInterface"));
    ASSERT_NE(en0.get(), IO_OBJECT_NULL);

    std::vector<std::string> chain;
    io_registry_entry_t      entry = en0.get();
    IOObjectRetain(entry);
    for (;;) {
        io_registry_entry_t parent = IO_OBJECT_NULL;
        kern_return_t       status = IORegistryEntryGetParentEntry(entry, kIOServicePlane, &parent);
        EXPECT_EQ(IOObjectRelease(entry), kIOReturnSuccess);
        if (status != kIOReturnSuccess) {
            EXPECT_EQ(status, kIOReturnNoDevice); // past the root
            EXPECT_EQ(parent, IO_OBJECT_NULL);
            break;
        }
        chain.push_back(NameOf(parent) + " <" + ClassOf(parent) + ">");
        entry = parent;
    }
    EXPECT_EQ(chain,
              (std::vector<std::string>{"wired <IOEthernetController>", "ethernet <IOPCIDevice>",
                                        "pci <IOPCIBridge>", "Root <IORegistryEntry>"}));

    // Children in order (the tree as a whole: the vz-ioreg process test).
    Handle pci(First("IOPCIBridge"));
    Handle children;
    ASSERT_EQ(IORegistryEntryGetChildIterator(pci.get(), kIOServicePlane, children.put()),
              kIOReturnSuccess);
    EXPECT_EQ(Drain(children.get()),
              (std::vector<std::string>{"ethernet", "wireless", "firewire", "modem"}));

    // Without a name of its own, an entry is named by its class; a long
    // name is cut to fit, never in the middle of a character.
    Node unnamed("IORegistryEntry");
    unnamed.Add(Node("IOPCIDevice"));
    std::string long_name(126, 'x');
    unnamed.Add(Node("IOUSBDevice", long_name + "\xc3\xa9"));
    WriteRegistry(unnamed);
    EXPECT_EQ(MatchesClass("IOPCIDevice"), std::vector<std::string>{"IOPCIDevice"});
    EXPECT_EQ(MatchesClass("IOUSBDevice"), std::vector<std::string>{long_name});
}

TEST_F(IOKit, PropertiesAndSearches)
{
    WriteRegistry(Machine());
    Handle data(First("IOSerialBSDClient"));
    ASSERT_NE(data.get(), IO_OBJECT_NULL);

    CFMutableDictionaryRef properties = nullptr;
    ASSERT_EQ(IORegistryEntryCreateCFProperties(data.get(), &properties, nullptr, 0),
              kIOReturnSuccess);
    Ref<CFMutableDictionaryRef> own(properties);
    EXPECT_EQ(CFDictionaryGetCount(properties), 3);
    EXPECT_FALSE(CFDictionaryContainsKey(properties, CFSTR("IOObjectClass")));
    EXPECT_FALSE(CFDictionaryContainsKey(properties, CFSTR("IORegistryEntryName")));
    // The copy is the caller's to change.
    CFDictionarySetValue(properties, CFSTR("Mine"), CFSTR("yes"));

    Ref<CFTypeRef> device(
        IORegistryEntryCreateCFProperty(data.get(), CFSTR("IOTTYDevice"), nullptr, 0));
    EXPECT_TRUE(device && CFEqual(device.get(), CFSTR("usbmodem1")));
    EXPECT_EQ(IORegistryEntryCreateCFProperty(data.get(), CFSTR("IOObjectClass"), nullptr, 0),
              nullptr);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(data.get(), CFSTR("Mine"), nullptr, 0), nullptr);

    const IOOptionBits up = kIORegistryIterateRecursively | kIORegistryIterateParents;
    struct Row {
        const char  *key;
        IOOptionBits options;
        const char  *found; // nullptr: nothing
    };
    const Row rows[] = {
        {"Product Name", up, "USB Modem"}, // the nearest ancestor wins
        {"Product Name", 0, nullptr},      // the entry alone
        {"Product Name", kIORegistryIterateParents, nullptr},
        {"Root Property", up, "root"},
        {"IOTTYDevice", up, "usbmodem1"}, // the entry itself first
        {"HiddenPort", up, nullptr},
        {"IOObjectClass", up, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.key);
        Ref<CFStringRef> key(CFStringCreateWithCString(nullptr, row.key, kCFStringEncodingUTF8));
        Ref<CFTypeRef>   value(IORegistryEntrySearchCFProperty(data.get(), kIOServicePlane, key,
                                                               nullptr, row.options));
        if (row.found == nullptr) {
            EXPECT_FALSE(value);
        } else {
            Ref<CFStringRef> want(
                CFStringCreateWithCString(nullptr, row.found, kCFStringEncodingUTF8));
            EXPECT_TRUE(value && CFEqual(value.get(), want.get()));
        }
    }

    // Recursively without parents: the descendants, in registry order.
    Handle         pci(First("IOPCIBridge"));
    Ref<CFTypeRef> bsd(IORegistryEntrySearchCFProperty(
        pci.get(), kIOServicePlane, CFSTR("BSD Name"), nullptr, kIORegistryIterateRecursively));
    EXPECT_TRUE(bsd && CFEqual(bsd.get(), CFSTR("en0")));
    EXPECT_EQ(IORegistryEntrySearchCFProperty(data.get(), "IODeviceTree", CFSTR("Product Name"),
                                              nullptr, up),
              nullptr);
}

TEST_F(IOKit, AnUnchangedSnapshotIsReadOnceAndHandlesOutliveAChange)
{
    WriteRegistry(Machine());
    Handle         before(First("IOEthernetInterface"));
    Ref<CFTypeRef> first(
        IORegistryEntryCreateCFProperty(before.get(), CFSTR("BSD Name"), nullptr, 0));
    {
        Handle         again(First("IOEthernetInterface"));
        Ref<CFTypeRef> second(
            IORegistryEntryCreateCFProperty(again.get(), CFSTR("BSD Name"), nullptr, 0));
        EXPECT_EQ(first.get(), second.get()); // the same parse
    }

    Node changed("IORegistryEntry");
    changed.Add(Node("IOEthernetInterface", "en9").Set("BSD Name", String("en9")));
    WriteRegistry(changed);
    EXPECT_EQ(MatchesClass("IOEthernetInterface"), std::vector<std::string>{"en9"});
    // The old handle still answers from the registry it came from.
    EXPECT_EQ(NameOf(before.get()), "en0");
    io_registry_entry_t parent = IO_OBJECT_NULL;
    EXPECT_EQ(IORegistryEntryGetParentEntry(before.get(), kIOServicePlane, &parent),
              kIOReturnSuccess);
    EXPECT_EQ(NameOf(parent), "wired");
    IOObjectRelease(parent);

    // A handle is a live object like any other: one left behind shows.
    CFIndex     live  = VZGetLiveObjectCount();
    io_object_t extra = First("IOEthernetInterface");
    EXPECT_EQ(VZGetLiveObjectCount(), live + 1);
    IOObjectRelease(extra);
    EXPECT_EQ(VZGetLiveObjectCount(), live);
}

TEST_F(IOKit, AMissingSnapshotIsABareRoot)
{
    EXPECT_EQ(MatchesClass("IOService"), std::vector<std::string>{"IORegistryEntry"});
    EXPECT_EQ(MatchesClass("IONetworkInterface"), std::vector<std::string>{});
    Handle root(IORegistryGetRootEntry(kIOMasterPortDefault));
    EXPECT_EQ(ClassOf(root.get()), "IORegistryEntry");
}

TEST_F(IOKit, BadArgumentsAreStatusesAndTheMatchingIsConsumed)
{
    WriteRegistry(Machine());
    const std::string      bad         = "!" + std::to_string(kIOReturnBadArgument);
    CFMutableDictionaryRef numberClass = IOServiceMatching("IOService");
    CFDictionarySetValue(numberClass, CFSTR(kIOProviderClassKey), kCFBooleanTrue);
    EXPECT_EQ(Matches(numberClass), std::vector<std::string>{bad});
    EXPECT_EQ(Matches(nullptr), std::vector<std::string>{bad});
    EXPECT_EQ(
        IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching("IOService"), nullptr),
        kIOReturnBadArgument);
    EXPECT_EQ(IOObjectRelease(IO_OBJECT_NULL), kIOReturnBadArgument);

    Handle              en0(First("IOEthernetInterface"));
    Handle              children;
    io_registry_entry_t parent = IO_OBJECT_NULL;
    EXPECT_EQ(IORegistryEntryGetParentEntry(en0.get(), "IODeviceTree", &parent),
              kIOReturnBadArgument);
    ASSERT_EQ(IORegistryEntryGetChildIterator(en0.get(), kIOServicePlane, children.put()),
              kIOReturnSuccess);
    EXPECT_EQ(IORegistryEntryGetParentEntry(children.get(), kIOServicePlane, &parent),
              kIOReturnBadArgument); // an iterator is no entry
    EXPECT_EQ(parent, IO_OBJECT_NULL);
}

TEST_F(IOKit, AllocationFailuresAreStatusesButNeverEndAWalkEarly)
{
    WriteRegistry(Machine());
    Handle iterator;
    ASSERT_EQ(IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching("IOService"),
                                           iterator.put()),
              kIOReturnSuccess);
    Handle en0(First("IOEthernetInterface"));

    VZArmAllocationFailure(0, true);
    io_registry_entry_t    parent     = IO_OBJECT_NULL;
    CFMutableDictionaryRef properties = nullptr;
    EXPECT_EQ(IORegistryEntryGetParentEntry(en0.get(), kIOServicePlane, &parent),
              kIOReturnNoMemory);
    EXPECT_EQ(parent, IO_OBJECT_NULL);
    EXPECT_EQ(IORegistryEntryCreateCFProperties(en0.get(), &properties, nullptr, 0),
              kIOReturnNoMemory);
    EXPECT_EQ(properties, nullptr);
    EXPECT_EQ(Drain(iterator.get()).size(), 13u);
    VZClearAllocationFailure();
}

} // namespace
