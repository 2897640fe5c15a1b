// LinkEntitiesTest.cpp: the interface, PPP, modem, AirPort and Ethernet
// entities compared whole across the system versions that change them, the
// PPP option defaults, the routing of MoreSCCreateEntity, and the builders'
// out-of-memory paths.
#include "DigestTestSupport.h"

#include "VaviVAZDigest.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <functional>
#include <string>

namespace {

using namespace vztest;

class LinkEntitiesTest : public DigestTest {};

TEST_F(LinkEntitiesTest, InterfaceEntities)
{
    Str en0("en0"), modem("modem"), en1("en1"), fw0("fw0");
    Str builtIn("Built-in Ethernet"), internal("Internal Modem"), airPort("AirPort"),
        fireWire("Built-in FireWire"), variant("ZorvexV92");
    const struct {
        const char           *name;
        MoreSCInterfaceDigest digest;
        Expected              expected;
    } rows[] = {
        {"Ethernet",
         {en0.get(), kSCEntNetEthernet, nullptr, kSCValNetInterfaceTypeEthernet, nullptr,
          builtIn.get(), false},
         {{kSCPropNetInterfaceDeviceName, Text("en0")},
          {kSCPropUserDefinedName, Text("Built-in Ethernet")},
          {kSCPropNetInterfaceHardware, Text("Ethernet")},
          {kSCPropNetInterfaceType, Text("Ethernet")}}},
        {"modem with hold, serial PPP and a variant",
         {modem.get(), kSCEntNetModem, variant.get(), kSCValNetInterfaceTypePPP,
          kSCValNetInterfaceSubTypePPPSerial, internal.get(), true},
         {{kSCPropNetInterfaceDeviceName, Text("modem")},
          {kSCPropUserDefinedName, Text("Internal Modem")},
          {kSCPropNetInterfaceHardware, Text("Modem")},
          {kSCPropNetInterfaceSupportsModemOnHold, Int(1)},
          {kSCPropNetInterfaceType, Text("PPP")},
          {kSCPropNetInterfaceSubType, Text("PPPSerial")},
          {CFSTR("HardwareVariant"), Text("ZorvexV92")}}},
        {"modem without hold",
         {modem.get(), kSCEntNetModem, nullptr, kSCValNetInterfaceTypePPP,
          kSCValNetInterfaceSubTypePPPSerial, internal.get(), false},
         {{kSCPropNetInterfaceDeviceName, Text("modem")},
          {kSCPropUserDefinedName, Text("Internal Modem")},
          {kSCPropNetInterfaceHardware, Text("Modem")},
          {kSCPropNetInterfaceType, Text("PPP")},
          {kSCPropNetInterfaceSubType, Text("PPPSerial")}}},
        {"AirPort ignores the hold flag",
         {en1.get(), kSCEntNetAirPort, nullptr, kSCValNetInterfaceTypeEthernet, nullptr,
          airPort.get(), true},
         {{kSCPropNetInterfaceDeviceName, Text("en1")},
          {kSCPropUserDefinedName, Text("AirPort")},
          {kSCPropNetInterfaceHardware, Text("AirPort")},
          {kSCPropNetInterfaceType, Text("Ethernet")}}},
        {"PPPoE over Ethernet",
         {en0.get(), kSCEntNetEthernet, nullptr, kSCValNetInterfaceTypePPP,
          kSCValNetInterfaceSubTypePPPoE, builtIn.get(), false},
         {{kSCPropNetInterfaceDeviceName, Text("en0")},
          {kSCPropUserDefinedName, Text("Built-in Ethernet")},
          {kSCPropNetInterfaceHardware, Text("Ethernet")},
          {kSCPropNetInterfaceType, Text("PPP")},
          {kSCPropNetInterfaceSubType, Text("PPPoE")}}},
        {"FireWire",
         {fw0.get(), kSCEntNetFireWire, nullptr, kSCValNetInterfaceTypeFireWire, nullptr,
          fireWire.get(), false},
         {{kSCPropNetInterfaceDeviceName, Text("fw0")},
          {kSCPropUserDefinedName, Text("Built-in FireWire")},
          {kSCPropNetInterfaceHardware, Text("FireWire")},
          {kSCPropNetInterfaceType, Text("FireWire")}}},
    };
    for (const auto &row : rows) {
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreateInterfaceEntity(&row.digest, &entity), noErr) << row.name;
        EXPECT_TRUE(ExpectEntity(entity, row.expected)) << row.name;
        CFRelease(entity);
    }
}

