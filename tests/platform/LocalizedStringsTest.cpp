// LocalizedStringsTest.cpp: the order of localisations, the strings-table
// formats, and lookups through a bundle in a temporary root.
#include "StoreTestSupport.h"

#include "Languages.h"
#include "StringsTable.h"

#include <cstdlib>

using namespace vztest;

namespace {

// Sets the three locale variables for the scope (NULL unsets one) and puts
// the old values back.
class LocaleEnvironment {
  public:
    LocaleEnvironment(const char *all, const char *messages, const char *lang)
    {
        const char *values[] = {all, messages, lang};
        for (int i = 0; i < 3; i++) {
            const char *old = std::getenv(kNames[i]);
            saved_[i]       = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
            if (values[i] != nullptr) {
                setenv(kNames[i], values[i], 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }
    ~LocaleEnvironment()
    {
        for (int i = 0; i < 3; i++) {
            if (saved_[i]) {
                setenv(kNames[i], saved_[i]->c_str(), 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }

  private:
    static constexpr const char *kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string>   saved_[3];
};

TEST(Localizations, TheUsersLanguageComesFirstThenTheFallbacks)
{
    using Order           = std::vector<std::string>;
    const Order fallbacks = {"en", "English", "Base"};
    const struct {
        const char *all;
        const char *messages;
        const char *lang;
        Order       order;
    } rows[] = {
        {nullptr, nullptr, "de_DE.UTF-8", {"de_DE", "de", "en", "English", "Base"}},
        {"", "fr_CA@latin", "de_DE", {"fr_CA", "fr", "en", "English", "Base"}},
        {"pt_BR", "fr_FR", "de_DE", {"pt_BR", "pt", "en", "English", "Base"}},
        {nullptr, nullptr, "en_GB.UTF-8", {"en_GB", "en", "English", "Base"}},
        {nullptr, nullptr, "ja", {"ja", "en", "English", "Base"}},
        {nullptr, nullptr, "C.UTF-8", fallbacks},
        {"POSIX", nullptr, "de_DE", fallbacks},
        {nullptr, nullptr, nullptr, fallbacks},
        {nullptr, nullptr, "../x", {"en", "English", "Base"}},
    };
    for (const auto &row : rows) {
        LocaleEnvironment environment(row.all, row.messages, row.lang);
        EXPECT_EQ(vz::localizationOrder(), row.order) << (row.lang ? row.lang : "(unset)");
    }
}

// The table a text parses to, as "key=value" lines in the table's order;
// "(invalid)" when it does not parse.
std::string Parsed(const std::string &bytes)
{
    vz::CFRef<CFDictionaryRef> table =
        vz::parseStringsTable({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
    if (!table) return "(invalid)";
    CFIndex                   count = CFDictionaryGetCount(table.get());
    std::vector<const void *> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(table.get(), keys.data(), values.data());
    std::string text;
    for (CFIndex i = 0; i < count; i++) {
        text += Utf8(static_cast<CFStringRef>(keys[i])) + "=" +
                Utf8(static_cast<CFStringRef>(values[i])) + ";";
    }
    return text;
}

// UTF-16 with a byte-order mark, from ASCII text.
std::string Utf16(const std::string &ascii, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return bytes;
}

TEST(StringsTables, ValidTablesParseAndAnyFaultEmptiesTheWholeTable)
{
    const struct {
        std::string bytes;
        std::string table;
    } rows[] = {
        {"\"a\" = \"1\";\n\"b\"=\"2\";", "a=1;b=2;"},
        {"/* note */ \"a\" /* x */ = // y\n \"1\" ;", "a=1;"},
        {"\"q\\\"\\\\\" = \"l1\\nl2\\t\";", "q\"\\=l1\nl2\t;"},
        {"\"caf\\U00e9\" = \"\\U00E9\\Ud834\\Udd1e\";", "caf\xC3\xA9=\xC3\xA9\xF0\x9D\x84\x9E;"},
        {"\"a\" = \"1\"; \"a\" = \"2\";", "a=2;"},
        {"\xEF\xBB\xBF\"bom\" = \"ok\";", "bom=ok;"},
        {"\"multi\nline\" = \"\";", "multi\nline=;"},
        {"", ""},
        {"// only a comment", ""},
        {Utf16("\"be\" = \"1\";", true), "be=1;"},
        {Utf16("\"le\" = \"1\";", false), "le=1;"},
        {"<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>x</key><string>y</string>"
         "</dict></plist>",
         "x=y;"},
        // Faults.
        {"\"a\" = \"1\"", "(invalid)"},
        {"\"a\" = \"1", "(invalid)"},
        {"\"a\" \"1\";", "(invalid)"},
        {"a = \"1\";", "(invalid)"},
        {"\"a\" = \"\\r\";", "(invalid)"},
        {"\"a\" = \"\\u00e9\";", "(invalid)"},
        {"\"a\" = \"\\U00g9\";", "(invalid)"},
        {"\"a\" = \"\\Ud834\";", "(invalid)"},
        {"\"a\" = \"\\Udd1e\";", "(invalid)"},
        {"\"a\" = \"\\Ud834x\";", "(invalid)"},
        {"/* open \"a\" = \"1\";", "(invalid)"},
        {"\"a\" = \"\xFF\";", "(invalid)"},
        {"\"a\" = \"\xC3\";", "(invalid)"},
        {Utf16("\"a\" = \"1\";", true) + std::string(1, '\0'), "(invalid)"},
        {std::string("\xFF\xFE\x00\xD8\x41\x00", 6), "(invalid)"},
        {"<plist version=\"1.0\"><array/></plist>", "(invalid)"},
        {"<plist version=\"1.0\"><dict>", "(invalid)"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(Parsed(row.bytes), row.table) << row.bytes;
    }
}

class LocalizedStrings : public TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        std::filesystem::create_directories(Path("Example.bundle"));
    }
    void Table(const std::string &language, const std::string &table, const std::string &text)
    {
        Write("Example.bundle/Resources/" + language + ".lproj/" + table + ".strings", text);
    }
    std::string Lookup(const char *key, const char *value, const char *table) const
    {
        std::string      folder = Path("Example.bundle");
        Ref<CFURLRef>    url(CFURLCreateFromFileSystemRepresentation(
               nullptr, reinterpret_cast<const UInt8 *>(folder.data()),
               static_cast<CFIndex>(folder.size()), true));
        Ref<CFBundleRef> bundle(CFBundleCreate(nullptr, url));
        EXPECT_TRUE(bundle);
        Ref<CFStringRef> k(key ? CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8)
                               : nullptr);
        Ref<CFStringRef> v(value ? CFStringCreateWithCString(nullptr, value, kCFStringEncodingUTF8)
                                 : nullptr);
        Ref<CFStringRef> t(table ? CFStringCreateWithCString(nullptr, table, kCFStringEncodingUTF8)
                                 : nullptr);
        Ref<CFStringRef> found(CFBundleCopyLocalizedString(bundle, k, v, t));
        return Utf8(found);
    }
};

TEST_F(LocalizedStrings, OneTableOfTheFirstLanguageThatHasIt)
{
    Table("de_DE", "Localizable", "\"Yes\" = \"Ja (DE)\";");
    Table("de", "Localizable", "\"Yes\" = \"Ja\"; \"No\" = \"Nein\";");
    Table("de", "Errors", "\"Failed\" = \"Fehlgeschlagen\";");
    Table("en", "Localizable", "\"No\" = \"No (en)\";");
    Table("en", "Errors", "\"Failed\" = broken");
    Table("Base", "Menus",
          "<plist version=\"1.0\"><dict><key>Open</key><string>Open…</string>"
          "<key>Count</key><integer>3</integer></dict></plist>");
    const struct {
        const char *lang;
        const char *key;
        const char *value;
        const char *table;
        const char *found;
    } rows[] = {
        {"de_DE.UTF-8", "Yes", nullptr, nullptr, "Ja (DE)"},
        // de_DE holds the table, so its missing key is not looked up in de.
        {"de_DE.UTF-8", "No", "Value", nullptr, "Value"},
        {"de_DE.UTF-8", "No", "", nullptr, "No"},
        {"de_AT.UTF-8", "No", nullptr, nullptr, "Nein"},
        {"de_DE.UTF-8", "Failed", nullptr, "Errors", "Fehlgeschlagen"},
        {"fr_FR", "No", nullptr, nullptr, "No (en)"},
        // en's Errors table is broken: empty, so the key comes back.
        {"fr_FR", "Failed", "Value", "Errors", "Value"},
        {"fr_FR", "Open", nullptr, "Menus", "Open…"},
        {"fr_FR", "Count", nullptr, "Menus", "Count"},
        {"fr_FR", "Open", nullptr, "Missing", "Open"},
        {"fr_FR", "Open", nullptr, "../Base.lproj/Menus", "Open"},
        {"fr_FR", nullptr, "Value", nullptr, "Value"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.lang) + " " + (row.key ? row.key : "(null)"));
        LocaleEnvironment environment(nullptr, nullptr, row.lang);
        EXPECT_EQ(Lookup(row.key, row.value, row.table), row.found);
    }
}

} // namespace
