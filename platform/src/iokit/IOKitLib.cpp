// IOKitLib.cpp: the IOKit entry points and the two kinds of handle they hand
// out: an entry (a registry and an index into it) and an iterator (a registry
// and the entries it walks). Each entry point checks its handle, asks the
// Registry and turns the answer into the platform's status.
//
// Handles are counted objects of the object runtime, so a handle that is
// never released shows in the live count. Each holds its registry, which
// therefore lives as long as the last handle on it.
#include "Matching.h"
#include "RegistrySource.h"
#include "StringStorage.h"

#include <IOKit/IOKitLib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

struct __IOObject : vz::Object {
    std::shared_ptr<const vz::Registry> registry;
    __IOObject(CFTypeID type, std::shared_ptr<const vz::Registry> r) noexcept
        : Object(type), registry(std::move(r))
    {
    }
};

const mach_port_t kIOMasterPortDefault = MACH_PORT_NULL;

namespace {

using vz::Registry;

struct EntryHandle : __IOObject {
    Registry::Index index;
    EntryHandle(CFTypeID type, std::shared_ptr<const Registry> r, Registry::Index i) noexcept
        : __IOObject(type, std::move(r)), index(i)
    {
    }
};

struct IteratorHandle : __IOObject {
    std::vector<Registry::Index> entries;
    size_t                       next = 0;
    IteratorHandle(CFTypeID type, std::shared_ptr<const Registry> r,
                   std::vector<Registry::Index> e) noexcept
        : __IOObject(type, std::move(r)), entries(std::move(e))
    {
    }
};

const vz::TypeClass kEntryClass    = {"IORegistryEntry", vz::deleteObject<EntryHandle>, nullptr,
                                      nullptr, nullptr};
const vz::TypeClass kIteratorClass = {"IOIterator", vz::deleteObject<IteratorHandle>, nullptr,
                                      nullptr, nullptr};

CFTypeID entryType() noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kEntryClass);
    return type;
}

CFTypeID iteratorType() noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kIteratorClass);
    return type;
}

EntryHandle *asEntry(io_object_t object) noexcept
{
    if (object == IO_OBJECT_NULL || vz::typeOf(object) != entryType()) return nullptr;
    return static_cast<EntryHandle *>(object);
}

IteratorHandle *asIterator(io_object_t object) noexcept
{
    if (object == IO_OBJECT_NULL || vz::typeOf(object) != iteratorType()) return nullptr;
    return static_cast<IteratorHandle *>(object);
}

bool isServicePlane(const char *plane) noexcept
{
    return plane != nullptr && std::strcmp(plane, kIOServicePlane) == 0;
}

io_object_t newEntry(const std::shared_ptr<const Registry> &registry, Registry::Index index)
{
    return vz::newObject<EntryHandle>(entryType(), registry, index);
}

kern_return_t newIterator(const std::shared_ptr<const Registry> &registry,
                          std::vector<Registry::Index> entries, io_iterator_t *iterator)
{
    *iterator = vz::newObject<IteratorHandle>(iteratorType(), registry, std::move(entries));
    return *iterator != IO_OBJECT_NULL ? kIOReturnSuccess : kIOReturnNoMemory;
}

// Copies text into a name buffer, cut at a character boundary to fit.
void copyName(const std::string &text, io_name_t name) noexcept
{
    size_t length = std::min(text.size(), sizeof(io_name_t) - 1);
    while (length > 0 && length < text.size() && (text[length] & 0xC0) == 0x80)
        --length;
    std::memcpy(name, text.data(), length);
    name[length] = '\0';
}

} // namespace

CFMutableDictionaryRef IOServiceMatching(const char *name) noexcept
{
    if (name == nullptr) return nullptr;
    vz::CFRef<CFStringRef> className(vz::createStringFromUTF8(name, std::strlen(name)));
    if (!className) return nullptr;
    CFMutableDictionaryRef matching = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    if (matching != nullptr)
        CFDictionarySetValue(matching, CFSTR(kIOProviderClassKey), className.get());
    return matching;
}

kern_return_t IOServiceGetMatchingServices(mach_port_t, CFDictionaryRef matching,
                                           io_iterator_t *existing) noexcept
{
    vz::CFRef<CFDictionaryRef> consumed(matching);
    if (existing == nullptr) return kIOReturnBadArgument;
    *existing = IO_OBJECT_NULL;
    if (matching == nullptr || CFGetTypeID(matching) != CFDictionaryGetTypeID())
        return kIOReturnBadArgument;
    return vz::guarded(kIOReturnNoMemory, [&]() -> kern_return_t {
        std::shared_ptr<const Registry> registry;
        if (IOReturn status = vz::loadRegistry(&registry); status != kIOReturnSuccess)
            return status;
        std::vector<Registry::Index> entries;
        if (IOReturn status = vz::findMatchingEntries(*registry, matching, &entries);
            status != kIOReturnSuccess)
            return status;
        return newIterator(registry, std::move(entries), existing);
    });
}

io_object_t IOIteratorNext(io_iterator_t iterator) noexcept
{
    IteratorHandle *it = asIterator(iterator);
    if (it == nullptr || it->next >= it->entries.size()) return IO_OBJECT_NULL;
    io_object_t entry = IO_OBJECT_NULL;
    {
        // IO_OBJECT_NULL means the end here: a handle the caller could not
        // tell from the end must not fail on purpose, and running out of
        // memory for one stops the process rather than shortening the walk.
        vz::AllocationFailureExemption exempt;
        entry = newEntry(it->registry, it->entries[it->next]);
    }
    if (entry == IO_OBJECT_NULL) vz::fatal("out of memory");
    it->next++;
    return entry;
}

