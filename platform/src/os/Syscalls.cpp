// Syscalls.cpp: the system call table and its fault injector.
#include "Syscalls.h"

#include <VZPlatformTesting.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vz::sys {

namespace {

int realOpen(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}
int realStat(const char *path, struct stat *info)
{
    return ::stat(path, info);
}
int realLstat(const char *path, struct stat *info)
{
    return ::lstat(path, info);
}
// getxattrat has no C library wrapper yet. Its number is the same on the
// architectures that share the generic table (and on x86-64); elsewhere, and
// on older kernels, it is ENOSYS and callers read by the whole path.
#if defined(__NR_getxattrat)
constexpr long kGetxattratNumber = __NR_getxattrat;
#elif (defined(__x86_64__) && defined(__LP64__)) || defined(__aarch64__) ||                        \
    (defined(__riscv) && __riscv_xlen == 64)
constexpr long kGetxattratNumber = 464;
#else
constexpr long kGetxattratNumber = -1;
#endif

// The kernel's struct xattr_args.
struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

ssize_t realGetxattrat(int folder, const char *path, const char *name, void *value, size_t size)
{
    if (kGetxattratNumber < 0) {
        errno = ENOSYS;
        return -1;
    }
    XattrArgs args = {reinterpret_cast<uintptr_t>(value), static_cast<uint32_t>(size), 0};
    return ::syscall(kGetxattratNumber, folder, path, 0u, name, &args, sizeof args);
}

// Temporaries are close-on-exec like every other descriptor of the platform.
int realMkstemp(char *pathTemplate)
{
    return ::mkostemp(pathTemplate, O_CLOEXEC);
}

const char *const kNames[] = {"open",    "close",   "read",   "write",    "fstat",
                              "stat",    "fchmod",  "fsync",  "rename",   "unlink",
                              "mkdir",   "mkstemp", "flock",  "getxattr", "readdir",
                              "fstatat", "lstat",   "fchown", "readlink", nullptr};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == static_cast<size_t>(Call::Count) + 1);

// The armed failure. `armed` is the fast-path flag; the rest is read and
// changed under the mutex.
struct Injector {
    std::atomic<bool> armed{false};
    std::mutex        mutex;
    int               call                                  = -1; // a Call, or -1 for every call
    long              countdown                             = 0;
    bool              persist                               = false;
    bool              fired                                 = false;
    int               error                                 = EIO;
    long              failures                              = 0;
    std::atomic<long> counts[static_cast<int>(Call::Count)] = {};
};

Injector &injector()
{
    static Injector instance;
    return instance;
}

// True when this call is to fail; errno is then set to the armed error.
bool injectFailure(Call call) noexcept
{
    Injector &in = injector();
    in.counts[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed);
    if (!in.armed.load(std::memory_order_relaxed)) return false;
    std::lock_guard<std::mutex> hold(in.mutex);
    if (in.call != -1 && in.call != static_cast<int>(call)) return false;
    bool fail = false;
    if (in.fired) {
        fail = in.persist;
    } else if (in.countdown == 0) {
        fail     = true;
        in.fired = true;
    } else {
        in.countdown--;
    }
    if (!fail) return false;
    in.failures++;
    errno = in.error;
    return true;
}

} // namespace

Table gSyscalls = {realOpen,  ::close,        ::read,    ::write,    ::fstat,
                   realStat,  ::fchmod,       ::fsync,   ::rename,   ::unlink,
                   ::mkdir,   realMkstemp,    ::flock,   ::getxattr, ::readdir,
                   ::fstatat, realGetxattrat, realLstat, ::fchown,   ::readlink};

const char *callName(Call call) noexcept
{
    return kNames[static_cast<int>(call)];
}

int open(const char *path, int flags, mode_t mode) noexcept
{
    if (injectFailure(Call::Open)) return -1;
    return gSyscalls.open(path, flags, mode);
}

int close(int fd) noexcept
{
    if (injectFailure(Call::Close)) {
        int error = errno;
        (void)gSyscalls.close(fd);
        errno = error;
        return -1;
    }
    return gSyscalls.close(fd);
}

