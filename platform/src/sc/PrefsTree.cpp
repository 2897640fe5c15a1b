// PrefsTree.cpp: copy-on-write editing of a snapshot's tree.
#include "PrefsTree.h"

#include "Containers.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

namespace vz::prefs {

namespace {

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

} // namespace

void PrefsTree::reset(CFRef<CFDictionaryRef> base) noexcept
{
    root_ = base;
    base_ = std::move(base);
    open_.clear();
    kept_.clear();
    undo_.clear();
    recording_ = false;
}

CFTypeRef PrefsTree::expose(CFTypeRef value)
{
    if (open_.empty() || !open_.contains(value)) return value;
    // Frozen copies stay alive until the snapshot goes (invariant 3). Each is
    // kept before it leaves open_, so that running out of memory half way
    // leaves it open (edited in place later), never unheld.
    std::vector<CFTypeRef> pending{value};
    while (!pending.empty()) {
        CFTypeRef node = pending.back();
        pending.pop_back();
        if (!open_.contains(node)) continue;
        kept_.push_back(CFRef<CFTypeRef>::retain(node));
        open_.erase(node);
        for (const DictionaryEntry &entry : dictionaryEntries(static_cast<CFDictionaryRef>(node)))
            if (open_.contains(entry.value)) pending.push_back(entry.value);
    }
    return value;
}

void PrefsTree::forget(CFTypeRef value)
{
    if (!open_.contains(value)) return;
    std::vector<CFTypeRef> pending{value};
    while (!pending.empty()) {
        CFTypeRef node = pending.back();
        pending.pop_back();
        if (open_.erase(node) == 0) continue;
        for (const DictionaryEntry &entry : dictionaryEntries(static_cast<CFDictionaryRef>(node)))
            if (open_.contains(entry.value)) pending.push_back(entry.value);
    }
}

void PrefsTree::record(const Keys &real, size_t depth, CFStringRef key, CFTypeRef old)
{
    if (!recording_) return;
    undo_.push_back({Keys(real.begin(), real.begin() + static_cast<std::ptrdiff_t>(depth)),
                     CFRef<CFStringRef>::retain(key), CFRef<CFTypeRef>::retain(old)});
}

// The snapshot's own editable copy of the dictionary at the real keys,
// copying or creating the dictionaries along the way; nullptr when a copy
// cannot be made or a component is not a dictionary. Undoing creates
// nothing: it walks only paths that existed after the edit it undoes.
CFMutableDictionaryRef PrefsTree::ownedDictionary(const Keys &real, bool undoing)
{
    if (!open_.contains(root_.get())) {
        CFRef<CFMutableDictionaryRef> copy(CFDictionaryCreateMutableCopy(nullptr, 0, root_.get()));
        if (!copy) return nullptr;
        open_.insert(copy.get());
        root_.reset(copy.release());
    }
    auto parent = const_cast<CFMutableDictionaryRef>(root_.get());
    for (size_t depth = 0; depth < real.size(); depth++) {
        CFStringRef            key   = real[depth].get();
        CFTypeRef              child = CFDictionaryGetValue(parent, key);
        CFMutableDictionaryRef owned = nullptr;
        if (child != nullptr && open_.contains(child)) {
            owned = const_cast<CFMutableDictionaryRef>(static_cast<CFDictionaryRef>(child));
        } else {
            if (child != nullptr && !isDictionary(child)) return nullptr;
            if (child == nullptr && undoing) return nullptr;
            CFRef<CFMutableDictionaryRef> copy(
                child == nullptr
                    ? CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                &kCFTypeDictionaryValueCallBacks)
                    : CFDictionaryCreateMutableCopy(nullptr, 0,
                                                    static_cast<CFDictionaryRef>(child)));
            if (!copy) return nullptr;
            // A copy of a dictionary that is there changes no entry.
            if (child == nullptr) record(real, depth, key, nullptr);
            open_.insert(copy.get());
            // The child replaced here is either in the base tree or frozen:
            // held elsewhere either way (invariants 1 and 3).
            CFDictionarySetValue(parent, key, copy.get());
            owned = copy.get();
        }
        parent = owned;
    }
    return parent;
}

int PrefsTree::set(const Keys &real, CFStringRef key, CFTypeRef value)
{
    CFRef<CFPropertyListRef> copy(
        CFPropertyListCreateDeepCopy(nullptr, value, kCFPropertyListImmutable));
    if (!copy) return kSCStatusFailed;
    CFMutableDictionaryRef parent = ownedDictionary(real);
    if (parent == nullptr) return kSCStatusFailed;
    CFTypeRef old = CFDictionaryGetValue(parent, key);
    record(real, real.size(), key, old);
    if (old != nullptr) forget(old);
    CFDictionarySetValue(parent, key, copy.get());
    return kSCStatusOK;
}

int PrefsTree::remove(const Keys &real, CFStringRef key)
{
    CFMutableDictionaryRef parent = ownedDictionary(real);
    if (parent == nullptr) return kSCStatusFailed;
    CFTypeRef old = CFDictionaryGetValue(parent, key);
    if (old == nullptr) return kSCStatusNoKey;
    record(real, real.size(), key, old);
    forget(old);
    CFDictionaryRemoveValue(parent, key);
    return kSCStatusOK;
}

void PrefsTree::setRecording(bool on) noexcept
{
    recording_ = on;
    if (!on) undo_.clear();
}

int PrefsTree::undoOne(const Undo &undo)
{
    CFMutableDictionaryRef parent = ownedDictionary(undo.real, true);
    if (parent == nullptr) return kSCStatusFailed;
    // The value there now was made by the edits being undone; the one put
    // back left open_ when it was replaced, and stays frozen.
    if (CFTypeRef now = CFDictionaryGetValue(parent, undo.key.get())) forget(now);
    if (undo.old) {
        CFDictionarySetValue(parent, undo.key.get(), undo.old.get());
    } else {
        CFDictionaryRemoveValue(parent, undo.key.get());
    }
    return kSCStatusOK;
}

int PrefsTree::undoTo(size_t count) noexcept
{
    return guarded(static_cast<int>(kSCStatusFailed), [&] {
        while (undo_.size() > count) {
            int status = undoOne(undo_.back());
            if (status != kSCStatusOK) return status;
            undo_.pop_back();
        }
        return static_cast<int>(kSCStatusOK);
    });
}

} // namespace vz::prefs
