// NetsetupSessionTest.cpp: the README's session "from nothing to a working
// modem service" runs as the README shows it. The commands are taken from the
// README, run by the shell one after the other over a copy of the demo
// machine, and the whole transcript is compared with the README's (the IDs
// are new in every run: each distinct ID stands for the same ID throughout).
#include "NetsetupFixture.h"

#include <cctype>
#include <map>
#include <string>
#include <vector>

#ifndef VZ_ZORVEX_MODEM_STATUS_PATH
#error "the path of the status probe is needed"
#endif

namespace {

using namespace nstest;

class NetsetupSession : public vztest::TempRoot {};

// The text between the README's session markers, its indent taken off.
std::vector<std::string> SessionLines(const std::string &readme)
{
    const std::string        begin = "<!-- session: from nothing to a working modem service -->\n";
    const std::string        end   = "<!-- end of session -->";
    size_t                   from  = readme.find(begin);
    size_t                   to    = readme.find(end);
    std::vector<std::string> lines;
    if (from == std::string::npos || to == std::string::npos || to < from) return lines;
    for (const std::string &line :
         Lines(readme.substr(from + begin.size(), to - from - begin.size())))
        if (!line.empty()) lines.push_back(line.substr(line.rfind("    ", 0) == 0 ? 4 : 0));
    return lines;
}

std::string ShellQuoted(const std::string &text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Replaced(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Whether text holds an ID (an upper-case UUID) at at.
bool IsIDAt(const std::string &text, size_t at)
{
    if (at + 36 > text.size()) return false;
    for (size_t i = 0; i < 36; i++) {
        char c = text[at + i];
        if (i == 8 || i == 13 || i == 18 || i == 23
                ? c != '-'
                : !std::isxdigit(static_cast<unsigned char>(c)) ||
                      std::islower(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// Each distinct ID becomes "<ID n>", n counted in order of appearance.
std::string WithoutIDs(const std::string &text)
{
    std::map<std::string, std::string> names;
    std::string                        out;
    for (size_t at = 0; at < text.size();) {
        if (!IsIDAt(text, at)) {
            out += text[at++];
            continue;
        }
        auto [name, added] =
            names.emplace(text.substr(at, 36), "<ID " + std::to_string(names.size() + 1) + ">");
        out += name->second;
        at += 36;
    }
    return out;
}

TEST_F(NetsetupSession, TheReadmesSessionRunsAsShown)
{
    std::vector<std::string> session =
        SessionLines(vztest::ReadFile(vztest::TestDataPath("../../README.md")));
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
