// PlistDate.h: the text of <date> elements, "YYYY-MM-DDTHH:MM:SSZ" in UTC,
// to and from absolute time (seconds since 2001-01-01 00:00:00 UTC).
//
// The calendar is the proleptic Gregorian one, years 0000 to 9999 (the four
// digits the text has room for); there are no leap seconds. Whole seconds are
// written as above. A time with a fraction of a second is written with the
// shortest decimal fraction that reads back to the same time
// ("...:05.25Z"), so that a date written and read again stays equal.
#ifndef VZ_PLATFORM_PLISTDATE_H
#define VZ_PLATFORM_PLISTDATE_H

#include <optional>
#include <string>
#include <string_view>

namespace vz {

// The absolute time of a date text, or nothing when the text is not a valid
// date (wrong shape, a month, day, hour, minute or second out of range).
// XML whitespace around the text is ignored.
std::optional<double> parsePlistDate(std::string_view text) noexcept;

// Appends the text of an absolute time to out. False, with nothing
// appended, for a time that is not finite or lies outside years 0000-9999.
// May throw std::bad_alloc.
[[nodiscard]] bool appendPlistDate(double absoluteTime, std::string &out);

} // namespace vz

#endif
