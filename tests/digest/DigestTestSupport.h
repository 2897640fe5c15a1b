// DigestTestSupport.h: what the builder tests share: whole-entity comparison,
// the fixture that sets the system version a test runs under, and the walk
// through injected allocation failures.
//
// An expected entity is a compact table of (key, value) rows; ExpectEntity
// builds the dictionary it describes and compares it with the built one by
// value, and also checks that every number in the built entity is a 32-bit
// integer (never a real, never a boolean). On a mismatch the message lists
// the missing, extra and differing keys.
#ifndef VZ_TESTS_DIGEST_DIGESTTESTSUPPORT_H
#define VZ_TESTS_DIGEST_DIGESTTESTSUPPORT_H

#include "TestSupport.h"

#include "SystemVersionTesting.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace vztest {

// One expected value: a 32-bit integer, a string, an array of strings, or
// data bytes.
struct Value {
    enum Kind { kInt, kText, kTexts, kBytes } kind = kInt;
    SInt32                   number                = 0;
    std::string              text;
    std::vector<std::string> texts;
    std::vector<UInt8>       bytes;
};

inline Value Int(SInt32 number)
{
    Value v;
    v.kind   = Value::kInt;
    v.number = number;
    return v;
}
inline Value Text(const char *text)
{
    Value v;
    v.kind = Value::kText;
    v.text = text;
    return v;
}
inline Value Texts(std::initializer_list<const char *> texts)
{
    Value v;
    v.kind = Value::kTexts;
    for (const char *t : texts)
        v.texts.emplace_back(t);
    return v;
}
inline Value Bytes(std::vector<UInt8> bytes)
{
    Value v;
    v.kind  = Value::kBytes;
    v.bytes = std::move(bytes);
    return v;
}

using Expected = std::vector<std::pair<CFStringRef, Value>>;

// Adds rows to a copy of base (a row for a key already there replaces it).
inline Expected With(Expected base, const Expected &more)
{
    for (const auto &row : more) {
        bool replaced = false;
        for (auto &existing : base) {
            if (CFEqual(existing.first, row.first)) {
                existing.second = row.second;
                replaced        = true;
            }
        }
        if (!replaced) base.push_back(row);
    }
    return base;
}

inline CFTypeRef CreateValue(const Value &v)
{
    switch (v.kind) {
    case Value::kInt:
        return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v.number);
    case Value::kText:
        return CFStringCreateWithCString(nullptr, v.text.c_str(), kCFStringEncodingUTF8);
    case Value::kTexts: {
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (const std::string &t : v.texts) {
            CFStringRef s = CFStringCreateWithCString(nullptr, t.c_str(), kCFStringEncodingUTF8);
            CFArrayAppendValue(array, s);
            CFRelease(s);
        }
        return array;
    }
    case Value::kBytes:
        return CFDataCreate(nullptr, v.bytes.data(), (CFIndex)v.bytes.size());
    }
    return nullptr;
}

inline std::string Describe(CFTypeRef value)
{
    if (value == nullptr) return "(absent)";
    CFStringRef description = CFCopyDescription(value);
    std::string text        = Utf8(description);
    CFRelease(description);
    return text;
}

// Every number inside value (recursing into arrays and dictionaries) must be
// an integer that fits 32 signed bits; booleans are refused.
inline void CheckNumberKinds(CFTypeRef value, const std::string &where, std::string &problems)
{
    CFTypeID type = CFGetTypeID(value);
    if (type == CFBooleanGetTypeID()) {
        problems += "  " + where + ": a boolean, expected a number\n";
    } else if (type == CFNumberGetTypeID()) {
        SInt32 fits = 0;
        if (CFNumberIsFloatType((CFNumberRef)value)) {
            problems += "  " + where + ": a real, expected an integer\n";
        } else if (!CFNumberGetValue((CFNumberRef)value, kCFNumberSInt32Type, &fits)) {
            problems += "  " + where + ": does not fit 32 signed bits\n";
        }
    } else if (type == CFArrayGetTypeID()) {
        for (CFIndex i = 0; i < CFArrayGetCount((CFArrayRef)value); i++) {
            CheckNumberKinds(CFArrayGetValueAtIndex((CFArrayRef)value, i),
                             where + "[" + std::to_string(i) + "]", problems);
        }
    } else if (type == CFDictionaryGetTypeID()) {
        CFIndex                   count = CFDictionaryGetCount((CFDictionaryRef)value);
        std::vector<const void *> keys((size_t)count), values((size_t)count);
        CFDictionaryGetKeysAndValues((CFDictionaryRef)value, keys.data(), values.data());
        for (size_t i = 0; i < keys.size(); i++) {
            CheckNumberKinds(values[i], where + "." + Utf8((CFStringRef)keys[i]), problems);
        }
    }
}

