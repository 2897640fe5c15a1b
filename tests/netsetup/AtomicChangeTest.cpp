// AtomicChangeTest.cpp: vz-netsetup's changes run in this process with an
// object creation failing at every point in turn: each run either makes its
// whole change or fails with exit status 1 and leaves the store's bytes as
// they were, never half of a change, and nothing leaks. (A change saved whose
// apply then failed is reported as such.) A DHCP release, which commits twice
// by design, ends with the service as it was.
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
        {{"service", "duplicate", "Ethernet", "Copy"}, true},
        {{"service", "delete", "AirPort"}, false},
        {{"service", "rename", "AirPort", "Wireless"}, false},
        {{"service", "disable", "Ethernet"}, false},
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
    };
    Write("password", "s3cret\n");
    // The port scanner stops the process on an allocation failure of its own
    // (a sort value it cannot store), so the commands run on a machine whose
    // registry lists no port.
    fs::remove(Path("var/run/SystemConfiguration/ioregistry.plist"));
    const std::string demo = Read(kStorePath);
    for (const auto &[args, newIDs] : rows) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        Write(kStorePath, demo);
        ASSERT_EQ(Run(args).status, 0);
        const std::string changed    = Read(kStorePath);
        long              failedRuns = 0;
        for (long countdown = 0;; countdown++) {
            ASSERT_LT(countdown, 20000) << "never ran to the end";
            Write(kStorePath, demo);
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
