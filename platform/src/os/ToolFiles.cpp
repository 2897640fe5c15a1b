// ToolFiles.cpp: the file facilities of VZPlatformTools.h, for the platform's
// own commands, over the same code the stores use.
#include "AtomicFile.h"
#include "FileLock.h"
#include "Runtime.h"
#include "WholeFile.h"

#include <VZPlatformTools.h>

#include <cerrno>
#include <cstring>

int VZFileCopyContents(const char *path, CFDataRef *contents) noexcept
{
    if (path == nullptr || contents == nullptr) return EINVAL;
    *contents = nullptr;
    return vz::guarded(ENOMEM, [&] {
        vz::FileContents file;
        if (int error = vz::readWholeFile(path, &file); error != 0) return error;
        *contents = CFDataCreate(nullptr, file.bytes.get(), static_cast<CFIndex>(file.size));
        return *contents != nullptr ? 0 : ENOMEM;
    });
}

int VZFileReplace(const char *path, CFDataRef contents, mode_t defaultMode,
                  Boolean *replaced) noexcept
{
    bool done = false;
    if (replaced != nullptr) *replaced = false;
    if (path == nullptr || contents == nullptr) return EINVAL;
    int error = vz::guarded(ENOMEM, [&] {
        std::span<const uint8_t> bytes(CFDataGetBytePtr(contents),
                                       static_cast<size_t>(CFDataGetLength(contents)));
        return vz::writeFileAtomically(path, bytes, defaultMode, false, &done);
    });
    if (replaced != nullptr) *replaced = done;
    return error;
}

int VZFileLockExisting(const char *lockPath, Boolean wait, int *descriptor) noexcept
{
    if (lockPath == nullptr || descriptor == nullptr) return EINVAL;
    *descriptor = -1;
    return vz::guarded(ENOMEM, [&] {
        vz::FileLock lock;
        int          error = 0;
        switch (lock.acquire(lockPath, wait != 0, &error, false)) {
        case vz::FileLock::Outcome::Locked:
            *descriptor = lock.releaseDescriptor();
            return 0;
        case vz::FileLock::Outcome::Busy:
            return EWOULDBLOCK;
        case vz::FileLock::Outcome::Failed:
            break;
        }
        return error;
    });
}

const char *VZFileErrorString(int error) noexcept
{
    if (error == EXDEV) return "the symbolic link leads out of the root";
    return std::strerror(error);
}
