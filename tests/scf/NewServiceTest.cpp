// NewServiceTest.cpp: new services made from port records, each kind of port
// with its whole family of entities; new sets across the system versions at
// which they change; and failed calls, which must leave neither a service
// nor its link nor a set behind. (The demo machine's new set, in port order,
// is in the recipe tests.)
#include "../ports/PortTestSupport.h"
#include "EditStore.h"
#include "MoreCFQ.h"
#include "VaviVAZ.h"
#include "VaviVAZCCLScanner.h"
#include "VaviVAZDigest.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <functional>

using namespace edit;
using namespace storetext;
using vztest::Utf8;

namespace {

Entries Numbers(const std::vector<std::string> &keys, long long value)
{
    Entries out;
    for (const std::string &key : keys)
        out.push_back({key, Int(value)});
    return out;
}

// A port record as the scanner makes it: name, hardware, device name, the
// type (and subtype) that go with the hardware, and extra keys.
Entries PortRecord(const std::string &name, const std::string &hardware, const std::string &device,
                   const Entries &extra = {})
{
    Entries record = {
        {"UserDefinedName", Str(name)}, {"Hardware", Str(hardware)}, {"DeviceName", Str(device)}};
    if (hardware == "Modem") {
        record.insert(record.end(), {{"Type", Str("PPP")}, {"SubType", Str("PPPSerial")}});
    } else {
        record.push_back({"Type", Str(hardware == "FireWire" ? "FireWire" : "Ethernet")});
    }
    record.insert(record.end(), extra.begin(), extra.end());
    return record;
}

// The whole service made on 10.4 for a port whose Interface entity is given,
// with LCP echo on or off and its link entity ("": none).
std::string ExpectedService(const Entries &interface, bool lcpEcho, const std::string &linkKey,
                            const std::string &link)
{
    bool    modem = interface[1].second == Str("Modem");
    Entries ppp, service;
    ppp = Numbers({"ACSPEnabled", "CommDisplayTerminalWindow", "CommUseTerminalScript",
                   "DialOnDemand", "IdleReminder"},
                  0);
    for (const auto &entry :
         Numbers({"CommRedialCount", "CommRedialEnabled", "DisconnectOnFastUserSwitch",
                  "DisconnectOnLogout", "DisconnectOnSleep", "IPCPCompressionVJ"},
                 1))
        ppp.push_back(entry);
    ppp.insert(ppp.end(), {{"CommRedialInterval", Int(5)},
                           {"DisconnectOnIdle", Int(modem ? 1 : 0)},
                           {"DisconnectOnIdleTimer", Int(modem ? 600 : 1800)},
                           {"IdleReminderTimer", Int(1800)},
                           {"LCPEchoEnabled", Int(lcpEcho ? 1 : 0)},
                           {"LCPEchoFailure", Int(4)},
                           {"LCPEchoInterval", Int(10)},
                           {"Logfile", Str("/var/log/ppp.log")},
                           {"VerboseLogging", Int(modem ? 1 : 0)}});
    if (!modem) ppp.push_back({"__INACTIVE__", Int(1)});
    service = {{"DNS", Dict({})},
               {"IPv4", Dict({{"ConfigMethod", Str(modem ? "PPP" : "DHCP")}})},
               {"IPv6", Dict({{"ConfigMethod", Str("Automatic")}})},
               {"Interface", Dict(interface)},
               {"PPP", Dict(ppp)},
               {"Proxies", Dict({{"ExcludeSimpleHostnames", Int(0)},
                                 {"FTPPassive", Int(1)},
                                 {"ProxyAutoDiscoveryEnable", Int(0)}})},
               {"UserDefinedName", interface[0].second}};
    if (!modem) {
        service.push_back(
            {"AppleTalk", Dict({{"ConfigMethod", Str("Node")}, {"__INACTIVE__", Int(1)}})});
    }
    if (!linkKey.empty()) service.push_back({linkKey, link});
    return Dict(service);
}

std::string ModemEntity(bool hold)
{
    Entries modem = {
        {"ConnectionScript", Str("")}, {"DialMode", Str("WaitForDialTone")}, {"PulseDial", Int(0)}};
    for (const auto &entry : Numbers({"DataCompression", "ErrorCorrection", "Speaker"}, 1))
        modem.push_back(entry);
    if (hold) {
        modem.insert(modem.end(), {{"HoldCallWaitingAudibleAlert", Int(1)},
                                   {"HoldDisconnectOnAnswer", Int(0)},
                                   {"HoldEnabled", Int(0)},
                                   {"HoldReminder", Int(1)},
                                   {"HoldReminderTime", Int(10)}});
    }
    return Dict(modem);
}

class NewService : public EditTest {
  protected:
    void SetUp() override
    {
        EditTest::SetUp();
        SetSystemVersion("10.4.11");
    }

