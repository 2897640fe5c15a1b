// PlistReaderTest.cpp: reading XML property lists: every element kind, the
// document forms the reader accepts, the limits and refusals (a corpus of
// malformed documents), mutability, shared keys, messages, and allocation
// failures at every step.
#include "PlistTestSupport.h"

#include "Containers.h"
#include "StringStorage.h"

#include <cmath>
#include <cstring>
#include <filesystem>

using namespace plisttest;

namespace {

class PlistReaderTest : public vztest::TempRoot {};

CFTypeRef Get(CFTypeRef dict, const char *key)
{
    return CFDictionaryGetValue(static_cast<CFDictionaryRef>(dict), vztest::Str(key));
}

std::string Nested(const char *open, const char *close, size_t depth, const char *leaf)
{
    std::string text;
    for (size_t i = 0; i < depth; ++i)
        text += open;
    text += leaf;
    for (size_t i = 0; i < depth; ++i)
        text += close;
    return Document(text);
}

TEST_F(PlistReaderTest, ReadsEveryElementKind)
{
    Parsed parsed = ParseEveryWay(Document(R"(<dict>
	<key>String</key>	<string>caf&#xE9; &amp; &lt;tea&gt;</string>
	<key>Empty</key>	<string/>
	<key>Integer</key>	<integer>-42</integer>
	<key>Unsigned</key>	<integer>18446744073709551615</integer>
	<key>Hex</key>	<integer>0x7FFFFFFFFFFFFFFF</integer>
	<key>Real</key>	<real>-2.5e-3</real>
	<key>Date</key>	<date>2001-01-02T00:00:01Z</date>
	<key>Data</key>	<data>AAEC/w==</data>
	<key>Yes</key>	<true/>
	<key>No</key>	<false></false>
	<key>List</key>	<array><integer>1</integer><array/></array>
	<key>None</key>	<dict/>
</dict>)"));
    ASSERT_TRUE(parsed.plist) << parsed.error;
    CFTypeRef root = parsed.plist.get();
    EXPECT_EQ(vztest::Utf8(static_cast<CFStringRef>(Get(root, "String"))), "café & <tea>");
    EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(Get(root, "Empty"))), 0);
    EXPECT_EQ(vz::numberValue(static_cast<CFNumberRef>(Get(root, "Integer"))).i, -42);
    vz::NumberValue big = vz::numberValue(static_cast<CFNumberRef>(Get(root, "Unsigned")));
    EXPECT_EQ(big.kind, vz::NumberKind::Unsigned);
    EXPECT_EQ(big.u, UINT64_MAX);
    EXPECT_EQ(vz::numberValue(static_cast<CFNumberRef>(Get(root, "Hex"))).i, INT64_MAX);
    vz::NumberValue real = vz::numberValue(static_cast<CFNumberRef>(Get(root, "Real")));
    EXPECT_EQ(real.kind, vz::NumberKind::Real);
    EXPECT_EQ(real.d, -2.5e-3);
    EXPECT_EQ(CFDateGetAbsoluteTime(static_cast<CFDateRef>(Get(root, "Date"))), 86401.0);
    auto data = static_cast<CFDataRef>(Get(root, "Data"));
    ASSERT_EQ(CFDataGetLength(data), 4);
    EXPECT_EQ(std::memcmp(CFDataGetBytePtr(data), "\x00\x01\x02\xff", 4), 0);
    EXPECT_EQ(Get(root, "Yes"), kCFBooleanTrue);
    EXPECT_EQ(Get(root, "No"), kCFBooleanFalse);
    auto list = static_cast<CFArrayRef>(Get(root, "List"));
    ASSERT_EQ(CFArrayGetCount(list), 2);
    EXPECT_EQ(CFArrayGetCount(static_cast<CFArrayRef>(CFArrayGetValueAtIndex(list, 1))), 0);
    EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(Get(root, "None"))), 0);
}

