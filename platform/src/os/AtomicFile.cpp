// AtomicFile.cpp: the file a write replaces, and the temporary, write,
// owner, sync, rename, sync-folder sequence.
#include "AtomicFile.h"

#include "FileLock.h"
#include "Root.h"
#include "Runtime.h"
#include "SnapshotCache.h"
#include "Syscalls.h"
#include "UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
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

// As many links in a chain as the kernel follows before it gives up.
constexpr int kMaxLinkHops = 40;

std::string folderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

// The folder with every link and "." or ".." resolved: 0, or an errno.
int realFolder(const std::string &folder, std::string *real)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder.c_str(), nullptr),
                                                         std::free);
    if (!resolved) return errno;
    *real = resolved.get();
    return 0;
}

bool isWithin(const std::string &path, const std::string &folder)
{
    if (folder == "/") return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// Follows the links at path (step 1); the chain is resolved as the kernel
// would, each relative target against the folder of the link that holds it.
int resolveLinks(const std::string &path, std::string *target)
{
    std::string current = path;
    for (int hop = 0;; hop++) {
        struct stat info;
        if (sys::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) return errno;
            break; // nothing there yet: the write makes it
        }
        if (!S_ISLNK(info.st_mode)) break;
        if (hop == kMaxLinkHops) return ELOOP;
        std::vector<char> text(PATH_MAX);
        ssize_t           length = sys::readlink(current.c_str(), text.data(), text.size());
        if (length < 0) return errno;
        if (static_cast<size_t>(length) >= text.size()) return ENAMETOOLONG;
        std::string link(text.data(), static_cast<size_t>(length));
        if (link.empty()) return ENOENT;
        current = link.front() == '/' ? link : folderOf(current) + "/" + link;
    }
    if (current == path) {
        *target = path;
        return 0;
    }
    std::string name = nameOf(current);
    if (name.empty() || name == "." || name == "..") return EISDIR;
    std::string folder;
    if (int error = realFolder(folderOf(current), &folder); error != 0) return error;
    std::string resolved = (folder == "/" ? "" : folder) + "/" + name;
    std::string root     = rootDirectory();
    std::string allowed;
    if (int error = realFolder(root.empty() ? "/" : root, &allowed); error != 0) return error;
    bool inside = isWithin(resolved, allowed);
    if (!inside && realFolder(folderOf(path), &allowed) == 0) inside = isWithin(resolved, allowed);
    if (!inside) return EXDEV;
    *target = std::move(resolved);
    return 0;
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

// What the new file gets: the old file's owner, group and permission bits,
// or the default mode when there is no old file.
int keptAccess(const std::string &path, mode_t defaultMode, FileAccess *access) noexcept
{
    struct stat info;
    if (sys::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return EISDIR;
        access->owner = info.st_uid;
        access->group = info.st_gid;
        access->mode  = info.st_mode & 07777;
        return 0;
    }
    if (errno != ENOENT) return errno;
    access->mode = defaultMode;
    return 0;
}

// Step 4. A writer that may not give the file away keeps what it can (see
// the header), unless the owner is required.
int giveAccess(int fd, const FileAccess &access) noexcept
{
    constexpr uid_t kAnyOwner = static_cast<uid_t>(-1);
    constexpr gid_t kAnyGroup = static_cast<gid_t>(-1);
    if (access.owner != kAnyOwner || access.group != kAnyGroup) {
        if (sys::fchown(fd, access.owner, access.group) != 0) {
            if (errno != EPERM) return errno;
            if (access.required) {
                // Only the owner matters for a file that no one else may read.
                if (sys::fchown(fd, access.owner, kAnyGroup) != 0) return errno;
            } else if (access.group != kAnyGroup && sys::fchown(fd, kAnyOwner, access.group) != 0 &&
                       errno != EPERM) {
                return errno;
            }
        }
    }
    if (sys::fchmod(fd, access.mode) != 0) return errno;
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
                    bool makeFolders, bool *replaced, const FileAccess *access)
{
    if (makeFolders) {
        if (int error = makeParentFolders(path); error != 0) return error;
    }
    std::string target;
    if (int error = resolveLinks(path, &target); error != 0) return error;
    FileAccess given;
    if (access != nullptr) {
        given = *access;
    } else if (int error = keptAccess(target, defaultMode, &given); error != 0) {
        return error;
    }

    std::vector<char> name(target.begin(), target.end());
    name.insert(name.end(), kTemporarySuffix, kTemporarySuffix + std::strlen(kTemporarySuffix) + 1);
    UniqueFd fd(sys::mkstemp(name.data()));
    if (!fd.valid()) return errno;

    int error = writeAll(fd.get(), bytes);
    if (error == 0) error = giveAccess(fd.get(), given);
    if (error == 0 && sys::fsync(fd.get()) != 0) error = errno;
    if (error == 0) error = fd.closeChecked();
    if (error == 0 && sys::rename(name.data(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        fd.reset();
        (void)sys::unlink(name.data());
        return error;
    }
    *replaced = true;
    return syncFolder(folderOf(target));
}

} // namespace

int writeFileAtomically(const std::string &path, std::span<const uint8_t> bytes, mode_t defaultMode,
                        bool makeFolders, bool *replaced, const FileAccess *access) noexcept
{
    bool ignored = false;
    if (replaced == nullptr) replaced = &ignored;
    *replaced = false;
    // The process's own write is news to its held views, whatever comes of it.
    forgetHeldViews();
    return guarded(ENOMEM, [&] {
        return writeAtomically(path, bytes, defaultMode, makeFolders, replaced, access);
    });
}

int resolveReplacedFile(const std::string &path, std::string *target) noexcept
{
    return guarded(ENOMEM, [&] { return resolveLinks(path, target); });
}

void removeLeftoverTemporaries(const std::string &path) noexcept
{
    try {
        std::string file;
        if (resolveLinks(path, &file) != 0) file = path;
        std::string                          folder = folderOf(file);
        std::string                          stem   = nameOf(file) + kTemporaryMarker;
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
