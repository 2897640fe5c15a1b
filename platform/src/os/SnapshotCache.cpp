// SnapshotCache.cpp: the cache of parsed store files.
#include "SnapshotCache.h"

#include "LentBuffer.h"

#include "PlistReader.h"
#include "StoreFile.h"
#include "SystemError.h"
#include "WholeFile.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace vz {

namespace {

struct Entry {
    FileIdentity           identity;
    CFRef<CFDictionaryRef> root;
    bool                   mayHoldSecretMarkers = true;
    bool                   held                 = false; // handed out again unproven
};

struct Cache {
    std::mutex                             mutex;
    std::unordered_map<std::string, Entry> entries;
};

std::atomic<bool> gHoldFirstViews{false};

void flushCache();

Cache &cache()
{
    static Cache *instance = [] {
        registerCacheFlusher(flushCache);
        return new Cache; // never destroyed: snapshots may outlive static destruction
    }();
    return *instance;
}

void flushCache()
{
    gHoldFirstViews.store(false, std::memory_order_relaxed);
    std::unordered_map<std::string, Entry> dropped;
    {
        std::lock_guard<std::mutex> hold(cache().mutex);
        dropped.swap(cache().entries);
    }
    // The trees are released here, outside the mutex.
}

int load(const std::string &path, FileIdentity *identity, CFRef<CFDictionaryRef> *root,
         bool *mayHoldSecretMarkers)
{
    Cache &c       = cache();
    bool   holding = gHoldFirstViews.load(std::memory_order_relaxed);
    if (holding) {
        std::lock_guard<std::mutex> guard(c.mutex);
        auto                        found = c.entries.find(path);
        if (found != c.entries.end() && found->second.held) {
            *identity             = found->second.identity;
            *root                 = found->second.root;
            *mayHoldSecretMarkers = found->second.mayHoldSecretMarkers;
            return kSCStatusOK;
        }
    }

    FileIdentity now;
    if (int error = statIdentity(path, &now); error != 0) return statusFromErrno(error);

    Entry cached;
    if (now.exists) {
        std::lock_guard<std::mutex> hold(c.mutex);
        auto                        found = c.entries.find(path);
        if (found != c.entries.end()) {
            if (found->second.identity.provesUnchanged(now)) {
                found->second.held    = holding;
                *identity             = found->second.identity;
                *root                 = found->second.root;
                *mayHoldSecretMarkers = found->second.mayHoldSecretMarkers;
                return kSCStatusOK;
            }
            cached = found->second;
        }
    }

    // The file is read straight into the parser's buffer: a store is neither
    // copied once more nor held twice while it is parsed.
    PlistReader  reader(kCFPropertyListImmutable, &lendingParserMemory());
    FileContents contents;
    int          error = readWholeFile(path, &contents,
                                       [&reader](size_t capacity) { return reader.buffer(capacity); });
    // An empty store; the file may have come back since, so the read says
    // nothing of its keys.
    if (error == ENOENT) {
        *mayHoldSecretMarkers = true;
        return readDictionaryFile(path, identity, root);
    }
    if (error != 0) return statusFromErrno(error);

    // Equal bytes parse to an equal tree, whatever the metadata says.
    CFRef<CFDictionaryRef> tree;
    bool                   markers = true;
    if (cached.root && cached.identity.hash == contents.identity.hash &&
        cached.identity.size == contents.identity.size) {
        tree    = cached.root;
        markers = cached.mayHoldSecretMarkers;
    } else {
        // The tree takes the place of the bytes as they are parsed.
        releaseAndLendParsedInput(reader);
        tree = parseDictionary(reader, contents.size);
        if (!tree) return kSCStatusFailed;
        markers = reader.mayHaveReadKey(kVZPropNetPPPAuthPasswordSecret);
    }
    {
        std::lock_guard<std::mutex> hold(c.mutex);
        c.entries[path] = Entry{contents.identity, tree, markers, holding};
    }
    *identity             = contents.identity;
    *root                 = std::move(tree);
    *mayHoldSecretMarkers = markers;
    return kSCStatusOK;
}

void dropHolds() noexcept
{
    std::lock_guard<std::mutex> guard(cache().mutex);
    for (auto &[path, entry] : cache().entries)
        entry.held = false;
}

} // namespace

void holdFirstViews(bool hold) noexcept
{
    gHoldFirstViews.store(hold, std::memory_order_relaxed);
    if (!hold) dropHolds();
}

void forgetHeldViews() noexcept
{
    if (gHoldFirstViews.load(std::memory_order_relaxed)) dropHolds();
}

int loadStoreSnapshot(const std::string &path, FileIdentity *identity, CFRef<CFDictionaryRef> *root,
                      bool *mayHoldSecretMarkers) noexcept
{
    bool ignored = true;
    return guarded(static_cast<int>(kSCStatusFailed), [&] {
        return load(path, identity, root,
                    mayHoldSecretMarkers != nullptr ? mayHoldSecretMarkers : &ignored);
    });
}

} // namespace vz
