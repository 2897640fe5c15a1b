// KeyPathsTest.cpp: values deep in nested dictionaries by key path (both
// path forms), the fresh copies a set or remove leaves on the path, the deep
// and shallow walks, and their assertion texts.
#include "TestSupport.h"

#include "MoreCFQ.h"

#include <functional>
#include <string>
#include <vector>

namespace {

using vztest::Utf8;

// A property list from XML text; the test fails when it does not parse.
CFPropertyListRef Tree(const std::string &body, CFOptionFlags mutability)
{
    std::string xml = "<plist version=\"1.0\">" + body + "</plist>";
    CFDataRef   data =
        CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(xml.data()), (CFIndex)xml.size());
    CFPropertyListRef tree = CFPropertyListCreateFromXMLData(nullptr, data, mutability, nullptr);
    CFRelease(data);
    EXPECT_NE(tree, nullptr) << body;
    return tree;
}

// A short text of a value for assertions: strings as they are, numbers in
// decimal, containers by their kind and count.
std::string Show(CFTypeRef value)
{
    if (value == nullptr) return "(null)";
    if (CFGetTypeID(value) == CFStringGetTypeID()) return Utf8((CFStringRef)value);
    if (CFGetTypeID(value) == CFNumberGetTypeID()) {
        SInt32 n = 0;
        CFNumberGetValue((CFNumberRef)value, kCFNumberSInt32Type, &n);
        return std::to_string(n);
    }
    if (CFGetTypeID(value) == CFDictionaryGetTypeID())
        return "dict" + std::to_string(CFDictionaryGetCount((CFDictionaryRef)value));
    if (CFGetTypeID(value) == CFArrayGetTypeID())
        return "array" + std::to_string(CFArrayGetCount((CFArrayRef)value));
    return "(other)";
}

// Splits "A/B/C" into constant-string keys (immortal, so never counted).
std::vector<const void *> Keys(const std::string &path)
{
    std::vector<const void *> keys;
    size_t                    start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        keys.push_back(__CFStringMakeConstantString(path.substr(start, end - start).c_str()));
        start = end + 1;
    }
    return keys;
}

class CFQKeyPathsTest : public vztest::TempRoot {
  protected:
    static constexpr const char *kSample =
        "<dict><key>A</key><string>text</string>"
        "<key>D</key><dict><key>K</key><integer>1</integer>"
        "<key>E</key><dict><key>L</key><integer>2</integer></dict>"
        "<key>Shared</key><array><string>x</string></array></dict></dict>";
};

TEST_F(CFQKeyPathsTest, GetFollowsBothPathFormsToTheValue)
{
    CFDictionaryRef dict = (CFDictionaryRef)Tree(kSample, kCFPropertyListImmutable);
    const struct {
        const char *path;
        OSStatus    err;
        const char *value;
    } rows[] = {
        {"A", noErr, "text"},    {"D/K", noErr, "1"},       {"D/E/L", noErr, "2"},
        {"D/E", noErr, "dict1"}, {"A/B", 5401, "(kept)"},   {"D/X", 5400, "(kept)"},
        {"X", 5400, "(kept)"},   {"D/K/Z", 5401, "(kept)"}, {"D/E/L/M", 5401, "(kept)"},
    };
    static const CFStringRef kept = CFSTR("(kept)");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        std::vector<const void *> keys  = Keys(row.path);
        const void               *value = kept;
        EXPECT_EQ(CFQDictionaryGetValueAtPath(dict, keys.data(), (CFIndex)keys.size(), &value),
                  row.err);
        EXPECT_EQ(Show(value), row.value);

        CFArrayRef array =
            CFArrayCreate(nullptr, keys.data(), (CFIndex)keys.size(), &kCFTypeArrayCallBacks);
        value = kept;
        EXPECT_EQ(CFQDictionaryGetValueAtPathArray(dict, array, &value), row.err);
        EXPECT_EQ(Show(value), row.value);
        CFRelease(array);
    }
    CFRelease(dict);
}

