// AtomicChangeTest.cpp: vz-netsetup's changes run in this process with an
// object creation failing at every point in turn: each run either makes its
// whole change or fails with exit status 1 and leaves the bytes of both the
// store and the running system's dynamic store as they were, never half of a
// change and never an apply, and nothing leaks. (A change saved whose apply
// then failed is reported as such.) A command that fails after a recipe kept
// some of its steps applies nothing either. A DHCP release, which commits
// twice by design, ends with the service as it was.
#include "Run.h"

#include "TestSupport.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

class AtomicChange : public vztest::TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        fs::copy(vztest::TestDataPath("../../examples/root"), root_,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    netsetup::Outcome Run(const Args &args) const
    {
        std::vector<const char *> argv{"vz-netsetup"};
        for (const std::string &arg : args)
            argv.push_back(arg.c_str());
        return netsetup::Run(static_cast<int>(argv.size()), argv.data());
    }

    // The demo's store with a change the running system has not been told
    // of (Ethernet's FTP passive mode off), so that any apply rewrites the
    // dynamic store; and with AppleTalk entities on Ethernet (switched off)
    // and on AirPort (on), so that AppleTalk is on and either switch changes.
    std::string UnappliedDemo() const
    {
        std::string text = Read(kStorePath);
        for (auto [from, to] : {std::pair<std::string, std::string>{
                                    "<key>FTPPassive</key>\n\t\t\t\t<integer>1</integer>",
                                    "<key>FTPPassive</key><integer>0</integer>"},
                                {"<key>DNS</key>\n\t\t\t<dict/>",
                                 "<key>AppleTalk</key><dict><key>ConfigMethod</key><string>Node"
                                 "</string><key>__INACTIVE__</key><integer>1</integer></dict>"
                                 "<key>DNS</key><dict/>"},
                                {"<key>AirPort</key>\n\t\t\t<dict>",
                                 "<key>AppleTalk</key><dict><key>ConfigMethod</key><string>Node"
                                 "</string></dict><key>AirPort</key><dict>"}}) {
            size_t at = text.find(from);
            EXPECT_NE(at, std::string::npos) << from;
            if (at != std::string::npos) text.replace(at, from.size(), to);
        }
        return text;
    }
};

TEST_F(AtomicChange, AllOrNothingWhateverFails)
{
    struct Row {
        Args args;
        bool newIDs; // the change makes new IDs, so no two runs store the same
    };
    const Row rows[] = {
        {{"location", "create", "Home"}, true},
        {{"location", "duplicate", "Automatic", "Copy"}, true},
        {{"location", "delete", "Office"}, false},
        {{"location", "switch", "Office"}, false},
        {{"location", "rename", "Office", "Work"}, false},
        {{"service", "duplicate", "Ethernet", "Copy"}, true},
        // No "service add": it needs the registry's ports, which these runs lack.
        {{"service", "delete", "AirPort"}, false},
        {{"service", "rename", "AirPort", "Wireless"}, false},
        {{"service", "disable", "Ethernet"}, false},
        {{"service", "enable", "ZORVEX Mobile (control)"}, false},
        {{"service", "ipv4", "Ethernet", "manual", "10.0.0.2", "255.255.255.0", "10.0.0.1"}, false},
        {{"service", "dns", "Ethernet", "192.0.2.53", "--search", "example.com"}, false},
        {{"service", "proxy", "ZORVEX Mobile", "http", "proxy.example.com", "8080"}, false},
        {{"service", "order", "ZORVEX Mobile"}, false},
        // The ports come from the services (the machine's registry is gone,
        // see below).
        {{"dialup", "ZORVEXMobile-Modem", "--phone", "*99#", "--account", "web", "--password-file",
          Path("password"), "--script", "ZORVEX Mobile 2"},
         false},
        {{"pppoe", "en0", "--account", "joe"}, false},
        {{"appletalk", "on"}, false},
        {{"appletalk", "off"}, false},
    };
    Write("password", "s3cret\n");
    // The port scanner stops the process on an allocation failure of its own
    // (a sort value it cannot store), so the commands run on a machine whose
    // registry lists no port.
    fs::remove(Path("var/run/SystemConfiguration/ioregistry.plist"));
    const std::string demo    = UnappliedDemo();
    const std::string running = Read(kDynamicStorePath);
    for (const auto &[args, newIDs] : rows) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        Write(kStorePath, demo);
        ASSERT_EQ(Run(args).status, 0);
        const std::string changed = Read(kStorePath);
        ASSERT_FALSE(changed == demo) << "a row that changes nothing tests nothing";
        long failedRuns = 0;
        for (long countdown = 0;; countdown++) {
            ASSERT_LT(countdown, 20000) << "never ran to the end";
            Write(kStorePath, demo);
            Write(kDynamicStorePath, running);
            VZArmAllocationFailure(countdown, false);
            netsetup::Outcome outcome = Run(args);
            long              failed  = VZGetAllocationFailureCount();
            VZClearAllocationFailure();
            // A change that was saved but could not be applied says so.
            bool saved = outcome.err.find("the change was saved") != std::string::npos;
            if (outcome.status != 0) {
                failedRuns++;
                ASSERT_EQ(outcome.status, 1) << countdown << ": " << outcome.err;
                ASSERT_EQ(Read(kStorePath) == demo, !saved) << countdown << ": " << outcome.err;
                if (!saved) {
                    ASSERT_TRUE(Read(kDynamicStorePath) == running)
                        << countdown << ": " << outcome.err;
                }
            }
            if (outcome.status == 0 || saved) {
                // Whatever failed on the way was dealt with, not passed over.
                if (newIDs)
                    ASSERT_FALSE(Read(kStorePath) == demo) << countdown << ": " << outcome.out;
                else
                    ASSERT_TRUE(Read(kStorePath) == changed) << countdown << ": " << outcome.out;
            }
            if (failed == 0) break; // the whole run went by without a failure
        }
        EXPECT_GT(failedRuns, 0);
    }
}