TEST_F(LinkEntitiesTest, DefaultPPPOptionsByVersion)
{
    const MoreSCPPPOptions *const tenOne = &kMoreSCPPPOptionsDefaultTenOne;
    const MoreSCPPPOptions *const dialUp = &kMoreSCPPPOptionsDefaultTenTwoAndLater;
    const MoreSCPPPOptions *const pppoe  = &kMoreSCPPPoEOptionsDefaultTenTwoAndLater;
    const struct {
        const char             *version;
        const MoreSCPPPOptions *dialUp;
        const MoreSCPPPOptions *pppoe;
        Boolean                 tenTwo, tenThree, tenThreeFive, tenFour; // the version flags
    } rows[] = {
        // 10.1 has no PPPoE defaults of its own.
        {"10.1", tenOne, tenOne, false, false, false, false},
        {"10.1.5", tenOne, tenOne, false, false, false, false},
        {"10.2", dialUp, pppoe, true, false, false, false},
        {"10.3", dialUp, pppoe, true, true, false, false},
        {"10.3.4", dialUp, pppoe, true, true, false, false},
        {"10.3.5", dialUp, pppoe, true, true, true, false},
        {"10.4", dialUp, pppoe, true, true, true, true},
        {"10.5", dialUp, pppoe, true, true, true, true},
        // The flags follow every call, downwards too.
        {"10.1", tenOne, tenOne, false, false, false, false},
    };
    for (const auto &row : rows) {
        SetSystemVersion(row.version);
        EXPECT_EQ(MoreSCGetDefaultPPPOptions(false), row.dialUp) << row.version;
        EXPECT_EQ(MoreSCGetDefaultPPPOptions(true), row.pppoe) << row.version;
        EXPECT_EQ(gTenTwoOrLater, row.tenTwo) << row.version;
        EXPECT_EQ(gTenThreeOrLater, row.tenThree) << row.version;
        EXPECT_EQ(gTenThreeFiveOrLater, row.tenThreeFive) << row.version;
        EXPECT_EQ(gTenFourOrLater, row.tenFour) << row.version;
    }
}

