// PreferencesPathsTest.cpp: paths into a preferences snapshot: links at every
// component, link chains and cycles, damaged links, link reads, writes that
// create and follow, removal and unique children.
#include "StoreTestSupport.h"

#include <set>

using namespace vztest;

namespace {

// Services under NetworkServices, a set S1 reaching them through links (one a
// link to a link), links that go wrong in every way, and a link at an inner
// component (/Sets/Alias).
const char *const kLinkedStore = R"(<dict>
	<key>CurrentSet</key><string>/Sets/S1</string>
	<key>NetworkServices</key>
	<dict>
		<key>A</key>
		<dict>
			<key>Name</key><string>service A</string>
			<key>IPv4</key><dict><key>Name</key><string>IPv4 of A</string></dict>
		</dict>
	</dict>
	<key>Sets</key>
	<dict>
		<key>Alias</key><dict><key>__LINK__</key><string>/Sets/S1</string></dict>
		<key>S1</key>
		<dict>
			<key>Network</key>
			<dict>
				<key>Service</key>
				<dict>
					<key>A</key><dict><key>__LINK__</key><string>/NetworkServices/A</string></dict>
					<key>ToA</key><dict><key>__LINK__</key><string>/Sets/S1/Network/Service/A</string></dict>
					<key>Loop1</key><dict><key>__LINK__</key><string>/Sets/S1/Network/Service/Loop2</string></dict>
					<key>Loop2</key><dict><key>__LINK__</key><string>/Sets/S1/Network/Service/Loop1</string></dict>
					<key>Self</key><dict><key>__LINK__</key><string>/Sets/S1/Network/Service/Self/Deeper</string></dict>
					<key>Fan</key><dict><key>__LINK__</key><string>/Sets/S1/Network/Service/Fan/Fan/Fan/Fan/Fan/Fan</string></dict>
					<key>NumberLink</key><dict><key>__LINK__</key><integer>3</integer></dict>
					<key>Dangling</key><dict><key>__LINK__</key><string>/NetworkServices/Missing</string></dict>
					<key>Relative</key><dict><key>__LINK__</key><string>NetworkServices/A</string></dict>
				</dict>
			</dict>
		</dict>
	</dict>
	<key>Text</key><string>plain</string>
</dict>)";

// An upper-case version 4 UUID: 8-4-4-4-12 hexadecimal digits.
bool IsUpperCaseUUID(const std::string &text)
{
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return text[14] == '4';
}

class PreferencesPaths : public StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        WriteStore(kLinkedStore);
    }
};

TEST_F(PreferencesPaths, ReadsFollowLinksAtEveryComponent)
{
    struct Row {
        const char *path;
        const char *name; // the Name of the dictionary reached, or NULL
        int         status;
    };
    const Row rows[] = {
        {"/Sets/S1/Network/Service/A", "service A", 0},
        {"/Sets/S1/Network/Service/A/IPv4", "IPv4 of A", 0},
        {"/Sets/S1/Network/Service/ToA/IPv4", "IPv4 of A", 0},  // link to a link
        {"/Sets/Alias/Network/Service/A/IPv4", "IPv4 of A", 0}, // links at two components
        {"/Sets/S1/Network/Service/A/IPv4/", "IPv4 of A", 0},   // trailing "/"
        {"/Sets/S1/Network/Service/Loop1", nullptr, kSCStatusMaxLink},
        {"/Sets/S1/Network/Service/Self", nullptr, kSCStatusMaxLink},
        {"/Sets/S1/Network/Service/Fan", nullptr, kSCStatusMaxLink},
        {"/Sets/S1/Network/Service/NumberLink", nullptr, kSCStatusFailed},
        {"/Sets/S1/Network/Service/Relative", nullptr, kSCStatusFailed},
        {"/Sets/S1/Network/Service/Dangling", nullptr, kSCStatusNoKey},
        {"/Sets/S1/Network/Service/Missing", nullptr, kSCStatusNoKey},
        {"/Text", nullptr, kSCStatusNoKey},      // not a dictionary
        {"/Text/More", nullptr, kSCStatusNoKey}, // through a non-dictionary
        {"/CurrentSet", nullptr, kSCStatusNoKey},
        {"Sets/S1", nullptr, kSCStatusInvalidArgument},
        {"/Sets//S1", nullptr, kSCStatusInvalidArgument},
        {"", nullptr, kSCStatusInvalidArgument},
    };
    Ref<SCPreferencesRef> prefs = Open();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        CFDictionaryRef value = SCPreferencesPathGetValue(prefs, Str(row.path));
        if (row.name != nullptr) {
            EXPECT_EQ(StringAt(value, "Name"), row.name);
        } else {
            EXPECT_EQ(value, nullptr);
            EXPECT_EQ(SCError(), row.status);
        }
    }
    CFDictionaryRef root = SCPreferencesPathGetValue(prefs, CFSTR("/"));
    EXPECT_EQ(StringAt(root, "CurrentSet"), "/Sets/S1");
}

