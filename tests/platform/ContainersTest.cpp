// ContainersTest.cpp: arrays and dictionaries: value equality of keys,
// callback records (none, standard, custom), insertion order through every
// kind of edit, the hashed path of larger dictionaries, copies, sorting and
// searching, and descriptions.
#include "TestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

using vztest::Str;

namespace {

// A string made from UTF-16 text: a separate object from any constant.
CFStringRef U(const std::u16string &text)
{
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(text.data()),
                                        static_cast<CFIndex>(text.size()));
}

CFNumberRef N(SInt64 value)
{
    return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
}

CFMutableDictionaryRef NewDict()
{
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

std::u16string Text(CFStringRef s)
{
    std::u16string text(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)),
                          reinterpret_cast<UniChar *>(text.data()));
    return text;
}

std::vector<std::u16string> KeysInOrder(CFDictionaryRef d)
{
    std::vector<const void *> keys(static_cast<size_t>(CFDictionaryGetCount(d)));
    CFDictionaryGetKeysAndValues(d, keys.data(), nullptr);
    std::vector<std::u16string> texts;
    for (const void *k : keys)
        texts.push_back(Text(static_cast<CFStringRef>(k)));
    return texts;
}

TEST(DictionaryKeys, EqualByValueAcrossObjectsAndStorage)
{
    // A narrow key found through a wide-capable object of equal text, and a
    // key outside Latin 1 found through a second object.
    for (size_t size : {3u, 40u}) { // linear scan and hashed index
        CFMutableDictionaryRef d = NewDict();
        for (size_t i = 0; i < size; ++i) {
            CFStringRef k = U(u"key" + std::u16string(1, char16_t(u'a' + i % 26)) +
                              std::u16string(i / 26, u'z'));
            CFNumberRef v = N(static_cast<SInt64>(i));
            CFDictionarySetValue(d, k, v);
            CFRelease(k);
            CFRelease(v);
        }
        CFStringRef wide = U(u"\u20ac-euro");
        CFDictionarySetValue(d, wide, kCFBooleanTrue);
        CFStringRef probeWide = U(u"\u20ac-euro");
        CFStringRef probe     = U(u"keyb");
        EXPECT_NE(probeWide, wide);
        EXPECT_TRUE(CFDictionaryContainsKey(d, probeWide));
        EXPECT_TRUE(CFDictionaryContainsKey(d, probe));
        EXPECT_TRUE(CFDictionaryContainsKey(d, CFSTR("keyb")));
        EXPECT_FALSE(CFDictionaryContainsKey(d, CFSTR("keyB")));
        SInt64 got = -1;
        CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(d, probe)),
                         kCFNumberSInt64Type, &got);
        EXPECT_EQ(got, 1);
        for (CFTypeRef o : {CFTypeRef(wide), CFTypeRef(probeWide), CFTypeRef(probe), CFTypeRef(d)})
            CFRelease(o);
    }
}

TEST(DictionaryKeys, NumbersAsKeysMatchByValueAcrossIntegerAndReal)
{
    CFMutableDictionaryRef d    = NewDict();
    CFNumberRef            one  = N(1);
    double                 real = 1.0;
    CFNumberRef            oneR = CFNumberCreate(nullptr, kCFNumberFloat64Type, &real);
    CFDictionarySetValue(d, one, CFSTR("one"));
    EXPECT_EQ(CFDictionaryGetValue(d, oneR), CFSTR("one"));
    EXPECT_EQ(CFHash(one), CFHash(oneR));
    for (CFTypeRef o : {CFTypeRef(one), CFTypeRef(oneR), CFTypeRef(d)})
        CFRelease(o);
}

