// DHCPAndAppleTalkTest.cpp: AppleTalk read and switched over a set's
// services; the DHCP services listed from the dynamic store, as written by
// hand and as the configuration agent publishes it; and the lease release,
// watched through every write of the dynamic store the platform makes.
#include "RecipeStore.h"
#include "VaviVAZHelpers.h"

#include <cerrno>

using namespace edit;
using namespace recipes;
using namespace storetext;
using vztest::Utf8;

namespace {

// A service with an interface, optionally an AppleTalk entity (active or
// not), itself active or not.
std::string Service(const std::string &device, int appleTalk, bool active = true)
{
    Entries service = {{"Interface", EthernetInterface(device)}, {"UserDefinedName", Str(device)}};
    if (appleTalk >= 0) {
        Entries entity = {{"ConfigMethod", Str("Node")}};
        if (appleTalk == 0) entity.push_back({"__INACTIVE__", Int(1)});
        service.push_back({"AppleTalk", Dict(entity)});
    }
    if (!active) service.push_back({"__INACTIVE__", Int(1)});
    return Dict(service);
}

const int kNone = -1, kOff = 0, kOn = 1;

using AppleTalk = RecipeTest;

TEST_F(AppleTalk, IsOnWhenAnActiveServiceHasItOn)
{
    struct Case {
        const char *what;
        Entries     services; // in order; IDs are the keys
        bool        active;
    };
    const Case kCases[] = {
        {"no services", {}, false},
        {"only in an inactive service",
         {{"A", Service("en0", kOn, false)}, {"B", Service("en1", kOff)}},
         false},
        {"services without it",
         {{"A", Service("en0", kNone)}, {"B", Service("en1", kNone)}},
         false},
        {"after one without it", {{"A", Service("en0", kNone)}, {"B", Service("en1", kOn)}}, true},
        {"one of two", {{"A", Service("en0", kOff)}, {"B", Service("en1", kOn)}}, true},
    };
    for (const Case &c : kCases) {
        std::vector<std::string> order;
        for (const auto &[id, text] : c.services)
            order.push_back(id);
        Write(kStorePath, StoreText(c.services, {{"S1", SetText("Home", order)}}));
        Boolean active = !c.active;
        EXPECT_EQ(MoreSCIsAppleTalkActive(NULL, &active), noErr) << c.what;
        EXPECT_EQ(active, c.active) << c.what;
    }

    // A service the set cannot resolve does not count, and stops nothing.
    Write(kStorePath,
          StoreText(
              {{"A", Service("en0", kOn)}},
              {{"S1",
                Dict({{"Network",
                       Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder",
                                                              Array({Str("X"), Str("A")})}})}})},
                             {"Service", Dict({{"A", Link("A")}})}})}})}}));
    Boolean active = false;
    EXPECT_EQ(MoreSCIsAppleTalkActive(NULL, &active), noErr);
    EXPECT_TRUE(active);
}

TEST_F(AppleTalk, SwitchingSetsEveryServicesEntityAndCommitsOnlyAChange)
{
    Write(kStorePath,
          StoreText({{"A", Service("en0", kOff, false)},
                     {"B", Service("en1", kNone)},
                     {"C", Service("en2", kOn)},
                     {"X", Service("en3", kOff)}},
                    {{"S1", SetText("Home", {"A", "B", "C"})}, {"S2", SetText("Office", {"X"})}}));
    ASSERT_EQ(MoreSCSetAppleTalkActive(NULL, true), noErr);
    Tree tree(StoreXML());
    EXPECT_FALSE(tree.has("NetworkServices/A/AppleTalk/__INACTIVE__"));
    EXPECT_TRUE(tree.has("NetworkServices/A/__INACTIVE__"));
    EXPECT_FALSE(tree.has("NetworkServices/B/AppleTalk"));
    EXPECT_FALSE(tree.has("NetworkServices/C/AppleTalk/__INACTIVE__"));
    EXPECT_TRUE(tree.has("NetworkServices/X/AppleTalk/__INACTIVE__"));

    FileStamp on = Stamp();
    ASSERT_EQ(MoreSCSetAppleTalkActive(NULL, true), noErr);
    EXPECT_TRUE(Stamp() == on);

    ASSERT_EQ(MoreSCSetAppleTalkActive(CFSTR("S2"), true), noErr);
    ASSERT_EQ(MoreSCSetAppleTalkActive(NULL, false), noErr);
    Tree off(StoreXML());
    EXPECT_EQ(off.integer("NetworkServices/A/AppleTalk/__INACTIVE__"), 1);
    EXPECT_EQ(off.integer("NetworkServices/C/AppleTalk/__INACTIVE__"), 1);
    EXPECT_FALSE(off.has("NetworkServices/X/AppleTalk/__INACTIVE__"));

    // A set without services changes and commits nothing.
    Write(kStorePath, StoreText({}, {{"S1", SetText("Home", {})}}));
    FileStamp empty = Stamp();
    EXPECT_EQ(MoreSCSetAppleTalkActive(NULL, true), noErr);
    EXPECT_TRUE(Stamp() == empty);
}

