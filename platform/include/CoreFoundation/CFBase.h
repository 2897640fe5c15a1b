// CFBase.h: the basic types of the property-list object layer, object
// identity (retain, release, type IDs, equality, hashing, descriptions) and
// allocators.
//
// Ownership follows the platform's rule: a function whose name holds Create or
// Copy hands out one reference that the caller releases; Get borrows.
// CFRetain and CFRelease on NULL are faults and stop the process.
#ifndef VZ_CFBASE_H
#define VZ_CFBASE_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

typedef unsigned char Boolean;
typedef uint8_t       UInt8;
typedef int8_t        SInt8;
typedef uint16_t      UInt16;
typedef int16_t       SInt16;
typedef uint32_t      UInt32;
typedef int32_t       SInt32;
typedef uint64_t      UInt64;
typedef int64_t       SInt64;
typedef float         Float32;
typedef double        Float64;
typedef UInt16        UniChar;
typedef UInt32        UTF32Char;
typedef SInt32        OSStatus;
typedef SInt16        OSErr;
typedef UInt32        FourCharCode;
typedef FourCharCode  OSType;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

enum { noErr = 0 };

typedef long          CFIndex;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef unsigned long CFTypeID;

typedef const void *CFTypeRef;
typedef CFTypeRef   CFPropertyListRef;

typedef const struct __CFAllocator *CFAllocatorRef;
typedef const struct __CFString    *CFStringRef;
typedef struct __CFString          *CFMutableStringRef;

typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex loc, CFIndex len)
{
    CFRange range = {loc, len};
    return range;
}

enum { kCFNotFound = -1 };

typedef enum {
    kCFCompareLessThan    = -1,
    kCFCompareEqualTo     = 0,
    kCFCompareGreaterThan = 1
} CFComparisonResult;

typedef CFComparisonResult (*CFComparatorFunction)(const void *val1, const void *val2,
                                                   void *context);

extern "C" {

// Allocators. NULL and kCFAllocatorDefault name the default allocator;
// kCFAllocatorNull allocates nothing and frees nothing (for the NoCopy
// constructors).
extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFAllocatorRef kCFAllocatorSystemDefault;
extern const CFAllocatorRef kCFAllocatorMalloc;
extern const CFAllocatorRef kCFAllocatorNull;

CFAllocatorRef CFAllocatorGetDefault(void) noexcept;
void    *CFAllocatorAllocate(CFAllocatorRef allocator, CFIndex size, CFOptionFlags hint) noexcept;
void    *CFAllocatorReallocate(CFAllocatorRef allocator, void *ptr, CFIndex newsize,
                               CFOptionFlags hint) noexcept;
void     CFAllocatorDeallocate(CFAllocatorRef allocator, void *ptr) noexcept;
CFTypeID CFAllocatorGetTypeID(void) noexcept;

// Objects.
CFTypeRef      CFRetain(CFTypeRef cf) noexcept;
void           CFRelease(CFTypeRef cf) noexcept;
CFIndex        CFGetRetainCount(CFTypeRef cf) noexcept;
CFTypeID       CFGetTypeID(CFTypeRef cf) noexcept;
CFStringRef    CFCopyTypeIDDescription(CFTypeID typeID) noexcept;
Boolean        CFEqual(CFTypeRef cf1, CFTypeRef cf2) noexcept;
CFHashCode     CFHash(CFTypeRef cf) noexcept;
CFStringRef    CFCopyDescription(CFTypeRef cf) noexcept;
CFAllocatorRef CFGetAllocator(CFTypeRef cf) noexcept;

// Writes the description of an object to standard error.
void CFShow(CFTypeRef obj) noexcept;

} // extern "C"

#endif
