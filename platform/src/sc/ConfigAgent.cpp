// ConfigAgent.cpp: publishing the current set of the committed store in the
// Setup: domain of the dynamic store.
#include "ConfigAgent.h"

#include "Containers.h"
#include "DynamicStore.h"
#include "NetworkFollow.h"
#include "PrefsPath.h"
#include "SCError.h"
#include "Secrets.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <string>
#include <vector>

namespace vz {

namespace {

struct Publication {
    std::vector<CFRef<CFStringRef>>     keys;
    std::vector<CFRef<CFDictionaryRef>> values;
    std::string                         preferencesPath; // whose secrets the values were read with
};

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

bool isArray(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFArrayGetTypeID();
}

// A marker left in a published value is one this process could not resolve:
// the ID names a password in the preferences' secrets file, which means
// nothing to the dynamic store's. Where the dynamic store holds a secret at
// the same place (held: the value there, as this process sees it), the
// published value takes it instead: the password itself where this process
// sees one, else the dynamic store's own marker. A process that may not read
// the passwords thus keeps those published before it, rather than replace
// them by IDs that name nothing. (Only a process that can read the
// preferences' secrets can publish a password anew; a password changed in
// the preferences since the last publish stays as published until such a
// process publishes again.)
class SecretKeeper {
  public:
    // The markers for which the dynamic store held nothing.
    long unkept() const { return unkept_; }

    // value with its markers replaced; nullptr when nothing changed.
    CFRef<CFTypeRef> keep(CFTypeRef value, CFTypeRef held)
    {
        if (isDictionary(value))
            return keepInDictionary(static_cast<CFDictionaryRef>(value),
                                    isDictionary(held) ? static_cast<CFDictionaryRef>(held)
                                                       : nullptr);
        if (!isArray(value) || !hasStandardCallBacks(value)) return {};
        CFArrayRef heldArray =
            isArray(held) && hasStandardCallBacks(held) ? static_cast<CFArrayRef>(held) : nullptr;
        return arrayWithChanges(
            static_cast<CFArrayRef>(value), [&](const void *element, CFIndex index) {
                CFTypeRef heldElement = heldArray != nullptr && index < CFArrayGetCount(heldArray)
                                            ? CFArrayGetValueAtIndex(heldArray, index)
                                            : nullptr;
                return keep(element, heldElement);
            });
    }

  private:
    CFRef<CFTypeRef> keepInDictionary(CFDictionaryRef dict, CFDictionaryRef held)
    {
        if (!dictionaryHoldsObjects(dict)) return {};
        if (held != nullptr && !dictionaryHoldsObjects(held)) held = nullptr;
        CFRef<CFMutableDictionaryRef> copy;
        for (const DictionaryEntry &entry : dictionaryEntries(dict)) {
            CFTypeRef heldEntry = held != nullptr ? CFDictionaryGetValue(held, entry.key) : nullptr;
            if (CFRef<CFTypeRef> changed = keep(entry.value, heldEntry)) {
                if (!copy) copy = made(CFDictionaryCreateMutableCopy(nullptr, 0, dict));
                CFDictionarySetValue(copy.get(), entry.key, changed.get());
            }
        }
        if (markerOf(dict) != nullptr &&
            !CFDictionaryContainsKey(dict, kSCPropNetPPPAuthPassword)) {
            CFTypeRef password =
                held != nullptr ? CFDictionaryGetValue(held, kSCPropNetPPPAuthPassword) : nullptr;
            CFTypeRef marker = held != nullptr ? markerOf(held) : nullptr;
            if (password == nullptr && marker == nullptr) {
                unkept_++;
            } else {
                if (!copy) copy = made(CFDictionaryCreateMutableCopy(nullptr, 0, dict));
                if (password != nullptr) {
                    CFDictionaryRemoveValue(copy.get(), kVZPropNetPPPAuthPasswordSecret);
                    CFDictionarySetValue(copy.get(), kSCPropNetPPPAuthPassword, password);
                } else {
                    CFDictionarySetValue(copy.get(), kVZPropNetPPPAuthPasswordSecret, marker);
                }
            }
        }
        if (!copy) return {};
        return CFRef<CFTypeRef>(made(CFDictionaryCreateCopy(nullptr, copy.get())).release());
    }

