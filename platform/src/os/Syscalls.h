// Syscalls.h: the one table through which the platform makes the system calls
// of its file paths (reading a store, locking, the atomic durable commit,
// listing folders), so that tests can fail any of them.
//
// Each call goes through a function pointer of gSyscalls after asking the
// fault injector whether this call is to fail. An armed failure names one call
// (or every call), a countdown (0: the very next matching call) and an errno;
// a transient failure fires once, a persistent one fires on that call and on
// every later matching call until cleared. A failed call returns -1 with the
// armed errno and has no effect, except close, which still releases the
// descriptor (a failed close leaves a descriptor unusable on this system too).
// The injector costs one relaxed atomic load per call while nothing is armed.
//
// The test face is in VZPlatformTesting.h (VZArmSyscallFailure and friends).
#ifndef VZ_PLATFORM_SYSCALLS_H
#define VZ_PLATFORM_SYSCALLS_H

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace vz::sys {

enum class Call : int {
    Open,
    Close,
    Read,
    Write,
    Fstat,
    Stat,
    Fchmod,
    Fsync,
    Rename,
    Unlink,
    Mkdir,
    Mkstemp,
    Flock,
    Getxattr,
    Readdir,
    Fstatat,
    Lstat,
    Fchown,
    Readlink,
    Count
};

struct Table {
    int (*open)(const char *path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void *buffer, size_t count);
    ssize_t (*write)(int fd, const void *buffer, size_t count);
    int (*fstat)(int fd, struct stat *info);
    int (*stat)(const char *path, struct stat *info);
    int (*fchmod)(int fd, mode_t mode);
    int (*fsync)(int fd);
    int (*rename)(const char *from, const char *to);
    int (*unlink)(const char *path);
    int (*mkdir)(const char *path, mode_t mode);
    int (*mkstemp)(char *pathTemplate);
    int (*flock)(int fd, int operation);
    ssize_t (*getxattr)(const char *path, const char *name, void *value, size_t size);
    struct dirent *(*readdir)(DIR *dir);
    int (*fstatat)(int folder, const char *path, struct stat *info, int flags);
    // The attribute read relative to an open folder (Linux 6.13 and later);
    // -1 with ENOSYS where the kernel or the build has no such call.
    ssize_t (*getxattrat)(int folder, const char *path, const char *name, void *value, size_t size);
    int (*lstat)(const char *path, struct stat *info);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    ssize_t (*readlink)(const char *path, char *buffer, size_t size);
};
extern Table gSyscalls;

// The name tests use for a call ("open", "write", ...).
const char *callName(Call call) noexcept;

// The wrappers the platform calls. Each sets errno and returns -1 on failure,
// exactly as the system call does.
int     open(const char *path, int flags, mode_t mode = 0) noexcept;
int     close(int fd) noexcept;
ssize_t read(int fd, void *buffer, size_t count) noexcept;
ssize_t write(int fd, const void *buffer, size_t count) noexcept;
int     fstat(int fd, struct stat *info) noexcept;
int     stat(const char *path, struct stat *info) noexcept;
int     fchmod(int fd, mode_t mode) noexcept;
int     fsync(int fd) noexcept;
int     rename(const char *from, const char *to) noexcept;
int     unlink(const char *path) noexcept;
int     mkdir(const char *path, mode_t mode) noexcept;
int     mkstemp(char *pathTemplate) noexcept;
int     flock(int fd, int operation) noexcept;
ssize_t getxattr(const char *path, const char *name, void *value, size_t size) noexcept;
// NULL at the end of the folder with errno unchanged, or NULL with errno set.
struct dirent *readdir(DIR *dir) noexcept;
int            fstatat(int folder, const char *path, struct stat *info, int flags) noexcept;
// An attribute read relative to the open folder, following a link as
// getxattr does. It fails with the "getxattr" entry's armed failures: both are
// the one attribute read, made whichever way the kernel allows.
ssize_t getxattrat(int folder, const char *path, const char *name, void *value,
                   size_t size) noexcept;
// Whether getxattrat works on this kernel (asked of the table's function, so
// that an armed failure never decides it; asked again when a test puts
// another function in the table). Where it does not, read by the whole path.
bool    getxattratWorks() noexcept;
int     lstat(const char *path, struct stat *info) noexcept;
int     fchown(int fd, uid_t owner, gid_t group) noexcept;
ssize_t readlink(const char *path, char *buffer, size_t size) noexcept;

} // namespace vz::sys

#endif