// Keys of any text and length read alike: UTF-16 text and keys too long for
// the readers' in-place keys take the general walk, links and all.
TEST_F(PreferencesPaths, KeysOfAnyTextOrLengthRead)
{
    std::string longKey(300, 'k');
    WriteStore("<dict><key>Net \xE2\x82\xAC</key><dict><key>Name</key><string>wide</string></dict>"
               "<key>" +
               longKey +
               "</key><dict><key>Name</key><string>long</string></dict>"
               "<key>Links</key><dict>"
               "<key>ToWide</key><dict><key>__LINK__</key><string>/Net \xE2\x82\xAC</string></dict>"
               "<key>\xE2\x82\xAC</key><dict><key>__LINK__</key><string>/" +
               longKey + "</string></dict></dict></dict>");
    Ref<SCPreferencesRef>                      prefs   = Open();
    const std::pair<std::string, const char *> reads[] = {
        {"/Net \xE2\x82\xAC", "wide"},
        {"/" + longKey, "long"},
        {"/Links/ToWide", "wide"},
        {"/Links/\xE2\x82\xAC", "long"},
    };
    for (const auto &[path, name] : reads)
        EXPECT_EQ(StringAt(SCPreferencesPathGetValue(prefs, Str(path.c_str())), "Name"), name)
            << path;
    EXPECT_EQ(Utf8(SCPreferencesPathGetLink(prefs, Str("/Links/\xE2\x82\xAC"))), "/" + longKey);
    EXPECT_EQ(Utf8(SCPreferencesPathGetLink(prefs, Str("/Links/ToWide"))), "/Net \xE2\x82\xAC");
}

TEST_F(PreferencesPaths, GetLinkReadsTheFinalLinkWithoutFollowingIt)
{
    struct Row {
        const char *path;
        const char *link; // or NULL
        int         status;
    };
    const Row rows[] = {
        {"/Sets/S1/Network/Service/A", "/NetworkServices/A", 0},
        {"/Sets/S1/Network/Service/ToA", "/Sets/S1/Network/Service/A", 0},
        {"/Sets/Alias/Network/Service/ToA", "/Sets/S1/Network/Service/A", 0},
        {"/Sets/Alias", "/Sets/S1", 0},
        {"/Sets/S1/Network/Service/Loop1", "/Sets/S1/Network/Service/Loop2", 0},
        {"/NetworkServices/A", nullptr, kSCStatusNoLink},
        {"/Text", nullptr, kSCStatusNoLink},
        {"/Sets/S1/Network/Service/Missing", nullptr, kSCStatusNoKey},
        {"/Sets/S1/Network/Service/NumberLink", nullptr, kSCStatusFailed},
        {"/Sets/S1/Network/Service/Loop1/Below", nullptr, kSCStatusMaxLink},
        {"/", nullptr, kSCStatusInvalidArgument},
    };
    Ref<SCPreferencesRef> prefs = Open();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        CFStringRef link = SCPreferencesPathGetLink(prefs, Str(row.path));
        if (row.link != nullptr) {
            EXPECT_EQ(Utf8(link), row.link);
        } else {
            EXPECT_EQ(link, nullptr);
            EXPECT_EQ(SCError(), row.status);
        }
    }
}