ssize_t read(int fd, void *buffer, size_t count) noexcept
{
    if (injectFailure(Call::Read)) return -1;
    return gSyscalls.read(fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count) noexcept
{
    if (injectFailure(Call::Write)) return -1;
    return gSyscalls.write(fd, buffer, count);
}

int fstat(int fd, struct stat *info) noexcept
{
    if (injectFailure(Call::Fstat)) return -1;
    return gSyscalls.fstat(fd, info);
}

int stat(const char *path, struct stat *info) noexcept
{
    if (injectFailure(Call::Stat)) return -1;
    return gSyscalls.stat(path, info);
}

int fchmod(int fd, mode_t mode) noexcept
{
    if (injectFailure(Call::Fchmod)) return -1;
    return gSyscalls.fchmod(fd, mode);
}

int fsync(int fd) noexcept
{
    if (injectFailure(Call::Fsync)) return -1;
    return gSyscalls.fsync(fd);
}

int rename(const char *from, const char *to) noexcept
{
    if (injectFailure(Call::Rename)) return -1;
    return gSyscalls.rename(from, to);
}

int unlink(const char *path) noexcept
{
    if (injectFailure(Call::Unlink)) return -1;
    return gSyscalls.unlink(path);
}

int mkdir(const char *path, mode_t mode) noexcept
{
    if (injectFailure(Call::Mkdir)) return -1;
    return gSyscalls.mkdir(path, mode);
}

int mkstemp(char *pathTemplate) noexcept
{
    if (injectFailure(Call::Mkstemp)) return -1;
    return gSyscalls.mkstemp(pathTemplate);
}

int flock(int fd, int operation) noexcept
{
    if (injectFailure(Call::Flock)) return -1;
    return gSyscalls.flock(fd, operation);
}

ssize_t getxattr(const char *path, const char *name, void *value, size_t size) noexcept
{
    if (injectFailure(Call::Getxattr)) return -1;
    return gSyscalls.getxattr(path, name, value, size);
}

struct dirent *readdir(DIR *dir) noexcept
{
    if (injectFailure(Call::Readdir)) return nullptr;
    return gSyscalls.readdir(dir);
}

int fstatat(int folder, const char *path, struct stat *info, int flags) noexcept
{
    if (injectFailure(Call::Fstatat)) return -1;
    return gSyscalls.fstatat(folder, path, info, flags);
}

ssize_t getxattrat(int folder, const char *path, const char *name, void *value,
                   size_t size) noexcept
{
    if (injectFailure(Call::Getxattr)) return -1;
    return gSyscalls.getxattrat(folder, path, name, value, size);
}

bool getxattratWorks() noexcept
{
    using Function = decltype(Table::getxattrat);
    static std::atomic<Function> probed{nullptr};
    static std::atomic<bool>     works{false};
    Function                     current = gSyscalls.getxattrat;
    if (probed.load(std::memory_order_acquire) != current) {
        // Any answer of the file system, even "no such attribute" or "no
        // attributes here", shows that the call exists.
        char    value[1];
        int     saved = errno;
        ssize_t size  = current(AT_FDCWD, "/", "user.invisible", value, sizeof value);
        works.store(size >= 0 || errno == ENODATA || errno == ENOTSUP || errno == ERANGE,
                    std::memory_order_relaxed);
        errno = saved;
        probed.store(current, std::memory_order_release);
    }
    return works.load(std::memory_order_relaxed);
}

int lstat(const char *path, struct stat *info) noexcept
{
    if (injectFailure(Call::Lstat)) return -1;
    return gSyscalls.lstat(path, info);
}

int fchown(int fd, uid_t owner, gid_t group) noexcept
{
    if (injectFailure(Call::Fchown)) return -1;
    return gSyscalls.fchown(fd, owner, group);
}

ssize_t readlink(const char *path, char *buffer, size_t size) noexcept
{
    if (injectFailure(Call::Readlink)) return -1;
    return gSyscalls.readlink(path, buffer, size);
}

} // namespace vz::sys

using vz::sys::Call;

namespace {

int callIndex(const char *name) noexcept
{
    if (name == nullptr || std::strcmp(name, "*") == 0) return -1;
    for (int i = 0; i < static_cast<int>(Call::Count); i++) {
        if (std::strcmp(name, vz::sys::callName(static_cast<Call>(i))) == 0) return i;
    }
    return -2;
}

} // namespace

Boolean VZArmSyscallFailure(const char *name, long countdown, Boolean persist, int error) noexcept
{
    int index = callIndex(name);
    if (index == -2 || countdown < 0) return false;
    auto                       &in = vz::sys::injector();
    std::lock_guard<std::mutex> hold(in.mutex);
    in.call      = index;
    in.countdown = countdown;
    in.persist   = persist != 0;
    in.fired     = false;
    in.error     = error;
    in.failures  = 0;
    in.armed.store(true, std::memory_order_relaxed);
    return true;
}

void VZClearSyscallFailure(void) noexcept
{
    auto                       &in = vz::sys::injector();
    std::lock_guard<std::mutex> hold(in.mutex);
    in.armed.store(false, std::memory_order_relaxed);
    in.call  = -1;
    in.fired = false;
}

long VZGetSyscallFailureCount(void) noexcept
{
    auto                       &in = vz::sys::injector();
    std::lock_guard<std::mutex> hold(in.mutex);
    return in.failures;
}

long VZGetSyscallCallCount(const char *name) noexcept
{
    int index = callIndex(name);
    if (index < 0) return -1;
    return vz::sys::injector().counts[index].load(std::memory_order_relaxed);
}

const char *const *VZGetSyscallNames(void) noexcept
{
    return vz::sys::kNames;
}
