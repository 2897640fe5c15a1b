// AtomicFile.h: replacing a file atomically and durably.
//
// writeFileAtomically() leaves either the old file or the new one at the
// path, never a mixture, whatever happens (a crash, a full disk, a failed
// call), in this order:
//   1. make a temporary "<name>.tmp-XXXXXX" in the file's own folder (mkstemp), so
//      that the rename below stays within one file system;
//   2. write every byte (short writes and EINTR are continued);
//   3. fchmod it to the mode of the file it replaces, or the default mode
//      when there is none;
//   4. fsync it, then close it and check the close;
//   5. rename it over the path;
//   6. open the folder and fsync it, so that the new name survives a power
//      failure as well.
// Any failure before step 5 unlinks the temporary and leaves the file as it
// was. A failure in step 6 comes after the new file is in place: the error is
// reported (the replacement may not be durable) and *replaced says so.
//
// The path itself is replaced: when it is a symbolic link, the link becomes a
// regular file.
#ifndef VZ_PLATFORM_ATOMICFILE_H
#define VZ_PLATFORM_ATOMICFILE_H

#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

namespace vz {

// 0, or the errno of the step that failed. With makeFolders, missing folders
// of the path are made first (mode 0755). replaced may be NULL.
[[nodiscard]] int writeFileAtomically(const std::string &path, std::span<const uint8_t> bytes,
                                      mode_t defaultMode, bool makeFolders,
                                      bool *replaced) noexcept;

// Removes the temporaries that writers killed between steps 1 and 5 left
// beside path. Only for a caller holding the lock under which every writer of
// that file makes its temporaries: then no temporary can belong to a live
// writer. Best effort.
void removeLeftoverTemporaries(const std::string &path) noexcept;

} // namespace vz

#endif
