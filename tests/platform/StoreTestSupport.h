// StoreTestSupport.h: what the preferences and dynamic store tests share: an
// owning reference, property lists from XML text, a fixture that writes and
// reads the stores of its temporary root, and an RAII guard for injected
// system call failures.
#ifndef VZ_TESTS_STORETESTSUPPORT_H
#define VZ_TESTS_STORETESTSUPPORT_H

#include "TestSupport.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTesting.h>

#include <dirent.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace vztest {

// Owns one reference; releases it at the end of the scope.
template <typename T> class Ref {
  public:
    Ref() = default;
    explicit Ref(T ref) : ref_(ref) {}
    Ref(Ref &&other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    Ref &operator=(Ref &&other) noexcept
    {
        std::swap(ref_, other.ref_);
        return *this;
    }
    Ref(const Ref &)            = delete;
    Ref &operator=(const Ref &) = delete;
    ~Ref()
    {
        if (ref_ != nullptr) CFRelease(ref_);
    }
    T        get() const { return ref_; }
             operator T() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

  private:
    T ref_ = nullptr;
};

// The tree of an XML property list, or NULL.
inline CFPropertyListRef CreatePlist(const std::string &xml)
{
    Ref<CFDataRef> data(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(xml.data()),
                                     static_cast<CFIndex>(xml.size())));
    return CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr);
}

// "<?xml ...><plist version="1.0">" + body + "</plist>".
inline std::string PlistText(const std::string &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
           "\n</plist>\n";
}

// The XML text of a tree, as the stores write it.
inline std::string XmlOf(CFPropertyListRef tree)
{
    Ref<CFDataRef> data(CFPropertyListCreateXMLData(nullptr, tree));
    if (!data) return std::string();
    return std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                       static_cast<size_t>(CFDataGetLength(data)));
}

// The names in a folder, "." and ".." left out.
inline std::vector<std::string> FolderNames(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

// Clears any armed system call failure at the end of the scope.
class SyscallFailure {
  public:
    SyscallFailure(const char *name, long countdown, bool persist, int error)
    {
        armed_ = VZArmSyscallFailure(name, countdown, persist, error);
    }
    ~SyscallFailure() { VZClearSyscallFailure(); }
    bool armed() const { return armed_; }

  private:
    bool armed_ = false;
};

class StoreTest : public TempRoot {
  protected:
    static constexpr const char *kStoreFolder = "Library/Preferences/SystemConfiguration";

    void        WriteStore(const std::string &body) const { Write(kStorePath, PlistText(body)); }
    std::string StoreBytes() const { return Read(kStorePath); }
    void        WriteDynamicStore(const std::string &body) const
    {
        Write(kDynamicStorePath, PlistText(body));
    }

    // A snapshot of the network store; fails the test when none is made.
    Ref<SCPreferencesRef> Open() const
    {
        Ref<SCPreferencesRef> prefs(SCPreferencesCreate(nullptr, CFSTR("test"), nullptr));
        EXPECT_TRUE(prefs) << "SCPreferencesCreate failed with " << SCError();
        return prefs;
    }

    // The tree the store file holds now (NULL when it does not parse).
    Ref<CFPropertyListRef> StoreTree() const
    {
        return Ref<CFPropertyListRef>(CreatePlist(StoreBytes()));
    }
    Ref<CFPropertyListRef> DynamicStoreTree() const
    {
        return Ref<CFPropertyListRef>(CreatePlist(Read(kDynamicStorePath)));
    }

    // The names in the store's folder other than the store, its lock and its
    // secrets.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> left;
        for (const std::string &name : FolderNames(Path(kStoreFolder))) {
            if (name != "preferences.plist" && name != "preferences.plist-lock" &&
                name != "preferences.plist-secrets")
                left.push_back(name);
        }
        return left;
    }

    struct stat StatStore() const
    {
        struct stat info {};
        stat(Path(kStorePath).c_str(), &info);
        return info;
    }
};

// The string value under key in dict, as UTF-8 ("(none)" when absent).
inline std::string StringAt(CFDictionaryRef dict, const char *key)
{
    if (dict == nullptr) return "(no dictionary)";
    Ref<CFStringRef> k(CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8));
    CFTypeRef        value = CFDictionaryGetValue(dict, k);
    if (value == nullptr) return "(none)";
    if (CFGetTypeID(value) != CFStringGetTypeID()) return "(not a string)";
    return Utf8(static_cast<CFStringRef>(value));
}

} // namespace vztest

#endif
