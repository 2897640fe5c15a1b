// TestSupport.h: what every suite shares: a temporary root per test, the
// live-object bookkeeping, and the pattern of an assertion message for death
// tests.
#ifndef VZ_TESTS_TESTSUPPORT_H
#define VZ_TESTS_TESTSUPPORT_H

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTesting.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vztest {

// The regular expression (POSIX extended) that matches the message of a
// failed assertion on exactly this expression text.
std::string AssertionPattern(const std::string &expressionText);

// Reads a whole file; an empty string when it cannot.
std::string ReadFile(const std::string &path);
// Writes a whole file, making missing folders; fails the test when it cannot.
void        WriteFile(const std::string &path, const std::string &contents);
std::string TestDataPath(const std::string &name);

// A fresh root folder for each test, set as VAVIVAZ_ROOT for the test's
// length, and removed afterwards (VAVIVAZ_ROOT is then what it was). TearDown also checks that every object made
// during the test was released.
class TempRoot : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Absolute path of a file or folder under the root.
    std::string Path(const std::string &relative) const;
    void        Write(const std::string &relative, const std::string &contents) const;
    std::string Read(const std::string &relative) const;
    bool        Exists(const std::string &relative) const;
    // Writes the root's SystemVersion.plist with this ProductVersion. The
    // library caches the version it reads: forget it after a change.
    void WriteSystemVersion(const char *productVersion) const;

    // The network preferences store and the dynamic store of this root.
    static constexpr const char *kStorePath =
        "Library/Preferences/SystemConfiguration/preferences.plist";
    static constexpr const char *kDynamicStorePath =
        "var/run/SystemConfiguration/dynamic-store.plist";
    static constexpr const char *kSystemVersionPath =
        "System/Library/CoreServices/SystemVersion.plist";

    std::string root_;

  private:
    CFIndex     liveAtStart_ = 0;
    std::string savedRoot_; // VAVIVAZ_ROOT before the test, put back after it
};

// A string for test code, released at the end of the full expression.
class Str {
  public:
    explicit Str(const char *utf8)
        : ref_(CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8))
    {
    }
    ~Str() { CFRelease(ref_); }
    Str(const Str &)                   = delete;
    Str        &operator=(const Str &) = delete;
                operator CFStringRef() const { return ref_; }
    CFStringRef get() const { return ref_; }

  private:
    CFStringRef ref_;
};

// The UTF-8 text of a string, for assertions.
std::string Utf8(CFStringRef s);

// The UTF-8 texts of an array of strings (empty for NULL).
std::vector<std::string> Strings(CFArrayRef array);

// An out-value of the library under test: pass put() where the library wants
// a pointer to NULL; what it hands out is released when the test is done.
template <typename T> class Out {
  public:
    Out() = default;
    ~Out() { reset(); }
    Out(const Out &)            = delete;
    Out &operator=(const Out &) = delete;
    T   *put() { return &ref_; }
    T    get() const { return ref_; }
    void reset()
    {
        if (ref_ != nullptr) CFRelease(ref_);
        ref_ = nullptr;
    }

  private:
    T ref_ = nullptr;
};

// A failure the platform's store reports for a missing value: nothing at the
// path (1004), or a failure without a status (1001).
inline bool IsPlatformMiss(OSStatus err)
{
    return err == kSCStatusNoKey || err == kSCStatusFailed;
}

} // namespace vztest

#endif