// ---------------------------------------------------------------------------
// DHCP.

using DHCP = RecipeTest;

TEST_F(DHCP, OnlyServicesConfiguredByDHCPAreListed)
{
    struct Case {
        const char              *what;
        Entries                  keys;
        OSStatus                 err;
        std::vector<std::string> listed;
    };
    const Case kCases[] = {
        {"nothing published", {}, noErr, {}},
        {"each method",
         {{IPv4Key("D1"), Dict({{"ConfigMethod", Str("DHCP")}, {"ClientID", Str("me")}})},
          {IPv4Key("B"), Dict({{"ConfigMethod", Str("BOOTP")}})},
          {IPv4Key("I"), Dict({{"ConfigMethod", Str("INFORM")}})},
          {IPv4Key("M"), Dict({{"ConfigMethod", Str("Manual")}})},
          {IPv4Key("P"), Dict({{"ConfigMethod", Str("PPP")}})},
          {IPv4Key("D2"), Dict({{"ConfigMethod", Str("DHCP")}})},
          // Not the IPv4 setup of a service.
          {"State:/Network/Service/S/IPv4", Dict({{"ConfigMethod", Str("DHCP")}})},
          {"Setup:/Network/Service/E/DHCP", Dict({{"ConfigMethod", Str("DHCP")}})},
          {"Setup:/Network/Global/IPv4", Dict({{"ServiceOrder", Array({})}})},
          {"Setup:/Network/Service/a/b/IPv4", Dict({{"ConfigMethod", Str("DHCP")}})}},
         noErr,
         {"D1", "D2"}},
        {"no config method",
         {{IPv4Key("D1"), Dict({{"ConfigMethod", Str("DHCP")}})}, {IPv4Key("N"), Dict({})}},
         kMoreSCErrorNoConfigMethod,
         {}},
        {"a value that is not a dictionary",
         {{IPv4Key("V"), Array({Str("DHCP")})}},
         kCFQErrorObjectNotMade,
         {}},
        {"a config method that is not a string",
         {{IPv4Key("V"), Dict({{"ConfigMethod", Int(1)}})}},
         kCFQErrorObjectNotMade,
         {}},
    };
    for (const Case &c : kCases) {
        Write(kDynamicStorePath, Document(Dict(c.keys)));
        Out<CFArrayRef> listed;
        EXPECT_EQ(MoreSCCreateActiveDHCPServicesArray(listed.put()), c.err) << c.what;
        if (c.err == noErr) {
            ASSERT_NE(listed.get(), nullptr) << c.what;
            EXPECT_EQ(Strings(listed.get()), c.listed) << c.what;
        } else {
            EXPECT_EQ(listed.get(), nullptr) << c.what;
        }
    }

    // A dynamic store that cannot be read.
    Write(kDynamicStorePath, "<plist><dict><key>x</key>");
    Out<CFArrayRef> listed;
    EXPECT_NE(MoreSCCreateActiveDHCPServicesArray(listed.put()), noErr);
    EXPECT_EQ(listed.get(), nullptr);
}

class Release : public RecipeTest {
  protected:
    // The standard store, applied once so that the running system has its
    // current set (A: DHCP; B: an inactive service) in place.
    void SetUp() override
    {
        RecipeTest::SetUp();
        Write(kStorePath, StandardStore());
        ASSERT_EQ(MoreSCSetServiceActive(NULL, CFSTR("B"), true), noErr);
        ASSERT_TRUE(DynamicStoreWrites::Holds(Read(kDynamicStorePath), IPv4Key("A")));
    }
};

