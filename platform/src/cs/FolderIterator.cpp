// FolderIterator.cpp: flat iteration over a folder in batches.
//
// An iterator lists its folder through a FolderListing, in the order the
// file system gives, and registers the listing with the folder table while it
// is open, so that the catalog calls on the items it hands out reach them
// beside the open folder. To tell the caller that a batch is the folder's
// last, it reads one entry ahead when a batch fills up; that entry opens the
// next batch. Invariant: once `finished` is set the stream has reported its
// end and every later call answers errFSNoMoreItems with no item.
//
// Iterators count as live platform objects, so a test sees one that was
// never closed.
#include "FileErrors.h"
#include "FileRefs.h"
#include "FolderListing.h"
#include "HFSNames.h"
#include "LiveObjects.h"
#include "Runtime.h"
#include "Syscalls.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>

struct OpaqueFSIterator {
    std::shared_ptr<vz::FolderListing> listing;
    uint32_t                           folder      = 0;
    bool                               finished    = false;
    bool                               hasPending  = false;
    unsigned char                      pendingType = DT_UNKNOWN;
    std::string                        pending; // the entry read ahead, when hasPending

    OpaqueFSIterator() noexcept { vz::countObjectIn(); }
    ~OpaqueFSIterator() { vz::countObjectOut(); }
    OpaqueFSIterator(const OpaqueFSIterator &)            = delete;
    OpaqueFSIterator &operator=(const OpaqueFSIterator &) = delete;
};

namespace {

enum class Next { Entry, End, Error };

// The next entry of the stream other than "." and "..", or nothing.
Next readEntry(DIR *stream, struct dirent **found, OSErr *err)
{
    for (;;) {
        errno                = 0;
        struct dirent *entry = vz::sys::readdir(stream);
        if (entry == nullptr) {
            if (errno == 0) return Next::End;
            *err = vz::fileErrorFromErrno(errno);
            return Next::Error;
        }
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        *found = entry;
        return Next::Entry;
    }
}

OSErr openIterator(const FSRef *container, FSIterator *iterator)
{
    std::optional<vz::RefBody> body = vz::readRef(container);
    if (!body) return errFSBadFSRef;
    std::string path   = vz::itemPath(*body);
    uint32_t    folder = vz::internFolder(path); // the last step that may throw
    int         fd     = vz::sys::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOTDIR) return errFSNotAFolder;
    if (fd < 0) return vz::fileErrorFromErrno(errno);
    DIR *stream = fdopendir(fd);
    if (stream == nullptr) {
        OSErr err = vz::fileErrorFromErrno(errno);
        (void)vz::sys::close(fd);
        return err;
    }
    std::shared_ptr<vz::FolderListing> listing;
    try {
        listing = std::make_shared<vz::FolderListing>(stream);
    } catch (...) {
        (void)closedir(stream);
        return memFullErr;
    }
    auto *it = new (std::nothrow) OpaqueFSIterator;
    if (it == nullptr) return memFullErr;
    it->listing = listing;
    it->folder  = folder;
    vz::registerListing(folder, std::move(listing));
    *iterator = it;
    return noErr;
}

// Hands out one entry: its ref, its name record, and its type to the listing.
void handOut(FSIterator it, std::string_view name, unsigned char type, FSRef *ref,
             HFSUniStr255 *record)
{
    if (ref != nullptr) vz::writeRefInFolder(it->folder, name, ref);
    if (record != nullptr && !vz::hfsNameFromBytes(name, record))
        record->length = 0; // a stray name: see Files.h
    it->listing->add(name, type);
}

OSErr getBulk(FSIterator it, ItemCount maximumObjects, ItemCount *actualObjects, FSRef *refs,
              HFSUniStr255 *names)
{
    vz::FolderListing          &listing = *it->listing;
    std::lock_guard<std::mutex> hold(listing.mutex());
    listing.clearBatch();
    ItemCount count = 0;
    OSErr     err   = noErr;
    if (it->hasPending && count < maximumObjects) {
        handOut(it, it->pending, it->pendingType, refs, names);
        it->hasPending = false;
        count++;
    }
    while (count < maximumObjects && !it->finished) {
        struct dirent *entry = nullptr;
        Next           next  = readEntry(listing.stream(), &entry, &err);
        if (next == Next::Error) break;
        if (next == Next::End) {
            it->finished = true;
            break;
        }
        handOut(it, entry->d_name, entry->d_type, refs != nullptr ? &refs[count] : nullptr,
                names != nullptr ? &names[count] : nullptr);
        count++;
    }
    // A full batch may still be the last: look one entry ahead.
    if (err == noErr && count == maximumObjects && !it->finished && !it->hasPending) {
        struct dirent *entry = nullptr;
        Next           next  = readEntry(listing.stream(), &entry, &err);
        if (next == Next::Entry) {
            it->pending     = entry->d_name;
            it->pendingType = entry->d_type;
            it->hasPending  = true;
        }
        if (next == Next::End) it->finished = true;
    }
    *actualObjects = count;
    if (err != noErr) return err;
    if (it->finished) return errFSNoMoreItems;
    return noErr;
}

} // namespace

OSErr FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags,
                     FSIterator *iterator) noexcept
{
    if (container == nullptr || iterator == nullptr) return paramErr;
    if (iteratorFlags == kFSIterateSubtree) return errFSIteratorNotSupported;
    if (iteratorFlags != kFSIterateFlat) return errFSBadIteratorFlags;
    *iterator = nullptr;
    return vz::guarded<OSErr>(memFullErr, [&] { return openIterator(container, iterator); });
}

OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount *actualObjects,
                           Boolean *containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo *catalogInfos, FSRef *refs, FSSpec *fsSpecs,
                           HFSUniStr255 *names) noexcept
{
    if (iterator == nullptr || actualObjects == nullptr || fsSpecs != nullptr) return paramErr;
    if (whichInfo != kFSCatInfoNone || catalogInfos != nullptr) return errFSBadInfoBitmap;
    if (maximumObjects == 0) return errFSBadItemCount;
    *actualObjects = 0;
    if (containerChanged != nullptr) *containerChanged = false;
    return vz::guarded<OSErr>(
        memFullErr, [&] { return getBulk(iterator, maximumObjects, actualObjects, refs, names); });
}

OSErr FSCloseIterator(FSIterator iterator) noexcept
{
    if (iterator == nullptr) return paramErr;
    std::shared_ptr<vz::FolderListing> listing = std::move(iterator->listing);
    vz::withdrawListing(iterator->folder, listing.get());
    delete iterator;
    // A catalog call may hold the listing a moment longer: the stream is
    // closed here all the same, under its mutex, so that the call falls back
    // to the item's path.
    std::lock_guard<std::mutex> hold(listing->mutex());
    if (!listing->close()) return ioErr;
    return noErr;
}
