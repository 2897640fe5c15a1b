// Locale.cpp: locale objects, as far as localised comparison and case mapping
// need them.
//
// A locale is its canonical ICU identifier ("tr_TR", "de__PHONEBOOK", "" for
// the root locale), kept both as a string for callers and as bytes for ICU.
// The current locale comes from the process environment the way the C
// library picks the collation locale (LC_ALL, then LC_COLLATE, then LANG),
// without the code set and modifier parts, which ICU does not read; "C" and
// "POSIX" mean the root locale.
#include "IcuLibrary.h"
#include "Unicode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct __CFLocale : vz::Object {
    CFStringRef identifier = nullptr; // owned
    char        icuName[ULOC_FULLNAME_CAPACITY];

    __CFLocale() noexcept : Object(vz::kLocaleTypeID) { icuName[0] = '\0'; }
};

namespace {

void destroyLocale(vz::Object *object)
{
    auto *locale = static_cast<__CFLocale *>(object);
    if (locale->identifier != nullptr) CFRelease(locale->identifier);
    vz::deleteObject<__CFLocale>(object);
}

bool equalLocales(const vz::Object *a, const vz::Object *b)
{
    return std::strcmp(static_cast<const __CFLocale *>(a)->icuName,
                       static_cast<const __CFLocale *>(b)->icuName) == 0;
}

CFHashCode hashLocale(const vz::Object *object)
{
    return vz::stringHash(static_cast<const __CFLocale *>(object)->identifier);
}

CFStringRef describeLocale(const vz::Object *object)
{
    auto *locale = static_cast<const __CFLocale *>(object);
    return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("<CFLocale %p [%@]>"),
                                    static_cast<const void *>(locale), locale->identifier);
}

const vz::TypeClass kLocaleClass = {"CFLocale", destroyLocale, equalLocales, hashLocale,
                                    describeLocale};

void registerLocaleClass() noexcept
{
    static const bool registered =
        (vz::registerBuiltinTypeClass(vz::kLocaleTypeID, &kLocaleClass), true);
    (void)registered;
}

// Canonicalises name into out (ULOC_FULLNAME_CAPACITY bytes); false when ICU
// cannot or the result does not fit.
bool canonicalName(const char *name, char *out) noexcept
{
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = vz::icuLibrary().ulocCanonicalize(name, out, ULOC_FULLNAME_CAPACITY, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING ||
        length >= ULOC_FULLNAME_CAPACITY)
        return false;
    return true;
}

// The ICU name of the environment's locale: "de_DE.UTF-8@euro" gives "de_DE".
void currentName(char *out) noexcept
{
    const char *value = nullptr;
    for (const char *variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') break;
        value = nullptr;
    }
    char   plain[ULOC_FULLNAME_CAPACITY] = "";
    size_t length                        = value == nullptr ? 0 : std::strcspn(value, ".@");
    if (length < sizeof plain) {
        std::memcpy(plain, value == nullptr ? "" : value, length);
        plain[length] = '\0';
    }
    if (std::strcmp(plain, "C") == 0 || std::strcmp(plain, "POSIX") == 0 ||
        !canonicalName(plain, out))
        out[0] = '\0';
}

CFLocaleRef createLocaleNamed(const char *icuName) noexcept
{
    registerLocaleClass();
    vz::CFRef<CFStringRef> identifier(vz::createStringFromUTF8(icuName, std::strlen(icuName)));
    if (!identifier) return nullptr;
    __CFLocale *locale = vz::newObject<__CFLocale>();
    if (locale == nullptr) return nullptr;
    std::memcpy(locale->icuName, icuName, std::strlen(icuName) + 1);
    locale->identifier = identifier.release();
    return locale;
}

void checkLocale(CFLocaleRef locale, const char *function) noexcept
{
    vz::checkPointer(locale, function);
    if (vz::typeOf(locale) == vz::kLocaleTypeID) return;
    char message[128];
    std::snprintf(message, sizeof message, "%s called with an object that is not a locale",
                  function);
    vz::fatal(message);
}

} // namespace

namespace vz {

std::string icuLocaleName(CFLocaleRef locale, const char *function)
{
    if (locale != nullptr) {
        checkLocale(locale, function);
        return locale->icuName;
    }
    char name[ULOC_FULLNAME_CAPACITY];
    currentName(name);
    return name;
}

} // namespace vz

CFTypeID CFLocaleGetTypeID(void) noexcept
{
    registerLocaleClass();
    return vz::kLocaleTypeID;
}

// A locale for an identifier in ICU or language-tag form ("tr", "pt_BR",
// "de-DE"); NULL for a NULL identifier or one that cannot be read.
CFLocaleRef CFLocaleCreate(CFAllocatorRef, CFStringRef localeIdentifier) noexcept
{
    if (localeIdentifier == nullptr) return nullptr;
    vz::checkString(localeIdentifier, "CFLocaleCreate");
    char    requested[ULOC_FULLNAME_CAPACITY];
    CFIndex used   = 0;
    CFIndex length = CFStringGetLength(localeIdentifier);
    if (CFStringGetBytes(localeIdentifier, CFRangeMake(0, length), kCFStringEncodingASCII, 0, false,
                         reinterpret_cast<UInt8 *>(requested), sizeof requested - 1,
                         &used) != length)
        return nullptr;
    requested[used] = '\0';
    char canonical[ULOC_FULLNAME_CAPACITY];
    if (!canonicalName(requested, canonical)) return nullptr;
    return createLocaleNamed(canonical);
}

CFLocaleRef CFLocaleCopyCurrent(void) noexcept
{
    char name[ULOC_FULLNAME_CAPACITY];
    currentName(name);
    return createLocaleNamed(name);
}

CFStringRef CFLocaleGetIdentifier(CFLocaleRef locale) noexcept
{
    checkLocale(locale, "CFLocaleGetIdentifier");
    return locale->identifier;
}