// A recipe keeps the steps that went well before a later one failed, and the
// command may fail after a recipe succeeded: on a location whose stored
// configuration differs from the running one, such a failure still leaves
// both stores as they were.
TEST_F(AtomicChange, FailedCommandAppliesNothing)
{
    ASSERT_EQ(Run({"location", "create", "Lab", "--from-ports"}).status, 0);
    ASSERT_EQ(Run({"location", "switch", "Lab"}).status, 0);
    for (const char *service : {"Built-in Ethernet", "AirPort", "Ethernet Adaptor (en2)"})
        ASSERT_EQ(Run({"service", "disable", service}).status, 0) << service;
    // Stored, not applied.
    const std::string running = Read(kDynamicStorePath);
    ASSERT_EQ(Run({"service", "ipv4", "Internal Modem", "dhcp"}).status, 0);
    Write(kDynamicStorePath, running);

    const std::string stored = Read(kStorePath);
    // AppleTalk's entities are switched on, but no active service has one.
    netsetup::Outcome outcome = Run({"appletalk", "on"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("cannot be switched on"), std::string::npos) << outcome.err;
    EXPECT_TRUE(Read(kStorePath) == stored);
    EXPECT_TRUE(Read(kDynamicStorePath) == running);
}

// The release commits twice, outside any session of the command: whatever
// fails, the service ends with its IPv4 on, as it was (a failure after the
// first commit switches it on again), and nothing leaks.
TEST_F(AtomicChange, DHCPReleaseEndsWithIPv4On)
{
    const std::string demo       = Read(kStorePath);
    long              failedRuns = 0;
    for (long countdown = 0;; countdown++) {
        ASSERT_LT(countdown, 20000) << "never ran to the end";
        VZArmAllocationFailure(countdown, false);
        netsetup::Outcome outcome = Run({"dhcp", "release", "Ethernet"});
        long              failed  = VZGetAllocationFailureCount();
        VZClearAllocationFailure();
        if (outcome.status != 0) {
            failedRuns++;
            ASSERT_EQ(outcome.status, 1) << countdown << ": " << outcome.err;
        }
        ASSERT_TRUE(Read(kStorePath) == demo) << countdown << ": " << outcome.err;
        if (failed == 0) break;
    }
    EXPECT_GT(failedRuns, 0);
}

} // namespace
