// WholeFile.cpp: bounded whole-file reads.
#include "WholeFile.h"

#include "Syscalls.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>

namespace vz {

namespace {

// How often a read is retried when the file changes while being read. Our own
// writers never change a file in place, so only a foreign writer gets here.
constexpr int kReadAttempts = 5;

// One attempt: 0, EAGAIN when the file changed during the read, or an errno.
int readOnce(const std::string &path, FileContents *contents, const ReadRoom *room) noexcept
{
    int64_t     started = wallClockNs();
    UniqueFd    fd;
    struct stat before;
    if (int error = openBoundedFile(path, &fd, &before); error != 0) return error;

    // One byte more than the file claims, so that growth shows as a full
    // buffer; the buffer grows should the file grow, never past the limit.
    // Lent room cannot grow: a file that outgrows it is read again.
    size_t                                capacity = static_cast<size_t>(before.st_size) + 1;
    std::unique_ptr<uint8_t, FreeDeleter> bytes;
    uint8_t                              *into = nullptr;
    if (room != nullptr) {
        into = static_cast<uint8_t *>((*room)(capacity));
    } else {
        bytes.reset(static_cast<uint8_t *>(std::malloc(capacity)));
        into = bytes.get();
    }
    if (into == nullptr) return ENOMEM;
    size_t size = 0;
    for (;;) {
        if (size == capacity) {
            if (room != nullptr) return EAGAIN;
            if (capacity > kMaxFileBytes) return EFBIG;
            size_t   bigger = capacity > kMaxFileBytes / 2 ? kMaxFileBytes + 1 : capacity * 2;
            uint8_t *grown  = static_cast<uint8_t *>(std::realloc(bytes.get(), bigger));
            if (grown == nullptr) return ENOMEM;
            (void)bytes.release();
            bytes.reset(grown);
            into     = grown;
            capacity = bigger;
        }
        ssize_t n = sys::read(fd.get(), into + size, capacity - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        size += static_cast<size_t>(n);
    }
    struct stat after;
    if (sys::fstat(fd.get(), &after) != 0) return errno;
    FileIdentity identity = FileIdentity::fromStat(after);
    if (!FileIdentity::fromStat(before).sameMetadata(identity) ||
        static_cast<int64_t>(size) != identity.size)
        return EAGAIN;
    identity.hash       = hashBytes({into, size});
    identity.verifiedNs = started;
    contents->identity  = identity;
    contents->bytes     = std::move(bytes);
    contents->borrowed  = room != nullptr ? into : nullptr;
    contents->size      = size;
    return 0;
}

} // namespace

int openBoundedFile(const std::string &path, UniqueFd *fd, struct stat *info) noexcept
{
    UniqueFd opened(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!opened.valid()) return errno;
    if (sys::fstat(opened.get(), info) != 0) return errno;
    if (S_ISDIR(info->st_mode)) return EISDIR;
    if (!S_ISREG(info->st_mode)) return EINVAL;
    if (info->st_size < 0 || static_cast<uint64_t>(info->st_size) > kMaxFileBytes) return EFBIG;
    *fd = std::move(opened);
    return 0;
}

int readWholeFile(const std::string &path, FileContents *contents) noexcept
{
    int error = EAGAIN;
    for (int attempt = 0; attempt < kReadAttempts && error == EAGAIN; attempt++)
        error = readOnce(path, contents, nullptr);
    return error;
}

int readWholeFile(const std::string &path, FileContents *contents, const ReadRoom &room) noexcept
{
    int error = EAGAIN;
    for (int attempt = 0; attempt < kReadAttempts && error == EAGAIN; attempt++)
        error = readOnce(path, contents, &room);
    return error;
}

} // namespace vz
