// ScutilTest.cpp: vz-scutil as a whole process over temporary roots: listing,
// showing, setting from a file and from standard input, removing, the
// connection state commands, a message with a non-zero exit status for every
// error, and the manners of a command (help, version, options anywhere, no
// wait on a terminal, failed output).
#include "RunTool.h"
#include "TestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

#ifndef VZ_VZ_SCUTIL_PATH
#error "the path of vz-scutil is needed"
#endif

namespace {

using Outcome = vztest::ToolOutcome;

class Scutil : public vztest::TempRoot {
  protected:
    // Runs vz-scutil on this root with the arguments, feeding input.
    Outcome Scu(const std::vector<std::string> &arguments, const std::string &input = "",
                const char *stdoutPath = nullptr, bool terminalInput = false) const
    {
        std::vector<std::string> argv{VZ_VZ_SCUTIL_PATH, "--root", root_};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return vztest::RunTool(argv, root_, input, stdoutPath, terminalInput);
    }
};

const std::string kDhcp = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                          "<dict>\n\t<key>ConfigMethod</key>\n\t<string>DHCP</string>\n</dict>\n"
                          "</plist>\n";

TEST_F(Scutil, KeysInAndOut)
{
    Outcome run = Scu({"list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");

    Write("ipv4.plist", kDhcp);
    EXPECT_EQ(Scu({"set", "Setup:/Network/Service/A/IPv4", Path("ipv4.plist")}).status, 0);
    EXPECT_EQ(Scu({"set", "Setup:/Network/Service/B/IPv4"}, kDhcp).status, 0);
    EXPECT_EQ(Scu({"set", "State:/Network/Global/IPv4", "-"}, kDhcp).status, 0);

    run = Scu({"list", "Setup:/Network/Service/[^/]+/IPv4"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Setup:/Network/Service/A/IPv4\nSetup:/Network/Service/B/IPv4\n");
    EXPECT_EQ(Scu({"list", "Setup:"}).out, ""); // whole keys only

    run = Scu({"show", "Setup:/Network/Service/B/IPv4"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kDhcp);

    EXPECT_EQ(Scu({"remove", "Setup:/Network/Service/A/IPv4"}).status, 0);
    EXPECT_EQ(Scu({"list"}).out, "Setup:/Network/Service/B/IPv4\nState:/Network/Global/IPv4\n");

    // A key that a writer chose to hold a C1 control and an override lists
    // escaped.
    EXPECT_EQ(Scu({"set", "State:/Evil\u009b2J\u202e"}, kDhcp).status, 0);
    EXPECT_EQ(Scu({"list", "State:/E.*"}).out, "State:/Evil\\u009b2J\\u202e\n");
}

TEST_F(Scutil, ConnectionState)
{
    EXPECT_EQ(Scu({"--nc", "status", "Modem"}).out, "invalid\n");
    Write(kDynamicStorePath,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
          "<key>State:/Network/Service/Modem/PPP</key><dict>"
          "<key>UserOptions</key><dict><key>Name</key><string>x</string></dict>"
          "</dict></dict></plist>\n");
    EXPECT_EQ(Scu({"--nc", "status", "Modem"}).out, "disconnected\n");
    for (const char *state : {"connecting", "connected", "disconnecting", "disconnected"}) {
        SCOPED_TRACE(state);
        Outcome set = Scu({"--nc", "set", "Modem", state});
        EXPECT_EQ(set.status, 0) << set.err;
        Outcome status = Scu({"--nc", "status", "Modem"});
        EXPECT_EQ(status.status, 0);
        EXPECT_EQ(status.out, std::string(state) + "\n");
    }
    // The other keys of the entry are kept.
    EXPECT_NE(Scu({"show", "State:/Network/Service/Modem/PPP"}).out.find("UserOptions"),
              std::string::npos);
    // A service nobody knew of gets an entry.
    EXPECT_EQ(Scu({"--nc", "set", "New", "connected"}).status, 0);
    EXPECT_EQ(Scu({"--nc", "status", "New"}).out, "connected\n");
}

TEST_F(Scutil, EveryErrorHasAMessageAndAStatus)
{
    Write("bad.plist", "not a property list");
    Write(kDynamicStorePath, kDhcp.substr(0, 40));
    struct Row {
        std::vector<std::string> arguments;
        int                      status;
        const char              *message; // part of standard error
    };
    const Row rows[] = {
        {{}, 2, "no command"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        {{"show"}, 2, "show takes one KEY"},
        {{"show", "a", "b"}, 2, "show takes one KEY"},
        {{"--nc", "status"}, 2, "--nc status takes one SERVICE-ID"},
        {{"--nc", "up"}, 2, "unknown --nc command"},
        {{"--frobnicate", "list"}, 2, "bad option --frobnicate"},
        {{"list", "--root"}, 2, "option --root needs a value"},
        {{"--nc", "set", "A", "up"}, 1, "not a connection state"},
        {{"--nc", "set", "a/b", "connected"}, 1, "not a service ID"},
        {{"--nc", "status", ""}, 1, "not a service ID"},
        {{"list", "("}, 1, "not a POSIX extended regular expression"},
        {{"set", "k", Path("bad.plist")}, 1, "is not a property list"},
        {{"set", "k", Path("missing.plist")}, 1, "cannot open"},
        // The damaged dynamic store:
        {{"list"}, 1, "cannot list the keys"},
        {{"show", "k"}, 1, "cannot read k"},
        {{"set", "k", "-"}, 1, "cannot set k"},
        {{"remove", "k"}, 1, "cannot remove k"},
        {{"--nc", "status", "A"}, 1, "cannot read the dynamic store"},
        {{"--nc", "set", "A", "connected"}, 1, "cannot record the state of A"},
    };
    std::string damaged = Read(kDynamicStorePath);
    for (const Row &row : rows) {
        std::string line;
        for (const std::string &argument : row.arguments)
            line += argument + " ";
        SCOPED_TRACE(line);
        Outcome run = Scu(row.arguments, kDhcp);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        if (row.status == 2) { // one line, pointing to the help
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(Read(kDynamicStorePath), damaged);

    Write(kDynamicStorePath,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
          "<key>State:/Network/Service/A/PPP</key><string>x</string></dict></plist>\n");
    Outcome run = Scu({"--nc", "set", "A", "connected"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("holds something other than a dictionary"), std::string::npos);
    run = Scu({"show", "nothing"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no such key: nothing"), std::string::npos);
    EXPECT_EQ(Scu({"--help"}).status, 0);
}

TEST_F(Scutil, HelpVersionAndOptionsAnywhere)
{
    vztest::ExpectHelpAndVersion({VZ_VZ_SCUTIL_PATH, "--root", root_}, "vz-scutil", root_);

    // --root comes first from the runner; a later one, in either spelling,
    // wins, and --nc may follow its command.
    std::string other = root_ + "/other";
    EXPECT_EQ(Scu({"--nc", "set", "A", "--root=" + other, "connected"}).status, 0);
    EXPECT_EQ(Scu({"status", "A", "--nc", "--root", other}).out, "connected\n");
    EXPECT_EQ(Scu({"--nc", "status", "A"}).out, "invalid\n"); // this root is untouched
    EXPECT_EQ(Scu({"list", "--", "--root"}).status, 0);       // a pattern after "--", not an option
}

// "set KEY" without a file reads standard input; a terminal there is a usage
// error, not a wait for typing.
TEST_F(Scutil, SetFromATerminalIsAUsageError)
{
    for (const std::vector<std::string> &arguments :
         std::vector<std::vector<std::string>>{{"set", "k"}, {"set", "k", "-"}}) {
        Outcome run = Scu(arguments, "", nullptr, true);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find("terminal"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Scu({"list"}).out, "");
}

// What cannot reach standard output (a full disk) is a failure.
TEST_F(Scutil, FailedWriteToStandardOutputFails)
{
    EXPECT_EQ(Scu({"set", "State:/k"}, kDhcp).status, 0);
    for (const std::vector<std::string> &arguments : std::vector<std::vector<std::string>>{
             {"list"}, {"show", "State:/k"}, {"--nc", "status", "A"}, {"--help"}}) {
        Outcome run = Scu(arguments, "", "/dev/full");
        EXPECT_EQ(run.status, 1) << arguments[0];
        EXPECT_NE(run.err.find("standard output"), std::string::npos) << run.err;
    }
}

} // namespace
