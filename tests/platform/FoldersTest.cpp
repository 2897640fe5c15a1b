// FoldersTest.cpp: the folders of the four domains under the root, the
// system-disk selectors, and making a folder on request.
#include "StoreTestSupport.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

using namespace vztest;

namespace {

class Folders : public TempRoot {
  protected:
    // The ref FSPathMakeRef gives for a path under the root, which
    // FSFindFolder's must equal byte for byte.
    static FSRef RefOf(const std::string &relative)
    {
        FSRef ref;
        EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(relative.c_str()), &ref, nullptr),
                  noErr)
            << relative;
        return ref;
    }
    static bool SameRef(const FSRef &a, const FSRef &b)
    {
        return std::memcmp(&a, &b, sizeof a) == 0;
    }
    void MakeFolder(const std::string &relative) const
    {
        std::filesystem::create_directories(Path(relative));
    }
};

std::string LoginName()
{
    struct passwd *entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : "";
}

TEST_F(Folders, DomainsAndTypesMapToTheFoldersOfTheRoot)
{
    const std::string user = "Users/" + LoginName() + "/Library/";
    const struct {
        FSVolumeRefNum domain;
        OSType         type;
        std::string    folder;
    } rows[] = {
        {kUserDomain, kModemScriptsFolderType, user + "Modem Scripts"},
        {kNetworkDomain, kModemScriptsFolderType, "Network/Library/Modem Scripts"},
        {kLocalDomain, kModemScriptsFolderType, "Library/Modem Scripts"},
        {kSystemDomain, kModemScriptsFolderType, "System/Library/Modem Scripts"},
        {kOnSystemDisk, kModemScriptsFolderType, "System/Library/Modem Scripts"},
        {kOnAppropriateDisk, kModemScriptsFolderType, "System/Library/Modem Scripts"},
        {kSystemDomain, kFrameworksFolderType, "System/Library/Frameworks"},
        {kOnAppropriateDisk, kFrameworksFolderType, "System/Library/Frameworks"},
        {kLocalDomain, kFrameworksFolderType, "Library/Frameworks"},
        {kUserDomain, kFrameworksFolderType, user + "Frameworks"},
    };
    ASSERT_FALSE(LoginName().empty());
    for (const auto &row : rows) {
        SCOPED_TRACE(row.folder);
        FSRef found;
        EXPECT_EQ(FSFindFolder(row.domain, row.type, kDontCreateFolder, &found), fnfErr);
        MakeFolder(row.folder);
        ASSERT_EQ(FSFindFolder(row.domain, row.type, kDontCreateFolder, &found), noErr);
        EXPECT_TRUE(SameRef(found, RefOf(row.folder)));
        std::filesystem::remove_all(Path(row.folder));
    }
}

TEST_F(Folders, OnlyTheSystemDomainServesTheSystemDisk)
{
    // The fallback of a caller that found no domain folder finds nothing
    // either when only the other domains have one.
    MakeFolder("Library/Modem Scripts");
    MakeFolder("Network/Library/Modem Scripts");
    FSRef found;
    EXPECT_EQ(FSFindFolder(kOnSystemDisk, kModemScriptsFolderType, false, &found), fnfErr);
    EXPECT_EQ(FSFindFolder(kLocalDomain, kModemScriptsFolderType, false, &found), noErr);
}

TEST_F(Folders, WhatIsNotAFolderIsNotFoundUnlessMade)
{
    Write("Library/Modem Scripts", "a file where the folder should be");
    Write("Network/Library", "a file where a folder above it should be");
    FSRef found;
    const struct {
        FSVolumeRefNum domain;
        OSErr          find;
        OSErr          create;
    } rows[] = {
        {kLocalDomain, fnfErr, errFSNotAFolder},
        {kNetworkDomain, fnfErr, errFSNotAFolder},
        {kSystemDomain, fnfErr, noErr},
        {12, nsvErr, nsvErr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.domain);
        EXPECT_EQ(FSFindFolder(row.domain, kModemScriptsFolderType, false, &found), row.find);
        EXPECT_EQ(FSFindFolder(row.domain, kModemScriptsFolderType, true, &found), row.create);
    }
    EXPECT_TRUE(std::filesystem::is_directory(Path("System/Library/Modem Scripts")));
    EXPECT_EQ(FSFindFolder(kSystemDomain, 'pref', true, &found), fnfErr);
    EXPECT_EQ(FSFindFolder(kSystemDomain, kFrameworksFolderType, true, nullptr), paramErr);
}

TEST_F(Folders, CreationMakesEveryMissingFolderOrReportsWhy)
{
    {
        SyscallFailure failure("mkdir", 1, false, EACCES);
        FSRef          found;
        EXPECT_EQ(FSFindFolder(kUserDomain, kFrameworksFolderType, true, &found), afpAccessDenied);
    }
    FSRef found;
    ASSERT_EQ(FSFindFolder(kUserDomain, kFrameworksFolderType, true, &found), noErr);
    const std::string folder = "Users/" + LoginName() + "/Library/Frameworks";
    EXPECT_TRUE(SameRef(found, RefOf(folder)));
    struct stat info;
    ASSERT_EQ(stat(Path(folder).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u & ~static_cast<unsigned>(umask(umask(0))));
}

TEST_F(Folders, ARelativeRootGivesRefsThatSurviveAChangeOfFolder)
{
    MakeFolder("System/Library/Modem Scripts");
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    setenv("VAVIVAZ_ROOT", ".", 1);
    FSRef found;
    OSErr err = FSFindFolder(kSystemDomain, kModemScriptsFolderType, false, &found);
    setenv("VAVIVAZ_ROOT", root_.c_str(), 1);
    ASSERT_EQ(chdir("/"), 0);
    FSCatalogInfo info;
    OSErr infoErr = FSGetCatalogInfo(&found, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr);
    ASSERT_EQ(chdir(saved), 0);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(infoErr, noErr);
    EXPECT_EQ(info.nodeFlags, kFSNodeIsDirectoryMask);
}

} // namespace
