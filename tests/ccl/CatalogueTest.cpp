// CatalogueTest.cpp: the script catalogue over temporary roots: which files
// of which folders are scripts, the name order and the removal of
// duplicates, batches, stray files that are skipped, and the folder and
// memory failures that end the call with no array.
#include "ScriptTestSupport.h"

#include "MoreSCSystemVersion.h"

#include <cerrno>
#include <map>
#include <sys/xattr.h>

using namespace vztest;

namespace {

class Catalogue : public ScriptRoot {};

TEST_F(Catalogue, NoFolderAnywhereIsAnEmptyCatalogue)
{
    EXPECT_EQ(Scripts(), std::vector<std::string>{});
    EXPECT_EQ(DefaultIndex(), 0);
    // A file where a folder should be is no folder either.
    Write(kLocal, "not a folder");
    Write(kSystem, "not a folder");
    EXPECT_EQ(Scripts(), std::vector<std::string>{});
}

TEST_F(Catalogue, NamesSortedAsPeopleReadThemEachOnce)
{
    ASSERT_FALSE(LoginName().empty());
    const std::string user = UserFolder();
    const struct {
        const char                                     *what;
        std::map<std::string, std::vector<std::string>> folders;
        std::vector<std::string>                        expected;
    } rows[] = {
        {"one name in two domains",
         {{user, {"ZORVEX Mobile"}}, {kSystem, {"ZORVEX Mobile", "Generic"}}},
         {"Generic", "ZORVEX Mobile"}},
        {"one name in all four domains",
         {{user, {"Dial"}}, {kNetwork, {"Dial"}}, {kLocal, {"Dial"}}, {kSystem, {"Dial"}}},
         {"Dial"}},
        {"case ignored in the order",
         {{kLocal, {"beta", "Gamma", "Alpha"}}},
         {"Alpha", "beta", "Gamma"}},
        {"numbers by value",
         {{kLocal, {"Modem 10", "Modem 9", "Modem 1", "Modem 100"}}},
         {"Modem 1", "Modem 9", "Modem 10", "Modem 100"}},
        {"the user's language, not code units",
         {{kLocal, {"Foxtrot", "\xc3\x89mile", "Echo"}}},
         {"Echo", "\xc3\x89mile", "Foxtrot"}},
        // Names that differ only in case are two scripts, side by side, in
        // the same order whatever the domains or the file system list.
        {"case-only twins kept",
         {{kLocal, {"zorvex mobile", "Other"}}, {kSystem, {"ZORVEX Mobile"}}},
         {"Other", "ZORVEX Mobile", "zorvex mobile"}},
        {"case-only twins kept, domains swapped",
         {{kLocal, {"ZORVEX Mobile", "Other"}}, {kSystem, {"zorvex mobile"}}},
         {"Other", "ZORVEX Mobile", "zorvex mobile"}},
        // A twin between two equal names must not keep the second one.
        {"duplicates around a case-only twin",
         {{user, {"a", "A"}}, {kSystem, {"a"}}, {kNetwork, {"A", "b"}}},
         {"A", "a", "b"}},
        {"leading zeros",
         {{kLocal, {"Modem 9"}}, {kSystem, {"Modem 09", "Modem 9"}}},
         {"Modem 09", "Modem 9"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        RemoveFolders();
        for (const auto &[folder, names] : row.folders)
            AddScripts(folder, names);
        EXPECT_EQ(Scripts(), row.expected);
    }
}

TEST_F(Catalogue, TheUsersLanguageDecidesTheOrder)
{
    // Swedish sorts A with diaeresis after "Z"; German sorts it with "A".
    AddScripts(kLocal, {"Zulu", "\xc3\x84rlig", "Alpha"});
    const struct {
        const char              *locale;
        std::vector<std::string> expected;
        CFIndex                  zulu;
    } rows[] = {
        {"sv_SE.UTF-8", {"Alpha", "Zulu", "\xc3\x84rlig"}, 1},
        {"de_DE.UTF-8", {"Alpha", "\xc3\x84rlig", "Zulu"}, 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.locale);
        setenv("LC_ALL", row.locale, 1);
        MoreSCSetDefaultCCL(Str("zulu"));
        EXPECT_EQ(Scripts(), row.expected);
        EXPECT_EQ(DefaultIndex(), row.zulu);
    }
    unsetenv("LC_ALL");
}

TEST_F(Catalogue, OnlyVisibleFilesDirectlyInTheFolder)
{
    AddScripts(kLocal, {"Plain", ".hidden by name", "Marked"});
    AddScript(std::string(kLocal) + "/Subfolder", "Script in a subfolder");
    std::filesystem::create_symlink("Plain", ItemPath(kLocal, "Link to a script"));
    std::filesystem::create_symlink("Subfolder", ItemPath(kLocal, "Link to a folder"));
    bool attributes =
        setxattr(ItemPath(kLocal, "Marked").c_str(), "user.invisible", "1", 1, 0) == 0;
    std::vector<std::string> expected = {"Link to a script", "Plain"};
    if (!attributes) expected.insert(expected.begin() + 1, "Marked");
    EXPECT_EQ(Scripts(), expected);
    if (attributes) {
        ASSERT_EQ(setxattr(ItemPath(kLocal, "Marked").c_str(), "user.invisible", "0", 1, 0), 0);
        EXPECT_EQ(Scripts(), (std::vector<std::string>{"Link to a script", "Marked", "Plain"}));
    }
}

TEST_F(Catalogue, StrayFilesAreSkippedAndTheOthersListed)
{
    AddScripts(kLocal, {"First", "Last", "not \xff UTF-8", "also \xc3 not"});
    Write("Library/a file", "");
    std::filesystem::create_symlink("nowhere", ItemPath(kLocal, "Link to nothing"));
    std::filesystem::create_symlink("../a file/below", ItemPath(kLocal, "Link through a file"));
    std::filesystem::create_symlink("Loop", ItemPath(kLocal, "Loop"));
    EXPECT_EQ(Scripts(), (std::vector<std::string>{"First", "Last"}));

    // An attribute that cannot be read costs its one file. The second file
    // examined fails; which one that is depends on the listing order.
    RemoveFolders();
    AddScripts(kLocal, {"One", "Two", "Three"});
    for (int error : {EIO, EACCES}) {
        SCOPED_TRACE(error);
        ASSERT_TRUE(VZArmSyscallFailure("getxattr", 1, false, error));
        std::vector<std::string> names = Scripts();
        EXPECT_EQ(VZGetSyscallFailureCount(), 1);
        EXPECT_EQ(names.size(), 2u);
        for (const std::string &name : names)
            EXPECT_TRUE(name == "One" || name == "Two" || name == "Three") << name;
        VZClearSyscallFailure();
    }
}

TEST_F(Catalogue, BatchesOfFiftyAtTheirEdges)
{
    int made = 0;
    for (int files : {50, 51, 1000}) {
        SCOPED_TRACE(files);
        for (; made < files; made++)
            AddScript(made % 2 ? kLocal : kSystem, "Script " + std::to_string(made + 1));
        std::vector<std::string> expected;
        for (int n = 1; n <= files; n++)
            expected.push_back("Script " + std::to_string(n));
        EXPECT_EQ(Scripts(), expected);
    }
}

TEST_F(Catalogue, EachExistingFolderIsListedOnce)
{
    // The system-disk folder is the system domain's: it is looked at only
    // when no domain has a folder, so it is never listed twice.
    ASSERT_FALSE(LoginName().empty());
    const struct {
        std::vector<std::string> folders;
        long                     listings;
    } rows[] = {
        {{}, 0},
        {{kSystem}, 1},
        {{kLocal}, 1},
        {{kNetwork, kSystem}, 2},
        {{UserFolder(), kNetwork, kLocal, kSystem}, 4},
    };
    for (const auto &row : rows) {
        RemoveFolders();
        for (const std::string &folder : row.folders)
            AddScript(folder, "Script");
        SCOPED_TRACE(row.folders.size());
        long opens = VZGetSyscallCallCount("open");
        EXPECT_EQ(Scripts(), row.folders.empty() ? std::vector<std::string>{}
                                                 : std::vector<std::string>{"Script"});
        EXPECT_EQ(VZGetSyscallCallCount("open") - opens, row.listings);
    }
}

TEST_F(Catalogue, AFolderThatCannotBeReadFailsTheCall)
{
    for (int n = 0; n < 60; n++)
        AddScript(kLocal, "Script " + std::to_string(n));
    AddScript(kSystem, "System script");
    const struct {
        const char *call;
        long        countdown;
        int         error;
        OSStatus    expected;
    } rows[] = {
        {"open", 0, EACCES, afpAccessDenied},
        {"open", 0, EIO, ioErr},
        {"readdir", 0, EIO, ioErr},
        {"readdir", 55, EIO, ioErr}, // in the second batch
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.call) + " " + std::to_string(row.countdown));
        ASSERT_TRUE(VZArmSyscallFailure(row.call, row.countdown, true, row.error));
        CFArrayRef scripts = NULL;
        CFIndex    index   = -7;
        EXPECT_EQ(MoreSCCreateCCLArray(&scripts, &index), row.expected);
        EXPECT_EQ(scripts, nullptr);
        EXPECT_EQ(index, -7);
        VZClearSyscallFailure();
    }
    EXPECT_EQ(Scripts().size(), 61u);
}

TEST_F(Catalogue, ANameAppendedStaysWhenALaterBatchFails)
{
    for (int n = 0; n < 60; n++)
        AddScript(kLocal, "Script " + std::to_string(n));
    FSRef folder;
    ASSERT_EQ(FSFindFolder(kLocalDomain, kModemScriptsFolderType, kDontCreateFolder, &folder),
              noErr);
    Out<CFMutableArrayRef> names;
    *names.put() = CFArrayCreateMutable(NULL, 0, &kCFTypeArrayCallBacks);
    // 50 items, one read ahead and "." and "..": the 54th read is in the
    // second batch.
    ASSERT_TRUE(VZArmSyscallFailure("readdir", 53, true, EIO));
    EXPECT_EQ(AddCCLsInFolderToArray(&folder, names.get()), ioErr);
    EXPECT_EQ(CFArrayGetCount(names.get()), 50);
}

TEST_F(Catalogue, MemoryFailuresEndTheCallWithNoArray)
{
    SetVersion("10.3.9");
    ModemMachine(Integer(1));
    AddScripts(kLocal, {"Internal 56K Modem (v.92)", "Beta", "Alpha"});
    AddScripts(kSystem, {"Alpha", "Gamma"});
    // The version is read before any allocation fails, as a process would
    // have read it long before.
    ASSERT_EQ(MoreSCGetSystemVersion(), 0x1039u);
    int n = 0;
    for (; n < 1000; n++) {
        VZArmAllocationFailure(n, true);
        CFArrayRef scripts = NULL;
        CFIndex    index   = -1;
        OSStatus   err     = MoreSCCreateCCLArray(&scripts, &index);
        long       failed  = VZGetAllocationFailureCount();
        VZClearAllocationFailure();
        if (failed == 0) {
            ASSERT_EQ(err, noErr);
            EXPECT_EQ(Strings(scripts), (std::vector<std::string>{"Alpha", "Beta", "Gamma",
                                                                  "Internal 56K Modem (v.92)"}));
            // A scan that ran out of memory chose nothing for good.
            EXPECT_EQ(index, 3);
            CFRelease(scripts);
            break;
        }
        SCOPED_TRACE(n);
        if (err == noErr) {
            // Only the port scan failed: the call still lists every script,
            // gives the v.90 default (not installed: index 0) and keeps no
            // choice.
            EXPECT_EQ(Strings(scripts).size(), 4u);
            EXPECT_EQ(index, 0);
            EXPECT_EQ(gDefaultCCL, nullptr);
            CFRelease(scripts);
            continue;
        }
        EXPECT_TRUE(err == -108 || err == -4960) << err;
        EXPECT_EQ(scripts, nullptr);
    }
    EXPECT_GT(n, 0);
    EXPECT_LT(n, 1000);
}

} // namespace
