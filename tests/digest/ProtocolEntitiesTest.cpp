// ProtocolEntitiesTest.cpp: the proxies, AppleTalk, DNS and IPv4 entities of a
// service and a set's global entities, compared whole, across the system
// versions that change them; and their out-of-memory paths.
#include "DigestTestSupport.h"

#include "VaviVAZDigest.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using namespace vztest;

class ProtocolEntitiesTest : public DigestTest {};

struct in_addr Address(UInt8 a, UInt8 b, UInt8 c, UInt8 d)
{
    struct in_addr addr;
    const UInt8    octets[4] = {a, b, c, d};
    std::memcpy(&addr.s_addr, octets, 4);
    return addr;
}

TEST_F(ProtocolEntitiesTest, ZeroedProxiesDigestDependsOnTheVersion)
{
    const Expected upToTenTwo = {
        {kSCPropNetProxiesFTPPassive, Int(0)},   {kSCPropNetProxiesFTPEnable, Int(0)},
        {kSCPropNetProxiesGopherEnable, Int(0)}, {kSCPropNetProxiesHTTPEnable, Int(0)},
        {kSCPropNetProxiesHTTPSEnable, Int(0)},  {kSCPropNetProxiesRTSPEnable, Int(0)},
        {kSCPropNetProxiesSOCKSEnable, Int(0)},
    };
    const Expected tenThree    = {{kSCPropNetProxiesFTPPassive, Int(0)}};
    const Expected fromTenFour = {{kSCPropNetProxiesFTPPassive, Int(0)},
                                  {CFSTR("ExcludeSimpleHostnames"), Int(0)},
                                  {CFSTR("ProxyAutoDiscoveryEnable"), Int(0)}};
    const struct {
        const char     *version;
        const Expected &expected;
    } rows[] = {{"10.1", upToTenTwo},  {"10.2", upToTenTwo},     {"10.2.8", upToTenTwo},
                {"10.3", tenThree},    {"10.3.4", tenThree},     {"10.3.9", tenThree},
                {"10.4", fromTenFour}, {"10.4.11", fromTenFour}, {"10.5", fromTenFour}};

    for (const auto &row : rows) {
        SetSystemVersion(row.version);
        MoreSCProxiesDigest    digest = {};
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreateProxiesEntity(&digest, &entity), noErr) << row.version;
        EXPECT_TRUE(ExpectEntity(entity, row.expected)) << row.version;
        CFRelease(entity);
    }
}

