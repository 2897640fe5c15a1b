// FileIdentity.cpp: identities and the hash of a file's bytes.
#include "FileIdentity.h"

#include "Syscalls.h"
#include "WholeFile.h"

#include <xxhash.h>

#include <cerrno>
#include <ctime>

namespace vz {

namespace {

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
    return XXH3_64bits(bytes.data(), bytes.size());
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
    int          error = readWholeFile(path, &contents);
    if (error == ENOENT) return 0; // gone since the stat: changed
    if (error != 0) return error;
    if (contents.identity.hash == identity->hash && identity->sameMetadata(contents.identity)) {
        identity->verifiedNs = contents.identity.verifiedNs;
        *unchanged           = true;
    }
    return 0;
}

} // namespace vz
