// SecretsTest.cpp: passwords kept in the secrets file beside the store. An
// old store with a password inline reads as before and moves it at its first
// commit; a password keeps its secret ID while it is unchanged, a copied
// entity keeps its password, and a secret nothing names is swept; a secrets
// file that cannot be read is never written over, and one that exists keeps
// its owner. A writer that cannot read the secrets keeps every password, in
// the store and in what it publishes. (Another user's view, and a dial-up
// through the commands, are in tests/process/PasswordFilesTest.cpp.)
#include "StoreTestSupport.h"

#include <algorithm>
#include <unistd.h>

using namespace vztest;

namespace {

// B's password is inline, as in a store written before. The current set
// holds A alone.
const char *const kStore = R"(<dict><key>NetworkServices</key><dict>
	<key>A</key><dict><key>PPP</key><dict><key>AuthName</key><string>a</string></dict></dict>
	<key>B</key><dict><key>PPP</key><dict><key>AuthPassword</key><string>inline-b</string></dict></dict>
</dict>
<key>CurrentSet</key><string>/Sets/S</string>
<key>Sets</key><dict><key>S</key><dict><key>Network</key><dict><key>Service</key><dict>
	<key>A</key><dict><key>__LINK__</key><string>/NetworkServices/A</string></dict>
</dict></dict></dict></dict>
</dict>)";

const char *const kSecretsPath =
    "Library/Preferences/SystemConfiguration/preferences.plist-secrets";

class Secrets : public StoreTest {
  protected:
    static Str EntityPath(const char *service)
    {
        return Str(("/NetworkServices/" + std::string(service) + "/PPP").c_str());
    }

    // Sets (nullptr: removes) a service's password, or another key of its
    // entity, and commits.
    bool Commit(const char *service, const char *value,
                CFStringRef key = kSCPropNetPPPAuthPassword) const
    {
        Ref<SCPreferencesRef> prefs  = Open();
        CFDictionaryRef       entity = SCPreferencesPathGetValue(prefs, EntityPath(service));
        if (entity == nullptr) return false;
        Ref<CFMutableDictionaryRef> edited(CFDictionaryCreateMutableCopy(nullptr, 0, entity));
        if (value != nullptr)
            CFDictionarySetValue(edited.get(), key, Str(value));
        else
            CFDictionaryRemoveValue(edited.get(), key);
        return SCPreferencesPathSetValue(prefs, EntityPath(service), edited.get()) &&
               SCPreferencesCommitChanges(prefs);
    }
    bool Apply() const
    {
        Ref<SCPreferencesRef> prefs = Open();
        return SCPreferencesApplyChanges(prefs);
    }

    // A service's password as a fresh snapshot shows it.
    std::string Seen(const char *service) const
    {
        VZFlushPlatformCaches();
        Ref<SCPreferencesRef> prefs = Open();
        return StringAt(SCPreferencesPathGetValue(prefs, EntityPath(service)), "AuthPassword");
    }

    // A key of the service's entity as the dynamic store publishes it.
    std::string Published(const char *service, const char *key = "AuthPassword") const
    {
        Ref<SCDynamicStoreRef> store(SCDynamicStoreCreate(nullptr, CFSTR("t"), nullptr, nullptr));
        std::string            name = "Setup:/Network/Service/" + std::string(service) + "/PPP";
        Ref<CFPropertyListRef> entity(SCDynamicStoreCopyValue(store, Str(name.c_str())));
        return StringAt(static_cast<CFDictionaryRef>(entity.get()), key);
    }

