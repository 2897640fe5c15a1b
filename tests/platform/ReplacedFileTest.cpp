// ReplacedFileTest.cpp: what an atomic replacement keeps of the file it
// replaces: its owner, group and mode, and the symbolic link that names it
// (written through when it leads to a file under the root, refused when it
// leads out), for the preferences store, the dynamic store and the tools'
// replacement alike.
#include "StoreTestSupport.h"

#include <VZPlatformTools.h>

#include <cerrno>
#include <functional>
#include <unistd.h>

using namespace vztest;

namespace {

namespace fs = std::filesystem;

const char *const kOld = "<dict><key>Value</key><string>old</string></dict>";

class ReplacedFile : public StoreTest {
  protected:
    struct Writer {
        const char                               *name;
        const char                               *path;  // under the root
        std::function<bool(const ReplacedFile &)> write; // Value=new
    };

    static bool CommitPreferences(const ReplacedFile &test)
    {
        Ref<SCPreferencesRef> prefs = test.Open();
        return prefs && SCPreferencesSetValue(prefs, CFSTR("Value"), CFSTR("new")) &&
               SCPreferencesCommitChanges(prefs);
    }
    static bool SetDynamicValue(const ReplacedFile &)
    {
        Ref<SCDynamicStoreRef> store(SCDynamicStoreCreate(nullptr, CFSTR("t"), nullptr, nullptr));
        return SCDynamicStoreSetValue(store, CFSTR("Value"), CFSTR("new"));
    }
    static bool ReplaceWithTool(const ReplacedFile &test)
    {
        std::string    xml = PlistText("<dict><key>Value</key><string>new</string></dict>");
        Ref<CFDataRef> text(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(xml.data()),
                                         static_cast<CFIndex>(xml.size())));
        return VZFileReplace(test.Path("tool.plist").c_str(), text, 0644, nullptr) == 0;
    }

    const std::vector<Writer> writers_ = {
        {"preferences", kStorePath, CommitPreferences},
        {"dynamic store", kDynamicStorePath, SetDynamicValue},
        {"tool", "tool.plist", ReplaceWithTool},
    };

    std::string ValueIn(const std::string &absolutePath) const
    {
        Ref<CFPropertyListRef> tree(CreatePlist(ReadFile(absolutePath)));
        return tree ? StringAt(static_cast<CFDictionaryRef>(tree.get()), "Value") : "(unreadable)";
    }
};

TEST_F(ReplacedFile, OwnerGroupAndModeAreKept)
{
    if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
    for (const Writer &writer : writers_) {
        SCOPED_TRACE(writer.name);
        Write(writer.path, PlistText(kOld));
        ASSERT_EQ(chown(Path(writer.path).c_str(), 4321, 4322), 0);
        ASSERT_EQ(chmod(Path(writer.path).c_str(), 0640), 0);
        ASSERT_TRUE(writer.write(*this)) << SCError();
        struct stat info {};
        ASSERT_EQ(stat(Path(writer.path).c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 4321u);
        EXPECT_EQ(info.st_gid, 4322u);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
        EXPECT_EQ(ValueIn(Path(writer.path)), "new");
    }
}

TEST_F(ReplacedFile, LinksUnderTheRootAreWrittenThrough)
{
    // An absolute link to a link whose relative target is the file.
    Write("kept/end.plist", PlistText(kOld));
    ASSERT_EQ(symlink("end.plist", Path("kept/hop").c_str()), 0);
    for (const Writer &writer : writers_) {
        SCOPED_TRACE(writer.name);
        Write("kept/end.plist", PlistText(kOld));
        fs::create_directories(fs::path(Path(writer.path)).parent_path());
        ASSERT_EQ(symlink(Path("kept/hop").c_str(), Path(writer.path).c_str()), 0);
        ASSERT_TRUE(writer.write(*this)) << SCError();
        EXPECT_EQ(fs::read_symlink(Path(writer.path)), Path("kept/hop"));
        EXPECT_EQ(ValueIn(Path("kept/end.plist")), "new");
    }
    EXPECT_EQ(FolderNames(Path("kept")).size(), 2u); // no temporary left beside the file
}

TEST_F(ReplacedFile, LinksLeadingOutOfTheRootAreRefused)
{
    std::string outside = root_ + "-outside.plist";
    WriteFile(outside, PlistText(kOld));
    for (const Writer &writer : writers_) {
        SCOPED_TRACE(writer.name);
        fs::create_directories(fs::path(Path(writer.path)).parent_path());
        ASSERT_EQ(symlink(outside.c_str(), Path(writer.path).c_str()), 0);
        EXPECT_FALSE(writer.write(*this));
        EXPECT_TRUE(fs::is_symlink(Path(writer.path)));
        EXPECT_EQ(ReadFile(outside), PlistText(kOld));
    }
    // The tools learn why.
    Ref<CFDataRef> text(CFDataCreate(nullptr, nullptr, 0));
    EXPECT_EQ(VZFileReplace(Path("tool.plist").c_str(), text, 0644, nullptr), EXDEV);
    fs::remove(outside);
}

} // namespace
