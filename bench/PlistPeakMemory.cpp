// PlistPeakMemory.cpp: how much memory a process needs to read the 10 MB
// store, measured from outside.
//
// The parent runs itself as a child three times: to write the store to a
// temporary file, then only to read the file into memory (the floor: the
// program, its libraries and the file's bytes), then to read it whole and
// parse the bytes into objects (CFPropertyListCreateFromXMLData). Then it
// runs `vz-plutil -lint` on the store and on a tiny store: the file read
// into objects the way the platform reads a property-list file, whose peak
// less the tiny one's, over the file's size, is the figure that counts. The
// peak resident size of each child comes from wait4(). The parent stays
// small itself because a child's peak includes what it shared with its
// parent before exec. Arguments (those that scripts/bench passes to every
// benchmark) are ignored.
#include "StoreGenerator.h"

#include <CoreFoundation/CoreFoundation.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr size_t kTargetBytes = 10 << 20;

// The file's bytes in one malloc'd block, so that a data object can own them
// without a copy.
UInt8 *ReadFile(const char *path, size_t &size)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) return nullptr;
    off_t end = lseek(fd, 0, SEEK_END);
    lseek(fd, 0, SEEK_SET);
    auto  *bytes = static_cast<UInt8 *>(std::malloc(size_t(end) + 1));
    size_t done  = 0;
    while (bytes != nullptr && done < size_t(end)) {
        ssize_t n = read(fd, bytes + done, size_t(end) - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    close(fd);
    size = done;
    return bytes;
}

int Generate(const char *path)
{
    vzbench::StoreShape shape;
    shape.services    = vzbench::ServicesForSize(kTargetBytes);
    std::string store = vzbench::GenerateStore(shape);
    int         fd    = open(path, O_WRONLY | O_TRUNC);
    if (fd < 0 || write(fd, store.data(), store.size()) != ssize_t(store.size())) return 1;
    close(fd);
    std::printf("Peak memory of a process reading a %.2f MiB store (%zu services):\n",
                double(store.size()) / (1 << 20), shape.services);
    return 0;
}

int Child(const char *mode, const char *path)
{
    if (std::strcmp(mode, "--generate") == 0) return Generate(path);
    size_t size  = 0;
    UInt8 *bytes = ReadFile(path, size);
    if (bytes == nullptr) return 1;
    if (std::strcmp(mode, "--parse") != 0) {
        // Touch every page, as the parse would.
        unsigned sum = 0;
        for (size_t i = 0; i < size; i += 4096)
            sum += bytes[i];
        std::free(bytes);
        return sum == 0xFFFFFFFF ? 1 : 0;
    }
    CFDataRef data = CFDataCreateWithBytesNoCopy(nullptr, bytes, CFIndex(size), kCFAllocatorMalloc);
    auto      start = std::chrono::steady_clock::now();
    CFPropertyListRef plist =
        CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr);
    auto elapsed = std::chrono::steady_clock::now() - start;
    std::printf("  parse in the measured process: %.1f ms\n",
                std::chrono::duration<double, std::milli>(elapsed).count());
    if (plist == nullptr) return 1;
    CFRelease(plist);
    CFRelease(data);
    return 0;
}

// Runs program with the two arguments, its output thrown away unless it is
// this program; the child's peak resident size in KiB, or -1.
long PeakOfChild(const char *program, const char *mode, const char *path)
{
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (std::strcmp(program, "/proc/self/exe") != 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
        }
        execl(program, program, mode, path, static_cast<char *>(nullptr));
        _exit(127);
    }
    int           status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && (std::strcmp(argv[1], "--generate") == 0 ||
                      std::strcmp(argv[1], "--read") == 0 || std::strcmp(argv[1], "--parse") == 0))
        return Child(argv[1], argv[2]);

    char path[] = "/tmp/vz-plist-peak-XXXXXX";
    int  fd     = mkstemp(path);
    if (fd < 0) {
        std::perror("vz_bench_plist_peak_memory: temporary file");
        return 1;
    }
    close(fd);
    char tiny[] = "/tmp/vz-plist-tiny-XXXXXX";
    int  tinyFd = mkstemp(tiny);
    if (tinyFd < 0) {
        std::perror("vz_bench_plist_peak_memory: temporary file");
        unlink(path);
        return 1;
    }
    const char  kTiny[]   = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                            "<dict/>\n</plist>\n";
    bool        written   = write(tinyFd, kTiny, sizeof kTiny - 1) == ssize_t(sizeof kTiny - 1);
    long        generated = PeakOfChild("/proc/self/exe", "--generate", path);
    struct stat info {};
    long        floor    = generated < 0 ? -1 : PeakOfChild("/proc/self/exe", "--read", path);
    long        parsed   = floor < 0 ? -1 : PeakOfChild("/proc/self/exe", "--parse", path);
    long        lint     = parsed < 0 ? -1 : PeakOfChild(VZ_PLUTIL_PATH, "-lint", path);
    long        lintTiny = lint < 0 ? -1 : PeakOfChild(VZ_PLUTIL_PATH, "-lint", tiny);
    bool        sized    = stat(path, &info) == 0;
    close(tinyFd);
    unlink(tiny);
    unlink(path);
    if (lintTiny < 0 || !sized || !written) {
        std::fprintf(stderr, "vz_bench_plist_peak_memory: a child failed\n");
        return 1;
    }
    double fileMiB = double(info.st_size) / (1 << 20);
    std::printf("  reading the file only:  %7.2f MiB peak\n", floor / 1024.0);
    std::printf("  reading and parsing:    %7.2f MiB peak = %.2f x the file\n", parsed / 1024.0,
                parsed / 1024.0 / fileMiB);
    std::printf("  the parse itself added: %7.2f MiB = %.2f x the file\n",
                (parsed - floor) / 1024.0, (parsed - floor) / 1024.0 / fileMiB);
    std::printf("  vz-plutil -lint:        %7.2f MiB peak, %.2f MiB on a tiny store: "
                "%.2f x the file (target: under 1.5)\n",
                lint / 1024.0, lintTiny / 1024.0, (lint - lintTiny) / 1024.0 / fileMiB);
    return 0;
}
