// LocaleTest.cpp: locale objects: canonical identifiers, the current locale
// from the environment, identity, and the locale a localised comparison uses
// when it is given none.
#include "TestSupport.h"

#include <cstdlib>
#include <string>

namespace {

using vztest::Str;
using vztest::Utf8;

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        const char *old = std::getenv(name);
        hadOld_         = old != nullptr;
        if (hadOld_) old_ = old;
        if (value == nullptr)
            unsetenv(name);
        else
            setenv(name, value, 1);
    }
    ~ScopedEnv()
    {
        if (hadOld_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char *name_;
    std::string old_;
    bool        hadOld_ = false;
};

TEST(Locale, IdentifiersAreCanonical)
{
    struct Case {
        const char *requested;
        const char *identifier;
    } cases[] = {
        {"tr", "tr"}, {"tr-TR", "tr_TR"}, {"en_US", "en_US"}, {"de_DE", "de_DE"}, {"", ""},
    };
    for (const Case &c : cases) {
        CFLocaleRef locale = CFLocaleCreate(nullptr, Str(c.requested));
        ASSERT_NE(locale, nullptr) << c.requested;
        EXPECT_EQ(CFGetTypeID(locale), CFLocaleGetTypeID());
        EXPECT_EQ(Utf8(CFLocaleGetIdentifier(locale)), c.identifier);
        CFRelease(locale);
    }
    EXPECT_EQ(CFLocaleCreate(nullptr, nullptr), nullptr);
    CFStringRef nonASCII = CFStringCreateWithCString(nullptr, "t\xC3\xBCrk", kCFStringEncodingUTF8);
    EXPECT_EQ(CFLocaleCreate(nullptr, nonASCII), nullptr);
    CFRelease(nonASCII);
}

TEST(Locale, EqualByIdentifierAndDescribed)
{
    CFLocaleRef a = CFLocaleCreate(nullptr, CFSTR("tr_TR"));
    CFLocaleRef b = CFLocaleCreate(nullptr, CFSTR("tr-TR"));
    CFLocaleRef c = CFLocaleCreate(nullptr, CFSTR("en"));
    EXPECT_TRUE(CFEqual(a, b));
    EXPECT_EQ(CFHash(a), CFHash(b));
    EXPECT_FALSE(CFEqual(a, c));
    CFStringRef description = CFCopyDescription(a);
    EXPECT_NE(Utf8(description).find("[tr_TR]"), std::string::npos) << Utf8(description);
    CFRelease(description);
    CFRelease(a);
    CFRelease(b);
    CFRelease(c);
}

TEST(Locale, CurrentComesFromTheEnvironment)
{
    struct Case {
        const char *lcAll;
        const char *lcCollate;
        const char *lang;
        const char *identifier;
    } cases[] = {
        {nullptr, nullptr, "sv_SE.UTF-8", "sv_SE"},
        {nullptr, "de_DE.UTF-8@euro", "sv_SE.UTF-8", "de_DE"},
        {"tr_TR", "de_DE", "sv_SE", "tr_TR"},
        {"", nullptr, "fr_FR", "fr_FR"},
        {"C", nullptr, "fr_FR", ""},
        {nullptr, nullptr, "POSIX", ""},
        {nullptr, nullptr, nullptr, ""},
    };
    for (const Case &c : cases) {
        ScopedEnv all("LC_ALL", c.lcAll), collate("LC_COLLATE", c.lcCollate), lang("LANG", c.lang);
        CFLocaleRef current = CFLocaleCopyCurrent();
        ASSERT_NE(current, nullptr);
        EXPECT_EQ(Utf8(CFLocaleGetIdentifier(current)), c.identifier);
        CFRelease(current);
    }
}

TEST(Locale, LocalizedComparisonWithoutALocaleUsesTheCurrentOne)
{
    CFStringRef umlaut = CFStringCreateWithCString(nullptr, "\xC3\xB6l", kCFStringEncodingUTF8);
    {
        ScopedEnv all("LC_ALL", "sv_SE.UTF-8");
        EXPECT_EQ(CFStringCompare(umlaut, CFSTR("zebra"), kCFCompareLocalized),
                  kCFCompareGreaterThan);
    }
    {
        ScopedEnv all("LC_ALL", "de_DE.UTF-8");
        EXPECT_EQ(CFStringCompare(umlaut, CFSTR("zebra"), kCFCompareLocalized), kCFCompareLessThan);
    }
    CFRelease(umlaut);
}

TEST(LocaleDeathTest, NullAndForeignObjectsStopTheProcess)
{
    EXPECT_DEATH(CFLocaleGetIdentifier(nullptr),
                 "vavivaz platform: CFLocaleGetIdentifier called with NULL");
    CFMutableStringRef s = CFStringCreateMutableCopy(nullptr, 0, CFSTR("i"));
    EXPECT_DEATH(CFStringUppercase(s, reinterpret_cast<CFLocaleRef>(CFSTR("tr"))),
                 "vavivaz platform: CFStringUppercase called with an object that is not a locale");
    CFRelease(s);
}

} // namespace
