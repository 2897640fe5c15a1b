// CatalogTest.cpp: refs from paths, listing a folder in batches, the
// catalog information of one item, and the stray items (names without an
// HFSUniStr255 form, links leading nowhere, unreadable attributes) that a
// listing reports one by one instead of failing.
#include "StoreTestSupport.h"

#include "HFSNames.h"

#include <CoreServices/CoreServices.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <sys/xattr.h>

using namespace vztest;

namespace {

class Catalog : public TempRoot {
  protected:
    static constexpr const char *kFolder = "Library/Modem Scripts";

    FSRef FolderRef() const
    {
        FSRef ref;
        EXPECT_EQ(FSFindFolder(kLocalDomain, kModemScriptsFolderType, true, &ref), noErr);
        return ref;
    }
    void Add(const std::string &name) const { Write(std::string(kFolder) + "/" + name, "script"); }
    std::string ItemPath(const std::string &name) const { return Path(kFolder) + "/" + name; }

    // Lists the folder in batches of `batch`; the names in UTF-8 (empty for
    // a stray name) with their refs, and the size of every batch.
    struct Listing {
        std::vector<std::string> names;
        std::vector<FSRef>       refs;
        std::vector<ItemCount>   batches;
        OSErr                    end = noErr;
    };
    Listing List(ItemCount batch) const
    {
        Listing    listing;
        FSRef      folder = FolderRef();
        FSIterator it     = nullptr;
        EXPECT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
        std::vector<FSRef>        refs(batch);
        std::vector<HFSUniStr255> names(batch);
        for (int calls = 0; calls < 1000; calls++) {
            ItemCount count = 0;
            OSErr err = FSGetCatalogInfoBulk(it, batch, &count, nullptr, kFSCatInfoNone, nullptr,
                                             refs.data(), nullptr, names.data());
            listing.batches.push_back(count);
            for (ItemCount i = 0; i < count; i++) {
                Ref<CFStringRef> name(
                    CFStringCreateWithCharacters(nullptr, names[i].unicode, names[i].length));
                listing.names.push_back(Utf8(name));
                listing.refs.push_back(refs[i]);
            }
            if (err != noErr) {
                listing.end = err;
                break;
            }
        }
        EXPECT_EQ(FSCloseIterator(it), noErr);
        return listing;
    }
};

TEST_F(Catalog, BatchesEndWithNoMoreItemsOnTheLastOne)
{
    const struct {
        int                    files;
        std::vector<ItemCount> batches;
    } rows[] = {
        {0, {0}},      {1, {1}},        {49, {49}},          {50, {50}},
        {51, {50, 1}}, {100, {50, 50}}, {120, {50, 50, 20}},
    };
    int made = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.files);
        for (; made < row.files; made++)
            Add("Script " + std::to_string(made));
        Listing listing = List(50);
        EXPECT_EQ(listing.end, errFSNoMoreItems);
        EXPECT_EQ(listing.batches, row.batches);
        std::sort(listing.names.begin(), listing.names.end());
        EXPECT_EQ(std::unique(listing.names.begin(), listing.names.end()), listing.names.end());
        EXPECT_EQ(listing.names.size(), static_cast<size_t>(row.files));
    }

    // Calls after the last batch answer the same.
    FSRef      folder = FolderRef();
    FSIterator it     = nullptr;
    ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
    ItemCount count = 0;
    EXPECT_EQ(FSGetCatalogInfoBulk(it, 500, &count, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              errFSNoMoreItems);
    EXPECT_EQ(count, 120u);
    EXPECT_EQ(FSGetCatalogInfoBulk(it, 500, &count, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              errFSNoMoreItems);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FSCloseIterator(it), noErr);
}

