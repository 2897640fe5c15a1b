// FileURL.h: the URL object and the internal ways to make and read file
// URLs.
//
// A URL keeps its text and, for a file URL, its absolute path (bytes, no
// trailing "/" but for the root itself) and whether it names a folder. Any
// other URL has an empty path. URLs are immutable.
#ifndef VZ_PLATFORM_FILEURL_H
#define VZ_PLATFORM_FILEURL_H

#include "Runtime.h"

#include <CoreFoundation/CFURL.h>

#include <string>
#include <string_view>

struct __CFURL : vz::Object {
    std::string            path; // empty: not a file URL
    bool                   directory = false;
    vz::CFRef<CFStringRef> text;

    explicit __CFURL(CFTypeID type) noexcept : Object(type) {}
};

namespace vz {

// A new file URL for path, made absolute against the current folder, with
// repeated "/" folded and a trailing "/" dropped; nullptr for an empty path,
// a path with a NUL, or a failed allocation.
CFURLRef createFileURL(std::string_view path, bool isDirectory) noexcept;

// The path of a file URL; nullptr when url is not a file URL.
const std::string *filePathOf(CFURLRef url) noexcept;

// Stops the process when url is not a URL object (a fault on the platform).
void checkURL(CFTypeRef url, const char *function) noexcept;

} // namespace vz

#endif
