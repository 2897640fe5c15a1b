// FakeMachineSessionTest.cpp: the README's session "a fake machine" runs as
// the README shows it: scripts/fake-machine starts the machine in this
// test's root, the shell runs the session's commands with the built
// commands on the PATH, and the transcript is compared with the README's.
#include "ReadmeSession.h"

#include <string>
#include <vector>

#ifndef VZ_ZORVEX_MODEM_STATUS_PATH
#error "the path of the status probe is needed"
#endif

namespace {

using namespace nstest;

class FakeMachineSession : public vztest::TempRoot {};

TEST_F(FakeMachineSession, TheReadmesSessionRunsAsShown)
{
    std::vector<std::string> session =
        SessionLines(vztest::ReadFile(vztest::TestDataPath("../../README.md")), "a fake machine");
    ASSERT_GT(session.size(), 10u);

    const std::string script  = ShellQuoted(vztest::TestDataPath("../../scripts/fake-machine"));
    const std::string machine = Path("machine"), netsetup = VZ_VZ_NETSETUP_PATH,
                      probe = VZ_ZORVEX_MODEM_STATUS_PATH;
    std::string text = "exec 2>&1\nPATH=" + ShellQuoted(netsetup.substr(0, netsetup.rfind('/'))) +
                       ":" + ShellQuoted(probe.substr(0, probe.rfind('/'))) + ":\"$PATH\"\n";
    std::string expected;
    for (const std::string &line : session) {
        expected += line + "\n";
        if (line.rfind("$ ", 0) != 0) continue;
        std::string command = Replaced(line.substr(2), "scripts/fake-machine start",
                                       "scripts/fake-machine start " + ShellQuoted(machine));
        command             = Replaced(command, "scripts/fake-machine", script);
        text += "printf '%s\\n' " + ShellQuoted(line) + "\n" + command + "\n";
    }
    Outcome run = vztest::RunTool({"/bin/sh", "-c", text}, Path("session"));
    // Whatever happened, the machine goes.
    vztest::RunTool(
        {"/bin/sh", "-c", "VZ_FAKE_MACHINE=" + ShellQuoted(machine) + " " + script + " stop"},
        Path("stop"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(WithoutIDs(run.out), WithoutIDs(expected));
}

} // namespace
