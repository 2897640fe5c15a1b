// StringsAndFilesTest.cpp: zero-terminated byte strings, file-name records,
// the localised message of the main bundle, frameworks loaded by name from
// a temporary root, XML property-list files by URL and by ref, and their
// assertion texts.
#include "TestSupport.h"

#include "MoreCFQ.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using vztest::Str;
using vztest::Utf8;

class CFQStringsAndFilesTest : public vztest::TempRoot {
  protected:
    static constexpr const char *kFrameworks = "System/Library/Frameworks";

    // A string of units (any UTF-16, unpaired surrogates included).
    static CFStringRef Units(const std::u16string &units)
    {
        return CFStringCreateWithCharacters(nullptr, (const UniChar *)units.data(),
                                            (CFIndex)units.size());
    }
    static CFURLRef URLOf(const std::string &path)
    {
        return CFURLCreateFromFileSystemRepresentation(nullptr, (const UInt8 *)path.data(),
                                                       (CFIndex)path.size(), false);
    }
};

TEST_F(CFQStringsAndFilesTest, CStringsHoldExactlyTheConvertedBytes)
{
    const struct {
        std::u16string   text;
        CFStringEncoding encoding;
        OSStatus         err;
        std::string      bytes;
    } rows[] = {
        {u"", kCFStringEncodingASCII, noErr, ""},
        {u"plain", kCFStringEncodingASCII, noErr, "plain"},
        {u"caf\u00E9", kCFStringEncodingASCII, 5401, ""},
        {u"caf\u00E9", kCFStringEncodingUTF8, noErr, "caf\xC3\xA9"},
        {u"caf\u00E9", kCFStringEncodingMacRoman, noErr, "caf\x8E"},
        {u"caf\u00E9", kCFStringEncodingISOLatin1, noErr, "caf\xE9"},
        {u"\u20AC", kCFStringEncodingISOLatin1, 5401, ""},
        {u"\U0001D11E", kCFStringEncodingUTF8, noErr, "\xF0\x9D\x84\x9E"},
        {u"a\xD800", kCFStringEncodingUTF8, 5401, ""},
        {u"ab", kCFStringEncodingUTF16, noErr, std::string("a\0b\0", 4)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.bytes);
        CFStringRef str  = Units(row.text);
        char       *cStr = nullptr;
        EXPECT_EQ(CFQStringCopyCString(str, row.encoding, &cStr), row.err);
        if (row.err != noErr) {
            EXPECT_EQ(cStr, nullptr);
        } else {
            // The block holds the bytes and one zero byte; the sanitizer
            // catches a block one byte short.
            ASSERT_NE(cStr, nullptr);
            EXPECT_EQ(std::string(cStr, row.bytes.size()), row.bytes);
            EXPECT_EQ(cStr[row.bytes.size()], '\0');
        }
        free(cStr);
        CFRelease(str);
    }
}

TEST_F(CFQStringsAndFilesTest, FileNameRecordsHoldAtMost255Units)
{
    for (size_t units : {0, 1, 254, 255, 256, 1000}) {
        SCOPED_TRACE(units);
        CFStringRef  str = Units(std::u16string(units, u'\u00E9'));
        HFSUniStr255 record;
        record.length = 7777;
        OSStatus err  = CFQStringGetHFSUniStr255(str, &record);
        EXPECT_EQ(err, units <= 255 ? noErr : -37);
        EXPECT_EQ(record.length, units <= 255 ? units : 7777u);
        if (err == noErr) {
            CFStringRef back = nullptr;
            ASSERT_EQ(CFQStringCreateWithHFSUniStr255(&record, &back), noErr);
            EXPECT_TRUE(CFEqual(back, str));
            CFRelease(back);
        }
        CFRelease(str);
    }

    // A record's count beyond its room is refused, not read past the end.
    HFSUniStr255 record = {};
    record.length       = 256;
    CFStringRef str     = nullptr;
    EXPECT_EQ(CFQStringCreateWithHFSUniStr255(&record, &str), -37);
    EXPECT_EQ(str, nullptr);
}

