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
//   4. For a process that reads in one pass (holdFirstViews), a tree proven
//      current once is handed out again without a new proof, until the
//      process writes a file itself.
// VZFlushPlatformCaches() empties the cache, releasing the trees it holds,
// and ends holding first views.
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

// From now on (hold true), a file's tree proven current once is handed out
// again without a second proof: for a process that reads its stores in one
// pass and hears from no one while it does, a later look at a file could only
// meet a change that happened after the first one, which is indistinguishable
// from the file having changed after the process read it. hold false proves
// every snapshot again. A store written by the process itself is proven again
// at its next snapshot (forgetHeldViews).
void holdFirstViews(bool hold) noexcept;
// Drops the hold on every tree: the process has written a file.
void forgetHeldViews() noexcept;

} // namespace vz

#endif
