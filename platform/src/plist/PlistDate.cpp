// PlistDate.cpp: Gregorian calendar arithmetic for the text of <date>
// elements.
//
// Days are counted in 400-year eras of 146097 days each, with the year
// starting on 1 March so that the leap day falls at the end of a year: then
// the day of the year follows from the month by a fixed linear rule and leap
// years only matter for the era's year count.
#include "PlistDate.h"

#include <charconv>
#include <cmath>

namespace vz {

namespace {

constexpr int64_t kDaysPerEra        = 146097;
constexpr int64_t kSecondsPerDay     = 86400;
constexpr int64_t kDays1970To2001    = 11323;
constexpr double  kLatestWritable    = 3e11; // beyond year 9999, well inside int64
constexpr int64_t kFirstWritableYear = 0;
constexpr int64_t kLastWritableYear  = 9999;
// "0." and the digits of the longest fraction the writer can produce (the
// smallest subnormal, 5e-324, takes 326 characters in fixed notation).
constexpr size_t kMaxFractionText = 400;

bool isLeapYear(int64_t year) noexcept
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned daysInMonth(int64_t year, unsigned month) noexcept
{
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

int64_t floorDiv(int64_t a, int64_t b) noexcept
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

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

int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) noexcept
{
    int64_t  y         = month <= 2 ? year - 1 : year; // years start in March
    int64_t  era       = floorDiv(y, 400);
    int64_t  yearOfEra = y - era * 400;                     // 0-399
    unsigned shifted   = month > 2 ? month - 3 : month + 9; // March is 0
    int64_t  dayOfYear = (153 * shifted + 2) / 5 + day - 1; // 0-365
    int64_t  dayOfEra  = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    // Era 0 begins on 0000-03-01, 719468 days before 1970-01-01.
    return era * kDaysPerEra + dayOfEra - 719468;
}

CivilDay civilFromDays(int64_t days) noexcept
{
    int64_t z        = days + 719468;
    int64_t era      = floorDiv(z, kDaysPerEra);
    int64_t dayOfEra = z - era * kDaysPerEra; // 0-146096
    // The last day of each 400-year era and of each century within it make
    // the simple division by 365 off by one; the corrections remove them.
    int64_t  yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t  dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t  shifted   = (5 * dayOfYear + 2) / 153; // March is 0
    unsigned day       = static_cast<unsigned>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    unsigned month     = static_cast<unsigned>(shifted < 10 ? shifted + 3 : shifted - 9);
    int64_t  year      = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return CivilDay{year, month, day};
}

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
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;

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

    int64_t days    = daysFromCivil(year, month, day) - kDays1970To2001;
    int64_t seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return static_cast<double>(seconds) + fraction;
}

bool appendPlistDate(double absoluteTime, std::string &out)
{
    if (!std::isfinite(absoluteTime) || std::fabs(absoluteTime) > kLatestWritable) return false;
    double   whole   = std::floor(absoluteTime);
    int64_t  seconds = static_cast<int64_t>(whole);
    int64_t  days    = floorDiv(seconds, kSecondsPerDay);
    int64_t  inDay   = seconds - days * kSecondsPerDay;
    CivilDay civil   = civilFromDays(days + kDays1970To2001);
    if (civil.year < kFirstWritableYear || civil.year > kLastWritableYear) return false;

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
    appendDigits(static_cast<unsigned>(civil.year), 4, out);
    out.push_back('-');
    appendDigits(civil.month, 2, out);
    out.push_back('-');
    appendDigits(civil.day, 2, out);
    out.push_back('T');
    appendDigits(static_cast<unsigned>(inDay / 3600), 2, out);
    out.push_back(':');
    appendDigits(static_cast<unsigned>(inDay / 60 % 60), 2, out);
    out.push_back(':');
    appendDigits(static_cast<unsigned>(inDay % 60), 2, out);
    if (fractionLength != 0) out.append(fraction + 1, fractionLength - 1); // ".ddd"
    out.push_back('Z');
    return true;
}

} // namespace vz
