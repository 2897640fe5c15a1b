// PrivateBus.cpp: the tests' own bus daemon and dbusmock fakes, as child
// processes.
#include "PrivateBus.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vztest {

namespace {

namespace fs = std::filesystem;

// dbusmock is packaged for the system's Python only.
constexpr const char *kPython       = "/usr/bin/python3";
constexpr auto        kStartupLimit = std::chrono::seconds(20);

#ifndef VZ_PRIVATE_BUS_CONFIG
#error "the path of private-bus.conf is needed"
#endif

// Starts argv with standard output to outFd (-1: /dev/null), and standard
// error to the same place or, without errorsToo, to /dev/null; the child's
// pid.
pid_t Spawn(const std::vector<std::string> &argv, int outFd, bool errorsToo = true)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (outFd >= 0 && errorsToo)
        posix_spawn_file_actions_adddup2(&actions, outFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int   err = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(err));
    return pid;
}

// Ends a child: SIGTERM, then SIGKILL if it is still there after a while.
void End(pid_t pid)
{
    if (pid <= 0) return;
    kill(pid, SIGCONT);
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; i++) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

ProgramOutput RunProgram(const std::vector<std::string> &argv)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = Spawn(argv, fds[1]);
    close(fds[1]);
    ProgramOutput result;
    char          buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        result.out.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// ---- the bus -----------------------------------------------------------------

PrivateBus::PrivateBus()
{
    std::string pattern = (fs::temp_directory_path() / "vz-bus-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_  = pattern;
    address_ = "unix:path=" + folder_ + "/system_bus_socket";
    if (const char *saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        hadAddress_   = true;
        savedAddress_ = saved;
    }
    Start();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus()
{
    Stop();
    if (hadAddress_)
        setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress_.c_str(), 1);
    else
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void PrivateBus::Start()
{
    if (pid_ > 0) return;
    std::error_code ignored;
    fs::remove(folder_ + "/system_bus_socket", ignored);
    // The daemon prints its address once it listens: that line is the sign
    // that it is ready.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = Spawn({"dbus-daemon", std::string("--config-file=") + VZ_PRIVATE_BUS_CONFIG,
                  "--address=" + address_, "--nofork", "--nopidfile", "--print-address=1"},
                 fds[1], false);
    close(fds[1]);
    std::string line;
    char        c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(fds[0]);
    if (line.rfind("unix:", 0) != 0) {
        End(pid_);
        pid_ = -1;
        throw std::runtime_error("dbus-daemon did not start: " + line);
    }
}

void PrivateBus::Stop()
{
    End(pid_);
    pid_ = -1;
}

// ---- fakes -------------------------------------------------------------------

FakeService::FakeService(const PrivateBus &bus, std::string name, std::string path,
                         std::string interface, bool objectManager)
    : bus_(bus), name_(std::move(name)), path_(std::move(path)), interface_(std::move(interface)),
      objectManager_(objectManager)
{
    Start();
}

FakeService::~FakeService()
{
    Stop();
}

void FakeService::Start()
{
    if (pid_ > 0) return;
    std::vector<std::string> argv = {kPython,    "-m",        "dbusmock",
                                     "--system", "--logfile", bus_.Folder() + "/" + name_ + ".log"};
    if (objectManager_) argv.push_back("--is-object-manager");
    argv.insert(argv.end(), {name_, path_, interface_});
    pid_       = Spawn(argv, -1);
    auto until = std::chrono::steady_clock::now() + kStartupLimit;
    while (RunProgram({"busctl", "--address=" + bus_.Address(), "status", name_}).status != 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > until) {
            End(pid_);
            pid_ = -1;
            throw std::runtime_error("the fake " + name_ + " did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void FakeService::Stop()
{
    End(pid_);
    pid_ = -1;
}

void FakeService::Pause()
{
    if (pid_ > 0) kill(pid_, SIGSTOP);
}

void FakeService::Resume()
{
    if (pid_ > 0) kill(pid_, SIGCONT);
}

std::string FakeService::Busctl(const std::vector<std::string> &args) const
{
    std::vector<std::string> argv = {"busctl", "--address=" + bus_.Address()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProgramOutput run = RunProgram(argv);
    if (run.status != 0) {
        std::string line;
        for (const std::string &arg : argv)
            line += " " + arg;
        throw std::runtime_error("failed:" + line + ": " + run.out);
    }
    return run.out;
}

std::string FakeService::Call(const std::string &path, const std::string &interface,
                              const std::string &method, const std::string &signature,
                              const std::vector<std::string> &args) const
{
    // "--": a negative number among the arguments is no option.
    std::vector<std::string> argv = {"--json=short", "--", "call", name_, path, interface, method};
    if (!signature.empty()) argv.push_back(signature);
    argv.insert(argv.end(), args.begin(), args.end());
    return Busctl(argv);
}

std::string FakeService::Mock(const std::string &method, const std::string &signature,
                              const std::vector<std::string> &args, const std::string &path) const
{
    return Call(path.empty() ? path_ : path, kMockInterface, method, signature, args);
}

void FakeService::Reset() const
{
    Mock("Reset", "", {});
    Mock("ClearCalls", "", {});
}

} // namespace vztest
