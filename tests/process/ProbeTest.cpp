// ProbeTest.cpp: the status probe as a whole process over temporary roots:
// its exit status for every connection state and every way of not finding
// the modem, real stores with a modem service added, the damaged-store
// corpus, a read-only root, and the demo machine. Every run also checks that
// the probe printed nothing, ended by exiting (never by a signal) and left
// every file under the root as it was.
#include "../scf/StoreText.h"

#include "RunAsUser.h"
#include "TestSupport.h"

#include <CoreFoundation/CoreFoundation.h>

#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef VZ_ZORVEX_MODEM_STATUS_PATH
#error "the probe's path is needed"
#endif

namespace fs = std::filesystem;
using namespace storetext;

namespace {

using vztest::Outcome;
using vztest::RunCommand;

constexpr const char *kModemPort = "ZORVEXMobile-Modem";

struct FileState {
    std::string bytes;
    long long   mtimeNs                                  = 0;
    bool        operator==(const FileState &other) const = default;
};

// Every file under a folder with its bytes and modification time.
std::map<std::string, FileState> Snapshot(const std::string &root)
{
    std::map<std::string, FileState> files;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat info {};
        if (lstat(entry.path().c_str(), &info) != 0) continue;
        FileState state;
        state.mtimeNs =
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
        if (S_ISREG(info.st_mode)) state.bytes = vztest::ReadFile(entry.path());
        files[entry.path().string()] = state;
    }
    return files;
}

class Probe : public vztest::TempRoot {
  protected:
    void UseStore(const std::string &xml) { Write(kStorePath, xml); }
    void UseDynamicStore(const std::string &xml) { Write(kDynamicStorePath, xml); }

