// CFNumber.h: numbers and booleans.
//
// A number is an integer (up to 64 bits, signed, or unsigned above the
// signed range) or a real, and keeps which it is, so a store reads and writes
// back unchanged; numbers compare equal by numeric value across the two.
//
// Widths are those of the 32-bit target the system was written for:
// kCFNumberLongType is a signed 32-bit integer, as is kCFNumberIntType.
#ifndef VZ_CFNUMBER_H
#define VZ_CFNUMBER_H

#include <CoreFoundation/CFBase.h>

typedef const struct __CFNumber  *CFNumberRef;
typedef const struct __CFBoolean *CFBooleanRef;

typedef enum {
    kCFNumberSInt8Type    = 1,
    kCFNumberSInt16Type   = 2,
    kCFNumberSInt32Type   = 3,
    kCFNumberSInt64Type   = 4,
    kCFNumberFloat32Type  = 5,
    kCFNumberFloat64Type  = 6,
    kCFNumberCharType     = 7,
    kCFNumberShortType    = 8,
    kCFNumberIntType      = 9,
    kCFNumberLongType     = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType    = 12,
    kCFNumberDoubleType   = 13,
    kCFNumberCFIndexType  = 14,
    kCFNumberMaxType      = 14
} CFNumberType;

extern "C" {

extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
CFTypeID                  CFBooleanGetTypeID(void) noexcept;
Boolean                   CFBooleanGetValue(CFBooleanRef boolean) noexcept;

CFTypeID     CFNumberGetTypeID(void) noexcept;
CFNumberRef  CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType,
                            const void *valuePtr) noexcept;
CFNumberType CFNumberGetType(CFNumberRef number) noexcept;
CFIndex      CFNumberGetByteSize(CFNumberRef number) noexcept;
Boolean      CFNumberIsFloatType(CFNumberRef number) noexcept;
// Converts to the requested type; false when the value does not fit exactly
// (the stored result is then the nearest the type can hold).
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr) noexcept;
CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber,
                                   void *context) noexcept;

} // extern "C"

#endif
