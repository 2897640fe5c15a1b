// IoregTest.cpp: vz-ioreg as a whole process: the tree, properties and class
// listings of a snapshot, the demo machine's ports as the README shows them,
// a live registry's ports and its capture as a snapshot, and one line on
// standard error for every error.
#include "FakeSysfs.h"
#include "RegistryText.h"
#include "RunTool.h"
#include "TestSupport.h"

#include <string>
#include <vector>

#ifndef VZ_VZ_IOREG_PATH
#error "the path of vz-ioreg is needed"
#endif

namespace {

using vztest::Data;
using vztest::Integer;
using vztest::Node;
using vztest::String;

const std::string kDemoRoot = std::string(VZ_TEST_DATA_DIR) + "/../../examples/root";

class Ioreg : public vztest::TempRoot {
  protected:
    vztest::ToolOutcome Run(std::vector<std::string> arguments,
                            const char              *stdoutPath = nullptr) const
    {
        arguments.insert(arguments.begin(), VZ_VZ_IOREG_PATH);
        return vztest::RunTool(arguments, root_, "", stdoutPath);
    }
};

TEST_F(Ioreg, TreePropertiesAndClasses)
{
    Node root("IORegistryEntry", "Root");
    root.Add(Node("IOPCIDevice", "card")
                 .Set("name", Data("radio", true))
                 .Add(Node("IOEthernetController")
                          .Set("IOClass", String("Card"))
                          .Add(Node("IO80211Interface", "en1")
                                   .Set("BSD Name", String("en1"))
                                   .Set("IOInterfaceType", Integer(6)))));
    Write(vztest::kRegistryPath, RegistryXml(root));

    vztest::ToolOutcome run = Run({"--root", root_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Root <IORegistryEntry>\n"
                       "  card <IOPCIDevice>\n"
                       "    IOEthernetController <IOEthernetController>\n"
                       "      en1 <IO80211Interface>\n");
    run = Run({"-l", "--root", root_});
    EXPECT_EQ(run.out, "Root <IORegistryEntry>\n"
                       "  card <IOPCIDevice>\n"
                       "    \"name\" = <6 bytes 726164696f00>\n"
                       "    IOEthernetController <IOEthernetController>\n"
                       "      \"IOClass\" = \"Card\"\n"
                       "      en1 <IO80211Interface>\n"
                       "        \"BSD Name\" = \"en1\"\n"
                       "        \"IOInterfaceType\" = 6\n");
    run = Run({"--root", root_, "-c", "IOEthernetInterface"});
    EXPECT_EQ(run.out, "en1 <IO80211Interface>\n"
                       "  \"BSD Name\" = \"en1\"\n"
                       "  \"IOInterfaceType\" = 6\n");
    EXPECT_EQ(Run({"--root", root_, "--ports"}).out, "AirPort\tAirPort\ten1\t-\t10\n");
}

TEST_F(Ioreg, TheDemoMachinesPorts)
{
    vztest::ToolOutcome run = Run({"--root", kDemoRoot, "--ports"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Internal Modem\tModem\tmodem\t-\t0\n"
                       "ZORVEX Mobile\tModem\tZORVEXMobile-Modem\t-\t1\n"
                       "ZORVEX Mobile\tModem\tZORVEXMobile-Diag\t-\t5\n"
                       "ZORVEX Mobile\tModem\tZORVEXMobile-Pcui\t-\t5\n"
                       "Built-in Ethernet\tEthernet\ten0\t02:5a:4f:10:00:01\t6\n"
                       "AirPort\tAirPort\ten1\t02:5a:4f:10:00:02\t10\n"
                       "Ethernet Adaptor (en2)\tEthernet\ten2\t02:5a:4f:10:00:03\t12\n");
}

// On a live root without a snapshot the registry is the machine's, here a
// dongle's sysfs tree; a capture of it is a snapshot that gives the same
// registry and ports, and captures again to the same bytes.
TEST_F(Ioreg, LiveRegistryAndItsCapture)
{
    vztest::FakeSysfs sys(Path("sys"));
    vztest::Dongle(sys);
    setenv("VAVIVAZ_SYSFS", sys.Folder().c_str(), 1);
    setenv("VAVIVAZ_LIVE", "1", 1);
    vztest::ToolOutcome ports = Run({"--ports"});
    EXPECT_EQ(ports.status, 0) << ports.err;
    EXPECT_EQ(ports.out, "ZORVEX Mobile Broadband\tModem\tttyUSB0\t-\t1\n"
                         "ZORVEX Mobile Broadband\tModem\tttyUSB1\t-\t1\n"
                         "ZORVEX Mobile Broadband\tModem\tttyUSB2\t-\t1\n");
    vztest::ToolOutcome live = Run({"-l"});
    EXPECT_NE(live.out.find("  1-1 <IOUSBDevice>\n"), std::string::npos) << live.out;

    std::string snapshot = Path("copy/") + vztest::kRegistryPath;
    Write(std::string("copy/") + vztest::kRegistryPath, "an older capture");
    EXPECT_EQ(Run({"--capture", snapshot}).status, 0);
    EXPECT_EQ(Run({"--root", Path("copy"), "-l"}).out, live.out);
    EXPECT_EQ(Run({"--root", Path("copy"), "--ports"}).out, ports.out);
    EXPECT_EQ(Run({"--root", Path("copy"), "--capture", Path("again.plist")}).status, 0);
    EXPECT_EQ(Read("again.plist"), vztest::ReadFile(snapshot));
}

// Names and texts are what the snapshot's writer, or a USB device describing
// itself in sysfs, chose: a C1 control (here CSI, which starts an escape
// sequence) and a right-to-left override are escaped in the tree, the
// properties and the port records.
TEST_F(Ioreg, HostileTextIsEscaped)
{
    const std::string hostile = "Evil\u009b2J\u202eModem";
    const std::string shown   = "Evil\\u009b2J\\u202eModem";
    Node              root("IORegistryEntry", "Root");
    root.Add(Node("IOService", hostile).Set("Label", String(hostile + " Büro")));
    Write("snapshot/" + std::string(vztest::kRegistryPath), RegistryXml(root));
    vztest::ToolOutcome tree = Run({"--root", Path("snapshot"), "-l"});
    EXPECT_EQ(tree.out, "Root <IORegistryEntry>\n  " + shown + " <IOService>\n    \"Label\" = \"" +
                            shown + " Büro\"\n");

    vztest::FakeSysfs sys(Path("sys"));
    sys.Tty(sys.UsbInterface(sys.UsbDevice("1-2", hostile), 0, "cdc_acm"), "ttyACM0");
    setenv("VAVIVAZ_SYSFS", sys.Folder().c_str(), 1);
    setenv("VAVIVAZ_LIVE", "1", 1);
    EXPECT_EQ(Run({"--ports"}).out, shown + "\tModem\tttyACM0\t-\t1\n");
    unsetenv("VAVIVAZ_LIVE");
}

TEST_F(Ioreg, EveryErrorIsOneLine)
{
    Node root;
    root.Add(Node("IOEthernetInterface").Set("IOInterfaceType", Integer(6)));
    Write("no-bsd-name/" + std::string(vztest::kRegistryPath), RegistryXml(root));
    Write("damaged/" + std::string(vztest::kRegistryPath),
          vztest::ReadFile(vztest::TestDataPath("ioregistry/child-string.plist")));
    struct Row {
        std::vector<std::string> arguments;
        int                      status;
        const char              *message;
        const char              *stdoutPath;
    };
    const Row rows[] = {
        {{"-x"}, 2, "unknown argument '-x'", nullptr},
        {{"extra"}, 2, "unknown argument 'extra'", nullptr},
        {{"-c"}, 2, "-c needs a value", nullptr},
        {{"-l", "--ports"}, 2, "exclude each other", nullptr},
        {{"--capture", Path("x"), "--ports"}, 2, "exclude each other", nullptr},
        {{"--capture"}, 2, "--capture needs a value", nullptr},
        {{"--capture", ""}, 2, "--capture needs a file name", nullptr},
        {{"--capture", Path("missing/x.plist")}, 1, "cannot write", nullptr},
        {{"--capture", root_}, 1, "cannot write", nullptr},
        {{"--root", Path("damaged"), "--capture", Path("x")},
         1,
         "cannot read the registry",
         nullptr},
        {{"--root", Path("missing")}, 1, "no such folder", nullptr},
        {{"--root", Path("damaged")}, 1, "cannot read the registry snapshot", nullptr},
        {{"--root", Path("damaged"), "-c", "IOService"}, 1, "cannot read the registry", nullptr},
        {{"--root", Path("damaged"), "--ports"},
         1,
         "cannot scan the ports: the device registry is damaged (error 0xe00002bc)",
         nullptr},
        {{"--root", Path("no-bsd-name"), "--ports"}, 1, "a port cannot be named", nullptr},
        {{"--root", kDemoRoot, "--ports"}, 1, "cannot write to standard output", "/dev/full"},
        {{"--help"}, 1, "cannot write to standard output", "/dev/full"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.message);
        vztest::ToolOutcome run = Run(row.arguments, row.stdoutPath);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.err.find("vz-ioreg: "), 0u) << run.err;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
    vztest::ToolOutcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.find("usage: vz-ioreg"), 0u);
    EXPECT_EQ(Run({"--version"}).status, 0);
    EXPECT_FALSE(Exists("x")); // no capture from a failed run
}

} // namespace
