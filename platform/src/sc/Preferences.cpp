// Preferences.cpp: the SCPreferences entry points and type. Each checks its
// arguments, calls the PreferencesStore of the object and turns the outcome
// into the platform's result, recording the status of a failure for SCError.
#include "ConfigAgent.h"
#include "PreferencesStore.h"
#include "Root.h"
#include "SCError.h"
#include "SnapshotCache.h"
#include "StringStorage.h"
#include "UnderRoot.h"

#include <SystemConfiguration/SystemConfiguration.h>

struct __SCPreferences : vz::Object {
    vz::PreferencesStore   store;
    vz::CFRef<CFStringRef> name;
    explicit __SCPreferences(CFTypeID type) noexcept : Object(type) {}
};

namespace {

CFStringRef describe(const vz::Object *object)
{
    auto *prefs = static_cast<const __SCPreferences *>(object);
    return vz::guarded<CFStringRef>(nullptr, [&] {
        return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("<SCPreferences %s: %@>"),
                                        prefs->store.path().c_str(),
                                        prefs->name ? prefs->name.get() : CFSTR(""));
    });
}

const vz::TypeClass kPreferencesClass = {"SCPreferences", vz::deleteObject<__SCPreferences>,
                                         nullptr, nullptr, describe};

bool isPreferences(SCPreferencesRef prefs) noexcept
{
    return prefs != nullptr && CFGetTypeID(prefs) == SCPreferencesGetTypeID();
}

vz::PreferencesStore &storeOf(SCPreferencesRef prefs) noexcept
{
    return const_cast<__SCPreferences *>(prefs)->store;
}

bool isString(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFStringGetTypeID();
}

// Runs a store operation: true on success; otherwise the status is recorded.
template <typename F> Boolean run(SCPreferencesRef prefs, F &&operation) noexcept
{
    if (!isPreferences(prefs)) return vz::failWith(kSCStatusNoPrefsSession);
    int status =
        vz::guarded(static_cast<int>(kSCStatusFailed), [&] { return operation(storeOf(prefs)); });
    if (status != kSCStatusOK) return vz::failWith(status);
    return true;
}

// The store file a preferences ID names: the network store for NULL, a file
// beside it for a relative ID, a file under the root for an absolute one.
// Nothing for an ID that would lead out of the root.
std::optional<std::string> storePath(CFStringRef prefsID)
{
    if (prefsID == nullptr) {
        // Every session of the network store comes here: its path is made once.
        static const std::string network =
            std::string(vz::kPreferencesFolder) + "/" + vz::kPreferencesFileName;
        return vz::pathUnderRootChecked(network);
    }
    std::string folder = std::string(vz::kPreferencesFolder) + "/";
    std::string id     = vz::toUTF8String(prefsID);
    if (!id.empty() && id.front() == '/') return vz::pathUnderRootChecked(id);
    return vz::pathUnderRootChecked(folder + id);
}

} // namespace

CFTypeID SCPreferencesGetTypeID(void) noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kPreferencesClass);
    return type;
}

SCPreferencesRef SCPreferencesCreate(CFAllocatorRef, CFStringRef name, CFStringRef prefsID) noexcept
{
    if ((name != nullptr && !isString(name)) || (prefsID != nullptr && !isString(prefsID)) ||
        (prefsID != nullptr && CFStringGetLength(prefsID) == 0)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    vz::CFRef<SCPreferencesRef> prefs(vz::newObject<__SCPreferences>(SCPreferencesGetTypeID()));
    if (!prefs) {
        vz::setSCError(kSCStatusFailed);
        return nullptr;
    }
    auto *object = const_cast<__SCPreferences *>(prefs.get());
    if (name != nullptr) object->name = vz::CFRef<CFStringRef>::retain(name);
    int status = vz::guarded(static_cast<int>(kSCStatusFailed), [&] {
        std::optional<std::string> path = storePath(prefsID);
        if (!path) return static_cast<int>(kSCStatusInvalidArgument);
        return object->store.open(std::move(*path));
    });
    if (status != kSCStatusOK) {
        vz::setSCError(status);
        return nullptr;
    }
    return prefs.release();
}

void VZPreferencesReadInOnePass(Boolean onePass) noexcept
{
    vz::holdFirstViews(onePass != 0);
}

Boolean SCPreferencesLock(SCPreferencesRef prefs, Boolean wait) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) { return store.lock(wait != 0); });
}

Boolean SCPreferencesUnlock(SCPreferencesRef prefs) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) { return store.unlock(); });
}