    // The probe's exit status; fails the test when it printed anything, died
    // of a signal, or changed a file under the root.
    int RunProbe(const std::vector<std::string> &arguments = {}, int asUser = -1)
    {
        auto                     before  = Snapshot(root_);
        std::vector<std::string> command = {VZ_ZORVEX_MODEM_STATUS_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        Outcome outcome = RunCommand(root_, command, asUser);
        EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.status;
        EXPECT_EQ(outcome.output, "");
        EXPECT_TRUE(Snapshot(root_) == before) << "the probe changed a file under the root";
        return outcome.exited ? outcome.status : -1;
    }
};

// The demo's kind of set: Ethernet, wireless, the maker's two auxiliary ports,
// then the modem.
std::vector<Service> TypicalServices()
{
    return {{"ETH", "en0"},
            {"WIFI", "en1"},
            {"DIAG", "ZORVEXMobile-Diag"},
            {"PCUI", "ZORVEXMobile-Pcui"},
            {"MODEM", kModemPort}};
}

TEST_F(Probe, ExitStatusFollowsTheModemConnection)
{
    struct Case {
        Connection modem;
        int        exitStatus;
    };
    const Case kCases[] = {
        {{"MODEM", true, 2}, 0}, {{"MODEM", true, 0}, 1},    {{"MODEM", true, 1}, 2},
        {{"MODEM", true, 3}, 3}, {{"MODEM", true, -1}, 255}, {{"MODEM", true, 7}, 255},
        {{"MODEM", false}, 1}, // known to the controller, no state yet: disconnected
    };
    UseStore(Store(TypicalServices()));
    for (const Case &c : kCases) {
        // The auxiliary ports are connected: only the modem's state counts.
        UseDynamicStore(DynamicStore({{"DIAG"}, {"PCUI"}, c.modem}));
        EXPECT_EQ(RunProbe(), c.exitStatus) << "status " << c.modem.status;
    }
    UseDynamicStore(DynamicStore({{"MODEM", true, 2}}));
    EXPECT_EQ(RunProbe({"--verbose", "ignored"}), 0) << "arguments are not looked at";
}

TEST_F(Probe, NoModemConnectionMeans255)
{
    const std::vector<Service> noModem = {{"ETH", "en0"}, {"DIAG", "ZORVEXMobile-Diag"}};
    Service                    lower   = {"MODEM", "zorvexmobile-modem"};
    Service                    longer  = {"MODEM", "ZORVEXMobile-Modem2"};
    Service                    spaced  = {"MODEM", " ZORVEXMobile-Modem"};
    struct Case {
        const char *what;
        std::string store;   // empty: no store file
        std::string dynamic; // empty: no dynamic store file
    };
    const std::string connected = DynamicStore({{"ETH"}, {"DIAG"}, {"MODEM"}, {"OTHER"}});
    const Case        kCases[]  = {
                {"no modem service", Store(noModem), connected},
                {"name in lower case", Store({{"ETH", "en0"}, lower}), connected},
                {"name with a suffix", Store({{"ETH", "en0"}, longer}), connected},
                {"name with a leading space", Store({{"ETH", "en0"}, spaced}), connected},
                {"modem only in another set",
                 Store({{"S1", noModem, OrderOf(noModem)}, {"S2", {{"OTHER", kModemPort}}, {Str("OTHER")}}},
                       Str("/Sets/S1")),
                 connected},
                {"modem unknown to the connection controller", Store(TypicalServices()),
                 DynamicStore({{"ETH"}})},
                {"no dynamic store", Store(TypicalServices()), ""},
                {"empty order", Store({{"S1", TypicalServices(), {}}}, Str("/Sets/S1")), connected},
                {"no current set", Store({{"S1", TypicalServices(), OrderOf(TypicalServices())}}, ""),
                 connected},
                {"no service order", Store({{"S1", TypicalServices(), {}, false}}, Str("/Sets/S1")),
                 connected},
                {"no store", "", connected},
    };
    for (const Case &c : kCases) {
        fs::remove(Path(kStorePath));
        fs::remove(Path(kDynamicStorePath));
        if (!c.store.empty()) UseStore(c.store);
        if (!c.dynamic.empty()) UseDynamicStore(c.dynamic);
        EXPECT_EQ(RunProbe(), 255) << c.what;
    }

    // No IPv4 global entity at all.
    std::string store = Store(TypicalServices());
    std::string ipv4  = "<key>IPv4</key>";
    store.replace(store.find(ipv4), ipv4.size(), "<key>IPv6</key>");
    UseStore(store);
    UseDynamicStore(connected);
    EXPECT_EQ(RunProbe(), 255) << "no IPv4 global entity";
}

TEST_F(Probe, OnlyTheFirstModemServiceInTheOrderIsProbed)
{
    const std::vector<Service> twoModems = {{"ETH", "en0"}, {"M1", kModemPort}, {"M2", kModemPort}};
    UseStore(Store(twoModems));

    // M1 unknown to the controller: no answer, although M2 would give one.
    UseDynamicStore(DynamicStore({{"M2", true, 2}}));
    EXPECT_EQ(RunProbe(), 255);
    UseDynamicStore(DynamicStore({{"M1", true, 0}, {"M2", true, 2}}));
    EXPECT_EQ(RunProbe(), 1);

    // The order, not the services dictionary, decides which comes first.
    UseStore(Store({{"S1", twoModems, {Str("ETH"), Str("M2"), Str("M1")}}}, Str("/Sets/S1")));
    EXPECT_EQ(RunProbe(), 0);
}

TEST_F(Probe, NoConnectionObjectMeans255AndNoLaterServiceIsTried)
{
    // The entry "A/B" reaches the modem's service through a link nested in
    // the set's services, but no connection can be made for an ID with "/".
    const std::vector<Service> services = {{"ETH", "en0"}, {"MODEM", kModemPort}};
    std::string                store =
        Store({{"S1", services, {Str("ETH"), Str("A/B"), Str("MODEM")}}}, Str("/Sets/S1"));
    std::string links = "<key>Service</key><dict>";
    store.insert(store.find(links) + links.size(),
                 "<key>A</key>" +
                     Dict({{"B", Dict({{"__LINK__", Str("/NetworkServices/MODEM")}})}}));
    UseStore(store);
    UseDynamicStore(DynamicStore({{"MODEM", true, 2}}));
    EXPECT_EQ(RunProbe(), 255);
}

TEST_F(Probe, ServicesWhoseNameCannotBeReadAreSkipped)
{
    Service noInterface   = {"NOIF", "en3"};
    noInterface.interface = false;
    Service noName        = {"NONAME", ""};
    Service noLink        = {"NOLINK", kModemPort};
    noLink.linked         = false;
    UseStore(Store({noInterface, noName, noLink, {"MODEM", kModemPort}}));
    UseDynamicStore(DynamicStore({{"NOLINK", true, 2}, {"MODEM", true, 3}}));
    EXPECT_EQ(RunProbe(), 3);
}

TEST_F(Probe, AsksForTheIDTheSetListsEvenIfItsLinkPointsElsewhere)
{
    UseStore(Store({{"ETH", "en0"}, {"LOCAL", kModemPort, "SHARED"}}));
    UseDynamicStore(DynamicStore({{"LOCAL", true, 2}, {"SHARED", true, 3}}));
    EXPECT_EQ(RunProbe(), 0);
}

TEST_F(Probe, InactiveModemServiceIsStillProbed)
{
    std::string store = Store(TypicalServices());
    std::string name  = "<key>UserDefinedName</key><string>Service MODEM</string>";
    store.replace(store.find(name), 0, "<key>__INACTIVE__</key><integer>1</integer>");
    UseStore(store);
    UseDynamicStore(DynamicStore({{"MODEM", true, 1}}));
    EXPECT_EQ(RunProbe(), 2);
}

// A real machine's store with a modem service added to its current set,
// after the set's first service.
std::string WithModemService(const std::string &xml)
{
    CFDataRef data = CFDataCreate(NULL, reinterpret_cast<const UInt8 *>(xml.data()),
                                  static_cast<CFIndex>(xml.size()));
    auto      root = (CFMutableDictionaryRef)CFPropertyListCreateFromXMLData(
             NULL, data, kCFPropertyListMutableContainersAndLeaves, NULL);
    CFRelease(data);
    if (root == NULL) return "";

    CFStringRef setPath = (CFStringRef)CFDictionaryGetValue(root, CFSTR("CurrentSet"));
    CFArrayRef  parts   = CFStringCreateArrayBySeparatingStrings(NULL, setPath, CFSTR("/"));
    auto        set     = (CFMutableDictionaryRef)CFDictionaryGetValue(
                   (CFDictionaryRef)CFDictionaryGetValue(root, CFSTR("Sets")),
                   CFArrayGetValueAtIndex(parts, 2));
    CFRelease(parts);
    auto network = (CFMutableDictionaryRef)CFDictionaryGetValue(set, CFSTR("Network"));
    auto links   = (CFMutableDictionaryRef)CFDictionaryGetValue(network, CFSTR("Service"));
    auto order   = (CFMutableArrayRef)CFDictionaryGetValue(
          (CFDictionaryRef)CFDictionaryGetValue(
              (CFDictionaryRef)CFDictionaryGetValue(network, CFSTR("Global")), CFSTR("IPv4")),
          CFSTR("ServiceOrder"));

    CFStringRef            modemID = CFSTR("0D7A9D1E-6C4B-4F7E-9E51-2A6F0C5B9A11");
    CFMutableDictionaryRef link = CFDictionaryCreateMutable(NULL, 0, &kCFTypeDictionaryKeyCallBacks,
                                                            &kCFTypeDictionaryValueCallBacks);
    CFStringRef            target =
        CFStringCreateWithFormat(NULL, NULL, CFSTR("/NetworkServices/%@"), modemID);
    CFDictionarySetValue(link, CFSTR("__LINK__"), target);
    CFDictionarySetValue(links, modemID, link);
    CFArrayInsertValueAtIndex(order, 1, modemID);

    CFMutableDictionaryRef interface = CFDictionaryCreateMutable(
        NULL, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(interface, CFSTR("DeviceName"), CFSTR("ZORVEXMobile-Modem"));
    CFDictionarySetValue(interface, CFSTR("Type"), CFSTR("PPP"));
    CFMutableDictionaryRef service = CFDictionaryCreateMutable(
        NULL, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(service, CFSTR("Interface"), interface);
    CFDictionarySetValue(
        (CFMutableDictionaryRef)CFDictionaryGetValue(root, CFSTR("NetworkServices")), modemID,
        service);

    CFDataRef   out = CFPropertyListCreateXMLData(NULL, root);
    std::string text;
    if (out != NULL) {
        text.assign(reinterpret_cast<const char *>(CFDataGetBytePtr(out)),
                    static_cast<size_t>(CFDataGetLength(out)));
        CFRelease(out);
    }
    CFRelease(service);
    CFRelease(interface);
    CFRelease(target);
    CFRelease(link);
    CFRelease(root);
    return text;
}

TEST_F(Probe, RealStoresWithAModemServiceAdded)
{
    const std::string modemID = "0D7A9D1E-6C4B-4F7E-9E51-2A6F0C5B9A11";
    for (const char *name : {"plist/real-store-1.plist", "plist/real-store-2.plist"}) {
        std::string original = vztest::ReadFile(vztest::TestDataPath(name));
        ASSERT_FALSE(original.empty()) << name;
        UseDynamicStore(DynamicStore({{modemID, true, 2}}));

        UseStore(original);
        EXPECT_EQ(RunProbe(), 255) << name << " has no modem service of its own";

        std::string withModem = WithModemService(original);
        ASSERT_FALSE(withModem.empty()) << name;
        UseStore(withModem);
        EXPECT_EQ(RunProbe(), 0) << name;
        UseDynamicStore(DynamicStore({{modemID, true, 3}}));
        EXPECT_EQ(RunProbe(), 3) << name;
    }
}

TEST_F(Probe, DamagedStoresAnswer255)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(vztest::TestDataPath("probe"))) {
        if (entry.path().extension() == ".plist") names.push_back(entry.path().filename().string());
    }
    ASSERT_GT(names.size(), 40u);
    // Every service the corpus names is connected: a wrong road to the modem
    // would show as 0.
    UseDynamicStore(DynamicStore({{"ETH"}, {"MODEM"}, {"MODEM/Interface"}, {""}}));
    for (const std::string &name : names) {
        UseStore(vztest::ReadFile(vztest::TestDataPath("probe/" + name)));
        EXPECT_EQ(RunProbe(), name == "intact.plist" ? 0 : 255) << name;
    }
}

TEST_F(Probe, WorksOnAReadOnlyRoot)
{
    UseStore(Store(TypicalServices()));
    UseDynamicStore(DynamicStore({{"MODEM", true, 2}}));
    // As root, permissions alone prove nothing: run as an unprivileged user.
    int asUser = (geteuid() == 0) ? 65534 : -1;
    for (const auto &entry : fs::recursive_directory_iterator(root_)) {
        fs::permissions(entry.path(),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    EXPECT_EQ(RunProbe({}, asUser), 0);
}

TEST_F(Probe, DemoMachineIsConnected)
{
    fs::copy(std::string(VZ_TEST_DATA_DIR) + "/../../examples/root", root_,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    EXPECT_EQ(RunProbe(), 0);
}

#ifdef VZ_VZ_SCUTIL_PATH
TEST_F(Probe, AnswerFollowsTheStateSetWithScutil)
{
    UseStore(Store(TypicalServices()));
    UseDynamicStore(DynamicStore({{"MODEM", true, 2}}));
    struct Case {
        const char *state;
        int         exitStatus;
    };
    const Case kCases[] = {
        {"disconnected", 1}, {"connecting", 2}, {"disconnecting", 3}, {"connected", 0}};
    for (const Case &c : kCases) {
        Outcome set = RunCommand(root_, {VZ_VZ_SCUTIL_PATH, "--nc", "set", "MODEM", c.state});
        ASSERT_TRUE(set.exited && set.status == 0) << set.output;
        EXPECT_EQ(RunProbe(), c.exitStatus) << c.state;
    }
}
#endif

} // namespace
