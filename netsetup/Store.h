// Store.h: the command's view of the network preferences store: one session
// per command, the locations and services it reads, and the resolution of a
// name or an ID given on the command line.
//
// A session is one outermost bracket of the model (MoreSCOpen/MoreSCClose),
// so every read of a command sees one snapshot, and every library call made
// inside it nests in it. A change session holds the store's lock from its
// snapshot to its commit: another process that changes the store meanwhile
// waits (or, with --no-wait, fails with 3002), so no change is ever lost, and
// a snapshot found stale when the lock is finally taken is simply taken again
// (nothing has been decided on it yet). A change that fails half way is
// undone in the snapshot (a restore point taken when the session opened)
// before the bracket closes: the model commits a bracket in which any inner
// writer succeeded, and the command keeps all of its change or none of it.
#ifndef VZ_NETSETUP_STORE_H
#define VZ_NETSETUP_STORE_H

#include "CFText.h"
#include "Command.h"

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace netsetup {

class StoreSession {
  public:
    enum class Kind { Read, Change };

    // Opens the bracket; throws Failure when the store cannot be opened or
    // (for a change) locked.
    StoreSession(const Context &context, Kind kind);
    // Closes a bracket that Finish did not: a change is undone first.
    ~StoreSession();
    StoreSession(const StoreSession &)            = delete;
    StoreSession &operator=(const StoreSession &) = delete;

    // For changes the command made through the platform directly, which the
    // model does not know of.
    void MarkChanged() { changed_ = true; }
    // Closes the bracket; a change is committed and applied. Throws Failure
    // when that fails (then nothing was written).
    void Finish();

  private:
    void OpenForChange();

    const Context &context_;
    Kind           kind_;
    bool           open_    = false;
    bool           changed_ = false;
};

// The path of the store under the root, for messages.
std::string StorePath(const Context &context);

// Throws Failure("<what>: <words> (error N)") when code is not noErr.
void Check(OSStatus code, const std::string &what);

struct Location {
    std::string                id;
    std::optional<std::string> name;
    bool                       current      = false;
    size_t                     serviceCount = 0;
};

struct ProxySetting {
    const char                *kind    = "";
    bool                       enabled = false;
    std::optional<std::string> host;
    std::optional<long long>   port;
};

// One service of a location as the store holds it, read through the set's
// link. Values of the wrong kind read as absent.
struct Service {
    std::string                id;           // the set's own ID for it (in its service order)
    size_t                     position = 0; // in the service order, from 1
    std::optional<std::string> name;
    bool                       active = true;
    std::optional<std::string> device, hardware, type, subType;

    bool                       hasIPv4 = false;
    std::optional<std::string> ipv4Method;
    bool                       ipv4Active = true;
    std::vector<std::string>   addresses, subnetMasks;
    std::optional<std::string> router;

    bool                     hasDNS = false;
    std::vector<std::string> dnsServers, searchDomains;

    bool                      hasProxies = false;
    bool                      ftpPassive = false;
    std::vector<std::string>  proxyExceptions;
    std::vector<ProxySetting> proxies; // the six kinds, in kProxyKinds order

    bool                       hasPPP    = false;
    bool                       pppActive = true;
    std::optional<std::string> remoteAddress, account; // the number a modem dials
    std::optional<std::string> apn;                    // the access point name kept with it
    bool                       hasPassword = false;

    bool                       hasModem = false;
    std::optional<std::string> script;

    std::vector<std::string> entities; // protocols, in the store's order
};

// A proxy kind as the command line names it, with the keys of its three
// settings in the proxies entity.
struct ProxyKind {
    const char *name;
    CFStringRef enableKey, hostKey, portKey;
};
extern const ProxyKind kProxyKinds[6];

// Every location. No sets level at all is no location.
std::vector<Location> ReadLocations();
// The location --location names, or the current one.
Location SelectedLocation(const Context &context);
// The location NAME-OR-ID names among locations.
const Location &ResolveLocation(const std::vector<Location> &locations,
                                const std::string           &nameOrID);
// The location as it is now in the session, its service count included.
Location RereadLocation(const Location &location);
// The location --location names, or the current one, which must be the
// current one: command works on the running system's location only.
Location CurrentLocation(const Context &context, const std::string &command);
// Fails when another location than except already has the name.
void CheckLocationNameFree(const std::vector<Location> &locations, const std::string &name,
                           const std::string &exceptID = std::string());

// The services of a location, in its service order.
std::vector<Service> ReadServices(const Location &location);
// One service (position is left 0).
Service        ReadService(const Location &location, const std::string &serviceID);
const Service &ResolveService(const std::vector<Service> &services, const Location &location,
                              const std::string &nameOrID);
void           CheckServiceNameFree(const std::vector<Service> &services, const Location &location,
                                    const std::string &name, const std::string &exceptID = std::string());

// A location or service as a message names it: "Office" (B83C1D04-...).
std::string Describe(const Location &location);
std::string Describe(const Service &service);

} // namespace netsetup

#endif
