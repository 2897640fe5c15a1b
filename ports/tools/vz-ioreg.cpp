// vz-ioreg: shows a root's device registry and the ports the port scanner
// finds in it, and copies the registry into a snapshot file.
//
//   vz-ioreg [--root DIR]                the registry as a tree of
//                                        "name <class>" lines, two spaces
//                                        per level
//   vz-ioreg [--root DIR] -l             the same with each entry's
//                                        properties
//   vz-ioreg [--root DIR] -c CLASS       only the entries that are a CLASS,
//                                        each with its properties
//   vz-ioreg [--root DIR] --ports        the port array, one port per line:
//                                        name, hardware, device name, MAC
//                                        address ("-" for none) and sort
//                                        value, separated by tabs
//   vz-ioreg [--root DIR] --capture FILE the registry written to FILE as a
//                                        snapshot, atomically
//
// The registry is the root's snapshot; on a live root without one, the
// running machine's devices (sysfs), where a USB device names itself. So
// every text of the registry is shown escaped where it holds what a terminal
// would act on or what would reorder a row ("\x1b", "\u202e"), and a tab
// in a port's name cannot add a column.
//
// Exit status: 0 success, 1 a failure (a snapshot that cannot be read, a scan
// that fails, a capture that cannot be written, standard output that cannot
// be written), 2 a usage error, with a one-line reason on standard error.
#include "VaviVAZPortScanner.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTools.h>
#include <VZToolSupport.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

const char kUsage[] =
    "usage: vz-ioreg [--root DIR] [-l | -c CLASS | --ports | --capture FILE]\n"
    "\n"
    "Shows the device registry of the root DIR (default: $VAVIVAZ_ROOT, or /): its snapshot\n"
    "var/run/SystemConfiguration/ioregistry.plist. A root without one has a bare registry,\n"
    "except /: there the registry is this machine's network and serial ports, read from\n"
    "sysfs ($VAVIVAZ_SYSFS, or /sys).\n"
    "\n"
    "  (no option)   the registry as a tree of \"name <class>\" lines\n"
    "  -l            the tree with each entry's properties\n"
    "  -c CLASS      only the entries that are a CLASS (or a subclass), with properties\n"
    "  --ports       the ports the port scanner makes of the registry, in order, one per\n"
    "                line: name, hardware, device name, MAC address (- for none) and sort\n"
    "                value, separated by tabs\n"
    "  --capture FILE\n"
    "                write the registry to FILE as a snapshot (atomically), for a root,\n"
    "                a bug report or a test\n"
    "  --help        print this text\n"
    "  --version     print the version\n"
    "\n"
    "Exit status: 0 success, 1 an error (reason on standard error), 2 a usage error.\n";

const char kProgram[] = "vz-ioreg";
const char kVersion[] = "vz-ioreg (vavivaz) " VAVIVAZ_VERSION "\n";

using Handle = vztool::Ref<io_object_t>;

int fail(const std::string &message)
{
    return vztool::fail(kProgram, message);
}

int usageError(const std::string &message)
{
    return vztool::usageError(kProgram, message);
}

std::string snapshotPath()
{
    char       *path = VZCopyPathUnderRoot(kVZRegistrySnapshotFile);
    std::string text = path != nullptr ? path : kVZRegistrySnapshotFile;
    std::free(path);
    return text;
}

void appendData(CFDataRef data, std::string &out)
{
    vztool::Ref<CFDataRef> owned(data);
    if (data == nullptr) return;
    out.append(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
               static_cast<size_t>(CFDataGetLength(data)));
}

int failUnreadable()
{
    return fail("cannot read the registry snapshot " + snapshotPath() +
                ": not a readable property list of registry entries");
}

void indent(std::string &out, int depth)
{
    out.append(static_cast<size_t>(depth) * 2, ' ');
}

// "name <class>"
void appendEntryLine(io_registry_entry_t entry, int depth, std::string &out)
{
    io_name_t name, className;
    if (IORegistryEntryGetName(entry, name) != kIOReturnSuccess) std::strcpy(name, "?");
    if (IOObjectGetClass(entry, className) != kIOReturnSuccess) std::strcpy(className, "?");
    indent(out, depth);
    out += vztool::printable(name);
    out += " <";
    out += vztool::printable(className);
    out += ">\n";
}

// One "\"key\" = value" line per property, keys in order.
void appendProperties(io_registry_entry_t entry, int depth, std::string &out)
{
    CFMutableDictionaryRef properties = nullptr;
    if (IORegistryEntryCreateCFProperties(entry, &properties, nullptr, 0) != kIOReturnSuccess)
        return;
    vztool::Ref<CFMutableDictionaryRef> owned(properties);
    appendData(VZPropertyListCreateEntriesListing(properties, depth), out);
}

void appendTree(io_registry_entry_t entry, int depth, bool withProperties, std::string &out)
{
    appendEntryLine(entry, depth, out);
    if (withProperties) appendProperties(entry, depth + 1, out);
    Handle children;
    if (IORegistryEntryGetChildIterator(entry, kIOServicePlane, children.put()) != kIOReturnSuccess)
        return;
    while (io_registry_entry_t child = IOIteratorNext(children.get())) {
        Handle owned(child);
        appendTree(child, depth + 1, withProperties, out);
    }
}

