// vz-scutil: look at and drive the dynamic store of a root, as an
// administrator or a connection script would.
//
//   vz-scutil [--root DIR] list [PATTERN]
//   vz-scutil [--root DIR] show KEY
//   vz-scutil [--root DIR] set KEY [FILE|-]
//   vz-scutil [--root DIR] remove KEY
//   vz-scutil [--root DIR] --nc status SERVICE-ID
//   vz-scutil [--root DIR] --nc set SERVICE-ID connected|connecting|disconnecting|disconnected
//
// Options may stand anywhere on the line, with their value as the next word
// or after "=" (--root=DIR); "--" ends them. Every error is a message on
// standard error and exit status 1 (standard output that cannot be written
// included); a command line that does not parse is one line naming the
// problem and exit status 2.
#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTools.h>
#include <VZToolSupport.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using vztool::Ref;
using vztool::utf8;

const char *const kUsage =
    "usage: vz-scutil [--root DIR] COMMAND\n"
    "\n"
    "Looks at and changes the dynamic store of the root DIR (default: $VAVIVAZ_ROOT, or /).\n"
    "Options may stand anywhere, with their value after a space or \"=\"; \"--\" ends them.\n"
    "\n"
    "  list [PATTERN]           print the keys that PATTERN, a POSIX extended regular\n"
    "                           expression, matches whole (every key without PATTERN)\n"
    "  show KEY                 print the value of KEY as an XML property list\n"
    "  set KEY [FILE|-]         set KEY to the property list in FILE (standard input\n"
    "                           without FILE, or with -)\n"
    "  remove KEY               remove KEY\n"
    "  --nc status SERVICE-ID   print the state of the service's connection: connected,\n"
    "                           connecting, disconnecting, disconnected, or invalid for a\n"
    "                           service with no connection\n"
    "  --nc set SERVICE-ID STATE\n"
    "                           record STATE (one of the four states above) as the\n"
    "                           connection state of the service, keeping the other keys\n"
    "                           of State:/Network/Service/SERVICE-ID/PPP\n"
    "  --help                   print this text\n"
    "  --version                print the version\n"
    "\n"
    "Exit status: 0 success, 1 an error (said on standard error), 2 a usage error.\n";

struct StateName {
    const char               *name;
    SCNetworkConnectionStatus status;
};
const StateName kStates[] = {
    {"disconnected", kSCNetworkConnectionDisconnected},
    {"connecting", kSCNetworkConnectionConnecting},
    {"connected", kSCNetworkConnectionConnected},
    {"disconnecting", kSCNetworkConnectionDisconnecting},
};

int fail(const std::string &message)
{
    return vztool::fail("vz-scutil", message);
}

int failStatus(const std::string &what, int status)
{
    std::string words = vztool::platformReason(status, vztool::kAnyOperation);
    return fail(what + ": " + (words.empty() ? SCErrorString(status) : words));
}

int usageError(const std::string &what)
{
    return vztool::usageError("vz-scutil", what);
}

CFStringRef newString(const char *text)
{
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(text),
                                   static_cast<CFIndex>(std::strlen(text)), kCFStringEncodingUTF8,
                                   false);
}

bool readAll(std::FILE *file, std::string *bytes)
{
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        if (bytes->size() + n > static_cast<size_t>(kVZMaxFileBytes)) {
            errno = EFBIG;
            return false;
        }
        bytes->append(buffer, n);
    }
    return !std::ferror(file);
}

bool validServiceID(const char *serviceID)
{
    return serviceID[0] != '\0' && std::strchr(serviceID, '/') == nullptr;
}

// The store must read before anything else is said about it: the connection
// calls answer a damaged store as one that does not know the service.
int checkStoreReads(SCDynamicStoreRef store)
{
    Ref<CFArrayRef> keys(SCDynamicStoreCopyKeyList(store, CFSTR(".*")));
    if (!keys) return failStatus("cannot read the dynamic store", SCError());
    return 0;
}

int listKeys(SCDynamicStoreRef store, const char *pattern)
{
    Ref<CFStringRef> text(newString(pattern));
    if (!text) return fail("the pattern is not UTF-8");
    Ref<CFArrayRef> keys(SCDynamicStoreCopyKeyList(store, text.get()));
    if (!keys) {
        int status = SCError();
        if (status == kSCStatusInvalidArgument)
            return fail(std::string("not a POSIX extended regular expression: ") + pattern);
        return failStatus("cannot list the keys", status);
    }
    // A key is whatever a writer of the store chose: one escaped key per line.
    for (CFIndex i = 0; i < CFArrayGetCount(keys.get()); i++) {
        auto key = static_cast<CFStringRef>(CFArrayGetValueAtIndex(keys.get(), i));
        std::printf("%s\n", vztool::printable(utf8(key)).c_str());
    }
    return 0;
}

