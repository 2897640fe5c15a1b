// FileRefs.h: what an FSRef holds, and the table of folders behind it.
//
// An FSRef is a value the caller copies freely and never releases, so it
// cannot own memory. It holds the index of its folder in a process-wide table
// of folder paths and the item's name, inline (a Linux name is at most 255
// bytes). Folders are entered once and kept for the life of the process:
// their number is that of the folders a program looks into, not of the files
// it lists, so the table stays small while a listing of thousands of files
// makes no allocation per file. A ref with an empty name names the file
// system's root itself.
//
// Refs hold absolute paths: one made under one root keeps naming the same
// item when the root changes.
//
// While an iterator lists a folder, the table also holds its listing (see
// FolderListing.h), through which the catalog calls reach that folder's
// items by name.
#ifndef VZ_PLATFORM_FILEREFS_H
#define VZ_PLATFORM_FILEREFS_H

#include <CoreServices/Files.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vz {

class FolderListing;

// Trivial, so that it moves in and out of an FSRef with memcpy.
struct RefBody {
    uint32_t tag;        // kRefTag in every ref the platform made
    uint32_t folder;     // index in the folder table
    uint16_t nameLength; // bytes of name
    char     name[NAME_MAX + 1];

    std::string_view nameView() const noexcept { return {name, nameLength}; }
};
static_assert(sizeof(RefBody) <= sizeof(FSRef), "an FSRef must hold a RefBody");

// The index of the folder at the absolute path folderPath, entered in the
// table on first use. May throw std::bad_alloc.
uint32_t internFolder(const std::string &folderPath);

// The ref of the item at path (no trailing "/", "." or ".." components; a
// relative path is taken from the current folder); nothing when its last
// component is longer than a name can be. May throw std::bad_alloc.
std::optional<RefBody> refForPath(std::string_view path);
// The ref of the item name in an entered folder, as a body or written
// straight into *ref.
RefBody refInFolder(uint32_t folder, std::string_view name) noexcept;
void    writeRefInFolder(uint32_t folder, std::string_view name, FSRef *ref) noexcept;

// The ref's body, or nothing when ref was not made by the platform. The name
// of a body read back is followed by a NUL. With listing, also the listing
// open on the ref's folder, or null.
std::optional<RefBody> readRef(const FSRef                    *ref,
                               std::shared_ptr<FolderListing> *listing = nullptr) noexcept;
void                   writeRef(const RefBody &body, FSRef *ref) noexcept;

// The absolute path of a ref's folder and of the item. May throw
// std::bad_alloc.
std::string folderPath(const RefBody &body);
std::string itemPath(const RefBody &body);

// Makes listing the one the catalog calls use for the folder's items, until
// it is withdrawn (an earlier listing of the same folder is set aside).
void registerListing(uint32_t folder, std::shared_ptr<FolderListing> listing) noexcept;
// Withdraws listing, if it is still the folder's.
void withdrawListing(uint32_t folder, const FolderListing *listing) noexcept;

} // namespace vz

#endif