// Each input reads to the tree whose canonical text is given.
TEST_F(PlistReaderTest, AcceptsEveryDocumentForm)
{
    const std::string plain = Document("<string>x</string>");
    struct Case {
        const char *what;
        std::string input;
        std::string expected;
    } cases[] = {
        {"no XML declaration", "<plist version=\"1.0\"><string>x</string></plist>", plain},
        {"a document type line",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Example//DTD "
         "PLIST 1.0//EN\" \"http://example.invalid/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><string>x</string></plist>",
         plain},
        {"a bare value as the root", "<string>x</string>", plain},
        {"comments and processing instructions",
         "<!-- a --><plist><!-- b --><?app hint?><string>x<!-- c --></string></plist>", plain},
        {"a CDATA section", "<plist><string><![CDATA[x]]></string></plist>", plain},
        {"a character reference", "<plist><string>&#x78;</string></plist>", plain},
        {"attributes on values", "<plist version=\"9\"><string id=\"1\">x</string></plist>", plain},
        {"whitespace everywhere", " \n<plist>\r\n\t <string>x</string>\t</plist>\n\n", plain},
        {"whitespace around numbers and dates",
         "<array><integer> 7 </integer><real>\n1.5\n</real>"
         "<date> 2001-01-01T00:00:00Z </date></array>",
         Document("<array>\n\t<integer>7</integer>\n\t<real>1.5</real>\n"
                  "\t<date>2001-01-01T00:00:00Z</date>\n</array>")},
        {"a string keeps its whitespace", "<string> \tx\n </string>",
         Document("<string> \tx\n </string>")},
        {"a carriage return from a reference", "<string>a&#13;b&#xD;</string>",
         Document("<string>a&#13;b&#13;</string>")},
        {"ISO Latin 1 declared",
         std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><string>caf\xE9</string>"),
         Document("<string>caf\xC3\xA9</string>")},
        {"UTF-16 with a byte order mark",
         std::string("\xFF\xFE<\0s\0t\0r\0i\0n\0g\0>\0\xE9\0<\0/\0s\0t\0r\0i\0n\0g\0>\0", 38),
         Document("<string>\xC3\xA9</string>")},
        {"a UTF-8 byte order mark", "\xEF\xBB\xBF<string>x</string>", plain},
        {"duplicate keys: the last value wins, in the first's place",
         "<dict><key>a</key><integer>1</integer><key>b</key><true/>"
         "<key>a</key><integer>2</integer></dict>",
         Document("<dict>\n\t<key>a</key>\n\t<integer>2</integer>\n\t<key>b</key>\n\t<true/>\n"
                  "</dict>")},
        {"data across lines with padding left out", "<data>\n\tAAEC\n\tAw\n</data>",
         Document("<data>\nAAECAw==\n</data>")},
        {"an astral character", "<string>\xF0\x9D\x84\x9E</string>",
         Document("<string>\xF0\x9D\x84\x9E</string>")},
    };
    for (const Case &c : cases) {
        Parsed parsed = ParseEveryWay(c.input);
        ASSERT_TRUE(parsed.plist) << c.what << ": " << parsed.error;
        EXPECT_EQ(WriteXML(parsed.plist.get()).value_or("(refused)"), c.expected) << c.what;
    }
}

