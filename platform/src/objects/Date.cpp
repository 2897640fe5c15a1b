// Date.cpp: dates, as seconds since 2001-01-01 00:00:00 UTC.
#include "Description.h"
#include "StringStorage.h"

#include <cmath>
#include <cstdio>
#include <ctime>

struct __CFDate : vz::Object {
    CFAbsoluteTime at;
    explicit __CFDate(CFAbsoluteTime t) noexcept : Object(vz::kDateTypeID), at(t) {}
};

namespace {

void destroyDate(vz::Object *object)
{
    vz::deleteObject<__CFDate>(object);
}

bool equalDates(const vz::Object *a, const vz::Object *b)
{
    double x = static_cast<const __CFDate *>(a)->at;
    double y = static_cast<const __CFDate *>(b)->at;
    return x == y || (std::isnan(x) && std::isnan(y));
}

CFHashCode hashDate(const vz::Object *object)
{
    double t = static_cast<const __CFDate *>(object)->at;
    return static_cast<CFHashCode>(std::isfinite(t) ? static_cast<long long>(t) : 0);
}

CFStringRef describeDate(const vz::Object *object)
{
    return vz::guarded<CFStringRef>(nullptr, [&] {
        std::u16string text;
        vz::appendNestedDescription(text, object, true, 0);
        return vz::createStringFromDescription(text);
    });
}

const __CFDate *checkDate(CFDateRef date, const char *function)
{
    if (date == nullptr || vz::typeOf(date) != vz::kDateTypeID) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with something that is not a date",
                      function);
        vz::fatal(message);
    }
    return date;
}

} // namespace

namespace vz {
const TypeClass kDateClass = {"CFDate", destroyDate, equalDates, hashDate, describeDate};
}

const CFTimeInterval kCFAbsoluteTimeIntervalSince1970 = 978307200.0;
const CFTimeInterval kCFAbsoluteTimeIntervalSince1904 = 3061152000.0;

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) noexcept
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) - kCFAbsoluteTimeIntervalSince1970 +
           static_cast<double>(now.tv_nsec) * 1e-9;
}

CFTypeID CFDateGetTypeID(void) noexcept
{
    return vz::kDateTypeID;
}
CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at) noexcept
{
    return vz::newObject<__CFDate>(at);
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate) noexcept
{
    return checkDate(theDate, "CFDateGetAbsoluteTime")->at;
}

CFTimeInterval CFDateGetTimeIntervalSinceDate(CFDateRef theDate, CFDateRef otherDate) noexcept
{
    return checkDate(theDate, "CFDateGetTimeIntervalSinceDate")->at -
           checkDate(otherDate, "CFDateGetTimeIntervalSinceDate")->at;
}

CFComparisonResult CFDateCompare(CFDateRef theDate, CFDateRef otherDate, void *) noexcept
{
    double a = checkDate(theDate, "CFDateCompare")->at;
    double b = checkDate(otherDate, "CFDateCompare")->at;
    return a < b ? kCFCompareLessThan : (a > b ? kCFCompareGreaterThan : kCFCompareEqualTo);
}