TEST_F(Catalog, EachItemReportsItsOwnInformationOrError)
{
    Add("plain");
    Add("hidden");
    Add("shown");
    Add(".dotted");
    std::filesystem::create_directories(ItemPath("subfolder"));
    std::filesystem::create_symlink(ItemPath("subfolder"), ItemPath("link to folder"));
    std::filesystem::create_symlink("plain", ItemPath("link to file"));
    std::filesystem::create_symlink("nowhere", ItemPath("dangling"));
    Add("not \xff UTF-8");
    bool attributes = setxattr(ItemPath("hidden").c_str(), "user.invisible", "1", 1, 0) == 0;
    if (attributes) {
        ASSERT_EQ(setxattr(ItemPath("shown").c_str(), "user.invisible", "0", 1, 0), 0);
        ASSERT_EQ(setxattr(ItemPath("subfolder").c_str(), "user.invisible", "yes", 3, 0), 0);
    }

    struct Expected {
        OSErr  err;
        UInt16 nodeFlags;
        UInt16 finderFlags;
    };
    const UInt16                          invisible = attributes ? kIsInvisible : 0;
    const std::map<std::string, Expected> expected  = {
         {"plain", {noErr, 0, 0}},
         {"hidden", {noErr, 0, invisible}},
         {"shown", {noErr, 0, 0}},
         {".dotted", {noErr, 0, 0}},
         {"subfolder", {noErr, kFSNodeIsDirectoryMask, invisible}},
         {"link to folder", {noErr, kFSNodeIsDirectoryMask, invisible}},
         {"link to file", {noErr, 0, 0}},
         {"dangling", {fnfErr, 0, 0}},
         {"", {bdNamErr, 0, 0}}, // the name that is not UTF-8
    };

    Listing listing = List(4);
    ASSERT_EQ(listing.names.size(), expected.size());
    for (size_t i = 0; i < listing.names.size(); i++) {
        SCOPED_TRACE(listing.names[i]);
        ASSERT_EQ(expected.count(listing.names[i]), 1u);
        const Expected &want = expected.at(listing.names[i]);
        FSCatalogInfo   info;
        std::memset(&info, 0xEE, sizeof info);
        HFSUniStr255 name;
        FSRef        parent;
        OSErr err = FSGetCatalogInfo(&listing.refs[i], kFSCatInfoNodeFlags | kFSCatInfoFinderInfo,
                                     &info, &name, nullptr, &parent);
        ASSERT_EQ(err, want.err);
        if (err != noErr) {
            EXPECT_EQ(info.nodeFlags, 0xEEEE) << "filled on failure";
            continue;
        }
        EXPECT_EQ(info.nodeFlags, want.nodeFlags);
        EXPECT_EQ(reinterpret_cast<const FileInfo *>(info.finderInfo)->finderFlags,
                  want.finderFlags);
        Ref<CFStringRef> text(CFStringCreateWithCharacters(nullptr, name.unicode, name.length));
        EXPECT_EQ(Utf8(text), listing.names[i]);
        FSRef folder = FolderRef();
        EXPECT_EQ(std::memcmp(&parent, &folder, sizeof parent), 0);
    }
}

TEST_F(Catalog, AnUnreadableAttributeFailsOnlyItsItem)
{
    Add("script");
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>("/Library/Modem Scripts/script"), &ref,
                            nullptr),
              noErr);
    const struct {
        int   error;
        OSErr expected;
    } rows[] = {{EIO, ioErr}, {EACCES, afpAccessDenied}, {ENOTSUP, noErr}, {ENODATA, noErr}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.error);
        SyscallFailure failure("getxattr", 0, true, row.error);
        FSCatalogInfo  info;
        EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr),
                  row.expected);
        // Node flags alone never read the attribute.
        EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr),
                  noErr);
    }
}

TEST_F(Catalog, FolderErrorsComeFromTheIterator)
{
    Add("script");
    FSRef      folder = FolderRef();
    FSIterator it     = nullptr;
    {
        SyscallFailure failure("open", 0, false, EACCES);
        EXPECT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), afpAccessDenied);
        EXPECT_EQ(it, nullptr);
    }
    ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
    {
        SyscallFailure failure("readdir", 0, false, EIO);
        ItemCount      count = 7;
        FSRef          refs[50];
        EXPECT_EQ(FSGetCatalogInfoBulk(it, 50, &count, nullptr, 0, nullptr, refs, nullptr, nullptr),
                  ioErr);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_EQ(FSCloseIterator(it), noErr);

    FSRef file;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>("Library/Modem Scripts/script"), &file,
                            nullptr),
              noErr);
    EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &it), errFSNotAFolder);
    std::filesystem::remove_all(Path(kFolder));
    EXPECT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), fnfErr);
}