// Inline cases: the input and a part of the message it must produce.
TEST_F(PlistReaderTest, RefusesMalformedDocuments)
{
    struct Case {
        std::string input;
        const char *message;
    } cases[] = {
        {"", "no element found"},
        {"<plist>", "no element found"},
        {"<plist><string>x</plist>", "mismatched tag"},
        {"<plist><strung>x</strung></plist>", "unknown element <strung>"},
        {"<plist><string>a<b/></string></plist>", "unknown element <b>"},
        {"<plist><dict><key>a<dict/></key></dict></plist>", "element <dict> inside <key>"},
        {"<plist><string>a<string/></string></plist>", "element <string> inside <string>"},
        {"<plist><array>text<string/></array></plist>", "text outside a value"},
        {"<plist>text<string/></plist>", "text outside a value"},
        {"<plist><true>yes</true></plist>", "text inside <true/>"},
        {"<plist><dict><string>v</string></dict></plist>", "<string> without a <key>"},
        {"<plist><dict><key>a</key></dict></plist>", "<key> without a value"},
        {"<plist><dict><key>a</key><key>b</key><true/></dict></plist>", "key without a value"},
        {"<plist><array><key>a</key></array></plist>", "<key> outside a dictionary"},
        {"<plist><key>a</key></plist>", "<key> outside a dictionary"},
        {"<plist><string/><string/></plist>", "more than one value"},
        {"<plist><array><plist/></array></plist>", "<plist> inside another element"},
        {"<plist></plist>", "holds no value"},
        {"<plist/>", "holds no value"},
        {"<plist><string/></plist><plist/>", "junk after document element"},
        {"<plist><integer></integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>1.0</integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>0x</integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>--1</integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>+-1</integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>9223372036854775808x</integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>18446744073709551616</integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>-9223372036854775809</integer></plist>", "not a 64-bit integer"},
        {"<plist><integer>0x10000000000000000</integer></plist>", "not a 64-bit integer"},
        {"<plist><real></real></plist>", "real \"\""},
        {"<plist><real>1e400</real></plist>", "real \"1e400\""},
        {"<plist><real>1.5.5</real></plist>", "real"},
        {"<plist><real>+-1</real></plist>", "real"},
        {"<plist><real>0x10</real></plist>", "real"},
        {"<plist><data>AAE</data>x</plist>", "text outside a value"},
        {"<plist><data>A</data></plist>", "not base64"},
        {"<plist><data>AA=A</data></plist>", "not base64"},
        {"<plist><data>AA$A</data></plist>", "not base64"},
        {"<plist><date>2001-01-01T00:00:00</date></plist>", "is not YYYY-MM-DDTHH:MM:SSZ"},
        {"<plist><date>2001-02-30T00:00:00Z</date></plist>", "date"},
        {"<plist><date>2001-01-01T24:00:00Z</date></plist>", "date"},
        {"<plist><date>yesterday</date></plist>", "date"},
        {std::string("<plist><string>a\0b</string></plist>", 33), "not well-formed"},
        {"<plist><string>\xFF</string></plist>", "not well-formed"},
        {"<plist><string>\xED\xA0\x80</string></plist>", "not well-formed"}, // encoded surrogate
        {"<plist><string>\xEF\xBF\xBE</string></plist>", "not well-formed"}, // U+FFFE
        {"<plist><string>&#1;</string></plist>", "reference to invalid character number"},
        {"<plist><string>&nope;</string></plist>", "undefined entity"},
        {"<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><string>&e;</string></plist>",
         "entity declarations are not allowed"},
        {"<!DOCTYPE plist [<!ENTITY % p \"\">]><plist/>", "entity declarations are not allowed"},
        {"<!DOCTYPE plist SYSTEM \"x.dtd\"><plist><string>&e;</string></plist>",
         "undeclared entity &e;"},
        {"<?xml version=\"1.0\" encoding=\"EBCDIC-XYZ\"?><plist/>", "encoding"},
    };
    for (const Case &c : cases) {
        Parsed parsed = ParseEveryWay(c.input);
        EXPECT_FALSE(parsed.plist) << c.input;
        EXPECT_NE(parsed.error.find(c.message), std::string::npos)
            << c.input << "\n  gave: " << parsed.error;
        EXPECT_NE(parsed.error.find(" at line "), std::string::npos) << parsed.error;
    }
}

TEST_F(PlistReaderTest, RefusesTheMalformedCorpus)
{
    size_t files = 0;
    for (const auto &entry :
         std::filesystem::directory_iterator(vztest::TestDataPath("plist/malformed"))) {
        std::string text = vztest::ReadFile(entry.path().string());
        ASSERT_FALSE(text.empty()) << entry.path();
        Parsed parsed = ParseEveryWay(text);
        EXPECT_FALSE(parsed.plist) << entry.path();
        EXPECT_NE(parsed.error.find(" at line "), std::string::npos)
            << entry.path() << ": " << parsed.error;
        ++files;
    }
    EXPECT_GE(files, 15u);
}

TEST_F(PlistReaderTest, MessagesGiveTheLineAndColumn)
{
    Parsed parsed = ParseWhole("<plist>\n<array>\n\t<integer>x</integer>\n</array>\n</plist>");
    EXPECT_EQ(parsed.error, "integer \"x\" is not a 64-bit integer at line 3, column 12");
    // Long texts are cut in the message, on a character boundary.
    parsed = ParseWhole("<integer>" + std::string(39, '9') + "\xC3\xA9" + std::string(9, '9') +
                        "</integer>");
    const std::string cut = "integer \"" + std::string(39, '9') + "...\" is not";
    EXPECT_EQ(parsed.error.substr(0, cut.size()), cut);

    // Callers that do not ask get no message, and a success none either.
    CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>("<plist/>"), 8);
    EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, data, 0, nullptr), nullptr);
    CFRelease(data);
    data                = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>("<true/>"), 7);
    CFStringRef message = CFSTR("not touched");
    Ref         plist(CFPropertyListCreateFromXMLData(nullptr, data, 0, &message));
    CFRelease(data);
    EXPECT_EQ(plist.get(), kCFBooleanTrue);
    EXPECT_EQ(message, nullptr);
}

