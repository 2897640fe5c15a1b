// PlistListing.cpp: the readable listing of property-list values.
#include "PlistListing.h"

#include "Containers.h"
#include "PlistDate.h"
#include "StringStorage.h"

#include <VZPlatformTools.h>
#include <VZToolSupport.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vz {

namespace {

class Lister {
  public:
    explicit Lister(std::string &out) : out_(out) {}
    void value(CFTypeRef value, int depth)
    {
        CFTypeID type = CFGetTypeID(value);
        if (type == CFStringGetTypeID()) return quote(static_cast<CFStringRef>(value));
        if (type == CFBooleanGetTypeID()) return text(value == kCFBooleanTrue ? "true" : "false");
        if (type == CFNumberGetTypeID()) return number(static_cast<CFNumberRef>(value));
        if (type == CFDateGetTypeID()) return date(static_cast<CFDateRef>(value));
        if (type == CFDataGetTypeID()) return data(static_cast<CFDataRef>(value));
        if (type == CFArrayGetTypeID()) return array(static_cast<CFArrayRef>(value), depth);
        if (type == CFDictionaryGetTypeID())
            return dictionary(static_cast<CFDictionaryRef>(value), depth);
        text("?");
    }

  private:
    void text(const char *s) { out_ += s; }
    void indent(int depth) { out_.append(static_cast<size_t>(depth) * 2, ' '); }

    // The string in double quotes: quotes, backslashes and controls of the
    // first 128 characters escaped as JSON escapes them, then the rest that a
    // terminal must not be handed raw (C1 controls, bidirectional overrides
    // and isolates, noncharacters) as every command escapes it, "\u202e".
    // Other text, non-ASCII letters included, stays byte for byte.
    void quote(CFStringRef string)
    {
        std::string utf8 = toUTF8String(string);
        std::string inner;
        inner.reserve(utf8.size());
        for (unsigned char c : utf8) {
            switch (c) {
            case '"':
                inner += "\\\"";
                break;
            case '\\':
                inner += "\\\\";
                break;
            case '\n':
                inner += "\\n";
                break;
            case '\t':
                inner += "\\t";
                break;
            case '\r':
                inner += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    inner += escape;
                } else {
                    inner += static_cast<char>(c);
                }
            }
        }
        out_ += '"';
        out_ += vztool::printable(inner);
        out_ += '"';
    }
    void number(CFNumberRef number)
    {
        char        buffer[64];
        char       *end   = buffer;
        NumberValue value = numberValue(number);
        switch (value.kind) {
        case NumberKind::Signed:
            end = std::to_chars(buffer, buffer + 64, value.i).ptr;
            break;
        case NumberKind::Unsigned:
            end = std::to_chars(buffer, buffer + 64, value.u).ptr;
            break;
        case NumberKind::Real:
            if (std::isnan(value.d)) {
                end = std::strcpy(buffer, "nan") + 3;
                break;
            }
            end = std::to_chars(buffer, buffer + 64, value.d).ptr;
            // Keep a real recognisable as one.
            if (std::isfinite(value.d) &&
                std::find_if(buffer, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
                *end++ = '.';
                *end++ = '0';
            }
            break;
        }
        out_.append(buffer, end);
    }
    void date(CFDateRef date)
    {
        out_ += "date ";
        if (!appendPlistDate(CFDateGetAbsoluteTime(date), out_)) out_ += "(out of range)";
    }
    void data(CFDataRef data)
    {
        constexpr CFIndex kShown = 64;
        CFIndex           length = CFDataGetLength(data);
        const UInt8      *bytes  = CFDataGetBytePtr(data);
        char              line[64];
        std::snprintf(line, sizeof line, "<%ld bytes", static_cast<long>(length));
        out_ += line;
        if (length > 0) out_ += ' ';
        for (CFIndex i = 0; i < length && i < kShown; ++i) {
            std::snprintf(line, sizeof line, "%02x", bytes[i]);
            out_ += line;
        }
        out_ += length > kShown ? "...>" : ">";
    }
    void array(CFArrayRef array, int depth)
    {
        CFIndex count = CFArrayGetCount(array);
        if (count == 0) return text("[]");
        out_ += "[\n";
        for (CFIndex i = 0; i < count; ++i) {
            indent(depth + 1);
            value(CFArrayGetValueAtIndex(array, i), depth + 1);
            out_ += '\n';
        }
        indent(depth);
        out_ += ']';
    }
    void dictionary(CFDictionaryRef dict, int depth)
    {
        if (CFDictionaryGetCount(dict) == 0) return text("{}");
        out_ += "{\n";
        entries(dict, depth + 1);
        indent(depth);
        out_ += '}';
    }

  public:
    // One "key = value" line per entry, keys in the canonical order.
    void entries(CFDictionaryRef dict, int depth)
    {
        CFIndex                   count = CFDictionaryGetCount(dict);
        std::vector<const void *> keys(static_cast<size_t>(count));
        std::vector<const void *> values(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        std::vector<size_t> order(keys.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return CFStringCompare(static_cast<CFStringRef>(keys[a]),
                                   static_cast<CFStringRef>(keys[b]), 0) == kCFCompareLessThan;
        });
        for (size_t i : order) {
            indent(depth);
            quote(static_cast<CFStringRef>(keys[i]));
            out_ += " = ";
            value(values[i], depth);
            out_ += '\n';
        }
    }

  private:
    std::string &out_;
};

} // namespace

void appendPlistListing(CFTypeRef value, int depth, std::string &out)
{
    Lister(out).value(value, depth);
}

void appendDictionaryEntriesListing(CFDictionaryRef dict, int depth, std::string &out)
{
    Lister(out).entries(dict, depth);
}

} // namespace vz

CFDataRef VZPropertyListCreateListing(CFPropertyListRef value) noexcept
{
    if (value == nullptr) return nullptr;
    return vz::guarded<CFDataRef>(nullptr, [&] {
        std::string listing;
        vz::appendPlistListing(value, 0, listing);
        return CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(listing.data()),
                            static_cast<CFIndex>(listing.size()));
    });
}

CFDataRef VZPropertyListCreateEntriesListing(CFDictionaryRef dict, int depth) noexcept
{
    if (dict == nullptr || depth < 0) return nullptr;
    return vz::guarded<CFDataRef>(nullptr, [&] {
        std::string listing;
        vz::appendDictionaryEntriesListing(dict, depth, listing);
        return CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(listing.data()),
                            static_cast<CFIndex>(listing.size()));
    });
}
