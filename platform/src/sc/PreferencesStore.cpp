// PreferencesStore.cpp: snapshots, path operations, the lock and the commit.
#include "PreferencesStore.h"

#include "Root.h"
#include "SCError.h"
#include "Secrets.h"
#include "StoreFile.h"
#include "SystemError.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

namespace vz {

using prefs::Keys;

namespace {

// A unique child's key is a random (version 4) UUID in upper case. A clash
// with a key in use is retried; this many clashes in a row mean the random
// source is broken.
constexpr int kUniqueChildAttempts = 16;

} // namespace

int PreferencesStore::open(std::string path)
{
    path_ = std::move(path);
    CFRef<CFDictionaryRef> root;
    int                    status = loadStoreView(path_, &identity_, &root);
    if (status != kSCStatusOK) return status;
    tree_.reset(std::move(root));
    return kSCStatusOK;
}

int PreferencesStore::getValue(CFStringRef key, CFPropertyListRef *value)
{
    CFTypeRef found = CFDictionaryGetValue(tree_.root(), key);
    if (found == nullptr) return kSCStatusNoKey;
    *value = tree_.expose(found);
    return kSCStatusOK;
}

int PreferencesStore::copyKeyList(CFArrayRef *keys)
{
    CFIndex                   count = CFDictionaryGetCount(tree_.root());
    std::vector<const void *> list(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(tree_.root(), list.data(), nullptr);
    *keys = CFArrayCreate(nullptr, list.data(), count, &kCFTypeArrayCallBacks);
    return *keys != nullptr ? kSCStatusOK : kSCStatusFailed;
}

int PreferencesStore::pathGetValue(CFStringRef path, CFDictionaryRef *value)
{
    // Readers walk the path's own bytes; only a path the walker does not
    // take is split into key objects.
    CFDictionaryRef node   = nullptr;
    int             status = prefs::lookUp(tree_.root(), path, false, &node, nullptr);
    if (status == prefs::kLookUpUnsupported) {
        Keys keys;
        if (!prefs::parsePath(path, &keys)) return kSCStatusInvalidArgument;
        status = prefs::walk(tree_.root(), keys, keys.size(), false, nullptr, &node);
    }
    if (status != kSCStatusOK) return status;
    *value = static_cast<CFDictionaryRef>(tree_.expose(node));
    return kSCStatusOK;
}

int PreferencesStore::pathGetLink(CFStringRef path, CFStringRef *link)
{
    CFDictionaryRef parent = nullptr;
    CFTypeRef       entry  = nullptr;
    int             status = prefs::lookUp(tree_.root(), path, true, &parent, &entry);
    if (status == prefs::kLookUpUnsupported) {
        Keys keys;
        if (!prefs::parsePath(path, &keys) || keys.empty()) return kSCStatusInvalidArgument;
        status = prefs::walk(tree_.root(), keys, keys.size() - 1, false, nullptr, &parent);
        if (status == kSCStatusOK) entry = CFDictionaryGetValue(parent, keys.back().get());
    }
    if (status != kSCStatusOK) return status;
    if (entry == nullptr) return kSCStatusNoKey;
    CFStringRef target = prefs::linkTarget(entry, &status);
    if (status != kSCStatusOK) return status;
    if (target == nullptr) return kSCStatusNoLink;
    *link = target;
    return kSCStatusOK;
}

int PreferencesStore::setValue(CFStringRef key, CFPropertyListRef value, bool onlyIfNew)
{
    if (onlyIfNew && CFDictionaryContainsKey(tree_.root(), key)) return kSCStatusKeyExists;
    int status = tree_.set(Keys(), key, value);
    if (status == kSCStatusOK) changed_ = true;
    return status;
}

int PreferencesStore::removeValue(CFStringRef key)
{
    if (!CFDictionaryContainsKey(tree_.root(), key)) return kSCStatusNoKey;
    int status = tree_.remove(Keys(), key);
    if (status == kSCStatusOK) changed_ = true;
    return status;
}

int PreferencesStore::pathSetValue(CFStringRef path, CFDictionaryRef value)
{
    Keys keys;
    if (!prefs::parsePath(path, &keys) || keys.empty()) return kSCStatusInvalidArgument;
    Keys            real;
    CFDictionaryRef parent = nullptr;
    int             status = prefs::walk(tree_.root(), keys, keys.size() - 1, true, &real, &parent);
    if (status == kSCStatusOK) status = tree_.set(real, keys.back().get(), value);
    if (status == kSCStatusOK) changed_ = true;
    return status;
}

int PreferencesStore::pathSetLink(CFStringRef path, CFStringRef link)
{
    const void            *keys[]   = {kSCResvLink};
    const void            *values[] = {link};
    CFRef<CFDictionaryRef> entry(CFDictionaryCreate(nullptr, keys, values, 1,
                                                    &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    if (!entry) return kSCStatusFailed;
    return pathSetValue(path, entry.get());
}

int PreferencesStore::pathRemoveValue(CFStringRef path)
{
    Keys keys;
    if (!prefs::parsePath(path, &keys) || keys.empty()) return kSCStatusInvalidArgument;
    Keys            real;
    CFDictionaryRef parent = nullptr;
    int status = prefs::walk(tree_.root(), keys, keys.size() - 1, false, &real, &parent);
    if (status != kSCStatusOK) return status;
    if (!CFDictionaryContainsKey(parent, keys.back().get())) return kSCStatusNoKey;
    status = tree_.remove(real, keys.back().get());
    if (status == kSCStatusOK) changed_ = true;
    return status;
}

int PreferencesStore::pathCreateUniqueChild(CFStringRef prefix, CFStringRef *path)
{
    Keys keys;
    if (!prefs::parsePath(prefix, &keys)) return kSCStatusInvalidArgument;
    Keys            real;
    CFDictionaryRef parent = nullptr;
    int             status = prefs::walk(tree_.root(), keys, keys.size(), true, &real, &parent);
    if (status != kSCStatusOK) return status;
    CFRef<CFStringRef> child;
    for (int attempt = 0; attempt < kUniqueChildAttempts && !child; attempt++) {
        child = newUUIDString();
        if (!child) return kSCStatusFailed;
        if (parent != nullptr && CFDictionaryContainsKey(parent, child.get())) child.reset();
    }
    if (!child) return kSCStatusFailed;
    CFRef<CFDictionaryRef> empty = emptyDictionary();
    if (!empty) return kSCStatusFailed;
    // The new path is built from the prefix as given (links and all), so
    // that the caller reads it back through the same links.
    bool               slash = CFStringHasSuffix(prefix, CFSTR("/"));
    CFRef<CFStringRef> result(CFStringCreateWithFormat(
        nullptr, nullptr, slash ? CFSTR("%@%@") : CFSTR("%@/%@"), prefix, child.get()));
    if (!result) return kSCStatusFailed;
    status = tree_.set(real, child.get(), empty.get());
    if (status != kSCStatusOK) return status;
    changed_ = true;
    *path    = result.release();
    return kSCStatusOK;
}

int PreferencesStore::checkNotStale()
{
    if (untrusted_) return kSCStatusStale;
    bool unchanged = false;
    if (int error = checkFileUnchanged(path_, &identity_, &unchanged); error != 0)
        return statusFromErrno(error);
    return unchanged ? kSCStatusOK : kSCStatusStale;
}

int PreferencesStore::lock(bool wait)
{
    if (lock_.isHeld()) return kSCStatusLocked;
    int error = 0;
    switch (lock_.acquire(path_ + kLockFileSuffix, wait, &error)) {
    case FileLock::Outcome::Locked:
        break;
    case FileLock::Outcome::Busy:
        return kSCStatusPrefsBusy;
    case FileLock::Outcome::Failed:
        return statusFromErrno(error);
    }
    int status = checkNotStale();
    if (status != kSCStatusOK) lock_.release();
    return status;
}

int PreferencesStore::unlock()
{
    if (!lock_.isHeld()) return kSCStatusNeedLock;
    lock_.release();
    return kSCStatusOK;
}

int PreferencesStore::commit()
{
    if (untrusted_) return kSCStatusStale;
    if (!changed_) return kSCStatusOK;

    FileLock writeLock; // taken here only when the caller holds none
    if (!lock_.isHeld()) {
        int error = 0;
        if (writeLock.acquire(path_ + kLockFileSuffix, true, &error) != FileLock::Outcome::Locked)
            return statusFromErrno(error);
    }
    int status = checkNotStale();
    if (status != kSCStatusOK) return status;

    StoreWrite write;
    status = writeStoreView(path_, tree_.root(), 0644, true, &write);
    // Once the rename is done the commit is done, even when syncing the folder
    // failed after it: reporting a failure then would make a caller that
    // retries on a fresh snapshot apply its edits a second time. A tree that
    // was refused before any file was touched leaves the snapshot as usable
    // as it was.
    if (status != kSCStatusOK && !write.replaced) {
        if (write.attempted) untrusted_ = true;
        return status;
    }
    // The new identity, taken under the lock: nobody else can have written.
    int64_t      before = wallClockNs();
    FileIdentity written;
    if (statIdentity(path_, &written) != 0 || !written.exists) {
        untrusted_ = true; // committed, but a later write could not be checked
    } else {
        written.hash       = write.hash;
        written.verifiedNs = before;
        identity_          = written;
    }
    changed_ = false;
    return kSCStatusOK;
}

} // namespace vz