void IOIteratorReset(io_iterator_t iterator) noexcept
{
    if (IteratorHandle *it = asIterator(iterator)) it->next = 0;
}

kern_return_t IOObjectRetain(io_object_t object) noexcept
{
    if (asEntry(object) == nullptr && asIterator(object) == nullptr) return kIOReturnBadArgument;
    vz::retainObject(object);
    return kIOReturnSuccess;
}

kern_return_t IOObjectRelease(io_object_t object) noexcept
{
    if (asEntry(object) == nullptr && asIterator(object) == nullptr) return kIOReturnBadArgument;
    vz::releaseObject(object);
    return kIOReturnSuccess;
}

boolean_t IOObjectConformsTo(io_object_t object, const io_name_t className) noexcept
{
    EntryHandle *entry = asEntry(object);
    if (entry == nullptr || className == nullptr) return false;
    return entry->registry->conformsTo(entry->index, className);
}

kern_return_t IOObjectGetClass(io_object_t object, io_name_t className) noexcept
{
    if (className == nullptr) return kIOReturnBadArgument;
    if (asIterator(object) != nullptr) {
        copyName(kIteratorClass.name, className);
        return kIOReturnSuccess;
    }
    EntryHandle *entry = asEntry(object);
    if (entry == nullptr) return kIOReturnBadArgument;
    copyName(entry->registry->classNameUTF8(entry->index), className);
    return kIOReturnSuccess;
}

io_registry_entry_t IORegistryGetRootEntry(mach_port_t) noexcept
{
    return vz::guarded(IO_OBJECT_NULL, [&] {
        std::shared_ptr<const Registry> registry;
        if (vz::loadRegistry(&registry) != kIOReturnSuccess) return IO_OBJECT_NULL;
        return newEntry(registry, 0);
    });
}

kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name) noexcept
{
    EntryHandle *e = asEntry(entry);
    if (e == nullptr || name == nullptr) return kIOReturnBadArgument;
    return vz::guarded(kIOReturnNoMemory, [&] {
        copyName(vz::toUTF8String(e->registry->name(e->index)), name);
        return kIOReturnSuccess;
    });
}

kern_return_t IORegistryEntryGetParentEntry(io_registry_entry_t entry, const io_name_t plane,
                                            io_registry_entry_t *parent) noexcept
{
    if (parent == nullptr) return kIOReturnBadArgument;
    *parent        = IO_OBJECT_NULL;
    EntryHandle *e = asEntry(entry);
    if (e == nullptr || !isServicePlane(plane)) return kIOReturnBadArgument;
    Registry::Index up = e->registry->parent(e->index);
    if (up == Registry::kNoParent) return kIOReturnNoDevice;
    *parent = newEntry(e->registry, up);
    return *parent != IO_OBJECT_NULL ? kIOReturnSuccess : kIOReturnNoMemory;
}

kern_return_t IORegistryEntryGetChildIterator(io_registry_entry_t entry, const io_name_t plane,
                                              io_iterator_t *iterator) noexcept
{
    if (iterator == nullptr) return kIOReturnBadArgument;
    *iterator      = IO_OBJECT_NULL;
    EntryHandle *e = asEntry(entry);
    if (e == nullptr || !isServicePlane(plane)) return kIOReturnBadArgument;
    return vz::guarded(kIOReturnNoMemory, [&] {
        const Registry              &registry = *e->registry;
        std::vector<Registry::Index> children;
        for (Registry::Index child = e->index + 1; child < registry.subtreeEnd(e->index);
             child                 = registry.subtreeEnd(child))
            children.push_back(child);
        return newIterator(e->registry, std::move(children), iterator);
    });
}

kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t     entry,
                                                CFMutableDictionaryRef *properties, CFAllocatorRef,
                                                IOOptionBits) noexcept
{
    if (properties == nullptr) return kIOReturnBadArgument;
    *properties    = nullptr;
    EntryHandle *e = asEntry(entry);
    if (e == nullptr) return kIOReturnBadArgument;
    *properties = e->registry->copyProperties(e->index);
    return *properties != nullptr ? kIOReturnSuccess : kIOReturnNoMemory;
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key,
                                          CFAllocatorRef, IOOptionBits) noexcept
{
    EntryHandle *e = asEntry(entry);
    if (e == nullptr || key == nullptr) return nullptr;
    CFTypeRef value = e->registry->property(e->index, key);
    if (value != nullptr) vz::retainObject(value);
    return value;
}

CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const io_name_t plane,
                                          CFStringRef  key, CFAllocatorRef,
                                          IOOptionBits options) noexcept
{
    EntryHandle *e = asEntry(entry);
    if (e == nullptr || key == nullptr || !isServicePlane(plane)) return nullptr;
    const Registry &registry = *e->registry;
    CFTypeRef       value    = registry.property(e->index, key);
    if (value == nullptr && (options & kIORegistryIterateRecursively) != 0) {
        if ((options & kIORegistryIterateParents) != 0) {
            for (Registry::Index up                                = registry.parent(e->index);
                 value == nullptr && up != Registry::kNoParent; up = registry.parent(up))
                value = registry.property(up, key);
        } else {
            for (Registry::Index down = e->index + 1;
                 value == nullptr && down < registry.subtreeEnd(e->index); ++down)
                value = registry.property(down, key);
        }
    }
    if (value != nullptr) vz::retainObject(value);
    return value;
}
