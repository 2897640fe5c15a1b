// DamagedStoreTest.cpp: a store file that exists but cannot be read or parsed
// makes the snapshot fail with the right status, and nothing is ever written
// over it; the same for the dynamic store and the agent reading the store.
#include "StoreTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

using namespace vztest;

namespace {

const char *const kGoodStore =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
    "\t<key>CurrentSet</key>\n\t<string>/Sets/S1</string>\n</dict>\n</plist>\n";

struct Damage {
    const char *what;
    std::string bytes; // written as the store; empty with folder set
    bool        folder = false;
};

std::vector<Damage> Damages()
{
    std::string good = kGoodStore;
    return {
        {"truncated", good.substr(0, good.size() / 2)},
        {"empty file", ""},
        {"not a property list", "CurrentSet = /Sets/S1\n"},
        {"an array at the top", PlistText("<array><string>x</string></array>")},
        {"a string at the top", PlistText("<string>x</string>")},
        {"binary noise", std::string("\x00\xff\xfe\x01 plist", 10)},
        {"a folder where the file should be", "", true},
    };
}

class DamagedStore : public StoreTest {
  protected:
    void Lay(const std::string &relative, const Damage &damage) const
    {
        if (damage.folder) {
            Write(relative + "/inside", "x");
        } else {
            Write(relative, damage.bytes);
        }
    }
};

TEST_F(DamagedStore, SnapshotFailsAndNothingIsWritten)
{
    for (const Damage &damage : Damages()) {
        SCOPED_TRACE(damage.what);
        Lay(kStorePath, damage);
        std::string before = damage.folder ? "" : StoreBytes();
        EXPECT_EQ(SCPreferencesCreate(nullptr, CFSTR("t"), nullptr), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
        if (!damage.folder) {
            EXPECT_EQ(StoreBytes(), before);
        }
        EXPECT_EQ(Leftovers(), std::vector<std::string>());
        std::filesystem::remove_all(Path(kStorePath));
    }
}

TEST_F(DamagedStore, UnreadableStoreIsAnAccessError)
{
    Write(kStorePath, kGoodStore);
    {
        SyscallFailure refused("open", 0, false, EACCES);
        EXPECT_EQ(SCPreferencesCreate(nullptr, CFSTR("t"), nullptr), nullptr);
        EXPECT_EQ(SCError(), kSCStatusAccessError);
    }
    {
        SyscallFailure broken("read", 0, false, EIO);
        EXPECT_EQ(SCPreferencesCreate(nullptr, CFSTR("t"), nullptr), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
    }
    // The real thing, where permissions apply (not to the superuser).
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(Path(kStorePath).c_str(), 0), 0);
        EXPECT_EQ(SCPreferencesCreate(nullptr, CFSTR("t"), nullptr), nullptr);
        EXPECT_EQ(SCError(), kSCStatusAccessError);
        ASSERT_EQ(chmod(Path(kStorePath).c_str(), 0644), 0);
    }
    EXPECT_EQ(StoreBytes(), kGoodStore);
}

TEST_F(DamagedStore, DynamicStoreIsNeverWrittenOver)
{
    Ref<SCDynamicStoreRef> store(SCDynamicStoreCreate(nullptr, CFSTR("t"), nullptr, nullptr));
    ASSERT_TRUE(store);
    for (const Damage &damage : Damages()) {
        SCOPED_TRACE(damage.what);
        Lay(kDynamicStorePath, damage);
        std::string before = damage.folder ? "" : Read(kDynamicStorePath);
        EXPECT_EQ(SCDynamicStoreCopyValue(store, CFSTR("State:/x")), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_EQ(SCDynamicStoreCopyKeyList(store, CFSTR(".*")), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_FALSE(SCDynamicStoreSetValue(store, CFSTR("State:/x"), CFSTR("v")));
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_FALSE(SCDynamicStoreRemoveValue(store, CFSTR("State:/x")));
        if (!damage.folder) {
            EXPECT_EQ(Read(kDynamicStorePath), before);
        }
        std::filesystem::remove_all(Path(kDynamicStorePath));
    }
}

// A committed store that the agent cannot make sense of leaves the running
// configuration as it was.
TEST_F(DamagedStore, ApplyLeavesTheDynamicStoreAlone)
{
    WriteDynamicStore("<dict><key>Setup:/Network/Global/IPv4</key><dict/></dict>");
    std::string       published     = Read(kDynamicStorePath);
    const char *const currentSets[] = {
        "<key>CurrentSet</key><integer>1</integer>",
        "<key>CurrentSet</key><string>not a path</string>",
    };
    for (const char *currentSet : currentSets) {
        SCOPED_TRACE(currentSet);
        WriteStore(std::string("<dict>") + currentSet + "<key>Sets</key><dict/></dict>");
        Ref<SCPreferencesRef> prefs = Open();
        EXPECT_FALSE(SCPreferencesApplyChanges(prefs));
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_EQ(Read(kDynamicStorePath), published);
    }
}

} // namespace
