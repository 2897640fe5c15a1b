// ErrorWordsTest.cpp: a change the system refuses says why in the system's
// words, beside the code: a full disk is not reported as a damaged store, and
// a root the user may only read refuses the change, not the read.
#include "Run.h"

#include "TestSupport.h"

#include <VZPlatformTesting.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

class ErrorWords : public vztest::TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        fs::copy(vztest::TestDataPath("../../examples/root"), root_,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    static netsetup::Outcome Run(const Args &args)
    {
        std::vector<const char *> argv{"vz-netsetup"};
        for (const std::string &arg : args)
            argv.push_back(arg.c_str());
        return netsetup::Run(static_cast<int>(argv.size()), argv.data());
    }

    // Runs the command in a child of this process, from inside the root and
    // as an unprivileged user when this one is root (to whom permissions
    // mean nothing); the exit status and standard error.
    netsetup::Outcome RunAsUser(const Args &args) const
    {
        int rootFd = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int pipeFds[2];
        EXPECT_GE(rootFd, 0);
        EXPECT_EQ(pipe(pipeFds), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(pipeFds[0]);
            if (fchdir(rootFd) != 0) _exit(120);
            if (geteuid() == 0 &&
                (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
                _exit(121);
            setenv("VAVIVAZ_ROOT", ".", 1);
            netsetup::Outcome outcome = Run(args);
            std::string       report  = std::to_string(outcome.status) + "\n" + outcome.err;
            if (write(pipeFds[1], report.data(), report.size()) < 0) _exit(122);
            _exit(0);
        }
        close(pipeFds[1]);
        close(rootFd);
        std::string report;
        char        buffer[4096];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            report.append(buffer, static_cast<size_t>(n));
        close(pipeFds[0]);
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        netsetup::Outcome outcome;
        size_t            newline = report.find('\n');
        EXPECT_NE(newline, std::string::npos) << "the child exited with " << status;
        if (newline == std::string::npos) return outcome;
        outcome.status = std::stoi(report.substr(0, newline));
        outcome.err    = report.substr(newline + 1);
        return outcome;
    }
};

TEST_F(ErrorWords, AFailedSaveSaysWhy)
{
    const struct {
        const char *call;
        int         error;
        const char *words;
    } rows[] = {
        {"write", ENOSPC, ": no space left on the device (error 1001)\n"},
        {"mkstemp", EROFS, ": the file system is read-only (error 1003)\n"},
        {"fsync", EIO, ": input/output error (error 1001)\n"},
    };
    const std::string demo = Read(kStorePath);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.call);
        ASSERT_TRUE(VZArmSyscallFailure(row.call, 0, true, row.error));
        netsetup::Outcome outcome = Run({"service", "disable", "Ethernet"});
        VZClearSyscallFailure();
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err.rfind("vz-netsetup: cannot save the preferences store ", 0), 0u)
            << outcome.err;
        EXPECT_NE(outcome.err.find(row.words), std::string::npos) << outcome.err;
        EXPECT_TRUE(Read(kStorePath) == demo);
    }

    // A store that is a link to a file outside the root is not written.
    const fs::path outside =
        fs::path(root_).parent_path() / (fs::path(root_).filename().string() + "-outside.plist");
    fs::copy_file(Path(kStorePath), outside, fs::copy_options::overwrite_existing);
    fs::remove(Path(kStorePath));
    fs::create_symlink(outside, Path(kStorePath));
    netsetup::Outcome outcome = Run({"service", "disable", "Ethernet"});
    fs::remove(outside);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find(": the symbolic link leads out of the root (error 1001)\n"),
              std::string::npos)
        << outcome.err;
}

TEST_F(ErrorWords, AReadOnlyRootRefusesTheChangeNotTheRead)
{
    for (const auto &entry : fs::recursive_directory_iterator(root_))
        fs::permissions(entry.path(),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);

    EXPECT_EQ(RunAsUser({"services"}).status, 0);
    netsetup::Outcome change = RunAsUser({"service", "disable", "Ethernet"});
    EXPECT_EQ(change.status, 1);
    EXPECT_NE(change.err.find("cannot change the preferences store"), std::string::npos)
        << change.err;
    EXPECT_NE(change.err.find(": permission to change it was refused (error 1003)\n"),
              std::string::npos)
        << change.err;
}

} // namespace