    long unkept_ = 0;
};

// Gives each published value the secrets the dynamic store holds for its
// unresolved markers (above). A marker with nothing to keep, published by a
// process that may not read the preferences' secrets, would publish a
// password as set that no one can read back: the publish is refused (1003),
// as a commit is that holds a password its writer may not keep, and the
// dynamic store stays as it was. A reader's marker whose password is gone
// from the preferences' secrets file is published as it is: it names nothing
// in either store.
int keepPublishedSecrets(CFDictionaryRef store, Publication *publication)
{
    SecretKeeper keeper;
    for (size_t i = 0; i < publication->keys.size(); i++) {
        CFRef<CFTypeRef> kept = keeper.keep(
            publication->values[i].get(), CFDictionaryGetValue(store, publication->keys[i].get()));
        if (kept)
            publication->values[i] =
                CFRef<CFDictionaryRef>(static_cast<CFDictionaryRef>(kept.release()));
    }
    if (keeper.unkept() > 0 && !maySeeSecrets(publication->preferencesPath))
        return kSCStatusAccessError;
    return kSCStatusOK;
}

bool isActive(CFDictionaryRef dictionary) noexcept
{
    return !CFDictionaryContainsKey(dictionary, kSCResvInactive);
}

// The dictionary at path in root, links followed; nullptr when there is none.
CFDictionaryRef dictionaryAt(CFDictionaryRef root, CFStringRef path)
{
    prefs::Keys keys;
    if (!prefs::parsePath(path, &keys)) return nullptr;
    CFDictionaryRef node = nullptr;
    if (prefs::walk(root, keys, keys.size(), false, nullptr, &node) != kSCStatusOK) return nullptr;
    return node;
}

void add(Publication *publication, CFStringRef key, CFTypeRef value)
{
    if (key == nullptr) throw std::bad_alloc();
    publication->keys.emplace_back(key);
    publication->values.push_back(
        CFRef<CFDictionaryRef>::retain(static_cast<CFDictionaryRef>(value)));
}

// The Setup: keys of the current set of root; a status.
int collect(CFDictionaryRef root, Publication *publication)
{
    CFTypeRef currentSet = CFDictionaryGetValue(root, kSCPrefCurrentSet);
    if (currentSet == nullptr) return kSCStatusOK; // no current set: nothing runs
    if (CFGetTypeID(currentSet) != CFStringGetTypeID()) return kSCStatusFailed;
    prefs::Keys keys;
    if (!prefs::parsePath(static_cast<CFStringRef>(currentSet), &keys)) return kSCStatusFailed;
    CFDictionaryRef set    = nullptr;
    int             status = prefs::walk(root, keys, keys.size(), false, nullptr, &set);
    // A current set that names no set runs nothing either: a program may
    // record the set it is about to make, and its commit must still apply.
    if (status == kSCStatusNoKey) return kSCStatusOK;
    if (status != kSCStatusOK) return status;
    CFTypeRef network = CFDictionaryGetValue(set, kSCCompNetwork);
    if (!isDictionary(network)) return kSCStatusOK; // a set with nothing configured
    auto networkDict = static_cast<CFDictionaryRef>(network);

    CFTypeRef globals = CFDictionaryGetValue(networkDict, kSCCompGlobal);
    if (isDictionary(globals)) {
        for (const DictionaryEntry &entity :
             dictionaryEntries(static_cast<CFDictionaryRef>(globals))) {
            if (!isDictionary(entity.value) || CFGetTypeID(entity.key) != CFStringGetTypeID())
                continue;
            add(publication,
                SCDynamicStoreKeyCreateNetworkGlobalEntity(nullptr, kSCDynamicStoreDomainSetup,
                                                           static_cast<CFStringRef>(entity.key)),
                entity.value);
        }
    }

    CFTypeRef services = CFDictionaryGetValue(networkDict, kSCCompService);
    if (!isDictionary(services)) return kSCStatusOK;
    for (const DictionaryEntry &link : dictionaryEntries(static_cast<CFDictionaryRef>(services))) {
        if (CFGetTypeID(link.key) != CFStringGetTypeID()) continue;
        auto        serviceID = static_cast<CFStringRef>(link.key);
        int         status    = kSCStatusOK;
        CFStringRef target    = prefs::linkTarget(link.value, &status);
        // A service named in the set is reached through its link; an entry
        // that is not a link, or a link that leads nowhere, names no service.
        if (target == nullptr) continue;
        CFDictionaryRef service = dictionaryAt(root, target);
        if (service == nullptr || !isActive(service)) continue;
        for (const DictionaryEntry &entity : dictionaryEntries(service)) {
            if (!isDictionary(entity.value) || CFGetTypeID(entity.key) != CFStringGetTypeID())
                continue;
            if (!isActive(static_cast<CFDictionaryRef>(entity.value))) continue;
            add(publication,
                SCDynamicStoreKeyCreateNetworkServiceEntity(nullptr, kSCDynamicStoreDomainSetup,
                                                            serviceID,
                                                            static_cast<CFStringRef>(entity.key)),
                entity.value);
        }
    }
    return kSCStatusOK;
}

bool isSetupKey(CFTypeRef key) noexcept
{
    return CFGetTypeID(key) == CFStringGetTypeID() &&
           CFStringHasPrefix(static_cast<CFStringRef>(key), kSCDynamicStoreDomainSetup);
}

// Whether the store's Setup: keys are exactly the publication's, with equal
// values (the publication's keys are distinct).
bool publishedAlready(CFDictionaryRef store, const Publication &publication)
{
    size_t earlier = 0;
    for (const DictionaryEntry &entry : dictionaryEntries(store))
        if (isSetupKey(entry.key)) earlier++;
    if (earlier != publication.keys.size()) return false;
    for (size_t i = 0; i < publication.keys.size(); i++) {
        CFTypeRef value = CFDictionaryGetValue(store, publication.keys[i].get());
        if (value == nullptr || !CFEqual(value, publication.values[i].get())) return false;
    }
    return true;
}

// Writes nothing when the publication is in place already. Otherwise the
// store is rebuilt in one pass: the other domains' keys in their order, then
// the publication. Removing the earlier Setup: keys one by one would move the
// rest of the store once per key.
int replaceSetup(CFMutableDictionaryRef store, bool *changed, void *context)
{
    auto *publication = static_cast<Publication *>(context);
    if (int status = keepPublishedSecrets(store, publication); status != kSCStatusOK) return status;
    if (publishedAlready(store, *publication)) return kSCStatusOK;
    std::vector<CFRef<CFTypeRef>> kept;
    for (const DictionaryEntry &entry : dictionaryEntries(store)) {
        if (isSetupKey(entry.key)) continue;
        kept.push_back(CFRef<CFTypeRef>::retain(entry.key));
        kept.push_back(CFRef<CFTypeRef>::retain(entry.value));
    }
    CFDictionaryRemoveAllValues(store);
    for (size_t i = 0; i < kept.size(); i += 2)
        CFDictionarySetValue(store, kept[i].get(), kept[i + 1].get());
    for (size_t i = 0; i < publication->keys.size(); i++)
        CFDictionarySetValue(store, publication->keys[i].get(), publication->values[i].get());
    *changed = true;
    return kSCStatusOK;
}

} // namespace

int publishSetup(const std::string &preferencesPath) noexcept
{
    return guarded(static_cast<int>(kSCStatusFailed), [&] {
        FileIdentity           identity;
        CFRef<CFDictionaryRef> root;
        int                    status = loadStoreView(preferencesPath, &identity, &root);
        Publication            publication;
        publication.preferencesPath = preferencesPath;
        if (status == kSCStatusOK) status = collect(root.get(), &publication);
        if (status == kSCStatusOK) status = updateDynamicStore(replaceSetup, &publication);
        return status;
    });
}

int applyCommitted(const std::string &preferencesPath) noexcept
{
    return followNetwork(preferencesPath, publishSetup(preferencesPath));
}

} // namespace vz
