// Description.cpp: the text of CFCopyDescription for containers, data and
// dates, and of every value nested in a container.
#include "Description.h"

#include "Containers.h"
#include "StringStorage.h"

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

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void civilFromDays(long long days, long long &year, unsigned &month, unsigned &day)
{
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    unsigned  doe = static_cast<unsigned>(days - era * 146097);
    unsigned  yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    year          = static_cast<long long>(yoe) + era * 400;
    unsigned doy  = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp   = (5 * doy + 2) / 153;
    day           = doy - (153 * mp + 2) / 5 + 1;
    month         = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2) ++year;
}

void appendDate(std::u16string &out, CFDateRef date)
{
    double at = CFDateGetAbsoluteTime(date) + kCFAbsoluteTimeIntervalSince1970;
    if (!std::isfinite(at) || std::fabs(at) > 1e15) {
        appendASCII(out, "<invalid date>");
        return;
    }
    long long seconds = static_cast<long long>(std::floor(at));
    long long days    = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    long long rest    = seconds - days * 86400;
    long long year;
    unsigned  month, day;
    civilFromDays(days, year, month, day);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld +0000", year, month,
                  day, rest / 3600, rest / 60 % 60, rest % 60);
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
