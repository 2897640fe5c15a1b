// CatalogTest.cpp: refs from paths, listing a folder in batches, the
// catalog information of one item, and the stray items (names without an
// HFSUniStr255 form, links leading nowhere, unreadable attributes) that a
// listing reports one by one instead of failing.
#include "StoreTestSupport.h"

#include "FileRefs.h"
#include "FolderListing.h"
#include "HFSNames.h"
#include "Syscalls.h"

#include <CoreServices/CoreServices.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sys/xattr.h>
#include <tuple>

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

    // An iterator on the folder (nullptr when it cannot be opened) and its
    // first batch of at most refs->size() refs; *err is the bulk call's status.
    FSIterator OpenAndReadFirstBatch(std::vector<FSRef> *refs, OSErr *err) const
    {
        FSRef      folder = FolderRef();
        FSIterator it     = nullptr;
        if (FSOpenIterator(&folder, kFSIterateFlat, &it) != noErr) return nullptr;
        ItemCount count = 0;
        *err = FSGetCatalogInfoBulk(it, refs->size(), &count, nullptr, 0, nullptr, refs->data(),
                                    nullptr, nullptr);
        refs->resize(count);
        return it;
    }

    // A file, files marked invisible and visible, a folder marked invisible,
    // links to a folder, to a file and to nothing, and a name that is not
    // UTF-8. True when the file system keeps the marks.
    bool AddItemsOfEveryKind() const
    {
        Add("plain");
        Add("hidden");
        Add("shown");
        std::filesystem::create_directories(ItemPath("subfolder"));
        std::filesystem::create_symlink(ItemPath("subfolder"), ItemPath("link to folder"));
        std::filesystem::create_symlink("plain", ItemPath("link to file"));
        std::filesystem::create_symlink("nowhere", ItemPath("dangling"));
        Add("not \xff UTF-8");
        if (setxattr(ItemPath("hidden").c_str(), "user.invisible", "1", 1, 0) != 0) return false;
        EXPECT_EQ(setxattr(ItemPath("shown").c_str(), "user.invisible", "0", 1, 0), 0);
        EXPECT_EQ(setxattr(ItemPath("subfolder").c_str(), "user.invisible", "yes", 3, 0), 0);
        return true;
    }

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
    Add(".dotted");
    bool attributes = AddItemsOfEveryKind();

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

std::string NameOf(const FSRef &ref)
{
    std::optional<vz::RefBody> body = vz::readRef(&ref);
    return body ? std::string(body->nameView()) : std::string();
}

// What one catalog call answered: its status and the flags it filled.
using Answer = std::tuple<OSErr, UInt16, UInt16>;

Answer Examine(const FSRef &ref, FSCatalogInfoBitmap which)
{
    FSCatalogInfo info;
    std::memset(&info, 0, sizeof info);
    OSErr err = FSGetCatalogInfo(&ref, which, &info, nullptr, nullptr, nullptr);
    return {err, info.nodeFlags, reinterpret_cast<const FileInfo *>(info.finderInfo)->finderFlags};
}

constexpr FSCatalogInfoBitmap kAskedFor[] = {kFSCatInfoNodeFlags | kFSCatInfoFinderInfo,
                                             kFSCatInfoNodeFlags, kFSCatInfoFinderInfo};