    // The secret IDs the store file names, and those the secrets file holds.
    std::vector<std::string> Named() const
    {
        std::vector<std::string> ids;
        std::string              text = StoreBytes(), marker = "<key>VZAuthPasswordSecret</key>";
        for (size_t at = text.find(marker); at != std::string::npos;
             at        = text.find(marker, at + 1)) {
            size_t start = text.find("<string>", at) + 8;
            ids.push_back(text.substr(start, text.find('<', start) - start));
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    std::vector<std::string> Held() const
    {
        Ref<CFPropertyListRef>    tree(CreatePlist(Read(kSecretsPath)));
        std::vector<const void *> keys(
            tree ? CFDictionaryGetCount(static_cast<CFDictionaryRef>(tree.get())) : 0);
        if (tree)
            CFDictionaryGetKeysAndValues(static_cast<CFDictionaryRef>(tree.get()), keys.data(),
                                         nullptr);
        std::vector<std::string> ids;
        for (const void *key : keys)
            ids.push_back(Utf8(static_cast<CFStringRef>(key)));
        std::sort(ids.begin(), ids.end());
        return ids;
    }
};

TEST_F(Secrets, OldInlinePasswordsMoveAtTheFirstCommit)
{
    WriteStore(kStore);
    EXPECT_FALSE(Exists(kSecretsPath)); // reading writes nothing

    ASSERT_TRUE(Commit("A", "pw-a"));
    EXPECT_EQ(Seen("A"), "pw-a");
    EXPECT_EQ(Seen("B"), "inline-b");
    EXPECT_EQ(Named().size(), 2u);
    EXPECT_EQ(Held(), Named());
    struct stat info {};
    ASSERT_EQ(stat(Path(kSecretsPath).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    for (const char *password : {"pw-a", "inline-b"})
        EXPECT_EQ(FilesOthersReadHolding(root_, password), std::vector<std::string>());
}

TEST_F(Secrets, IDsFollowPasswordsAndUnnamedOnesAreSwept)
{
    WriteStore(kStore);
    ASSERT_TRUE(Commit("A", "first"));
    std::vector<std::string> before = Named();
    ASSERT_TRUE(Commit("A", "first")); // unchanged: the same IDs
    EXPECT_EQ(Named(), before);
    ASSERT_TRUE(Commit("A", "second")); // a new password, a new ID
    std::vector<std::string> after = Named();
    EXPECT_NE(after, before);
    EXPECT_EQ(Held(), after);

    // A copy of the entity elsewhere keeps the password.
    {
        Ref<SCPreferencesRef> prefs  = Open();
        CFDictionaryRef       entity = SCPreferencesPathGetValue(prefs, EntityPath("A"));
        ASSERT_TRUE(entity != nullptr && SCPreferencesPathSetValue(prefs, EntityPath("C"), entity));
        ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    }
    EXPECT_EQ(Seen("C"), "second");
    EXPECT_EQ(Named().size(), 3u);

    // Deleting a service or a password deletes its secret, and a secret that
    // nothing names (a killed commit's) goes at the next commit.
    std::string secrets = Read(kSecretsPath);
    secrets.insert(secrets.find("<dict>") + 6,
                   "<key>ORPHAN</key><dict><key>AuthPassword</key><string>x</string></dict>");
    Write(kSecretsPath, secrets);
    {
        Ref<SCPreferencesRef> prefs = Open();
        ASSERT_TRUE(SCPreferencesPathRemoveValue(prefs, CFSTR("/NetworkServices/C")));
        ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    }
    ASSERT_TRUE(Commit("B", nullptr));
    EXPECT_EQ(Named().size(), 1u);
    EXPECT_EQ(Held(), Named());
    EXPECT_EQ(Seen("A"), "second");
}

TEST_F(Secrets, DamagedSecretsAreNeverWrittenOver)
{
    WriteStore(kStore);
    ASSERT_TRUE(Commit("A", "kept"));
    Write(kSecretsPath, "not a property list");
    std::string store = StoreBytes();
    EXPECT_EQ(Seen("A"), "(none)"); // the marker stays, and reading works
    EXPECT_FALSE(Commit("B", "other"));
    EXPECT_EQ(SCError(), kSCStatusFailed);
    EXPECT_EQ(StoreBytes(), store);
    EXPECT_EQ(Read(kSecretsPath), "not a property list");
}

// Whoever owns the store, an existing secrets file keeps its owner; only a
// new one takes the store's.
TEST_F(Secrets, AnExistingSecretsFileKeepsItsOwner)
{
    if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
    const struct {
        const char *what;
        uid_t       store;
        int         secrets; // -1: none yet
        uid_t       kept;
    } kCases[] = {
        {"a store another user replaced", 4321, 0, 0},
        {"secrets of another user", 0, 4321, 4321},
        {"no secrets file yet", 4321, -1, 4321},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        for (const char *file : {kStorePath, kSecretsPath})
            std::filesystem::remove(Path(file));
        WriteStore(kStore);
        if (c.secrets >= 0) {
            ASSERT_TRUE(Commit("A", "before"));
            ASSERT_EQ(chown(Path(kSecretsPath).c_str(), c.secrets, c.secrets), 0);
        }
        ASSERT_EQ(chown(Path(kStorePath).c_str(), c.store, c.store), 0);
        ASSERT_TRUE(Commit("A", "after")) << SCError();
        struct stat info {};
        ASSERT_EQ(stat(Path(kSecretsPath).c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, c.kept);
        EXPECT_EQ(info.st_gid, c.kept);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(Seen("A"), "after");
    }
}

// A user who may write both stores but read neither secrets file (as with
// folders writable by a group it is in) changes a dial-up's account name.
TEST_F(Secrets, AWriterThatCannotReadTheSecretsKeepsThem)
{
    if (geteuid() != 0) GTEST_SKIP() << "another user's view needs root";
    WriteStore(kStore);
    ASSERT_TRUE(Commit("A", "pw-a"));
    ASSERT_TRUE(Apply());
    ASSERT_EQ(Published("A"), "pw-a");
    std::vector<std::string> named = Named();
    // Every folder and file open to the user, the secrets files excepted.
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root_)) {
        std::string path   = entry.path().string();
        bool        shared = entry.is_directory() || !path.ends_with("-secrets");
        ASSERT_TRUE(!shared || chmod(path.c_str(), entry.is_directory() ? 0777 : 0666) == 0);
    }

    {
        struct AsAnotherUser {
            AsAnotherUser()
            {
                VZFlushPlatformCaches();
                EXPECT_EQ(setegid(4321), 0);
                EXPECT_EQ(seteuid(4321), 0);
            }
            ~AsAnotherUser()
            {
                EXPECT_EQ(seteuid(0), 0);
                EXPECT_EQ(setegid(0), 0);
                VZFlushPlatformCaches();
            }
        } asAnotherUser;
        EXPECT_TRUE(Commit("A", "web", kSCPropNetPPPAuthName)) << SCError();
        EXPECT_TRUE(Apply()) << SCError();
        EXPECT_FALSE(Commit("A", "mine")); // a password it could not keep apart
        EXPECT_EQ(SCError(), kSCStatusAccessError);

        // B's password has never been published: it cannot be, by this user.
        Ref<SCPreferencesRef> prefs = Open();
        EXPECT_TRUE(SCPreferencesPathSetLink(prefs, CFSTR("/Sets/S/Network/Service/B"),
                                             CFSTR("/NetworkServices/B")) &&
                    SCPreferencesCommitChanges(prefs));
        std::string published = Read(kDynamicStorePath);
        EXPECT_FALSE(SCPreferencesApplyChanges(prefs));
        EXPECT_EQ(SCError(), kSCStatusAccessError);
        EXPECT_EQ(Read(kDynamicStorePath), published);
    }

    EXPECT_EQ(Named(), named); // the markers kept
    EXPECT_EQ(Seen("A"), "pw-a");
    EXPECT_EQ(Seen("B"), "inline-b");
    EXPECT_EQ(Published("A", "AuthName"), "web");
    EXPECT_EQ(Published("A"), "pw-a");
}

} // namespace
