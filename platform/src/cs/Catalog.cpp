// Catalog.cpp: refs from paths and the catalog information of one item.
//
// The information of an item is read afresh on every call, following
// symbolic links: a listing may outlive the files it names, and the caller
// learns of an item that went away (or a link that leads nowhere) from that
// item's own status, never from the folder's.
#include "FileErrors.h"
#include "FileRefs.h"
#include "HFSNames.h"
#include "Runtime.h"
#include "Syscalls.h"
#include "UnderRoot.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

// The extended attribute that marks an item invisible, and the one value
// that leaves it visible.
constexpr const char *kInvisibleAttribute = "user.invisible";

// 0 with *invisible set, or the status of an attribute that cannot be read.
OSErr readInvisible(const std::string &path, bool *invisible) noexcept
{
    char    value[8];
    ssize_t size = vz::sys::getxattr(path.c_str(), kInvisibleAttribute, value, sizeof value);
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

OSErr getCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *catalogInfo,
                     HFSUniStr255 *outName, FSRef *parentRef)
{
    constexpr FSCatalogInfoBitmap kKept = kFSCatInfoNodeFlags | kFSCatInfoFinderInfo;
    if ((whichInfo & ~kKept) != 0) return errFSBadInfoBitmap;
    if (whichInfo != kFSCatInfoNone && catalogInfo == nullptr) return paramErr;
    std::optional<vz::RefBody> body = vz::readRef(ref);
    if (!body) return errFSBadFSRef;

    // Every item but the file system's root has a name, and it must have a
    // record form whether or not the caller asks for it: this is how a
    // caller that lists a folder hears of a stray name.
    HFSUniStr255 name;
    name.length = 0;
    if (body->nameLength != 0 && !vz::hfsNameFromBytes(body->nameView(), &name)) return bdNamErr;

    std::string path = vz::itemPath(*body);
    struct stat info;
    if (vz::sys::stat(path.c_str(), &info) != 0) return vz::fileErrorFromErrno(errno);

    FSCatalogInfo found;
    std::memset(&found, 0, sizeof found);
    if (S_ISDIR(info.st_mode)) found.nodeFlags |= kFSNodeIsDirectoryMask;
    if ((whichInfo & kFSCatInfoFinderInfo) != 0) {
        bool invisible = false;
        if (OSErr err = readInvisible(path, &invisible); err != noErr) return err;
        // The Finder flags are at the same place for files and folders.
        UInt16 flags = invisible ? kIsInvisible : 0;
        std::memcpy(found.finderInfo + offsetof(FileInfo, finderFlags), &flags, sizeof flags);
    }

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
