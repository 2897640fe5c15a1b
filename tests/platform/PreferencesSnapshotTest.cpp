// PreferencesSnapshotTest.cpp: snapshots share an unchanged file's parse,
// never miss a change (even one the file's metadata hides), and keep their
// edits to themselves.
#include "StoreTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

using namespace vztest;

namespace {

std::string StoreWithName(const std::string &name)
{
    return "<dict><key>Sets</key><dict><key>S1</key><dict><key>Name</key><string>" + name +
           "</string></dict></dict></dict>";
}

class PreferencesSnapshot : public StoreTest {
  public:
    std::string SetName(SCPreferencesRef prefs) const
    {
        return StringAt(SCPreferencesPathGetValue(prefs, CFSTR("/Sets/S1")), "Name");
    }
    // Rewrites the store in place and gives it back the modification time it
    // had, so that only the change time (coarse) and the bytes tell.
    void RewriteInPlace(const std::string &body) const
    {
        struct stat before = StatStore();
        std::string text   = PlistText(body);
        int         fd     = open(Path(kStorePath).c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(futimens(fd, times), 0);
        close(fd);
    }
    // Replaces the store by a rename, as another writer would, keeping the
    // modification time.
    void ReplaceByRename(const std::string &body) const
    {
        struct stat before = StatStore();
        std::string temp   = Path(kStorePath) + ".other";
        WriteFile(temp, PlistText(body));
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, temp.c_str(), times, 0), 0);
        ASSERT_EQ(rename(temp.c_str(), Path(kStorePath).c_str()), 0);
    }
};

TEST_F(PreferencesSnapshot, UnchangedFileIsParsedOnce)
{
    WriteStore(StoreWithName("first"));
    Ref<SCPreferencesRef> a = Open();
    Ref<SCPreferencesRef> b = Open();
    // One tree shared by both snapshots: the second did not parse again.
    EXPECT_EQ(SCPreferencesGetValue(a, CFSTR("Sets")), SCPreferencesGetValue(b, CFSTR("Sets")));
}

TEST_F(PreferencesSnapshot, ChangedFileIsNeverMissed)
{
    struct Row {
        const char *how;
        void (PreferencesSnapshot::*change)(const std::string &) const;
    };
    const Row rows[] = {
        {"in place, same size, same modification time", &PreferencesSnapshot::RewriteInPlace},
        {"renamed over, same size, same modification time", &PreferencesSnapshot::ReplaceByRename},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.how);
        WriteStore(StoreWithName("first"));
        {
            Ref<SCPreferencesRef> before = Open();
            EXPECT_EQ(SetName(before), "first");
        }
        (this->*row.change)(StoreWithName("other"));
        Ref<SCPreferencesRef> after = Open();
        EXPECT_EQ(SetName(after), "other");
    }
    // A store that goes away reads as empty; one that comes back is read.
    ASSERT_EQ(unlink(Path(kStorePath).c_str()), 0);
    Ref<SCPreferencesRef> gone = Open();
    EXPECT_EQ(SCPreferencesPathGetValue(gone, CFSTR("/Sets/S1")), nullptr);
    WriteStore(StoreWithName("back"));
    Ref<SCPreferencesRef> back = Open();
    EXPECT_EQ(SetName(back), "back");
}

// A process that reads in one pass keeps its first view of a store, never
// over its own commits, and a commit from a view another writer has since
// overtaken is refused, not lost; once it stops, every snapshot is proven.
TEST_F(PreferencesSnapshot, OnePassKeepsTheFirstViewButNotOverItsOwnWrites)
{
    auto commitName = [this](const char *name) {
        Ref<SCPreferencesRef> writer = Open();
        Ref<CFDictionaryRef>  named(static_cast<CFDictionaryRef>(CreatePlist(
             PlistText(std::string("<dict><key>Name</key><string>") + name + "</string></dict>"))));
        return SCPreferencesPathSetValue(writer, CFSTR("/Sets/S1"), named) &&
               SCPreferencesCommitChanges(writer);
    };
    WriteStore(StoreWithName("first"));
    VZPreferencesReadInOnePass(true);
    EXPECT_EQ(SetName(Open()), "first");
    ASSERT_TRUE(commitName("mine"));
    EXPECT_EQ(SetName(Open()), "mine");
    ReplaceByRename(StoreWithName("other"));
    EXPECT_EQ(SetName(Open()), "mine");
    EXPECT_FALSE(commitName("late"));
    EXPECT_EQ(SCError(), kSCStatusStale);
    VZPreferencesReadInOnePass(false);
    EXPECT_EQ(SetName(Open()), "other");
}

