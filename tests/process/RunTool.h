// RunTool.h: runs a built command as a whole process: feeds its standard
// input, and collects its exit status and its standard output and standard
// error apart.
#ifndef VZ_TESTS_PROCESS_RUNTOOL_H
#define VZ_TESTS_PROCESS_RUNTOOL_H

#include "TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vztest {

struct ToolOutcome {
    int         status = -1; // exit status; -1 when it did not exit
    std::string out;
    std::string err;
};

// Starts argv (argv[0] the program's path) with scratch + ".in", ".out" and
// ".err" as its files; WaitTool collects it. stdoutPath, when given, takes
// the place of the collected standard output (/dev/full, for a failed
// write); with terminalInput, standard input is a terminal instead of the
// input; with closeStdout, the command starts with standard output closed. A
// run that has not ended after a minute is killed (status -1), so a command
// that waits fails the test instead of hanging it.
inline pid_t StartTool(const std::vector<std::string> &argv, const std::string &scratch,
                       const std::string &input = "", const char *stdoutPath = nullptr,
                       bool terminalInput = false, bool closeStdout = false)
{
    std::string outPath = scratch + ".out", errPath = scratch + ".err", inPath = scratch + ".in";
    WriteFile(inPath, input);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        int in = open(inPath.c_str(), O_RDONLY);
        if (terminalInput) {
            int terminal = posix_openpt(O_RDWR | O_NOCTTY);
            if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) _exit(119);
            in = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        }
        int out = open(stdoutPath != nullptr ? stdoutPath : outPath.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(120);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (closeStdout) close(1);
        std::vector<char *> args;
        for (const std::string &argument : argv)
            args.push_back(const_cast<char *>(argument.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Waits for a command StartTool started with the same scratch.
inline ToolOutcome WaitTool(pid_t pid, const std::string &scratch)
{
    std::string outPath = scratch + ".out", errPath = scratch + ".err", inPath = scratch + ".in";
    int         status = 0;
    waitpid(pid, &status, 0);
    ToolOutcome result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out    = ReadFile(outPath);
    result.err    = ReadFile(errPath);
    for (const std::string &path : {outPath, errPath, inPath})
        unlink(path.c_str());
    return result;
}

inline ToolOutcome RunTool(const std::vector<std::string> &argv, const std::string &scratch,
                           const std::string &input = "", const char *stdoutPath = nullptr,
                           bool terminalInput = false)
{
    return WaitTool(StartTool(argv, scratch, input, stdoutPath, terminalInput), scratch);
}

// Checks a command's --help (and the other spellings given) and --version:
// the usage ("usage: NAME ...") and "NAME VERSION" on standard output,
// nothing on standard error, exit status 0. command holds the program's path
// and any arguments that go before the option.
inline void ExpectHelpAndVersion(const std::vector<std::string> &command, const std::string &name,
                                 const std::string              &scratch,
                                 const std::vector<std::string> &helpSpellings = {"--help"})
{
    for (const std::string &spelling : helpSpellings) {
        std::vector<std::string> argv = command;
        argv.push_back(spelling);
        ToolOutcome help = RunTool(argv, scratch);
        EXPECT_EQ(help.status, 0) << spelling;
        EXPECT_EQ(help.out.rfind("usage: " + name, 0), 0u) << help.out;
        EXPECT_EQ(help.err, "") << spelling;
    }
    std::vector<std::string> argv = command;
    argv.push_back("--version");
    ToolOutcome version = RunTool(argv, scratch);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind(name + " ", 0), 0u) << version.out;
}

} // namespace vztest

#endif