TEST_F(CFQKeyPathsTest, SetAndRemoveLeaveFreshCopiesOnThePath)
{
    const struct {
        const char *path;
        bool        remove;
        OSStatus    err;
        const char *after; // the value at the path afterwards
    } rows[] = {
        {"New", false, noErr, "new"},     {"A", false, noErr, "new"},
        {"D/E/L", false, noErr, "new"},   {"D/E/N", false, noErr, "new"},
        {"M/B", false, 5400, "(null)"},   {"A/B", false, 5401, "(null)"},
        {"D/E/L", true, noErr, "(null)"}, {"D/E/Z", true, 5400, "(null)"},
        {"D/X/Z", true, 5400, "(null)"},  {"A", true, noErr, "(null)"},
    };
    for (const auto &row : rows) {
        for (bool arrayForm : {false, true}) {
            SCOPED_TRACE(std::string(row.path) + (arrayForm ? " (array)" : "") +
                         (row.remove ? " remove" : " set"));
            CFMutableDictionaryRef dict =
                (CFMutableDictionaryRef)Tree(kSample, kCFPropertyListMutableContainers);
            CFDictionaryRef before = (CFDictionaryRef)CFDictionaryGetValue(dict, CFSTR("D"));
            CFRetain(before);
            CFDictionaryRef beforeE = (CFDictionaryRef)CFDictionaryGetValue(before, CFSTR("E"));
            CFTypeRef       shared  = CFDictionaryGetValue(before, CFSTR("Shared"));
            CFIndex         count   = CFDictionaryGetCount(dict);
            std::vector<const void *> keys = Keys(row.path);
            CFArrayRef                array =
                CFArrayCreate(nullptr, keys.data(), (CFIndex)keys.size(), &kCFTypeArrayCallBacks);
            CFIndex  n = (CFIndex)keys.size();
            OSStatus err;
            if (row.remove) {
                err = arrayForm ? CFQDictionaryRemoveValueAtPathArray(dict, array)
                                : CFQDictionaryRemoveValueAtPath(dict, keys.data(), n);
            } else {
                err = arrayForm ? CFQDictionarySetValueAtPathArray(dict, array, CFSTR("new"))
                                : CFQDictionarySetValueAtPath(dict, keys.data(), n, CFSTR("new"));
            }
            EXPECT_EQ(err, row.err);
            const void *value = nullptr;
            (void)CFQDictionaryGetValueAtPath(dict, keys.data(), n, &value);
            EXPECT_EQ(Show(value), row.after);

            // Nothing is created on a failed path; a path through D leaves a
            // new D (and E) while the old ones keep their contents, and
            // values off the path are shared, not copied.
            CFTypeRef nowD = CFDictionaryGetValue(dict, CFSTR("D"));
            bool      viaD = keys.size() > 1 && std::string(row.path).rfind("D/", 0) == 0;
            if (err != noErr && !viaD) {
                EXPECT_EQ(CFDictionaryGetCount(dict), count);
            }
            EXPECT_EQ(nowD != before, viaD);
            EXPECT_EQ(Show(CFDictionaryGetValue(beforeE, CFSTR("L"))), "2");
            EXPECT_EQ(CFDictionaryGetCount(beforeE), 1);
            if (nowD != nullptr) {
                EXPECT_EQ(CFDictionaryGetValue((CFDictionaryRef)nowD, CFSTR("Shared")), shared);
                CFTypeRef nowE = CFDictionaryGetValue((CFDictionaryRef)nowD, CFSTR("E"));
                EXPECT_EQ(nowE != beforeE, std::string(row.path).rfind("D/E/", 0) == 0);
            }
            CFRelease(array);
            CFRelease(before);
            CFRelease(dict);
        }
    }
}