TEST_F(ProtocolEntitiesTest, EachProxyWritesOnlyWhatItIsGiven)
{
    Str         exceptions0("*.local"), exceptions1("169.254/16");
    CFStringRef exceptionTexts[] = {exceptions0.get(), exceptions1.get()};
    CFArrayRef  exceptionsList =
        CFArrayCreate(nullptr, (const void **)exceptionTexts, 2, &kCFTypeArrayCallBacks);
    Str ftpHost("ftp.example.net"), socksHost("socks.example.net");

    MoreSCProxiesDigest digest      = {};
    digest.exceptionsList           = exceptionsList;
    digest.ftpPassive               = true;
    digest.ftpEnable                = false; // off, but names a host
    digest.ftpProxy                 = ftpHost.get();
    digest.httpEnable               = true; // on, nothing else
    digest.httpsPort                = 8443; // off, a port only
    digest.socksEnable              = true;
    digest.socksProxy               = socksHost.get();
    digest.socksPort                = 1080;
    digest.excludeSimpleHostnames   = true;
    digest.proxyAutoDiscoveryEnable = true;

    const Expected tenThree = {
        {kSCPropNetProxiesExceptionsList, Texts({"*.local", "169.254/16"})},
        {kSCPropNetProxiesFTPPassive, Int(1)},
        {kSCPropNetProxiesFTPEnable, Int(0)},
        {kSCPropNetProxiesFTPProxy, Text("ftp.example.net")},
        {kSCPropNetProxiesHTTPEnable, Int(1)},
        {kSCPropNetProxiesHTTPSEnable, Int(0)},
        {kSCPropNetProxiesHTTPSPort, Int(8443)},
        {kSCPropNetProxiesSOCKSEnable, Int(1)},
        {kSCPropNetProxiesSOCKSProxy, Text("socks.example.net")},
        {kSCPropNetProxiesSOCKSPort, Int(1080)},
    };
    const struct {
        const char *version;
        Expected    expected;
    } rows[] = {
        {"10.2", With(tenThree, {{kSCPropNetProxiesGopherEnable, Int(0)},
                                 {kSCPropNetProxiesRTSPEnable, Int(0)}})},
        {"10.3.9", tenThree},
        {"10.4", With(tenThree, {{CFSTR("ExcludeSimpleHostnames"), Int(1)},
                                 {CFSTR("ProxyAutoDiscoveryEnable"), Int(1)}})},
    };
    for (const auto &row : rows) {
        SetSystemVersion(row.version);
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreateProxiesEntity(&digest, &entity), noErr);
        EXPECT_TRUE(ExpectEntity(entity, row.expected)) << row.version;
        CFRelease(entity);
    }
    CFRelease(exceptionsList);

    // The largest port a digest can carry is stored as the same number.
    SetSystemVersion("10.4");
    MoreSCProxiesDigest highPort  = {};
    highPort.rtspPort             = 65535;
    CFMutableDictionaryRef entity = nullptr;
    ASSERT_EQ(MoreSCCreateProxiesEntity(&highPort, &entity), noErr);
    EXPECT_TRUE(ExpectEntity(entity, {{kSCPropNetProxiesFTPPassive, Int(0)},
                                      {kSCPropNetProxiesRTSPEnable, Int(0)},
                                      {kSCPropNetProxiesRTSPPort, Int(65535)},
                                      {CFSTR("ExcludeSimpleHostnames"), Int(0)},
                                      {CFSTR("ProxyAutoDiscoveryEnable"), Int(0)}}));
    CFRelease(entity);
}

TEST_F(ProtocolEntitiesTest, AppleTalkEntities)
{
    Str zone("Engineering");
    const struct {
        const char           *name;
        MoreSCAppleTalkDigest digest;
        Expected              expected;
    } rows[] = {
        {"active, node only",
         {true, kSCValNetAppleTalkConfigMethodNode, false, 0, 0, nullptr},
         {{kSCPropNetAppleTalkConfigMethod, Text("Node")}}},
        {"inactive",
         {false, kSCValNetAppleTalkConfigMethodNode, false, 0, 0, nullptr},
         {{kSCPropNetAppleTalkConfigMethod, Text("Node")}, {kSCResvInactive, Int(1)}}},
        {"network, node and zone",
         {true, kSCValNetAppleTalkConfigMethodNode, true, 65280, 255, zone.get()},
         {{kSCPropNetAppleTalkConfigMethod, Text("Node")},
          {kSCPropNetAppleTalkDefaultZone, Text("Engineering")},
          {kSCPropNetAppleTalkNetworkID, Int(65280)},
          {kSCPropNetAppleTalkNodeID, Int(255)}}},
        {"numbers without the flag are ignored",
         {true, kSCValNetAppleTalkConfigMethodNode, false, 12, 34, nullptr},
         {{kSCPropNetAppleTalkConfigMethod, Text("Node")}}},
    };
    for (const auto &row : rows) {
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreateAppleTalkEntity(&row.digest, &entity), noErr) << row.name;
        EXPECT_TRUE(ExpectEntity(entity, row.expected)) << row.name;
        CFRelease(entity);
    }
}

TEST_F(ProtocolEntitiesTest, DNSEntities)
{
    const struct in_addr servers[] = {Address(192, 168, 1, 1), Address(8, 8, 4, 4)};
    Str                  d0("example.net"), d1("corp.example.net");
    const CFStringRef    domains[] = {d0.get(), d1.get()};
    const struct {
        const char     *name;
        MoreSCDNSDigest digest;
        Expected        expected;
    } rows[] = {
        {"nothing: what new services get", {0, nullptr, 0, nullptr}, {}},
        {"two servers",
         {2, servers, 0, nullptr},
         {{kSCPropNetDNSServerAddresses, Texts({"192.168.1.1", "8.8.4.4"})}}},
        {"servers and domains",
         {1, servers, 2, domains},
         {{kSCPropNetDNSServerAddresses, Texts({"192.168.1.1"})},
          {kSCPropNetDNSSearchDomains, Texts({"example.net", "corp.example.net"})}}},
        // A zero count wins over a pointer that is set.
        {"counts of zero", {0, servers, 0, domains}, {}},
    };
    for (const auto &row : rows) {
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreateDNSEntity(&row.digest, &entity), noErr) << row.name;
        EXPECT_TRUE(ExpectEntity(entity, row.expected)) << row.name;
        CFRelease(entity);
    }
}

