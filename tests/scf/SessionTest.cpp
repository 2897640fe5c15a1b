// SessionTest.cpp: the preferences session: nesting, commit-then-apply at
// the outermost close, failed opens and commits, the lock, the client name,
// and the assertions on misuse.
#include "Internal.h"
#include "StoreText.h"
#include "VaviVAZ.h"

#include "TestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

using storetext::Store;
using vztest::Str;

namespace {

class Session : public vztest::TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        Write(kStorePath, Store({{"A", "en0"}, {"M", "ZORVEXMobile-Modem"}}));
    }

    // Marks a change in the open bracket's snapshot.
    static void Change()
    {
        ASSERT_TRUE(
            SCPreferencesSetValue(MoreSCGetSCPreferencesRef(), Str("VZTestMark"), Str("changed")));
    }

    bool StoreHasChange() const { return Read(kStorePath).find("VZTestMark") != std::string::npos; }

    // Whether the running system was handed a configuration: the set's global
    // IPv4 entity appears in the Setup: domain.
    static bool Applied()
    {
        SCDynamicStoreRef store = SCDynamicStoreCreate(NULL, Str("test"), NULL, NULL);
        if (store == NULL) return false;
        CFPropertyListRef value = SCDynamicStoreCopyValue(store, Str("Setup:/Network/Global/IPv4"));
        bool              found = (value != NULL);
        if (value != NULL) CFRelease(value);
        CFRelease(store);
        return found;
    }
};

TEST_F(Session, NestedBracketsShareOneSnapshotAndCommitAtTheOutermostClose)
{
    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    SCPreferencesRef prefs = MoreSCGetSCPreferencesRef();

    OSStatus inner = MoreSCOpen(false, false);
    ASSERT_EQ(inner, noErr);
    EXPECT_EQ(MoreSCGetSCPreferencesRef(), prefs);
    Change();
    MoreSCClose(&inner, true);
    EXPECT_EQ(inner, noErr);
    EXPECT_EQ(MoreSCGetSCPreferencesRef(), prefs);
    EXPECT_FALSE(StoreHasChange()) << "an inner close must not commit";
    EXPECT_FALSE(Applied());

    MoreSCClose(&outer, false);
    EXPECT_EQ(outer, noErr);
    EXPECT_TRUE(StoreHasChange());
    EXPECT_TRUE(Applied());
}

TEST_F(Session, ReaderBracketsNeverCommit)
{
    std::string before = Read(kStorePath);
    OSStatus    err    = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    Change();
    MoreSCClose(&err, false);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(Read(kStorePath), before);
    EXPECT_FALSE(Applied());
}

TEST_F(Session, InnerWriterIsKeptWhenTheOuterCallerFails)
{
    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    OSStatus inner = MoreSCOpen(false, false);
    ASSERT_EQ(inner, noErr);
    Change();
    MoreSCClose(&inner, true);

    outer = -50;
    MoreSCClose(&outer, false);
    EXPECT_EQ(outer, -50) << "the outer caller's own error is what it sees";
    EXPECT_TRUE(StoreHasChange());
    EXPECT_TRUE(Applied());
}

TEST_F(Session, FailedOutermostWriterCommitsNothing)
{
    std::string before = Read(kStorePath);
    OSStatus    err    = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    Change();
    err = -50;
    MoreSCClose(&err, true);
    EXPECT_EQ(err, -50);
    EXPECT_EQ(Read(kStorePath), before);
    EXPECT_FALSE(Applied());
}

TEST_F(Session, AbandonedBracketPutsBackKeptChangesAndCommitsNothing)
{
    std::string before = Read(kStorePath);
    OSStatus    outer  = MoreSCOpen(true, false);
    ASSERT_EQ(outer, noErr);
    OSStatus inner = MoreSCOpen(false, false);
    ASSERT_EQ(inner, noErr);
    Change();
    MoreSCClose(&inner, true); // a writer that succeeded: kept for the commit
    EXPECT_EQ(MoreSCAbandon(), noErr);
    EXPECT_EQ(SCPreferencesGetValue(MoreSCGetSCPreferencesRef(), Str("VZTestMark")), nullptr);

    // The bracket goes on as though just opened: a failed writer leaves
    // nothing, and the close commits and applies nothing.
    inner = MoreSCOpen(false, false);
    Change();
    inner = -50;
    MoreSCClose(&inner, true);
    outer = -50;
    MoreSCClose(&outer, false);
    EXPECT_EQ(outer, -50);
    EXPECT_EQ(Read(kStorePath), before);
    EXPECT_FALSE(Applied());
}

