// Secrets.h: the passwords of a store, kept out of its world-readable file.
//
// The preferences store and the dynamic store are readable by every user of
// the machine; the passwords set in them are not. A store file never holds a
// value under AuthPassword: each is kept in the store's secrets file, "<store
// file>-secrets" beside it, mode 0600, and the dictionary that held it holds
// the marker kVZPropNetPPPAuthPasswordSecret instead, whose value is the
// password's secret ID (a random UUID string, which tells nothing of the
// password).
//
// The secrets file is a property list of its own: a dictionary from secret ID
// to a dictionary holding the password under AuthPassword, as it was set, and
// under "Path" the keys (array indices as numbers) that led from the top of
// the store to the dictionary it was set in. The path only lets a commit give
// an unchanged password at the same place its old ID again; reading follows
// the IDs alone, so a copied entity (a duplicated service or set) keeps its
// password.
//
// A new secrets file is owned by the store's owner. One that exists keeps its
// own owner and group, whoever owns the store now: a writer that may not give
// the store away makes it its own when it replaces it, and must not thereby
// come to own the passwords others set. A secrets file is never given to
// anyone but its owner: a writer that cannot keep the owner writes nothing.
//
// Invariants:
//   1. A secret ID always names the same password: a password set anew gets a
//      new ID. So an older store file never reads a newer password.
//   2. Every ID that the store file on disk names is in the secrets file on
//      disk, whenever a commit is interrupted (the order below).
//   3. Neither file, nor any temporary of either, is ever readable by anyone
//      but the secrets file's owner while it holds a password: temporaries
//      are made with mode 0600 and the store's temporary holds no password.
//
// A commit (writeStoreView) under the store's lock:
//   1. reads the secrets file as it is now;
//   2. replaces every AuthPassword of the tree by a marker: the ID of that
//      password at that path in the secrets file when it has one, else a new
//      ID;
//   3. writes the secrets file as it was plus the new IDs (only when that
//      adds any): a crash now leaves the old store, every ID of which is
//      still there (invariant 2), and unused new IDs;
//   4. writes the store file: the commit has happened;
//   5. writes the secrets file with only the IDs the new store names (only
//      when that removes any): a crash before this leaves IDs that nothing
//      names, which the next commit sweeps.
// A process that cannot read the secrets file (not its owner; or a file that
// does not parse) sees the markers. One that may not read it never writes it:
// its commit keeps the markers it read and is refused (1003) when the tree
// holds a password to keep. A secrets file that does not parse stops every
// commit (1001), as a damaged store stops every snapshot.
//
// A reader takes the store file, then the secrets file. When a marker is
// missing from the secrets file and the store file has changed meanwhile (a
// commit swept it in between), it reads both again. A marker that is missing
// otherwise stays in the tree as it is, and in the store, so that a secrets
// file restored later brings its passwords back.
#ifndef VZ_PLATFORM_SECRETS_H
#define VZ_PLATFORM_SECRETS_H

#include "FileIdentity.h"
#include "Runtime.h"

#include <new>
#include <string>
#include <sys/types.h>

namespace vz {

// A store's secrets file is its path with this suffix.
inline constexpr const char *kSecretsFileSuffix = "-secrets";
// The mode of a secrets file, whatever the store's mode.
inline constexpr mode_t kSecretsFileMode = 0600;

// The store at path as this process may see it, through the snapshot cache:
// the statuses of loadStoreSnapshot() for the store file; a secrets file that
// cannot be read is no error (its markers stay). The tree is immutable, and
// the same object while neither file changes.
[[nodiscard]] int loadStoreView(const std::string &path, FileIdentity *identity,
                                CFRef<CFDictionaryRef> *view) noexcept;

// The same, read afresh from both files (for the dynamic store, which is not
// cached).
[[nodiscard]] int readStoreView(const std::string &path, FileIdentity *identity,
                                CFRef<CFDictionaryRef> *view) noexcept;

// Whether this process may read the secrets file of the store at path: false
// only when the file is there and reading it is refused (EACCES, EPERM). May
// throw std::bad_alloc.
[[nodiscard]] bool maySeeSecrets(const std::string &path);

// What writeStoreView() did.
struct StoreWrite {
    bool     attempted = false; // a file was read or written: a failure may have left a trace
    bool     replaced  = false; // the new store file is in place: the commit has happened
    uint64_t hash      = 0;     // of the bytes written to the store file
};

// Writes view to the store at path and its secrets beside it (the commit
// above). The caller holds the store's lock and has checked that the store
// file is the one view was read from. An SCError status: 1001 for a tree XML
// cannot carry or a secrets file that does not parse (nothing attempted),
// 1003 for a secrets file this process may not read when the tree holds a
// password, or the status of the failed call.
// Once the store file is in place a later failure (syncing its folder) is
// reported with replaced set; sweeping the secrets file is not part of the
// commit, and its failure is not reported.
[[nodiscard]] int writeStoreView(const std::string &path, CFDictionaryRef view, mode_t defaultMode,
                                 bool makeFolders, StoreWrite *write) noexcept;

// A new random (version 4) UUID string in upper case; empty when the random
// source fails. May throw std::bad_alloc.
CFRef<CFStringRef> newUUIDString();

// The walks of a tree that rewrite markers and passwords share these.

// An object just made, or std::bad_alloc when it could not be.
template <typename T> CFRef<T> made(T ref)
{
    if (ref == nullptr) throw std::bad_alloc();
    return CFRef<T>(ref);
}

// The ID a marker holds, or nullptr when the dictionary holds none (a marker
// that is not a string names nothing and is left as it is).
CFStringRef markerOf(CFDictionaryRef dict) noexcept;

// An immutable copy of array with each element that change(element, index)
// gives a new value for (a CFRef<CFTypeRef>; empty: unchanged) replaced;
// empty when none changed. May throw std::bad_alloc.
template <typename Change> CFRef<CFTypeRef> arrayWithChanges(CFArrayRef array, Change change)
{
    CFRef<CFMutableArrayRef> copy;
    CFIndex                  count = CFArrayGetCount(array);
    for (CFIndex index = 0; index < count; index++) {
        if (CFRef<CFTypeRef> changed = change(CFArrayGetValueAtIndex(array, index), index)) {
            if (!copy) copy = made(CFArrayCreateMutableCopy(nullptr, 0, array));
            CFArraySetValueAtIndex(copy.get(), index, changed.get());
        }
    }
    if (!copy) return {};
    return CFRef<CFTypeRef>(made(CFArrayCreateCopy(nullptr, copy.get())).release());
}

} // namespace vz

#endif