TEST_F(ProtocolEntitiesTest, IPv4Entities)
{
    Str clientID("laptop-7");
    const struct {
        const char      *name;
        MoreSCIPv4Digest digest;
        Expected         expected;
    } rows[] = {
        {"DHCP alone",
         {kSCValNetIPv4ConfigMethodDHCP, {}, {}, {}, nullptr},
         {{kSCPropNetIPv4ConfigMethod, Text("DHCP")}}},
        {"DHCP with a client ID",
         {kSCValNetIPv4ConfigMethodDHCP, {}, {}, {}, clientID.get()},
         {{kSCPropNetIPv4ConfigMethod, Text("DHCP")},
          {kSCPropNetIPv4DHCPClientID, Text("laptop-7")}}},
        {"manual",
         {kSCValNetIPv4ConfigMethodManual, Address(10, 0, 1, 20), Address(255, 255, 255, 0),
          Address(10, 0, 1, 1), nullptr},
         {{kSCPropNetIPv4ConfigMethod, Text("Manual")},
          {kSCPropNetIPv4Addresses, Texts({"10.0.1.20"})},
          {kSCPropNetIPv4SubnetMasks, Texts({"255.255.255.0"})},
          {kSCPropNetIPv4Router, Text("10.0.1.1")}}},
        {"manual without an address is not refused",
         {kSCValNetIPv4ConfigMethodManual, {}, {}, {}, nullptr},
         {{kSCPropNetIPv4ConfigMethod, Text("Manual")}}},
        {"PPP with a router only",
         {kSCValNetIPv4ConfigMethodPPP, {}, {}, Address(172, 16, 0, 1), nullptr},
         {{kSCPropNetIPv4ConfigMethod, Text("PPP")}, {kSCPropNetIPv4Router, Text("172.16.0.1")}}},
        {"BOOTP",
         {kSCValNetIPv4ConfigMethodBOOTP, {}, {}, {}, nullptr},
         {{kSCPropNetIPv4ConfigMethod, Text("BOOTP")}}},
        {"INFORM with an address",
         {kSCValNetIPv4ConfigMethodINFORM, Address(192, 168, 2, 9), {}, {}, nullptr},
         {{kSCPropNetIPv4ConfigMethod, Text("INFORM")},
          {kSCPropNetIPv4Addresses, Texts({"192.168.2.9"})}}},
    };
    for (const auto &row : rows) {
        CFMutableDictionaryRef entity = nullptr;
        ASSERT_EQ(MoreSCCreateIPv4Entity(&row.digest, &entity), noErr) << row.name;
        EXPECT_TRUE(ExpectEntity(entity, row.expected)) << row.name;
        CFRelease(entity);
    }
}

TEST_F(ProtocolEntitiesTest, IPv4ChecksCanBeSwitchedOff)
{
    // A new service's entity is built with the checks off: a client ID beside
    // a method other than DHCP, and a method outside the five, are kept as
    // given. The builder leaves the switch as it found it.
    Str              clientID("laptop-7"), unknown("LinkLocal");
    MoreSCIPv4Digest manual  = {kSCValNetIPv4ConfigMethodManual, {}, {}, {}, clientID.get()};
    MoreSCIPv4Digest strange = {unknown.get(), {}, {}, {}, nullptr};

    gMoreSCCreateIPv4EntityDontCheck = true;
    CFMutableDictionaryRef entity    = nullptr;
    ASSERT_EQ(MoreSCCreateIPv4Entity(&manual, &entity), noErr);
    EXPECT_TRUE(ExpectEntity(entity, {{kSCPropNetIPv4ConfigMethod, Text("Manual")},
                                      {kSCPropNetIPv4DHCPClientID, Text("laptop-7")}}));
    CFRelease(entity);
    entity = nullptr;
    ASSERT_EQ(MoreSCCreateIPv4Entity(&strange, &entity), noErr);
    EXPECT_TRUE(ExpectEntity(entity, {{kSCPropNetIPv4ConfigMethod, Text("LinkLocal")}}));
    CFRelease(entity);
    EXPECT_TRUE(gMoreSCCreateIPv4EntityDontCheck);
    gMoreSCCreateIPv4EntityDontCheck = false;
}

