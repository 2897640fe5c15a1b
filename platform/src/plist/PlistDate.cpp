// PlistDate.cpp: the text of <date> elements over the calendar of C++20
// <chrono> (proleptic Gregorian, no leap seconds): the strict parser in front
// checks the shape and ranges, <chrono> does the arithmetic.
#include "PlistDate.h"

#include <charconv>
#include <chrono>
#include <cmath>

namespace vz {

namespace {

namespace chr = std::chrono;

// Absolute time counts from here.
constexpr chr::sys_days kReferenceDay      = chr::sys_days{chr::year{2001} / 1 / 1};
constexpr double        kLatestWritable    = 3e11; // beyond year 9999, well inside int64
constexpr int           kFirstWritableYear = 0;
constexpr int           kLastWritableYear  = 9999;
// "0." and the digits of the longest fraction the writer can produce (the
// smallest subnormal, 5e-324, takes 326 characters in fixed notation).
constexpr size_t kMaxFractionText = 400;

bool isXMLSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads exactly `width` decimal digits at text[at].
bool readDigits(std::string_view text, size_t at, size_t width, unsigned &value) noexcept
{
    if (at + width > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + width; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

void appendDigits(unsigned value, size_t width, std::string &out)
{
    char digits[8];
    for (size_t i = width; i-- > 0;) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, width);
}

} // namespace

std::optional<double> parsePlistDate(std::string_view text) noexcept
{
    while (!text.empty() && isXMLSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXMLSpace(text.back()))
        text.remove_suffix(1);

    // YYYY-MM-DDTHH:MM:SS, then an optional fraction, then Z.
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' ||
        !readDigits(text, 5, 2, month) || text[7] != '-' || !readDigits(text, 8, 2, day) ||
        text[10] != 'T' || !readDigits(text, 11, 2, hour) || text[13] != ':' ||
        !readDigits(text, 14, 2, minute) || text[16] != ':' || !readDigits(text, 17, 2, second))
        return std::nullopt;
    chr::year_month_day date{chr::year{static_cast<int>(year)}, chr::month{month}, chr::day{day}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;

    double           fraction = 0;
    std::string_view rest     = text.substr(19);
    if (rest.front() == '.') {
        size_t digits = 1;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        if (digits == 1) return std::nullopt;
        // "0.ddd" parsed as a whole gives the correctly rounded fraction.
        char   buffer[kMaxFractionText];
        size_t length = digits + 1;
        if (length > sizeof buffer) return std::nullopt;
        buffer[0] = '0';
        rest.copy(buffer + 1, length - 1);
        auto parsed = std::from_chars(buffer, buffer + length, fraction);
        if (parsed.ec != std::errc()) return std::nullopt;
        rest.remove_prefix(digits);
    }
    if (rest != "Z") return std::nullopt;

    chr::seconds at = chr::sys_days{date} - kReferenceDay + chr::hours{hour} +
                      chr::minutes{minute} + chr::seconds{second};
    return static_cast<double>(at.count()) + fraction;
}

bool appendPlistDate(double absoluteTime, std::string &out)
{
    if (!std::isfinite(absoluteTime) || std::fabs(absoluteTime) > kLatestWritable) return false;
    double              whole = std::floor(absoluteTime);
    chr::sys_seconds    at    = kReferenceDay + chr::seconds{static_cast<int64_t>(whole)};
    chr::sys_days       day   = chr::floor<chr::days>(at);
    chr::year_month_day civil{day};
    chr::hh_mm_ss       time{at - day};
    int                 year = static_cast<int>(civil.year());
    if (year < kFirstWritableYear || year > kLastWritableYear) return false;

    // The fraction, when there is one, in the shortest fixed notation that
    // reads back exactly; a time so close below a whole second that the
    // subtraction rounds cannot be written exactly and is refused.
    char   fraction[kMaxFractionText];
    size_t fractionLength = 0;
    if (whole != absoluteTime) {
        double part = absoluteTime - whole;
        auto   result =
            std::to_chars(fraction, fraction + sizeof fraction, part, std::chars_format::fixed);
        if (result.ec != std::errc() || fraction[0] != '0' || fraction[1] != '.') return false;
        double back = 0;
        std::from_chars(fraction, result.ptr, back);
        if (whole + back != absoluteTime) return false;
        fractionLength = static_cast<size_t>(result.ptr - fraction);
    }

    out.reserve(out.size() + 20 + fractionLength);
    appendDigits(static_cast<unsigned>(year), 4, out);
    out.push_back('-');
    appendDigits(static_cast<unsigned>(civil.month()), 2, out);
    out.push_back('-');
    appendDigits(static_cast<unsigned>(civil.day()), 2, out);
    out.push_back('T');
    appendDigits(static_cast<unsigned>(time.hours().count()), 2, out);
    out.push_back(':');
    appendDigits(static_cast<unsigned>(time.minutes().count()), 2, out);
    out.push_back(':');
    appendDigits(static_cast<unsigned>(time.seconds().count()), 2, out);
    if (fractionLength != 0) out.append(fraction + 1, fractionLength - 1); // ".ddd"
    out.push_back('Z');
    return true;
}

} // namespace vz
