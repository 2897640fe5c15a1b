// FileIdentity.h: what a snapshot remembers of the file it was read from, and
// the proof that a file is still what was read.
//
// An identity is the file's device, inode, size, modification and change
// times in nanoseconds, a 64-bit hash of its bytes, and the wall-clock time
// at which those bytes were known to go with that metadata. Metadata alone
// can lie: inodes are reused once a renamed-over file is freed, and file
// timestamps advance in coarse ticks (a clock tick on most file systems, a
// second or two on some), so a file rewritten within the tick of its last
// change can keep every field. The rule:
//
//   * different metadata: the file changed;
//   * equal metadata, and the file's last change lies more than the
//     timestamp guard before the bytes were verified: unchanged, since any
//     change after the verification would carry a later timestamp;
//   * otherwise the metadata cannot decide: read the bytes and compare their
//     hash.
//
// The guard is one tick of the file system's timestamps with room to spare.
// Timestamps that are whole milliseconds come from a file system that keeps
// coarse times (a second, two on some): two seconds. Others come from the
// kernel's coarse clock, which ticks at most every 10 ms: 50 ms. Keeping the
// guard short matters: until it has passed, every new snapshot of a store
// rereads and hashes the whole file, and the status probe takes one snapshot
// per service.
//
// A clock set back by more than the guard defeats the second rule; the cost
// of guarding against that too would be a hash of every file on every check.
#ifndef VZ_PLATFORM_FILEIDENTITY_H
#define VZ_PLATFORM_FILEIDENTITY_H

#include <cstdint>
#include <span>
#include <string>
#include <sys/stat.h>

namespace vz {

inline constexpr int64_t kCoarseTimestampGuardNs = 2'000'000'000;
inline constexpr int64_t kFineTimestampGuardNs   = 50'000'000;

struct FileIdentity {
    bool     exists     = false; // false: there was no file (an empty store)
    uint64_t device     = 0;
    uint64_t inode      = 0;
    int64_t  size       = 0;
    int64_t  mtimeNs    = 0;
    int64_t  ctimeNs    = 0;
    uint64_t hash       = 0;
    int64_t  verifiedNs = 0; // wall clock when bytes and metadata were seen together

    static FileIdentity fromStat(const struct stat &info) noexcept;
    bool                sameMetadata(const FileIdentity &other) const noexcept;
    // How long after its last change the metadata can prove the file
    // unchanged (the rule above).
    int64_t timestampGuardNs() const noexcept;
    // Equal metadata that also proves the bytes unchanged (the rule above).
    bool provesUnchanged(const FileIdentity &now) const noexcept;
};

// The wall clock (the clock file timestamps come from), in nanoseconds.
int64_t wallClockNs() noexcept;

// A fast 64-bit hash of bytes (XXH3), for telling versions of a file apart.
uint64_t hashBytes(std::span<const uint8_t> bytes) noexcept;

// The identity of whatever is at path now, without its hash: 0 with
// exists false when there is nothing, or an errno.
[[nodiscard]] int statIdentity(const std::string &path, FileIdentity *identity) noexcept;

// Whether the file at path is still the one identity describes: 0 with
// *unchanged set, or an errno. When the metadata cannot decide, the bytes are
// read and hashed; if they prove the file unchanged, identity->verifiedNs
// moves forward so that the next check can rely on the metadata.
[[nodiscard]] int checkFileUnchanged(const std::string &path, FileIdentity *identity,
                                     bool *unchanged) noexcept;

} // namespace vz

#endif