// What a PPP digest with only `active` set gives on each version: the option
// defaults of the version and the fixed keys it knows.
TEST_F(LinkEntitiesTest, PPPDefaultsDependOnTheVersion)
{
    const Expected tenOne = {
        {kSCPropNetPPPDialOnDemand, Int(0)},
        {kSCPropNetPPPDisconnectOnIdle, Int(1)},
        {kSCPropNetPPPDisconnectOnIdleTimer, Int(900)},
        {kSCPropNetPPPDisconnectOnLogout, Int(1)},
        {kSCPropNetPPPIdleReminder, Int(0)},
        {kSCPropNetPPPIdleReminderTimer, Int(1800)},
        {kSCPropNetPPPLogfile, Text("/tmp/ppp.log")},
        {kSCPropNetPPPVerboseLogging, Int(0)},
        {kSCPropNetPPPCommDisplayTerminalWindow, Int(0)},
        {kSCPropNetPPPCommRedialCount, Int(1)},
        {kSCPropNetPPPCommRedialEnabled, Int(1)},
        {kSCPropNetPPPCommRedialInterval, Int(30)},
        {kSCPropNetPPPIPCPCompressionVJ, Int(1)},
        {kSCPropNetPPPLCPEchoEnabled, Int(1)},
        {kSCPropNetPPPLCPEchoFailure, Int(3)},
        {kSCPropNetPPPLCPEchoInterval, Int(10)},
    };
    const Expected tenTwo   = With(tenOne, {
                                               {kSCPropNetPPPDisconnectOnIdleTimer, Int(600)},
                                               {kSCPropNetPPPVerboseLogging, Int(1)},
                                               {kSCPropNetPPPCommRedialInterval, Int(5)},
                                               {kSCPropNetPPPLCPEchoFailure, Int(4)},
                                               {kSCPropNetPPPCommUseTerminalScript, Int(0)},
                                               {kSCPropNetPPPDisconnectOnSleep, Int(1)},
                                         });
    const Expected tenThree = With(tenTwo, {{kSCPropNetPPPACSPEnabled, Int(0)}});
    const Expected tenThreeFive =
        With(tenThree, {{kSCPropNetPPPLogfile, Text("/var/log/ppp.log")}});
    const Expected tenFour = With(tenThreeFive, {{CFSTR("DisconnectOnFastUserSwitch"), Int(1)}});

    const struct {
        const char     *version;
        const Expected &expected;
    } rows[] = {{"10.1", tenOne},         {"10.2", tenTwo},     {"10.2.8", tenTwo},
                {"10.3", tenThree},       {"10.3.4", tenThree}, {"10.3.5", tenThreeFive},
                {"10.3.9", tenThreeFive}, {"10.4", tenFour},    {"10.5", tenFour}};

    MoreSCPPPDigest digest = {};
    digest.active          = true;
    for (const auto &row : rows) {
        SetSystemVersion(row.version);
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreatePPPEntity(&digest, &entity), noErr) << row.version;
        EXPECT_TRUE(ExpectEntity(entity, row.expected)) << row.version;
        CFRelease(entity);
    }
}

TEST_F(LinkEntitiesTest, PPPDigestFieldsAndOwnOptions)
{
    SetSystemVersion("10.4");
    Str name("Zorvex Mobile"), account("alice"), number("*99#"), alternate("*98#");
    Str password("p\xC3\xA4ss");

    // Options of the caller's own replace the defaults; the 32-bit counts
    // keep their bits even above the signed range.
    MoreSCPPPOptions options          = kMoreSCPPPoEOptionsDefaultTenTwoAndLater;
    options.dialOnDemand              = true;
    options.lcpEchoEnabled            = false;
    options.commRedialCount           = 0xFFFFFFFFu;
    options.disconnectOnIdleTimer     = 0x80000000u;
    options.commDisplayTerminalWindow = true;

    MoreSCPPPDigest digest            = {};
    digest.active                     = false;
    digest.userDefinedName            = name.get();
    digest.authName                   = account.get();
    digest.authPassword               = password.get();
    digest.commRemoteAddress          = number.get();
    digest.commAlternateRemoteAddress = alternate.get();
    digest.options                    = &options;

    const UniChar      units[] = {'p', 0x00E4, 's', 's'};
    std::vector<UInt8> encoded((const UInt8 *)units, (const UInt8 *)units + sizeof(units));

    const Expected expected = {
        {kSCPropUserDefinedName, Text("Zorvex Mobile")},
        {kSCResvInactive, Int(1)},
        {kSCPropNetPPPDialOnDemand, Int(1)},
        {kSCPropNetPPPDisconnectOnIdle, Int(0)},
        {kSCPropNetPPPDisconnectOnIdleTimer, Int(INT32_MIN)},
        {kSCPropNetPPPDisconnectOnLogout, Int(1)},
        {kSCPropNetPPPIdleReminder, Int(0)},
        {kSCPropNetPPPIdleReminderTimer, Int(1800)},
        {kSCPropNetPPPLogfile, Text("/var/log/ppp.log")},
        {kSCPropNetPPPVerboseLogging, Int(0)},
        {kSCPropNetPPPAuthName, Text("alice")},
        {kSCPropNetPPPAuthPassword, Bytes(encoded)},
        {kSCPropNetPPPCommAlternateRemoteAddress, Text("*98#")},
        {kSCPropNetPPPCommDisplayTerminalWindow, Int(1)},
        {kSCPropNetPPPCommRedialCount, Int(-1)},
        {kSCPropNetPPPCommRedialEnabled, Int(1)},
        {kSCPropNetPPPCommRedialInterval, Int(5)},
        {kSCPropNetPPPCommRemoteAddress, Text("*99#")},
        {kSCPropNetPPPCommUseTerminalScript, Int(0)},
        {kSCPropNetPPPIPCPCompressionVJ, Int(1)},
        {kSCPropNetPPPLCPEchoEnabled, Int(0)},
        {kSCPropNetPPPLCPEchoFailure, Int(4)},
        {kSCPropNetPPPLCPEchoInterval, Int(10)},
        {kSCPropNetPPPACSPEnabled, Int(0)},
        {kSCPropNetPPPDisconnectOnSleep, Int(1)},
        {CFSTR("DisconnectOnFastUserSwitch"), Int(1)},
    };
    CFMutableDictionaryRef entity = nullptr;
    ASSERT_EQ(MoreSCCreatePPPEntity(&digest, &entity), noErr);
    EXPECT_TRUE(ExpectEntity(entity, expected));
    CFRelease(entity);

    // An empty password is stored, as empty data.
    Str             empty("");
    MoreSCPPPDigest emptyPassword = {};
    emptyPassword.active          = true;
    emptyPassword.authPassword    = empty.get();
    entity                        = nullptr;
    ASSERT_EQ(MoreSCCreatePPPEntity(&emptyPassword, &entity), noErr);
    CFTypeRef stored = CFDictionaryGetValue(entity, kSCPropNetPPPAuthPassword);
    ASSERT_NE(stored, nullptr);
    ASSERT_EQ(CFGetTypeID(stored), CFDataGetTypeID());
    EXPECT_EQ(CFDataGetLength((CFDataRef)stored), 0);
    CFRelease(entity);
}

