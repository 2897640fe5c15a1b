// CFPropertyList.h: XML property lists and deep copies.
//
// Reading goes straight from XML into objects. A document type line is
// accepted but never fetched; entity declarations are refused; documents
// nested deeper than 512 levels and integers that do not fit 64 bits are
// refused. Writing produces the XML declaration, <plist version="1.0">, tab
// indentation, dictionary keys in sorted order and data in base64; a value
// that XML cannot carry (a control character, an unpaired surrogate, a
// non-string key, an object that is not a property-list kind) is refused, and
// nothing is written. Every tree written reads back equal.
#ifndef VZ_CFPROPERTYLIST_H
#define VZ_CFPROPERTYLIST_H

#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFString.h>

typedef CFOptionFlags CFPropertyListMutabilityOptions;
enum {
    kCFPropertyListImmutable                  = 0,
    kCFPropertyListMutableContainers          = 1,
    kCFPropertyListMutableContainersAndLeaves = 2
};

typedef enum {
    kCFPropertyListOpenStepFormat    = 1,
    kCFPropertyListXMLFormat_v1_0    = 100,
    kCFPropertyListBinaryFormat_v1_0 = 200
} CFPropertyListFormat;

extern "C" {

// Returns NULL on failure; when errorString is non-NULL it then receives a
// new string saying why (and NULL on success).
CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef allocator, CFDataRef xmlData,
                                                  CFOptionFlags mutabilityOption,
                                                  CFStringRef  *errorString) noexcept;
// Returns NULL when the tree holds something XML cannot carry.
CFDataRef         CFPropertyListCreateXMLData(CFAllocatorRef    allocator,
                                              CFPropertyListRef propertyList) noexcept;
CFPropertyListRef CFPropertyListCreateDeepCopy(CFAllocatorRef    allocator,
                                               CFPropertyListRef propertyList,
                                               CFOptionFlags     mutabilityOption) noexcept;
Boolean CFPropertyListIsValid(CFPropertyListRef plist, CFPropertyListFormat format) noexcept;

} // extern "C"

#endif
