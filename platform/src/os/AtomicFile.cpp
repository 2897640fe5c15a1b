// AtomicFile.cpp: the temporary, write, sync, rename, sync-folder sequence.
#include "AtomicFile.h"

#include "FileLock.h"
#include "Runtime.h"
#include "Syscalls.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <vector>

namespace vz {

namespace {

// The temporary's name is the file's name, this marker and mkstemp's six
// characters. The marker keeps removeLeftoverTemporaries() away from files a
// person made beside the store ("preferences.plist.backup").
constexpr const char *kTemporaryMarker = ".tmp-";
constexpr const char *kTemporarySuffix = ".tmp-XXXXXX";

std::string folderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

int writeAll(int fd, std::span<const uint8_t> bytes) noexcept
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = sys::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO; // no progress and no error: do not spin
        done += static_cast<size_t>(n);
    }
    return 0;
}

// The mode to give the new file: the old file's permission bits, or the
// default when there is no old file.
int modeFor(const std::string &path, mode_t defaultMode, mode_t *mode) noexcept
{
    struct stat info;
    if (sys::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return EISDIR;
        *mode = info.st_mode & 07777;
        return 0;
    }
    if (errno != ENOENT) return errno;
    *mode = defaultMode;
    return 0;
}

int syncFolder(const std::string &folder) noexcept
{
    UniqueFd fd(sys::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return errno;
    if (sys::fsync(fd.get()) != 0) return errno;
    return fd.closeChecked();
}

int writeAtomically(const std::string &path, std::span<const uint8_t> bytes, mode_t defaultMode,
                    bool makeFolders, bool *replaced)
{
    if (makeFolders) {
        if (int error = makeParentFolders(path); error != 0) return error;
    }
    mode_t mode = 0;
    if (int error = modeFor(path, defaultMode, &mode); error != 0) return error;

    std::vector<char> name(path.begin(), path.end());
    name.insert(name.end(), kTemporarySuffix, kTemporarySuffix + std::strlen(kTemporarySuffix) + 1);
    UniqueFd fd(sys::mkstemp(name.data()));
    if (!fd.valid()) return errno;

    int error = writeAll(fd.get(), bytes);
    if (error == 0 && sys::fchmod(fd.get(), mode) != 0) error = errno;
    if (error == 0 && sys::fsync(fd.get()) != 0) error = errno;
    if (error == 0) error = fd.closeChecked();
    if (error == 0 && sys::rename(name.data(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        fd.reset();
        (void)sys::unlink(name.data());
        return error;
    }
    *replaced = true;
    return syncFolder(folderOf(path));
}

} // namespace

int writeFileAtomically(const std::string &path, std::span<const uint8_t> bytes, mode_t defaultMode,
                        bool makeFolders, bool *replaced) noexcept
{
    bool ignored = false;
    if (replaced == nullptr) replaced = &ignored;
    *replaced = false;
    return guarded(
        ENOMEM, [&] { return writeAtomically(path, bytes, defaultMode, makeFolders, replaced); });
}

void removeLeftoverTemporaries(const std::string &path) noexcept
{
    try {
        std::string folder = folderOf(path);
        std::string stem   = path.substr(path.rfind('/') + 1) + kTemporaryMarker;
        std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.c_str()), ::closedir);
        if (!dir) return;
        std::vector<std::string> leftovers;
        while (struct dirent *entry = ::readdir(dir.get())) {
            std::string_view name(entry->d_name);
            if (name.size() != stem.size() + 6 || name.substr(0, stem.size()) != stem) continue;
            bool random = true;
            for (char c : name.substr(stem.size())) {
                bool alnum =
                    (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
                random = random && alnum;
            }
            if (random) leftovers.emplace_back(folder + "/" + std::string(name));
        }
        dir.reset();
        for (const std::string &leftover : leftovers)
            (void)sys::unlink(leftover.c_str());
    } catch (const std::bad_alloc &) {
    }
}

} // namespace vz
