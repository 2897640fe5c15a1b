// AtomicFile.h: replacing a file atomically and durably, keeping what its
// administrator set on it.
//
// writeFileAtomically() leaves either the old file or the new one at the
// path, never a mixture, whatever happens (a crash, a full disk, a failed
// call), in this order:
//   1. find the file to replace: the path itself, or, when the path is a
//      symbolic link, the file the link leads to (through any chain of links,
//      as the kernel would follow them), so that the link keeps naming the
//      file it named;
//   2. make a temporary "<name>.tmp-XXXXXX" in that file's own folder
//      (mkstemp, mode 0600 from the start), so that the rename below stays
//      within one file system;
//   3. write every byte (short writes and EINTR are continued);
//   4. give it the owner and group of the file it replaces (fchown), then
//      that file's mode (fchmod, after fchown, which clears the set-ID bits);
//      a new file keeps the writer's owner and gets the default mode;
//   5. fsync it, then close it and check the close;
//   6. rename it over the file;
//   7. open the folder and fsync it, so that the new name survives a power
//      failure as well.
// Any failure before step 6 unlinks the temporary and leaves the file as it
// was. A failure in step 7 comes after the new file is in place: the error is
// reported (the replacement may not be durable) and *replaced says so.
//
// A link is followed only to a file under the root, or under the real folder
// the path itself is in; one that leads anywhere else is refused with EXDEV
// before anything is written, so that a link planted beside a store cannot
// make its writer replace a file elsewhere on the machine.
//
// Keeping the owner needs the right to give a file away. A writer without it
// (not root, and not the owner) still keeps the group when it is one of its
// own, and the mode; the file is then its own, as it was before owners were
// kept. A FileAccess that is required (a secrets file) keeps its owner or
// fails with EPERM; its group is kept where the writer may.
#ifndef VZ_PLATFORM_ATOMICFILE_H
#define VZ_PLATFORM_ATOMICFILE_H

#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

namespace vz {

// The owner, group and mode a replacement is to get.
struct FileAccess {
    uid_t  owner    = static_cast<uid_t>(-1); // -1: the writer's
    gid_t  group    = static_cast<gid_t>(-1); // -1: the writer's
    mode_t mode     = 0644;
    bool   required = false; // the owner and group must be given, or nothing is written
};

// 0, or the errno of the step that failed (EXDEV: a link that leads out of
// the root). With makeFolders, missing folders of the path are made first
// (mode 0755). access NULL: the replaced file's owner, group and mode, or
// defaultMode for a new file. replaced may be NULL.
[[nodiscard]] int writeFileAtomically(const std::string &path, std::span<const uint8_t> bytes,
                                      mode_t defaultMode, bool makeFolders, bool *replaced,
                                      const FileAccess *access = nullptr) noexcept;

// The file a write of path replaces (step 1 above): 0 with *target, or an
// errno (EXDEV for a link that leads out of the root, ELOOP for a chain of
// links too long).
[[nodiscard]] int resolveReplacedFile(const std::string &path, std::string *target) noexcept;

// Removes the temporaries that writers killed between steps 2 and 6 left
// beside path (beside the file its link leads to). Only for a caller holding
// the lock under which every writer of that file makes its temporaries: then
// no temporary can belong to a live writer. Best effort.
void removeLeftoverTemporaries(const std::string &path) noexcept;

} // namespace vz

#endif
