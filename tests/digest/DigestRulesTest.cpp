// DigestRulesTest.cpp: every rule of a digest or an encoding that is a
// programming error stops the process with its own assertion text; the
// out-parameter rules are checked for every builder, so that none lacks them.
#include "DigestTestSupport.h"

#include "VaviVAZDigest.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using vztest::AssertionPattern;

using BuildCall = std::function<void(const void *digest, CFMutableDictionaryRef *entity)>;

struct Builder {
    const char *name;
    BuildCall   call;
};

// Each builder with a digest that is valid apart from what a row changes.
std::vector<Builder> AllBuilders()
{
    return {
        {"interface",
         [](const void *d, auto *e) {
             (void)MoreSCCreateInterfaceEntity((const MoreSCInterfaceDigest *)d, e);
         }},
        {"PPP", [](const void *d,
                   auto       *e) { (void)MoreSCCreatePPPEntity((const MoreSCPPPDigest *)d, e); }},
        {"modem", [](const void *d,
                     auto *e) { (void)MoreSCCreateModemEntity((const MoreSCModemDigest *)d, e); }},
        {"AirPort",
         [](const void *d, auto *e) {
             (void)MoreSCCreateAirPortEntity((const MoreSCAirPortDigest *)d, e);
         }},
        {"Ethernet",
         [](const void *d, auto *e) {
             (void)MoreSCCreateEthernetEntity((const MoreSCEthernetDigest *)d, e);
         }},
        {"proxies",
         [](const void *d, auto *e) {
             (void)MoreSCCreateProxiesEntity((const MoreSCProxiesDigest *)d, e);
         }},
        {"AppleTalk",
         [](const void *d, auto *e) {
             (void)MoreSCCreateAppleTalkEntity((const MoreSCAppleTalkDigest *)d, e);
         }},
        {"DNS", [](const void *d,
                   auto       *e) { (void)MoreSCCreateDNSEntity((const MoreSCDNSDigest *)d, e); }},
        {"IPv4", [](const void *d,
                    auto *e) { (void)MoreSCCreateIPv4Entity((const MoreSCIPv4Digest *)d, e); }},
        {"IPv4 global",
         [](const void *d, auto *e) {
             (void)MoreSCCreateIPv4GlobalEntity((const MoreSCGlobalDigest *)d, e);
         }},
        {"NetInfo global",
         [](const void *d, auto *e) {
             (void)MoreSCCreateNetInfoGlobalEntity((const MoreSCGlobalDigest *)d, e);
         }},
        {"entity dispatch",
         [](const void *d, auto *e) { (void)MoreSCCreateEntity(kSCEntNetDNS, d, e); }},
        {"global dispatch",
         [](const void *d, auto *e) {
             (void)MoreSCCreateGlobalEntity(kSCEntNetNetInfo, (const MoreSCGlobalDigest *)d, e);
         }},
    };
}

TEST(DigestRulesDeathTest, EveryBuilderChecksItsOutParameter)
{
    // Large enough to stand for any digest; the checks fire before it is read.
    // Its first field is set because the IPv4 builder checks its method (the
    // first field) before the out-parameter.
    static MoreSCProxiesDigest anyDigest = {};
    anyDigest.exceptionsList             = (CFArrayRef)CFSTR("DHCP");
    for (const Builder &builder : AllBuilders()) {
        EXPECT_DEATH(builder.call(nullptr, nullptr), AssertionPattern("digest != NULL"))
            << builder.name;
        EXPECT_DEATH(builder.call(&anyDigest, nullptr), AssertionPattern("entity != NULL"))
            << builder.name;
        EXPECT_DEATH(
            {
                CFMutableDictionaryRef held = (CFMutableDictionaryRef)&anyDigest;
                builder.call(&anyDigest, &held);
            },
            AssertionPattern("*entity == NULL"))
            << builder.name;
    }
}

struct Rule {
    const char           *text;
    std::function<void()> provoke;
};

void ExpectEveryRule(const std::vector<Rule> &rules)
{
    for (const Rule &rule : rules) {
        EXPECT_DEATH(rule.provoke(), AssertionPattern(rule.text)) << rule.text;
    }
}

