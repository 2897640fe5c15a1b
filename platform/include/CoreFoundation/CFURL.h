// CFURL.h: file URLs.
//
// A URL made from a path is a file URL: "file://" and the absolute path,
// percent-encoded, with a "/" at the end for a folder. A relative path is
// made absolute against the current folder; repeated "/" are folded and a
// trailing "/" dropped, nothing else of the path is changed ("." and ".."
// stay). Paths are the file system's bytes: UTF-8 for a path given as a
// string.
//
// CFURLCreateWithString takes any absolute URL, but only a file URL (scheme
// "file", no host or "localhost") has a path: every call that needs one
// refuses the others (NULL, false, or kCFURLUnknownSchemeError).
//
// URLs name real paths; they are not read under the root. A URL made from
// an FSRef names the path the ref names, under whatever root it was made in.
#ifndef VZ_CFURL_H
#define VZ_CFURL_H

#include <CoreFoundation/CFArray.h>
#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFString.h>

typedef const struct __CFURL *CFURLRef;

typedef enum {
    kCFURLPOSIXPathStyle   = 0,
    kCFURLHFSPathStyle     = 1,
    kCFURLWindowsPathStyle = 2
} CFURLPathStyle;

// The status codes of CFURLCreateDataAndPropertiesFromResource.
typedef enum {
    kCFURLUnknownError                 = -10, // the read failed otherwise (see below)
    kCFURLUnknownSchemeError           = -11, // not a file URL
    kCFURLResourceNotFoundError        = -12, // nothing at the path
    kCFURLResourceAccessViolationError = -13, // permission denied
    kCFURLRemoteHostUnavailableError   = -14,
    kCFURLImproperArgumentsError       = -15, // a NULL URL or data, or properties asked for
    kCFURLUnknownPropertyKeyError      = -16,
    kCFURLPropertyKeyUnavailableError  = -17,
    kCFURLTimeoutError                 = -18
} CFURLError;

struct FSRef;

extern "C" {

CFTypeID CFURLGetTypeID(void) noexcept;

// NULL for a path style other than POSIX, an empty path, or a string that
// is not text (an unpaired surrogate) or holds a NUL.
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory) noexcept;
// The same from the path's bytes.
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory) noexcept;
// An absolute URL ("scheme:..."), or NULL for text that is not one: no
// scheme, a character a URL cannot hold, a bad percent escape, a file URL
// with a relative path. baseURL must be NULL.
CFURLRef CFURLCreateWithString(CFAllocatorRef allocator, CFStringRef URLString,
                               CFURLRef baseURL) noexcept;
// url's path with pathComponent (not empty, no NUL) after a "/". NULL for a
// URL that is not a file URL.
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef allocator, CFURLRef url,
                                               CFStringRef pathComponent,
                                               Boolean     isDirectory) noexcept;
// The URL of the item a ref names; NULL for a ref the platform did not make
// or whose item is not there.
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const struct FSRef *fsRef) noexcept;

CFStringRef CFURLGetString(CFURLRef anURL) noexcept;
Boolean     CFURLHasDirectoryPath(CFURLRef anURL) noexcept;
// The path with a terminating NUL; false when it does not fit in maxBufLen
// bytes or the URL is not a file URL.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8 *buffer,
                                         CFIndex maxBufLen) noexcept;
// The path as a string; NULL for another path style, a URL that is not a
// file URL or a path whose bytes are not UTF-8.
CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle) noexcept;

// Reads the whole file at url into *resourceData (a new data object). Only
// the data is read. True on success, with *errorCode 0; otherwise false,
// *resourceData NULL and *errorCode one of: kCFURLImproperArgumentsError (a
// NULL url or resourceData, or properties asked for),
// kCFURLUnknownSchemeError (not a file URL), kCFURLResourceNotFoundError,
// kCFURLResourceAccessViolationError, or kCFURLUnknownError for anything
// else: a folder, a file that is not a regular file (a device, a FIFO), a
// file larger than 64 MiB, a failed read. errorCode may be NULL.
Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef alloc, CFURLRef url,
                                                 CFDataRef       *resourceData,
                                                 CFDictionaryRef *properties,
                                                 CFArrayRef       desiredProperties,
                                                 SInt32          *errorCode) noexcept;

} // extern "C"

#endif
