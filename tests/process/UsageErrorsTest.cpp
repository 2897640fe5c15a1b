// UsageErrorsTest.cpp: every command answers a command line it cannot carry
// out in the same way: exit status 2, nothing on standard output, and one
// line on standard error naming the problem and the help to read.
#include "RunTool.h"
#include "TestSupport.h"

#include <string>
#include <vector>

namespace {

class UsageErrors : public vztest::TempRoot {};

TEST_F(UsageErrors, EveryCommandExitsTwoWithOneLine)
{
    const struct {
        const char              *path;
        const char              *name;
        std::vector<std::string> arguments;
    } rows[] = {
        {VZ_VZ_PLUTIL_PATH, "vz-plutil", {"--bogus"}},
        {VZ_VZ_SCUTIL_PATH, "vz-scutil", {"--bogus"}},
        {VZ_VZ_IOREG_PATH, "vz-ioreg", {"--bogus"}},
        {VZ_VZ_MODEM_SCRIPTS_PATH, "vz-modem-scripts", {"--bogus"}},
        {VZ_VZ_NETSETUP_PATH, "vz-netsetup", {"--bogus"}},
        {VZ_VZ_IOREG_PATH, "vz-ioreg", {"-l", "--ports"}},
        {VZ_VZ_MODEM_SCRIPTS_PATH, "vz-modem-scripts", {"--root"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.arguments.front());
        std::vector<std::string> argv{row.path};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        vztest::ToolOutcome run = vztest::RunTool(argv, root_ + "/.run");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        std::string help = std::string("; see '") + row.name + " --help'\n";
        EXPECT_EQ(run.err.rfind(std::string(row.name) + ": ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        ASSERT_GE(run.err.size(), help.size());
        EXPECT_EQ(run.err.substr(run.err.size() - help.size()), help) << run.err;
    }
}

} // namespace
