// Secrets.cpp: revealing and concealing the passwords of a store tree, the
// cache of revealed trees, and the commit of a store with its secrets file.
#include "Secrets.h"

#include "AtomicFile.h"
#include "Containers.h"
#include "SCError.h"
#include "SnapshotCache.h"
#include "StoreFile.h"
#include "Syscalls.h"
#include "SystemError.h"
#include "UniqueFd.h"
#include "WholeFile.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/random.h>
#include <unordered_map>
#include <vector>

namespace vz {

namespace {

// A reader that finds a marker missing while the store file changes under it
// reads both files again, this many times at most.
constexpr int kReadAttempts = 3;
// A new secret ID that clashes with one in use is drawn again; this many
// clashes in a row mean the random source is broken.
constexpr int kNewIDAttempts = 16;

CFStringRef secretPathKey()
{
    return CFSTR("Path");
}

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

bool isArray(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFArrayGetTypeID();
}

bool isString(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFStringGetTypeID();
}

bool holdsMarker(CFTypeRef value)
{
    if (isDictionary(value)) {
        auto dict = static_cast<CFDictionaryRef>(value);
        if (!dictionaryHoldsObjects(dict)) return false;
        if (markerOf(dict) != nullptr) return true;
        for (const DictionaryEntry &entry : dictionaryEntries(dict))
            if (holdsMarker(entry.value)) return true;
    } else if (isArray(value) && hasStandardCallBacks(value)) {
        for (const void *element : arrayValues(static_cast<CFArrayRef>(value)))
            if (holdsMarker(element)) return true;
    }
    return false;
}

// The tree with every marker whose ID the secrets name replaced by the
// password; untouched parts are shared. nullptr: nothing to change.
class Revealer {
  public:
    explicit Revealer(CFDictionaryRef secrets) : secrets_(secrets) {}
    long unresolved() const { return unresolved_; }

    CFRef<CFTypeRef> reveal(CFTypeRef value)
    {
        if (isDictionary(value)) return revealDictionary(static_cast<CFDictionaryRef>(value));
        if (!isArray(value) || !hasStandardCallBacks(value)) return {};
        return arrayWithChanges(static_cast<CFArrayRef>(value),
                                [this](const void *element, CFIndex) { return reveal(element); });
    }

  private:
    CFRef<CFTypeRef> revealDictionary(CFDictionaryRef dict)
    {
        if (!dictionaryHoldsObjects(dict)) return {};
        CFRef<CFMutableDictionaryRef> copy;
        for (const DictionaryEntry &entry : dictionaryEntries(dict)) {
            if (CFRef<CFTypeRef> changed = reveal(entry.value)) {
                if (!copy) copy = made(CFDictionaryCreateMutableCopy(nullptr, 0, dict));
                CFDictionarySetValue(copy.get(), entry.key, changed.get());
            }
        }
        // A password set beside a marker is the one the store holds.
        CFStringRef id = markerOf(dict);
        if (id != nullptr && !CFDictionaryContainsKey(dict, kSCPropNetPPPAuthPassword)) {
            CFTypeRef secret   = CFDictionaryGetValue(secrets_, id);
            CFTypeRef password = isDictionary(secret)
                                     ? CFDictionaryGetValue(static_cast<CFDictionaryRef>(secret),
                                                            kSCPropNetPPPAuthPassword)
                                     : nullptr;
            if (password == nullptr) {
                unresolved_++;
            } else {
                if (!copy) copy = made(CFDictionaryCreateMutableCopy(nullptr, 0, dict));
                CFDictionaryRemoveValue(copy.get(), kVZPropNetPPPAuthPasswordSecret);
                CFDictionarySetValue(copy.get(), kSCPropNetPPPAuthPassword, password);
            }
        }
        if (!copy) return {};
        return CFRef<CFTypeRef>(made(CFDictionaryCreateCopy(nullptr, copy.get())).release());
    }

    CFDictionaryRef secrets_;
    long            unresolved_ = 0;
};

// The tree with every password replaced by its marker (step 2 of a commit),
// and the secrets it names.
class Concealer {
  public:
    // known: the secrets file as it is, or nullptr when it cannot be read.
    explicit Concealer(CFDictionaryRef known) : known_(known) {}

