// CommitFaultsTest.cpp: every system call of the commit path failed in turn,
// once and for good. A commit whose failure matters reports an error and
// leaves the old store; once the new store is in place (only the final folder
// sync failed, or a file that was only read could not be closed) the commit
// succeeds. Either way no temporary is left and nothing leaks. A commit that
// changes a password writes the secrets file too: whatever fails, the store
// shows the old password or the new one, and no file others may read holds
// either.
#include "StoreTestSupport.h"
#include "Syscalls.h"

#include <algorithm>
#include <unistd.h>

using namespace vztest;

namespace {

const char *const kOld = "<dict><key>Value</key><string>old</string></dict>";

class CommitFaults : public StoreTest {
  protected:
    // Commits Value=new through a fresh snapshot with the failure armed just
    // before the commit; true when the commit succeeded.
    bool CommitWithFailure(const char *name, long countdown, bool persist, int error, int *status,
                           long *injected = nullptr)
    {
        SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("t"), nullptr);
        EXPECT_NE(prefs, nullptr);
        if (prefs == nullptr) return true;
        EXPECT_TRUE(SCPreferencesSetValue(prefs, CFSTR("Value"), CFSTR("new")));
        bool ok;
        {
            SyscallFailure failure(name, countdown, persist, error);
            EXPECT_TRUE(failure.armed());
            ok      = SCPreferencesCommitChanges(prefs);
            *status = SCError();
            if (injected != nullptr) *injected = VZGetSyscallFailureCount();
            if (!ok) {
                EXPECT_GT(VZGetSyscallFailureCount(), 0);
            }
        }
        CFRelease(prefs);
        return ok;
    }

    // Runs the commit with the countdown-th call failing, for n = 0, 1, ...
    // until the commit makes fewer than n + 1 such calls (nothing failed);
    // returns how many runs failed.
    int WalkFailures(const char *name, bool persist, int error, int expectedStatus)
    {
        std::string oldBytes = PlistText(kOld);
        std::string where;
        int         failures = 0;
        // A failed unlink leaves a temporary behind, for the next commit to
        // remove under the lock.
        bool unlinkFails = persist && std::string(name) == "*";
        for (long n = 0; n < 200; n++) {
            where = std::string(name) + " failing at call " + std::to_string(n);
            WriteStore(kOld);
            VZFlushPlatformCaches();
            CFIndex live     = VZGetLiveObjectCount();
            int     status   = 0;
            long    injected = 0;
            bool    ok       = CommitWithFailure(name, n, persist, error, &status, &injected);
            VZFlushPlatformCaches();
            EXPECT_EQ(VZGetLiveObjectCount(), live) << where;
            if (!unlinkFails || ok) {
                EXPECT_EQ(Leftovers(), std::vector<std::string>()) << where;
            }
            Ref<CFPropertyListRef> tree = StoreTree();
            EXPECT_TRUE(tree) << where;
            std::string value =
                tree ? StringAt(static_cast<CFDictionaryRef>(tree.get()), "Value") : "(unreadable)";
            if (injected == 0) {
                EXPECT_TRUE(ok) << where;
                EXPECT_EQ(value, "new") << where;
                return failures;
            }
            if (ok) {
                EXPECT_EQ(value, "new") << where;
                continue;
            }
            failures++;
            EXPECT_EQ(status, expectedStatus) << where;
            // A commit that reports failure has left the old store.
            EXPECT_EQ(StoreBytes(), oldBytes) << where;
        }
        ADD_FAILURE() << name << ": more than 200 calls";
        return failures;
    }
};

TEST_F(CommitFaults, EveryCallFailedOnce)
{
    // The calls every commit makes must each be able to fail it.
    for (const char *name : {"open", "close", "read", "write", "fstat", "stat", "lstat", "fchown",
                             "fchmod", "fsync", "rename", "mkstemp", "flock"}) {
        SCOPED_TRACE(name);
        EXPECT_GT(WalkFailures(name, false, EIO, kSCStatusFailed), 0);
    }
    // The others (unlink and mkdir, for cleanup and missing folders) must at
    // least never break a commit they do not fail.
    for (const char *name : {"unlink", "mkdir"}) {
        SCOPED_TRACE(name);
        WalkFailures(name, false, EIO, kSCStatusFailed);
    }
    SCOPED_TRACE("any call");
    EXPECT_GT(WalkFailures("*", false, EIO, kSCStatusFailed), 5);
}

TEST_F(CommitFaults, EveryCallFailedForGood)
{
    for (const char *name : {"open", "write", "fsync", "rename", "mkstemp", "*"}) {
        SCOPED_TRACE(name);
        EXPECT_GT(WalkFailures(name, true, EACCES, kSCStatusAccessError), 0);
    }
}