TEST(InsertionOrder, SurvivesSetReplaceRemoveAndCopies)
{
    for (int size : {5, 30}) {
        CFMutableDictionaryRef      d = NewDict();
        std::vector<std::u16string> expected;
        for (int i = size - 1; i >= 0; --i) { // descending, so order is not sorted order
            std::u16string text = u"k" + std::u16string(1, char16_t(u'A' + i));
            CFStringRef    k    = U(text);
            CFDictionarySetValue(d, k, CFSTR("v"));
            CFRelease(k);
            expected.push_back(text);
        }
        EXPECT_EQ(KeysInOrder(d), expected);

        // Replacing keeps the place; AddValue of an existing key changes nothing.
        CFStringRef second = U(expected[1]);
        CFDictionarySetValue(d, second, CFSTR("w"));
        CFDictionaryAddValue(d, second, CFSTR("x"));
        EXPECT_EQ(CFDictionaryGetValue(d, second), CFSTR("w"));
        EXPECT_EQ(KeysInOrder(d), expected);

        // Removing closes the gap; a new key goes last.
        CFDictionaryRemoveValue(d, second);
        expected.erase(expected.begin() + 1);
        CFDictionarySetValue(d, second, CFSTR("again"));
        expected.push_back(expected.size() > 0 ? Text(second) : u"");
        EXPECT_EQ(KeysInOrder(d), expected);
        for (const auto &text : expected) {
            CFStringRef k = U(text);
            EXPECT_TRUE(CFDictionaryContainsKey(d, k));
            CFRelease(k);
        }

        CFDictionaryRef        copy    = CFDictionaryCreateCopy(nullptr, d);
        CFMutableDictionaryRef mutCopy = CFDictionaryCreateMutableCopy(nullptr, 0, copy);
        EXPECT_EQ(KeysInOrder(copy), expected);
        EXPECT_EQ(KeysInOrder(mutCopy), expected);
        EXPECT_TRUE(CFEqual(d, copy));
        EXPECT_TRUE(CFEqual(copy, mutCopy));
        CFDictionaryReplaceValue(mutCopy, second, CFSTR("changed"));
        EXPECT_FALSE(CFEqual(copy, mutCopy));
        CFDictionaryReplaceValue(mutCopy, CFSTR("absent"), CFSTR("ignored"));
        EXPECT_FALSE(CFDictionaryContainsKey(mutCopy, CFSTR("absent")));
        CFDictionaryRemoveAllValues(mutCopy);
        EXPECT_EQ(CFDictionaryGetCount(mutCopy), 0);
        for (CFTypeRef o : {CFTypeRef(second), CFTypeRef(d), CFTypeRef(copy), CFTypeRef(mutCopy)})
            CFRelease(o);
    }
}

// Removal takes a key out of the hashed index in place: whatever the order of
// removals, every other key stays reachable and in its place in the order.
TEST(InsertionOrder, RemovalsInAnyOrderKeepEveryOtherKeyReachable)
{
    struct Order {
        const char *name;
        int (*pick)(int step, int size); // the key removed at this step
    };
    const Order kOrders[] = {
        {"front to back", [](int step, int) { return step; }},
        {"back to front", [](int step, int size) { return size - 1 - step; }},
        {"every seventh", [](int step, int size) { return (step * 7) % size; }},
    };
    constexpr int kSize = 300; // coprime with 7: "every seventh" visits every key
    for (const Order &order : kOrders) {
        SCOPED_TRACE(order.name);
        CFMutableDictionaryRef   d = NewDict();
        std::vector<CFStringRef> keys;
        for (int i = 0; i < kSize; ++i) {
            keys.push_back(U(u"key-" + std::u16string(1, char16_t(u'0' + i % 10)) +
                             std::u16string(1, char16_t(0x100 + i))));
            CFDictionarySetValue(d, keys.back(), keys.back());
        }
        std::vector<bool> present(kSize, true);
        for (int step = 0; step < kSize; ++step) {
            int gone = order.pick(step, kSize);
            CFDictionaryRemoveValue(d, keys[gone]);
            present[gone] = false;
            if (step % 37 != 0 && step != kSize - 1) continue; // check now and then
            std::vector<std::u16string> expected;
            for (int i = 0; i < kSize; ++i) {
                EXPECT_EQ(CFDictionaryGetValue(d, keys[i]), present[i] ? keys[i] : nullptr)
                    << "key " << i << " after " << step + 1 << " removals";
                if (present[i]) expected.push_back(Text(keys[i]));
            }
            EXPECT_EQ(KeysInOrder(d), expected);
        }
        EXPECT_EQ(CFDictionaryGetCount(d), 0);
        for (CFStringRef k : keys)
            CFRelease(k);
        CFRelease(d);
    }
}