    CFRef<CFTypeRef> conceal(CFTypeRef value)
    {
        if (isDictionary(value)) return concealDictionary(static_cast<CFDictionaryRef>(value));
        if (!isArray(value) || !hasStandardCallBacks(value)) return {};
        auto                     array = static_cast<CFArrayRef>(value);
        CFRef<CFMutableArrayRef> copy;
        CFIndex                  index = 0;
        for (const void *element : arrayValues(array)) {
            path_.push_back(CFRef<CFTypeRef>(
                made(CFNumberCreate(nullptr, kCFNumberCFIndexType, &index)).release()));
            CFRef<CFTypeRef> changed = conceal(element);
            path_.pop_back();
            if (changed) {
                if (!copy) copy = made(CFArrayCreateMutableCopy(nullptr, 0, array));
                CFArraySetValueAtIndex(copy.get(), index, changed.get());
            }
            index++;
        }
        if (!copy) return {};
        return CFRef<CFTypeRef>(made(CFArrayCreateCopy(nullptr, copy.get())).release());
    }

    // ID -> secret for every password the concealed tree names; nullptr when
    // it names none (made only when needed, so that a store without
    // passwords costs its commit nothing).
    CFDictionaryRef secrets() const { return secrets_.get(); }
    // The IDs of markers that the tree held without their password (read by a
    // process that could not reveal them).
    const std::vector<CFRef<CFStringRef>> &kept() const { return kept_; }

  private:
    CFRef<CFTypeRef> concealDictionary(CFDictionaryRef dict)
    {
        if (!dictionaryHoldsObjects(dict)) return {};
        CFRef<CFMutableDictionaryRef> copy;
        for (const DictionaryEntry &entry : dictionaryEntries(dict)) {
            path_.push_back(CFRef<CFTypeRef>::retain(entry.key));
            CFRef<CFTypeRef> changed = conceal(entry.value);
            path_.pop_back();
            if (changed) {
                if (!copy) copy = made(CFDictionaryCreateMutableCopy(nullptr, 0, dict));
                CFDictionarySetValue(copy.get(), entry.key, changed.get());
            }
        }
        CFTypeRef password = CFDictionaryGetValue(dict, kSCPropNetPPPAuthPassword);
        if (password != nullptr) {
            CFRef<CFStringRef> id = keep(password);
            if (!copy) copy = made(CFDictionaryCreateMutableCopy(nullptr, 0, dict));
            CFDictionaryRemoveValue(copy.get(), kSCPropNetPPPAuthPassword);
            CFDictionarySetValue(copy.get(), kVZPropNetPPPAuthPasswordSecret, id.get());
        } else if (CFStringRef id = markerOf(dict)) {
            kept_.push_back(CFRef<CFStringRef>::retain(id));
        }
        if (!copy) return {};
        return CFRef<CFTypeRef>(made(CFDictionaryCreateCopy(nullptr, copy.get())).release());
    }

    // The ID of the password at the current path: the one the secrets file
    // has for it there, or a new one.
    CFRef<CFStringRef> keep(CFTypeRef password)
    {
        std::vector<const void *> keys;
        for (const CFRef<CFTypeRef> &key : path_)
            keys.push_back(key.get());
        CFRef<CFArrayRef>  path = made(CFArrayCreate(
             nullptr, keys.data(), static_cast<CFIndex>(keys.size()), &kCFTypeArrayCallBacks));
        CFRef<CFStringRef> id;
        if (known_ != nullptr) {
            for (const DictionaryEntry &entry : dictionaryEntries(known_)) {
                if (!isString(entry.key) || !isDictionary(entry.value)) continue;
                auto secret = static_cast<CFDictionaryRef>(entry.value);
                if (secrets_ && CFDictionaryContainsKey(secrets_.get(), entry.key)) continue;
                CFTypeRef where = CFDictionaryGetValue(secret, secretPathKey());
                CFTypeRef what  = CFDictionaryGetValue(secret, kSCPropNetPPPAuthPassword);
                if (where != nullptr && what != nullptr && CFEqual(where, path.get()) &&
                    CFEqual(what, password)) {
                    id = CFRef<CFStringRef>::retain(static_cast<CFStringRef>(entry.key));
                    break;
                }
            }
        }
        for (int attempt = 0; !id && attempt < kNewIDAttempts; attempt++) {
            id = newUUIDString();
            if (!id) throw std::bad_alloc(); // no random source: nothing can be kept
            if ((known_ != nullptr && CFDictionaryContainsKey(known_, id.get())) ||
                (secrets_ && CFDictionaryContainsKey(secrets_.get(), id.get())))
                id.reset();
        }
        if (!id) throw std::bad_alloc();
        const void            *secretKeys[]   = {secretPathKey(), kSCPropNetPPPAuthPassword};
        const void            *secretValues[] = {path.get(), password};
        CFRef<CFDictionaryRef> secret = made(CFDictionaryCreate(nullptr, secretKeys, secretValues,
                                                                2, &kCFTypeDictionaryKeyCallBacks,
                                                                &kCFTypeDictionaryValueCallBacks));
        if (!secrets_)
            secrets_ = made(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                      &kCFTypeDictionaryValueCallBacks));
        CFDictionarySetValue(secrets_.get(), id.get(), secret.get());
        return id;
    }

