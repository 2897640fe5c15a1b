// PreferencesMarksTest.cpp: restore points in a snapshot's edits: nested
// marks put back exactly the edits made since them, values handed out before
// stay as they were, the store is written only when the tree differs from
// it, and a restore that cannot finish makes the snapshot refuse to write.
#include "StoreTestSupport.h"

using namespace vztest;

namespace {

const char *const kStore =
    "<dict><key>CurrentSet</key><string>/Sets/S1</string>"
    "<key>Other</key><string>kept</string>"
    "<key>Sets</key><dict><key>S1</key><dict><key>Name</key><string>Home</string>"
    "<key>Network</key><dict><key>Service</key><dict/></dict></dict></dict></dict>";

class PreferencesMarks : public StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        WriteStore(kStore);
    }

    // A copy of everything the snapshot holds now.
    static Ref<CFPropertyListRef> Everything(SCPreferencesRef prefs)
    {
        return Ref<CFPropertyListRef>(CFPropertyListCreateDeepCopy(
            nullptr, SCPreferencesPathGetValue(prefs, CFSTR("/")), kCFPropertyListImmutable));
    }

    // Edits of every kind, each followed by a read that hands out what it
    // changed, so that the restore meets values it may not change in place.
    static void EditEverything(SCPreferencesRef prefs, const char *name)
    {
        Ref<CFStringRef>     text(CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8));
        Ref<CFDictionaryRef> entity(CFDictionaryCreate(nullptr, nullptr, nullptr, 0,
                                                       &kCFTypeDictionaryKeyCallBacks,
                                                       &kCFTypeDictionaryValueCallBacks));
        ASSERT_TRUE(SCPreferencesSetValue(prefs, CFSTR("CurrentSet"), text));
        ASSERT_TRUE(
            SCPreferencesPathSetValue(prefs, CFSTR("/Sets/S1/Network/Global/IPv4"), entity));
        ASSERT_NE(SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1/Network")), nullptr);
        ASSERT_TRUE(SCPreferencesPathSetLink(prefs, CFSTR("/Sets/S1/Network/Service/X"),
                                             CFSTR("/NetworkServices/X")));
        Ref<CFStringRef> child(
            SCPreferencesPathCreateUniqueChild(prefs, CFSTR("/NetworkServices")));
        ASSERT_TRUE(child);
        ASSERT_NE(SCPreferencesGetValue(prefs, CFSTR("NetworkServices")), nullptr);
        if (SCPreferencesGetValue(prefs, CFSTR("Other")) != nullptr) {
            ASSERT_TRUE(SCPreferencesRemoveValue(prefs, CFSTR("Other")));
        }
        ASSERT_TRUE(SCPreferencesPathRemoveValue(prefs, CFSTR("/Sets/S1/Network/Global")));
    }
};

TEST_F(PreferencesMarks, NestedMarksPutBackTheEditsMadeSinceThem)
{
    Ref<SCPreferencesRef>  prefs    = Open();
    Ref<CFPropertyListRef> original = Everything(prefs);
    CFDictionaryRef        borrowed = SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1"));
    Ref<CFPropertyListRef> borrowedCopy(
        CFPropertyListCreateDeepCopy(nullptr, borrowed, kCFPropertyListImmutable));

    ASSERT_TRUE(VZPreferencesPushMark(prefs));
    EditEverything(prefs, "/Sets/outer");
    Ref<CFPropertyListRef> outer = Everything(prefs);
    ASSERT_TRUE(VZPreferencesPushMark(prefs));
    EditEverything(prefs, "/Sets/inner");
    ASSERT_TRUE(VZPreferencesPopMark(prefs, true));
    EXPECT_TRUE(CFEqual(Everything(prefs), outer));

    // Kept by the inner mark, the edits belong to the outer one.
    ASSERT_TRUE(VZPreferencesPushMark(prefs));
    EditEverything(prefs, "/Sets/kept");
    ASSERT_TRUE(VZPreferencesPopMark(prefs, false));
    EXPECT_FALSE(CFEqual(Everything(prefs), outer));
    ASSERT_TRUE(VZPreferencesPopMark(prefs, true));
    EXPECT_TRUE(CFEqual(Everything(prefs), original));
    EXPECT_TRUE(CFEqual(borrowed, borrowedCopy));

    // Back where it was read, the snapshot has nothing to write.
    struct stat before = StatStore();
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    struct stat after = StatStore();
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);

    // An edit kept by the last mark is written.
    ASSERT_TRUE(VZPreferencesPushMark(prefs));
    EditEverything(prefs, "/Sets/written");
    ASSERT_TRUE(VZPreferencesPopMark(prefs, false));
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    EXPECT_TRUE(CFEqual(StoreTree(), Everything(prefs)));
}

TEST_F(PreferencesMarks, ARestorePastACommitLeavesTheOldTreeToWrite)
{
    Ref<SCPreferencesRef>  prefs    = Open();
    Ref<CFPropertyListRef> original = Everything(prefs);
    ASSERT_TRUE(VZPreferencesPushMark(prefs));
    EditEverything(prefs, "/Sets/committed");
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    ASSERT_TRUE(VZPreferencesPopMark(prefs, true));
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs));
    EXPECT_TRUE(CFEqual(StoreTree(), original));
}

TEST_F(PreferencesMarks, ARestoreThatCannotFinishMakesTheSnapshotRefuseToWrite)
{
    Ref<SCPreferencesRef> prefs = Open();
    std::string           bytes = StoreBytes();

    EXPECT_FALSE(VZPreferencesPopMark(prefs, false));
    EXPECT_EQ(SCError(), kSCStatusInvalidArgument);

    ASSERT_TRUE(VZPreferencesPushMark(prefs));
    EditEverything(prefs, "/Sets/lost");
    VZArmAllocationFailure(0, true);
    Boolean restored = VZPreferencesPopMark(prefs, true);
    VZClearAllocationFailure();
    EXPECT_FALSE(restored);
    EXPECT_EQ(SCError(), kSCStatusFailed);
    EXPECT_FALSE(SCPreferencesLock(prefs, false));
    EXPECT_EQ(SCError(), kSCStatusStale);
    EXPECT_FALSE(SCPreferencesCommitChanges(prefs));
    EXPECT_EQ(SCError(), kSCStatusStale);
    EXPECT_EQ(StoreBytes(), bytes);
}

} // namespace
