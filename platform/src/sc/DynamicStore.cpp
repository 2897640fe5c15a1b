// DynamicStore.cpp: the SCDynamicStore entry points and type, over the store
// file.
#include "DynamicStore.h"

#include "Containers.h"
#include "FileLock.h"
#include "Root.h"
#include "SCError.h"
#include "Secrets.h"
#include "StringStorage.h"
#include "SystemError.h"

#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTools.h>

#include <regex.h>
#include <vector>

struct __SCDynamicStore : vz::Object {
    vz::CFRef<CFStringRef> name;
    explicit __SCDynamicStore(CFTypeID type) noexcept : Object(type) {}
};

namespace vz {

std::string dynamicStorePath()
{
    return pathUnderRoot(kDynamicStoreFile);
}

int readDynamicStore(CFRef<CFDictionaryRef> *store) noexcept
{
    return guarded(static_cast<int>(kSCStatusFailed), [&] {
        FileIdentity ignored;
        return readStoreView(dynamicStorePath(), &ignored, store);
    });
}

int updateDynamicStore(DynamicStoreEdit edit, void *context) noexcept
{
    return guarded(static_cast<int>(kSCStatusFailed), [&]() -> int {
        std::string path = dynamicStorePath();
        FileLock    lock;
        int         error = 0;
        if (lock.acquire(path + kLockFileSuffix, true, &error) != FileLock::Outcome::Locked)
            return statusFromErrno(error);
        FileIdentity           identity;
        CFRef<CFDictionaryRef> current;
        int                    status = readStoreView(path, &identity, &current);
        if (status != kSCStatusOK) return status;
        CFRef<CFMutableDictionaryRef> edited(
            CFDictionaryCreateMutableCopy(nullptr, 0, current.get()));
        if (!edited) return kSCStatusFailed;
        bool changed = false;
        status       = edit(edited.get(), &changed, context);
        if (status != kSCStatusOK || !changed) return status;
        StoreWrite write;
        status = writeStoreView(path, edited.get(), 0644, true, &write);
        return write.replaced ? kSCStatusOK : status;
    });
}

} // namespace vz

namespace {

const vz::TypeClass kDynamicStoreClass = {"SCDynamicStore", vz::deleteObject<__SCDynamicStore>,
                                          nullptr, nullptr, nullptr};

bool isStore(SCDynamicStoreRef store) noexcept
{
    return store != nullptr && CFGetTypeID(store) == SCDynamicStoreGetTypeID();
}

bool isString(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFStringGetTypeID();
}

// A compiled pattern, freed with its owner.
class Pattern {
  public:
    Pattern()                           = default;
    Pattern(const Pattern &)            = delete;
    Pattern &operator=(const Pattern &) = delete;
    ~Pattern()
    {
        if (compiled_) regfree(&regex_);
    }
    bool compile(const std::string &pattern)
    {
        compiled_ = regcomp(&regex_, pattern.c_str(), REG_EXTENDED) == 0;
        return compiled_;
    }
    // A pattern matches whole keys only. The pattern is not wrapped in
    // anchors, which a pattern like "a)|(b" could undo; instead the match must
    // span the key. Matching is leftmost-longest, so when the whole key
    // matches, that is the match found.
    bool matchesWhole(const std::string &text) const
    {
        regmatch_t match;
        if (regexec(&regex_, text.c_str(), 1, &match, 0) != 0) return false;
        return match.rm_so == 0 && static_cast<size_t>(match.rm_eo) == text.size();
    }

  private:
    regex_t regex_{};
    bool    compiled_ = false;
};

CFStringRef createKey(CFStringRef domain, CFStringRef middle, CFStringRef serviceID,
                      CFStringRef entity)
{
    if (!isString(domain) || !isString(entity) || (serviceID != nullptr && !isString(serviceID))) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    CFStringRef key =
        serviceID != nullptr
            ? CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/%@/%@/%@/%@"), domain,
                                       kSCCompNetwork, middle, serviceID, entity)
            : CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/%@/%@/%@"), domain,
                                       kSCCompNetwork, middle, entity);
    if (key == nullptr) vz::setSCError(kSCStatusFailed);
    return key;
}

int setKey(CFMutableDictionaryRef store, bool *changed, void *context)
{
    auto                       **pair = static_cast<CFTypeRef *>(context);
    vz::CFRef<CFPropertyListRef> copy(
        CFPropertyListCreateDeepCopy(nullptr, pair[1], kCFPropertyListImmutable));
    if (!copy) return kSCStatusFailed;
    CFDictionarySetValue(store, pair[0], copy.get());
    *changed = true;
    return kSCStatusOK;
}

int removeKey(CFMutableDictionaryRef store, bool *changed, void *context)
{
    auto key = static_cast<CFStringRef>(context);
    if (!CFDictionaryContainsKey(store, key)) return kSCStatusNoKey;
    CFDictionaryRemoveValue(store, key);
    *changed = true;
    return kSCStatusOK;
}

} // namespace

CFTypeID SCDynamicStoreGetTypeID(void) noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kDynamicStoreClass);
    return type;
}

