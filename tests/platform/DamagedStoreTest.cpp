// DamagedStoreTest.cpp: a store file that exists but cannot be read or parsed
// (or is not a regular file of at most 64 MiB) makes the snapshot fail with
// the right status, and nothing is ever written over it; the same for the
// dynamic store and the agent reading the store.
#include "StoreTestSupport.h"

#include <VZPlatformTools.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vztest;

namespace {

const char *const kGoodStore =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
    "\t<key>CurrentSet</key>\n\t<string>/Sets/S1</string>\n</dict>\n</plist>\n";

enum class Lay { Bytes, Folder, Oversized, Fifo, DeviceLink };

struct Damage {
    const char *what;
    std::string bytes; // written as the store when laid as Bytes
    Lay         lay = Lay::Bytes;
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
        {"a folder where the file should be", "", Lay::Folder},
        {"a file larger than the platform reads", "", Lay::Oversized},
        {"a FIFO", "", Lay::Fifo},
        {"a link to /dev/zero", "", Lay::DeviceLink},
    };
}

class DamagedStore : public StoreTest {
  protected:
    void Place(const std::string &relative, const Damage &damage) const
    {
        std::string path = Path(relative);
        switch (damage.lay) {
        case Lay::Bytes:
            return Write(relative, damage.bytes);
        case Lay::Folder:
            return Write(relative + "/inside", "x");
        case Lay::Oversized:
            // Sparse: it claims the size without taking the disk.
            Write(relative, "");
            ASSERT_EQ(truncate(path.c_str(), kVZMaxFileBytes + 1), 0);
            return;
        case Lay::Fifo:
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
            return;
        case Lay::DeviceLink:
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0);
            return;
        }
    }
    // What the file holds, for the kinds that hold bytes to compare.
    std::string Held(const std::string &relative, const Damage &damage) const
    {
        return damage.lay == Lay::Bytes ? Read(relative) : std::string();
    }
};

TEST_F(DamagedStore, SnapshotFailsAndNothingIsWritten)
{
    for (const Damage &damage : Damages()) {
        SCOPED_TRACE(damage.what);
        Place(kStorePath, damage);
        std::string before = Held(kStorePath, damage);
        EXPECT_EQ(SCPreferencesCreate(nullptr, CFSTR("t"), nullptr), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_EQ(Held(kStorePath, damage), before);
        EXPECT_EQ(Leftovers(), std::vector<std::string>());
        std::filesystem::remove_all(Path(kStorePath));
    }
}

// What the platform must not read whole is refused before a byte of it is
// read: a sparse file can claim any size, /dev/zero never ends and a FIFO
// blocks.
TEST_F(DamagedStore, WhatCannotBeReadWholeIsRefusedUnread)
{
    for (const Damage &damage : Damages()) {
        if (damage.lay == Lay::Bytes || damage.lay == Lay::Folder) continue;
        SCOPED_TRACE(damage.what);
        Place(kStorePath, damage);
        long reads = VZGetSyscallCallCount("read");
        EXPECT_EQ(SCPreferencesCreate(nullptr, CFSTR("t"), nullptr), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_EQ(VZGetSyscallCallCount("read"), reads);
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
        Place(kDynamicStorePath, damage);
        std::string before = Held(kDynamicStorePath, damage);
        EXPECT_EQ(SCDynamicStoreCopyValue(store, CFSTR("State:/x")), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_EQ(SCDynamicStoreCopyKeyList(store, CFSTR(".*")), nullptr);
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_FALSE(SCDynamicStoreSetValue(store, CFSTR("State:/x"), CFSTR("v")));
        EXPECT_EQ(SCError(), kSCStatusFailed);
        EXPECT_FALSE(SCDynamicStoreRemoveValue(store, CFSTR("State:/x")));
        EXPECT_EQ(Held(kDynamicStorePath, damage), before);
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
