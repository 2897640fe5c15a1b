// DefaultScriptTest.cpp: the default script: chosen by system version, the
// built-in modem's hold value and the compatibility flag; chosen once per
// process, again after it is forgotten, and not kept after a failed scan;
// the port scan only when the index is asked for; a client's default found
// without regard to case.
#include "ScriptTestSupport.h"

using namespace vztest;

namespace {

// Installed for every case, so that each default has an index of its own
// and "not installed" (0) is told apart.
const std::vector<std::string> kInstalled = {"A first script", "Internal 56K Modem (v.90)",
                                             "Internal 56K Modem (v.92)"};
constexpr CFIndex              kV90 = 1, kV92 = 2;

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
        std::string hold; // "-": no built-in modem
        bool        compatibility;
        CFIndex     expected;
    } rows[] = {
        {"10.3.9", Integer(1), false, kV92},
        {"10.3", Integer(1), false, kV92},
        {"10.3.9", Integer(0), false, kV90},
        {"10.3.9", "", false, kV90}, // no hold value at all
        {"10.3.9", Integer(2), false, kV90},
        {"10.3.9", Integer(4294967297), false, kV90}, // 1 only when cut to an int
        {"10.3.9", "-", false, kV90},                 // the USB modem's hold is not asked
        {"10.4", Integer(1), false, kV90},
        {"10.3.9", Integer(1), true, kV90},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.version) + " " + row.hold + " " +
                     std::to_string(row.compatibility));
        SetVersion(row.version);
        if (row.hold == "-")
            Write(kRegistryPath, RegistryXml(Node()));
        else
            ModemMachine(row.hold);
        gVaviVAZCCLScannerBugForBugCompatibility = row.compatibility;
        MoreSCSetDefaultCCL(NULL);
        EXPECT_EQ(DefaultIndex(), row.expected);
    }
}

TEST_F(DefaultScript, ChosenOnceByTheOnlyScanOfThePorts)
{
    SetVersion("10.3.9");
    // A serial port without "IOTTYDevice" fails the scan: the v.90 script
    // for that call, and nothing kept.
    Write(kRegistryPath,
          RegistryXml(Node().Add(Node("IOSerialBSDClient")
                                     .Set("IOSerialBSDClientType", String("IOModemSerialStream"))
                                     .Set("IOTTYBaseName", String("modem")))));
    EXPECT_EQ(DefaultIndex(), kV90);
    EXPECT_EQ(gDefaultCCL, nullptr);

    ModemMachine(Integer(1));
    VaviVAZSetPortNameCallback(CountPorts);
    EXPECT_EQ(Scripts(), kInstalled);
    EXPECT_EQ(gScannedPorts, 0);
    EXPECT_EQ(DefaultIndex(), kV92);
    EXPECT_EQ(gScannedPorts, 2);
    // The ports change; the choice made at the first call stays, unasked.
    ModemMachine(Integer(0));
    EXPECT_EQ(DefaultIndex(), kV92);
    EXPECT_EQ(gScannedPorts, 2);
    MoreSCSetDefaultCCL(NULL);
    EXPECT_EQ(DefaultIndex(), kV90);
    EXPECT_EQ(gScannedPorts, 4);
}

TEST_F(DefaultScript, AClientsDefaultIsFoundWithoutRegardToCase)
{
    AddScripts(kLocal, {"ZORVEX Mobile", "zorvex mobile", "Modem 10", "Zulu"});
    ASSERT_EQ(Scripts(), (std::vector<std::string>{"A first script", "Internal 56K Modem (v.90)",
                                                   "Internal 56K Modem (v.92)", "Modem 10",
                                                   "ZORVEX Mobile", "zorvex mobile", "Zulu"}));
    const std::pair<const char *, CFIndex> rows[] = {
        {"zorvex mobile", 4}, // the first of the case-only twins
        {"ZORVEX MOBILE", 4}, {"Modem 010", 3}, {"ZORVEX", 0}, {"Not installed", 0}, {"", 0},
    };
    for (const auto &[name, expected] : rows) {
        MoreSCSetDefaultCCL(Str(name));
        EXPECT_EQ(DefaultIndex(), expected) << name;
    }

    // The catalogue keeps its own reference, also when the same string is
    // set again while it holds the only one.
    CFStringRef name = CFStringCreateWithCString(NULL, "zulu", kCFStringEncodingUTF8);
    MoreSCSetDefaultCCL(name);
    CFRelease(name);
    MoreSCSetDefaultCCL(gDefaultCCL);
    EXPECT_EQ(DefaultIndex(), 6);
}

} // namespace