TEST_F(CFQStringsAndFilesTest, LocalisedMessagesComeNormalisedFromTheMainBundle)
{
    const char *saved     = std::getenv("LANG");
    std::string savedLang = saved != nullptr ? saved : "";
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    const struct {
        const char    *lang;
        std::u16string key;
        std::u16string message;
    } rows[] = {
        {"de_DE.UTF-8", u"Greeting", u"Gru\u0308\u00DF dich"},
        {"en_US.UTF-8", u"Greeting", u"Hello"},
        {"fr_FR.UTF-8", u"Greeting", u"Hello"},
        {"en_US.UTF-8", u"Caf\u00E9", u"Coffee shop"},
        {"en_US.UTF-8", u"R\u00E9sum\u00E9", u"Re\u0301sume\u0301"},
        {"de_DE.UTF-8", u"Caf\u00E9", u"Cafe\u0301"},
    };
    for (const auto &row : rows) {
        setenv("LANG", row.lang, 1);
        CFStringRef key     = Units(row.key);
        CFStringRef message = nullptr;
        EXPECT_EQ(CFQCopyLocalisedNormalisedString(key, CFSTR("a note"), &message), noErr);
        CFStringRef expected = Units(row.message);
        EXPECT_TRUE(message != nullptr && CFEqual(message, expected))
            << row.lang << ": " << Utf8(message);
        CFQRelease(message);
        CFRelease(expected);
        CFRelease(key);
    }
    if (saved != nullptr) {
        setenv("LANG", savedLang.c_str(), 1);
    } else {
        unsetenv("LANG");
    }
}

TEST_F(CFQStringsAndFilesTest, FrameworksLoadByNameFromTheFrameworksFolder)
{
    std::string folder = Path(std::string(kFrameworks) + "/Greeter.framework");
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(VZ_TEST_GREETER_PATH, folder + "/Greeter");
    std::filesystem::create_directories(Path(std::string(kFrameworks) + "/Empty.framework"));
    Write("Elsewhere.framework/Elsewhere", "outside the frameworks folder");

    const struct {
        const char *name;
        OSStatus    err;
    } rows[] = {
        {"Greeter.framework", noErr},
        {"Empty.framework", -4960},
        {"Missing.framework", -4960},
        {"../../../Elsewhere.framework", -4960},
        {"Greeter.framework/Greeter", -4960},
        {"..", -4960},
        {"", -4960},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CFBundleRef bundle = nullptr;
        EXPECT_EQ(CFQBundleCreateFromFrameworkName(Str(row.name), &bundle), row.err);
        EXPECT_EQ(bundle != nullptr, row.err == noErr);
        if (bundle == nullptr) continue;
        EXPECT_TRUE(CFBundleIsExecutableLoaded(bundle));
        auto answer =
            (int (*)(void))CFBundleGetFunctionPointerForName(bundle, CFSTR("VZGreeterAnswer"));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);
        CFRelease(bundle);
    }

    // Without a frameworks folder one is made; a file in its way is the
    // folder lookup's own error.
    std::filesystem::remove_all(Path("System"));
    CFBundleRef bundle = nullptr;
    EXPECT_EQ(CFQBundleCreateFromFrameworkName(CFSTR("Greeter.framework"), &bundle), -4960);
    EXPECT_TRUE(std::filesystem::is_directory(Path(kFrameworks)));
    std::filesystem::remove_all(Path("System"));
    Write("System/Library", "a file");
    EXPECT_EQ(CFQBundleCreateFromFrameworkName(CFSTR("Greeter.framework"), &bundle),
              errFSNotAFolder);
    EXPECT_EQ(bundle, nullptr);
}