TEST_F(Catalog, ItemsOfAnOpenListingAnswerAsTheirPathsDo)
{
    // While an iterator is open, its items are reached beside its folder;
    // after, by their paths. Every kind of item must answer the same both
    // ways, an item removed after it was listed included.
    bool attributes = AddItemsOfEveryKind();
    Add("gone");
    std::filesystem::create_symlink("loop", ItemPath("loop"));
    std::filesystem::create_symlink("plain/below", ItemPath("through a file"));
    for (int n = 0; n < 20; n++)
        Add("filler " + std::to_string(n));

    FSRef      folder = FolderRef();
    FSIterator it     = nullptr;
    ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
    std::vector<FSRef>        listed;
    std::map<size_t, Answer>  whileOpen; // by item and question
    std::vector<FSRef>        batch(4);
    std::vector<HFSUniStr255> names(4);
    OSErr                     err = noErr;
    while (err == noErr) {
        ItemCount count = 0;
        err = FSGetCatalogInfoBulk(it, 4, &count, nullptr, kFSCatInfoNone, nullptr, batch.data(),
                                   nullptr, names.data());
        for (ItemCount i = 0; i < count; i++) {
            if (NameOf(batch[i]) == "gone") std::filesystem::remove(ItemPath("gone"));
        }
        // Last item first, so that the names are not met in their order.
        for (ItemCount i = count; i-- > 0;) {
            for (size_t q = 0; q < std::size(kAskedFor); q++)
                whileOpen[(listed.size() + i) * 3 + q] = Examine(batch[i], kAskedFor[q]);
        }
        listed.insert(listed.end(), batch.begin(), batch.begin() + count);
    }
    EXPECT_EQ(err, errFSNoMoreItems);
    EXPECT_EQ(FSCloseIterator(it), noErr);
    ASSERT_EQ(listed.size(), 31u);

    std::map<std::string, OSErr> strays;
    for (size_t item = 0; item < listed.size(); item++) {
        std::string name = NameOf(listed[item]);
        SCOPED_TRACE(name);
        for (size_t q = 0; q < std::size(kAskedFor); q++)
            EXPECT_EQ(whileOpen[item * 3 + q], Examine(listed[item], kAskedFor[q])) << q;
        if (std::get<0>(whileOpen[item * 3]) != noErr)
            strays[name] = std::get<0>(whileOpen[item * 3]);
        if (name == "hidden" || name == "subfolder") {
            EXPECT_EQ(std::get<2>(whileOpen[item * 3]), attributes ? kIsInvisible : 0);
        }
        if (name == "link to folder") {
            EXPECT_EQ(std::get<1>(whileOpen[item * 3]), kFSNodeIsDirectoryMask);
        }
    }
    const std::map<std::string, OSErr> expectedStrays = {{"gone", fnfErr},
                                                         {"dangling", fnfErr},
                                                         {"loop", fnfErr},
                                                         {"through a file", dirNFErr},
                                                         {"not \xff UTF-8", bdNamErr}};
    EXPECT_EQ(strays, expectedStrays);
}

// Reads no attribute: the kernel of an older system.
ssize_t NoGetxattrat(int, const char *, const char *, void *, size_t)
{
    errno = ENOSYS;
    return -1;
}

TEST_F(Catalog, ListedItemsFailThroughTheFaultTableOnEveryKernel)
{
    Add("script");
    Add("hidden");
    std::filesystem::create_symlink("script", ItemPath("link"));
    bool attributes = setxattr(ItemPath("hidden").c_str(), "user.invisible", "1", 1, 0) == 0;

    auto realGetxattrat = vz::sys::gSyscalls.getxattrat;
    for (bool atCall : {true, false}) {
        SCOPED_TRACE(atCall ? "attributes read beside the folder" : "attributes read by path");
        if (!atCall) vz::sys::gSyscalls.getxattrat = NoGetxattrat;
        std::vector<FSRef> refs(10);
        OSErr              err = noErr;
        FSIterator         it  = OpenAndReadFirstBatch(&refs, &err);
        ASSERT_NE(it, nullptr);
        EXPECT_EQ(err, errFSNoMoreItems);
        ASSERT_EQ(refs.size(), 3u);
        for (const FSRef &ref : refs) {
            const std::string name = NameOf(ref);
            SCOPED_TRACE(name);
            Answer plain = Examine(ref, kAskedFor[0]);
            EXPECT_EQ(std::get<0>(plain), noErr);
            EXPECT_EQ(std::get<2>(plain), name == "hidden" && attributes ? kIsInvisible : 0);
            {
                SyscallFailure failure("getxattr", 0, true, EIO);
                EXPECT_EQ(std::get<0>(Examine(ref, kFSCatInfoFinderInfo)), ioErr);
            }
            // A link is followed by a stat, which fails as the table says.
            SyscallFailure failure("fstatat", 0, true, EACCES);
            EXPECT_EQ(std::get<0>(Examine(ref, kAskedFor[0])),
                      name == "link" ? OSErr(afpAccessDenied) : OSErr(noErr));
            EXPECT_EQ(std::get<0>(Examine(ref, kFSCatInfoNodeFlags)), afpAccessDenied);
        }
        EXPECT_EQ(FSCloseIterator(it), noErr);
    }
    vz::sys::gSyscalls.getxattrat = realGetxattrat;
}