    // Inside a caller's bracket: the snapshot holds the standard store's
    // sets and services, and S1's order, and nothing else.
    static void ExpectSnapshotUntouched(const std::string &what)
    {
        Out<CFArrayRef> sets, services, order;
        EXPECT_EQ(MoreSCCopySetIDs(sets.put(), NULL), noErr);
        EXPECT_EQ(Sorted(Strings(sets.get())), (std::vector<std::string>{"S1", "S2"})) << what;
        EXPECT_EQ(CFQArrayCreateWithDictionaryKeys(
                      static_cast<CFDictionaryRef>(SCPreferencesGetValue(
                          MoreSCGetSCPreferencesRef(), kSCPrefNetworkServices)),
                      services.put()),
                  noErr);
        EXPECT_EQ(Sorted(Strings(services.get())), (std::vector<std::string>{"A", "B", "C"}))
            << what;
        EXPECT_EQ(MoreSCCopyServiceIDs(CFSTR("S1"), order.put(), NULL), noErr);
        EXPECT_EQ(Strings(order.get()), (std::vector<std::string>{"A", "B"})) << what;
    }
};

const std::string kEn0MAC = "02:5a:4f:10:00:01";

TEST_F(NewService, EachKindOfPortGetsItsWholeFamilyOfEntities)
{
    const std::string kLongMAC = "00:0a:95:ff:fe:9d:68:16";
    struct Case {
        Entries     interface; // the record's keys that go into the Interface entity
        Entries     portOnly;  // its other keys
        bool        lcpEcho;
        std::string linkKey, link;
    };
    const Case kCases[] = {
        {PortRecord("Built-in Ethernet", "Ethernet", "en0"),
         {{"MACAddress", Str(kEn0MAC)}},
         true,
         "Ethernet",
         Dict({{"MACAddress", Str(kEn0MAC)}})},
        // An Ethernet card: LCP echo off.
        {PortRecord("PCI Ethernet Slot 1", "Ethernet", "en3"),
         {{"MACAddress", Str(kEn0MAC)}},
         false,
         "Ethernet",
         Dict({{"MACAddress", Str(kEn0MAC)}})},
        // From 10.4 on the AirPort entity carries no MAC address.
        {PortRecord("AirPort", "AirPort", "en1"),
         {{"MACAddress", Str(kEn0MAC)}},
         true,
         "AirPort",
         Dict({})},
        {PortRecord("Built-in FireWire", "FireWire", "fw0"),
         {{"MACAddress", Str(kLongMAC)}},
         false,
         "",
         ""},
        {PortRecord("Internal Modem", "Modem", "modem", {{"SupportsModemOnHold", Int(1)}}),
         {},
         true,
         "Modem",
         ModemEntity(true)},
        {PortRecord("USB Modem", "Modem", "usbmodem1"), {}, false, "Modem", ModemEntity(false)},
        // Hold 0 is no hold; the variant goes into the Interface.
        {PortRecord("Bluetooth", "Modem", "Bluetooth-Modem",
                    {{"HardwareVariant", Str("Bluetooth")}}),
         {{"SupportsModemOnHold", Int(0)}},
         false,
         "Modem",
         ModemEntity(false)},
    };
    std::vector<std::string> order = {"A", "B"};
    for (const Case &c : kCases) {
        Entries record = c.interface;
        record.insert(record.end(), c.portOnly.begin(), c.portOnly.end());
        record.push_back({"SortOrder", Int(12)});
        Plist            port(Dict(record));
        Plist            expected(ExpectedService(c.interface, c.lcpEcho, c.linkKey, c.link));
        Out<CFStringRef> serviceID;
        ASSERT_EQ(MoreSCNewService(NULL, port.dict(), serviceID.put()), noErr);
        std::string id = Utf8(serviceID.get());

        Tree tree(StoreXML());
        EXPECT_TRUE(CFEqual(tree.at("NetworkServices/" + id), expected.dict())) << Dict(record);
        order.push_back(id);
        EXPECT_EQ(tree.order("S1"), order);
        EXPECT_EQ(tree.text("Sets/S1/Network/Service/" + id + "/__LINK__"),
                  "/NetworkServices/" + id);
    }
    EXPECT_FALSE(gMoreSCCreateIPv4EntityDontCheck);
}

TEST_F(NewService, AModemGetsTheCataloguesDefaultScript)
{
    Write("System/Library/Modem Scripts/Internal 56K Modem (v.90)", "!\n");
    Write("Library/Modem Scripts/ZORVEX Mobile", "!\n");
    Plist modem(Dict(PortRecord("USB Modem", "Modem", "usbmodem1")));

    // A script folder that cannot be read fails the last entity: nothing of
    // the service is left.
    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    ASSERT_TRUE(VZArmSyscallFailure("open", 0, true, EACCES));
    EXPECT_EQ(MoreSCNewService(NULL, modem.dict(), NULL), afpAccessDenied);
    VZClearSyscallFailure();
    ExpectSnapshotUntouched("after the catalogue failed");
    MoreSCClose(&outer, false);

    struct Case {
        CFStringRef defaultName; // NULL: chosen for this system
        const char *script;
    };
    // The catalogue's own spelling of the default; one not installed gives
    // the first script.
    const Case kCases[] = {{NULL, "Internal 56K Modem (v.90)"},
                           {CFSTR("zorvex MOBILE"), "ZORVEX Mobile"},
                           {CFSTR("Not Installed"), "Internal 56K Modem (v.90)"}};
    for (const Case &c : kCases) {
        MoreSCSetDefaultCCL(c.defaultName);
        Out<CFStringRef> serviceID;
        ASSERT_EQ(MoreSCNewService(NULL, modem.dict(), serviceID.put()), noErr);
        EXPECT_EQ(Tree(StoreXML())
                      .text("NetworkServices/" + Utf8(serviceID.get()) + "/Modem/ConnectionScript"),
                  c.script);
    }
    MoreSCSetDefaultCCL(NULL);
}

TEST_F(NewService, ANewSetFollowsTheSystemVersion)
{
    // FireWire sorts after "en0"; en4's controller reports no MAC address,
    // so it gets no service.
    Machine({vztest::NetworkPort("en0", {{"IOMACAddress", vztest::Data({2, 0, 0, 0, 0, 1})}}),
             vztest::NetworkPort("fw0", {{"IOMACAddress", vztest::Data({0, 1, 2, 3, 4, 5, 6, 7})}},
                                 {}, "IOFireWireIP", vztest::Integer(144)),
             vztest::NetworkPort("en4")});
    struct Case {
        const char *version;
        long long   ftpPassive;
        bool        ipv6, fireWire, netInfo;
    };
    const Case kCases[] = {
        {"10.1.9", 0, false, false, true}, {"10.2", 1, false, false, true},
        {"10.2.8", 1, false, false, true}, {"10.3", 1, true, false, true},
        {"10.3.9", 1, true, false, true},  {"10.4", 1, true, true, true},
        {"10.4.11", 1, true, true, true},  {"10.5", 1, true, true, false},
    };
    for (const Case &c : kCases) {
        Write(kStorePath, StandardStore());
        SetSystemVersion(c.version);
        Out<CFStringRef> setID;
        ASSERT_EQ(MoreSCNewSet(CFSTR("New"), setID.put()), noErr) << c.version;
        std::string set = "Sets/" + Utf8(setID.get());

        Tree                     tree(StoreXML());
        std::vector<std::string> devices;
        for (const std::string &id : tree.order(Utf8(setID.get())))
            devices.push_back(tree.text("NetworkServices/" + id + "/Interface/DeviceName"));
        EXPECT_EQ(devices, c.fireWire ? (std::vector<std::string>{"en0", "fw0"})
                                      : (std::vector<std::string>{"en0"}))
            << c.version;
        std::string en0 = "NetworkServices/" + tree.order(Utf8(setID.get()))[0];
        EXPECT_EQ(tree.integer(en0 + "/Proxies/FTPPassive"), c.ftpPassive) << c.version;
        EXPECT_EQ(tree.has(en0 + "/IPv6"), c.ipv6) << c.version;
        EXPECT_EQ(tree.keys(set + "/Network/Global"),
                  c.netInfo ? (std::vector<std::string>{"IPv4", "NetInfo"})
                            : (std::vector<std::string>{"IPv4"}))
            << c.version;
        EXPECT_EQ(tree.text(set + "/UserDefinedName"), "New");
        EXPECT_EQ(tree.text("CurrentSet"), "/Sets/S1");

        // An empty set has the same globals and no service.
        Out<CFStringRef> emptyID;
        ASSERT_EQ(MoreSCNewEmptySet(CFSTR("Empty"), emptyID.put()), noErr) << c.version;
        Tree        after(StoreXML());
        std::string empty = "Sets/" + Utf8(emptyID.get());
        EXPECT_EQ(after.order(Utf8(emptyID.get())), std::vector<std::string>{});
        EXPECT_EQ(after.keys(empty + "/Network/Service"), std::vector<std::string>{});
        EXPECT_EQ(after.keys(empty + "/Network/Global"), tree.keys(set + "/Network/Global"));
        EXPECT_EQ(after.text(empty + "/UserDefinedName"), "Empty");
    }
}

TEST_F(NewService, ALinkEntityThatCannotBeBuiltLeavesNothing)
{
    // An eight-byte address is too long for an Ethernet entity: the last
    // entity fails; in a new set, after the service of "en0" was made.
    Plist port(Dict(
        PortRecord("Odd", "Ethernet", "en7", {{"MACAddress", Str("00:01:02:03:04:05:06:07")}})));
    Machine(
        {vztest::NetworkPort("en0", {{"IOMACAddress", vztest::Data({2, 0, 0, 0, 0, 1})}}),
         vztest::NetworkPort("en7", {{"IOMACAddress", vztest::Data({0, 1, 2, 3, 4, 5, 6, 7})}})});
    FileStamp        before = Stamp();
    Out<CFStringRef> serviceID, setID;
    EXPECT_EQ(MoreSCNewService(NULL, port.dict(), serviceID.put()), kCFQErrorObjectNotMade);
    EXPECT_EQ(MoreSCNewSet(CFSTR("New"), setID.put()), kCFQErrorObjectNotMade);
    EXPECT_EQ(serviceID.get(), nullptr);
    EXPECT_EQ(setID.get(), nullptr);
    EXPECT_TRUE(Stamp() == before);

    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    EXPECT_EQ(MoreSCNewService(NULL, port.dict(), NULL), kCFQErrorObjectNotMade);
    EXPECT_EQ(MoreSCNewSet(CFSTR("New"), NULL), kCFQErrorObjectNotMade);
    ExpectSnapshotUntouched("after the failures");
    MoreSCClose(&outer, false);
}

// A call that fails at any allocation, or at the commit, leaves the store file
// as it was and, inside a caller's bracket, the snapshot too. (The machine
// has no ports: the scanner stops the process when it cannot store a number
// into a port record.)
TEST_F(NewService, FailuresAtEveryAllocationLeaveNothingBehind)
{
    Plist modem(
        Dict(PortRecord("Internal Modem", "Modem", "modem", {{"SupportsModemOnHold", Int(1)}})));
    Plist ethernet(Dict(PortRecord("Ethernet", "Ethernet", "en0", {{"MACAddress", Str(kEn0MAC)}})));
    const std::pair<const char *, std::function<OSStatus()>> kCases[] = {
        {"modem service", [&] { return MoreSCNewService(NULL, modem.dict(), NULL); }},
        {"Ethernet service", [&] { return MoreSCNewService(CFSTR("S2"), ethernet.dict(), NULL); }},
        {"set",
         [] {
             CFStringRef id  = NULL;
             OSStatus    err = MoreSCNewSet(CFSTR("New"), &id);
             if (id != NULL) CFRelease(id);
             return err;
         }},
    };
    const std::string original = StandardStore();
    for (const auto &[name, operation] : kCases) {
        bool done = false;
        long n    = 0;
        ASSERT_EQ(operation(), noErr) << name;
        for (; !done && n < 5000; n++) {
            Write(kStorePath, original);
            FileStamp before = Stamp();
            VZFlushPlatformCaches();
            CFIndex live = VZGetLiveObjectCount();
            VZArmAllocationFailure(n, false);
            done = (operation() == noErr);
            VZClearAllocationFailure();
            // Apply may fail after the commit went through.
            if (!done && !(Stamp() == before)) {
                EXPECT_NE(StoreXML(), original) << name << " at " << n;
            }
            VZFlushPlatformCaches();
            if (!done) {
                EXPECT_EQ(VZGetLiveObjectCount(), live) << name << " at " << n;
            }

            Write(kStorePath, original);
            OSStatus outer = MoreSCOpen(false, false);
            ASSERT_EQ(outer, noErr);
            VZArmAllocationFailure(n, false);
            OSStatus err = operation();
            VZClearAllocationFailure();
            if (err != noErr) ExpectSnapshotUntouched(name + (" at " + std::to_string(n)));
            MoreSCClose(&outer, false);
            EXPECT_FALSE(gMoreSCCreateIPv4EntityDontCheck);
        }
        EXPECT_TRUE(done) << name << ": no success within the limit";
        EXPECT_GT(n, 1) << name << ": succeeded despite a failing allocator";

        Write(kStorePath, original);
        FileStamp before = Stamp();
        ASSERT_TRUE(VZArmSyscallFailure("rename", 0, true, EIO));
        EXPECT_NE(operation(), noErr) << name;
        VZClearSyscallFailure();
        EXPECT_TRUE(Stamp() == before) << name;
    }
}

} // namespace
