// PrefsTree.h: the private, editable tree of one preferences snapshot.
//
// A snapshot starts from the shared immutable tree of the snapshot cache and
// copies on write: an edit copies only the dictionaries along the path it
// changes (each copy shallow, sharing every untouched child), so a snapshot
// of a large store costs nothing until it changes, and a change costs the
// path, not the store.
//
// Invariants:
//   1. The base tree is never changed, and is held for the snapshot's life,
//      so every value handed out from it stays valid.
//   2. Dictionaries in open_ are this snapshot's own copies, not yet handed
//      out; only they are edited in place. A copy's parent is always a copy
//      too, so the copies form a connected top of the tree.
//   3. A value handed out to a caller (expose) is frozen: taken out of open_
//      with everything below it and kept alive in kept_ until the snapshot
//      goes, so a caller's borrowed reference neither dangles nor changes
//      under it after a later edit.
//   4. Values set by callers are stored as immutable deep copies, so a
//      caller's later change of its own object does not reach the snapshot.
//   5. While recording, every change of an entry is in undo_ before it is
//      made: where the dictionary is (its real keys), the key, and the value
//      replaced (none for a new entry, a dictionary created along a path
//      included). The value replaced leaves open_, so it stays as it was.
//      Undoing entries newest first gives back the tree as it was before
//      them, entry for entry; the dictionaries along the way may be other
//      copies with the same content.
#ifndef VZ_PLATFORM_PREFSTREE_H
#define VZ_PLATFORM_PREFSTREE_H

#include "PrefsPath.h"
#include "Runtime.h"

#include <unordered_set>
#include <vector>

namespace vz::prefs {

class PrefsTree {
  public:
    PrefsTree() noexcept                    = default;
    PrefsTree(const PrefsTree &)            = delete;
    PrefsTree &operator=(const PrefsTree &) = delete;

    void            reset(CFRef<CFDictionaryRef> base) noexcept;
    CFDictionaryRef root() const noexcept { return root_.get(); }

    // Marks value, about to be handed to a caller, as frozen. Returns value.
    CFTypeRef expose(CFTypeRef value); // may throw std::bad_alloc

    // Sets key in the dictionary at the real keys (created where missing) to
    // an immutable copy of value. Status 1001 when a copy cannot be made.
    [[nodiscard]] int set(const Keys &real, CFStringRef key, CFTypeRef value);
    // Removes key from the dictionary at the real keys, which must exist.
    [[nodiscard]] int remove(const Keys &real, CFStringRef key);

    // The undo log (invariant 5). Turning recording off drops the log.
    void   setRecording(bool on) noexcept;
    size_t recordedEdits() const noexcept { return undo_.size(); }
    // Undoes the recorded edits after the first count, newest first. 1001
    // when a copy along a path cannot be made: the tree is then part way
    // back, every edit still recorded is still undoable.
    [[nodiscard]] int undoTo(size_t count) noexcept;

  private:
    struct Undo {
        Keys               real; // of the dictionary that changed
        CFRef<CFStringRef> key;
        CFRef<CFTypeRef>   old; // nullptr: the key was absent
    };

    CFMutableDictionaryRef ownedDictionary(const Keys &real, bool undoing = false);
    void                   forget(CFTypeRef value);
    void                   record(const Keys &real, size_t depth, CFStringRef key, CFTypeRef old);
    int                    undoOne(const Undo &undo);

    CFRef<CFDictionaryRef>           base_;
    CFRef<CFDictionaryRef>           root_;
    std::unordered_set<const void *> open_;
    std::vector<CFRef<CFTypeRef>>    kept_;
    std::vector<Undo>                undo_;
    bool                             recording_ = false;
};

} // namespace vz::prefs

#endif
