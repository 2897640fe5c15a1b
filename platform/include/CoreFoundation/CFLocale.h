// CFLocale.h: locales, as far as localised comparison and case mapping need
// them. A locale is an ICU locale identifier such as "en_US" or "tr".
#ifndef VZ_CFLOCALE_H
#define VZ_CFLOCALE_H

#include <CoreFoundation/CFString.h>

extern "C" {

CFTypeID    CFLocaleGetTypeID(void) noexcept;
CFLocaleRef CFLocaleCreate(CFAllocatorRef allocator, CFStringRef localeIdentifier) noexcept;
// The locale of the process environment (LC_ALL, LC_COLLATE, LANG), or the
// root locale.
CFLocaleRef CFLocaleCopyCurrent(void) noexcept;
CFStringRef CFLocaleGetIdentifier(CFLocaleRef locale) noexcept;

} // extern "C"

#endif