// Keys chosen so that an unkeyed hash (FNV-1a, the usual choice) puts them all
// in one slot of a 256-slot index spread over the index like any other keys:
// a document cannot aim collisions at a dictionary.
TEST(DictionaryKeys, KeysAimedAtOneSlotSpreadOverTheIndex)
{
    auto fnv = [](const std::string &text) {
        uint64_t h = 0xcbf29ce484222325ull;
        for (unsigned char c : text)
            h = (h ^ c) * 0x100000001b3ull;
        return static_cast<uint32_t>(h ^ (h >> 32));
    };
    std::vector<std::string> aimed;
    for (int i = 0; aimed.size() < 1000; ++i) {
        std::string text = "Setup:/Network/Service/" + std::to_string(i) + "/IPv4";
        if ((fnv(text) & 0xFF) == 0) aimed.push_back(text);
    }
    std::vector<bool> slots(256, false);
    for (const std::string &text : aimed) {
        Str key(text.c_str());
        slots[CFHash(key) & 0xFF] = true;
    }
    // 1000 random keys leave about 4 of 256 slots empty; an unkeyed hash
    // leaves 255.
    EXPECT_GT(std::count(slots.begin(), slots.end(), true), 230);
}

TEST(InsertionOrder, ImmutableCreationKeepsFirstPlaceAndLastValueOfARepeatedKey)
{
    const void     *keys[]   = {CFSTR("a"), CFSTR("b"), CFSTR("a")};
    const void     *values[] = {CFSTR("1"), CFSTR("2"), CFSTR("3")};
    CFDictionaryRef d = CFDictionaryCreate(nullptr, keys, values, 3, &kCFTypeDictionaryKeyCallBacks,
                                           &kCFTypeDictionaryValueCallBacks);
    EXPECT_EQ(CFDictionaryGetCount(d), 2);
    EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("a")), CFSTR("3"));
    EXPECT_EQ(KeysInOrder(d), (std::vector<std::u16string>{u"a", u"b"}));
    CFRelease(d);
}

TEST(CallBacks, NullRecordsStoreRawPointersComparedByAddress)
{
    static int             first = 1, second = 2;
    CFMutableDictionaryRef d    = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    CFMutableArrayRef      a    = CFArrayCreateMutable(nullptr, 0, nullptr);
    CFStringRef            s    = U(u"text");
    CFStringRef            same = U(u"text");
    CFDictionarySetValue(d, &first, &second);
    CFDictionarySetValue(d, s, &first);
    CFArrayAppendValue(a, s);
    CFArrayAppendValue(a, &second);
    EXPECT_EQ(CFGetRetainCount(s), 1); // nothing retained
    EXPECT_EQ(CFDictionaryGetValue(d, &first), &second);
    EXPECT_EQ(CFDictionaryGetValue(d, same), nullptr); // equal text, other address
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 2), same), kCFNotFound);
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 2), &second), 1);
    for (CFTypeRef o : {CFTypeRef(d), CFTypeRef(a), CFTypeRef(s), CFTypeRef(same)})
        CFRelease(o);
}

int         gRetains = 0, gReleases = 0;
const void *CountingRetain(CFAllocatorRef, const void *v)
{
    ++gRetains;
    return v;
}
void CountingRelease(CFAllocatorRef, const void *)
{
    ++gReleases;
}

