// WholeProcess.cpp: generated roots with a connected modem, and spawning a
// process over one.
#include "WholeProcess.h"

#include "StoreGenerator.h"
#include "TempRoots.h"

#include <CoreFoundation/CoreFoundation.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace vzbench {

namespace {

constexpr const char *kStore = "Library/Preferences/SystemConfiguration/preferences.plist";

void WriteFile(const fs::path &path, const std::string &text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The last entry of the current set's service order: the generator puts the
// modem there.
std::string LastServiceOfCurrentSet(const std::string &xml)
{
    std::string result;
    CFDataRef   data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(xml.data()),
                                    static_cast<CFIndex>(xml.size()));
    auto        tree = static_cast<CFDictionaryRef>(
        CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr));
    CFRelease(data);
    if (tree == nullptr) return result;
    auto       setPath = static_cast<CFStringRef>(CFDictionaryGetValue(tree, CFSTR("CurrentSet")));
    CFArrayRef parts   = CFStringCreateArrayBySeparatingStrings(nullptr, setPath, CFSTR("/"));
    auto       sets    = static_cast<CFDictionaryRef>(CFDictionaryGetValue(tree, CFSTR("Sets")));
    auto       set =
        static_cast<CFDictionaryRef>(CFDictionaryGetValue(sets, CFArrayGetValueAtIndex(parts, 2)));
    auto network = static_cast<CFDictionaryRef>(CFDictionaryGetValue(set, CFSTR("Network")));
    auto global  = static_cast<CFDictionaryRef>(CFDictionaryGetValue(network, CFSTR("Global")));
    auto ipv4    = static_cast<CFDictionaryRef>(CFDictionaryGetValue(global, CFSTR("IPv4")));
    auto order   = static_cast<CFArrayRef>(CFDictionaryGetValue(ipv4, CFSTR("ServiceOrder")));
    auto last = static_cast<CFStringRef>(CFArrayGetValueAtIndex(order, CFArrayGetCount(order) - 1));
    char buffer[256] = {};
    if (CFStringGetCString(last, buffer, sizeof buffer, kCFStringEncodingUTF8)) result = buffer;
    CFRelease(parts);
    CFRelease(tree);
    return result;
}

} // namespace

ModemRoot ModemRootFor(size_t services, bool lean)
{
    const std::string &path = TempRootFor(
        lean ? "modem-lean" : "modem", static_cast<int64_t>(services),
        [services, lean](const std::string &root) {
            StoreShape shape;
            shape.services    = services;
            shape.modemLast   = true;
            shape.lean        = lean;
            std::string xml   = GenerateStore(shape);
            std::string modem = LastServiceOfCurrentSet(xml);
            WriteFile(fs::path(root) / kStore, xml);
            WriteFile(
                fs::path(root) / "var/run/SystemConfiguration/dynamic-store.plist",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                "\t<key>State:/Network/Service/" +
                    modem +
                    "/PPP</key>\n"
                    "\t<dict>\n\t\t<key>Status</key>\n\t\t<integer>2</integer>\n\t</dict>\n"
                    "</dict>\n</plist>\n");
        });
    std::error_code ignored;
    return {path, static_cast<size_t>(fs::file_size(fs::path(path) / kStore, ignored))};
}

int RunWholeProcess(const char *program, const std::vector<const char *> &arguments,
                    const ModemRoot &root)
{
    return TimeWholeProcess(program, arguments, root).status;
}

ProcessRun TimeWholeProcess(const char *program, const std::vector<const char *> &arguments,
                            const ModemRoot &root)
{
    std::string         env    = "VAVIVAZ_ROOT=" + root.path;
    char               *envp[] = {env.data(), nullptr};
    std::vector<char *> argv{const_cast<char *>(program)};
    for (const char *argument : arguments)
        argv.push_back(const_cast<char *>(argument));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ProcessRun    run;
    pid_t         pid    = 0;
    int           status = 0;
    struct rusage usage {};
    auto          started = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp) == 0 &&
        wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    auto seconds   = [](const struct timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

bool TimePair(Pair &pair, const ModemRoot &root, int round)
{
    for (int turn = 0; turn < 2; turn++) {
        int        k   = (turn + round) % 2;
        ProcessRun run = TimeWholeProcess(pair.programs[k], pair.arguments[k], root);
        if (run.status != 0) return false;
        pair.wallSeconds[k] += run.wallSeconds;
        pair.cpuSeconds[k] += run.cpuSeconds;
    }
    return true;
}

} // namespace vzbench
