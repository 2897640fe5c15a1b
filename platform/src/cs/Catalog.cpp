// Catalog.cpp: refs from paths and the catalog information of one item.
//
// The information of an item is read afresh on every call, following
// symbolic links: a listing may outlive the files it names, and the caller
// learns of an item that went away (or a link that leads nowhere) from that
// item's own status, never from the folder's.
//
// While an iterator lists the item's folder, the item is reached by its name
// beside the open folder rather than by its whole path, and when readdir
// said it is a plain file or a folder and the attribute read follows (which
// fails for an item that went away), the stat is left out. An item is thus
// looked at in one system call instead of two, each walking the path from
// the root.
#include "FileErrors.h"
#include "FileRefs.h"
#include "FolderListing.h"
#include "HFSNames.h"
#include "Runtime.h"
#include "Syscalls.h"
#include "UnderRoot.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <mutex>

namespace {

// The extended attribute that marks an item invisible, and the one value
// that leaves it visible.
constexpr const char *kInvisibleAttribute = "user.invisible";

// Where an item is: in an open folder (folder is its descriptor, type what
// readdir said of it), or only at its path (folder is -1).
struct ItemPlace {
    explicit ItemPlace(const vz::RefBody &ofBody) noexcept : body(ofBody) {}

    const vz::RefBody &body;
    int                folder = -1;
    unsigned char      type   = DT_UNKNOWN;
    std::string        path; // the whole path, made when needed

    const char *wholePath()
    {
        if (path.empty()) path = vz::itemPath(body);
        return path.c_str();
    }
};

int statItem(ItemPlace &item, struct stat *info)
{
    if (item.folder < 0) return vz::sys::stat(item.wholePath(), info);
    return vz::sys::fstatat(item.folder, item.body.name, info, 0);
}

ssize_t readAttribute(ItemPlace &item, char *value, size_t size)
{
    if (item.folder >= 0 && vz::sys::getxattratWorks())
        return vz::sys::getxattrat(item.folder, item.body.name, kInvisibleAttribute, value, size);
    return vz::sys::getxattr(item.wholePath(), kInvisibleAttribute, value, size);
}

// 0 with *invisible set, or the status of an attribute that cannot be read.
OSErr readInvisible(ItemPlace &item, bool *invisible)
{
    // The value's size settles all but a one-byte value. Asking for the size
    // alone spares the kernel a buffer for every item, and most items have
    // no such attribute at all.
    char    value[8];
    ssize_t size = readAttribute(item, nullptr, 0);
    if (size == 1) size = readAttribute(item, value, sizeof value);
    if (size >= 0) {
        *invisible = !(size == 1 && value[0] == '0');
        return noErr;
    }
    switch (errno) {
    case ENODATA: // no such attribute
    case ENOTSUP: // a file system without extended attributes
        *invisible = false;
        return noErr;
    case ERANGE: // a value longer than the buffer, so not "0"
        *invisible = true;
        return noErr;
    default:
        return vz::fileErrorFromErrno(errno);
    }
}

// The node flags and Finder flags of the item into *found.
OSErr examine(ItemPlace &item, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *found)
{
    bool wantsFinderInfo = (whichInfo & kFSCatInfoFinderInfo) != 0;
    bool isFolder        = item.type == DT_DIR;
    // Without the attribute read, only the stat tells an item that went away.
    if (!wantsFinderInfo || (item.type != DT_REG && item.type != DT_DIR)) {
        struct stat info;
        if (statItem(item, &info) != 0) return vz::fileErrorFromErrno(errno);
        isFolder = S_ISDIR(info.st_mode);
    }
    if (isFolder) found->nodeFlags |= kFSNodeIsDirectoryMask;
    if (wantsFinderInfo) {
        bool invisible = false;
        if (OSErr err = readInvisible(item, &invisible); err != noErr) return err;
        // The Finder flags are at the same place for files and folders.
        UInt16 flags = invisible ? kIsInvisible : 0;
        std::memcpy(found->finderInfo + offsetof(FileInfo, finderFlags), &flags, sizeof flags);
    }
    return noErr;
}

OSErr getCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *catalogInfo,
                     HFSUniStr255 *outName, FSRef *parentRef)
{
    constexpr FSCatalogInfoBitmap kKept = kFSCatInfoNodeFlags | kFSCatInfoFinderInfo;
    if ((whichInfo & ~kKept) != 0) return errFSBadInfoBitmap;
    if (whichInfo != kFSCatInfoNone && catalogInfo == nullptr) return paramErr;
    std::shared_ptr<vz::FolderListing> listing;
    std::optional<vz::RefBody>         body = vz::readRef(ref, &listing);
    if (!body) return errFSBadFSRef;

    // Every item but the file system's root has a name, and it must have a
    // record form whether or not the caller asks for it: this is how a
    // caller that lists a folder hears of a stray name.
    HFSUniStr255 name;
    name.length = 0;
    if (body->nameLength != 0) {
        bool named = outName != nullptr ? vz::hfsNameFromBytes(body->nameView(), &name)
                                        : vz::hasRecordForm(body->nameView());
        if (!named) return bdNamErr;
    }

    FSCatalogInfo found;
    std::memset(&found, 0, sizeof found);
    OSErr     err = noErr;
    ItemPlace item(*body);
    if (listing && body->nameLength != 0) {
        std::lock_guard<std::mutex> hold(listing->mutex());
        if (listing->open()) {
            item.folder = listing->descriptor();
            item.type   = listing->typeOf(body->nameView());
            err         = examine(item, whichInfo, &found);
        }
    }
    if (item.folder < 0) err = examine(item, whichInfo, &found);
    if (err != noErr) return err;

    FSRef parent;
    std::memset(&parent, 0, sizeof parent);
    if (parentRef != nullptr && body->nameLength != 0) {
        std::optional<vz::RefBody> folder = vz::refForPath(vz::folderPath(*body));
        if (folder) vz::writeRef(*folder, &parent);
    }

    if (catalogInfo != nullptr) {
        if ((whichInfo & kFSCatInfoNodeFlags) != 0) catalogInfo->nodeFlags = found.nodeFlags;
        if ((whichInfo & kFSCatInfoFinderInfo) != 0)
            std::memcpy(catalogInfo->finderInfo, found.finderInfo, sizeof found.finderInfo);
    }
    if (outName != nullptr) *outName = name;
    if (parentRef != nullptr) *parentRef = parent;
    return noErr;
}

OSStatus pathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory)
{
    std::optional<std::string> absolute =
        vz::pathUnderRootChecked(reinterpret_cast<const char *>(path));
    if (!absolute) return paramErr;
    struct stat info;
    if (vz::sys::stat(absolute->c_str(), &info) != 0) return vz::fileErrorFromErrno(errno);
    std::optional<vz::RefBody> body = vz::refForPath(*absolute);
    if (!body) return bdNamErr;
    vz::writeRef(*body, ref);
    if (isDirectory != nullptr) *isDirectory = S_ISDIR(info.st_mode);
    return noErr;
}

} // namespace

OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory) noexcept
{
    if (path == nullptr || ref == nullptr) return paramErr;
    return vz::guarded<OSStatus>(memFullErr, [&] { return pathMakeRef(path, ref, isDirectory); });
}

OSErr FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *catalogInfo,
                       HFSUniStr255 *outName, FSSpec *fsSpec, FSRef *parentRef) noexcept
{
    if (ref == nullptr || fsSpec != nullptr) return paramErr;
    return vz::guarded<OSErr>(memFullErr, [&] {
        return getCatalogInfo(ref, whichInfo, catalogInfo, outName, parentRef);
    });
}