TEST(CallBacks, CustomRecordsAreCalledForEveryStoreAndRemoval)
{
    CFArrayCallBacks  cb = {0, CountingRetain, CountingRelease, nullptr, nullptr};
    CFMutableArrayRef a  = CFArrayCreateMutable(nullptr, 0, &cb);
    static int        x;
    gRetains = gReleases = 0;
    CFArrayAppendValue(a, &x);
    CFArrayAppendValue(a, &x);
    CFArraySetValueAtIndex(a, 0, &x);
    CFArrayRemoveValueAtIndex(a, 1);
    EXPECT_EQ(gRetains, 3);
    EXPECT_EQ(gReleases, 2);
    CFRelease(a);
    EXPECT_EQ(gReleases, 3);

    CFDictionaryKeyCallBacks kcb = kCFCopyStringDictionaryKeyCallBacks;
    CFMutableDictionaryRef   d =
        CFDictionaryCreateMutable(nullptr, 0, &kcb, &kCFTypeDictionaryValueCallBacks);
    CFMutableStringRef key = CFStringCreateMutable(nullptr, 0);
    CFStringAppend(key, CFSTR("k"));
    CFDictionarySetValue(d, key, CFSTR("v"));
    CFStringAppend(key, CFSTR("2")); // the dictionary kept its own copy
    EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("k")), CFSTR("v"));
    CFRelease(key);
    CFRelease(d);
}

CFComparisonResult CompareFirstChar(const void *a, const void *b, void *context)
{
    ++*static_cast<int *>(context);
    UniChar x = CFStringGetCharacterAtIndex(static_cast<CFStringRef>(a), 0);
    UniChar y = CFStringGetCharacterAtIndex(static_cast<CFStringRef>(b), 0);
    return x < y ? kCFCompareLessThan : (x > y ? kCFCompareGreaterThan : kCFCompareEqualTo);
}

TEST(Arrays, SortIsStableAndBinarySearchFindsTheInsertionPoint)
{
    const char16_t   *texts[] = {u"b1", u"a1", u"c1", u"a2", u"b2"};
    CFMutableArrayRef a       = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    for (auto *t : texts) {
        CFStringRef s = U(t);
        CFArrayAppendValue(a, s);
        CFRelease(s);
    }
    int calls = 0;
    CFArraySortValues(a, CFRangeMake(0, 5), CompareFirstChar, &calls);
    EXPECT_GT(calls, 0);
    std::vector<std::u16string> sorted;
    for (CFIndex i = 0; i < 5; ++i)
        sorted.push_back(Text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(a, i))));
    EXPECT_EQ(sorted, (std::vector<std::u16string>{u"a1", u"a2", u"b1", u"b2", u"c1"}));

    struct Case {
        const char16_t *probe;
        CFIndex         expected;
    } cases[] = {{u"a", 0}, {u"b", 2}, {u"bz", 2}, {u"c", 4}, {u"d", 5}, {u"0", 0}};
    for (const Case &c : cases) {
        CFStringRef probe = U(c.probe);
        EXPECT_EQ(CFArrayBSearchValues(a, CFRangeMake(0, 5), probe, CompareFirstChar, &calls),
                  c.expected);
        CFRelease(probe);
    }
    CFRelease(a);
}

TEST(Arrays, EditsKeepValuesAndCounts)
{
    CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    for (int i = 0; i < 10; ++i) {
        CFNumberRef n = N(i);
        CFArrayAppendValue(a, n);
        CFRelease(n);
    }
    CFNumberRef hundred = N(100);
    CFArrayInsertValueAtIndex(a, 0, hundred);
    CFArrayExchangeValuesAtIndices(a, 0, 10);
    const void *replacement[] = {hundred, hundred};
    CFArrayReplaceValues(a, CFRangeMake(1, 3), replacement, 2); // 0..2 become 100,100
    EXPECT_EQ(CFArrayGetCount(a), 10);
    EXPECT_EQ(CFArrayGetCountOfValue(a, CFRangeMake(0, 10), hundred), 3);
    EXPECT_EQ(CFArrayGetLastIndexOfValue(a, CFRangeMake(0, 10), hundred), 9);
    CFMutableArrayRef copy = CFArrayCreateMutableCopy(nullptr, 0, a);
    CFArrayAppendArray(copy, a, CFRangeMake(0, 2));
    EXPECT_EQ(CFArrayGetCount(copy), 12);
    CFArrayRef frozen = CFArrayCreateCopy(nullptr, a);
    EXPECT_TRUE(CFEqual(frozen, a));
    CFArrayRemoveAllValues(a);
    EXPECT_EQ(CFArrayGetCount(a), 0);
    EXPECT_EQ(CFArrayGetCount(frozen), 10);
    for (CFTypeRef o : {CFTypeRef(a), CFTypeRef(copy), CFTypeRef(frozen), CFTypeRef(hundred)})
        CFRelease(o);
}

