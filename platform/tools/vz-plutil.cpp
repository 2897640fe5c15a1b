// vz-plutil: checks, rewrites and lists XML property-list files, for people
// who keep them by hand.
//
//   vz-plutil -lint FILE...                    one line per file: "FILE: OK" or why not;
//                                              exit 0 when every file reads, 1 otherwise
//   vz-plutil -convert xml1 [-o OUT] FILE      rewrite in the canonical layout, to OUT
//                                              ("-" for standard output) or in place
//   vz-plutil -p FILE                          a readable listing
//
// Options are words of one dash or two ("-lint", "--lint"), in any position,
// with their value as the next word or after "=" ("-o OUT", "--o=OUT"); "--"
// ends them. Exit status: 0 success, 1 a file could not be read, parsed or
// written (standard output included), 2 a usage error. A file is read only
// when it is a regular file of at most 64 MiB, and only ever replaced whole (a
// temporary beside it, synced, then renamed over it, with the old file's
// mode), so a failure or a crash leaves the old file or the new one. In place,
// a file with a store's lock file beside it (FILE-lock) is rewritten under
// that lock, and only when it still holds what was read: a commit made
// meanwhile is never lost.
#include <CoreFoundation/CoreFoundation.h>
#include <VZPlatformTools.h>
#include <VZToolSupport.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using vztool::Ref;

constexpr int kExitOK   = vztool::kExitSuccess;
constexpr int kExitFail = vztool::kExitFailure;

const char kHelp[] =
    "usage: vz-plutil -lint FILE...\n"
    "       vz-plutil -convert xml1 [-o OUT] FILE\n"
    "       vz-plutil -p FILE\n"
    "\n"
    "Checks, rewrites and lists XML property-list files.\n"
    "\n"
    "  -lint FILE...         say for each FILE whether it is a property list, and why not\n"
    "  -convert xml1 FILE    rewrite FILE in the canonical layout, atomically; under its\n"
    "                        lock file (FILE-lock) when it has one, and never over a\n"
    "                        change made since it was read\n"
    "  -o OUT                with -convert: write to OUT instead (\"-\": standard output)\n"
    "  -p FILE               print a readable listing of FILE\n"
    "  --help                print this text\n"
    "  --version             print the version\n"
    "\n"
    "Options take one dash or two, in any position; \"--\" ends them. Files are read only\n"
    "when they are regular files of at most 64 MiB.\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read, parsed or written, 2 a usage\n"
    "error.\n";

int usageError(const std::string &what)
{
    return vztool::usageError("vz-plutil", what);
}

using vztool::utf8;

// Why a file could not be read.
std::string readFailure(int error)
{
    switch (error) {
    case EINVAL:
        return "cannot read: not a regular file";
    case EFBIG:
        return "cannot read: larger than 64 MiB";
    default:
        return std::string("cannot read: ") + std::strerror(error);
    }
}

// Reads a file; on failure `why` says what went wrong.
CFDataRef loadBytes(const char *path, std::string &why)
{
    CFDataRef bytes = nullptr;
    if (int error = VZFileCopyContents(path, &bytes); error != 0) why = readFailure(error);
    return bytes;
}

CFPropertyListRef parse(CFDataRef bytes, std::string &why)
{
    Ref<CFStringRef>  message;
    CFPropertyListRef plist =
        CFPropertyListCreateFromXMLData(nullptr, bytes, kCFPropertyListImmutable, message.put());
    if (plist == nullptr) why = message ? vztool::printable(utf8(message.get())) : "out of memory";
    return plist;
}

// Reads a file's property list, the file streamed into the parser rather
// than held whole; on failure `why` says what went wrong.
CFPropertyListRef loadPropertyList(const char *path, std::string &why)
{
    CFPropertyListRef plist = nullptr;
    Ref<CFStringRef>  message;
    int error = VZPropertyListCreateFromFile(path, kCFPropertyListImmutable, &plist, message.put());
    if (error == EBADMSG)
        // The reader's message quotes the refused text of the file.
        why = message ? vztool::printable(utf8(message.get())) : "out of memory";
    else if (error != 0)
        why = readFailure(error);
    return plist;
}

