// Runtime.h: the object model under every CF type.
//
// Every object starts with an Object header: an atomic reference count, the
// type ID and a byte of per-type flags. A type is a TypeClass record
// (destroy, equal, hash, description) registered once; CFRelease calls the
// class's destroy when the last reference goes. Immortal objects (CFSTR
// constants, the booleans) have a count that retain and release never change.
//
// Objects are made with newObject<T>() or newObjectWithTail<T>(), which count
// the object in, honour the allocation failure switch and never throw: they
// return nullptr instead.
#ifndef VZ_PLATFORM_RUNTIME_H
#define VZ_PLATFORM_RUNTIME_H

#include <CoreFoundation/CoreFoundation.h>

#include "Arena.h"
#include "LiveObjects.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

namespace vz {

// Stops the process with "vavivaz platform: <message>" on standard error,
// for faults such as CFRelease(NULL) that the platform itself treats as
// crashes.
[[noreturn]] void fatal(const char *message) noexcept;

// The key of every hash the platform keeps over text it did not choose (the
// string hash that indexes dictionaries, the reader's string pools, expat's
// own tables): drawn at random once per process, so that a document cannot
// aim collisions at them. Nothing may rely on a hash being the same in two
// processes.
uint64_t processSeed() noexcept;

constexpr uint32_t kImmortalCount = 0xFFFFFFFFu;

struct Object {
    std::atomic<uint32_t> refCount;
    uint16_t              typeID;
    uint8_t               bits;        // per-type flags
    uint8_t               inArena = 0; // its memory came from an ObjectArena

    explicit Object(CFTypeID type, uint8_t flags = 0) noexcept
        : refCount(1), typeID(static_cast<uint16_t>(type)), bits(flags)
    {
        countObjectIn();
    }
    // An immortal object from the start (a static constant): never counted.
    struct ImmortalTag {};
    constexpr Object(CFTypeID type, uint8_t flags, ImmortalTag) noexcept
        : refCount(kImmortalCount), typeID(static_cast<uint16_t>(type)), bits(flags)
    {
    }
    ~Object()
    {
        if (!isImmortal()) countObjectOut();
    }
    Object(const Object &)            = delete;
    Object &operator=(const Object &) = delete;

