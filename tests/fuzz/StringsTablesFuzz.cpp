// StringsTablesFuzz.cpp: fuzz target for the tables of localised strings.
// Each input is a table file. A table that reads has string keys, and, in
// the strings-file form, string values; written out again as a strings file
// (every unit outside printable ASCII as a \U escape) it reads back equal,
// in UTF-8 and in UTF-16 with a byte-order mark alike. Nothing made while
// reading outlives the table. scripts/fuzz strings-tables SECONDS runs it.
#include "FuzzSupport.h"
#include "StringsTable.h"
#include "VZPlatformTesting.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using vzfuzz::Check;

constexpr size_t kMaxInput = 65535;

bool IsA(CFTypeRef value, CFTypeID type)
{
    return value != nullptr && CFGetTypeID(value) == type;
}

// The string as a quoted strings-file literal.
void AppendLiteral(std::u16string &out, CFStringRef string)
{
    CFIndex              length = CFStringGetLength(string);
    std::vector<UniChar> units(static_cast<size_t>(length));
    CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
    out += u'"';
    for (UniChar unit : units) {
        if (unit == u'"' || unit == u'\\') {
            out += u'\\';
            out += static_cast<char16_t>(unit);
        } else if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char16_t>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\U%04X", unsigned(unit));
            for (const char *c = escape; *c != '\0'; c++)
                out += static_cast<char16_t>(*c);
        }
    }
    out += u'"';
}

vz::CFRef<CFDictionaryRef> Parse(const std::string &bytes)
{
    return vz::parseStringsTable(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()));
}

void CheckRoundTrip(CFDictionaryRef table)
{
    CFIndex                   count = CFDictionaryGetCount(table);
    std::vector<const void *> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(table, keys.data(), values.data());
    std::u16string text;
    for (CFIndex i = 0; i < count; i++) {
        AppendLiteral(text, static_cast<CFStringRef>(keys[size_t(i)]));
        text += u" = ";
        AppendLiteral(text, static_cast<CFStringRef>(values[size_t(i)]));
        text += u";\n";
    }
    std::string utf8, utf16 = "\xFF\xFE"; // the text is ASCII: UTF-8 is its bytes
    for (char16_t unit : text) {
        utf8 += static_cast<char>(unit);
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    for (const std::string *bytes : {&utf8, &utf16}) {
        vz::CFRef<CFDictionaryRef> again = Parse(*bytes);
        Check(again && CFEqual(again.get(), table), "a table written out reads back equal");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) return 0;
    CFIndex live = VZGetLiveObjectCount();
    {
        vz::CFRef<CFDictionaryRef> table =
            Parse(std::string(reinterpret_cast<const char *>(data), size));
        if (table) {
            Check(IsA(table.get(), CFDictionaryGetTypeID()), "a table is a dictionary");
            bool                      allStrings = true;
            CFIndex                   count      = CFDictionaryGetCount(table.get());
            std::vector<const void *> keys(static_cast<size_t>(count)),
                values(static_cast<size_t>(count));
            CFDictionaryGetKeysAndValues(table.get(), keys.data(), values.data());
            for (CFIndex i = 0; i < count; i++) {
                Check(IsA(keys[size_t(i)], CFStringGetTypeID()), "a table's keys are strings");
                allStrings = allStrings && IsA(values[size_t(i)], CFStringGetTypeID());
            }
            // A property list may hold other values; a strings file never does.
            if (allStrings) CheckRoundTrip(table.get());
        }
    }
    Check(VZGetLiveObjectCount() == live, "nothing read outlives the table");
    return 0;
}