TEST_F(Catalog, CallsRefuseWhatTheyCannotServe)
{
    FSRef zeroed;
    std::memset(&zeroed, 0, sizeof zeroed);
    FSRef         folder = FolderRef();
    FSCatalogInfo info;
    FSIterator    it = nullptr;
    EXPECT_EQ(FSGetCatalogInfo(&zeroed, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr),
              errFSBadFSRef);
    EXPECT_EQ(FSOpenIterator(&zeroed, kFSIterateFlat, &it), errFSBadFSRef);
    EXPECT_EQ(FSGetCatalogInfo(&folder, 0x4000, &info, nullptr, nullptr, nullptr),
              errFSBadInfoBitmap);
    EXPECT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoNodeFlags, nullptr, nullptr, nullptr, nullptr),
              paramErr);
    EXPECT_EQ(FSOpenIterator(&folder, kFSIterateSubtree, &it), errFSIteratorNotSupported);
    EXPECT_EQ(FSOpenIterator(&folder, 8, &it), errFSBadIteratorFlags);

    ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
    ItemCount count = 0;
    EXPECT_EQ(FSGetCatalogInfoBulk(it, 0, &count, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              errFSBadItemCount);
    EXPECT_EQ(FSGetCatalogInfoBulk(it, 9, &count, nullptr, kFSCatInfoNodeFlags, &info, nullptr,
                                   nullptr, nullptr),
              errFSBadInfoBitmap);
    EXPECT_EQ(FSCloseIterator(it), noErr);
    EXPECT_EQ(FSCloseIterator(nullptr), paramErr);
}

TEST_F(Catalog, PathsAreReadUnderTheRootAndNeverLeaveIt)
{
    Add("script");
    const std::string tooLong = "/Library/" + std::string(300, 'x');
    const struct {
        const char *path;
        OSStatus    err;
        Boolean     isDirectory;
    } rows[] = {
        {"/Library/Modem Scripts/script", noErr, false},
        {"Library//./Modem Scripts/", noErr, true},
        {"/Library/Modem Scripts/../Modem Scripts/script", noErr, false},
        {"/", noErr, true},
        {"", noErr, true},
        {"/Library/missing", fnfErr, false},
        {"/Library/Modem Scripts/script/below", dirNFErr, false},
        {"/..", paramErr, false},
        {"/Library/../../etc/passwd", paramErr, false},
        {tooLong.c_str(), bdNamErr, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        FSRef   ref;
        Boolean isDirectory = 2;
        EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(row.path), &ref, &isDirectory),
                  row.err);
        if (row.err == noErr) {
            EXPECT_EQ(isDirectory, row.isDirectory);
        }
    }
    FSRef ref;
    EXPECT_EQ(FSPathMakeRef(nullptr, &ref, nullptr), paramErr);
}

TEST(HFSNames, OnlyWellFormedUTF8Of255UnitsHasARecordForm)
{
    const std::string clef = "\xF0\x9D\x84\x9E"; // two UTF-16 units
    std::string       clefs127;
    for (int i = 0; i < 127; i++)
        clefs127 += clef;
    const struct {
        std::string bytes;
        bool        fits;
        int         units;
    } rows[] = {
        {std::string(255, 'a'), true, 255},
        {std::string(256, 'a'), false, 0},
        {clefs127, true, 254},
        {clefs127 + clef, false, 0},
        {"caf\xC3\xA9", true, 4},
        {"\xC0\xAF", false, 0},     // overlong "/"
        {"\xED\xA0\x80", false, 0}, // an encoded surrogate
        {"\xE2\x82", false, 0},     // truncated
        {"\xFF", false, 0},
    };
    for (const auto &row : rows) {
        HFSUniStr255 record;
        record.length = 999;
        EXPECT_EQ(vz::hfsNameFromBytes(row.bytes, &record), row.fits) << row.bytes.size();
        EXPECT_EQ(record.length, row.fits ? row.units : 999);
    }
}

} // namespace