TEST_F(Catalog, AFolderThatGoesMidListing)
{
    // Removed: its items are gone whichever way they are reached. Moved: the
    // open listing still examines the folder it opened (the whole folder, not
    // the part read before the move), and the refs, which name paths, find
    // nothing once it is closed.
    for (bool moved : {false, true}) {
        SCOPED_TRACE(moved ? "moved" : "removed");
        std::filesystem::remove_all(Path(kFolder));
        std::filesystem::remove_all(Path("elsewhere"));
        for (int n = 0; n < 60; n++)
            Add("script " + std::to_string(n));
        std::vector<FSRef> refs(50);
        OSErr              err = noErr;
        FSIterator         it  = OpenAndReadFirstBatch(&refs, &err);
        ASSERT_NE(it, nullptr);
        EXPECT_EQ(err, noErr);
        ASSERT_EQ(refs.size(), 50u);
        if (moved)
            std::filesystem::rename(Path(kFolder), Path("elsewhere"));
        else
            std::filesystem::remove_all(Path(kFolder));
        const Answer whileOpen = moved ? Answer{noErr, 0, 0} : Answer{fnfErr, 0, 0};
        for (const FSRef &ref : refs)
            EXPECT_EQ(Examine(ref, kAskedFor[0]), whileOpen) << NameOf(ref);
        // The rest of the folder as the stream gives it, with no crash.
        ItemCount count = 0;
        FSRef     rest[50];
        while (FSGetCatalogInfoBulk(it, 50, &count, nullptr, 0, nullptr, rest, nullptr, nullptr) ==
               noErr) {}
        EXPECT_EQ(FSCloseIterator(it), noErr);
        EXPECT_EQ(std::get<0>(Examine(refs[0], kAskedFor[0])), fnfErr);
    }
}

TEST(FolderListing, TypesAreFoundInAnyOrderForTheLastBatchOnly)
{
    vz::FolderListing listing(nullptr);
    const auto        typeFor = [](size_t n) -> unsigned char { return n % 3 ? DT_REG : DT_DIR; };
    const auto        name    = [](size_t n) { return "item " + std::to_string(n); };
    for (size_t size : {200, 3}) {
        SCOPED_TRACE(size);
        listing.clearBatch();
        for (size_t n = 0; n < size; n++)
            listing.add(name(n), typeFor(n));
        // In order, then backwards (every lookup misses the next entry),
        // then every third one.
        for (size_t n = 0; n < size; n++)
            EXPECT_EQ(listing.typeOf(name(n)), typeFor(n)) << n;
        for (size_t n = size; n-- > 0;)
            EXPECT_EQ(listing.typeOf(name(n)), typeFor(n)) << n;
        for (size_t n = 0; n < size; n += 3)
            EXPECT_EQ(listing.typeOf(name(n)), typeFor(n)) << n;
        EXPECT_EQ(listing.typeOf("item"), DT_UNKNOWN);
    }
    // The first batch's names are gone with it.
    EXPECT_EQ(listing.typeOf(name(150)), DT_UNKNOWN);
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