TEST(DigestRulesDeathTest, DispatchRefusesProtocolsWithoutABuilder)
{
    static const MoreSCProxiesDigest anyDigest = {};
    static const MoreSCGlobalDigest  global    = {};
    ExpectEveryRule({
        {"protocol != NULL",
         [] {
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateEntity(nullptr, &anyDigest, &e);
         }},
        {"protocol != NULL",
         [] {
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateGlobalEntity(nullptr, &global, &e);
         }},
        {"false",
         [] {
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateEntity(kSCEntNetFireWire, &anyDigest, &e);
         }},
        {"false",
         [] {
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateEntity(kSCEntNetNetInfo, &anyDigest, &e);
         }},
        {"false",
         [] {
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateGlobalEntity(kSCEntNetDNS, &global, &e);
         }},
    });
}

TEST(DigestRulesDeathTest, EncodingsCheckTheirArguments)
{
    static const UInt8 mac[6] = {};
    ExpectEveryRule({
        {"macAddr != NULL",
         [] {
             CFStringRef s = nullptr;
             (void)VaviVAZCreateStringWithMacAddress(nullptr, &s);
         }},
        {"macAddr != NULL",
         [] { (void)VaviVAZStringToMacAddress(CFSTR("00:00:00:00:00:00"), nullptr); }},
        {"cfStr != NULL",
         [] {
             UInt8 bytes[6];
             (void)VaviVAZStringToMacAddress(nullptr, bytes);
         }},
        {"result != NULL", [] { (void)VaviVAZCreateStringWithMacAddress(mac, nullptr); }},
        {"*result == NULL",
         [] {
             CFStringRef s = CFSTR("held");
             (void)VaviVAZCreateStringWithMacAddress(mac, &s);
         }},
        {"result != NULL", [] { (void)VaviVAZCreateStringWithInetAddress(in_addr{}, nullptr); }},
        {"*result == NULL",
         [] {
             CFStringRef s = CFSTR("held");
             (void)VaviVAZCreateStringWithInetAddress(in_addr{}, &s);
         }},
        {"(addrCount == 0) || (addresses != NULL)",
         [] {
             CFArrayRef a = nullptr;
             (void)VaviVAZCreateArrayWithInetAddresses(1, nullptr, &a);
         }},
        {"result != NULL", [] { (void)VaviVAZCreateArrayWithInetAddresses(0, nullptr, nullptr); }},
        {"password != NULL",
         [] {
             CFDataRef d = nullptr;
             (void)VaviVAZCopyEncodedPPPPassword(nullptr, &d);
         }},
        {"encodedPassword != NULL",
         [] { (void)VaviVAZCopyEncodedPPPPassword(CFSTR("secret"), nullptr); }},
        {"*encodedPassword == NULL",
         [] {
             CFDataRef d = (CFDataRef)CFSTR("held");
             (void)VaviVAZCopyEncodedPPPPassword(CFSTR("secret"), &d);
         }},
    });
}

TEST(DigestRulesDeathTest, ProtocolDigestRules)
{
    ExpectEveryRule({
        {"digest->configMethod != NULL",
         [] {
             MoreSCIPv4Digest       d = {};
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateIPv4Entity(&d, &e);
         }},
        // A method left NULL breaks the same rule as one outside the list.
        {"CFEqual(digest->configMethod, kSCValNetAppleTalkConfigMethodNode)",
         [] {
             MoreSCAppleTalkDigest  d = {};
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateAppleTalkEntity(&d, &e);
         }},
        {"CFEqual(digest->configMethod, kSCValNetAppleTalkConfigMethodNode)",
         [] {
             MoreSCAppleTalkDigest d  = {};
             d.configMethod           = CFSTR("Router");
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateAppleTalkEntity(&d, &e);
         }},
        {"digest->serverAddresses != NULL",
         [] {
             MoreSCDNSDigest        d = {2, nullptr, 0, nullptr};
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateDNSEntity(&d, &e);
         }},
        {"digest->searchDomains != NULL",
         [] {
             MoreSCDNSDigest        d = {0, nullptr, 1, nullptr};
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateDNSEntity(&d, &e);
         }},
        {"digest->searchDomains[index] != NULL",
         [] {
             static const CFStringRef domains[] = {CFSTR("example.net"), nullptr};
             MoreSCDNSDigest          d         = {0, nullptr, 2, domains};
             CFMutableDictionaryRef   e         = nullptr;
             (void)MoreSCCreateDNSEntity(&d, &e);
         }},
        {"method != 'bad!'",
         [] {
             MoreSCIPv4Digest d       = {};
             d.configMethod           = CFSTR("LinkLocal");
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateIPv4Entity(&d, &e);
         }},
        {"(digest->clientID == NULL) || (method == 'dhcp')",
         [] {
             MoreSCIPv4Digest d       = {};
             d.configMethod           = kSCValNetIPv4ConfigMethodManual;
             d.clientID               = CFSTR("laptop-7");
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateIPv4Entity(&d, &e);
         }},
    });
}