int showTree(bool withProperties, std::string &out)
{
    Handle root(IORegistryGetRootEntry(kIOMasterPortDefault));
    if (!root) return failUnreadable();
    appendTree(root.get(), 0, withProperties, out);
    return 0;
}

int showClass(const char *className, std::string &out)
{
    Handle        iterator;
    kern_return_t status = IOServiceGetMatchingServices(
        kIOMasterPortDefault, IOServiceMatching(className), iterator.put());
    if (status == kIOReturnError) return failUnreadable();
    if (status != kIOReturnSuccess) return fail("cannot match the class " + std::string(className));
    while (io_registry_entry_t entry = IOIteratorNext(iterator.get())) {
        Handle owned(entry);
        appendEntryLine(entry, 0, out);
        appendProperties(entry, 1, out);
    }
    return 0;
}

// The value at key of a port record as one column: text escaped, a number
// in decimal, none when there is no value.
std::string recordText(CFDictionaryRef port, CFStringRef key, const char *none)
{
    CFTypeRef value = CFDictionaryGetValue(port, key);
    if (value == nullptr) return none;
    if (CFGetTypeID(value) == CFStringGetTypeID())
        return vztool::printable(vztool::utf8(static_cast<CFStringRef>(value)));
    SInt32 number = 0;
    if (CFGetTypeID(value) == CFNumberGetTypeID() &&
        CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &number))
        return std::to_string(number);
    return "?";
}

int showPorts(std::string &out)
{
    CFArrayRef ports = nullptr;
    OSStatus   err   = MoreSCCreatePortArray(&ports);
    if (err != noErr) return fail(vztool::withCode("cannot scan the ports", err));
    vztool::Ref<CFArrayRef> owned(ports);
    for (CFIndex i = 0; i < CFArrayGetCount(ports); i++) {
        auto port = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(ports, i));
        out += recordText(port, kSCPropUserDefinedName, "?") + "\t" +
               recordText(port, kSCPropNetInterfaceHardware, "?") + "\t" +
               recordText(port, kSCPropNetInterfaceDeviceName, "?") + "\t" +
               recordText(port, kSCPropMACAddress, "-") + "\t" +
               recordText(port, kVaviVAZPortSortOrderKey, "?") + "\n";
    }
    return 0;
}

int capture(const char *path)
{
    CFDictionaryRef tree   = nullptr;
    IOReturn        status = VZRegistryCreateSnapshot(&tree);
    if (status == kIOReturnError) return failUnreadable();
    if (status != kIOReturnSuccess) return fail("out of memory");
    vztool::Ref<CFDictionaryRef> ownedTree(tree);
    vztool::Ref<CFDataRef>       xml(CFPropertyListCreateXMLData(nullptr, tree));
    if (!xml) return fail("the registry holds a value that a snapshot cannot carry");
    Boolean replaced = false;
    if (int error = VZFileReplace(path, xml.get(), 0644, &replaced); error != 0)
        return fail(std::string("cannot write ") + path + ": " + VZFileErrorString(error) +
                    (replaced ? " (written, but perhaps not yet on disk)" : ""));
    return 0;
}

int run(int argc, char **argv)
{
    enum class Mode { Tree, TreeWithProperties, Class, Ports, Capture } mode = Mode::Tree;
    int         modes                                                        = 0;
    const char *className                                                    = nullptr;
    const char *capturePath                                                  = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return vztool::writeOut(kProgram, kUsage);
        if (arg == "--version") return vztool::writeOut(kProgram, kVersion);
        if (arg == "--root" || arg == "-c" || arg == "--capture") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            const char *value = argv[++i];
            if (arg == "-c") {
                className = value;
                mode      = Mode::Class;
                modes++;
                continue;
            }
            if (arg == "--capture") {
                if (*value == '\0') return usageError("--capture needs a file name");
                capturePath = value;
                mode        = Mode::Capture;
                modes++;
                continue;
            }
            struct stat info;
            if (stat(value, &info) != 0 || !S_ISDIR(info.st_mode))
                return fail(std::string("no such folder: ") + value);
            setenv("VAVIVAZ_ROOT", value, 1);
        } else if (arg == "-l") {
            mode = Mode::TreeWithProperties;
            modes++;
        } else if (arg == "--ports") {
            mode = Mode::Ports;
            modes++;
        } else {
            return usageError("unknown argument '" + arg + "'");
        }
    }
    if (modes > 1) return usageError("-l, -c, --ports and --capture exclude each other");

    std::string out;
    int         status = 0;
    switch (mode) {
    case Mode::Tree:
    case Mode::TreeWithProperties:
        status = showTree(mode == Mode::TreeWithProperties, out);
        break;
    case Mode::Class:
        status = showClass(className, out);
        break;
    case Mode::Ports:
        status = showPorts(out);
        break;
    case Mode::Capture:
        return capture(capturePath);
    }
    if (status != 0) return status;
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
