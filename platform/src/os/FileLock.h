// FileLock.h: an exclusive kernel lock on a store's lock file.
//
// The lock is flock() on the lock file, never the file's existence: the
// kernel drops it when its holder dies, so a crashed writer leaves no stale
// lock, and two open descriptions conflict even inside one process, so two
// sessions of one process exclude each other like two processes do. The lock
// file itself is created (mode 0644, with missing folders) and never removed;
// its content is empty and unused. A lock file that is a symbolic link is
// refused (ELOOP), so a link planted beside a store cannot make a writer
// create or lock a file elsewhere. The lock belongs to the open description:
// a child forked while it is held holds it too, until the child closes the
// descriptor or exits (exec closes it: the descriptor is close-on-exec).
#ifndef VZ_PLATFORM_FILELOCK_H
#define VZ_PLATFORM_FILELOCK_H

#include "UniqueFd.h"

#include <string>

namespace vz {

class FileLock {
  public:
    enum class Outcome { Locked, Busy, Failed };

    FileLock() noexcept                       = default;
    FileLock(FileLock &&) noexcept            = default;
    FileLock &operator=(FileLock &&) noexcept = default;

    // Takes the lock on path, waiting for another holder when wait is true;
    // with create false the lock file must exist already. Busy when it is
    // held and wait is false; Failed with errno in *error when the file
    // cannot be made, opened or locked.
    [[nodiscard]] Outcome acquire(const std::string &path, bool wait, int *error,
                                  bool create = true) noexcept;
    // The open lock file, handed over: the caller's close releases the lock.
    int  releaseDescriptor() noexcept { return fd_.releaseDescriptor(); }
    bool isHeld() const noexcept { return fd_.valid(); }
    // Releases the lock (closing the descriptor releases it).
    void release() noexcept { fd_.reset(); }

  private:
    UniqueFd fd_;
};

// Makes every missing folder of path's parent, like mkdir -p (mode 0755).
// 0 or an errno.
[[nodiscard]] int makeParentFolders(const std::string &path) noexcept;

} // namespace vz

#endif