SCDynamicStoreRef SCDynamicStoreCreate(CFAllocatorRef, CFStringRef name, SCDynamicStoreCallBack,
                                       SCDynamicStoreContext *) noexcept
{
    if (name != nullptr && !isString(name)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    auto *store = vz::newObject<__SCDynamicStore>(SCDynamicStoreGetTypeID());
    if (store == nullptr) {
        vz::setSCError(kSCStatusFailed);
        return nullptr;
    }
    if (name != nullptr) store->name = vz::CFRef<CFStringRef>::retain(name);
    return store;
}

CFArrayRef SCDynamicStoreCopyKeyList(SCDynamicStoreRef store, CFStringRef pattern) noexcept
{
    if (!isStore(store)) {
        vz::setSCError(kSCStatusNoStoreSession);
        return nullptr;
    }
    if (!isString(pattern)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    int        status = kSCStatusOK;
    CFArrayRef keys   = vz::guarded<CFArrayRef>(nullptr, [&]() -> CFArrayRef {
        Pattern compiled;
        if (!compiled.compile(vz::toUTF8String(pattern))) {
            status = kSCStatusInvalidArgument;
            return nullptr;
        }
        vz::CFRef<CFDictionaryRef> content;
        status = vz::readDynamicStore(&content);
        if (status != kSCStatusOK) return nullptr;
        std::vector<const void *> matching;
        for (const vz::DictionaryEntry &entry : vz::dictionaryEntries(content.get())) {
            if (!isString(entry.key)) continue;
            if (compiled.matchesWhole(vz::toUTF8String(static_cast<CFStringRef>(entry.key))))
                matching.push_back(entry.key);
        }
        CFArrayRef list =
            CFArrayCreate(nullptr, matching.data(), static_cast<CFIndex>(matching.size()),
                            &kCFTypeArrayCallBacks);
        if (list == nullptr) status = kSCStatusFailed;
        return list;
    });
    if (keys == nullptr) vz::setSCError(status == kSCStatusOK ? kSCStatusFailed : status);
    return keys;
}

CFPropertyListRef SCDynamicStoreCopyValue(SCDynamicStoreRef store, CFStringRef key) noexcept
{
    if (!isStore(store)) {
        vz::setSCError(kSCStatusNoStoreSession);
        return nullptr;
    }
    if (!isString(key)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    vz::CFRef<CFDictionaryRef> content;
    int                        status = vz::readDynamicStore(&content);
    if (status != kSCStatusOK) {
        vz::setSCError(status);
        return nullptr;
    }
    CFTypeRef value = CFDictionaryGetValue(content.get(), key);
    if (value == nullptr) {
        vz::setSCError(kSCStatusNoKey);
        return nullptr;
    }
    return CFRetain(value);
}

Boolean SCDynamicStoreSetValue(SCDynamicStoreRef store, CFStringRef key,
                               CFPropertyListRef value) noexcept
{
    if (!isStore(store)) return vz::failWith(kSCStatusNoStoreSession);
    if (!isString(key) || value == nullptr) return vz::failWith(kSCStatusInvalidArgument);
    CFTypeRef pair[] = {key, value};
    int       status = vz::updateDynamicStore(setKey, pair);
    return status == kSCStatusOK ? true : vz::failWith(status);
}

Boolean SCDynamicStoreRemoveValue(SCDynamicStoreRef store, CFStringRef key) noexcept
{
    if (!isStore(store)) return vz::failWith(kSCStatusNoStoreSession);
    if (!isString(key)) return vz::failWith(kSCStatusInvalidArgument);
    int status =
        vz::updateDynamicStore(removeKey, const_cast<void *>(static_cast<const void *>(key)));
    return status == kSCStatusOK ? true : vz::failWith(status);
}

CFStringRef SCDynamicStoreKeyCreateNetworkServiceEntity(CFAllocatorRef, CFStringRef domain,
                                                        CFStringRef serviceID,
                                                        CFStringRef entity) noexcept
{
    if (!isString(serviceID)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    return createKey(domain, kSCCompService, serviceID, entity);
}

CFStringRef SCDynamicStoreKeyCreateNetworkGlobalEntity(CFAllocatorRef, CFStringRef domain,
                                                       CFStringRef entity) noexcept
{
    return createKey(domain, kSCCompGlobal, nullptr, entity);
}

namespace {

struct ToolEdit {
    VZDynamicStoreEditor edit;
    void                *context;
};

int runToolEdit(CFMutableDictionaryRef store, bool *changed, void *context)
{
    auto   *tool   = static_cast<ToolEdit *>(context);
    Boolean edited = false;
    int     status = tool->edit(store, &edited, tool->context);
    *changed       = edited != 0;
    return status;
}

} // namespace

int VZDynamicStoreEdit(VZDynamicStoreEditor edit, void *context) noexcept
{
    if (edit == nullptr) return kSCStatusInvalidArgument;
    ToolEdit tool{edit, context};
    return vz::updateDynamicStore(runToolEdit, &tool);
}
