// CFData.h: byte buffers.
#ifndef VZ_CFDATA_H
#define VZ_CFDATA_H

#include <CoreFoundation/CFBase.h>

typedef const struct __CFData *CFDataRef;
typedef struct __CFData       *CFMutableDataRef;

extern "C" {

CFTypeID  CFDataGetTypeID(void) noexcept;
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length) noexcept;
CFDataRef CFDataCreateWithBytesNoCopy(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length,
                                      CFAllocatorRef bytesDeallocator) noexcept;
CFDataRef CFDataCreateCopy(CFAllocatorRef allocator, CFDataRef theData) noexcept;
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef allocator, CFIndex capacity) noexcept;
CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                         CFDataRef theData) noexcept;

CFIndex      CFDataGetLength(CFDataRef theData) noexcept;
const UInt8 *CFDataGetBytePtr(CFDataRef theData) noexcept;
UInt8       *CFDataGetMutableBytePtr(CFMutableDataRef theData) noexcept;
void         CFDataGetBytes(CFDataRef theData, CFRange range, UInt8 *buffer) noexcept;

void CFDataSetLength(CFMutableDataRef theData, CFIndex length) noexcept;
void CFDataIncreaseLength(CFMutableDataRef theData, CFIndex extraLength) noexcept;
void CFDataAppendBytes(CFMutableDataRef theData, const UInt8 *bytes, CFIndex length) noexcept;
void CFDataReplaceBytes(CFMutableDataRef theData, CFRange range, const UInt8 *newBytes,
                        CFIndex newLength) noexcept;
void CFDataDeleteBytes(CFMutableDataRef theData, CFRange range) noexcept;

} // extern "C"

#endif