TEST_F(CFQStringsAndFilesTest, PropertyListFilesReadByURLAndByRef)
{
    Write("Library/Preferences/good.plist",
          "<plist "
          "version=\"1.0\"><dict><key>Name</key><string>value</string></dict></"
          "plist>");
    Write("Library/Preferences/bad.plist", "<plist version=\"1.0\"><dict><key>");
    std::filesystem::create_directories(Path("Library/Preferences/folder.plist"));
    const struct {
        const char *file;
        OSStatus    err;
    } rows[] = {
        {"good.plist", noErr},
        {"bad.plist", -4960},
        {"missing.plist", kCFURLResourceNotFoundError},
        {"folder.plist", kCFURLUnknownError},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        std::string       relative = std::string("Library/Preferences/") + row.file;
        CFURLRef          url      = URLOf(Path(relative));
        CFPropertyListRef plist    = nullptr;
        EXPECT_EQ(CFQPropertyListCreateFromXMLCFURL(url, kCFPropertyListMutableContainers, &plist),
                  row.err);
        EXPECT_EQ(plist != nullptr, row.err == noErr);
        if (plist != nullptr) {
            EXPECT_EQ(
                Utf8((CFStringRef)CFDictionaryGetValue((CFDictionaryRef)plist, CFSTR("Name"))),
                "value");
            // Mutable containers were asked for.
            CFDictionarySetValue((CFMutableDictionaryRef)plist, CFSTR("Added"), CFSTR("yes"));
        }
        CFQRelease(plist);
        CFRelease(url);

        FSRef ref;
        if (FSPathMakeRef((const UInt8 *)relative.c_str(), &ref, nullptr) != noErr) continue;
        plist = nullptr;
        EXPECT_EQ(CFQPropertyListCreateFromXMLFSRef(&ref, kCFPropertyListImmutable, &plist),
                  row.err);
        CFQRelease(plist);
    }

    // A ref whose file has gone makes no URL.
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef((const UInt8 *)"Library/Preferences/good.plist", &ref, nullptr), noErr);
    std::filesystem::remove(Path("Library/Preferences/good.plist"));
    CFPropertyListRef plist = nullptr;
    EXPECT_EQ(CFQPropertyListCreateFromXMLFSRef(&ref, kCFPropertyListImmutable, &plist), -4960);
}

// ---------------------------------------------------------------------------
// Assertion texts: one row per distinct text of the strings and files.

struct DeathRow {
    const char           *text;
    std::function<void()> provoke;
};

TEST(CFQStringsAndFilesDeathTest, EveryPreconditionStopsWithItsText)
{
    const std::vector<DeathRow> rows = {
        {"str != NULL",
         [] {
             char *cStr = nullptr;
             (void)CFQStringCopyCString(nullptr, kCFStringEncodingUTF8, &cStr);
         }},
        {"cStrPtr != NULL",
         [] { (void)CFQStringCopyCString(CFSTR("x"), kCFStringEncodingUTF8, nullptr); }},
        {"*cStrPtr == NULL",
         [] {
             char  byte = 0;
             char *cStr = &byte;
             (void)CFQStringCopyCString(CFSTR("x"), kCFStringEncodingUTF8, &cStr);
         }},
        {"hfsStr != NULL", [] { (void)CFQStringGetHFSUniStr255(CFSTR("x"), nullptr); }},
        {"*strPtr == NULL",
         [] {
             HFSUniStr255 record = {};
             CFStringRef  held   = CFSTR("held");
             (void)CFQStringCreateWithHFSUniStr255(&record, &held);
         }},
        {"key != NULL",
         [] {
             CFStringRef result = nullptr;
             (void)CFQCopyLocalisedNormalisedString(nullptr, CFSTR("note"), &result);
         }},
        {"comment != NULL",
         [] {
             CFStringRef result = nullptr;
             (void)CFQCopyLocalisedNormalisedString(CFSTR("key"), nullptr, &result);
         }},
        {"resultPtr != NULL",
         [] { (void)CFQCopyLocalisedNormalisedString(CFSTR("key"), CFSTR("note"), nullptr); }},
        {"*resultPtr == NULL",
         [] {
             CFStringRef held = CFSTR("held");
             (void)CFQCopyLocalisedNormalisedString(CFSTR("key"), CFSTR("note"), &held);
         }},
        {"frameworkName != NULL",
         [] {
             CFBundleRef bundle = nullptr;
             (void)CFQBundleCreateFromFrameworkName(nullptr, &bundle);
         }},
        {"bundlePtr != NULL",
         [] { (void)CFQBundleCreateFromFrameworkName(CFSTR("X.framework"), nullptr); }},
        {"*bundlePtr == NULL",
         [] {
             CFBundleRef held = (CFBundleRef)CFSTR("held");
             (void)CFQBundleCreateFromFrameworkName(CFSTR("X.framework"), &held);
         }},
        {"xmlFile != NULL",
         [] {
             CFPropertyListRef plist = nullptr;
             (void)CFQPropertyListCreateFromXMLFSRef(nullptr, 0, &plist);
         }},
    };
    for (const DeathRow &row : rows) {
        EXPECT_DEATH(row.provoke(), vztest::AssertionPattern(row.text)) << row.text;
    }
}

} // namespace
