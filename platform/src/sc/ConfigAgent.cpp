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

#include <vector>

namespace vz {

namespace {

struct Publication {
    std::vector<CFRef<CFStringRef>>     keys;
    std::vector<CFRef<CFDictionaryRef>> values;
};

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
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