TEST_F(LinkEntitiesTest, ModemEntities)
{
    Str script("Zorvex HSDPA");

    MoreSCModemDigest fromDefault = kMoreSCModemDigestDefault;
    fromDefault.connectionScript  = script.get();
    const Expected defaults       = {
              {kSCPropNetModemConnectionScript, Text("Zorvex HSDPA")},
              {kSCPropNetModemDataCompression, Int(1)},
              {kSCPropNetModemDialMode, Text("WaitForDialTone")},
              {kSCPropNetModemErrorCorrection, Int(1)},
              {kSCPropNetModemPulseDial, Int(0)},
              {kSCPropNetModemSpeaker, Int(1)},
    };

    MoreSCModemDigest withHold = {script.get(), false, false, true, false, true};
    const Expected    hold     = {
               {kSCPropNetModemConnectionScript, Text("Zorvex HSDPA")},
               {kSCPropNetModemDataCompression, Int(0)},
               {kSCPropNetModemDialMode, Text("IgnoreDialTone")},
               {kSCPropNetModemErrorCorrection, Int(0)},
               {kSCPropNetModemPulseDial, Int(1)},
               {kSCPropNetModemSpeaker, Int(0)},
               {kSCPropNetModemHoldCallWaitingAudibleAlert, Int(1)},
               {kSCPropNetModemHoldDisconnectOnAnswer, Int(0)},
               {kSCPropNetModemHoldEnabled, Int(0)},
               {kSCPropNetModemHoldReminder, Int(1)},
               {kSCPropNetModemHoldReminderTime, Int(10)},
    };

    const struct {
        const MoreSCModemDigest *digest;
        const Expected          &expected;
    } rows[] = {{&fromDefault, defaults}, {&withHold, hold}};
    for (const auto &row : rows) {
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreateModemEntity(row.digest, &entity), noErr);
        EXPECT_TRUE(ExpectEntity(entity, row.expected));
        CFRelease(entity);
    }
}

