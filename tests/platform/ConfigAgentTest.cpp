// ConfigAgentTest.cpp: applying the committed store publishes the current
// set in the Setup: domain, replacing every earlier Setup: key and nothing
// else.
#include "StoreTestSupport.h"

#include <map>
#include <sys/stat.h>

using namespace vztest;

namespace {

// The current set S1 names services by local IDs: L-A links to A (active,
// with an inactive AppleTalk entity), L-B to the inactive service B, L-C to a
// service that does not exist, and D by a link whose key is not its ID. S2,
// another set, must not show.
const char *const kStore = R"(<dict>
	<key>CurrentSet</key><string>/Sets/S1</string>
	<key>NetworkServices</key>
	<dict>
		<key>A</key>
		<dict>
			<key>UserDefinedName</key><string>A</string>
			<key>Interface</key><dict><key>DeviceName</key><string>en0</string></dict>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>DHCP</string></dict>
			<key>AppleTalk</key><dict><key>__INACTIVE__</key><integer>1</integer></dict>
		</dict>
		<key>B</key>
		<dict>
			<key>__INACTIVE__</key><integer>1</integer>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>Manual</string></dict>
		</dict>
		<key>D</key>
		<dict>
			<key>PPP</key><dict><key>AuthName</key><string>me</string></dict>
		</dict>
		<key>E</key>
		<dict>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>BOOTP</string></dict>
		</dict>
	</dict>
	<key>Sets</key>
	<dict>
		<key>S1</key>
		<dict>
			<key>Network</key>
			<dict>
				<key>Global</key>
				<dict>
					<key>IPv4</key><dict><key>ServiceOrder</key><array><string>L-A</string></array></dict>
				</dict>
				<key>Service</key>
				<dict>
					<key>L-A</key><dict><key>__LINK__</key><string>/NetworkServices/A</string></dict>
					<key>L-B</key><dict><key>__LINK__</key><string>/NetworkServices/B</string></dict>
					<key>L-C</key><dict><key>__LINK__</key><string>/NetworkServices/C</string></dict>
					<key>Other</key><dict><key>__LINK__</key><string>/NetworkServices/D</string></dict>
				</dict>
			</dict>
		</dict>
		<key>S2</key>
		<dict>
			<key>Network</key>
			<dict>
				<key>Service</key>
				<dict>
					<key>E</key><dict><key>__LINK__</key><string>/NetworkServices/E</string></dict>
				</dict>
			</dict>
		</dict>
	</dict>
</dict>)";

class ConfigAgent : public StoreTest {
  protected:
    // Every key of the dynamic store with the XML of its value.
    std::map<std::string, std::string> Published() const
    {
        std::map<std::string, std::string> keys;
        Ref<CFPropertyListRef>             tree = DynamicStoreTree();
        if (!tree) return {{"(unreadable)", ""}};
        auto                      dict  = static_cast<CFDictionaryRef>(tree.get());
        CFIndex                   count = CFDictionaryGetCount(dict);
        std::vector<const void *> names(count), values(count);
        CFDictionaryGetKeysAndValues(dict, names.data(), values.data());
        for (CFIndex i = 0; i < count; i++)
            keys[Utf8(static_cast<CFStringRef>(names[i]))] = XmlOf(values[i]);
        return keys;
    }
    std::string Xml(const std::string &body) const
    {
        Ref<CFPropertyListRef> tree(CreatePlist(PlistText(body)));
        return XmlOf(tree);
    }
};

TEST_F(ConfigAgent, PublishesTheActivePartsOfTheCurrentSet)
{
    WriteStore(kStore);
    WriteDynamicStore(R"(<dict>
		<key>Setup:/Network/Service/Old/IPv4</key><dict/>
		<key>Setup:/Network/Global/Proxies</key><dict/>
		<key>State:/Network/Service/L-A/PPP</key><dict><key>Status</key><integer>2</integer></dict>
	</dict>)");
    Ref<SCPreferencesRef> prefs = Open();
    ASSERT_TRUE(SCPreferencesApplyChanges(prefs));

    std::map<std::string, std::string> expected = {
        {"Setup:/Network/Global/IPv4",
         Xml("<dict><key>ServiceOrder</key><array><string>L-A</string></array></dict>")},
        {"Setup:/Network/Service/L-A/Interface",
         Xml("<dict><key>DeviceName</key><string>en0</string></dict>")},
        {"Setup:/Network/Service/L-A/IPv4",
         Xml("<dict><key>ConfigMethod</key><string>DHCP</string></dict>")},
        {"Setup:/Network/Service/Other/PPP",
         Xml("<dict><key>AuthName</key><string>me</string></dict>")},
        {"State:/Network/Service/L-A/PPP",
         Xml("<dict><key>Status</key><integer>2</integer></dict>")},
    };
    EXPECT_EQ(Published(), expected);
}

TEST_F(ConfigAgent, PublishesTheCommittedStoreNotTheSnapshot)
{
    WriteStore(kStore);
    Ref<SCPreferencesRef> prefs = Open();
    ASSERT_TRUE(SCPreferencesPathRemoveValue(prefs, CFSTR("/Sets/S1/Network/Service/Other")));
    ASSERT_TRUE(SCPreferencesApplyChanges(prefs));
    EXPECT_TRUE(Published().contains("Setup:/Network/Service/Other/PPP"));

    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    ASSERT_TRUE(SCPreferencesApplyChanges(prefs));
    EXPECT_FALSE(Published().contains("Setup:/Network/Service/Other/PPP"));
    EXPECT_TRUE(Published().contains("Setup:/Network/Service/L-A/IPv4"));

    // Switching sets replaces the lot.
    ASSERT_TRUE(SCPreferencesSetValue(prefs, kSCPrefCurrentSet, CFSTR("/Sets/S2")));
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    ASSERT_TRUE(SCPreferencesApplyChanges(prefs));
    std::map<std::string, std::string> expected = {
        {"Setup:/Network/Service/E/IPv4",
         Xml("<dict><key>ConfigMethod</key><string>BOOTP</string></dict>")},
    };
    EXPECT_EQ(Published(), expected);
}

TEST_F(ConfigAgent, NoCurrentSetOrOneThatNamesNoSetPublishesNothing)
{
    for (const char *store : {"<dict><key>Sets</key><dict/></dict>",
                              "<dict><key>CurrentSet</key><string>/Sets/Missing</string>"
                              "<key>Sets</key><dict/></dict>"}) {
        WriteStore(store);
        WriteDynamicStore(
            "<dict><key>Setup:/Network/Global/IPv4</key><dict/><key>State:/x</key><dict/></dict>");
        Ref<SCPreferencesRef> prefs = Open();
        ASSERT_TRUE(SCPreferencesApplyChanges(prefs));
        std::map<std::string, std::string> expected = {{"State:/x", Xml("<dict/>")}};
        EXPECT_EQ(Published(), expected);
    }
}

// Applying what the dynamic store holds already writes nothing: the file
// stays the same file.
TEST_F(ConfigAgent, UnchangedPublicationWritesNothing)
{
    WriteStore(kStore);
    WriteDynamicStore("<dict><key>State:/x</key><dict/></dict>");
    Ref<SCPreferencesRef> prefs = Open();
    ASSERT_TRUE(SCPreferencesApplyChanges(prefs));
    auto        published = Published();
    struct stat before {};
    ASSERT_EQ(stat(Path(kDynamicStorePath).c_str(), &before), 0);
    ASSERT_TRUE(SCPreferencesApplyChanges(prefs));
    struct stat after {};
    ASSERT_EQ(stat(Path(kDynamicStorePath).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(Published(), published);
}

} // namespace
