// FileIdentity.cpp: identities, the hash of a file's bytes and whole-file
// reads.
#include "FileIdentity.h"

#include "Syscalls.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>

namespace vz {

namespace {

// How often a read is retried when the file changes while being read. Our own
// writers never change a store in place, so only a foreign writer gets here.
constexpr int kReadAttempts = 5;

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;

inline uint64_t rotateLeft(uint64_t x, int r) noexcept
{
    return (x << r) | (x >> (64 - r));
}
inline uint64_t load64(const uint8_t *p) noexcept
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint64_t round(uint64_t lane, uint64_t word) noexcept
{
    return rotateLeft(lane + word * kPrime2, 31) * kPrime1;
}
inline uint64_t finish(uint64_t h) noexcept
{
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    h ^= h >> 32;
    return h;
}

int64_t nanoseconds(const struct timespec &t) noexcept
{
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

FileIdentity FileIdentity::fromStat(const struct stat &info) noexcept
{
    FileIdentity identity;
    identity.exists  = true;
    identity.device  = static_cast<uint64_t>(info.st_dev);
    identity.inode   = static_cast<uint64_t>(info.st_ino);
    identity.size    = static_cast<int64_t>(info.st_size);
    identity.mtimeNs = nanoseconds(info.st_mtim);
    identity.ctimeNs = nanoseconds(info.st_ctim);
    return identity;
}

bool FileIdentity::sameMetadata(const FileIdentity &other) const noexcept
{
    if (exists != other.exists) return false;
    if (!exists) return true;
    return device == other.device && inode == other.inode && size == other.size &&
           mtimeNs == other.mtimeNs && ctimeNs == other.ctimeNs;
}

bool FileIdentity::provesUnchanged(const FileIdentity &now) const noexcept
{
    if (!sameMetadata(now)) return false;
    if (!exists) return true;
    // The modification time can be set to anything; the later of the two
    // timestamps is the one a change would have to pass.
    int64_t lastChange = mtimeNs > ctimeNs ? mtimeNs : ctimeNs;
    return lastChange < verifiedNs - timestampGuardNs();
}

int64_t FileIdentity::timestampGuardNs() const noexcept
{
    constexpr int64_t millisecond = 1'000'000;
    bool              coarse      = mtimeNs % millisecond == 0 && ctimeNs % millisecond == 0;
    return coarse ? kCoarseTimestampGuardNs : kFineTimestampGuardNs;
}

int64_t wallClockNs() noexcept
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

uint64_t hashBytes(std::span<const uint8_t> bytes) noexcept
{
    const uint8_t *p    = bytes.data();
    size_t         left = bytes.size();
    uint64_t       h;
    if (left >= 32) {
        uint64_t lanes[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
        while (left >= 32) {
            lanes[0] = round(lanes[0], load64(p));
            lanes[1] = round(lanes[1], load64(p + 8));
            lanes[2] = round(lanes[2], load64(p + 16));
            lanes[3] = round(lanes[3], load64(p + 24));
            p += 32;
            left -= 32;
        }
        h = rotateLeft(lanes[0], 1) + rotateLeft(lanes[1], 7) + rotateLeft(lanes[2], 12) +
            rotateLeft(lanes[3], 18);
        for (uint64_t lane : lanes)
            h = (h ^ round(0, lane)) * kPrime1 + kPrime4;
    } else {
        h = kPrime3;
    }
    h += static_cast<uint64_t>(bytes.size());
    while (left >= 8) {
        h = rotateLeft(h ^ round(0, load64(p)), 27) * kPrime1 + kPrime4;
        p += 8;
        left -= 8;
    }
    while (left > 0) {
        h = rotateLeft(h ^ (*p * kPrime3), 11) * kPrime1;
        p++;
        left--;
    }
    return finish(h);
}

int statIdentity(const std::string &path, FileIdentity *identity) noexcept
{
    struct stat info;
    if (sys::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return errno;
        *identity = FileIdentity();
        return 0;
    }
    *identity = FileIdentity::fromStat(info);
    return 0;
}

int readFileWithIdentity(const std::string &path, FileContents *contents) noexcept
{
    for (int attempt = 0; attempt < kReadAttempts; attempt++) {
        int64_t  started = wallClockNs();
        UniqueFd fd(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!fd.valid()) return errno;
        struct stat before;
        if (sys::fstat(fd.get(), &before) != 0) return errno;
        if (S_ISDIR(before.st_mode)) return EISDIR;
        if (!S_ISREG(before.st_mode)) return EINVAL;

        // Read until end of file, growing the buffer should the file have grown.
        size_t                     capacity = static_cast<size_t>(before.st_size) + 1;
        std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[capacity]);
        if (!bytes) return ENOMEM;
        size_t size = 0;
        for (;;) {
            if (size == capacity) {
                size_t                     bigger = capacity * 2;
                std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[bigger]);
                if (!grown) return ENOMEM;
                std::memcpy(grown.get(), bytes.get(), size);
                bytes    = std::move(grown);
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
        struct stat after;
        if (sys::fstat(fd.get(), &after) != 0) return errno;
        FileIdentity identity = FileIdentity::fromStat(after);
        if (!FileIdentity::fromStat(before).sameMetadata(identity) ||
            static_cast<int64_t>(size) != identity.size)
            continue;
        identity.hash       = hashBytes({bytes.get(), size});
        identity.verifiedNs = started;
        contents->identity  = identity;
        contents->bytes     = std::move(bytes);
        contents->size      = size;
        return 0;
    }
    return EAGAIN;
}

int checkFileUnchanged(const std::string &path, FileIdentity *identity, bool *unchanged) noexcept
{
    FileIdentity now;
    if (int error = statIdentity(path, &now); error != 0) return error;
    *unchanged = false;
    if (!identity->sameMetadata(now)) return 0;
    if (identity->provesUnchanged(now)) {
        *unchanged = true;
        return 0;
    }
    FileContents contents;
    int          error = readFileWithIdentity(path, &contents);
    if (error == ENOENT) return 0; // gone since the stat: changed
    if (error != 0) return error;
    if (contents.identity.hash == identity->hash && identity->sameMetadata(contents.identity)) {
        identity->verifiedNs = contents.identity.verifiedNs;
        *unchanged           = true;
    }
    return 0;
}

} // namespace vz
