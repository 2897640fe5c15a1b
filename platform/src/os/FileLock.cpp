// FileLock.cpp: the lock file and the making of missing folders.
#include "FileLock.h"

#include "Runtime.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace vz {

int makeParentFolders(const std::string &path) noexcept
{
    return guarded(ENOMEM, [&]() -> int {
        size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0) return 0;
        std::string folder = path.substr(0, slash);
        struct stat info;
        if (sys::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
        if (errno != ENOENT) return errno;
        // Make the parents first, then this folder; a folder made meanwhile by
        // another process is fine.
        if (int error = makeParentFolders(folder); error != 0) return error;
        if (sys::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return errno;
        return 0;
    });
}

FileLock::Outcome FileLock::acquire(const std::string &path, bool wait, int *error,
                                    bool create) noexcept
{
    *error = create ? makeParentFolders(path) : 0;
    if (*error != 0) return Outcome::Failed;
    int      flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    UniqueFd fd(sys::open(path.c_str(), flags, 0644));
    if (!fd.valid()) {
        *error = errno;
        return Outcome::Failed;
    }
    for (;;) {
        if (sys::flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) break;
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return Outcome::Busy;
        *error = errno;
        return Outcome::Failed;
    }
    fd_ = std::move(fd);
    return Outcome::Locked;
}

} // namespace vz
