// CFError.h: error objects: a domain, a code and a dictionary of details.
//
// The bundle loader reports why an executable did not load through one
// (CFBundleLoadExecutableAndReturnError): the loader's own message is the
// failure reason, for a program's debugging; nothing is printed.
#ifndef VZ_CFERROR_H
#define VZ_CFERROR_H

#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFString.h>

typedef const struct __CFError *CFErrorRef;
typedef CFStringRef             CFErrorDomain;

// Keys of an error's details.
#define kCFErrorLocalizedDescriptionKey CFSTR("LocalizedDescription")
#define kCFErrorLocalizedFailureReasonKey CFSTR("LocalizedFailureReason")
#define kCFErrorFilePathKey CFSTR("FilePath")

extern "C" {

CFTypeID CFErrorGetTypeID(void) noexcept;
// userInfo may be NULL; the error keeps a copy of it.
CFErrorRef CFErrorCreate(CFAllocatorRef allocator, CFErrorDomain domain, CFIndex code,
                         CFDictionaryRef userInfo) noexcept;

CFErrorDomain   CFErrorGetDomain(CFErrorRef err) noexcept;
CFIndex         CFErrorGetCode(CFErrorRef err) noexcept;
CFDictionaryRef CFErrorCopyUserInfo(CFErrorRef err) noexcept;
// The localized description from the details, or a text naming the domain
// and code.
CFStringRef CFErrorCopyDescription(CFErrorRef err) noexcept;
// The failure reason from the details, or NULL.
CFStringRef CFErrorCopyFailureReason(CFErrorRef err) noexcept;

} // extern "C"

#endif
