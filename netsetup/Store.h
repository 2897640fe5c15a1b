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
// (nothing has been decided on it yet). A command that fails half way
// abandons the bracket (MoreSCAbandon) before it closes it: the model would
// otherwise commit and apply a bracket in which any inner writer succeeded,
// and the command keeps all of its change or none of it.
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
    // Closes a bracket that Finish did not, abandoning it first.
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
    size_t                     serviceCount = 0; // the services it links, each once
    // Why the location cannot be read whole (its record, its services level
    // or its service order), in words with the library's code; none when it
    // can.
    std::optional<std::string> damage;
    // The damage is the service order's own (absent, or no list), and a
    // new one can be written in its place.
    bool orderDamaged = false;
    // Where its service order, as another program may have written it,
    // disagrees with the services it links: an ID it does not link, an ID
    // named twice, a linked service it leaves out. The services are listed
    // all the same, each once; 'service order' mends the order.
    std::vector<std::string> orderProblems;
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
    std::string id;           // the set's own ID for it (in its service order)
    size_t      position = 0; // in the service order, from 1; 0: the order leaves it out
    // Why its link or record cannot be read, in words with the library's
    // code; the rest is then unknown (absent).
    std::optional<std::string> damage;
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
    std::vector<ProxySetting> proxies; // every kind, in the builders' order (MoreSCGetProxyKinds)

    bool                       hasPPP    = false;
    bool                       pppActive = true;
    std::optional<std::string> remoteAddress, account; // the number a modem dials
    std::optional<std::string> apn;                    // the access point name kept with it
    bool                       hasPassword = false;

    bool                       hasModem = false;
    std::optional<std::string> script;

    std::vector<std::string> entities; // protocols, in the store's order
};

// Every location. No sets level at all is no location. withServices false:
// only their IDs, names and which is current, for finding one (the locations
// the functions below hand out have their services counted).
std::vector<Location> ReadLocations(bool withServices = true);
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

// The services the location links, each once: those of its service order
// first, in that order (positions from 1), then those the order leaves out,
// by ID (position 0). A service whose link or record cannot be read is
// listed with its damage. Only a location whose services cannot be listed
// at all is a Failure.
std::vector<Service> ReadServices(const Location &location);
// Writes the location's service order as ReadServices lists its services,
// when the stored order disagrees with them or is damaged: the model's
// writers that add or remove a service need the two to agree. Says so in a
// note. A Failure when the order cannot be written.
void MendServiceOrder(Context &context, const Location &location);
// Notes on standard error for what a listing could not read whole: the
// location's damage and order problems, and each damaged service. Damage
// makes the command exit 1 after its output.
void NoteDamage(Context &context, const Location &location,
                const std::vector<Service> &services = {});
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
