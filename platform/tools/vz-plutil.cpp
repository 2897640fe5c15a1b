// vz-plutil: checks, rewrites and lists XML property-list files, for people
// who keep them by hand.
//
//   vz-plutil -lint FILE...                    one line per file: "FILE: OK" or why not;
//                                              exit 0 when every file reads, 1 otherwise
//   vz-plutil -convert xml1 [-o OUT] FILE      rewrite in the canonical layout, to OUT
//                                              ("-" for standard output) or in place
//   vz-plutil -p FILE                          a readable listing
//
// Exit status: 0 success, 1 a file could not be read, parsed or written, 2 a
// usage error. A file is only ever replaced whole (a temporary beside it,
// synced, then renamed over it, with the old file's mode), so a failure or a
// crash leaves the old file or the new one, never half of one.
#include <CoreFoundation/CoreFoundation.h>

#include "AtomicFile.h"
#include "PlistListing.h"
#include "PlistWriter.h"
#include "StringStorage.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOK    = 0;
constexpr int kExitFail  = 1;
constexpr int kExitUsage = 2;

const char kUsage[] = "usage: vz-plutil -lint FILE...\n"
                      "       vz-plutil -convert xml1 [-o OUT] FILE\n"
                      "       vz-plutil -p FILE\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// The whole file, or an errno.
int readWholeFile(const char *path, std::string &bytes)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int  error = 0;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) break;
        try {
            bytes.append(buffer, static_cast<size_t>(n));
        } catch (...) {
            error = ENOMEM;
            break;
        }
    }
    close(fd);
    return error;
}

// Owns one reference.
template <typename T> struct Owned {
    T ref = nullptr;
    ~Owned()
    {
        if (ref != nullptr) CFRelease(ref);
    }
};

// Reads and parses a file; on failure `why` says what went wrong.
CFPropertyListRef loadPropertyList(const char *path, std::string &why)
{
    std::string bytes;
    if (int error = readWholeFile(path, bytes); error != 0) {
        why = std::string("cannot read: ") + std::strerror(error);
        return nullptr;
    }
    Owned<CFDataRef> data;
    data.ref = CFDataCreateWithBytesNoCopy(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                           static_cast<CFIndex>(bytes.size()), kCFAllocatorNull);
    if (data.ref == nullptr) {
        why = "out of memory";
        return nullptr;
    }
    Owned<CFStringRef> message;
    CFPropertyListRef  plist =
        CFPropertyListCreateFromXMLData(nullptr, data.ref, kCFPropertyListImmutable, &message.ref);
    if (plist == nullptr)
        why = message.ref != nullptr ? vz::toUTF8String(message.ref) : "out of memory";
    return plist;
}

int lint(int count, char **paths)
{
    int status = kExitOK;
    for (int i = 0; i < count; ++i) {
        std::string       why;
        CFPropertyListRef plist = loadPropertyList(paths[i], why);
        if (plist != nullptr) {
            CFRelease(plist);
            std::printf("%s: OK\n", paths[i]);
        } else {
            std::printf("%s: %s\n", paths[i], why.c_str());
            status = kExitFail;
        }
    }
    return status;
}

int writeAllTo(int fd, const char *bytes, size_t count)
{
    while (count > 0) {
        ssize_t n = write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return 0;
}

int convert(const char *input, const char *output)
{
    std::string       why;
    CFPropertyListRef plist = loadPropertyList(input, why);
    if (plist == nullptr) {
        std::fprintf(stderr, "vz-plutil: %s: %s\n", input, why.c_str());
        return kExitFail;
    }
    vz::OutputBuffer text;
    bool             written = false;
    try {
        written = vz::writePropertyList(plist, text, &why);
    } catch (...) {
        why = "out of memory";
    }
    CFRelease(plist);
    if (!written) {
        std::fprintf(stderr, "vz-plutil: %s: cannot be written: %s\n", input, why.c_str());
        return kExitFail;
    }

    if (output != nullptr && std::strcmp(output, "-") == 0) {
        int error = writeAllTo(STDOUT_FILENO, text.data(), text.size());
        if (error != 0)
            std::fprintf(stderr, "vz-plutil: standard output: %s\n", std::strerror(error));
        return error == 0 ? kExitOK : kExitFail;
    }
    // In place, the file a symbolic link names is replaced, not the link.
    std::string target = output != nullptr ? output : input;
    if (output == nullptr) {
        char *resolved = realpath(input, nullptr);
        if (resolved != nullptr) {
            target = resolved;
            std::free(resolved);
        }
    }
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    bool                     replaced = false;
    int                      error = vz::writeFileAtomically(target, bytes, 0644, false, &replaced);
    if (error != 0) {
        std::fprintf(stderr, "vz-plutil: %s: %s%s\n", target.c_str(), std::strerror(error),
                     replaced ? " (written, but the folder could not be synced)" : "");
        return kExitFail;
    }
    return kExitOK;
}

int print(const char *path)
{
    std::string       why;
    CFPropertyListRef plist = loadPropertyList(path, why);
    if (plist == nullptr) {
        std::fprintf(stderr, "vz-plutil: %s: %s\n", path, why.c_str());
        return kExitFail;
    }
    std::string listing;
    vz::appendPlistListing(plist, 0, listing);
    CFRelease(plist);
    listing += "\n";
    return writeAllTo(STDOUT_FILENO, listing.data(), listing.size()) == 0 ? kExitOK : kExitFail;
}

int run(int argc, char **argv)
{
    if (argc < 3) return usage();
    std::string command = argv[1];
    if (command == "-lint") return lint(argc - 2, argv + 2);
    if (command == "-p") return argc == 3 ? print(argv[2]) : usage();
    if (command != "-convert") return usage();
    if (std::strcmp(argv[2], "xml1") != 0) {
        std::fprintf(stderr, "vz-plutil: unsupported format '%s' (only xml1)\n", argv[2]);
        return kExitUsage;
    }
    const char *output = nullptr;
    int         next   = 3;
    if (next < argc && std::strcmp(argv[next], "-o") == 0) {
        if (next + 1 >= argc) return usage();
        output = argv[next + 1];
        next += 2;
    }
    if (next + 1 != argc) return usage();
    return convert(argv[next], output);
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing below throws but the standard containers when memory runs out.
    try {
        return run(argc, argv);
    } catch (...) {
        std::fputs("vz-plutil: out of memory\n", stderr);
        return kExitFail;
    }
}
