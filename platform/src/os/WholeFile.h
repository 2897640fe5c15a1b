// WholeFile.h: the one way the platform reads a file whole.
//
// Every whole-file read of the platform (a preferences store, the dynamic
// store, the system version, a registry snapshot, a property-list file by
// URL) goes through readWholeFile(), which refuses what could make a read
// endless or unbounded instead of reading it: anything that is not a regular
// file (a FIFO would block, a device such as /dev/zero never ends) and a
// regular file larger than kVZMaxFileBytes (64 MiB; a sparse file can claim
// terabytes). The file is opened without blocking and without becoming the
// controlling terminal, so even opening something odd returns at once.
//
// The bytes come with the identity of the file they were read from
// (FileIdentity.h): metadata taken before and after the read that agree, and
// the hash of the bytes, so a store's snapshot can later prove the file
// unchanged.
#ifndef VZ_PLATFORM_WHOLEFILE_H
#define VZ_PLATFORM_WHOLEFILE_H

#include "FileIdentity.h"
#include "UniqueFd.h"

#include <VZPlatformTools.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <sys/stat.h>

namespace vz {

inline constexpr size_t kMaxFileBytes = static_cast<size_t>(kVZMaxFileBytes);

struct FreeDeleter {
    void operator()(uint8_t *bytes) const noexcept { std::free(bytes); }
};

// A file's bytes in a block from malloc (never NULL after a successful read,
// even for an empty file), so that a data object can take the block over
// (kCFAllocatorMalloc), or in room the reader's caller lent (borrowed), and
// the identity of the file they were read from.
struct FileContents {
    FileIdentity                          identity; // hash and verifiedNs filled in
    std::unique_ptr<uint8_t, FreeDeleter> bytes;
    const uint8_t                        *borrowed = nullptr;
    size_t                                size     = 0;
    std::span<const uint8_t>              view() const noexcept
    {
        return {borrowed != nullptr ? borrowed : bytes.get(), size};
    }
};

// Room for a whole-file read to land in, lent by whoever uses the bytes next
// (the property-list reader's own buffer), so that they are not copied once
// more: at least capacity bytes, or nullptr when there is no memory.
using ReadRoom = std::function<void *(size_t capacity)>;

// Opens the file at path for reading as every whole-file read does, and
// checks it before a byte is read: 0 with *fd open and *info its metadata,
// or an errno: ENOENT when there is no file, EISDIR for a folder, EINVAL for
// anything else that is not a regular file, EFBIG for a file larger than
// kMaxFileBytes, or the errno of a failed call.
[[nodiscard]] int openBoundedFile(const std::string &path, UniqueFd *fd,
                                  struct stat *info) noexcept;

// Reads the regular file at path whole, with its identity. 0, or an errno:
// ENOENT when there is no file, EISDIR for a folder, EINVAL for anything
// else that is not a regular file, EFBIG for a file larger than
// kMaxFileBytes (before or while it is read), EAGAIN when the file kept
// changing while it was read, ENOMEM, or the errno of a failed call.
[[nodiscard]] int readWholeFile(const std::string &path, FileContents *contents) noexcept;
// The same into room (contents->borrowed): one piece of the file's size and
// a byte more, asked for once; a file that grows past it was changing.
[[nodiscard]] int readWholeFile(const std::string &path, FileContents *contents,
                                const ReadRoom &room) noexcept;

} // namespace vz

#endif
