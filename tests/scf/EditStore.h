// EditStore.h: what the editing tests share: a small store of two sets that
// share a service, the store file read back as a tree after the outermost
// close, and the file's bytes and modification time for "nothing was
// committed" checks.
#ifndef VZ_TESTS_SCF_EDITSTORE_H
#define VZ_TESTS_SCF_EDITSTORE_H

#include "RegistryText.h"
#include "StoreText.h"
#include "SystemVersionTesting.h"
#include "TestSupport.h"
#include "VaviVAZ.h"

#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace edit {

using Entries = std::vector<std::pair<std::string, std::string>>;
using vztest::IsPlatformMiss;
using vztest::Out;
using vztest::Strings;

inline std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// ---------------------------------------------------------------------------
// Store text.

inline std::string Link(const std::string &serviceID)
{
    return storetext::Dict({{"__LINK__", storetext::Str("/NetworkServices/" + serviceID)}});
}

// A set whose services are linked under their own IDs, listed in order.
inline std::string SetText(const std::string &name, const std::vector<std::string> &order,
                           const Entries &extraGlobals = {})
{
    using namespace storetext;
    Entries                  links;
    std::vector<std::string> orderText;
    for (const auto &id : order) {
        links.push_back({id, Link(id)});
        orderText.push_back(Str(id));
    }
    Entries globals = {
        {"IPv4", Dict({{"PPPOverridePrimary", Int(0)}, {"ServiceOrder", Array(orderText)}})}};
    globals.insert(globals.end(), extraGlobals.begin(), extraGlobals.end());
    return Dict({{"Network", Dict({{"Global", Dict(globals)}, {"Service", Dict(links)}})},
                 {"UserDefinedName", Str(name)}});
}

// Shared services: A (Ethernet, active), B (modem, inactive), C (AirPort,
// whose IPv4 entity is inactive).
inline Entries StandardServices()
{
    using namespace storetext;
    return {
        {"A", Dict({{"DNS", Dict({{"ServerAddresses", Array({Str("10.0.0.1")})}})},
                    {"IPv4", Dict({{"ConfigMethod", Str("DHCP")}})},
                    {"Interface", Dict({{"DeviceName", Str("en0")}, {"Type", Str("Ethernet")}})},
                    {"UserDefinedName", Str("Built-in Ethernet")}})},
        {"B", Dict({{"Interface", Dict({{"DeviceName", Str("modem")}, {"Type", Str("PPP")}})},
                    {"Modem", Dict({{"ConnectionScript", Str("Generic")}})},
                    {"PPP", Dict({{"DialOnDemand", Int(0)}})},
                    {"UserDefinedName", Str("Internal Modem")},
                    {"__INACTIVE__", Int(1)}})},
        {"C", Dict({{"IPv4", Dict({{"ConfigMethod", Str("DHCP")}, {"__INACTIVE__", Int(1)}})},
                    {"Interface", Dict({{"DeviceName", Str("en1")}, {"Type", Str("Ethernet")}})},
                    {"UserDefinedName", Str("AirPort")}})},
    };
}

// S1 "Home" (current): A, B. S2 "Office": C, A. A is shared by both.
inline Entries StandardSets()
{
    using namespace storetext;
    return {
        {"S1", SetText("Home", {"A", "B"},
                       {{"NetInfo", Dict({{"BindingMethods", Array({Str("DHCP")})}})}})},
        {"S2", SetText("Office", {"C", "A"})},
    };
}

// The standard sets and S3, whose link for Y holds a number where the path
// of a service belongs: what it refers to is unknown, and every sweep of
// shared services fails on it (-4960).
inline Entries SetsThatNoSweepGetsThrough()
{
    using namespace storetext;
    Entries sets = StandardSets();
    sets.push_back(
        {"S3",
         Dict({{"Network",
                Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder", Array({Str("Y")})}})}})},
                      {"Service", Dict({{"Y", Dict({{"__LINK__", Int(7)}})}})}})},
               {"UserDefinedName", Str("Broken")}})});
    return sets;
}

inline std::string StoreText(const Entries &services, const Entries &sets,
                             const std::string &currentSetID = "S1")
{
    using namespace storetext;
    Entries root;
    if (!currentSetID.empty()) root.push_back({"CurrentSet", Str("/Sets/" + currentSetID)});
    root.push_back({"NetworkServices", Dict(services)});
    root.push_back({"Sets", Dict(sets)});
    return Document(Dict(root));
}

inline std::string StandardStore()
{
    return StoreText(StandardServices(), StandardSets());
}

// A property-list value made from its XML text (dictionaries, arrays and
// the like), released with the object.
class Plist {
  public:
    explicit Plist(const std::string &xmlValue)
    {
        std::string text = storetext::Document(xmlValue);
        CFDataRef   data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(text.data()),
                                        static_cast<CFIndex>(text.size()));
        value_           = CFPropertyListCreateFromXMLData(nullptr, data, 0, nullptr);
        CFRelease(data);
    }
    ~Plist()
    {
        if (value_ != nullptr) CFRelease(value_);
    }
    Plist(const Plist &)            = delete;
    Plist &operator=(const Plist &) = delete;

    CFDictionaryRef dict() const { return static_cast<CFDictionaryRef>(value_); }
    CFArrayRef      array() const { return static_cast<CFArrayRef>(value_); }

  private:
    CFPropertyListRef value_ = nullptr;
};