// The last file's tree, kept to the end of the process: the exit returns its
// memory at once, where releasing it would visit every object only to free
// it (a tenth of the time of a large file's lint). Volatile, so that the
// store stays and a leak checker finds the tree held.
CFPropertyListRef volatile gLastTree = nullptr;

int lint(const std::vector<const char *> &paths)
{
    int status = kExitOK;
    for (const char *path : paths) {
        std::string            why;
        Ref<CFPropertyListRef> plist(loadPropertyList(path, why));
        if (plist) {
            std::printf("%s: OK\n", path);
        } else {
            std::printf("%s: %s\n", path, why.c_str());
            status = kExitFail;
        }
        if (path == paths.back()) gLastTree = plist.release();
    }
    return status;
}

bool sameBytes(CFDataRef a, CFDataRef b)
{
    CFIndex length = CFDataGetLength(a);
    return length == CFDataGetLength(b) &&
           std::memcmp(CFDataGetBytePtr(a), CFDataGetBytePtr(b), static_cast<size_t>(length)) == 0;
}

// Replaces the file at input with text; when a lock file is beside it,
// under that lock, and only while the file still holds `read`.
int replaceInPlace(const char *input, CFDataRef read, CFDataRef text)
{
    std::string lockPath = std::string(input) + "-lock";
    struct stat info {};
    int         lock = -1;
    if (lstat(lockPath.c_str(), &info) == 0) {
        if (int error = VZFileLockExisting(lockPath.c_str(), true, &lock); error != 0) {
            std::fprintf(stderr, "vz-plutil: %s: cannot take the lock: %s\n", lockPath.c_str(),
                         std::strerror(error));
            return kExitFail;
        }
        // Under the lock no store writer can change the file; one may have
        // committed between the read and the lock.
        std::string    why;
        Ref<CFDataRef> now(loadBytes(input, why));
        if (!now || !sameBytes(now.get(), read)) {
            close(lock);
            std::fprintf(stderr, "vz-plutil: %s: changed since it was read; not rewritten\n",
                         input);
            return kExitFail;
        }
    }
    Boolean replaced = false;
    int     error    = VZFileReplace(input, text, 0644, &replaced);
    if (lock >= 0) close(lock);
    if (error != 0) {
        std::fprintf(stderr, "vz-plutil: %s: %s%s\n", input, VZFileErrorString(error),
                     replaced ? " (written, but the folder could not be synced)" : "");
        return kExitFail;
    }
    return kExitOK;
}

int convert(const char *input, const char *output)
{
    std::string            why;
    Ref<CFDataRef>         read(loadBytes(input, why));
    Ref<CFPropertyListRef> plist(read ? parse(read.get(), why) : nullptr);
    if (!plist) {
        std::fprintf(stderr, "vz-plutil: %s: %s\n", input, why.c_str());
        return kExitFail;
    }
    Ref<CFDataRef> text(CFPropertyListCreateXMLData(nullptr, plist.get()));
    if (!text) {
        std::fprintf(stderr, "vz-plutil: %s: cannot be written as XML\n", input);
        return kExitFail;
    }
    if (output != nullptr && std::strcmp(output, "-") == 0) {
        std::fwrite(CFDataGetBytePtr(text.get()), 1,
                    static_cast<size_t>(CFDataGetLength(text.get())), stdout);
        return kExitOK;
    }
    if (output != nullptr) {
        Boolean replaced = false;
        int     error    = VZFileReplace(output, text.get(), 0644, &replaced);
        if (error == 0) return kExitOK;
        std::fprintf(stderr, "vz-plutil: %s: %s%s\n", output, VZFileErrorString(error),
                     replaced ? " (written, but the folder could not be synced)" : "");
        return kExitFail;
    }
    // In place, the file a symbolic link names is replaced, not the link
    // (VZFileReplace follows it).
    return replaceInPlace(input, read.get(), text.get());
}

