// MoreCFQ.h: the property-list toolkit under the whole library: turning
// failed creations into error codes, null-tolerant retain and release, scratch
// memory, empty containers, container conversions, numbers, merge and string
// normalisation; key paths and walks over property lists; C strings,
// file-name records, localised strings, frameworks and property-list files;
// and the one assertion routine of the system.
//
// Error codes: 0 success, -4960 a property-list object could not be made (or
// a framework loaded, or a file parsed), -108 a memory block could not be
// allocated, -37 a string too long for a file-name record, 5400 a key of a
// key path is missing, 5401 a value on a key path is not a dictionary or a
// string cannot be converted; the platform's codes are passed through.
//
// A creating function's out-parameter must be non-NULL and point to NULL on
// entry; on success it holds one reference (or block) the caller owns, on
// failure it stays NULL.
#ifndef VZ_MORECFQ_H
#define VZ_MORECFQ_H

#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>

// Writes "file:line: failed assertion `expr'" to standard error, flushes it
// and aborts. Never compiled out; the expression text is API, so write it
// exactly as agreed.
[[noreturn]] void CFQAssertionFailed(const char *file, unsigned line,
                                     const char *expressionText) noexcept;

// clang-format off
#define VZ_ASSERT(expr)                                                                           \
    ((expr) ? (void) 0 : CFQAssertionFailed(__FILE__, __LINE__, #expr))
// clang-format on

// The size of a memory block, a 32-bit count as on the system's target.
typedef UInt32 ByteCount;

enum {
    kCFQErrorObjectNotMade  = -4960, // a property-list object could not be made
    kCFQErrorNoMemory       = -108,  // a memory block could not be allocated
    kCFQErrorNameTooLong    = -37,   // more than 255 UTF-16 units for a file-name record
    kCFQErrorKeyMissing     = 5400,  // a key of a key path is not present
    kCFQErrorNotConvertible = 5401   // a key path runs through a non-dictionary, or a
                                     // string has no form in an encoding
};

OSStatus  CFQErrorBoolean(Boolean shouldBeTrue) noexcept;
OSStatus  CFQError(const void *shouldBeNotNULL) noexcept;
CFTypeRef CFQRetain(CFTypeRef cf) noexcept;
void      CFQRelease(CFTypeRef cf) noexcept;

OSStatus CFQAllocate(ByteCount bytesToAllocate, void **blockPtrPtr) noexcept;
void     CFQDeallocate(void *blockPtr) noexcept;
// A block of count entries of entrySize bytes each, as CFQAllocate gives
// one; a size that a ByteCount cannot hold below 2 GiB is refused with -108
// (no block) rather than cut down to a block too small for the entries.
OSStatus CFQAllocateEntries(CFIndex count, size_t entrySize, void **blockPtrPtr) noexcept;

OSStatus CFQDictionaryCreateMutable(CFMutableDictionaryRef *result) noexcept;
OSStatus CFQArrayCreateMutable(CFMutableArrayRef *result) noexcept;

OSStatus CFQArrayCreateWithDictionaryKeys(CFDictionaryRef dict, CFArrayRef *result) noexcept;
OSStatus CFQArrayCreateWithDictionaryValues(CFDictionaryRef dict, CFArrayRef *result) noexcept;
OSStatus CFQDictionaryCreateWithArrayOfKeysAndValues(CFArrayRef keys, CFArrayRef values,
                                                     CFDictionaryRef *result) noexcept;
OSStatus CFQDictionaryMerge(CFMutableDictionaryRef dst, CFDictionaryRef src) noexcept;
OSStatus CFQDictionarySetNumber(CFMutableDictionaryRef dict, const void *key,
                                SInt32 value) noexcept;
OSStatus CFQStringNormalize(CFStringRef *strPtr) noexcept;

// ---------------------------------------------------------------------------
// Key paths: a key for each level of nested dictionaries, outermost first,
// as a C array of pathElementCount (at least 1) keys or as an array. Get
// hands out a borrowed value. Set and remove replace every dictionary on the
// way to the last key by a fresh mutable copy (values off the path are
// shared), so a reference taken to one of them earlier keeps its contents;
// they never create a missing dictionary. 5400 when a key is missing, 5401
// when a value on the way is not a dictionary.

OSStatus CFQDictionaryGetValueAtPath(CFDictionaryRef dict, const void *path[],
                                     CFIndex pathElementCount, const void **result) noexcept;
OSStatus CFQDictionaryGetValueAtPathArray(CFDictionaryRef dict, CFArrayRef path,
                                          const void **result) noexcept;
OSStatus CFQDictionarySetValueAtPath(CFMutableDictionaryRef dict, const void *path[],
                                     CFIndex pathElementCount, const void *value) noexcept;
OSStatus CFQDictionarySetValueAtPathArray(CFMutableDictionaryRef dict, CFArrayRef path,
                                          const void *value) noexcept;
OSStatus CFQDictionaryRemoveValueAtPath(CFMutableDictionaryRef dict, const void *path[],
                                        CFIndex pathElementCount) noexcept;
OSStatus CFQDictionaryRemoveValueAtPathArray(CFMutableDictionaryRef dict, CFArrayRef path) noexcept;

// ---------------------------------------------------------------------------
// Walks. A leaf is anything but a dictionary or an array. The deep walk
// calls func on every node, parents before children, dictionaries' values in
// the dictionary's order (keys are not visited). The shallow walk calls func
// on each child of a dictionary (keys in literal order) or array (the key is
// a number holding the index); a leaf is an assertion.

typedef void (*CFQPropertyListDeepApplierFunction)(CFTypeRef node, void *context);
typedef void (*CFQPropertyListShallowApplierFunction)(CFTypeRef key, CFTypeRef node, void *context);

Boolean CFQPropertyListIsLeaf(CFTypeRef node) noexcept;
void CFQPropertyListDeepApplyFunction(CFTypeRef propList, CFQPropertyListDeepApplierFunction func,
                                      void *context) noexcept;
void CFQPropertyListShallowApplyFunction(CFTypeRef                             propList,
                                         CFQPropertyListShallowApplierFunction func,
                                         void                                 *context) noexcept;

// ---------------------------------------------------------------------------
// Strings, bundles and property-list files.

// A malloc'd block (free it with free) holding str in encoding and one zero
// byte; 5401 when a character has no form in the encoding.
OSStatus CFQStringCopyCString(CFStringRef str, CFStringEncoding encoding, char **cStrPtr) noexcept;
// Fills the record; -37, record untouched, for more than 255 UTF-16 units.
OSStatus CFQStringGetHFSUniStr255(CFStringRef str, HFSUniStr255 *hfsStr) noexcept;
// A string of the record's units; -37 for a length above 255.
OSStatus CFQStringCreateWithHFSUniStr255(const HFSUniStr255 *hfsStr, CFStringRef *strPtr) noexcept;
// key's translation in the main bundle's Localizable table (key itself
// without one), in canonical decomposition. comment is for translators.
OSStatus CFQCopyLocalisedNormalisedString(CFStringRef key, CFStringRef comment,
                                          CFStringRef *resultPtr) noexcept;
// The framework frameworkName (one path component, "Name.framework") of the
// frameworks folder, with its executable loaded; -4960 when it is not there,
// has no executable or does not load.
OSStatus CFQBundleCreateFromFrameworkName(CFStringRef  frameworkName,
                                          CFBundleRef *bundlePtr) noexcept;
// The property list of an XML file; the read's own error code (the URL
// codes, -12 for a missing file) or -4960 when it does not parse.
OSStatus CFQPropertyListCreateFromXMLCFURL(CFURLRef xmlFile, CFOptionFlags mutabilityOption,
                                           CFPropertyListRef *result) noexcept;
OSStatus CFQPropertyListCreateFromXMLFSRef(const FSRef *xmlFile, CFOptionFlags mutabilityOption,
                                           CFPropertyListRef *result) noexcept;

#endif
