// PlistRoundTripTest.cpp: trees written, read and written again give the
// same text and an equal tree: thousands of generated trees with every kind
// of value, and the two stores from real machines, which are in the canonical
// layout already and so come back byte for byte.
#include "PlistTestSupport.h"

#include "Containers.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

using namespace plisttest;

namespace {

class PlistRoundTripTest : public vztest::TempRoot {};

// Makes random trees from a seed: every element kind, empty containers,
// mutable and immutable objects, text that needs escaping, non-ASCII and
// astral characters, integer and real extremes, dates with and without a
// fraction of a second.
class TreeMaker {
  public:
    explicit TreeMaker(uint64_t seed) : random_(seed) {}

    // A dictionary or an array at the top, so that every tree has some size.
    Ref root() { return pick(3) == 0 ? array(0) : dictionary(0); }

    Ref value(int depth)
    {
        unsigned kind = pick(depth >= kMaxDepth ? 6 : 8);
        switch (kind) {
        case 0:
            return string();
        case 1:
            return integer();
        case 2:
            return real();
        case 3:
            return Ref::retain(pick(2) ? kCFBooleanTrue : kCFBooleanFalse);
        case 4:
            return date();
        case 5:
            return data();
        case 6:
            return array(depth);
        default:
            return dictionary(depth);
        }
    }

  private:
    static constexpr int kMaxDepth = 5;

    unsigned pick(unsigned n) { return static_cast<unsigned>(random_() % n); }

    Ref string()
    {
        // Pieces chosen for what they exercise in the writer and the reader.
        static const std::u16string kPieces[] = {
            u"a",      u"Z",       u"0",          u" ",          u"-",          u"/",
            u"&",      u"<",       u">",          u"]]>",        u"\"",         u"'",
            u"\t",     u"\n",      u"\r",         u"\r\n",       u"\u00E9",     u"\u00FF",
            u"\u0100", u"\u07FF",  u"\u0800",     u"\u20AC",     u"\u4E2D",     u"\uD7FF",
            u"\uE000", u"\uFFFD",  u"\U00010000", u"\U0001D11E", u"\U0010FFFF", u"\u007F",
            u"\u0085", u"Ethernet"};
        std::u16string text;
        for (unsigned n = pick(9); n > 0; --n)
            text += kPieces[pick(std::size(kPieces))];
        Ref string = Units(text);
        if (pick(4) != 0) return string;
        return Ref(CFStringCreateMutableCopy(nullptr, 0, static_cast<CFStringRef>(string.get())));
    }

    Ref integer()
    {
        static const int64_t kExtremes[] = {INT64_MIN, INT64_MIN + 1, INT64_MAX, -1,        0,
                                            1,         INT32_MIN,     INT32_MAX, UINT32_MAX};
        switch (pick(4)) {
        case 0:
            return Ref(vz::createSignedNumber(kExtremes[pick(std::size(kExtremes))]));
        case 1:
            return Ref(vz::createUnsignedNumber(UINT64_MAX - pick(3)));
        case 2:
            return Ref(vz::createUnsignedNumber(random_()));
        default:
            return Ref(vz::createSignedNumber(static_cast<int64_t>(random_()) >> pick(64)));
        }
    }

    Ref real()
    {
        static const double kExtremes[] = {0.0,
                                           -0.0,
                                           INFINITY,
                                           -INFINITY,
                                           DBL_MAX,
                                           -DBL_MAX,
                                           DBL_MIN,
                                           std::numeric_limits<double>::denorm_min(),
                                           0.1,
                                           1e21,
                                           123456789012345678.0};
        switch (pick(3)) {
        case 0:
            return Ref(vz::createRealNumber(kExtremes[pick(std::size(kExtremes))]));
        case 1:
            return Ref(
                vz::createRealNumber(static_cast<double>(static_cast<int32_t>(random_())) / 64));
        default: {
            // Any bit pattern but a NaN.
            double value;
            do {
                uint64_t bits = random_();
                std::memcpy(&value, &bits, sizeof value);
            } while (std::isnan(value));
            return Ref(vz::createRealNumber(value));
        }
        }
    }

    Ref date()
    {
        constexpr int64_t kFirst = -63145526400; // 0000-01-01
        constexpr int64_t kLast  = 252423993599; // 9999-12-31T23:59:59
        double            at     = static_cast<double>(kFirst +
                                        static_cast<int64_t>(random_() % uint64_t(kLast - kFirst)));
        if (pick(3) == 0) at += std::ldexp(static_cast<double>(pick(1u << 20)), -20);
        return Ref(CFDateCreate(nullptr, at));
    }

    Ref data()
    {
        std::string bytes(pick(4) == 0 ? 0 : pick(120), '\0');
        for (char &c : bytes)
            c = static_cast<char>(random_());
        return Ref(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                static_cast<CFIndex>(bytes.size())));
    }