int print(const char *path)
{
    std::string            why;
    Ref<CFPropertyListRef> plist(loadPropertyList(path, why));
    if (!plist) {
        std::fprintf(stderr, "vz-plutil: %s: %s\n", path, why.c_str());
        return kExitFail;
    }
    Ref<CFDataRef> listing(VZPropertyListCreateListing(plist.get()));
    if (!listing) {
        std::fputs("vz-plutil: out of memory\n", stderr);
        return kExitFail;
    }
    std::fwrite(CFDataGetBytePtr(listing.get()), 1,
                static_cast<size_t>(CFDataGetLength(listing.get())), stdout);
    std::fputc('\n', stdout);
    return kExitOK;
}

enum class Mode { None, Lint, Convert, Print };

int run(int argc, char **argv)
{
    enum { kHelpOption = 256, kVersionOption };
    const struct option kOptions[] = {
        {"lint", no_argument, nullptr, 'l'},
        {"convert", required_argument, nullptr, 'c'},
        {"p", no_argument, nullptr, 'p'},
        {"o", required_argument, nullptr, 'o'},
        {"help", no_argument, nullptr, kHelpOption},
        {"version", no_argument, nullptr, kVersionOption},
        {nullptr, 0, nullptr, 0},
    };
    Mode        mode   = Mode::None;
    const char *format = nullptr;
    const char *output = nullptr;
    opterr             = 0; // our own one-line messages
    for (;;) {
        int index  = 0;
        int option = getopt_long_only(argc, argv, ":", kOptions, &index);
        if (option == -1) break;
        Mode chosen = Mode::None;
        switch (option) {
        case kHelpOption:
            std::fputs(kHelp, stdout);
            return kExitOK;
        case kVersionOption:
            std::printf("vz-plutil (vavivaz) %s\n", VAVIVAZ_VERSION);
            return kExitOK;
        case 'l':
            chosen = Mode::Lint;
            break;
        case 'c':
            chosen = Mode::Convert;
            format = optarg;
            break;
        case 'p':
            chosen = Mode::Print;
            break;
        case 'o':
            output = optarg;
            break;
        case ':':
            return usageError(std::string("option ") + argv[optind - 1] + " needs a value");
        default:
            return usageError(std::string("bad option ") + argv[optind - 1]);
        }
        if (chosen != Mode::None) {
            if (mode != Mode::None && mode != chosen)
                return usageError("-lint, -convert and -p cannot be combined");
            mode = chosen;
        }
    }
    std::vector<const char *> files(argv + optind, argv + argc);
    switch (mode) {
    case Mode::None:
        return usageError("say what to do: -lint, -convert xml1 or -p");
    case Mode::Lint:
        if (output != nullptr) return usageError("-o goes with -convert only");
        if (files.empty()) return usageError("-lint needs at least one FILE");
        return lint(files);
    case Mode::Print:
        if (output != nullptr) return usageError("-o goes with -convert only");
        if (files.size() != 1) return usageError("-p takes exactly one FILE");
        return print(files[0]);
    case Mode::Convert:
        if (std::strcmp(format, "xml1") != 0)
            return usageError(std::string("unsupported format '") + format + "' (only xml1)");
        if (files.size() != 1) return usageError("-convert takes exactly one FILE");
        return convert(files[0], output);
    }
    return vztool::kExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
    int status = kExitFail;
    // Nothing below throws but the standard containers when memory runs out.
    try {
        status = run(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fputs("vz-plutil: out of memory\n", stderr);
        status = kExitFail;
    }
    // Output that did not reach its destination (a full disk, a closed pipe)
    // is a failure, whatever else went well.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vz-plutil: standard output: %s\n", std::strerror(errno));
        return kExitFail;
    }
    return status;
}