// ---------------------------------------------------------------------------
// The store file read back.

// The tree of a store file's text; paths are "/"-separated keys from the
// root, links not followed.
class Tree {
  public:
    explicit Tree(const std::string &xml)
    {
        CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(xml.data()),
                                      static_cast<CFIndex>(xml.size()));
        root_          = CFPropertyListCreateFromXMLData(nullptr, data, 0, nullptr);
        CFRelease(data);
    }
    ~Tree()
    {
        if (root_ != nullptr) CFRelease(root_);
    }
    Tree(const Tree &)            = delete;
    Tree &operator=(const Tree &) = delete;

    bool parsed() const { return root_ != nullptr; }

    CFTypeRef at(const std::string &path) const
    {
        CFTypeRef   node  = root_;
        std::size_t start = 0;
        while (node != nullptr && start < path.size()) {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos) end = path.size();
            if (CFGetTypeID(node) != CFDictionaryGetTypeID()) return nullptr;
            vztest::Str key(path.substr(start, end - start).c_str());
            node  = CFDictionaryGetValue(static_cast<CFDictionaryRef>(node), key);
            start = end + 1;
        }
        return node;
    }
    bool has(const std::string &path) const { return at(path) != nullptr; }

    // The text of a string; "(none)" when absent or not a string.
    std::string text(const std::string &path) const
    {
        CFTypeRef node = at(path);
        if (node == nullptr || CFGetTypeID(node) != CFStringGetTypeID()) return "(none)";
        return vztest::Utf8(static_cast<CFStringRef>(node));
    }

    // The value of an integer; -999 when absent or not a number.
    long long integer(const std::string &path) const
    {
        CFTypeRef node  = at(path);
        long long value = -999;
        if (node == nullptr || CFGetTypeID(node) != CFNumberGetTypeID()) return value;
        CFNumberGetValue(static_cast<CFNumberRef>(node), kCFNumberLongLongType, &value);
        return value;
    }

    // The keys of a dictionary, sorted; the strings of an array, in order.
    std::vector<std::string> keys(const std::string &path) const
    {
        std::vector<std::string> out;
        CFTypeRef                node = at(path);
        if (node == nullptr || CFGetTypeID(node) != CFDictionaryGetTypeID()) return out;
        CFDictionaryRef           dict = static_cast<CFDictionaryRef>(node);
        std::vector<const void *> k(static_cast<std::size_t>(CFDictionaryGetCount(dict)));
        CFDictionaryGetKeysAndValues(dict, k.data(), nullptr);
        for (const void *key : k)
            out.push_back(vztest::Utf8(static_cast<CFStringRef>(key)));
        return Sorted(out);
    }
    std::vector<std::string> strings(const std::string &path) const
    {
        CFTypeRef node = at(path);
        if (node == nullptr || CFGetTypeID(node) != CFArrayGetTypeID()) return {"(none)"};
        return Strings(static_cast<CFArrayRef>(node));
    }

    // The service order of a set.
    std::vector<std::string> order(const std::string &setID) const
    {
        return strings("Sets/" + setID + "/Network/Global/IPv4/ServiceOrder");
    }

  private:
    CFPropertyListRef root_ = nullptr;
};

// The bytes and modification time of a file, to tell that nothing was
// written to it.
struct FileStamp {
    std::string bytes;
    long long   mtimeNs = -1;

    static FileStamp Of(const std::string &path)
    {
        FileStamp   stamp;
        struct stat st = {};
        stamp.bytes    = vztest::ReadFile(path);
        if (stat(path.c_str(), &st) == 0) {
            stamp.mtimeNs =
                static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        }
        return stamp;
    }
    bool operator==(const FileStamp &other) const
    {
        return bytes == other.bytes && mtimeNs == other.mtimeNs;
    }
};

// A test over the standard store.
class EditTest : public vztest::TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        Write(kStorePath, StandardStore());
    }

    std::string StorePath() const { return Path(kStorePath); }
    FileStamp   Stamp() const { return FileStamp::Of(StorePath()); }
    std::string StoreXML() const { return Read(kStorePath); }

    // A device registry whose root holds these devices, in this order.
    void Machine(const std::vector<vztest::Node> &devices) const
    {
        vztest::Node root;
        for (const vztest::Node &device : devices)
            root.Add(device);
        Write(vztest::kRegistryPath, vztest::RegistryXml(root));
    }

    // Makes the platform report this system version from now on.
    void SetSystemVersion(const std::string &productVersion)
    {
        using namespace storetext;
        Write(kSystemVersionPath, Document(Dict({{"ProductVersion", Str(productVersion)}})));
        // Asked now, so that an allocation failure armed later cannot meet
        // the reading of the version file.
        MoreSCTestingForgetSystemVersion();
        (void)MoreSCGetSystemVersion();
    }
};

} // namespace edit

#endif