TEST_F(CommitFaults, PasswordsSurviveEveryFailure)
{
    auto entity = [](const char *password) {
        return Ref<CFPropertyListRef>(CreatePlist(PlistText(
            std::string("<dict><key>AuthPassword</key><string>") + password + "</string></dict>")));
    };
    Ref<CFPropertyListRef> before = entity("old-password"), after = entity("new-password");
    for (bool persist : {false, true}) {
        long n = 0, injected = 0;
        do {
            ASSERT_LT(n, 300);
            std::string where =
                (persist ? "for good at call " : "once at call ") + std::to_string(n);
            WriteStore(kOld);
            std::filesystem::remove(Path(std::string(kStorePath) + "-secrets"));
            Ref<SCPreferencesRef> prefs = Open();
            ASSERT_TRUE(SCPreferencesSetValue(prefs, CFSTR("Entity"), before));
            ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
            ASSERT_TRUE(SCPreferencesSetValue(prefs, CFSTR("Entity"), after));
            bool ok = false;
            {
                SyscallFailure failure("*", n++, persist, EIO);
                ok       = SCPreferencesCommitChanges(prefs);
                injected = VZGetSyscallFailureCount();
            }
            VZFlushPlatformCaches();
            Ref<SCPreferencesRef> fresh = Open();
            CFTypeRef             seen  = SCPreferencesGetValue(fresh, CFSTR("Entity"));
            EXPECT_TRUE(seen != nullptr && CFEqual(seen, ok ? after.get() : before.get())) << where;
            for (const char *password : {"old-password", "new-password"})
                EXPECT_EQ(FilesOthersReadHolding(root_, password), std::vector<std::string>())
                    << where;
        } while (injected > 0);
        EXPECT_GT(n, 20) << "too few calls failed";
    }
}

TEST_F(CommitFaults, InterruptedWritesAreContinued)
{
    WriteStore(kOld);
    int status = 0;
    EXPECT_TRUE(CommitWithFailure("write", 0, false, EINTR, &status));
    EXPECT_EQ(StringAt(static_cast<CFDictionaryRef>(StoreTree().get()), "Value"), "new");
}

// A write that takes a few bytes at a time still writes them all.
ssize_t DribblingWrite(int fd, const void *buffer, size_t count)
{
    return ::write(fd, buffer, std::min<size_t>(count, 7));
}

TEST_F(CommitFaults, ShortWritesAreContinued)
{
    WriteStore(kOld);
    auto real                = vz::sys::gSyscalls.write;
    vz::sys::gSyscalls.write = DribblingWrite;
    int  status              = 0;
    bool ok                  = CommitWithFailure("write", 1000000, false, EIO, &status);
    vz::sys::gSyscalls.write = real;
    EXPECT_TRUE(ok);
    EXPECT_EQ(StringAt(static_cast<CFDictionaryRef>(StoreTree().get()), "Value"), "new");
}

TEST_F(CommitFaults, MissingFoldersAreMadeOrTheCommitFails)
{
    int failures = 0;
    for (long n = 0; n < 20; n++) {
        std::filesystem::remove_all(Path("Library"));
        int  status = 0;
        bool ok     = CommitWithFailure("mkdir", n, false, EIO, &status);
        if (ok) break;
        failures++;
        EXPECT_EQ(status, kSCStatusFailed);
        EXPECT_FALSE(Exists(kStorePath));
    }
    EXPECT_EQ(failures, 3); // Library, Preferences, SystemConfiguration
    EXPECT_EQ(StringAt(static_cast<CFDictionaryRef>(StoreTree().get()), "Value"), "new");
}

// When the rename over the store worked and only syncing its folder failed,
// the commit has happened: it says so, and the snapshot goes on from the new
// file, so a caller never applies its edits twice.
TEST_F(CommitFaults, FailedFolderSyncAfterTheRenameIsACommit)
{
    WriteStore(kOld);
    Ref<SCPreferencesRef> prefs = Open();
    ASSERT_TRUE(SCPreferencesSetValue(prefs, CFSTR("Value"), CFSTR("new")));
    {
        SyscallFailure failure("fsync", 1, false, EIO); // the store's fsync, then the folder's
        ASSERT_TRUE(SCPreferencesCommitChanges(prefs)) << SCError();
        EXPECT_EQ(VZGetSyscallFailureCount(), 1);
    }
    EXPECT_EQ(StringAt(static_cast<CFDictionaryRef>(StoreTree().get()), "Value"), "new");
    ASSERT_TRUE(SCPreferencesSetValue(prefs, CFSTR("Second"), CFSTR("edit")));
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs)) << SCError();
    EXPECT_EQ(StringAt(static_cast<CFDictionaryRef>(StoreTree().get()), "Second"), "edit");
}

} // namespace
