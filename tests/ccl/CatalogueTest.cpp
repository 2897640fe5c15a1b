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

using Names = std::vector<std::string>;

class Catalogue : public ScriptRoot {};

TEST_F(Catalogue, NoFolderAnywhereIsAnEmptyCatalogue)
{
    EXPECT_EQ(Scripts(), Names{});
    EXPECT_EQ(DefaultIndex(), 0);
    Write(kLocal, "a file where the folder should be");
    EXPECT_EQ(Scripts(), Names{});
}

TEST_F(Catalogue, NamesSortedAsPeopleReadThemEachOnce)
{
    const std::string user = UserFolder();
    const struct {
        std::map<std::string, Names> folders;
        Names                        expected;
    } rows[] = {
        {{{user, {"ZORVEX Mobile"}}, {kSystem, {"ZORVEX Mobile", "Generic"}}},
         {"Generic", "ZORVEX Mobile"}},
        {{{kLocal, {"beta", "Gamma", "\xc3\x89mile", "Alpha"}}},
         {"Alpha", "beta", "\xc3\x89mile", "Gamma"}},
        {{{kLocal, {"Modem 10", "Modem 9", "Modem 100"}}}, {"Modem 9", "Modem 10", "Modem 100"}},
        // Case-only twins are two scripts, in one order whatever the domains
        // or the file system list, and a duplicate never hides behind one.
        {{{user, {"a", "A"}}, {kSystem, {"a"}}, {kNetwork, {"A", "b"}}}, {"A", "a", "b"}},
        {{{kLocal, {"Modem 9"}}, {kSystem, {"Modem 09", "Modem 9"}}}, {"Modem 09", "Modem 9"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.expected.back());
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
    setenv("LC_ALL", "sv_SE.UTF-8", 1);
    EXPECT_EQ(Scripts(), (Names{"Alpha", "Zulu", "\xc3\x84rlig"}));
    MoreSCSetDefaultCCL(Str("zulu"));
    EXPECT_EQ(DefaultIndex(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(Scripts(), (Names{"Alpha", "\xc3\x84rlig", "Zulu"}));
    EXPECT_EQ(DefaultIndex(), 2);
    unsetenv("LC_ALL");
}

TEST_F(Catalogue, OnlyVisibleFilesAndStrayFilesSkipped)
{
    const std::string folder = Path(kLocal) + "/";
    AddScripts(kLocal, {"Plain", ".hidden by name", "Marked", "not \xff UTF-8", "cut \xc3"});
    AddScripts(std::string(kLocal) + "/Subfolder", {"Script in a subfolder"});
    Write("Library/a file", "");
    for (const auto &[link, target] :
         std::map<std::string, std::string>{{"Link to a script", "Plain"},
                                            {"Link to a folder", "Subfolder"},
                                            {"Link to nothing", "nowhere"},
                                            {"Link through a file", "../a file/below"},
                                            {"Loop", "Loop"}})
        std::filesystem::create_symlink(target, folder + link);
    bool  attributes = setxattr((folder + "Marked").c_str(), "user.invisible", "1", 1, 0) == 0;
    Names visible    = {"Link to a script", "Plain"};
    if (!attributes) visible.insert(visible.begin() + 1, "Marked");
    EXPECT_EQ(Scripts(), visible);

    // An attribute that cannot be read costs its one file: here the second
    // file examined, whichever the listing gives.
    RemoveFolders();
    AddScripts(kLocal, {"One", "Two", "Three"});
    for (int error : {EIO, EACCES}) {
        ASSERT_TRUE(VZArmSyscallFailure("getxattr", 1, false, error));
        EXPECT_EQ(Scripts().size(), 2u) << error;
        EXPECT_EQ(VZGetSyscallFailureCount(), 1);
    }
}

TEST_F(Catalogue, BatchesOfFiftyAtTheirEdges)
{
    Names expected;
    for (int files : {50, 51, 1000}) {
        while (expected.size() < static_cast<size_t>(files)) {
            expected.push_back("Script " + std::to_string(expected.size() + 1));
            AddScripts(expected.size() % 2 ? kLocal : kSystem, {expected.back()});
        }
        EXPECT_EQ(Scripts(), expected) << files;
    }
}

TEST_F(Catalogue, EachExistingFolderIsListedOnce)
{
    // The system disk's folder is the system domain's: it is looked at only
    // when no domain has a folder, so it is never listed twice.
    const std::vector<std::string> rows[] = {
        {}, {kSystem}, {kLocal}, {kNetwork, kSystem}, {UserFolder(), kNetwork, kLocal, kSystem}};
    for (const auto &folders : rows) {
        RemoveFolders();
        for (const std::string &folder : folders)
            AddScripts(folder, {"Script"});
        long opens = VZGetSyscallCallCount("open");
        EXPECT_EQ(Scripts().size(), folders.empty() ? 0u : 1u);
        EXPECT_EQ(VZGetSyscallCallCount("open") - opens, static_cast<long>(folders.size()));
    }
}

TEST_F(Catalogue, AFolderThatCannotBeReadFailsTheCall)
{
    for (int n = 0; n < 60; n++)
        AddScripts(kLocal, {"Script " + std::to_string(n)});
    const struct {
        const char *call;
        long        countdown; // 55: in the second batch
        int         error;
        OSStatus    expected;
    } rows[] = {{"open", 0, EACCES, afpAccessDenied},
                {"readdir", 0, EIO, ioErr},
                {"readdir", 55, EIO, ioErr}};
    for (const auto &row : rows) {
        ASSERT_TRUE(VZArmSyscallFailure(row.call, row.countdown, true, row.error));
        CFArrayRef scripts = NULL;
        CFIndex    index   = -7;
        EXPECT_EQ(MoreSCCreateCCLArray(&scripts, &index), row.expected) << row.countdown;
        EXPECT_EQ(scripts, nullptr);
        EXPECT_EQ(index, -7);
        VZClearSyscallFailure();
    }
}

TEST_F(Catalogue, MemoryFailuresEndTheCallWithNoArray)
{
    SetVersion("10.3.9");
    ASSERT_EQ(MoreSCGetSystemVersion(), 0x1039u); // read long before, as in a process
    ModemMachine(Integer(1));
    AddScripts(kLocal, {"Internal 56K Modem (v.92)", "Beta", "Alpha"});
    AddScripts(kSystem, {"Alpha", "Gamma"});
    const Names all = {"Alpha", "Beta", "Gamma", "Internal 56K Modem (v.92)"};
    int         n   = 0;
    for (; n < 1000; n++) {
        VZArmAllocationFailure(n, true);
        CFArrayRef scripts = NULL;
        CFIndex    index   = -1;
        OSStatus   err     = MoreSCCreateCCLArray(&scripts, &index);
        long       failed  = VZGetAllocationFailureCount();
        VZClearAllocationFailure();
        Names names = Strings(scripts);
        if (scripts != NULL) CFRelease(scripts);
        if (failed == 0) {
            EXPECT_EQ(err, noErr);
            EXPECT_EQ(names, all);
            EXPECT_EQ(index, 3);
            break;
        }
        SCOPED_TRACE(n);
        if (err == noErr) {
            // Only the port scan failed: every script, the v.90 default (not
            // installed, so index 0), and no choice kept.
            EXPECT_EQ(names, all);
            EXPECT_EQ(index, 0);
            EXPECT_EQ(gDefaultCCL, nullptr);
            continue;
        }
        EXPECT_TRUE(err == -108 || err == -4960) << err;
        EXPECT_EQ(scripts, nullptr);
    }
    EXPECT_GT(n, 0);
    EXPECT_LT(n, 1000);
}

} // namespace
