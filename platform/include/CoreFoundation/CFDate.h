// CFDate.h: points in time, as seconds since 2001-01-01 00:00:00 UTC.
#ifndef VZ_CFDATE_H
#define VZ_CFDATE_H

#include <CoreFoundation/CFBase.h>

typedef double                 CFTimeInterval;
typedef CFTimeInterval         CFAbsoluteTime;
typedef const struct __CFDate *CFDateRef;

extern "C" {

extern const CFTimeInterval kCFAbsoluteTimeIntervalSince1970;
extern const CFTimeInterval kCFAbsoluteTimeIntervalSince1904;

CFAbsoluteTime     CFAbsoluteTimeGetCurrent(void) noexcept;
CFTypeID           CFDateGetTypeID(void) noexcept;
CFDateRef          CFDateCreate(CFAllocatorRef allocator, CFAbsoluteTime at) noexcept;
CFAbsoluteTime     CFDateGetAbsoluteTime(CFDateRef theDate) noexcept;
CFTimeInterval     CFDateGetTimeIntervalSinceDate(CFDateRef theDate, CFDateRef otherDate) noexcept;
CFComparisonResult CFDateCompare(CFDateRef theDate, CFDateRef otherDate, void *context) noexcept;

} // extern "C"

#endif
