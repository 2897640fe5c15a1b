// CFText.h: owned references to property-list objects and the conversions
// between them and the command's UTF-8 text.
#ifndef VZ_NETSETUP_CFTEXT_H
#define VZ_NETSETUP_CFTEXT_H

#include <CoreFoundation/CoreFoundation.h>
#include <VZToolSupport.h>

#include <optional>
#include <string>
#include <vector>

namespace netsetup {

// One owned reference, released when the holder goes; put() hands the
// library an out-parameter that points to NULL, as its calls require.
using vztool::Ref;

// Whether the text is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF), as vztool::nextUtf8 reads it.
bool IsUtf8(const std::string &text);
// A new string holding the UTF-8 text; fails with -4960 when it cannot be
// made (text from the command line is checked with IsUtf8 first).
Ref<CFStringRef> NewString(const std::string &utf8);

// The UTF-8 text of a string. An unpaired UTF-16 surrogate, which UTF-8
// cannot carry, comes out as "?".
std::string Utf8(CFStringRef text);

// The string at key in dict, if there is one (values of other kinds count as
// absent).
std::optional<std::string> StringValue(CFDictionaryRef dict, CFStringRef key);
// The strings of the array at key in dict, in order; entries that are not
// strings are left out, and anything but an array gives none.
std::vector<std::string> StringsValue(CFDictionaryRef dict, CFStringRef key);
// The integer at key in dict, if there is one.
std::optional<long long> IntegerValue(CFDictionaryRef dict, CFStringRef key);
// The dictionary at key in dict, borrowed, or NULL.
CFDictionaryRef DictionaryValue(CFDictionaryRef dict, CFStringRef key);

// A new array of the strings.
Ref<CFArrayRef> NewStringArray(const std::vector<std::string> &texts);

} // namespace netsetup

#endif
