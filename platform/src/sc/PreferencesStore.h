// PreferencesStore.h: one snapshot of a preferences store file, its edits,
// its lock and its commit.
//
// A snapshot is the tree of the file as it was when the snapshot was taken,
// with the passwords of the secrets file this process may read (Secrets.h),
// shared with the caches until the first edit (SnapshotCache.h, PrefsTree.h). Its edits are private: other snapshots never see them, and
// it never sees theirs. The file is written only by commit():
//
//   1. Nothing changed since the snapshot was taken or last committed:
//      nothing is written, and that is success.
//   2. Under the store's lock (the caller's, or taken for the write and
//      released after it), the file must still be the one the snapshot was
//      taken from (FileIdentity.h); otherwise another writer committed since,
//      its change must not be lost, and the commit is refused with 3005.
//   3. The tree is written with writeStoreView() (Secrets.h), its passwords
//      to the secrets file and the rest to the store file, each replaced with
//      writeFileAtomically(): the old store or the new one survives any
//      failure or crash, never a mixture, and never without its passwords;
//      owner, group and mode are kept, 0644 for a new store, missing folders
//      are made. Once the new file has been renamed over the store the
//      commit has happened and succeeds, even if syncing the folder fails
//      after that: the snapshot adopts the new file.
//   4. After a failed write the snapshot is no longer trusted for writing:
//      later locks and commits through it are refused with 3005, as for a
//      stale snapshot, and only a fresh snapshot can write.
//
// A store file that exists but cannot be read (1003) or parsed (1001) makes
// open() fail, so no snapshot exists that could write over it.
//
// Marks (PreferencesMarks.cpp) are restore points in the snapshot's edits,
// kept as a stack: popMark(true) puts the tree back as it was when the mark
// was pushed, through the tree's undo log, which is kept only while a mark
// exists. A restore that cannot finish (out of memory) leaves the snapshot
// untrusted, as a failed write does: the edits it was to undo must never be
// committed.
#ifndef VZ_PLATFORM_PREFERENCESSTORE_H
#define VZ_PLATFORM_PREFERENCESSTORE_H

#include "FileIdentity.h"
#include "FileLock.h"
#include "PrefsTree.h"

#include <string>
#include <vector>

namespace vz {

// Every method returns an SCError status and may throw std::bad_alloc; the C
// entry points catch it.
class PreferencesStore {
  public:
    PreferencesStore() noexcept = default;

    [[nodiscard]] int  open(std::string path);
    const std::string &path() const noexcept { return path_; }

    // Reads. Borrowed results stay valid, and unchanged, while the store lives.
    [[nodiscard]] int getValue(CFStringRef key, CFPropertyListRef *value);
    [[nodiscard]] int copyKeyList(CFArrayRef *keys);
    [[nodiscard]] int pathGetValue(CFStringRef path, CFDictionaryRef *value);
    [[nodiscard]] int pathGetLink(CFStringRef path, CFStringRef *link);

    // Edits.
    [[nodiscard]] int setValue(CFStringRef key, CFPropertyListRef value, bool onlyIfNew);
    [[nodiscard]] int removeValue(CFStringRef key);
    [[nodiscard]] int pathSetValue(CFStringRef path, CFDictionaryRef value);
    [[nodiscard]] int pathSetLink(CFStringRef path, CFStringRef link);
    [[nodiscard]] int pathRemoveValue(CFStringRef path);
    [[nodiscard]] int pathCreateUniqueChild(CFStringRef prefix, CFStringRef *path);

    [[nodiscard]] int lock(bool wait);
    [[nodiscard]] int unlock();
    [[nodiscard]] int commit();

    // Marks. popMark() fails with 1002 when there is none.
    void              pushMark();
    [[nodiscard]] int popMark(bool restore);

  private:
    struct Mark {
        size_t       edits;    // the tree's recorded edits when the mark was pushed
        bool         changed;  // changed_ then
        FileIdentity identity; // identity_ then; a commit since changes it
    };

    [[nodiscard]] int checkNotStale();

    std::string      path_;
    FileIdentity     identity_; // of the file the tree was read from or last written to
    prefs::PrefsTree tree_;
    FileLock         lock_;
    bool             changed_   = false;
    bool             untrusted_ = false;

    std::vector<Mark> marks_; // innermost last
};

} // namespace vz

#endif