Boolean SCPreferencesCommitChanges(SCPreferencesRef prefs) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) { return store.commit(); });
}

Boolean SCPreferencesApplyChanges(SCPreferencesRef prefs) noexcept
{
    return run(prefs,
               [&](vz::PreferencesStore &store) { return vz::applyCommitted(store.path()); });
}

CFArrayRef SCPreferencesCopyKeyList(SCPreferencesRef prefs) noexcept
{
    CFArrayRef keys = nullptr;
    if (!run(prefs, [&](vz::PreferencesStore &store) { return store.copyKeyList(&keys); }))
        return nullptr;
    return keys;
}

CFPropertyListRef SCPreferencesGetValue(SCPreferencesRef prefs, CFStringRef key) noexcept
{
    CFPropertyListRef value = nullptr;
    if (!run(prefs, [&](vz::PreferencesStore &store) {
            if (!isString(key)) return static_cast<int>(kSCStatusInvalidArgument);
            return store.getValue(key, &value);
        }))
        return nullptr;
    return value;
}

Boolean SCPreferencesAddValue(SCPreferencesRef prefs, CFStringRef key,
                              CFPropertyListRef value) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) {
        if (!isString(key) || value == nullptr) return static_cast<int>(kSCStatusInvalidArgument);
        return store.setValue(key, value, true);
    });
}

Boolean SCPreferencesSetValue(SCPreferencesRef prefs, CFStringRef key,
                              CFPropertyListRef value) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) {
        if (!isString(key) || value == nullptr) return static_cast<int>(kSCStatusInvalidArgument);
        return store.setValue(key, value, false);
    });
}

Boolean SCPreferencesRemoveValue(SCPreferencesRef prefs, CFStringRef key) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) {
        if (!isString(key)) return static_cast<int>(kSCStatusInvalidArgument);
        return store.removeValue(key);
    });
}

CFStringRef SCPreferencesPathCreateUniqueChild(SCPreferencesRef prefs, CFStringRef prefix) noexcept
{
    CFStringRef path = nullptr;
    if (!run(prefs, [&](vz::PreferencesStore &store) {
            if (!isString(prefix)) return static_cast<int>(kSCStatusInvalidArgument);
            return store.pathCreateUniqueChild(prefix, &path);
        }))
        return nullptr;
    return path;
}

CFDictionaryRef SCPreferencesPathGetValue(SCPreferencesRef prefs, CFStringRef path) noexcept
{
    CFDictionaryRef value = nullptr;
    if (!run(prefs, [&](vz::PreferencesStore &store) {
            if (!isString(path)) return static_cast<int>(kSCStatusInvalidArgument);
            return store.pathGetValue(path, &value);
        }))
        return nullptr;
    return value;
}

CFStringRef SCPreferencesPathGetLink(SCPreferencesRef prefs, CFStringRef path) noexcept
{
    CFStringRef link = nullptr;
    if (!run(prefs, [&](vz::PreferencesStore &store) {
            if (!isString(path)) return static_cast<int>(kSCStatusInvalidArgument);
            return store.pathGetLink(path, &link);
        }))
        return nullptr;
    return link;
}

Boolean SCPreferencesPathSetValue(SCPreferencesRef prefs, CFStringRef path,
                                  CFDictionaryRef value) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) {
        if (!isString(path) || value == nullptr || CFGetTypeID(value) != CFDictionaryGetTypeID())
            return static_cast<int>(kSCStatusInvalidArgument);
        return store.pathSetValue(path, value);
    });
}

Boolean SCPreferencesPathSetLink(SCPreferencesRef prefs, CFStringRef path,
                                 CFStringRef link) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) {
        if (!isString(path) || !isString(link)) return static_cast<int>(kSCStatusInvalidArgument);
        return store.pathSetLink(path, link);
    });
}

Boolean SCPreferencesPathRemoveValue(SCPreferencesRef prefs, CFStringRef path) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) {
        if (!isString(path)) return static_cast<int>(kSCStatusInvalidArgument);
        return store.pathRemoveValue(path);
    });
}

Boolean VZPreferencesPushMark(SCPreferencesRef prefs) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) {
        store.pushMark();
        return static_cast<int>(kSCStatusOK);
    });
}

Boolean VZPreferencesPopMark(SCPreferencesRef prefs, Boolean restore) noexcept
{
    return run(prefs, [&](vz::PreferencesStore &store) { return store.popMark(restore != 0); });
}