TEST_F(LinkEntitiesTest, AirPortAndEthernetEntities)
{
    Str                  network("Lab WLAN");
    MoreSCAirPortDigest  named  = {{0x00, 0x11, 0x24, 0xAB, 0xCD, 0xEF}, network.get()};
    MoreSCAirPortDigest  zeroed = {};
    MoreSCEthernetDigest wired  = {{0x02, 0x0A, 0x1B, 0xFF, 0x07, 0xC4}};

    const Expected namedBefore = {{kSCPropMACAddress, Text("00:11:24:ab:cd:ef")},
                                  {kSCPropNetAirPortPreferredNetwork, Text("Lab WLAN")}};
    const Expected namedAfter  = {{kSCPropNetAirPortPreferredNetwork, Text("Lab WLAN")}};
    const Expected zeroBefore  = {{kSCPropMACAddress, Text("00:00:00:00:00:00")}};
    const Expected zeroAfter   = {};
    const Expected ethernet    = {{kSCPropMACAddress, Text("02:0a:1b:ff:07:c4")}};

    for (const char *version : kVersions) {
        SetSystemVersion(version);
        bool                   tenFour = std::string(version) >= "10.4";
        CFMutableDictionaryRef entity  = nullptr;

        ASSERT_EQ(MoreSCCreateAirPortEntity(&named, &entity), noErr);
        EXPECT_TRUE(ExpectEntity(entity, tenFour ? namedAfter : namedBefore)) << version;
        CFRelease(entity);
        entity = nullptr;
        ASSERT_EQ(MoreSCCreateAirPortEntity(&zeroed, &entity), noErr);
        EXPECT_TRUE(ExpectEntity(entity, tenFour ? zeroAfter : zeroBefore)) << version;
        CFRelease(entity);
        entity = nullptr;
        ASSERT_EQ(MoreSCCreateEthernetEntity(&wired, &entity), noErr);
        EXPECT_TRUE(ExpectEntity(entity, ethernet)) << version;
        CFRelease(entity);
    }
    // The last release before the change still names the card.
    SetSystemVersion("10.3.9");
    CFMutableDictionaryRef entity = nullptr;
    ASSERT_EQ(MoreSCCreateAirPortEntity(&named, &entity), noErr);
    EXPECT_TRUE(ExpectEntity(entity, namedBefore));
    CFRelease(entity);
}

// Digests that make every builder take all of its steps, shared by the
// routing and the allocation-failure tests.
struct FullDigests {
    Str en0{"en0"}, name{"Zorvex Mobile"}, variant{"V92"}, account{"alice"}, password{"secret"},
        number{"*99#"}, script{"Zorvex HSDPA"}, host{"proxy"}, zone{"Lab"}, domain{"example.net"},
        network{"Lab WLAN"};
    CFStringRef           domains[1];
    struct in_addr        servers[2];
    MoreSCInterfaceDigest interface = {};
    MoreSCPPPDigest       ppp       = {};
    MoreSCModemDigest     modem     = {};
    MoreSCAirPortDigest   airPort   = {};
    MoreSCEthernetDigest  ethernet  = {{1, 2, 3, 4, 5, 6}};
    MoreSCProxiesDigest   proxies   = {};
    MoreSCAppleTalkDigest appleTalk = {};
    MoreSCDNSDigest       dns       = {};
    MoreSCIPv4Digest      ipv4      = {};

    FullDigests()
    {
        domains[0]             = domain.get();
        servers[0].s_addr      = htonl(0x0A000035);
        servers[1].s_addr      = htonl(0x0A000135);
        interface              = {en0.get(),
                                  kSCEntNetModem,
                                  variant.get(),
                                  kSCValNetInterfaceTypePPP,
                                  kSCValNetInterfaceSubTypePPPSerial,
                                  name.get(),
                                  true};
        ppp                    = {false,        name.get(),   account.get(), password.get(),
                                  number.get(), number.get(), nullptr};
        modem                  = {script.get(), true, true, false, true, true};
        airPort                = {{1, 2, 3, 4, 5, 6}, network.get()};
        proxies.exceptionsList = nullptr;
        proxies.ftpEnable      = true;
        proxies.ftpProxy       = host.get();
        proxies.ftpPort        = 21;
        appleTalk = {false, kSCValNetAppleTalkConfigMethodNode, true, 7, 8, zone.get()};
        dns       = {2, servers, 1, domains};
        ipv4      = {kSCValNetIPv4ConfigMethodManual, servers[0], servers[1], servers[0], nullptr};
    }
};

