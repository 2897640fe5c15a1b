// WholeFile.cpp: bounded whole-file reads.
#include "WholeFile.h"

#include "Syscalls.h"
#include "UniqueFd.h"

#include <cerrno>
#include <fcntl.h>

namespace vz {

int readWholeFile(const std::string &path, size_t limit, WholeFile *file) noexcept
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused
    // below as not a regular file.
    UniqueFd fd(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) return errno;
    struct stat info;
    if (sys::fstat(fd.get(), &info) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return EINVAL;
    if (static_cast<uint64_t>(info.st_size) > limit) return EFBIG;

    // One byte more than the reported size, so that a file that grew shows
    // at the first read past it.
    size_t                                capacity = static_cast<size_t>(info.st_size) + 1;
    std::unique_ptr<uint8_t, FreeDeleter> bytes(static_cast<uint8_t *>(std::malloc(capacity)));
    if (!bytes) return ENOMEM;
    size_t size = 0;
    for (;;) {
        if (size == capacity) {
            if (size > limit) return EFBIG;
            size_t   bigger = capacity > limit / 2 ? limit + 1 : capacity * 2;
            uint8_t *grown  = static_cast<uint8_t *>(std::realloc(bytes.get(), bigger));
            if (grown == nullptr) return ENOMEM;
            (void)bytes.release();
            bytes.reset(grown);
            capacity = bigger;
        }
        ssize_t n = sys::read(fd.get(), bytes.get() + size, capacity - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        size += static_cast<size_t>(n);
    }
    if (size > limit) return EFBIG;
    file->bytes = std::move(bytes);
    file->size  = size;
    return 0;
}

} // namespace vz
