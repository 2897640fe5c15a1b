// PreferencesCommitTest.cpp: what a commit writes and when it refuses: no
// write without a change, modes and folders, the lock and its busy status,
// stale snapshots, and a snapshot whose write failed.
#include "StoreTestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

using namespace vztest;

namespace {

const char *const kStore = "<dict><key>Counter</key><string>0</string></dict>";

class PreferencesCommit : public StoreTest {
  protected:
    static bool SetCounter(SCPreferencesRef prefs, const char *value)
    {
        return SCPreferencesSetValue(prefs, CFSTR("Counter"), Str(value));
    }
    std::string StoredCounter() const
    {
        Ref<CFPropertyListRef> tree = StoreTree();
        if (!tree) return "(unreadable)";
        return StringAt(static_cast<CFDictionaryRef>(tree.get()), "Counter");
    }
};

TEST_F(PreferencesCommit, NothingChangedWritesNothing)
{
    // No store at all: committing an untouched snapshot makes none.
    {
        Ref<SCPreferencesRef> prefs = Open();
        EXPECT_TRUE(SCPreferencesCommitChanges(prefs));
        EXPECT_FALSE(Exists(kStorePath));
    }
    WriteStore(kStore);
    struct stat           before  = StatStore();
    long                  renames = VZGetSyscallCallCount("rename");
    Ref<SCPreferencesRef> prefs   = Open();
    ASSERT_NE(SCPreferencesGetValue(prefs, CFSTR("Counter")), nullptr);
    EXPECT_TRUE(SCPreferencesCommitChanges(prefs));
    EXPECT_EQ(VZGetSyscallCallCount("rename"), renames);
    struct stat after = StatStore();
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    // A commit that wrote clears the change: the next commit writes nothing.
    ASSERT_TRUE(SetCounter(prefs, "1"));
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    renames = VZGetSyscallCallCount("rename");
    EXPECT_TRUE(SCPreferencesCommitChanges(prefs));
    EXPECT_EQ(VZGetSyscallCallCount("rename"), renames);
}

TEST_F(PreferencesCommit, ModeIsKeptAndFoldersAreMade)
{
    struct KeptUmask {
        mode_t old = umask(077);
        ~KeptUmask() { umask(old); }
    } keptUmask; // the tests after this one run with the umask they started with
    {
        Ref<SCPreferencesRef> prefs = Open(); // no folders, no store
        ASSERT_TRUE(SetCounter(prefs, "new"));
        ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    }
    EXPECT_EQ(StatStore().st_mode & 07777, 0644u);
    EXPECT_EQ(StoredCounter(), "new");

    ASSERT_EQ(chmod(Path(kStorePath).c_str(), 0600), 0);
    {
        Ref<SCPreferencesRef> prefs = Open();
        ASSERT_TRUE(SetCounter(prefs, "kept"));
        ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    }
    EXPECT_EQ(StatStore().st_mode & 07777, 0600u);
    EXPECT_EQ(StoredCounter(), "kept");
    EXPECT_EQ(Leftovers(), std::vector<std::string>());
}

TEST_F(PreferencesCommit, SecondWriterWinsAndTheFirstIsRefused)
{
    WriteStore(kStore);
    Ref<SCPreferencesRef> first  = Open();
    Ref<SCPreferencesRef> second = Open();
    ASSERT_TRUE(SetCounter(first, "first"));
    ASSERT_TRUE(SetCounter(second, "second"));
    ASSERT_TRUE(SCPreferencesCommitChanges(second));

    EXPECT_FALSE(SCPreferencesLock(first, false));
    EXPECT_EQ(SCError(), kSCStatusStale);
    EXPECT_FALSE(SCPreferencesLock(first, true));
    EXPECT_EQ(SCError(), kSCStatusStale);
    EXPECT_FALSE(SCPreferencesCommitChanges(first));
    EXPECT_EQ(SCError(), kSCStatusStale);
    EXPECT_EQ(StoredCounter(), "second");

    // The refused lock was not kept: the winner can lock again.
    EXPECT_TRUE(SCPreferencesLock(second, false));
    EXPECT_TRUE(SCPreferencesUnlock(second));
    // And the winner may go on writing through its snapshot.
    ASSERT_TRUE(SetCounter(second, "again"));
    EXPECT_TRUE(SCPreferencesCommitChanges(second));
    EXPECT_EQ(StoredCounter(), "again");
}

TEST_F(PreferencesCommit, LockIsExclusiveAndBusyWithoutWaiting)
{
    WriteStore(kStore);
    // The other process is forked before the lock is taken: a child forked
    // while the lock is held would share the lock's open description and
    // hold it too.
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t child = fork();
    if (child == 0) {
        char             byte = 0;
        bool             ok   = read(ready[0], &byte, 1) == 1;
        SCPreferencesRef mine = SCPreferencesCreate(nullptr, CFSTR("child"), nullptr);
        ok                    = ok && mine != nullptr && !SCPreferencesLock(mine, false) &&
             SCError() == kSCStatusPrefsBusy;
        ok = ok && write(done[1], "b", 1) == 1;
        // Waits for the holder to let go; by then the store has changed, so
        // the snapshot taken before is refused as stale, and the lock with it.
        ok = ok && !SCPreferencesLock(mine, true) && SCError() == kSCStatusStale;
        _exit(ok ? 0 : 1);
    }
    Ref<SCPreferencesRef> holder = Open();
    Ref<SCPreferencesRef> other  = Open();
    ASSERT_TRUE(SCPreferencesLock(holder, false));
    EXPECT_FALSE(SCPreferencesLock(holder, false));
    EXPECT_EQ(SCError(), kSCStatusLocked);
    EXPECT_FALSE(SCPreferencesLock(other, false));
    EXPECT_EQ(SCError(), kSCStatusPrefsBusy);

    char byte = 0;
    ASSERT_EQ(write(ready[1], "r", 1), 1);
    ASSERT_EQ(read(done[0], &byte, 1), 1); // the child found the lock busy
    ASSERT_TRUE(SetCounter(holder, "held"));
    ASSERT_TRUE(SCPreferencesCommitChanges(holder)); // under the caller's lock
    ASSERT_TRUE(SCPreferencesUnlock(holder));
    EXPECT_FALSE(SCPreferencesUnlock(holder));
    EXPECT_EQ(SCError(), kSCStatusNeedLock);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(StoredCounter(), "held");
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        close(fd);
}

// A lock file that is a symbolic link is refused: a link planted beside the
// store cannot make a writer create, or lock, a file elsewhere.
TEST_F(PreferencesCommit, LockFileThatIsALinkIsRefused)
{
    WriteStore(kStore);
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path(std::string(kStorePath) + "-lock").c_str()),
              0);
    Ref<SCPreferencesRef> prefs = Open();
    EXPECT_FALSE(SCPreferencesLock(prefs, false));
    EXPECT_EQ(SCError(), kSCStatusFailed);
    ASSERT_TRUE(SetCounter(prefs, "changed"));
    EXPECT_FALSE(SCPreferencesCommitChanges(prefs));
    EXPECT_FALSE(Exists("elsewhere"));
    EXPECT_NE(StoredCounter(), "changed");
}

