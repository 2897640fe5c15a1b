// NetsetupSessionTest.cpp: the README's session "from nothing to a working
// modem service" runs as the README shows it. The commands are taken from the
// README, run by the shell one after the other over a copy of the demo
// machine, and the whole transcript is compared with the README's (the IDs
// are new in every run: each distinct ID stands for the same ID throughout).
#include "NetsetupFixture.h"
#include "ReadmeSession.h"

#include <string>
#include <vector>

#ifndef VZ_ZORVEX_MODEM_STATUS_PATH
#error "the path of the status probe is needed"
#endif

namespace {

using namespace nstest;

class NetsetupSession : public vztest::TempRoot {};

TEST_F(NetsetupSession, TheReadmesSessionRunsAsShown)
{
    std::vector<std::string> session =
        SessionLines(vztest::ReadFile(vztest::TestDataPath("../../README.md")),
                     "from nothing to a working modem service");
    ASSERT_GT(session.size(), 10u);

    // The README's paths become this test's: the checkout's demo machine and
    // a copy of it in this root.
    const std::string demo    = Path("demo-root");
    const std::string program = VZ_VZ_NETSETUP_PATH;
    std::string       script =
        "set -e\nexec 2>&1\nPATH=" + ShellQuoted(program.substr(0, program.rfind('/'))) +
        ":\"$PATH\"\n";
    std::string expected;
    for (const std::string &line : session) {
        expected += line + "\n";
        if (line.rfind("$ ", 0) != 0) continue;
        std::string command = line.substr(2);
        command             = Replaced(command, "examples/root",
                                       ShellQuoted(vztest::TestDataPath("../../examples/root")));
        command             = Replaced(command, "/tmp/demo-root", ShellQuoted(demo));
        script += "printf '%s\\n' " + ShellQuoted(line) + "\n" + command + "\n";
    }
    Outcome run = vztest::RunTool({"/bin/sh", "-c", script}, Path("session"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(WithoutIDs(run.out), WithoutIDs(expected));

    // The probe finds the new modem service: its connection is known, and
    // down (1).
    run = vztest::RunTool(
        {"/bin/sh", "-c",
         "VAVIVAZ_ROOT=" + ShellQuoted(demo) + " exec " + ShellQuoted(VZ_ZORVEX_MODEM_STATUS_PATH)},
        Path("probe"));
    EXPECT_EQ(run.status, 1) << run.err;
}

} // namespace
