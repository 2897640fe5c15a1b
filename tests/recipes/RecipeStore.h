// RecipeStore.h: what the recipe tests share: a current set with a service on
// each of the maker's modem ports (two on its data port) and one on Ethernet,
// a second set that must never be touched, the machine root of the demo, and
// a watch on the versions of the dynamic store the platform writes.
#ifndef VZ_TESTS_RECIPES_RECIPESTORE_H
#define VZ_TESTS_RECIPES_RECIPESTORE_H

#include "../scf/EditStore.h"
#include "MoreCFQ.h"

#include "Syscalls.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace recipes {

using edit::Entries;

inline std::string ModemInterface(const std::string &device)
{
    using namespace storetext;
    return Dict({{"DeviceName", Str(device)},
                 {"Hardware", Str("Modem")},
                 {"Type", Str("PPP")},
                 {"SubType", Str("PPPSerial")},
                 {"UserDefinedName", Str("ZORVEX Mobile")}});
}

inline std::string EthernetInterface(const std::string &device)
{
    using namespace storetext;
    return Dict({{"DeviceName", Str(device)},
                 {"Hardware", Str("Ethernet")},
                 {"Type", Str("Ethernet")},
                 {"UserDefinedName", Str("Ethernet")}});
}

// Current set S1, in this order: E (en0), M (the modem's data port,
// inactive), D and P (its diagnostics and control ports, active), M2 (a
// second service on the data port, active). S2 holds D2, another service on
// the diagnostics port, active.
inline std::string RecipeStore()
{
    using namespace storetext;
    Entries services = {
        {"E", Dict({{"AppleTalk", Dict({{"ConfigMethod", Str("Node")}})},
                    {"DNS", Dict({})},
                    {"IPv4", Dict({{"ConfigMethod", Str("DHCP")}})},
                    {"Interface", EthernetInterface("en0")},
                    {"UserDefinedName", Str("Ethernet")}})},
        {"M", Dict({{"DNS", Dict({{"ServerAddresses", Array({Str("10.0.0.53")})}})},
                    {"IPv4", Dict({{"ConfigMethod", Str("PPP")}})},
                    {"Interface", ModemInterface("ZORVEXMobile-Modem")},
                    {"Modem", Dict({{"ConnectionScript", Str("Old Script")}})},
                    {"PPP", Dict({{"CommRemoteAddress", Str("*99#")}})},
                    {"UserDefinedName", Str("ZORVEX Mobile")},
                    {"__INACTIVE__", Int(1)}})},
        {"D", Dict({{"Interface", ModemInterface("ZORVEXMobile-Diag")},
                    {"UserDefinedName", Str("Diagnostics")}})},
        {"P", Dict({{"Interface", ModemInterface("ZORVEXMobile-Pcui")},
                    {"UserDefinedName", Str("Control")}})},
        {"M2", Dict({{"Interface", ModemInterface("ZORVEXMobile-Modem")},
                     {"PPP", Dict({})},
                     {"UserDefinedName", Str("ZORVEX Mobile 2")}})},
        {"D2", Dict({{"Interface", ModemInterface("ZORVEXMobile-Diag")},
                     {"UserDefinedName", Str("Diagnostics elsewhere")}})},
    };
    Entries sets = {{"S1", edit::SetText("Home", {"E", "M", "D", "P", "M2"})},
                    {"S2", edit::SetText("Office", {"D2"})}};
    return edit::StoreText(services, sets);
}

// The demo machine's root, as checked in.
inline std::string DemoRoot()
{
    return std::string(VZ_TEST_DATA_DIR) + "/../../examples/root";
}

// The key under which the configuration agent publishes a service's IPv4
// entity.
inline std::string IPv4Key(const std::string &serviceID)
{
    return "Setup:/Network/Service/" + serviceID + "/IPv4";
}

// Every version of the dynamic store file that the platform puts in place, as
// the rename of its atomic write does so.
class DynamicStoreWrites {
  public:
    DynamicStoreWrites()
    {
        sWatched                  = this;
        original_                 = vz::sys::gSyscalls.rename;
        vz::sys::gSyscalls.rename = Rename;
    }
    ~DynamicStoreWrites()
    {
        vz::sys::gSyscalls.rename = original_;
        sWatched                  = nullptr;
    }
    DynamicStoreWrites(const DynamicStoreWrites &)            = delete;
    DynamicStoreWrites &operator=(const DynamicStoreWrites &) = delete;

    // For each version, whether it holds the key.
    std::vector<bool> Holding(const std::string &key) const
    {
        std::vector<bool> out;
        for (const std::string &text : versions_)
            out.push_back(Holds(text, key));
        return out;
    }

    static bool Holds(const std::string &xml, const std::string &key)
    {
        std::vector<std::string> keys = edit::Tree(xml).keys("");
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    }

  private:
    static int Rename(const char *from, const char *to)
    {
        static const std::string kName  = "/dynamic-store.plist";
        int                      result = sWatched->original_(from, to);
        std::string              target = to;
        if (result == 0 && target.size() > kName.size() &&
            target.compare(target.size() - kName.size(), kName.size(), kName) == 0) {
            sWatched->versions_.push_back(vztest::ReadFile(target));
        }
        return result;
    }

    static inline DynamicStoreWrites *sWatched   = nullptr;
    int (*original_)(const char *, const char *) = nullptr;
    std::vector<std::string> versions_;
};

// A test over RecipeStore(), on a 10.4.11 system.
class RecipeTest : public edit::EditTest {
  protected:
    void SetUp() override
    {
        EditTest::SetUp();
        Write(kStorePath, RecipeStore());
        SetSystemVersion("10.4.11");
    }

    // Replaces the root's files with the demo machine's.
    void UseDemoMachine()
    {
        std::filesystem::copy(DemoRoot(), root_,
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
        VZFlushPlatformCaches();
        SetSystemVersion("10.4.11");
    }
};

} // namespace recipes

#endif