inline ::testing::AssertionResult ExpectEntity(CFDictionaryRef actual, const Expected &expected)
{
    if (actual == nullptr) return ::testing::AssertionFailure() << "no entity was built";

    CFMutableDictionaryRef want = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (const auto &row : expected) {
        CFTypeRef value = CreateValue(row.second);
        CFDictionarySetValue(want, row.first, value);
        CFRelease(value);
    }

    std::string problems;
    CheckNumberKinds(actual, "entity", problems);
    if (!CFEqual(actual, want)) {
        CFIndex                   count = CFDictionaryGetCount(want);
        std::vector<const void *> keys((size_t)count);
        CFDictionaryGetKeysAndValues(want, keys.data(), nullptr);
        for (const void *key : keys) {
            const void *have = CFDictionaryGetValue(actual, key);
            const void *need = CFDictionaryGetValue(want, key);
            if (have == nullptr || !CFEqual(have, need)) {
                problems += "  " + Utf8((CFStringRef)key) + ": expected " + Describe(need) +
                            ", got " + Describe(have) + "\n";
            }
        }
        count = CFDictionaryGetCount(actual);
        keys.assign((size_t)count, nullptr);
        CFDictionaryGetKeysAndValues(actual, keys.data(), nullptr);
        for (const void *key : keys) {
            if (!CFDictionaryContainsKey(want, key)) {
                problems += "  " + Utf8((CFStringRef)key) + ": unexpected key, value " +
                            Describe(CFDictionaryGetValue(actual, key)) + "\n";
            }
        }
        if (problems.empty()) problems = "  the entities differ\n";
    }
    CFRelease(want);
    if (problems.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "entity differs:\n" << problems;
}

// A temporary root whose system version the test chooses. The version is
// cached once asked, so setting it forgets the cached value.
class DigestTest : public TempRoot {
  protected:
    void SetSystemVersion(const char *productVersion)
    {
        WriteSystemVersion(productVersion);
        MoreSCTestingForgetSystemVersion();
    }
};

// Releases on either side of every version threshold the builders know.
inline const char *const kVersions[] = {"10.1", "10.2", "10.3", "10.3.4", "10.3.5", "10.4", "10.5"};

// Runs build (OSStatus (CFMutableDictionaryRef *)) once to warm the caches
// (the system version, the constant strings), then again with the n-th next
// allocation failing, for n = 0, 1, ... until it succeeds. Every failing run
// must return -4960 or -108, leave the out-parameter NULL and release all it
// made. Returns how many runs failed.
template <class Build> long WalkAllocationFailures(Build build)
{
    CFMutableDictionaryRef entity = nullptr;
    OSStatus               err    = build(&entity);
    EXPECT_EQ(err, noErr) << "the warm-up run failed";
    if (entity != nullptr) CFRelease(entity);
    for (long n = 0; n < 10000; n++) {
        entity         = nullptr;
        CFIndex before = VZGetLiveObjectCount();
        VZArmAllocationFailure(n, false);
        err = build(&entity);
        VZClearAllocationFailure();
        if (err == noErr) {
            EXPECT_GT(n, 0) << "succeeded although the first allocation failed";
            EXPECT_NE(entity, nullptr);
            if (entity != nullptr) CFRelease(entity);
            return n;
        }
        EXPECT_TRUE(err == -4960 || err == -108) << "run " << n << " returned " << err;
        EXPECT_EQ(entity, nullptr) << "run " << n << " handed out a result";
        EXPECT_EQ(VZGetLiveObjectCount(), before) << "run " << n << " leaked";
        if (entity != nullptr) CFRelease(entity);
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

} // namespace vztest

#endif
