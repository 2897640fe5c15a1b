// RegistrySnapshot.cpp: from a snapshot's tree to a registry.
#include "RegistrySnapshot.h"

#include <vector>

namespace vz {

namespace {

CFStringRef key(const char *text) noexcept
{
    return __CFStringMakeConstantString(text);
}

// The value under k when it is of the type (or absent); false when it is of
// another.
template <typename T>
bool optionalValue(CFDictionaryRef dict, const char *k, CFTypeID type, T *value)
{
    CFTypeRef found = CFDictionaryGetValue(dict, key(k));
    if (found != nullptr && CFGetTypeID(found) != type) return false;
    *value = static_cast<T>(found);
    return true;
}

IOReturn build(CFDictionaryRef root, std::shared_ptr<const Registry> *registry)
{
    struct Pending {
        CFDictionaryRef dict;
        Registry::Index parent; // kNoParent for the root
    };
    RegistryBuilder      builder;
    std::vector<Pending> pending{{root, Registry::kNoParent}};
    // Children are pushed in reverse, so that they are added in order and
    // each after its parent.
    while (!pending.empty()) {
        Pending     item      = pending.back();
        CFStringRef className = nullptr;
        CFStringRef name      = nullptr;
        CFArrayRef  children  = nullptr;
        pending.pop_back();
        if (!optionalValue(item.dict, kRegistryClassKey, CFStringGetTypeID(), &className) ||
            !optionalValue(item.dict, kRegistryNameKey, CFStringGetTypeID(), &name) ||
            !optionalValue(item.dict, kRegistryChildrenKey, CFArrayGetTypeID(), &children))
            return kIOReturnError;
        Registry::Index index = 0;
        if (item.parent == Registry::kNoParent) {
            builder.setRoot(className, name, item.dict);
        } else {
            if (className == nullptr) return kIOReturnError;
            index = builder.addEntry(item.parent, className, name, item.dict);
        }
        CFIndex count = children != nullptr ? CFArrayGetCount(children) : 0;
        for (CFIndex i = count - 1; i >= 0; --i) {
            CFTypeRef child = CFArrayGetValueAtIndex(children, i);
            if (CFGetTypeID(child) != CFDictionaryGetTypeID()) return kIOReturnError;
            pending.push_back({static_cast<CFDictionaryRef>(child), index});
        }
    }
    *registry = builder.finish();
    return kIOReturnSuccess;
}

IOReturn describe(const Registry &registry, CFRef<CFDictionaryRef> *root)
{
    // Children come after their parent, so building from the last entry back
    // finds every child's dictionary made when its parent's turn comes.
    std::vector<CFRef<CFMutableDictionaryRef>> made(registry.size());
    for (size_t i = registry.size(); i-- > 0;) {
        auto                          index = static_cast<Registry::Index>(i);
        CFRef<CFMutableDictionaryRef> entry(registry.copyProperties(index));
        if (!entry) return kIOReturnNoMemory;
        CFDictionarySetValue(entry.get(), key(kRegistryClassKey), registry.className(index));
        if (CFStringRef name = registry.ownName(index))
            CFDictionarySetValue(entry.get(), key(kRegistryNameKey), name);
        if (index + 1 < registry.subtreeEnd(index)) {
            CFRef<CFMutableArrayRef> children(
                CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
            if (!children) return kIOReturnNoMemory;
            for (Registry::Index child = index + 1; child < registry.subtreeEnd(index);
                 child                 = registry.subtreeEnd(child)) {
                CFArrayAppendValue(children.get(), made[child].get());
                made[child].reset();
            }
            CFDictionarySetValue(entry.get(), key(kRegistryChildrenKey), children.get());
        }
        made[i] = std::move(entry);
    }
    *root = CFRef<CFDictionaryRef>(made[0].release());
    return kIOReturnSuccess;
}

} // namespace

IOReturn snapshotFromRegistry(const Registry &registry, CFRef<CFDictionaryRef> *root) noexcept
{
    return guarded(kIOReturnNoMemory, [&] { return describe(registry, root); });
}

IOReturn registryFromSnapshot(CFDictionaryRef                  root,
                              std::shared_ptr<const Registry> *registry) noexcept
{
    return guarded(kIOReturnNoMemory, [&] { return build(root, registry); });
}

} // namespace vz