TEST_F(Release, TheIPv4SetupGoesAtTheFirstApplyAndComesBackAtTheSecond)
{
    const std::string before = StoreXML();
    std::vector<bool> ipv4, interface;
    {
        DynamicStoreWrites writes;
        ASSERT_EQ(MoreSCDHCPRelease(CFSTR("A")), noErr);
        ipv4      = writes.Holding(IPv4Key("A"));
        interface = writes.Holding("Setup:/Network/Service/A/Interface");
    }
    EXPECT_EQ(ipv4, (std::vector<bool>{false, true}));
    EXPECT_EQ(interface, (std::vector<bool>{true, true}));
    EXPECT_TRUE(
        CFEqual(Tree(StoreXML()).at("NetworkServices/A"), Tree(before).at("NetworkServices/A")));
}

TEST_F(Release, InsideACallersSessionTheRunningSystemNeverSeesTheGap)
{
    std::vector<bool> ipv4;
    {
        DynamicStoreWrites writes;
        OSStatus           outer = MoreSCOpen(false, false);
        ASSERT_EQ(outer, noErr);
        EXPECT_EQ(MoreSCDHCPRelease(CFSTR("A")), noErr);
        Boolean active = false;
        EXPECT_EQ(MoreSCIsEntityActive(NULL, CFSTR("A"), kSCEntNetIPv4, &active), noErr);
        EXPECT_TRUE(active);
        ipv4 = writes.Holding(IPv4Key("A"));
        EXPECT_TRUE(ipv4.empty());
        MoreSCClose(&outer, false);
        ipv4 = writes.Holding(IPv4Key("A"));
    }
    EXPECT_EQ(std::count(ipv4.begin(), ipv4.end(), false), 0);
    EXPECT_FALSE(Tree(StoreXML()).has("NetworkServices/A/IPv4/__INACTIVE__"));
}

TEST_F(Release, AnInactiveIPv4EntityEndsActive)
{
    // C's IPv4 entity is inactive in the standard store.
    ASSERT_EQ(MoreSCSetCurrentSet(CFSTR("S2")), noErr);
    ASSERT_FALSE(DynamicStoreWrites::Holds(Read(kDynamicStorePath), IPv4Key("C")));
    ASSERT_EQ(MoreSCDHCPRelease(CFSTR("C")), noErr);
    EXPECT_FALSE(Tree(StoreXML()).has("NetworkServices/C/IPv4/__INACTIVE__"));
    EXPECT_TRUE(DynamicStoreWrites::Holds(Read(kDynamicStorePath), IPv4Key("C")));

    // A service without an IPv4 entity, or one the set does not list.
    FileStamp stamp = Stamp();
    EXPECT_PRED1(IsPlatformMiss, MoreSCDHCPRelease(CFSTR("B")));
    EXPECT_PRED1(IsPlatformMiss, MoreSCDHCPRelease(CFSTR("Z")));
    EXPECT_TRUE(Stamp() == stamp);
}

// Whatever allocation fails, the release either changed nothing or (failing
// in its second step) left the entity inactive, committed; and both happen.
TEST_F(Release, AFailedSecondStepLeavesTheEntityInactive)
{
    const std::string original  = StoreXML();
    int               unchanged = 0, inactive = 0;
    bool              done = false;
    for (long n = 0; !done && n < 5000; n++) {
        Write(kStorePath, original);
        VZFlushPlatformCaches();
        CFIndex live = VZGetLiveObjectCount();
        VZArmAllocationFailure(n, false);
        OSStatus err = MoreSCDHCPRelease(CFSTR("A"));
        VZClearAllocationFailure();
        done = (err == noErr);
        if (done) break;
        if (Tree(StoreXML()).has("NetworkServices/A/IPv4/__INACTIVE__")) {
            inactive++;
        } else {
            EXPECT_EQ(StoreXML(), original) << n;
            unchanged++;
        }
        VZFlushPlatformCaches();
        EXPECT_EQ(VZGetLiveObjectCount(), live) << n;
    }
    EXPECT_TRUE(done);
    EXPECT_GT(unchanged, 0);
    EXPECT_GT(inactive, 0);
}

// The first step's commit goes through but its apply fails: the release
// reports the failure and the stored entity is active again.
TEST_F(Release, AFirstStepWhoseApplyFailsLeavesTheEntityActive)
{
    // The renames: the first commit, then the first apply's dynamic store.
    ASSERT_TRUE(VZArmSyscallFailure("rename", 1, false, EIO));
    OSStatus err = MoreSCDHCPRelease(CFSTR("A"));
    VZClearSyscallFailure();
    EXPECT_NE(err, noErr);
    EXPECT_FALSE(Tree(StoreXML()).has("NetworkServices/A/IPv4/__INACTIVE__"));
    EXPECT_TRUE(DynamicStoreWrites::Holds(Read(kDynamicStorePath), IPv4Key("A")));
}

} // namespace