TEST_F(CFQKeyPathsTest, WalksVisitInTheirOrder)
{
    struct Visits {
        std::vector<std::string> seen;
    };
    auto deep = [](CFTypeRef node, void *context) {
        ((Visits *)context)->seen.push_back(Show(node));
    };
    auto shallow = [](CFTypeRef key, CFTypeRef node, void *context) {
        ((Visits *)context)->seen.push_back(Show(key) + ":" + Show(node));
    };
    const struct {
        const char              *tree;
        std::vector<std::string> deep;
        std::vector<std::string> shallow;
    } rows[] = {
        {"<dict><key>list</key><array><string>a</string><string>b</string></array></dict>",
         {"dict1", "array2", "a", "b"},
         {"list:array2"}},
        {"<dict><key>b</key><integer>1</integer><key>a</key><integer>2</integer>"
         "<key>B</key><integer>3</integer></dict>",
         {"dict3", "1", "2", "3"},
         {"B:3", "a:2", "b:1"}},
        {"<array><string>x</string><dict/><string>z</string></array>",
         {"array3", "x", "dict0", "z"},
         {"0:x", "1:dict0", "2:z"}},
        {"<dict/>", {"dict0"}, {}},
        {"<string>leaf</string>", {"leaf"}, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.tree);
        CFPropertyListRef tree = Tree(row.tree, kCFPropertyListImmutable);
        Visits            visits;
        CFQPropertyListDeepApplyFunction(tree, deep, &visits);
        EXPECT_EQ(visits.seen, row.deep);
        EXPECT_EQ(CFQPropertyListIsLeaf(tree), row.deep.size() == 1 && row.shallow.empty() &&
                                                   std::string(row.tree) != "<dict/>");
        if (!CFQPropertyListIsLeaf(tree)) {
            visits.seen.clear();
            CFQPropertyListShallowApplyFunction(tree, shallow, &visits);
            EXPECT_EQ(visits.seen, row.shallow);
        }
        CFRelease(tree);
    }
}

// ---------------------------------------------------------------------------
// Assertion texts: one row per distinct text of the key paths and walks.

struct DeathRow {
    const char           *text;
    std::function<void()> provoke;
};

void NoVisit(CFTypeRef, void *) {}
void NoShallowVisit(CFTypeRef, CFTypeRef, void *) {}

TEST(CFQKeyPathsDeathTest, EveryPreconditionStopsWithItsText)
{
    static const void          *key  = CFSTR("key"); // immortal, so never counted as live
    const std::vector<DeathRow> rows = {
        {"path != NULL",
         [] {
             const void            *value = nullptr;
             CFMutableDictionaryRef dict  = nullptr;
             (void)CFQDictionaryCreateMutable(&dict);
             (void)CFQDictionaryGetValueAtPath(dict, nullptr, 1, &value);
         }},
        {"pathElementCount > 0",
         [] {
             CFMutableDictionaryRef dict = nullptr;
             (void)CFQDictionaryCreateMutable(&dict);
             (void)CFQDictionarySetValueAtPath(dict, &key, 0, key);
         }},
        // An empty array path is caught when its keys are copied.
        {"pathElementCount > 0",
         [] {
             CFMutableDictionaryRef dict = nullptr;
             CFArrayRef empty = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
             (void)CFQDictionaryCreateMutable(&dict);
             (void)CFQDictionaryRemoveValueAtPathArray(dict, empty);
         }},
        {"propList != NULL", [] { CFQPropertyListDeepApplyFunction(nullptr, NoVisit, nullptr); }},
        {"func != NULL", [] { CFQPropertyListShallowApplyFunction(CFSTR("x"), nullptr, nullptr); }},
        {"false",
         [] { CFQPropertyListShallowApplyFunction(CFSTR("leaf"), NoShallowVisit, nullptr); }},
    };
    for (const DeathRow &row : rows) {
        EXPECT_DEATH(row.provoke(), vztest::AssertionPattern(row.text)) << row.text;
    }
}

} // namespace