TEST_F(LinkEntitiesTest, CreateEntityRoutesEachProtocolToItsBuilder)
{
    SetSystemVersion("10.3.9");
    FullDigests d;
    const struct {
        CFStringRef                                       protocol;
        const void                                       *digest;
        std::function<OSStatus(CFMutableDictionaryRef *)> direct;
    } rows[] = {
        {kSCEntNetInterface, &d.interface,
         [&](auto *e) { return MoreSCCreateInterfaceEntity(&d.interface, e); }},
        {kSCEntNetProxies, &d.proxies,
         [&](auto *e) { return MoreSCCreateProxiesEntity(&d.proxies, e); }},
        {kSCEntNetAppleTalk, &d.appleTalk,
         [&](auto *e) { return MoreSCCreateAppleTalkEntity(&d.appleTalk, e); }},
        {kSCEntNetDNS, &d.dns, [&](auto *e) { return MoreSCCreateDNSEntity(&d.dns, e); }},
        {kSCEntNetIPv4, &d.ipv4, [&](auto *e) { return MoreSCCreateIPv4Entity(&d.ipv4, e); }},
        {kSCEntNetPPP, &d.ppp, [&](auto *e) { return MoreSCCreatePPPEntity(&d.ppp, e); }},
        {kSCEntNetAirPort, &d.airPort,
         [&](auto *e) { return MoreSCCreateAirPortEntity(&d.airPort, e); }},
        {kSCEntNetEthernet, &d.ethernet,
         [&](auto *e) { return MoreSCCreateEthernetEntity(&d.ethernet, e); }},
        {kSCEntNetModem, &d.modem, [&](auto *e) { return MoreSCCreateModemEntity(&d.modem, e); }},
    };
    for (const auto &row : rows) {
        // A protocol name made at run time, not the constant itself.
        CFStringRef            protocol = CFStringCreateMutableCopy(nullptr, 0, row.protocol);
        CFMutableDictionaryRef routed = nullptr, direct = nullptr;
        ASSERT_EQ(MoreSCCreateEntity(protocol, row.digest, &routed), noErr) << Utf8(protocol);
        ASSERT_EQ(row.direct(&direct), noErr);
        EXPECT_TRUE(CFEqual(routed, direct)) << Utf8(protocol);
        CFRelease(routed);
        CFRelease(direct);
        CFRelease(protocol);
    }
}

TEST_F(LinkEntitiesTest, BuildersSurviveEveryAllocationFailure)
{
    // 10.3.9 so that the AirPort entity still makes its address string.
    SetSystemVersion("10.3.9");
    FullDigests d;
    const struct {
        const char                                       *name;
        std::function<OSStatus(CFMutableDictionaryRef *)> build;
    } builders[] = {
        {"interface", [&](auto *e) { return MoreSCCreateInterfaceEntity(&d.interface, e); }},
        {"PPP", [&](auto *e) { return MoreSCCreatePPPEntity(&d.ppp, e); }},
        {"modem", [&](auto *e) { return MoreSCCreateModemEntity(&d.modem, e); }},
        {"AirPort", [&](auto *e) { return MoreSCCreateAirPortEntity(&d.airPort, e); }},
        {"Ethernet", [&](auto *e) { return MoreSCCreateEthernetEntity(&d.ethernet, e); }},
        {"routed DNS", [&](auto *e) { return MoreSCCreateEntity(kSCEntNetDNS, &d.dns, e); }},
    };
    for (const auto &builder : builders) {
        SCOPED_TRACE(builder.name);
        WalkAllocationFailures(builder.build);
    }
}

} // namespace