int showKey(SCDynamicStoreRef store, const char *key)
{
    Ref<CFStringRef> text(newString(key));
    if (!text) return fail("the key is not UTF-8");
    Ref<CFPropertyListRef> value(SCDynamicStoreCopyValue(store, text.get()));
    if (!value) {
        int status = SCError();
        if (status == kSCStatusNoKey) return fail(std::string("no such key: ") + key);
        return failStatus(std::string("cannot read ") + key, status);
    }
    Ref<CFDataRef> xml(CFPropertyListCreateXMLData(nullptr, value.get()));
    if (!xml) return fail(std::string("the value of ") + key + " cannot be shown");
    std::fwrite(CFDataGetBytePtr(xml.get()), 1, static_cast<size_t>(CFDataGetLength(xml.get())),
                stdout);
    return 0;
}

int setKey(SCDynamicStoreRef store, const char *key, const char *file)
{
    Ref<CFStringRef> text(newString(key));
    if (!text) return fail("the key is not UTF-8");
    std::string bytes;
    bool        fromStdin = file == nullptr || std::strcmp(file, "-") == 0;
    std::string source    = fromStdin ? "standard input" : file;
    std::FILE  *in        = fromStdin ? stdin : std::fopen(file, "rb");
    if (in == nullptr) return fail("cannot open " + source + ": " + std::strerror(errno));
    bool read      = readAll(in, &bytes);
    int  readError = errno;
    if (!fromStdin) std::fclose(in);
    if (!read) return fail("cannot read " + source + ": " + std::strerror(readError));

    Ref<CFDataRef>         data(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                             static_cast<CFIndex>(bytes.size())));
    CFStringRef            why = nullptr;
    Ref<CFPropertyListRef> value(
        data ? CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, &why)
             : nullptr);
    Ref<CFStringRef> reason(why);
    if (!value)
        return fail(source + " is not a property list" +
                    (reason ? ": " + vztool::printable(utf8(reason.get())) : std::string()));
    if (!SCDynamicStoreSetValue(store, text.get(), value.get()))
        return failStatus(std::string("cannot set ") + key, SCError());
    return 0;
}

int removeKey(SCDynamicStoreRef store, const char *key)
{
    Ref<CFStringRef> text(newString(key));
    if (!text) return fail("the key is not UTF-8");
    if (SCDynamicStoreRemoveValue(store, text.get())) return 0;
    int status = SCError();
    if (status == kSCStatusNoKey) return fail(std::string("no such key: ") + key);
    return failStatus(std::string("cannot remove ") + key, status);
}

int connectionStatus(SCDynamicStoreRef store, const char *serviceID)
{
    if (!validServiceID(serviceID))
        return fail(std::string("not a service ID: \"") + serviceID + "\"");
    if (int error = checkStoreReads(store); error != 0) return error;
    Ref<CFStringRef> id(newString(serviceID));
    if (!id) return fail("the service ID is not UTF-8");
    Ref<SCNetworkConnectionRef> connection(
        SCNetworkConnectionCreateWithServiceID(nullptr, id.get(), nullptr, nullptr));
    if (!connection) return failStatus("no connection object", SCError());
    SCNetworkConnectionStatus status = SCNetworkConnectionGetStatus(connection.get());
    for (const StateName &state : kStates) {
        if (state.status == status) {
            std::printf("%s\n", state.name);
            return 0;
        }
    }
    if (status == kSCNetworkConnectionInvalid) {
        std::printf("invalid\n");
        return 0;
    }
    return fail("the service's connection has the unknown status " + std::to_string(status));
}

struct StateEdit {
    CFStringRef key;
    SInt32      status;
    std::string problem;
};

int recordState(CFMutableDictionaryRef store, Boolean *changed, void *context)
{
    auto     *edit = static_cast<StateEdit *>(context);
    CFTypeRef old  = CFDictionaryGetValue(store, edit->key);
    if (old != nullptr && CFGetTypeID(old) != CFDictionaryGetTypeID()) {
        edit->problem = "holds something other than a dictionary";
        return kSCStatusFailed;
    }
    Ref<CFMutableDictionaryRef> entry(
        old != nullptr
            ? CFDictionaryCreateMutableCopy(nullptr, 0, static_cast<CFDictionaryRef>(old))
            : CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                        &kCFTypeDictionaryValueCallBacks));
    Ref<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberSInt32Type, &edit->status));
    if (!entry || !number) return kSCStatusFailed;
    CFDictionarySetValue(entry.get(), kVZConnectionStatusKey, number.get());
    CFDictionarySetValue(store, edit->key, entry.get());
    *changed = true;
    return kSCStatusOK;
}