    Ref array(int depth)
    {
        Ref array(pick(2) ? CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks) : nullptr);
        std::vector<Ref> values;
        for (unsigned n = pick(6); n > 0; --n)
            values.push_back(value(depth + 1));
        if (array) {
            for (const Ref &v : values)
                CFArrayAppendValue(static_cast<CFMutableArrayRef>(const_cast<void *>(array.get())),
                                   v.get());
            return array;
        }
        std::vector<const void *> raw;
        for (const Ref &v : values)
            raw.push_back(v.get());
        return Ref(CFArrayCreate(nullptr, raw.data(), static_cast<CFIndex>(raw.size()),
                                 &kCFTypeArrayCallBacks));
    }

    Ref dictionary(int depth)
    {
        Ref dict(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                           &kCFTypeDictionaryValueCallBacks));
        for (unsigned n = pick(9); n > 0; --n) {
            Ref key   = string();
            Ref value = this->value(depth + 1);
            CFDictionarySetValue(
                static_cast<CFMutableDictionaryRef>(const_cast<void *>(dict.get())), key.get(),
                value.get());
        }
        if (pick(2)) return dict;
        return Ref(CFDictionaryCreateCopy(nullptr, static_cast<CFDictionaryRef>(dict.get())));
    }

    std::mt19937_64 random_;
};

TEST_F(PlistRoundTripTest, GeneratedTreesComeBackEqual)
{
    constexpr uint64_t kTrees = 3000;
    size_t             bytes  = 0;
    for (uint64_t seed = 1; seed <= kTrees; ++seed) {
        Ref                        tree  = TreeMaker(seed).root();
        std::optional<std::string> first = WriteXML(tree.get());
        ASSERT_TRUE(first) << "seed " << seed << ": the writer refused a valid tree";
        // Splitting the input into pieces is slow under the sanitizers; a
        // share of the trees is enough to cross every kind of boundary.
        Parsed back = seed % 25 == 0 ? ParseEveryWay(*first) : ParseWhole(*first);
        ASSERT_TRUE(back.plist) << "seed " << seed << ": " << back.error << "\n" << *first;
        EXPECT_TRUE(CFEqual(tree.get(), back.plist.get())) << "seed " << seed << "\n" << *first;
        std::optional<std::string> second = WriteXML(back.plist.get());
        ASSERT_TRUE(second) << "seed " << seed;
        ASSERT_EQ(*first, *second) << "seed " << seed;
        bytes += first->size();
    }
    EXPECT_GT(bytes, kTrees * 300) << "the trees are too small to find much";
}

// The real stores, and the reference layout of data at every depth.
TEST_F(PlistRoundTripTest, ReferenceDocumentsComeBackByteForByte)
{
    for (const char *name :
         {"plist/real-store-1.plist", "plist/real-store-2.plist", "plist/nested-data.plist"}) {
        const std::string text = vztest::ReadFile(vztest::TestDataPath(name));
        ASSERT_FALSE(text.empty()) << name;
        for (CFOptionFlags option :
             {kCFPropertyListImmutable, kCFPropertyListMutableContainersAndLeaves}) {
            Parsed parsed = ParseEveryWay(text, option);
            ASSERT_TRUE(parsed.plist) << name << ": " << parsed.error;
            EXPECT_EQ(WriteXML(parsed.plist.get()).value_or("(refused)"), text) << name;
            EXPECT_TRUE(CFPropertyListIsValid(parsed.plist.get(), kCFPropertyListXMLFormat_v1_0));
        }
    }
}

// The same content in another layout (keys out of order, other whitespace,
// the optional forms) reads to an equal tree and writes the canonical text.
TEST_F(PlistRoundTripTest, OtherLayoutsBecomeCanonical)
{
    const std::string canonical =
        vztest::ReadFile(vztest::TestDataPath("plist/real-store-1.plist"));
    Parsed original = ParseWhole(canonical);
    ASSERT_TRUE(original.plist) << original.error;

    // Reverse the order of every dictionary's entries by writing the tree by
    // hand from a walk, with spaces for tabs and CRLF line ends.
    std::string                    other = "<?xml version=\"1.0\"?>\r\n<plist version=\"1.0\">";
    std::function<void(CFTypeRef)> emit  = [&](CFTypeRef value) {
        CFTypeID type = CFGetTypeID(value);
        if (type == CFDictionaryGetTypeID()) {
            auto                      dict  = static_cast<CFDictionaryRef>(value);
            CFIndex                   count = CFDictionaryGetCount(dict);
            std::vector<const void *> keys(count), values(count);
            CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
            other += "<dict>\r\n";
            for (CFIndex i = count; i-- > 0;) {
                other += "  <key>" + vztest::Utf8(static_cast<CFStringRef>(keys[i])) + "</key> ";
                emit(values[i]);
            }
            other += "</dict>\r\n";
        } else if (type == CFArrayGetTypeID()) {
            other += "<array>";
            for (const void *item : vz::arrayValues(static_cast<CFArrayRef>(value)))
                emit(item);
            other += "</array>";
        } else if (type == CFStringGetTypeID()) {
            other += "<string><![CDATA[" + vztest::Utf8(static_cast<CFStringRef>(value)) +
                     "]]></string>";
        } else if (type == CFBooleanGetTypeID()) {
            other += value == kCFBooleanTrue ? "<true></true>" : "<false />";
        } else {
            other += "<integer> +" +
                     std::to_string(vz::numberValue(static_cast<CFNumberRef>(value)).i) +
                     " </integer>";
        }
    };
    emit(original.plist.get());
    other += "</plist>";

    Parsed parsed = ParseEveryWay(other);
    ASSERT_TRUE(parsed.plist) << parsed.error;
    EXPECT_TRUE(CFEqual(parsed.plist.get(), original.plist.get()));
    EXPECT_EQ(WriteXML(parsed.plist.get()).value_or("(refused)"), canonical);
}

} // namespace
