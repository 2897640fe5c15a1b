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
// Every error is a message on standard error and exit status 1; a command
// line that does not parse gives the usage and exit status 2.
#include "DynamicStore.h"
#include "StoreFile.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char *const kUsage =
    "usage: vz-scutil [--root DIR] COMMAND\n"
    "\n"
    "Looks at and changes the dynamic store of the root DIR (default: $VAVIVAZ_ROOT, or /).\n"
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
    "  --help                   print this text\n";

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

// An owned reference, released at the end of the scope.
template <typename T> struct Owned {
    T ref   = nullptr;
    Owned() = default;
    explicit Owned(T r) : ref(r) {}
    Owned(const Owned &)            = delete;
    Owned &operator=(const Owned &) = delete;
    ~Owned()
    {
        if (ref != nullptr) CFRelease(ref);
    }
};

int fail(const std::string &message)
{
    std::fprintf(stderr, "vz-scutil: %s\n", message.c_str());
    return 1;
}

int failStatus(const std::string &what, int status)
{
    return fail(what + ": " + SCErrorString(status));
}

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

CFStringRef newString(const char *text)
{
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(text),
                                   static_cast<CFIndex>(std::strlen(text)), kCFStringEncodingUTF8,
                                   false);
}

std::string utf8(CFStringRef text)
{
    CFIndex size =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
    std::string buffer(static_cast<size_t>(size), '\0');
    if (!CFStringGetCString(text, buffer.data(), size, kCFStringEncodingUTF8)) return "?";
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

bool readAll(std::FILE *file, std::string *bytes)
{
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes->append(buffer, n);
    return !std::ferror(file);
}

bool validServiceID(const char *serviceID)
{
    return serviceID[0] != '\0' && std::strchr(serviceID, '/') == nullptr;
}

// The store must read before anything else is said about it: the public calls
// answer a damaged store as an empty one in some places.
int checkStoreReads()
{
    vz::CFRef<CFDictionaryRef> content;
    int                        status = vz::readDynamicStore(&content);
    if (status != kSCStatusOK)
        return failStatus("cannot read the dynamic store " + vz::dynamicStorePath(), status);
    return 0;
}

int listKeys(SCDynamicStoreRef store, const char *pattern)
{
    Owned<CFStringRef> text(newString(pattern));
    if (text.ref == nullptr) return fail("the pattern is not UTF-8");
    Owned<CFArrayRef> keys(SCDynamicStoreCopyKeyList(store, text.ref));
    if (keys.ref == nullptr) {
        int status = SCError();
        if (status == kSCStatusInvalidArgument)
            return fail(std::string("not a POSIX extended regular expression: ") + pattern);
        return failStatus("cannot list the keys", status);
    }
    for (CFIndex i = 0; i < CFArrayGetCount(keys.ref); i++)
        std::printf("%s\n",
                    utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(keys.ref, i))).c_str());
    return 0;
}

int showKey(SCDynamicStoreRef store, const char *key)
{
    Owned<CFStringRef> text(newString(key));
    if (text.ref == nullptr) return fail("the key is not UTF-8");
    Owned<CFPropertyListRef> value(SCDynamicStoreCopyValue(store, text.ref));
    if (value.ref == nullptr) {
        int status = SCError();
        if (status == kSCStatusNoKey) return fail(std::string("no such key: ") + key);
        return failStatus(std::string("cannot read ") + key, status);
    }
    Owned<CFDataRef> xml(CFPropertyListCreateXMLData(nullptr, value.ref));
    if (xml.ref == nullptr) return fail(std::string("the value of ") + key + " cannot be shown");
    std::fwrite(CFDataGetBytePtr(xml.ref), 1, static_cast<size_t>(CFDataGetLength(xml.ref)),
                stdout);
    return 0;
}

int setKey(SCDynamicStoreRef store, const char *key, const char *file)
{
    Owned<CFStringRef> text(newString(key));
    if (text.ref == nullptr) return fail("the key is not UTF-8");
    std::string bytes;
    bool        fromStdin = file == nullptr || std::strcmp(file, "-") == 0;
    std::string source    = fromStdin ? "standard input" : file;
    std::FILE  *in        = fromStdin ? stdin : std::fopen(file, "rb");
    if (in == nullptr) return fail("cannot open " + source + ": " + std::strerror(errno));
    bool read = readAll(in, &bytes);
    if (!fromStdin) std::fclose(in);
    if (!read) return fail("cannot read " + source);

    Owned<CFDataRef> data(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                       static_cast<CFIndex>(bytes.size())));
    CFStringRef      why = nullptr;
    Owned<CFPropertyListRef> value(
        data.ref != nullptr
            ? CFPropertyListCreateFromXMLData(nullptr, data.ref, kCFPropertyListImmutable, &why)
            : nullptr);
    Owned<CFStringRef> reason(why);
    if (value.ref == nullptr)
        return fail(source + " is not a property list" +
                    (reason.ref != nullptr ? ": " + utf8(reason.ref) : std::string()));
    if (!SCDynamicStoreSetValue(store, text.ref, value.ref))
        return failStatus(std::string("cannot set ") + key, SCError());
    return 0;
}

