// vz-modem-scripts: the modem scripts a root has installed, as the catalogue
// lists them for a user to pick from, the default marked.
//
//   vz-modem-scripts [--root DIR] [--default NAME]
//
// One script per line, in the catalogue's order: "* " before the default
// script's name, two spaces before the others; what a name holds that a
// terminal would act on is escaped ("\x1b", "\u202e"). With --default the
// default is NAME instead of the one the catalogue chooses.
//
// Exit status: 0 success, 1 a failure (a script folder that cannot be read,
// standard output that cannot be written), 2 a usage error, with a one-line
// reason on standard error.
#include "VaviVAZCCLScanner.h"

#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>
#include <VZToolSupport.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

const char kUsage[] =
    "usage: vz-modem-scripts [--root DIR] [--default NAME]\n"
    "\n"
    "Lists the modem scripts installed under the root DIR (default: $VAVIVAZ_ROOT, or /):\n"
    "the files of the \"Modem Scripts\" folders of Users/<login name>/Library, Network/Library,\n"
    "Library and System/Library, sorted, each name once. One script per line; the default\n"
    "script is marked \"* \", the others are indented by two spaces.\n"
    "\n"
    "  --root DIR       the machine root to read\n"
    "  --default NAME   mark NAME (compared without case) instead of the chosen default\n"
    "  --help           print this text\n"
    "  --version        print the version\n"
    "\n"
    "Exit status: 0 success, 1 an error (reason on standard error), 2 a usage error.\n";

const char kProgram[] = "vz-modem-scripts";
const char kVersion[] = "vz-modem-scripts (vavivaz) " VAVIVAZ_VERSION "\n";

int fail(const std::string &message)
{
    return vztool::fail(kProgram, message);
}

int usageError(const std::string &message)
{
    return vztool::usageError(kProgram, message);
}

int listScripts(const char *defaultName, std::string &out)
{
    if (defaultName != nullptr) {
        vztool::Ref<CFStringRef> name(
            CFStringCreateWithCString(nullptr, defaultName, kCFStringEncodingUTF8));
        if (!name) return usageError("--default needs a UTF-8 name");
        MoreSCSetDefaultCCL(name.get());
    }
    vztool::Ref<CFArrayRef> scripts;
    CFIndex                 index = 0;
    OSStatus                err   = MoreSCCreateCCLArray(scripts.put(), &index);
    if (err != noErr) return fail(vztool::withCode("cannot read the modem script folders", err));
    for (CFIndex i = 0; i < CFArrayGetCount(scripts.get()); i++) {
        out += i == index ? "* " : "  ";
        // A script's name is its file's name, which anyone who can write a
        // script folder chose.
        out += vztool::printable(
            vztool::utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(scripts.get(), i))));
        out += '\n';
    }
    return vztool::kExitSuccess;
}

int run(int argc, char **argv)
{
    const char *defaultName = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return vztool::writeOut(kProgram, kUsage);
        if (arg == "--version") return vztool::writeOut(kProgram, kVersion);
        if (arg != "--root" && arg != "--default")
            return usageError("unknown argument '" + arg + "'");
        if (i + 1 >= argc) return usageError(arg + " needs a value");
        const char *value = argv[++i];
        if (arg == "--default") {
            defaultName = value;
            continue;
        }
        struct stat info;
        if (stat(value, &info) != 0 || !S_ISDIR(info.st_mode))
            return fail(std::string("no such folder: ") + value);
        setenv("VAVIVAZ_ROOT", value, 1);
    }

    std::string out;
    if (int status = listScripts(defaultName, out); status != 0) return status;
    return vztool::writeOut(kProgram, out);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        return fail("out of memory");
    }
}