TEST_F(PreferencesSnapshot, EditsArePrivateToTheirSnapshot)
{
    WriteStore(StoreWithName("stored"));
    Ref<SCPreferencesRef> writer = Open();
    Ref<CFDictionaryRef>  renamed(static_cast<CFDictionaryRef>(
        CreatePlist(PlistText("<dict><key>Name</key><string>edited</string></dict>"))));
    ASSERT_TRUE(SCPreferencesPathSetValue(writer, CFSTR("/Sets/S1"), renamed));
    EXPECT_EQ(SetName(writer), "edited");

    // Another snapshot, taken after the edit, shares the file's parse but not
    // the edit.
    Ref<SCPreferencesRef> reader = Open();
    EXPECT_EQ(SetName(reader), "stored");

    ASSERT_TRUE(SCPreferencesCommitChanges(writer));
    EXPECT_EQ(SetName(reader), "stored"); // a snapshot does not move
    Ref<SCPreferencesRef> later = Open();
    EXPECT_EQ(SetName(later), "edited");
}

TEST_F(PreferencesSnapshot, StoreIDsNameOtherFiles)
{
    Write(std::string(kStoreFolder) + "/other.plist", PlistText(StoreWithName("beside")));
    Write("elsewhere/abs.plist", PlistText(StoreWithName("absolute")));
    Ref<SCPreferencesRef> beside(SCPreferencesCreate(nullptr, CFSTR("t"), CFSTR("other.plist")));
    Ref<SCPreferencesRef> absolute(
        SCPreferencesCreate(nullptr, CFSTR("t"), CFSTR("/elsewhere/abs.plist")));
    EXPECT_EQ(SetName(beside), "beside");
    EXPECT_EQ(SetName(absolute), "absolute");
}

// A preferences ID is a path under the root: one whose ".." components would
// lead above the root is refused as an invalid argument, and one that stays
// under it names the file it resolves to.
TEST_F(PreferencesSnapshot, IDsThatLeaveTheRootAreRefused)
{
    Write("inside.plist", PlistText(StoreWithName("inside")));
    Write("../" + std::string(std::filesystem::path(root_).filename()) + "-outside.plist",
          PlistText(StoreWithName("outside")));
    struct Case {
        const char *id;
        const char *name; // the set's name read, or nullptr when refused
    };
    std::string outside =
        "../../../../" + std::string(std::filesystem::path(root_).filename()) + "-outside.plist";
    std::string absoluteOutside =
        "/../" + std::string(std::filesystem::path(root_).filename()) + "-outside.plist";
    const Case kCases[] = {
        {"../../../inside.plist", "inside"},
        {"/./Library/../inside.plist", "inside"},
        {"a/b/../../../../../inside.plist", "inside"},
        {outside.c_str(), nullptr},
        {absoluteOutside.c_str(), nullptr},
        {"../../../../../../../../../../../../etc/passwd", nullptr},
    };
    for (const Case &c : kCases) {
        Ref<SCPreferencesRef> prefs(SCPreferencesCreate(nullptr, CFSTR("t"), Str(c.id)));
        if (c.name == nullptr) {
            EXPECT_FALSE(prefs) << c.id;
            EXPECT_EQ(SCError(), kSCStatusInvalidArgument) << c.id;
        } else {
            EXPECT_EQ(SetName(prefs), c.name) << c.id;
        }
    }
    std::filesystem::remove(root_ + "-outside.plist");
}

} // namespace
