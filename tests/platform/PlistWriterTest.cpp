// PlistWriterTest.cpp: the canonical layout, key order, escaping, the
// shortest text of reals, and the trees the writer refuses whole.
#include "PlistTestSupport.h"

#include "Containers.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

using namespace plisttest;

namespace {

class PlistWriterTest : public vztest::TempRoot {};

Ref Int(int64_t value)
{
    return Ref(vz::createSignedNumber(value));
}
Ref Real(double value)
{
    return Ref(vz::createRealNumber(value));
}
Ref Text(const char *utf8)
{
    return Ref(CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8));
}
Ref Bytes(const std::string &bytes)
{
    return Ref(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                            static_cast<CFIndex>(bytes.size())));
}
Ref Date(double at)
{
    return Ref(CFDateCreate(nullptr, at));
}
Ref Array(std::initializer_list<CFTypeRef> values)
{
    std::vector<const void *> list(values.begin(), values.end());
    return Ref(CFArrayCreate(nullptr, list.data(), static_cast<CFIndex>(list.size()),
                             &kCFTypeArrayCallBacks));
}
Ref Dict(std::initializer_list<std::pair<CFTypeRef, CFTypeRef>> entries)
{
    std::vector<const void *> keys, values;
    for (const auto &entry : entries) {
        keys.push_back(entry.first);
        values.push_back(entry.second);
    }
    return Ref(CFDictionaryCreate(nullptr, keys.data(), values.data(),
                                  static_cast<CFIndex>(keys.size()), &kCFTypeDictionaryKeyCallBacks,
                                  &kCFTypeDictionaryValueCallBacks));
}
std::string Range(int count)
{
    std::string bytes;
    for (int i = 0; i < count; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes;
}

TEST_F(PlistWriterTest, WritesTheCanonicalLayout)
{
    Ref tree = Dict({
        {Text("Array").get(), Array({Int(1).get(), Text("two").get(), Array({}).get()}).get()},
        {Text("Data").get(), Bytes(Range(100)).get()},
        {Text("Dict").get(), Dict({{Text("Deep").get(), Bytes("").get()}}).get()},
        {Text("Empty").get(), Dict({}).get()},
        {Text("Date").get(), Date(-978307200.0).get()},
        {Text("Integer").get(), Int(INT64_MIN).get()},
        {Text("Unsigned").get(), Ref(vz::createUnsignedNumber(UINT64_MAX)).get()},
        {Text("Real").get(), Real(0.1).get()},
        {Text("String").get(), Text("").get()},
        {Text("Yes").get(), kCFBooleanTrue},
        {Text("No").get(), kCFBooleanFalse},
    });
    EXPECT_EQ(WriteXML(tree.get()).value_or("(refused)"), R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>Array</key>
	<array>
		<integer>1</integer>
		<string>two</string>
		<array/>
	</array>
	<key>Data</key>
	<data>
	AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEy
	MzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiYw==
	</data>
	<key>Date</key>
	<date>1970-01-01T00:00:00Z</date>
	<key>Dict</key>
	<dict>
		<key>Deep</key>
		<data>
		</data>
	</dict>
	<key>Empty</key>
	<dict/>
	<key>Integer</key>
	<integer>-9223372036854775808</integer>
	<key>No</key>
	<false/>
	<key>Real</key>
	<real>0.1</real>
	<key>String</key>
	<string></string>
	<key>Unsigned</key>
	<integer>18446744073709551615</integer>
	<key>Yes</key>
	<true/>
</dict>
</plist>
)");
    // A bare value is the root itself.
    EXPECT_EQ(WriteXML(Text("x").get()).value_or("(refused)"), Document("<string>x</string>"));
}

// Literal order compares UTF-16 units: upper case before lower, and a
// character outside the Basic Multilingual Plane (a surrogate pair, D834...)
// before U+FB00, although its code point is higher.
TEST_F(PlistWriterTest, SortsKeysByUTF16Units)
{
    const char *keys[] = {"\xEF\xAC\x80", "b", "\xF0\x9D\x84\x9E", "ab", "B", "a", "\xC3\xA9", ""};
    std::vector<Ref>                             owned;
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
    for (const char *key : keys)
        owned.push_back(Text(key));
    Ref dict = Ref(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                             &kCFTypeDictionaryValueCallBacks));
    for (const Ref &key : owned)
        CFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void *>(dict.get())),
                             key.get(), kCFBooleanTrue);
    std::string expected;
    for (const char *key :
         {"", "B", "a", "ab", "b", "\xC3\xA9", "\xF0\x9D\x84\x9E", "\xEF\xAC\x80"})
        expected += std::string("\t<key>") + key + "</key>\n\t<true/>\n";
    EXPECT_EQ(WriteXML(dict.get()).value_or("(refused)"),
              Document("<dict>\n" + expected + "</dict>"));
}