TEST_F(PreferencesPaths, SetCreatesMissingDictionariesAndWritesThroughLinks)
{
    Ref<SCPreferencesRef> prefs = Open();
    Ref<CFDictionaryRef>  entity(static_cast<CFDictionaryRef>(
        CreatePlist(PlistText("<dict><key>Name</key><string>new</string></dict>"))));

    ASSERT_TRUE(SCPreferencesPathSetValue(prefs, CFSTR("/Fresh/Deeper/Deepest"), entity));
    EXPECT_EQ(StringAt(SCPreferencesPathGetValue(prefs, CFSTR("/Fresh/Deeper/Deepest")), "Name"),
              "new");

    // Through the set's link (and the alias) into the shared service.
    ASSERT_TRUE(
        SCPreferencesPathSetValue(prefs, CFSTR("/Sets/Alias/Network/Service/A/DNS"), entity));
    EXPECT_EQ(StringAt(SCPreferencesPathGetValue(prefs, CFSTR("/NetworkServices/A/DNS")), "Name"),
              "new");
    EXPECT_EQ(StringAt(SCPreferencesPathGetValue(prefs, CFSTR("/NetworkServices/A")), "Name"),
              "service A");

    // The final component is replaced, not followed: the link entry itself.
    ASSERT_TRUE(SCPreferencesPathSetValue(prefs, CFSTR("/Sets/S1/Network/Service/ToA"), entity));
    EXPECT_EQ(SCPreferencesPathGetLink(prefs, CFSTR("/Sets/S1/Network/Service/ToA")), nullptr);
    EXPECT_EQ(
        StringAt(SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1/Network/Service/A")), "Name"),
        "service A");

    // What the store holds that is not a dictionary is never written over.
    struct Row {
        const char *path;
        int         status;
    };
    const Row refused[] = {
        {"/Text/Inner", kSCStatusFailed},
        {"/Sets/S1/Network/Service/Loop1/Inner", kSCStatusMaxLink},
        {"/Sets/S1/Network/Service/NumberLink/Inner", kSCStatusFailed},
        {"/", kSCStatusInvalidArgument},
    };
    for (const Row &row : refused) {
        SCOPED_TRACE(row.path);
        EXPECT_FALSE(SCPreferencesPathSetValue(prefs, Str(row.path), entity));
        EXPECT_EQ(SCError(), row.status);
    }
    EXPECT_EQ(Utf8(static_cast<CFStringRef>(SCPreferencesGetValue(prefs, CFSTR("Text")))), "plain");

    // The snapshot keeps its own copy of what it was given.
    Ref<CFMutableDictionaryRef> mine(CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(mine, CFSTR("Name"), CFSTR("before"));
    ASSERT_TRUE(SCPreferencesPathSetValue(prefs, CFSTR("/Mine"), mine));
    CFDictionarySetValue(mine, CFSTR("Name"), CFSTR("after"));
    EXPECT_EQ(StringAt(SCPreferencesPathGetValue(prefs, CFSTR("/Mine")), "Name"), "before");
}

TEST_F(PreferencesPaths, RemoveTakesOutTheFinalKeyOnly)
{
    Ref<SCPreferencesRef> prefs = Open();
    ASSERT_TRUE(SCPreferencesPathRemoveValue(prefs, CFSTR("/Sets/S1/Network/Service/A")));
    EXPECT_EQ(SCPreferencesPathGetLink(prefs, CFSTR("/Sets/S1/Network/Service/A")), nullptr);
    EXPECT_EQ(SCError(), kSCStatusNoKey);
    EXPECT_NE(SCPreferencesPathGetValue(prefs, CFSTR("/NetworkServices/A")), nullptr);

    ASSERT_TRUE(
        SCPreferencesPathRemoveValue(prefs, CFSTR("/Sets/Alias/Network"))); // through a link
    EXPECT_EQ(SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1/Network")), nullptr);
    EXPECT_NE(SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1")), nullptr);

    EXPECT_FALSE(SCPreferencesPathRemoveValue(prefs, CFSTR("/Sets/S1/Network")));
    EXPECT_EQ(SCError(), kSCStatusNoKey);
    EXPECT_FALSE(SCPreferencesPathRemoveValue(prefs, CFSTR("/Nowhere/At/All")));
    EXPECT_EQ(SCError(), kSCStatusNoKey);
}

TEST_F(PreferencesPaths, UniqueChildrenNeverCollide)
{
    Ref<SCPreferencesRef> prefs = Open();
    std::set<std::string> seen;
    for (int i = 0; i < 200; i++) {
        Ref<CFStringRef> path(SCPreferencesPathCreateUniqueChild(prefs, CFSTR("/Sets")));
        ASSERT_TRUE(path);
        std::string text = Utf8(path);
        EXPECT_EQ(text.rfind("/Sets/", 0), 0u);
        EXPECT_TRUE(IsUpperCaseUUID(text.substr(6))) << text;
        EXPECT_TRUE(seen.insert(text).second) << text;
        CFDictionaryRef child = SCPreferencesPathGetValue(prefs, path);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(CFDictionaryGetCount(child), 0);
    }
    EXPECT_NE(SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1")), nullptr);

    // A missing prefix is made; a prefix through a link names the child
    // through the same link.
    Ref<CFStringRef> fresh(SCPreferencesPathCreateUniqueChild(prefs, CFSTR("/Brand/New")));
    ASSERT_TRUE(fresh);
    EXPECT_NE(SCPreferencesPathGetValue(prefs, fresh), nullptr);
    Ref<CFStringRef> linked(
        SCPreferencesPathCreateUniqueChild(prefs, CFSTR("/Sets/Alias/Network")));
    ASSERT_TRUE(linked);
    EXPECT_EQ(Utf8(linked).rfind("/Sets/Alias/Network/", 0), 0u);
    EXPECT_NE(SCPreferencesPathGetValue(prefs, linked), nullptr);

    EXPECT_EQ(SCPreferencesPathCreateUniqueChild(prefs, CFSTR("/Text")), nullptr);
    EXPECT_EQ(SCError(), kSCStatusFailed);
}

// A value handed out stays valid and unchanged until the snapshot goes, even
// when later edits replace the dictionaries it came from (the sanitizers
// catch a dangling one).
TEST_F(PreferencesPaths, HandedOutValuesSurviveLaterEdits)
{
    Ref<SCPreferencesRef> prefs = Open();
    Ref<CFDictionaryRef>  entity(static_cast<CFDictionaryRef>(
        CreatePlist(PlistText("<dict><key>Name</key><string>one</string></dict>"))));
    ASSERT_TRUE(SCPreferencesPathSetValue(prefs, CFSTR("/Sets/S1/Extra/Entity"), entity));

    CFDictionaryRef set   = SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1"));
    CFDictionaryRef extra = SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1/Extra"));
    CFDictionaryRef held  = SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1/Extra/Entity"));
    ASSERT_NE(held, nullptr);
    CFIndex setCount = CFDictionaryGetCount(set);

    Ref<CFDictionaryRef> other(static_cast<CFDictionaryRef>(
        CreatePlist(PlistText("<dict><key>Name</key><string>two</string></dict>"))));
    ASSERT_TRUE(SCPreferencesPathSetValue(prefs, CFSTR("/Sets/S1/Extra/Entity"), other));
    ASSERT_TRUE(SCPreferencesPathSetValue(prefs, CFSTR("/Sets/S1/Added"), other));
    ASSERT_TRUE(SCPreferencesPathRemoveValue(prefs, CFSTR("/Sets/S1/Extra")));

    EXPECT_EQ(StringAt(held, "Name"), "one");
    EXPECT_EQ(CFDictionaryGetCount(extra), 1);
    EXPECT_EQ(CFDictionaryGetCount(set), setCount);
    EXPECT_EQ(StringAt(SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1/Added")), "Name"), "two");
}

TEST_F(PreferencesPaths, TopLevelValues)
{
    Ref<SCPreferencesRef> prefs = Open();
    EXPECT_EQ(Utf8(static_cast<CFStringRef>(SCPreferencesGetValue(prefs, kSCPrefCurrentSet))),
              "/Sets/S1");
    EXPECT_EQ(SCPreferencesGetValue(prefs, CFSTR("Missing")), nullptr);
    EXPECT_EQ(SCError(), kSCStatusNoKey);

    EXPECT_FALSE(SCPreferencesAddValue(prefs, kSCPrefCurrentSet, CFSTR("/Sets/S2")));
    EXPECT_EQ(SCError(), kSCStatusKeyExists);
    EXPECT_TRUE(SCPreferencesSetValue(prefs, kSCPrefCurrentSet, CFSTR("/Sets/S2")));
    EXPECT_TRUE(SCPreferencesAddValue(prefs, CFSTR("System"), CFSTR("x")));
    EXPECT_TRUE(SCPreferencesRemoveValue(prefs, CFSTR("Text")));
    EXPECT_FALSE(SCPreferencesRemoveValue(prefs, CFSTR("Text")));
    EXPECT_EQ(SCError(), kSCStatusNoKey);

    Ref<CFArrayRef> keys(SCPreferencesCopyKeyList(prefs));
    ASSERT_TRUE(keys);
    std::set<std::string> names;
    for (CFIndex i = 0; i < CFArrayGetCount(keys); i++)
        names.insert(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(keys, i))));
    EXPECT_EQ(names, (std::set<std::string>{"CurrentSet", "NetworkServices", "Sets", "System"}));
    EXPECT_EQ(Utf8(static_cast<CFStringRef>(SCPreferencesGetValue(prefs, kSCPrefCurrentSet))),
              "/Sets/S2");

    EXPECT_FALSE(SCPreferencesLock(nullptr, false));
    EXPECT_EQ(SCError(), kSCStatusNoPrefsSession);
    EXPECT_EQ(SCPreferencesGetValue(reinterpret_cast<SCPreferencesRef>(CFSTR("x")), CFSTR("k")),
              nullptr);
    EXPECT_EQ(SCError(), kSCStatusNoPrefsSession);
}

} // namespace
