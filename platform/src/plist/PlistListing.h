// PlistListing.h: a readable listing of a property-list value, for people
// (vz-plutil -p, vz-ioreg -l): JSON-like quoting, nested values on lines of
// their own indented two spaces per level, dictionary keys in the canonical
// file's order, data as its length and first 64 bytes in hexadecimal.
#ifndef VZ_PLATFORM_PLISTLISTING_H
#define VZ_PLATFORM_PLISTLISTING_H

#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace vz {

// Appends the listing of value to out; depth is the indentation level of the
// line value starts on, which nested lines take as their base.
void appendPlistListing(CFTypeRef value, int depth, std::string &out); // may throw std::bad_alloc
// Appends the entries of a dictionary without its braces: one line
// "\"key\" = value" each, at depth, in the listing's key order.
void appendDictionaryEntriesListing(CFDictionaryRef dict, int depth,
                                    std::string &out); // may throw std::bad_alloc

} // namespace vz

#endif