    CFDictionaryRef                 known_;
    CFRef<CFMutableDictionaryRef>   secrets_;
    std::vector<CFRef<CFStringRef>> kept_;
    std::vector<CFRef<CFTypeRef>>   path_;
};

std::string secretsPathOf(const std::string &storePath)
{
    return storePath + kSecretsFileSuffix;
}

// A loader also says whether the tree may hold a marker at all (a parse can
// tell without a walk of the tree).
using Loader = int (*)(const std::string &path, FileIdentity *identity,
                       CFRef<CFDictionaryRef> *root, bool *mayHoldMarkers) noexcept;

int readDictionaryFileMayHoldMarkers(const std::string &path, FileIdentity *identity,
                                     CFRef<CFDictionaryRef> *root, bool *mayHoldMarkers) noexcept
{
    *mayHoldMarkers = true;
    return readDictionaryFile(path, identity, root);
}

// The last revealed tree of each store path, so that a repeated snapshot of
// unchanged files costs a stat of each and a lookup, not a walk of the tree.
struct Revealed {
    CFRef<CFDictionaryRef> stored;          // the store's tree, as the snapshot cache shares it
    bool                   markers = false; // whether stored holds a marker at all
    CFRef<CFDictionaryRef> secrets;         // the secrets tree view was revealed from
    CFRef<CFDictionaryRef> view;
};

struct RevealedCache {
    std::mutex                                mutex;
    std::unordered_map<std::string, Revealed> entries;
};

void flushRevealed();

RevealedCache &revealedCache()
{
    static RevealedCache *instance = [] {
        registerCacheFlusher(flushRevealed);
        return new RevealedCache; // never destroyed, as the snapshot cache
    }();
    return *instance;
}

void flushRevealed()
{
    std::unordered_map<std::string, Revealed> dropped;
    {
        std::lock_guard<std::mutex> hold(revealedCache().mutex);
        dropped.swap(revealedCache().entries);
    }
}

int viewOf(const std::string &path, Loader load, bool cached, FileIdentity *identity,
           CFRef<CFDictionaryRef> *view)
{
    for (int attempt = 1;; attempt++) {
        CFRef<CFDictionaryRef> stored;
        bool                   mayHoldMarkers = true;
        int                    status         = load(path, identity, &stored, &mayHoldMarkers);
        if (status != kSCStatusOK) return status;

        Revealed entry;
        if (cached) {
            std::lock_guard<std::mutex> hold(revealedCache().mutex);
            auto                        found = revealedCache().entries.find(path);
            if (found != revealedCache().entries.end()) entry = found->second;
        }
        // A store without markers (most of them) is its own view: nothing to
        // reveal, nothing more to read, and the cache already says so.
        bool known = entry.stored.get() == stored.get();
        if (known && !entry.markers) {
            *view = std::move(stored);
            return kSCStatusOK;
        }
        if (!known) entry = Revealed{stored, mayHoldMarkers && holdsMarker(stored.get()), {}, {}};
        CFRef<CFDictionaryRef> secrets;
        FileIdentity           ignored;
        bool                   ignoredHint = true;
        // A secrets file this process may not read (or that does not parse)
        // reveals nothing: the markers stay.
        if (!entry.markers ||
            load(secretsPathOf(path), &ignored, &secrets, &ignoredHint) != kSCStatusOK) {
            *view = stored;
        } else {
            if (!entry.view || entry.secrets.get() != secrets.get()) {
                Revealer         revealer(secrets.get());
                CFRef<CFTypeRef> revealed = revealer.reveal(stored.get());
                if (revealer.unresolved() > 0 && attempt < kReadAttempts) {
                    FileIdentity now;
                    if (statIdentity(path, &now) == 0 && !now.sameMetadata(*identity)) continue;
                }
                entry.secrets = secrets;
                entry.view =
                    revealed
                        ? CFRef<CFDictionaryRef>(static_cast<CFDictionaryRef>(revealed.release()))
                        : stored;
            }
            *view = entry.view;
        }
        if (cached) {
            std::lock_guard<std::mutex> hold(revealedCache().mutex);
            revealedCache().entries[path] = entry;
        }
        return kSCStatusOK;
    }
}

// Who is to own the secrets file of the store at path. One that exists keeps
// its own owner and group: the store's owner may be anyone who could replace
// the store (a writer that may not give it away makes it its own), and
// handing the secrets to it would let it read the passwords others set. Only
// a new secrets file takes the store's owner (or the writer's, for a store
// that is not there yet). The write then fails rather than give the file to
// anyone else (required).
int secretsAccess(const std::string &path, FileAccess *access)
{
    access->mode     = kSecretsFileMode;
    access->required = true;
    struct stat info;
    for (const std::string &owned : {secretsPathOf(path), path}) {
        if (sys::stat(owned.c_str(), &info) == 0) {
            access->owner = info.st_uid;
            access->group = info.st_gid;
            return kSCStatusOK;
        }
        if (errno != ENOENT) return statusFromErrno(errno);
    }
    return kSCStatusOK;
}

int writeSecrets(const std::string &path, CFDictionaryRef secrets, const FileAccess &access)
{
    CFRef<CFDataRef> data = serializeDictionary(secrets);
    if (!data) return kSCStatusFailed;
    int error = writeFileAtomically(
        path, {CFDataGetBytePtr(data.get()), static_cast<size_t>(CFDataGetLength(data.get()))},
        kSecretsFileMode, false, nullptr, &access);
    return error == 0 ? kSCStatusOK : statusFromErrno(error);
}

int writeView(const std::string &path, CFDictionaryRef view, mode_t defaultMode, bool makeFolders,
              StoreWrite *write)
{
    std::string secretsPath = secretsPathOf(path);
    // Under the lock no other writer has a temporary open: any left beside
    // either file belongs to a writer that died before its rename.
    removeLeftoverTemporaries(path);
    removeLeftoverTemporaries(secretsPath);

    // A secrets file this process may not read is never written: the store
    // alone is, with the markers it holds. One that cannot be read whole or
    // parsed stops the commit, as a damaged store stops a snapshot.
    CFRef<CFDictionaryRef> known;
    FileContents           contents;
    int                    error    = readWholeFile(secretsPath, &contents);
    bool                   readable = error != EACCES;
    if (error == ENOENT) {
        known =
            made(CFDictionaryCreate(nullptr, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                    &kCFTypeDictionaryValueCallBacks));
    } else if (error != 0 && error != EACCES) {
        return statusFromErrno(error);
    } else if (error == 0) {
        known = parseDictionary(contents.view());
        if (!known) return kSCStatusFailed;
    }

    Concealer        concealer(readable ? known.get() : nullptr);
    CFRef<CFTypeRef> concealed = concealer.conceal(view);
    CFDictionaryRef  stored    = concealed ? static_cast<CFDictionaryRef>(concealed.get()) : view;
    CFRef<CFDataRef> data      = serializeDictionary(stored);
    if (!data) return kSCStatusFailed;
    // A password that cannot be kept apart is never written with the store.
    if (!readable && concealer.secrets() != nullptr) return kSCStatusAccessError;

    // Step 3: the secrets as they were, and the new ones. (known is nullptr
    // when there is no secrets file, or one this process may not read.)
    CFDictionaryRef               fresh = concealer.secrets();
    CFRef<CFMutableDictionaryRef> grown;
    FileAccess                    access;
    auto count = [](CFDictionaryRef dict) { return dict ? CFDictionaryGetCount(dict) : 0; };
    if (fresh != nullptr) {
        grown = made(known ? CFDictionaryCreateMutableCopy(nullptr, 0, known.get())
                           : CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                       &kCFTypeDictionaryValueCallBacks));
        for (const DictionaryEntry &entry : dictionaryEntries(fresh))
            CFDictionarySetValue(grown.get(), entry.key, entry.value);
        if (!known || !CFEqual(grown.get(), known.get())) {
            write->attempted = true;
            if (int status = secretsAccess(path, &access); status != kSCStatusOK) return status;
            if (int status = writeSecrets(secretsPath, grown.get(), access); status != kSCStatusOK)
                return status;
        }
    }
    CFDictionaryRef written = grown ? grown.get() : known.get();