TEST(DigestRulesDeathTest, LinkDigestRules)
{
    // An Ethernet interface digest that passes, changed by each row.
    static const MoreSCInterfaceDigest valid = {
        CFSTR("en0"), kSCEntNetEthernet,          nullptr, kSCValNetInterfaceTypeEthernet,
        nullptr,      CFSTR("Built-in Ethernet"), false};
    auto build = [](void (*change)(MoreSCInterfaceDigest &)) {
        MoreSCInterfaceDigest d = valid;
        change(d);
        CFMutableDictionaryRef e = nullptr;
        (void)MoreSCCreateInterfaceEntity(&d, &e);
    };
    static const char kHardwareRule[] =
        "CFEqual(digest->hardware, kSCEntNetAirPort) || CFEqual(digest->hardware, "
        "kSCEntNetEthernet) || CFEqual(digest->hardware, kSCEntNetModem) || "
        "CFEqual(digest->hardware, kSCEntNetFireWire)";
    static const char kTypeRule[] =
        "CFEqual(digest->type, kSCValNetInterfaceTypeEthernet) || CFEqual(digest->type, "
        "kSCValNetInterfaceTypePPP) || CFEqual(digest->type, kSCValNetInterfaceTypeFireWire)";
    ExpectEveryRule({
        {"digest->deviceName != NULL",
         [&] { build([](MoreSCInterfaceDigest &d) { d.deviceName = nullptr; }); }},
        {"digest->userDefinedName != NULL",
         [&] { build([](MoreSCInterfaceDigest &d) { d.userDefinedName = nullptr; }); }},
        // A field left NULL breaks the same rule as a value outside the list.
        {kHardwareRule, [&] { build([](MoreSCInterfaceDigest &d) { d.hardware = nullptr; }); }},
        {kHardwareRule,
         [&] { build([](MoreSCInterfaceDigest &d) { d.hardware = kSCEntNetPPP; }); }},
        {kTypeRule, [&] { build([](MoreSCInterfaceDigest &d) { d.type = nullptr; }); }},
        {kTypeRule, [&] { build([](MoreSCInterfaceDigest &d) { d.type = CFSTR("IPSec"); }); }},
        {"CFEqual(digest->type, kSCValNetInterfaceTypePPP)",
         [&] {
             build([](MoreSCInterfaceDigest &d) { d.subType = kSCValNetInterfaceSubTypePPPoE; });
         }},
        {"CFEqual(digest->subType, kSCValNetInterfaceSubTypePPPSerial) || "
         "CFEqual(digest->subType, kSCValNetInterfaceSubTypePPPoE)",
         [&] {
             build([](MoreSCInterfaceDigest &d) {
                 d.type    = kSCValNetInterfaceTypePPP;
                 d.subType = CFSTR("L2TP");
             });
         }},
        {"CFEqual(digest->hardware, kSCEntNetModem)",
         [&] { build([](MoreSCInterfaceDigest &d) { d.variant = CFSTR("V92"); }); }},
        {"digest->connectionScript != NULL",
         [] {
             MoreSCModemDigest      d = kMoreSCModemDigestDefault;
             CFMutableDictionaryRef e = nullptr;
             (void)MoreSCCreateModemEntity(&d, &e);
         }},
    });
}

} // namespace