TEST_F(PlistReaderTest, IntegersKeepTheirFullRange)
{
    struct Case {
        const char    *text;
        vz::NumberKind kind;
        uint64_t       bits;
    } cases[] = {
        {"9223372036854775807", vz::NumberKind::Signed, uint64_t(INT64_MAX)},
        {"-9223372036854775808", vz::NumberKind::Signed, uint64_t(INT64_MIN)},
        {"9223372036854775808", vz::NumberKind::Unsigned, uint64_t(1) << 63},
        {"0xFFFFFFFFFFFFFFFF", vz::NumberKind::Unsigned, UINT64_MAX},
        {"-0x8000000000000000", vz::NumberKind::Signed, uint64_t(INT64_MIN)},
        {"+0007", vz::NumberKind::Signed, 7},
        {"-0", vz::NumberKind::Signed, 0},
    };
    for (const auto &c : cases) {
        Parsed parsed = ParseEveryWay(Document(std::string("<integer>") + c.text + "</integer>"));
        ASSERT_TRUE(parsed.plist) << c.text << ": " << parsed.error;
        vz::NumberValue value = vz::numberValue(static_cast<CFNumberRef>(parsed.plist.get()));
        EXPECT_EQ(value.kind, c.kind) << c.text;
        EXPECT_EQ(value.u, c.bits) << c.text;
    }
}

TEST_F(PlistReaderTest, RealsIncludeTheValuesWithoutDigits)
{
    struct Case {
        const char *text;
        double      value;
    } cases[] = {
        {"nan", NAN},
        {"NaN", NAN},
        {"inf", INFINITY},
        {"+infinity", INFINITY},
        {"-inf", -INFINITY},
        {"-Infinity", -INFINITY},
        {"1E-5", 1e-5},
        {".5", 0.5},
        {"5.", 5.0},
        {"-0", -0.0},
        {"4.9e-324", 4.9e-324},
        {"12", 12.0},
    };
    for (const auto &c : cases) {
        Parsed parsed = ParseEveryWay(Document(std::string("<real>") + c.text + "</real>"));
        ASSERT_TRUE(parsed.plist) << c.text << ": " << parsed.error;
        vz::NumberValue value = vz::numberValue(static_cast<CFNumberRef>(parsed.plist.get()));
        ASSERT_EQ(value.kind, vz::NumberKind::Real) << c.text;
        if (std::isnan(c.value)) {
            EXPECT_TRUE(std::isnan(value.d)) << c.text;
        } else {
            EXPECT_EQ(value.d, c.value) << c.text;
            EXPECT_EQ(std::signbit(value.d), std::signbit(c.value)) << c.text;
        }
    }
}

TEST_F(PlistReaderTest, NestingStopsAt512Levels)
{
    for (const char *kind : {"array", "dict"}) {
        bool        isArray = std::strcmp(kind, "array") == 0;
        std::string open    = isArray ? "<array>" : "<dict><key>k</key>";
        std::string close   = isArray ? "</array>" : "</dict>";
        Parsed      deepest =
            ParseWhole(Nested(open.c_str(), close.c_str(), 511, isArray ? "<array/>" : "<dict/>"));
        EXPECT_TRUE(deepest.plist) << kind << ": " << deepest.error;
        Parsed tooDeep =
            ParseWhole(Nested(open.c_str(), close.c_str(), 512, isArray ? "<array/>" : "<dict/>"));
        EXPECT_FALSE(tooDeep.plist) << kind;
        EXPECT_NE(tooDeep.error.find("nested deeper than 512"), std::string::npos) << tooDeep.error;
    }
    // Far deeper input fails the same way, without exhausting the stack.
    Parsed huge = ParseWhole(Nested("<array>", "</array>", 200000, ""));
    EXPECT_NE(huge.error.find("nested deeper than 512"), std::string::npos) << huge.error;
}