TEST_F(PlistWriterTest, EscapesWhatMarkupWouldChange)
{
    struct Case {
        std::u16string text;
        const char    *written;
    } cases[] = {
        {u"a&b<c>d", "a&amp;b&lt;c&gt;d"},
        {u"]]>", "]]&gt;"},
        {u"tab\tline\nreturn\r", "tab\tline\nreturn&#13;"},
        {u"\r\n", "&#13;\n"},
        {u"quote\"'", "quote\"'"},
        {u"caf\u00E9 \u00FF", "caf\xC3\xA9 \xC3\xBF"},
        {u"\u20AC\u4E2D\uFFFD", "\xE2\x82\xAC\xE4\xB8\xAD\xEF\xBF\xBD"},
        {u"\U0001D11E\U0010FFFF", "\xF0\x9D\x84\x9E\xF4\x8F\xBF\xBF"},
        {u"\u007F\u0085", "\x7F\xC2\x85"},
    };
    for (const Case &c : cases) {
        Ref         string  = Units(c.text);
        std::string written = WriteXML(string.get()).value_or("(refused)");
        EXPECT_EQ(written, Document(std::string("<string>") + c.written + "</string>"));
        // And it reads back as it was.
        Parsed parsed = ParseWhole(written);
        EXPECT_TRUE(parsed.plist && CFEqual(parsed.plist.get(), string.get())) << c.written;
        // Keys take the same escapes.
        Ref dict = Dict({{string.get(), kCFBooleanTrue}});
        EXPECT_NE(
            WriteXML(dict.get()).value_or("").find(std::string("<key>") + c.written + "</key>"),
            std::string::npos)
            << c.written;
    }
}