TEST_F(PreferencesCommit, FailedWriteLeavesTheSnapshotUntrusted)
{
    WriteStore(kStore);
    std::string           stored = StoreBytes();
    Ref<SCPreferencesRef> prefs  = Open();
    ASSERT_TRUE(SetCounter(prefs, "lost"));
    {
        SyscallFailure full("write", 0, false, ENOSPC);
        EXPECT_FALSE(SCPreferencesCommitChanges(prefs));
        EXPECT_EQ(SCError(), kSCStatusFailed);
    }
    EXPECT_EQ(StoreBytes(), stored);
    // The write path works again, but this snapshot may not use it.
    EXPECT_FALSE(SCPreferencesCommitChanges(prefs));
    EXPECT_EQ(SCError(), kSCStatusStale);
    EXPECT_FALSE(SCPreferencesLock(prefs, false));
    EXPECT_EQ(SCError(), kSCStatusStale);
    EXPECT_EQ(StoreBytes(), stored);

    Ref<SCPreferencesRef> fresh = Open();
    ASSERT_TRUE(SetCounter(fresh, "fresh"));
    EXPECT_TRUE(SCPreferencesCommitChanges(fresh));
    EXPECT_EQ(StoredCounter(), "fresh");
}

TEST_F(PreferencesCommit, AccessErrorsAndUnwritableTrees)
{
    WriteStore(kStore);
    std::string           stored = StoreBytes();
    Ref<SCPreferencesRef> prefs  = Open();
    ASSERT_TRUE(SetCounter(prefs, "x"));
    {
        SyscallFailure refused("mkstemp", 0, false, EACCES);
        EXPECT_FALSE(SCPreferencesCommitChanges(prefs));
        EXPECT_EQ(SCError(), kSCStatusAccessError);
    }
    EXPECT_EQ(StoreBytes(), stored);

    // A value XML cannot carry is refused before anything is written.
    Ref<SCPreferencesRef> other = Open();
    ASSERT_TRUE(SCPreferencesSetValue(other, CFSTR("Counter"), Str("bell \a")));
    EXPECT_FALSE(SCPreferencesCommitChanges(other));
    EXPECT_EQ(SCError(), kSCStatusFailed);
    EXPECT_EQ(StoreBytes(), stored);
}

TEST_F(PreferencesCommit, LeftoverTemporariesAreRemovedUnderTheLock)
{
    WriteStore(kStore);
    Write(std::string(kStoreFolder) + "/preferences.plist.tmp-Ab12Cd", "half a store");
    Write(std::string(kStoreFolder) + "/preferences.plist.backup", "a person's copy");
    Ref<SCPreferencesRef> prefs = Open();
    ASSERT_TRUE(SetCounter(prefs, "1"));
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"preferences.plist.backup"});
}

} // namespace