TEST_F(PlistReaderTest, HonoursTheMutabilityOptions)
{
    const std::string text = Document("<dict><key>k</key><array><string>s</string>"
                                      "<data>AA==</data><integer>1</integer><string>s</string>"
                                      "</array></dict>");
    struct Case {
        CFOptionFlags option;
        bool          containers;
        bool          leaves;
    } cases[] = {
        {kCFPropertyListImmutable, false, false},
        {kCFPropertyListMutableContainers, true, false},
        {kCFPropertyListMutableContainersAndLeaves, true, true},
    };
    for (const Case &c : cases) {
        Parsed parsed = ParseEveryWay(text, c.option);
        ASSERT_TRUE(parsed.plist) << parsed.error;
        CFTypeRef root  = parsed.plist.get();
        auto      array = static_cast<CFArrayRef>(Get(root, "k"));
        EXPECT_EQ(vz::isMutableContainer(root), c.containers) << c.option;
        EXPECT_EQ(vz::isMutableContainer(array), c.containers) << c.option;
        auto string = static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, 0));
        EXPECT_EQ(vz::asString(string)->isMutable(), c.leaves) << c.option;
        EXPECT_EQ(vz::isMutableData(static_cast<CFDataRef>(CFArrayGetValueAtIndex(array, 1))),
                  c.leaves)
            << c.option;
        if (c.leaves) {
            // Equal texts are separate objects when they may change.
            CFStringAppend(const_cast<CFMutableStringRef>(string), CFSTR("!"));
            EXPECT_EQ(vztest::Utf8(string), "s!");
            EXPECT_EQ(vztest::Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, 3))),
                      "s");
        }
        // Keys are never mutable: changing one would break its dictionary.
        const void *key = nullptr;
        CFDictionaryGetKeysAndValues(static_cast<CFDictionaryRef>(root), &key, nullptr);
        EXPECT_FALSE(vz::asString(static_cast<CFStringRef>(key))->isMutable());
    }
}

// A store repeats the same few dozen keys thousands of times; one object per
// distinct key keeps the tree small.
TEST_F(PlistReaderTest, EqualKeysShareOneString)
{
    Parsed parsed = ParseWhole(Document("<array><dict><key>Name</key><true/></dict>"
                                        "<dict><key>Name</key><false/><key>Other</key><true/>"
                                        "</dict></array>"));
    ASSERT_TRUE(parsed.plist) << parsed.error;
    auto        array = static_cast<CFArrayRef>(parsed.plist.get());
    const void *first = nullptr, *second[2] = {};
    CFDictionaryGetKeysAndValues(static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(array, 0)),
                                 &first, nullptr);
    CFDictionaryGetKeysAndValues(static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(array, 1)),
                                 second, nullptr);
    EXPECT_TRUE(first == second[0] || first == second[1]);
    EXPECT_NE(second[0], second[1]);
}

// The reader tells whether a key was read anywhere, so that a caller can
// skip a walk of the tree for a key it does not hold.
TEST_F(PlistReaderTest, TellsWhetherAKeyWasRead)
{
    const std::pair<const char *, bool> cases[] = {
        {"<dict><key>Secret</key><true/></dict>", true},
        {"<array><dict><key>a</key><dict><key>Secret</key><string>x</string></dict></dict></array>",
         true},
        {"<dict><key>Secrets</key><true/><key>secret</key><true/></dict>", false},
        {"<array><string>Secret</string></array>", false},
    };
    for (const auto &[body, read] : cases) {
        std::string     text = Document(body);
        vz::PlistReader reader(kCFPropertyListImmutable);
        ASSERT_TRUE(reader.feed(reinterpret_cast<const uint8_t *>(text.data()), text.size(), true))
            << body;
        vz::CFRef<CFPropertyListRef> tree(reader.takeResult());
        EXPECT_EQ(reader.mayHaveReadKey(CFSTR("Secret")), read) << body;
    }
}

// Every allocation of a parse may fail: each failure gives NULL and a
// message, releases everything made so far, and a parse with no failure
// armed succeeds.
TEST_F(PlistReaderTest, SurvivesAllocationFailureAtEveryStep)
{
    const std::string text = vztest::ReadFile(vztest::TestDataPath("plist/real-store-1.plist"));
    CFDataRef         data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(text.data()),
                                          static_cast<CFIndex>(text.size()));
    for (CFOptionFlags option :
         {kCFPropertyListImmutable, kCFPropertyListMutableContainersAndLeaves}) {
        long n = 0;
        for (; n < 100000; ++n) {
            CFIndex live = VZGetLiveObjectCount();
            VZArmAllocationFailure(n, false);
            CFStringRef       message = nullptr;
            CFPropertyListRef plist =
                CFPropertyListCreateFromXMLData(nullptr, data, option, &message);
            bool failed = VZGetAllocationFailureCount() > 0;
            VZClearAllocationFailure();
            if (plist != nullptr) {
                EXPECT_FALSE(failed) << "a failed allocation at " << n << " went unnoticed";
                CFRelease(plist);
                if (!failed) break;
                continue;
            }
            ASSERT_TRUE(failed) << "parse failed without an injected failure";
            ASSERT_NE(message, nullptr);
            CFRelease(message);
            ASSERT_EQ(VZGetLiveObjectCount(), live) << "leak after a failure at allocation " << n;
        }
        EXPECT_GT(n, 50) << "parse succeeded despite the failing allocator";
        EXPECT_LT(n, 100000);
    }
    CFRelease(data);
}

} // namespace
