// Description.cpp: the text of CFCopyDescription for containers, data and
// dates, and of every value nested in a container.
#include "Description.h"

#include "Containers.h"
#include "StringStorage.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace vz {

namespace {

void appendASCII(std::u16string &out, const char *text)
{
    while (*text != 0)
        out.push_back(static_cast<char16_t>(*text++));
}

void appendIndent(std::u16string &out, int depth)
{
    out.append(static_cast<size_t>(depth) * 4, u' ');
}

// Strings inside containers are quoted unless they are a plain word.
void appendQuotedString(std::u16string &out, CFStringRef s)
{
    StringUnits units = unitsOf(s);
    bool        plain = units.length != 0;
    for (size_t i = 0; i < units.length && plain; ++i) {
        char16_t c = units.at(i);
        plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                c == u'_' || c == u'$' || c == u'/' || c == u':' || c == u'.' || c == u'-';
    }
    if (plain) {
        for (size_t i = 0; i < units.length; ++i)
            out.push_back(units.at(i));
        return;
    }
    out.push_back(u'"');
    for (size_t i = 0; i < units.length; ++i) {
        char16_t c = units.at(i);
        if (c == u'"' || c == u'\\') {
            out.push_back(u'\\');
            out.push_back(c);
        } else if (c == u'\n') {
            appendASCII(out, "\\n");
        } else if (c == u'\t') {
            appendASCII(out, "\\t");
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", c);
            appendASCII(out, escape);
        } else {
            out.push_back(c);
        }
    }
    out.push_back(u'"');
}

void appendData(std::u16string &out, CFDataRef data)
{
    static const char digits[] = "0123456789abcdef";
    const UInt8      *bytes    = CFDataGetBytePtr(data);
    CFIndex           length   = CFDataGetLength(data);
    out.push_back(u'<');
    for (CFIndex i = 0; i < length; ++i) {
        if (i != 0 && i % 4 == 0) out.push_back(u' ');
        out.push_back(static_cast<char16_t>(digits[bytes[i] >> 4]));
        out.push_back(static_cast<char16_t>(digits[bytes[i] & 15]));
    }
    out.push_back(u'>');
}

// Dates further than this from 1970 (about 31,000 years) lie beyond the years
// the calendar of <chrono> counts.
constexpr double kLatestDescribed = 9.0e11;

void appendDate(std::u16string &out, CFDateRef date)
{
    namespace chr = std::chrono;
    double at     = CFDateGetAbsoluteTime(date) + kCFAbsoluteTimeIntervalSince1970;
    if (!std::isfinite(at) || std::fabs(at) > kLatestDescribed) {
        appendASCII(out, "<invalid date>");
        return;
    }
    chr::sys_seconds    time{chr::seconds{static_cast<long long>(std::floor(at))}};
    chr::sys_days       day = chr::floor<chr::days>(time);
    chr::year_month_day civil{day};
    chr::hh_mm_ss       clock{time - day};
    char                text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld +0000",
                  static_cast<int>(civil.year()), static_cast<unsigned>(civil.month()),
                  static_cast<unsigned>(civil.day()), static_cast<long long>(clock.hours().count()),
                  static_cast<long long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
    appendASCII(out, text);
}

void appendCopiedDescription(std::u16string &out, CFTypeRef value)
{
    CFStringRef description = CFCopyDescription(value);
    if (description == nullptr) throw std::bad_alloc();
    StringUnits units = unitsOf(description);
    for (size_t i = 0; i < units.length; ++i)
        out.push_back(units.at(i));
    releaseObject(description);
}

} // namespace

void appendNestedDescription(std::u16string &out, const void *value, bool isObject, int depth)
{
    if (!isObject) {
        char text[32];
        std::snprintf(text, sizeof text, "<%p>", value);
        appendASCII(out, text);
        return;
    }
    if (value == nullptr) {
        appendASCII(out, "(null)");
        return;
    }
    if (depth > 512) {
        appendASCII(out, "...");
        return;
    }
    switch (typeOf(value)) {
    case kStringTypeID:
        if (depth == 0) {
            appendCopiedDescription(out, value);
        } else {
            appendQuotedString(out, static_cast<CFStringRef>(value));
        }
        return;
    case kDataTypeID:
        appendData(out, static_cast<CFDataRef>(value));
        return;
    case kDateTypeID:
        appendDate(out, static_cast<CFDateRef>(value));
        return;
    case kArrayTypeID: {
        auto array    = static_cast<CFArrayRef>(value);
        bool objects  = hasStandardCallBacks(array);
        auto elements = arrayValues(array);
        if (elements.empty()) {
            appendASCII(out, "(\n");
            appendIndent(out, depth);
            out.push_back(u')');
            return;
        }
        appendASCII(out, "(\n");
        for (size_t i = 0; i < elements.size(); ++i) {
            appendIndent(out, depth + 1);
            appendNestedDescription(out, elements[i], objects, depth + 1);
            if (i + 1 < elements.size()) out.push_back(u',');
            out.push_back(u'\n');
        }
        appendIndent(out, depth);
        out.push_back(u')');
        return;
    }
    case kDictionaryTypeID: {
        auto dict    = static_cast<CFDictionaryRef>(value);
        bool objects = hasStandardCallBacks(dict);
        appendASCII(out, "{\n");
        for (const DictionaryEntry &entry : dictionaryEntries(dict)) {
            appendIndent(out, depth + 1);
            appendNestedDescription(out, entry.key, objects, depth + 1);
            appendASCII(out, " = ");
            appendNestedDescription(out, entry.value, objects, depth + 1);
            appendASCII(out, ";\n");
        }
        appendIndent(out, depth);
        out.push_back(u'}');
        return;
    }
    default:
        appendCopiedDescription(out, value);
        return;
    }
}

CFStringRef createStringFromDescription(const std::u16string &text) noexcept
{
    return createStringFromUTF16(text.data(), text.size());
}

} // namespace vz