TEST(DeepCopy, HonoursTheThreeMutabilityOptions)
{
    CFMutableDictionaryRef inner = NewDict();
    CFMutableStringRef     leaf  = CFStringCreateMutable(nullptr, 0);
    CFStringAppend(leaf, CFSTR("leaf"));
    CFDictionarySetValue(inner, CFSTR("s"), leaf);
    const void *values[] = {inner};
    CFArrayRef  root     = CFArrayCreate(nullptr, values, 1, &kCFTypeArrayCallBacks);

    struct Case {
        CFOptionFlags option;
        bool          mutableContainers;
        bool          mutableLeaves;
    } cases[] = {{kCFPropertyListImmutable, false, false},
                 {kCFPropertyListMutableContainers, true, false},
                 {kCFPropertyListMutableContainersAndLeaves, true, true}};
    for (const Case &c : cases) {
        auto copy = static_cast<CFArrayRef>(CFPropertyListCreateDeepCopy(nullptr, root, c.option));
        ASSERT_NE(copy, nullptr);
        EXPECT_TRUE(CFEqual(copy, root));
        auto copiedInner = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(copy, 0));
        EXPECT_NE(copiedInner, inner);
        auto copiedLeaf = static_cast<CFStringRef>(CFDictionaryGetValue(copiedInner, CFSTR("s")));
        EXPECT_NE(copiedLeaf, leaf);
        if (c.mutableContainers) {
            CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(copiedInner), CFSTR("t"),
                                 CFSTR("u"));
            EXPECT_EQ(CFDictionaryGetCount(copiedInner), 2);
        } else {
            EXPECT_DEATH(CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(copiedInner),
                                              CFSTR("t"), CFSTR("u")),
                         "immutable dictionary");
        }
        if (c.mutableLeaves) {
            CFStringAppend(const_cast<CFMutableStringRef>(copiedLeaf), CFSTR("!"));
            EXPECT_EQ(CFStringGetLength(copiedLeaf), 5);
        }
        CFRelease(copy);
    }
    CFStringAppend(leaf, CFSTR(" changed")); // the copies never shared the mutable leaf
    for (CFTypeRef o : {CFTypeRef(root), CFTypeRef(inner), CFTypeRef(leaf)})
        CFRelease(o);
}

TEST(Descriptions, NestedContainersInTheOldStyleShape)
{
    CFMutableDictionaryRef d       = NewDict();
    CFMutableArrayRef      list    = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFNumberRef            three   = N(3);
    UInt8                  bytes[] = {0, 1, 0xfe, 0xff, 7};
    CFDataRef              data    = CFDataCreate(nullptr, bytes, 5);
    CFArrayAppendValue(list, CFSTR("two words"));
    CFArrayAppendValue(list, three);
    CFDictionarySetValue(d, CFSTR("key"), CFSTR("value"));
    CFDictionarySetValue(d, CFSTR("list"), list);
    CFDictionarySetValue(d, CFSTR("data"), data);
    CFStringRef description = CFCopyDescription(d);
    EXPECT_EQ(Text(description), u"{\n    key = value;\n    list = (\n        \"two words\",\n"
                                 u"        3\n    );\n    data = <0001feff 07>;\n}");
    CFStringRef plain = CFCopyDescription(CFSTR("as is"));
    EXPECT_EQ(Text(plain), u"as is");
    for (CFTypeRef o : {CFTypeRef(d), CFTypeRef(list), CFTypeRef(three), CFTypeRef(data),
                        CFTypeRef(description), CFTypeRef(plain)})
        CFRelease(o);
}

} // namespace
