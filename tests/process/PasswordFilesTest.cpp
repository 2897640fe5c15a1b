// PasswordFilesTest.cpp: a dial-up's password, given to vz-netsetup on a copy
// of the demo machine, is in no file another user can read; that user's
// commands and the probe still work and say a password is set, and root reads
// the stored value back from both stores.
#include "NetsetupFixture.h"
#include "RunAsUser.h"

#include <random>

namespace {

using namespace nstest;

class PasswordFiles : public NetsetupRoot {};

// The password as the PPP entity stores it: UTF-16, little-endian.
std::string Encoded(const std::string &password)
{
    std::string bytes;
    for (char c : password)
        bytes += {c, '\0'};
    return bytes;
}

std::string PasswordIn(CFPropertyListRef entity)
{
    if (entity == nullptr || CFGetTypeID(entity) != CFDictionaryGetTypeID()) return "(none)";
    CFTypeRef data =
        CFDictionaryGetValue(static_cast<CFDictionaryRef>(entity), kSCPropNetPPPAuthPassword);
    if (data == nullptr || CFGetTypeID(data) != CFDataGetTypeID()) return "(none)";
    auto bytes = static_cast<CFDataRef>(data);
    return std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(bytes)),
                       static_cast<size_t>(CFDataGetLength(bytes)));
}

TEST_F(PasswordFiles, NoOtherUserReadsTheDialupPassword)
{
    std::string     password;
    std::mt19937_64 random(std::random_device{}());
    for (int i = 0; i < 16; i++)
        password += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    Outcome run = NsInput({"dialup", "ZORVEXMobile-Modem", "--phone", "*99#", "--account", "web",
                           "--password-file", "-"},
                          password + "\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(vztest::FilesOthersReadHolding(root_, password), std::vector<std::string>());
    for (const std::string store : {kStorePath, kDynamicStorePath})
        EXPECT_EQ(fs::status(Path(store + "-secrets")).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write)
            << store;

    // Root reads the stored value back, from the store and from what the
    // agent published.
    VZFlushPlatformCaches();
    SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("t"), nullptr);
    ASSERT_NE(prefs, nullptr);
    CFStringRef path = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("/NetworkServices/%s/PPP"),
                                                kModem.c_str());
    EXPECT_EQ(PasswordIn(SCPreferencesPathGetValue(prefs, path)), Encoded(password));
    CFRelease(path);
    CFRelease(prefs);
    SCDynamicStoreRef store = SCDynamicStoreCreate(nullptr, CFSTR("t"), nullptr, nullptr);
    CFStringRef       key   = CFStringCreateWithFormat(
                nullptr, nullptr, CFSTR("Setup:/Network/Service/%s/PPP"), kModem.c_str());
    CFPropertyListRef published = SCDynamicStoreCopyValue(store, key);
    EXPECT_EQ(PasswordIn(published), Encoded(password));
    if (published != nullptr) CFRelease(published);
    CFRelease(key);
    CFRelease(store);

    // Another user (when the test runs as root) lists the service with its
    // password set, and the probe answers as it does for root.
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    int             asUser = geteuid() == 0 ? 65534 : -1;
    vztest::Outcome shown  = vztest::RunCommand(
         root_, {VZ_VZ_NETSETUP_PATH, "--json", "service", "show", kModem}, asUser);
    ASSERT_TRUE(shown.exited && shown.status == 0) << shown.output;
    EXPECT_EQ(Json::parse(shown.output)["service"]["ppp"]["has_password"], true);
    vztest::Outcome probe  = vztest::RunCommand(root_, {VZ_ZORVEX_MODEM_STATUS_PATH}, asUser);
    vztest::Outcome asRoot = vztest::RunCommand(root_, {VZ_ZORVEX_MODEM_STATUS_PATH});
    EXPECT_TRUE(probe.exited && asRoot.exited);
    EXPECT_EQ(probe.status, asRoot.status);
    EXPECT_EQ(probe.output, "");
}

} // namespace