int setConnectionState(const char *serviceID, const char *stateName)
{
    if (!validServiceID(serviceID))
        return fail(std::string("not a service ID: \"") + serviceID + "\"");
    const StateName *state = nullptr;
    for (const StateName &candidate : kStates)
        if (std::strcmp(candidate.name, stateName) == 0) state = &candidate;
    if (state == nullptr)
        return fail(std::string("not a connection state: \"") + stateName +
                    "\" (connected, connecting, disconnecting or disconnected)");
    Ref<CFStringRef> id(newString(serviceID));
    if (!id) return fail("the service ID is not UTF-8");
    Ref<CFStringRef> key(SCDynamicStoreKeyCreateNetworkServiceEntity(
        nullptr, kSCDynamicStoreDomainState, id.get(), kSCEntNetPPP));
    if (!key) return failStatus("cannot make the key", SCError());
    StateEdit edit{key.get(), state->status, std::string()};
    // One locked read-modify-write, so that a concurrent writer of the same
    // entry loses nothing.
    int status = VZDynamicStoreEdit(recordState, &edit);
    if (!edit.problem.empty()) return fail(utf8(key.get()) + " " + edit.problem);
    if (status != kSCStatusOK)
        return failStatus("cannot record the state of " + std::string(serviceID), status);
    return 0;
}

// The command and its words, once the options are taken out.
int run(int argc, char **argv)
{
    enum { kRoot = 256, kNetworkConnection, kHelp, kVersion };
    const struct option kOptions[] = {
        {"root", required_argument, nullptr, kRoot},
        {"nc", no_argument, nullptr, kNetworkConnection},
        {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    bool connection = false;
    opterr          = 0; // our own one-line messages
    for (;;) {
        int option = getopt_long(argc, argv, ":h", kOptions, nullptr);
        if (option == -1) break;
        switch (option) {
        case kRoot:
            if (setenv("VAVIVAZ_ROOT", optarg, 1) != 0) return fail("out of memory");
            break;
        case kNetworkConnection:
            connection = true;
            break;
        case 'h':
        case kHelp:
            std::fputs(kUsage, stdout);
            return 0;
        case kVersion:
            std::printf("vz-scutil (vavivaz) %s\n", VAVIVAZ_VERSION);
            return 0;
        case ':':
            return usageError(std::string("option ") + argv[optind - 1] + " needs a value");
        default:
            return usageError(std::string("bad option ") + argv[optind - 1]);
        }
    }
    std::vector<const char *> args(argv + optind, argv + argc);
    if (args.empty()) return usageError("no command (list, show, set, remove or --nc ...)");
    std::string command = args[0];

    Ref<SCDynamicStoreRef> store(
        SCDynamicStoreCreate(nullptr, CFSTR("vz-scutil"), nullptr, nullptr));
    if (!store) return failStatus("cannot open the dynamic store", SCError());
    if (connection) {
        if (command == "status") {
            if (args.size() != 2) return usageError("--nc status takes one SERVICE-ID");
            return connectionStatus(store.get(), args[1]);
        }
        if (command == "set") {
            if (args.size() != 3) return usageError("--nc set takes a SERVICE-ID and a STATE");
            return setConnectionState(args[1], args[2]);
        }
        return usageError("unknown --nc command \"" + command + "\" (status or set)");
    }
    if (command == "list") {
        if (args.size() > 2) return usageError("list takes at most one PATTERN");
        return listKeys(store.get(), args.size() == 2 ? args[1] : ".*");
    }
    if (command == "show") {
        if (args.size() != 2) return usageError("show takes one KEY");
        return showKey(store.get(), args[1]);
    }
    if (command == "set") {
        if (args.size() != 2 && args.size() != 3) return usageError("set takes a KEY and a FILE");
        const char *file      = args.size() == 3 ? args[2] : nullptr;
        bool        fromStdin = file == nullptr || std::strcmp(file, "-") == 0;
        // Waiting for a value typed at a terminal is never what was meant.
        if (fromStdin && isatty(STDIN_FILENO))
            return usageError("set reads the value from standard input, which is a terminal; "
                              "give a FILE or redirect the input");
        return setKey(store.get(), args[1], file);
    }
    if (command == "remove") {
        if (args.size() != 2) return usageError("remove takes one KEY");
        return removeKey(store.get(), args[1]);
    }
    return usageError("unknown command \"" + command + "\"");
}

} // namespace

int main(int argc, char **argv)
{
    int status = 1;
    try {
        status = run(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fputs("vz-scutil: out of memory\n", stderr);
        status = 1;
    }
    // Output that did not reach its destination (a full disk, a closed pipe)
    // is a failure, whatever else went well.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vz-scutil: standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}