TEST_F(ProtocolEntitiesTest, GlobalEntitiesDependOnTheVersion)
{
    const Expected withOverride = {{kSCPropNetPPPOverridePrimary, Int(0)},
                                   {kSCPropNetServiceOrder, Texts({})}};
    const Expected orderOnly    = {{kSCPropNetServiceOrder, Texts({})}};
    const struct {
        const char     *version;
        const Expected &expected;
    } rows[] = {{"10.1", withOverride},    {"10.3.4", withOverride}, {"10.4", withOverride},
                {"10.4.11", withOverride}, {"10.5", orderOnly},      {"10.6.8", orderOnly}};

    MoreSCGlobalDigest digest = {};
    for (const auto &row : rows) {
        SetSystemVersion(row.version);
        CFMutableDictionaryRef ipv4 = nullptr, netInfo = nullptr;
        ASSERT_EQ(MoreSCCreateGlobalEntity(kSCEntNetIPv4, &digest, &ipv4), noErr);
        EXPECT_TRUE(ExpectEntity(ipv4, row.expected)) << row.version;
        ASSERT_EQ(MoreSCCreateGlobalEntity(kSCEntNetNetInfo, &digest, &netInfo), noErr);
        EXPECT_TRUE(ExpectEntity(netInfo, {})) << row.version;
        CFRelease(ipv4);
        CFRelease(netInfo);
    }
}

TEST_F(ProtocolEntitiesTest, BuildersSurviveEveryAllocationFailure)
{
    // Digests that make every builder take all of its steps.
    SetSystemVersion("10.4");
    Str host("proxy.example.net"), zone("Lab"), domain("example.net"), clientID("id-1");
    const CFStringRef    domains[]  = {domain.get()};
    const struct in_addr servers[]  = {Address(10, 0, 0, 53), Address(10, 0, 1, 53)};
    MoreSCProxiesDigest  proxies    = {};
    proxies.httpEnable              = true;
    proxies.httpProxy               = host.get();
    proxies.httpPort                = 3128;
    proxies.socksEnable             = true;
    proxies.socksPort               = 1080;
    MoreSCAppleTalkDigest appleTalk = {false,     kSCValNetAppleTalkConfigMethodNode, true, 1, 2,
                                       zone.get()};
    MoreSCDNSDigest       dns       = {2, servers, 1, domains};
    MoreSCIPv4Digest      ipv4      = {kSCValNetIPv4ConfigMethodDHCP, Address(10, 0, 0, 9),
                                       Address(255, 0, 0, 0), Address(10, 0, 0, 1), clientID.get()};
    MoreSCGlobalDigest    global    = {};

    const struct {
        const char                                       *name;
        std::function<OSStatus(CFMutableDictionaryRef *)> build;
    } builders[] = {
        {"proxies", [&](auto *e) { return MoreSCCreateProxiesEntity(&proxies, e); }},
        {"AppleTalk", [&](auto *e) { return MoreSCCreateAppleTalkEntity(&appleTalk, e); }},
        {"DNS", [&](auto *e) { return MoreSCCreateDNSEntity(&dns, e); }},
        {"IPv4", [&](auto *e) { return MoreSCCreateIPv4Entity(&ipv4, e); }},
        {"IPv4 global",
         [&](auto *e) { return MoreSCCreateGlobalEntity(kSCEntNetIPv4, &global, e); }},
        {"NetInfo global",
         [&](auto *e) { return MoreSCCreateGlobalEntity(kSCEntNetNetInfo, &global, e); }},
    };
    for (const auto &builder : builders) {
        SCOPED_TRACE(builder.name);
        WalkAllocationFailures(builder.build);
    }
}

} // namespace
