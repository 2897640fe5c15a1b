// Runtime.cpp: the type registry and the generic object functions (retain,
// release, type IDs, equality, hashing, descriptions).
//
// Built-in types have fixed IDs and their classes are found by a switch, so
// no registration has to run before the first object of a built-in type is
// made. Other types (the stores, the connection, the locale) register at run
// time and are found in a table.
#include "Runtime.h"

#include "Description.h"
#include "StringStorage.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <sys/random.h>

namespace vz {

namespace {

constexpr size_t               kMaxTypes = 256;
std::atomic<const TypeClass *> gClasses[kMaxTypes];
std::atomic<CFTypeID>          gNextTypeID{kFirstDynamicTypeID};

std::mutex &registryMutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

} // namespace

[[noreturn]] void fatal(const char *message) noexcept
{
    std::fprintf(stderr, "vavivaz platform: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

uint64_t processSeed() noexcept
{
    static const uint64_t seed = [] {
        uint64_t value = 0;
        auto    *bytes = reinterpret_cast<uint8_t *>(&value);
        size_t   got   = 0;
        while (got < sizeof value) {
            ssize_t n = getrandom(bytes + got, sizeof value - got, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fatal("the system gives no random bytes");
            got += static_cast<size_t>(n);
        }
        return value;
    }();
    return seed;
}

CFTypeID registerTypeClass(const TypeClass *typeClass) noexcept
{
    std::lock_guard<std::mutex> lock(registryMutex());
    CFTypeID                    id = gNextTypeID.fetch_add(1);
    if (id >= kMaxTypes) fatal("too many object types registered");
    gClasses[id].store(typeClass);
    return id;
}

void registerBuiltinTypeClass(CFTypeID fixedID, const TypeClass *typeClass) noexcept
{
    if (fixedID >= kFirstDynamicTypeID) fatal("a built-in type ID must be below 64");
    gClasses[fixedID].store(typeClass);
}

const TypeClass *typeClassFor(CFTypeID typeID) noexcept
{
    switch (typeID) {
    case kAllocatorTypeID:
        return &kAllocatorClass;
    case kStringTypeID:
        return &kStringClass;
    case kArrayTypeID:
        return &kArrayClass;
    case kDictionaryTypeID:
        return &kDictionaryClass;
    case kDataTypeID:
        return &kDataClass;
    case kBooleanTypeID:
        return &kBooleanClass;
    case kNumberTypeID:
        return &kNumberClass;
    case kDateTypeID:
        return &kDateClass;
    default:
        break;
    }
    if (typeID >= kMaxTypes) return nullptr;
    return gClasses[typeID].load();
}

void destroyObject(Object *object) noexcept
{
    const TypeClass *typeClass = typeClassFor(object->typeID);
    if (typeClass == nullptr || typeClass->destroy == nullptr) fatal("object of unknown type");
    typeClass->destroy(object);
}

} // namespace vz

using namespace vz; // the C entry points below are thin skins over vz

namespace {

const TypeClass &classOf(CFTypeRef cf, const char *function)
{
    if (cf == nullptr) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with NULL", function);
        fatal(message);
    }
    const TypeClass *typeClass = typeClassFor(typeOf(cf));
    if (typeClass == nullptr) fatal("object of unknown type");
    return *typeClass;
}

} // namespace

CFTypeRef CFRetain(CFTypeRef cf) noexcept
{
    if (cf == nullptr) fatal("CFRetain called with NULL");
    retainObject(cf);
    return cf;
}

void CFRelease(CFTypeRef cf) noexcept
{
    if (cf == nullptr) fatal("CFRelease called with NULL");
    releaseObject(cf);
}

CFIndex CFGetRetainCount(CFTypeRef cf) noexcept
{
    if (cf == nullptr) fatal("CFGetRetainCount called with NULL");
    uint32_t count = asObject(cf)->refCount.load(std::memory_order_relaxed);
    return count == kImmortalCount ? static_cast<CFIndex>(INT32_MAX) : static_cast<CFIndex>(count);
}

CFTypeID CFGetTypeID(CFTypeRef cf) noexcept
{
    if (cf == nullptr) fatal("CFGetTypeID called with NULL");
    return typeOf(cf);
}

CFStringRef CFCopyTypeIDDescription(CFTypeID typeID) noexcept
{
    const TypeClass *typeClass = typeClassFor(typeID);
    if (typeClass == nullptr) return nullptr;
    return createStringFromUTF8(typeClass->name, std::char_traits<char>::length(typeClass->name));
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) noexcept
{
    const TypeClass &typeClass = classOf(cf1, "CFEqual");
    if (cf2 == nullptr) fatal("CFEqual called with NULL");
    if (cf1 == cf2) return true;
    if (typeOf(cf1) != typeOf(cf2)) return false;
    if (typeClass.equal == nullptr) return false;
    return typeClass.equal(asObject(cf1), asObject(cf2));
}

CFHashCode CFHash(CFTypeRef cf) noexcept
{
    const TypeClass &typeClass = classOf(cf, "CFHash");
    if (typeClass.hash == nullptr) return reinterpret_cast<CFHashCode>(cf);
    return typeClass.hash(asObject(cf));
}

CFStringRef CFCopyDescription(CFTypeRef cf) noexcept
{
    const TypeClass &typeClass = classOf(cf, "CFCopyDescription");
    if (typeClass.copyDescription != nullptr) return typeClass.copyDescription(asObject(cf));
    char text[96];
    int  length = std::snprintf(text, sizeof text, "<%s %p>", typeClass.name, cf);
    return createStringFromUTF8(text, static_cast<size_t>(length));
}

CFAllocatorRef CFGetAllocator(CFTypeRef cf) noexcept
{
    (void)classOf(cf, "CFGetAllocator");
    return kCFAllocatorSystemDefault;
}

void CFShow(CFTypeRef obj) noexcept
{
    if (obj == nullptr) {
        std::fputs("(null)\n", stderr);
        return;
    }
    CFStringRef description = CFCopyDescription(obj);
    if (description == nullptr) return;
    guardedVoid([&] {
        std::string text = toUTF8String(description);
        std::fprintf(stderr, "%s\n", text.c_str());
    });
    CFRelease(description);
}