    // Step 4: the store.
    std::span<const uint8_t> bytes(CFDataGetBytePtr(data.get()),
                                   static_cast<size_t>(CFDataGetLength(data.get())));
    write->attempted = true;
    error            = writeFileAtomically(path, bytes, defaultMode, makeFolders, &write->replaced);
    if (!write->replaced) return statusFromErrno(error);
    write->hash = hashBytes(bytes);

    // Step 5: only what the new store names, when that is less.
    CFIndex named = count(fresh);
    for (const CFRef<CFStringRef> &id : concealer.kept())
        if (known && CFDictionaryContainsKey(known.get(), id.get()) &&
            !(fresh && CFDictionaryContainsKey(fresh, id.get())))
            named++;
    if (readable && named < count(written)) {
        CFRef<CFMutableDictionaryRef> kept =
            made(fresh ? CFDictionaryCreateMutableCopy(nullptr, 0, fresh)
                       : CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                   &kCFTypeDictionaryValueCallBacks));
        for (const CFRef<CFStringRef> &id : concealer.kept())
            if (CFTypeRef secret = CFDictionaryGetValue(written, id.get()))
                CFDictionarySetValue(kept.get(), id.get(), secret);
        if (secretsAccess(path, &access) == kSCStatusOK)
            (void)writeSecrets(secretsPath, kept.get(), access);
    }
    return error == 0 ? kSCStatusOK : statusFromErrno(error);
}

} // namespace