int removeKey(SCDynamicStoreRef store, const char *key)
{
    Owned<CFStringRef> text(newString(key));
    if (text.ref == nullptr) return fail("the key is not UTF-8");
    if (SCDynamicStoreRemoveValue(store, text.ref)) return 0;
    int status = SCError();
    if (status == kSCStatusNoKey) return fail(std::string("no such key: ") + key);
    return failStatus(std::string("cannot remove ") + key, status);
}

int connectionStatus(const char *serviceID)
{
    if (!validServiceID(serviceID))
        return fail(std::string("not a service ID: \"") + serviceID + "\"");
    if (int error = checkStoreReads(); error != 0) return error;
    Owned<CFStringRef> id(newString(serviceID));
    if (id.ref == nullptr) return fail("the service ID is not UTF-8");
    Owned<SCNetworkConnectionRef> connection(
        SCNetworkConnectionCreateWithServiceID(nullptr, id.ref, nullptr, nullptr));
    if (connection.ref == nullptr) return failStatus("no connection object", SCError());
    SCNetworkConnectionStatus status = SCNetworkConnectionGetStatus(connection.ref);
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

int recordState(CFMutableDictionaryRef store, bool *changed, void *context)
{
    auto     *edit = static_cast<StateEdit *>(context);
    CFTypeRef old  = CFDictionaryGetValue(store, edit->key);
    if (old != nullptr && CFGetTypeID(old) != CFDictionaryGetTypeID()) {
        edit->problem = "holds something other than a dictionary";
        return kSCStatusFailed;
    }
    Owned<CFMutableDictionaryRef> entry(
        old != nullptr
            ? CFDictionaryCreateMutableCopy(nullptr, 0, static_cast<CFDictionaryRef>(old))
            : CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                        &kCFTypeDictionaryValueCallBacks));
    Owned<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberSInt32Type, &edit->status));
    if (entry.ref == nullptr || number.ref == nullptr) return kSCStatusFailed;
    CFDictionarySetValue(entry.ref, VZ_PPP_STATUS_KEY, number.ref);
    CFDictionarySetValue(store, edit->key, entry.ref);
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
    Owned<CFStringRef> id(newString(serviceID));
    if (id.ref == nullptr) return fail("the service ID is not UTF-8");
    Owned<CFStringRef> key(SCDynamicStoreKeyCreateNetworkServiceEntity(
        nullptr, kSCDynamicStoreDomainState, id.ref, kSCEntNetPPP));
    if (key.ref == nullptr) return failStatus("cannot make the key", SCError());
    StateEdit edit{key.ref, state->status, std::string()};
    // One locked read-modify-write, so that a concurrent writer of the same
    // entry loses nothing.
    int status = vz::updateDynamicStore(recordState, &edit);
    if (!edit.problem.empty()) return fail(utf8(key.ref) + " " + edit.problem);
    if (status != kSCStatusOK)
        return failStatus("cannot record the state of " + std::string(serviceID), status);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<const char *> args(argv + 1, argv + argc);
    if (args.size() >= 2 && std::strcmp(args[0], "--root") == 0) {
        setenv("VAVIVAZ_ROOT", args[1], 1);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return usage();
    std::string command = args[0];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--nc") {
        if (args.size() == 3 && std::strcmp(args[1], "status") == 0)
            return connectionStatus(args[2]);
        if (args.size() == 4 && std::strcmp(args[1], "set") == 0)
            return setConnectionState(args[2], args[3]);
        return usage();
    }

    Owned<SCDynamicStoreRef> store(
        SCDynamicStoreCreate(nullptr, CFSTR("vz-scutil"), nullptr, nullptr));
    if (store.ref == nullptr) return failStatus("cannot open the dynamic store", SCError());
    if (command == "list" && args.size() <= 2)
        return listKeys(store.ref, args.size() == 2 ? args[1] : ".*");
    if (command == "show" && args.size() == 2) return showKey(store.ref, args[1]);
    if (command == "set" && (args.size() == 2 || args.size() == 3))
        return setKey(store.ref, args[1], args.size() == 3 ? args[2] : nullptr);
    if (command == "remove" && args.size() == 2) return removeKey(store.ref, args[1]);
    return usage();
}
