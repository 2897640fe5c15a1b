// SnapshotCache.h: the process-wide cache of the last parse of each store
// file, which makes a second snapshot of an unchanged file cost a stat and a
// lookup instead of a parse.
//
// Invariants:
//   1. An entry pairs a file's identity (FileIdentity.h) with the immutable
//      tree parsed from exactly the bytes that identity hashes.
//   2. A tree is handed out only when the file is proven to hold those bytes
//      still: by metadata alone when it can prove it, by the hash of a fresh
//      read otherwise. A changed file is never missed, even one rewritten
//      within one timestamp tick.
//   3. Trees are shared, never changed: snapshots that edit copy what they
//      change (PrefsTree.h).
// VZFlushPlatformCaches() empties the cache, releasing the trees it holds.
#ifndef VZ_PLATFORM_SNAPSHOTCACHE_H
#define VZ_PLATFORM_SNAPSHOTCACHE_H

#include "FileIdentity.h"
#include "Runtime.h"

#include <string>

namespace vz {

// The tree of the dictionary file at path, and the file's identity. The
// statuses of readDictionaryFile(): a missing file is an empty tree. With
// mayHoldSecretMarkers, whether any dictionary of the tree may have the key
// kVZPropNetPPPAuthPasswordSecret (false only when none has; told by the
// parse, so that the tree need not be walked to find out).
[[nodiscard]] int loadStoreSnapshot(const std::string &path, FileIdentity *identity,
                                    CFRef<CFDictionaryRef> *root,
                                    bool *mayHoldSecretMarkers = nullptr) noexcept;

} // namespace vz

#endif