CFStringRef markerOf(CFDictionaryRef dict) noexcept
{
    CFTypeRef id = CFDictionaryGetValue(dict, kVZPropNetPPPAuthPasswordSecret);
    return id != nullptr && CFGetTypeID(id) == CFStringGetTypeID() ? static_cast<CFStringRef>(id)
                                                                   : nullptr;
}

CFRef<CFStringRef> newUUIDString()
{
    uint8_t bytes[16];
    size_t  got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        got += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return CFRef<CFStringRef>(CFStringCreateWithCString(nullptr, text, kCFStringEncodingASCII));
}

int loadStoreView(const std::string &path, FileIdentity *identity,
                  CFRef<CFDictionaryRef> *view) noexcept
{
    return guarded(static_cast<int>(kSCStatusFailed),
                   [&] { return viewOf(path, loadStoreSnapshot, true, identity, view); });
}

int readStoreView(const std::string &path, FileIdentity *identity,
                  CFRef<CFDictionaryRef> *view) noexcept
{
    return guarded(static_cast<int>(kSCStatusFailed), [&] {
        return viewOf(path, readDictionaryFileMayHoldMarkers, false, identity, view);
    });
}

bool maySeeSecrets(const std::string &path)
{
    UniqueFd fd(sys::open(secretsPathOf(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    return fd.valid() || (errno != EACCES && errno != EPERM);
}

int writeStoreView(const std::string &path, CFDictionaryRef view, mode_t defaultMode,
                   bool makeFolders, StoreWrite *write) noexcept
{
    *write = StoreWrite();
    return guarded(static_cast<int>(kSCStatusFailed),
                   [&] { return writeView(path, view, defaultMode, makeFolders, write); });
}

} // namespace vz
