// RunAsUser.h: runs a built command as a whole process over a root, as this
// user or as another (an unprivileged user, for a test run as root), with its
// standard output and standard error collected together.
#ifndef VZ_TESTS_PROCESS_RUNASUSER_H
#define VZ_TESTS_PROCESS_RUNASUSER_H

#include "TestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace vztest {

struct Outcome {
    bool        exited = false;
    int         status = -1; // the exit status, or the signal when not exited
    std::string output;      // standard output and standard error together
};

// A copy of a program that any user may run, in a folder of its own, removed
// with the object. The checkout (and so the built program) may live where
// only its owner can enter: a clone in root's home, a "mktemp -d" folder.
class RunnableCopy {
  public:
    explicit RunnableCopy(const std::string &program)
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vz-program-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        folder_              = pattern;
        std::string     copy = folder_ + "/" + std::filesystem::path(program).filename().string();
        std::error_code failed;
        std::filesystem::copy_file(program, copy, failed);
        if (failed || chmod(copy.c_str(), 0755) != 0) return;
        fd_ = open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~RunnableCopy()
    {
        if (fd_ >= 0) close(fd_);
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    RunnableCopy(const RunnableCopy &)            = delete;
    RunnableCopy &operator=(const RunnableCopy &) = delete;
    int           fd() const { return fd_; }

  private:
    std::string folder_;
    int         fd_ = -1;
};

// Runs a command with VAVIVAZ_ROOT set, as the given user when asUser >= 0.
// As another user, the program and the root are opened first, by this user:
// the program runs from its open file and the root is its working folder
// (VAVIVAZ_ROOT "."), so neither path has to be reachable for that user; the
// root itself still has to be readable by it.
inline Outcome RunCommand(const std::string &root, const std::vector<std::string> &arguments,
                          int asUser = -1)
{
    std::string                   outputPath = root + ".out";
    std::unique_ptr<RunnableCopy> program;
    int                           rootFd = -1;
    if (asUser >= 0) {
        program = std::make_unique<RunnableCopy>(arguments[0]);
        rootFd  = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_GE(program->fd(), 0) << "cannot copy " << arguments[0];
        EXPECT_GE(rootFd, 0) << "cannot open " << root;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) _exit(120);
        dup2(fd, 1);
        dup2(fd, 2);
        close(fd);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        std::vector<char *> argv;
        for (const auto &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        if (asUser < 0) {
            setenv("VAVIVAZ_ROOT", root.c_str(), 1);
            execv(argv[0], argv.data());
            _exit(122);
        }
        if (fchdir(rootFd) != 0) _exit(123);
        if (setgroups(0, nullptr) != 0 || setgid(asUser) != 0 || setuid(asUser) != 0) _exit(121);
        setenv("VAVIVAZ_ROOT", ".", 1);
        fexecve(program->fd(), argv.data(), environ);
        _exit(122);
    }
    if (rootFd >= 0) close(rootFd);
    Outcome outcome;
    int     wstatus = 0;
    EXPECT_EQ(waitpid(pid, &wstatus, 0), pid);
    outcome.exited = WIFEXITED(wstatus);
    outcome.status = outcome.exited ? WEXITSTATUS(wstatus) : WTERMSIG(wstatus);
    outcome.output = ReadFile(outputPath);
    std::filesystem::remove(outputPath);
    return outcome;
}

} // namespace vztest

#endif
