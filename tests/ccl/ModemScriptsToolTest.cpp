// ModemScriptsToolTest.cpp: vz-modem-scripts as a whole process: the demo
// machine's catalogue as the README shows it, a default given on the command
// line, and one line on standard error with exit status 1 for every error.
#include "RunTool.h"
#include "ScriptTestSupport.h"

#ifndef VZ_VZ_MODEM_SCRIPTS_PATH
#error "the path of vz-modem-scripts is needed"
#endif

namespace {

const std::string kDemoRoot = std::string(VZ_TEST_DATA_DIR) + "/../../examples/root";

class ModemScriptsTool : public vztest::ScriptRoot {
  protected:
    vztest::ToolOutcome Run(std::vector<std::string> arguments,
                            const char              *stdoutPath = nullptr) const
    {
        arguments.insert(arguments.begin(), VZ_VZ_MODEM_SCRIPTS_PATH);
        return vztest::RunTool(arguments, root_ + "/run", "", stdoutPath);
    }
};

TEST_F(ModemScriptsTool, TheDemoMachinesCatalogue)
{
    vztest::ToolOutcome run = Run({"--root", kDemoRoot});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "* Internal 56K Modem (v.90)\n"
                       "  Internal 56K Modem (v.92)\n"
                       "  Serial Modem 9\n"
                       "  serial modem 9\n"
                       "  Serial Modem 10\n"
                       "  ZORVEX Mobile\n"
                       "  ZORVEX Mobile 2\n");
    EXPECT_EQ(run.err, "");

    run = Run({"--default", "zorvex MOBILE", "--root", kDemoRoot});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n* ZORVEX Mobile\n  ZORVEX Mobile 2\n"), std::string::npos) << run.out;
}

// A file name is anyone's choice: what a terminal would act on is escaped.
TEST_F(ModemScriptsTool, HostileNamesAreEscaped)
{
    AddScripts(kLocal, {"Modem \x1b[2J\u202e9"});
    vztest::ToolOutcome run = Run({"--root", root_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "* Modem \\x1b[2J\\u202e9\n");
}

TEST_F(ModemScriptsTool, EveryErrorIsOneLine)
{
    const struct {
        std::vector<std::string> arguments;
        int                      status;
        const char              *message;
    } rows[] = {
        {{"--root"}, 2, "vz-modem-scripts: --root needs a value; see 'vz-modem-scripts --help'\n"},
        {{"--root", "/no/such/folder"}, 1, "vz-modem-scripts: no such folder: /no/such/folder\n"},
        {{"-l"}, 2, "vz-modem-scripts: unknown argument '-l'; see 'vz-modem-scripts --help'\n"},
        {{"--default"},
         2,
         "vz-modem-scripts: --default needs a value; see 'vz-modem-scripts --help'\n"},
    };
    for (const auto &row : rows) {
        vztest::ToolOutcome run = Run(row.arguments);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, row.message);
    }

    vztest::ToolOutcome full = Run({"--root", kDemoRoot}, "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err.rfind("vz-modem-scripts: cannot write to standard output: ", 0), 0u)
        << full.err;

    vztest::ToolOutcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: vz-modem-scripts", 0), 0u);
}

} // namespace