TEST_F(Session, CommitFailureReachesErrAndApplyIsNotTried)
{
    OSStatus err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    Change();
    // Another writer replaces the store under the open snapshot: committing
    // the snapshot would lose that writer's change.
    std::string theirs = Store({{"B", "en1"}});
    Write(kStorePath, theirs);
    MoreSCClose(&err, true);
    EXPECT_EQ(err, kSCStatusStale);
    EXPECT_EQ(Read(kStorePath), theirs);
    EXPECT_FALSE(Applied());

    // The failed commit is not retried by a later bracket.
    err = MoreSCOpen(false, false);
    MoreSCClose(&err, false);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(Read(kStorePath), theirs);

    // The store's file cannot be replaced: the platform's status is passed on.
    err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    Change();
    ASSERT_TRUE(VZArmSyscallFailure("rename", 0, true, EACCES));
    MoreSCClose(&err, true);
    VZClearSyscallFailure();
    EXPECT_EQ(err, kSCStatusAccessError);
    EXPECT_EQ(Read(kStorePath), theirs);
    EXPECT_FALSE(Applied());
}

TEST_F(Session, ApplyFailureIsReportedAfterTheCommit)
{
    // The dynamic store's folder is a file: nothing can be published.
    Write("var/run/SystemConfiguration", "not a folder");
    OSStatus err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    Change();
    MoreSCClose(&err, true);
    EXPECT_NE(err, noErr);
    EXPECT_TRUE(StoreHasChange());
}

TEST_F(Session, FailedOutermostOpenIsClosedLikeAnyOther)
{
    Write(kStorePath, "<plist><dict><key>CurrentSet</key>");
    OSStatus err = MoreSCOpen(false, false);
    EXPECT_EQ(err, kSCStatusFailed);
    MoreSCClose(&err, false);
    EXPECT_EQ(err, kSCStatusFailed);

    // Depth is back to 0: the next open takes a fresh snapshot.
    Write(kStorePath, Store({{"A", "en0"}}));
    err = MoreSCOpen(false, false);
    EXPECT_EQ(err, noErr);
    MoreSCClose(&err, false);
    EXPECT_EQ(err, noErr);
}

TEST_F(Session, LockIsHeldUntilTheOutermostClose)
{
    SCPreferencesRef other = SCPreferencesCreate(NULL, Str("other"), NULL);
    ASSERT_NE(other, nullptr);
    auto otherCanLock = [&] {
        bool locked = SCPreferencesLock(other, false);
        if (locked) {
            EXPECT_TRUE(SCPreferencesUnlock(other));
        }
        return locked;
    };

    // Taken by the outer open.
    OSStatus outer = MoreSCOpen(true, false);
    ASSERT_EQ(outer, noErr);
    OSStatus inner = MoreSCOpen(false, false);
    EXPECT_EQ(inner, noErr);
    MoreSCClose(&inner, false);
    EXPECT_FALSE(otherCanLock());
    EXPECT_EQ(SCError(), kSCStatusPrefsBusy);
    MoreSCClose(&outer, false);
    EXPECT_TRUE(otherCanLock());

    // Taken by a nested open: still held after the inner close.
    outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    inner = MoreSCOpen(true, false);
    EXPECT_EQ(inner, noErr);
    MoreSCClose(&inner, false);
    EXPECT_FALSE(otherCanLock());
    MoreSCClose(&outer, false);
    EXPECT_TRUE(otherCanLock());

    // Held elsewhere: the open fails but the bracket must still be closed.
    ASSERT_TRUE(SCPreferencesLock(other, false));
    outer = MoreSCOpen(true, false);
    EXPECT_EQ(outer, kSCStatusPrefsBusy);
    MoreSCClose(&outer, false);
    EXPECT_EQ(outer, kSCStatusPrefsBusy);
    EXPECT_TRUE(SCPreferencesUnlock(other));
    CFRelease(other);
}

// The name the open preferences object was made with, as its description
// shows it.
bool OpenedUnder(const char *name)
{
    OSStatus err = MoreSCOpen(false, false);
    EXPECT_EQ(err, noErr);
    CFStringRef description = CFCopyDescription(MoreSCGetSCPreferencesRef());
    bool        found       = vztest::Utf8(description).find(name) != std::string::npos;
    CFRelease(description);
    MoreSCClose(&err, false);
    return found;
}

