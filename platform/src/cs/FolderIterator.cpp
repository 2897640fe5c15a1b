// FolderIterator.cpp: flat iteration over a folder in batches.
//
// An iterator owns an open folder stream and reads it in the order the file
// system lists it. To tell the caller that a batch is the folder's last, it
// reads one entry ahead when a batch fills up; that entry opens the next
// batch. Invariant: once `finished` is set the stream has reported its end
// and every later call answers errFSNoMoreItems with no item.
//
// Iterators count as live platform objects, so a test sees one that was
// never closed.
#include "FileErrors.h"
#include "FileRefs.h"
#include "HFSNames.h"
#include "LiveObjects.h"
#include "Runtime.h"
#include "Syscalls.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>

struct OpaqueFSIterator {
    DIR        *stream     = nullptr;
    uint32_t    folder     = 0;
    bool        finished   = false;
    bool        hasPending = false;
    std::string pending; // the entry read ahead, when hasPending

    OpaqueFSIterator() noexcept { vz::countObjectIn(); }
    ~OpaqueFSIterator()
    {
        if (stream != nullptr) (void)closedir(stream);
        vz::countObjectOut();
    }
    OpaqueFSIterator(const OpaqueFSIterator &)            = delete;
    OpaqueFSIterator &operator=(const OpaqueFSIterator &) = delete;
};

namespace {

enum class Next { Entry, End, Error };

// The next entry of the stream other than "." and "..", into *name.
Next readEntry(OpaqueFSIterator &it, std::string *name, OSErr *err)
{
    for (;;) {
        errno                = 0;
        struct dirent *entry = vz::sys::readdir(it.stream);
        if (entry == nullptr) {
            if (errno == 0) return Next::End;
            *err = vz::fileErrorFromErrno(errno);
            return Next::Error;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        *name = entry->d_name;
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
    auto *it = new (std::nothrow) OpaqueFSIterator;
    if (it == nullptr) {
        (void)closedir(stream);
        return memFullErr;
    }
    it->stream = stream;
    it->folder = folder;
    *iterator  = it;
    return noErr;
}

OSErr getBulk(FSIterator it, ItemCount maximumObjects, ItemCount *actualObjects, FSRef *refs,
              HFSUniStr255 *names)
{
    ItemCount   count = 0;
    OSErr       err   = noErr;
    std::string name;
    while (count < maximumObjects && !it->finished) {
        if (it->hasPending) {
            name           = std::move(it->pending);
            it->hasPending = false;
        } else {
            Next next = readEntry(*it, &name, &err);
            if (next == Next::Error) break;
            if (next == Next::End) {
                it->finished = true;
                break;
            }
        }
        if (refs != nullptr) vz::writeRef(vz::refInFolder(it->folder, name), &refs[count]);
        if (names != nullptr && !vz::hfsNameFromBytes(name, &names[count]))
            names[count].length = 0; // a stray name: see Files.h
        count++;
    }
    // A full batch may still be the last: look one entry ahead.
    if (err == noErr && count == maximumObjects && !it->finished && !it->hasPending) {
        Next next = readEntry(*it, &it->pending, &err);
        if (next == Next::Entry) it->hasPending = true;
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
    DIR *stream      = iterator->stream;
    iterator->stream = nullptr;
    delete iterator;
    if (stream != nullptr && closedir(stream) != 0) return ioErr;
    return noErr;
}
