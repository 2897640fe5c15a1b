// DefaultScriptTest.cpp: the default script: chosen by system version, the
// built-in modem's hold value and the compatibility flag; chosen once per
// process and again after it is forgotten; set by a client and found without
// regard to case; and the port scan only when the index is asked for.
#include "ScriptTestSupport.h"

using namespace vztest;

namespace {

// Installed for every case, so that each default has an index of its own
// and "not installed" (0) is told apart.
const std::vector<std::string> kInstalled = {"A first script", "Internal 56K Modem (v.90)",
                                             "Internal 56K Modem (v.92)"};
constexpr CFIndex              kV90       = 1;
constexpr CFIndex              kV92       = 2;

int gScannedPorts = 0;

OSStatus CountPorts(io_object_t, CFMutableDictionaryRef, CFStringRef, CFStringRef *)
{
    gScannedPorts++;
    return noErr;
}

class DefaultScript : public ScriptRoot {
  protected:
    void SetUp() override
    {
        ScriptRoot::SetUp();
        AddScripts(kSystem, kInstalled);
    }
};

TEST_F(DefaultScript, ChosenByVersionHoldValueAndFlag)
{
    const struct {
        const char *version;
        std::string hold; // "-" for a machine without a built-in modem
        bool        compatibility;
        CFIndex     expected;
    } rows[] = {
        {"10.3.9", Integer(1), false, kV92},
        {"10.3", Integer(1), false, kV92},
        {"10.3.9", Integer(0), false, kV90},
        {"10.3.9", "", false, kV90}, // no hold value at all
        {"10.3.9", Integer(2), false, kV90},
        {"10.3.9", Integer(-1), false, kV90},
        {"10.3.9", Integer(4294967297), false, kV90}, // 1 only when cut to an int
        {"10.3.9", "-", false, kV90},                 // the USB modem's hold is not asked
        {"10.4", Integer(1), false, kV90},
        {"10.5.2", Integer(1), false, kV90},
        {"10.3.9", Integer(1), true, kV90},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.version) + " hold " + row.hold +
                     (row.compatibility ? " compatible" : ""));
        SetVersion(row.version);
        if (row.hold == "-") {
            Write(kRegistryPath, RegistryXml(Node()));
        } else {
            ModemMachine(row.hold);
        }
        gVaviVAZCCLScannerBugForBugCompatibility = row.compatibility;
        MoreSCSetDefaultCCL(NULL);
        EXPECT_EQ(DefaultIndex(), row.expected);
    }
}

TEST_F(DefaultScript, ChosenOnceUntilForgotten)
{
    SetVersion("10.3.9");
    ModemMachine(Integer(1));
    EXPECT_EQ(DefaultIndex(), kV92);
    // The ports change; the choice made at the first call stays.
    ModemMachine(Integer(0));
    EXPECT_EQ(DefaultIndex(), kV92);
    MoreSCSetDefaultCCL(NULL);
    EXPECT_EQ(DefaultIndex(), kV90);
}

TEST_F(DefaultScript, AFailedPortScanChoosesNothingForGood)
{
    SetVersion("10.3.9");
    // A serial port without "IOTTYDevice" fails the scan.
    Node root;
    root.Add(Node("IOSerialBSDClient")
                 .Set("IOSerialBSDClientType", String("IOModemSerialStream"))
                 .Set("IOTTYBaseName", String("modem")));
    Write(kRegistryPath, RegistryXml(root));
    EXPECT_EQ(DefaultIndex(), kV90);
    EXPECT_EQ(gDefaultCCL, nullptr);
    ModemMachine(Integer(1));
    EXPECT_EQ(DefaultIndex(), kV92);
}

TEST_F(DefaultScript, PortsScannedOnlyToChooseTheDefault)
{
    SetVersion("10.3.9");
    ModemMachine(Integer(1));
    VaviVAZSetPortNameCallback(CountPorts);
    EXPECT_EQ(Scripts(), kInstalled);
    EXPECT_EQ(gScannedPorts, 0);
    EXPECT_EQ(DefaultIndex(), kV92);
    EXPECT_EQ(gScannedPorts, 2);
    EXPECT_EQ(DefaultIndex(), kV92);
    EXPECT_EQ(gScannedPorts, 2);

    // From 10.4, or with the flag, the ports are never asked.
    for (bool compatibility : {false, true}) {
        SetVersion(compatibility ? "10.3.9" : "10.4.11");
        gVaviVAZCCLScannerBugForBugCompatibility = compatibility;
        MoreSCSetDefaultCCL(NULL);
        EXPECT_EQ(DefaultIndex(), kV90);
        EXPECT_EQ(gScannedPorts, 2);
    }
}

TEST_F(DefaultScript, ASetDefaultIsFoundWithoutRegardToCase)
{
    AddScripts(kLocal, {"ZORVEX Mobile", "zorvex mobile", "Modem 10", "Zulu"});
    const struct {
        const char *name;
        CFIndex     expected;
    } rows[] = {
        {"zorvex mobile", 4}, // the first of the case-only twins
        {"ZORVEX MOBILE", 4}, // not installed as such, found all the same
        {"zulu", 6},          {"modem 10", 3}, {"Modem 010", 3}, // numbers compare by value
        {"ZORVEX", 0},                                           // a prefix is not the name
        {"Not installed", 0}, {"", 0},
    };
    ASSERT_EQ(Scripts(), (std::vector<std::string>{"A first script", "Internal 56K Modem (v.90)",
                                                   "Internal 56K Modem (v.92)", "Modem 10",
                                                   "ZORVEX Mobile", "zorvex mobile", "Zulu"}));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        MoreSCSetDefaultCCL(Str(row.name));
        EXPECT_EQ(DefaultIndex(), row.expected);
    }
}

TEST_F(DefaultScript, TheCatalogueHoldsItsOwnReferenceToTheDefault)
{
    CFStringRef name = CFStringCreateWithCString(NULL, "Zulu", kCFStringEncodingUTF8);
    AddScript(kLocal, "Zulu");
    MoreSCSetDefaultCCL(name);
    CFRelease(name);
    EXPECT_EQ(DefaultIndex(), 3);
    // Set again while the catalogue holds the only reference.
    MoreSCSetDefaultCCL(gDefaultCCL);
    EXPECT_EQ(DefaultIndex(), 3);
}

TEST_F(DefaultScript, AnEmptyCatalogueHasIndexZero)
{
    RemoveFolders();
    SetVersion("10.3.9");
    ModemMachine(Integer(1));
    EXPECT_EQ(DefaultIndex(), 0);
}

} // namespace