TEST_F(PlistWriterTest, RealsTakeTheShortestTextThatReadsBack)
{
    struct Case {
        double      value;
        const char *text;
    } cases[] = {
        {0.1, "0.1"},
        {1.0, "1"},
        {-0.0, "-0"},
        {1e100, "1e+100"},
        {1.0 / 3, "0.3333333333333333"},
        {5e-324, "5e-324"},
        {DBL_MAX, "1.7976931348623157e+308"},
        {NAN, "nan"},
        {-NAN, "nan"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
    };
    for (const Case &c : cases) {
        Ref         real    = Real(c.value);
        std::string written = WriteXML(real.get()).value_or("(refused)");
        EXPECT_EQ(written, Document(std::string("<real>") + c.text + "</real>"));
        Parsed parsed = ParseWhole(written);
        ASSERT_TRUE(parsed.plist) << parsed.error;
        double back = vz::numberValue(static_cast<CFNumberRef>(parsed.plist.get())).d;
        if (std::isnan(c.value)) {
            EXPECT_TRUE(std::isnan(back));
        } else {
            EXPECT_EQ(std::memcmp(&back, &c.value, sizeof back), 0) << c.text;
        }
    }
}

TEST_F(PlistWriterTest, DatesKeepTheirFractionOfASecond)
{
    struct Case {
        double      at;
        const char *text;
    } cases[] = {
        {0, "2001-01-01T00:00:00Z"},
        {-0.5, "2000-12-31T23:59:59.5Z"},
        {86400.25, "2001-01-02T00:00:00.25Z"},
        {-63113904000.0, "0001-01-01T00:00:00Z"},
        {252423993599.0, "9999-12-31T23:59:59Z"},
        {757382400.123, "2025-01-01T00:00:00.12300002574920654Z"},
    };
    for (const Case &c : cases) {
        Ref         date    = Date(c.at);
        std::string written = WriteXML(date.get()).value_or("(refused)");
        EXPECT_EQ(written, Document(std::string("<date>") + c.text + "</date>"));
        Parsed parsed = ParseWhole(written);
        ASSERT_TRUE(parsed.plist) << parsed.error;
        EXPECT_EQ(CFDateGetAbsoluteTime(static_cast<CFDateRef>(parsed.plist.get())), c.at)
            << c.text;
    }
}

// Nothing is written for a tree that holds something XML cannot carry or the
// reader would refuse, and CFPropertyListIsValid agrees.
TEST_F(PlistWriterTest, RefusesTreesThatCannotBeReadBack)
{
    Ref nullCallbacks(CFArrayCreate(nullptr, nullptr, 0, nullptr));
    Ref rawArray = [] {
        static int  marker;
        const void *values[] = {&marker};
        return Ref(CFArrayCreate(nullptr, values, 1, nullptr));
    }();
    Ref   selfHolding(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    auto *mutableSelf = static_cast<CFMutableArrayRef>(const_cast<void *>(selfHolding.get()));
    CFArrayAppendValue(mutableSelf, selfHolding.get());

    Ref tooDeep = Array({});
    for (int i = 0; i < 512; ++i)
        tooDeep = Array({tooDeep.get()});
    Ref deepest = Array({});
    for (int i = 0; i < 511; ++i)
        deepest = Array({deepest.get()});

    struct Case {
        const char *what;
        Ref         tree;
        bool        structurallyValid; // types, keys and depth are fine
    } cases[] = {
        {"a control character", Units(u"a\x01z"), true},
        {"a NUL character", Units(std::u16string(u"a\0z", 3)), true},
        {"U+FFFE", Units(u"\uFFFE"), true},
        {"U+FFFF", Units(u"x\uFFFF"), true},
        {"a lone high surrogate", Units(u"a\xD834"), true},
        {"a lone low surrogate", Units(u"\xDD1Ez"), true},
        {"surrogates in the wrong order", Units(u"\xDD1E\xD834"), true},
        {"a control character in a key", Dict({{Units(u"\x1F").get(), kCFBooleanTrue}}), true},
        {"a number as a key", Dict({{Int(1).get(), kCFBooleanTrue}}), false},
        {"a date after 9999", Date(252423993600.0), true},
        {"a date before year 0", Date(-63200000000.0), true},
        {"an infinite date", Date(INFINITY), true},
        {"a date that is not a number", Date(NAN), true},
        {"a locale", Ref(CFLocaleCopyCurrent()), false},
        {"an array of raw pointers", rawArray, false},
        {"a raw-pointer array, even empty", nullCallbacks, false},
        {"513 levels", tooDeep, false},
        {"an array holding itself", selfHolding, false},
        {"a NULL root", Ref(), false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CFPropertyListCreateXMLData(nullptr, c.tree.get()), nullptr) << c.what;
        if (c.tree) {
            Ref inside = Dict({{Text("k").get(), Array({c.tree.get()}).get()}});
            EXPECT_EQ(CFPropertyListCreateXMLData(nullptr, inside.get()), nullptr) << c.what;
        }
        EXPECT_FALSE(CFPropertyListIsValid(c.tree.get(), kCFPropertyListXMLFormat_v1_0)) << c.what;
        EXPECT_EQ(CFPropertyListIsValid(c.tree.get(), kCFPropertyListBinaryFormat_v1_0),
                  c.structurallyValid)
            << c.what;
    }
    EXPECT_TRUE(CFPropertyListIsValid(deepest.get(), kCFPropertyListXMLFormat_v1_0));
    EXPECT_TRUE(WriteXML(deepest.get()).has_value());
    CFArrayRemoveAllValues(mutableSelf); // breaks the cycle so the test leaks nothing
}

// The document goes straight into the data object; when that object cannot
// be made, the buffer is freed and the call fails (the leak checker at exit
// would see the buffer otherwise).
TEST_F(PlistWriterTest, FailsCleanlyWhenTheDataCannotBeMade)
{
    Ref tree = Dict({{Text("k").get(), Array({Int(1).get(), Text("v").get()}).get()}});
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(CFPropertyListCreateXMLData(nullptr, tree.get()), nullptr);
    EXPECT_EQ(VZGetAllocationFailureCount(), 1);
    VZClearAllocationFailure();
    EXPECT_TRUE(WriteXML(tree.get()).has_value());
}

} // namespace
