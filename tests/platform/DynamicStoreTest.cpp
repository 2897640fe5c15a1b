// DynamicStoreTest.cpp: key lists by patterns over whole keys, and values in
// and out.
#include "StoreTestSupport.h"

#include <set>

using namespace vztest;

namespace {

const char *const kKeys = R"(<dict>
	<key>Setup:/Network/Global/IPv4</key><dict/>
	<key>Setup:/Network/Service/A/IPv4</key><dict><key>ConfigMethod</key><string>DHCP</string></dict>
	<key>Setup:/Network/Service/B/IPv4</key><dict/>
	<key>Setup:/Network/Service/B/IPv4/Extra</key><dict/>
	<key>State:/Network/Service/A/IPv4</key><dict/>
	<key>xSetup:/Network/Service/C/IPv4</key><dict/>
</dict>)";

class DynamicStore : public StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        store_ =
            Ref<SCDynamicStoreRef>(SCDynamicStoreCreate(nullptr, CFSTR("test"), nullptr, nullptr));
        ASSERT_TRUE(store_);
    }
    void TearDown() override
    {
        store_ = Ref<SCDynamicStoreRef>(); // before the live count is checked
        StoreTest::TearDown();
    }
    std::set<std::string> Keys(CFStringRef pattern) const
    {
        std::set<std::string> names;
        Ref<CFArrayRef>       keys(SCDynamicStoreCopyKeyList(store_, pattern));
        if (!keys) return {"(failed)"};
        for (CFIndex i = 0; i < CFArrayGetCount(keys); i++)
            names.insert(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(keys, i))));
        return names;
    }
    Ref<SCDynamicStoreRef> store_;
};

TEST_F(DynamicStore, PatternsMatchWholeKeys)
{
    WriteDynamicStore(kKeys);
    Ref<CFStringRef> anyIPv4(SCDynamicStoreKeyCreateNetworkServiceEntity(
        nullptr, kSCDynamicStoreDomainSetup, kSCCompAnyRegex, kSCEntNetIPv4));
    EXPECT_EQ(Utf8(anyIPv4), "Setup:/Network/Service/[^/]+/IPv4");
    struct Row {
        const char           *pattern;
        std::set<std::string> keys;
    };
    const Row rows[] = {
        {"Setup:/Network/Service/[^/]+/IPv4",
         {"Setup:/Network/Service/A/IPv4", "Setup:/Network/Service/B/IPv4"}},
        {"Setup:/Network/Service/A", {}}, // a prefix is not a match
        {"Network", {}},                  // nor is a part
        {"State:.*", {"State:/Network/Service/A/IPv4"}},
        {"Setup:/Network/Global/IPv4|State:/Network/Service/A/IPv4",
         {"Setup:/Network/Global/IPv4", "State:/Network/Service/A/IPv4"}},
        {"Setup:/Network/Global/IPv4)|(.*", {"(failed)"}}, // cannot undo the anchoring
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.pattern);
        EXPECT_EQ(Keys(Str(row.pattern)), row.keys);
    }
    EXPECT_EQ(SCError(), kSCStatusInvalidArgument);
    EXPECT_EQ(Keys(CFSTR("(unclosed")), std::set<std::string>{"(failed)"});
    EXPECT_EQ(SCError(), kSCStatusInvalidArgument);
    EXPECT_EQ(Keys(CFSTR(".*")).size(), 6u);
}

TEST_F(DynamicStore, ValuesInAndOut)
{
    // No file: an empty store.
    EXPECT_EQ(Keys(CFSTR(".*")), std::set<std::string>());
    EXPECT_EQ(SCDynamicStoreCopyValue(store_, CFSTR("State:/x")), nullptr);
    EXPECT_EQ(SCError(), kSCStatusNoKey);

    Ref<CFPropertyListRef> value(
        CreatePlist(PlistText("<dict><key>Status</key><integer>2</integer></dict>")));
    ASSERT_TRUE(SCDynamicStoreSetValue(store_, CFSTR("State:/x"), value));
    ASSERT_TRUE(SCDynamicStoreSetValue(store_, CFSTR("State:/y"), CFSTR("text")));
    Ref<CFPropertyListRef> back(SCDynamicStoreCopyValue(store_, CFSTR("State:/x")));
    EXPECT_TRUE(CFEqual(back, value));
    EXPECT_EQ(StatStore().st_mode, 0u); // the preferences store is not touched

    // Another session sees what this one wrote.
    Ref<SCDynamicStoreRef> other(SCDynamicStoreCreate(nullptr, nullptr, nullptr, nullptr));
    Ref<CFPropertyListRef> seen(SCDynamicStoreCopyValue(other, CFSTR("State:/y")));
    EXPECT_TRUE(CFEqual(seen, CFSTR("text")));

    ASSERT_TRUE(SCDynamicStoreRemoveValue(store_, CFSTR("State:/x")));
    EXPECT_FALSE(SCDynamicStoreRemoveValue(store_, CFSTR("State:/x")));
    EXPECT_EQ(SCError(), kSCStatusNoKey);
    EXPECT_EQ(Keys(CFSTR(".*")), std::set<std::string>{"State:/y"});

    EXPECT_FALSE(SCDynamicStoreSetValue(nullptr, CFSTR("k"), CFSTR("v")));
    EXPECT_EQ(SCError(), kSCStatusNoStoreSession);
    EXPECT_FALSE(SCDynamicStoreSetValue(store_, CFSTR("k"), nullptr));
    EXPECT_EQ(SCError(), kSCStatusInvalidArgument);
}

} // namespace