TEST_F(Session, ClientNameIsHeldUntilReplaced)
{
    EXPECT_EQ(MoreSCGetClient(), nullptr);
    EXPECT_TRUE(OpenedUnder("VaviVAZ"));

    CFStringRef name = CFStringCreateWithCString(NULL, "status monitor", kCFStringEncodingUTF8);
    EXPECT_EQ(MoreSCSetClient(name), noErr);
    EXPECT_EQ(MoreSCGetClient(), name);
    CFIndex held = CFGetRetainCount(name);
    // Setting the name already held must not drop it.
    EXPECT_EQ(MoreSCSetClient(name), noErr);
    EXPECT_EQ(CFGetRetainCount(name), held);

    EXPECT_TRUE(OpenedUnder("status monitor"));

    EXPECT_EQ(MoreSCSetClient(NULL), noErr);
    EXPECT_EQ(MoreSCGetClient(), nullptr);
    EXPECT_EQ(CFGetRetainCount(name), held - 1);
    CFRelease(name);
}

TEST_F(Session, PlatformFailuresBecomeErrorCodes)
{
    EXPECT_EQ(MoreSCErrorBoolean(true), noErr);
    // The platform's last status is per thread: a new one has none yet.
    OSStatus withoutStatus = noErr;
    std::thread([&] { withoutStatus = MoreSCErrorBoolean(false); }).join();
    EXPECT_EQ(withoutStatus, kSCStatusFailed);
    EXPECT_EQ(MoreSCError(CFSTR("object")), noErr);

    OSStatus err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(SCPreferencesPathGetValue(MoreSCGetSCPreferencesRef(), Str("/Nothing/Here")),
              nullptr);
    EXPECT_EQ(MoreSCError(NULL), kSCStatusNoKey);
    EXPECT_EQ(MoreSCErrorBoolean(false), kSCStatusNoKey);
    MoreSCClose(&err, false);
    EXPECT_EQ(MoreSCToOSStatus(kSCStatusStale), kSCStatusStale);
}

// Death tests need no root: a child that dies would leave its root behind.
TEST(SessionDeathTest, MisuseStopsTheProcess)
{
    struct Case {
        const char *expression;
        void (*misuse)();
    };
    static const Case kCases[] = {
        {"!waitForLock || lockThePrefs", [] { (void)MoreSCOpen(false, true); }},
        {"err != NULL", [] { MoreSCClose(NULL, false); }},
        {"gPrefsOpenCount > 0",
         [] {
             OSStatus err = noErr;
             MoreSCClose(&err, false);
         }},
        {"gPrefsRef != NULL", [] { (void)MoreSCGetSCPreferencesRef(); }},
        // Only the outermost bracket can be abandoned, with nothing inside it.
        {"gPrefsOpenCount == 1", [] { (void)MoreSCAbandon(); }},
        // A session whose state is broken twice over: the object rule is
        // checked before the rules of the flags.
        {"(gPrefsOpenCount == 0) == (gPrefsRef == NULL)",
         [] {
             gPrefsRef = reinterpret_cast<SCPreferencesRef>(
                 const_cast<void *>(static_cast<const void *>(CFSTR("not opened"))));
             gPrefsDirty = true;
             (void)MoreSCOpen(false, false);
         }},
        {"gPrefsOpenCount > 0 && gPrefsRef != NULL",
         [] {
             CFStringRef path = NULL;
             (void)CopySetPath(NULL, &path);
         }},
    };
    for (const Case &c : kCases) {
        EXPECT_DEATH(c.misuse(), vztest::AssertionPattern(c.expression)) << c.expression;
    }
}

// An outermost open that fails: no object can be made.
void FailOutermostOpen()
{
    setenv("VAVIVAZ_ROOT", "/nonexistent/vz-root", 1);
    // One bracket that works first, so that the constants it uses exist.
    OSStatus err = MoreSCOpen(false, false);
    MoreSCClose(&err, false);
    VZArmAllocationFailure(0, true);
    if (MoreSCOpen(false, false) == noErr) std::abort();
    VZClearAllocationFailure();
}

TEST(SessionDeathTest, UsingABracketWhoseOpenFailedStopsTheProcess)
{
    // Opening again inside it.
    EXPECT_DEATH(
        {
            FailOutermostOpen();
            (void)MoreSCOpen(false, false);
        },
        vztest::AssertionPattern("(gPrefsOpenCount == 0) == (gPrefsRef == NULL)"));
    // Closing it as though the open had succeeded.
    EXPECT_DEATH(
        {
            OSStatus err = noErr;
            FailOutermostOpen();
            MoreSCClose(&err, false);
        },
        vztest::AssertionPattern("((gPrefsOpenCount == 1) && (*err != noErr) && (gPrefsRef == "
                                 "NULL)) || (gPrefsRef != NULL)"));
}

} // namespace