    bool isImmortal() const noexcept
    {
        return refCount.load(std::memory_order_relaxed) == kImmortalCount;
    }
    // Takes the object out of the live count for good.
    void makeImmortal() noexcept
    {
        refCount.store(kImmortalCount, std::memory_order_relaxed);
        countObjectOut();
    }
};

struct TypeClass {
    const char *name;
    // Releases what the object holds and frees it.
    void (*destroy)(Object *object);
    // Called only for two objects of this type; NULL means identity.
    bool (*equal)(const Object *a, const Object *b);
    // NULL means the address.
    CFHashCode (*hash)(const Object *object);
    // A new string describing the object; NULL gives "<name 0x...>".
    CFStringRef (*copyDescription)(const Object *object);
};

// Registers a class and returns its type ID. Call once per type, typically
// from a function-local static.
CFTypeID registerTypeClass(const TypeClass *typeClass) noexcept;
// Registers the class of a built-in type under its fixed ID (below). Safe to
// call more than once with the same class.
void             registerBuiltinTypeClass(CFTypeID fixedID, const TypeClass *typeClass) noexcept;
const TypeClass *typeClassFor(CFTypeID typeID) noexcept;

// Fixed type IDs of the built-in types, so that a type test is a compare.
enum : CFTypeID {
    kAllocatorTypeID    = 2,
    kStringTypeID       = 7,
    kDictionaryTypeID   = 18,
    kArrayTypeID        = 19,
    kDataTypeID         = 20,
    kBooleanTypeID      = 21,
    kNumberTypeID       = 22,
    kLocaleTypeID       = 41,
    kDateTypeID         = 42,
    kFirstDynamicTypeID = 64
};

// The classes of the built-in types, defined beside each type.
extern const TypeClass kAllocatorClass;
extern const TypeClass kStringClass;
extern const TypeClass kArrayClass;
extern const TypeClass kDictionaryClass;
extern const TypeClass kDataClass;
extern const TypeClass kBooleanClass;
extern const TypeClass kNumberClass;
extern const TypeClass kDateClass;

inline Object *asObject(CFTypeRef cf) noexcept
{
    return const_cast<Object *>(static_cast<const Object *>(cf));
}
inline CFTypeID typeOf(CFTypeRef cf) noexcept
{
    return static_cast<const Object *>(cf)->typeID;
}

inline void retainObject(CFTypeRef cf) noexcept
{
    Object *object = asObject(cf);
    if (object->refCount.load(std::memory_order_relaxed) != kImmortalCount)
        object->refCount.fetch_add(1, std::memory_order_relaxed);
}
void        destroyObject(Object *object) noexcept;
inline void releaseObject(CFTypeRef cf) noexcept
{
    Object *object = asObject(cf);
    if (object->refCount.load(std::memory_order_relaxed) == kImmortalCount) return;
    if (object->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) destroyObject(object);
}

// Makes a T (derived from Object), from the thread's ObjectArena when one is
// current (Arena.h), else with operator new; nullptr when allocation fails
// or an armed failure fires. Destroy it with deleteObject().
template <typename T, typename... Args> T *newObject(Args &&...args) noexcept
{
    if (!allocationAllowed()) return nullptr;
    if (void *memory = arenaAllocate(sizeof(T)); memory != nullptr) {
        T *object       = new (memory) T(std::forward<Args>(args)...);
        object->inArena = 1;
        return object;
    }
    return new (std::nothrow) T(std::forward<Args>(args)...);
}
template <typename T> void deleteObject(Object *object) noexcept
{
    T *typed = static_cast<T *>(object);
    if (object->inArena == 0) {
        delete typed;
        return;
    }
    typed->~T();
    arenaFree(typed);
}

// Makes a T followed by tailBytes of storage in one block (for inline
// characters or entries), from the arena as newObject() does; free it with
// deleteObjectWithTail().
template <typename T, typename... Args>
T *newObjectWithTail(size_t tailBytes, Args &&...args) noexcept
{
    if (!allocationAllowed()) return nullptr;
    bool  inArena = true;
    void *memory  = arenaAllocate(sizeof(T) + tailBytes);
    if (memory == nullptr) {
        inArena = false;
        memory  = std::malloc(sizeof(T) + tailBytes);
    }
    if (memory == nullptr) return nullptr;
    T *object       = new (memory) T(std::forward<Args>(args)...);
    object->inArena = inArena ? 1 : 0;
    return object;
}
template <typename T> void deleteObjectWithTail(Object *object) noexcept
{
    T   *typed   = static_cast<T *>(object);
    bool inArena = object->inArena != 0;
    typed->~T();
    if (inArena)
        arenaFree(typed);
    else
        std::free(typed);
}

// An owning reference for internal code: adopts a +1 reference, retains on
// copy, releases in its destructor. release() hands the reference out.
template <typename T> class CFRef {
  public:
    CFRef() noexcept = default;
    explicit CFRef(T ref) noexcept : ref_(ref) {} // adopts
    static CFRef retain(T ref) noexcept
    {
        if (ref != nullptr) retainObject(ref);
        return CFRef(ref);
    }
    CFRef(const CFRef &other) noexcept : ref_(other.ref_)
    {
        if (ref_ != nullptr) retainObject(ref_);
    }
    CFRef(CFRef &&other) noexcept : ref_(other.ref_) { other.ref_ = nullptr; }
    CFRef &operator=(CFRef other) noexcept
    {
        std::swap(ref_, other.ref_);
        return *this;
    }
    ~CFRef()
    {
        if (ref_ != nullptr) releaseObject(ref_);
    }
    T               get() const noexcept { return ref_; }
    explicit        operator bool() const noexcept { return ref_ != nullptr; }
    [[nodiscard]] T release() noexcept
    {
        T ref = ref_;
        ref_  = nullptr;
        return ref;
    }
    void reset(T ref = nullptr) noexcept { *this = CFRef(ref); }

  private:
    T ref_ = nullptr;
};

// Runs body and turns a std::bad_alloc escaping from the standard containers
// (or thrown by the platform itself when an object or an ICU service cannot
// be made) into the documented failure value. Every entry point that uses a
// standard container goes through here, so no allocation failure crosses the
// C API. Any other exception is a programming error, not a store failure: it
// is not caught, and the noexcept boundary stops the process where it
// happened instead of reporting it as 1001.
template <typename R, typename F> R guarded(R onFailure, F &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return onFailure;
    }
}
// For mutators that have no way to report a failure (CFArrayAppendValue and
// the like): running out of memory there stops the process, as it does on the
// platform, rather than silently dropping the change.
template <typename F> void guardedVoid(F &&body) noexcept
{
    try {
        body();
    } catch (const std::bad_alloc &) {
        fatal("out of memory");
    }
}

} // namespace vz

#endif
