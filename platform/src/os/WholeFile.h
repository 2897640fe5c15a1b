// WholeFile.h: reading a file whole, with a bound.
//
// Files that a caller names (a property list read by URL) are read whole
// into memory, so the reader takes only regular files (a FIFO or a device
// would never end) and at most a given number of bytes, checked both against
// the size the file reports and against what the reads return, since a file
// can grow while it is read.
#ifndef VZ_PLATFORM_WHOLEFILE_H
#define VZ_PLATFORM_WHOLEFILE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace vz {

// The most the platform reads of one file.
inline constexpr size_t kVZMaxFileBytes = size_t(64) * 1024 * 1024;

struct FreeDeleter {
    void operator()(uint8_t *bytes) const noexcept { std::free(bytes); }
};

// A file's bytes in a block from malloc (never NULL after a successful read,
// even for an empty file), so that a data object can take the block over.
struct WholeFile {
    std::unique_ptr<uint8_t, FreeDeleter> bytes;
    size_t                                size = 0;
};

// Reads the regular file at path whole: 0, or an errno: ENOENT (nothing
// there), EISDIR (a folder), EINVAL (not a regular file), EFBIG (more than
// limit bytes), ENOMEM, or the errno of a failed open or read.
[[nodiscard]] int readWholeFile(const std::string &path, size_t limit, WholeFile *file) noexcept;

} // namespace vz

#endif
