// Store.cpp: the command's session on the store, the reads of locations and
// services, and the resolution of names and IDs.
#include "Store.h"

#include "ApplyReport.h"

#include "MoreCFQ.h"
#include "VaviVAZ.h"
#include "VaviVAZDigest.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <span>
#include <unordered_set>

namespace netsetup {

namespace {

// A snapshot found stale when the lock is taken is taken again; this many
// times in a row means the store is being rewritten without end.
constexpr int kOpenAttempts = 100;

// Whether a snapshot of the store can be read, without the lock.
bool StoreReads()
{
    OSStatus err = MoreSCOpen(false, false);
    MoreSCClose(&err, false);
    return err == noErr;
}

// Why the store could not be opened: reason is the errno the platform kept
// for code (0: none). A refused change needs telling from a refused read:
// on a read-only root, or as a user who may only read, the read works and
// the lock is refused.
std::string OpenFailureWords(const Context &context, OSStatus code, int reason, bool change)
{
    std::string store   = "the preferences store " + StorePath(context);
    std::string number  = " (error " + vztool::codeNumber(code) + ")";
    bool        refused = reason == EACCES || reason == EPERM;
    if (change && (reason == EROFS || reason == ENOSPC || (refused && StoreReads())))
        return "cannot change " + store + ": " +
               vztool::reasonWords(reason, vztool::kChangeOperation) + number;
    if (reason != 0)
        return "cannot read " + store + ": " + vztool::reasonWords(reason, vztool::kReadOperation) +
               number;
    if (code == kSCStatusFailed)
        return "cannot read " + store + ": it is damaged or not a property list" + number;
    if (code == kSCStatusAccessError)
        return "cannot read " + store + ": access was refused" + number;
    return WithCode("cannot open " + store, code);
}

} // namespace

std::string StorePath(const Context &context)
{
    std::string root = context.root;
    if (root.empty()) {
        Ref<CFStringRef> platformRoot(VZCopyRootPath());
        if (platformRoot) root = Utf8(platformRoot.get());
    }
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root + "/Library/Preferences/SystemConfiguration/preferences.plist";
}

void Check(OSStatus code, const std::string &what)
{
    if (code != noErr) throw Failure(what, code);
}

// ---------------------------------------------------------------------------
// The session.

StoreSession::StoreSession(const Context &context, Kind kind) : context_(context), kind_(kind)
{
    if (kind_ == Kind::Change) {
        OpenForChange();
        return;
    }
    OSStatus err = MoreSCOpen(false, false);
    if (err != noErr) {
        int reason = err == SCError() ? VZGetLastSystemError() : 0;
        MoreSCClose(&err, false);
        throw Failure(OpenFailureWords(context_, err, reason, false));
    }
    open_ = true;
}

void StoreSession::OpenForChange()
{
    for (int attempt = 1;; attempt++) {
        OSStatus err = MoreSCOpen(true, !context_.noWait);
        if (err == noErr) break;
        // Taken before the close, which may fail in its turn.
        int reason = err == SCError() ? VZGetLastSystemError() : 0;
        MoreSCClose(&err, false);
        if (err == kSCStatusStale && attempt < kOpenAttempts) continue;
        if (err == kSCStatusPrefsBusy || err == kSCStatusStale)
            throw Failure(
                WithCode("cannot change the preferences store " + StorePath(context_), err));
        throw Failure(OpenFailureWords(context_, err, reason, true));
    }
    open_ = true;
}

void StoreSession::Finish()
{
    OSStatus err = noErr;
    if (kind_ == Kind::Change) {
        // The commit is made here, apart from the apply that the bracket's
        // close makes, so that a failure says which of the two failed: a
        // failed commit wrote nothing (the destructor then abandons the
        // bracket), a failed apply comes after the change was saved.
        if (!SCPreferencesCommitChanges(MoreSCGetSCPreferencesRef()))
            throw Failure("cannot save the preferences store " + StorePath(context_),
                          MoreSCErrorBoolean(false), vztool::kChangeOperation);
    }
    open_ = false;
    MoreSCClose(&err, kind_ == Kind::Change && changed_);
    if (err != noErr)
        ThrowApplyFailure("the change was saved, but the running system could not be told of it",
                          err);
}

StoreSession::~StoreSession()
{
    if (!open_) return;
    // A command that failed: nothing of it is kept, not even what a recipe
    // or another writer of the model kept for commit before a later step
    // failed, and the running system is told of nothing.
    (void)MoreSCAbandon();
    OSStatus err = kSCStatusFailed; // nothing of this bracket is to be kept
    MoreSCClose(&err, false);
}

// ---------------------------------------------------------------------------
// The services a location links and its service order.

namespace {

// A set's services as its links and its order give them. Stores written by
// other programs may disagree with what this library writes: an order that
// leaves out a linked service (the running system starts it all the same),
// names one twice, names an ID the set does not link, or is damaged. Every
// linked service is listed once, and the order can be mended to list
// exactly those.
struct Layout {
    std::vector<std::string> ordered;           // linked, in the order's order, each once
    std::vector<std::string> unordered;         // linked, left out by the order, by ID
    bool                     linksRead = false; // the services level read, or absent
    bool                     orderRead = false; // the order read as an array
    // The order is absent or not an array in a global IPv4 entity that can
    // be read: the place to write a mended one exists.
    bool                       orderBroken = false;
    std::optional<std::string> damage;
    std::vector<std::string>   problems; // the order's, when it was read

    bool Mendable() const { return linksRead && (orderRead ? !problems.empty() : orderBroken); }
};

Layout ReadLayout(CFStringRef setID)
{
    Layout                   layout;
    std::vector<std::string> linked;
    Ref<CFDictionaryRef>     links;
    OSStatus                 err = MoreSCCopyServicesDict(setID, links.put(), nullptr);
    if (err == noErr) {
        CFIndex                   count = CFDictionaryGetCount(links.get());
        std::vector<const void *> keys(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(links.get(), keys.data(), nullptr);
        for (const void *key : keys)
            if (CFGetTypeID(key) == CFStringGetTypeID())
                linked.push_back(Utf8(static_cast<CFStringRef>(key)));
        std::sort(linked.begin(), linked.end());
    }
    // A set without a services level links nothing.
    layout.linksRead = err == noErr || err == kSCStatusNoKey;
    if (!layout.linksRead) layout.damage = WithCode("its services cannot be read", err);

    Ref<CFArrayRef> order;
    err              = MoreSCCopyServicesDict(setID, nullptr, order.put());
    layout.orderRead = err == noErr;
    if (!layout.orderRead) {
        // The order is reported damaged, and may be written anew, only when
        // the entity that holds it shows it is: a failure to read it for
        // another reason (out of memory) must not make a change drop it.
        Ref<CFDictionaryRef> global;
        OSStatus  globalErr = MoreSCCopyEntity(setID, nullptr, kSCEntNetIPv4, global.put());
        CFTypeRef value     = globalErr == noErr
                                  ? CFDictionaryGetValue(global.get(), kSCPropNetServiceOrder)
                                  : nullptr;
        layout.orderBroken =
            globalErr == noErr && (value == nullptr || CFGetTypeID(value) != CFArrayGetTypeID());
        // A set of another program's with neither services nor an order is
        // an empty one.
        bool empty = globalErr == kSCStatusNoKey && layout.linksRead && linked.empty();
        if (layout.orderBroken)
            layout.damage = layout.damage.value_or(WithCode(
                value == nullptr ? "it has no service order" : "its service order is no list",
                kCFQErrorObjectNotMade));
        else if (!empty)
            layout.damage =
                layout.damage.value_or(WithCode("its service order cannot be read", err));
    }

    // Without the links there is nothing to hold the order against.
    std::unordered_set<std::string> isLinked(linked.begin(), linked.end()), listed;
    bool                            compare = layout.orderRead && layout.linksRead;
    for (CFIndex i = 0; compare && i < CFArrayGetCount(order.get()); i++) {
        CFTypeRef entry = CFArrayGetValueAtIndex(order.get(), i);
        if (CFGetTypeID(entry) != CFStringGetTypeID()) {
            layout.problems.push_back("holds an entry that is no service ID");
            continue;
        }
        std::string id = Utf8(static_cast<CFStringRef>(entry));
        if (!isLinked.count(id))
            layout.problems.push_back("names " + id + ", which the location does not link");
        else if (!listed.insert(id).second)
            layout.problems.push_back("names " + id + " more than once");
        else
            layout.ordered.push_back(id);
    }
    for (const std::string &id : linked) {
        if (listed.count(id)) continue;
        layout.unordered.push_back(id);
        if (compare) layout.problems.push_back("leaves out " + id);
    }
    return layout;
}

std::string Joined(const std::vector<std::string> &items)
{
    std::string out;
    for (const std::string &item : items)
        out += (out.empty() ? "" : ", ") + item;
    return out;
}

} // namespace

void MendServiceOrder(Context &context, const Location &location)
{
    Ref<CFStringRef> setID  = NewString(location.id);
    Layout           layout = ReadLayout(setID.get());
    if (!layout.Mendable()) return;
    std::vector<std::string> order = layout.ordered;
    order.insert(order.end(), layout.unordered.begin(), layout.unordered.end());
    Check(MoreSCSetServicesDict(setID.get(), nullptr, NewStringArray(order).get()),
          "cannot mend the service order of location " + Describe(location));
    context.notes.push_back("mended the service order of location " + Describe(location) +
                            ": it lists the " + std::to_string(order.size()) +
                            " services the location links, each once");
}

void NoteDamage(Context &context, const Location &location, const std::vector<Service> &services)
{
    if (location.damage) {
        context.notes.push_back(
            "location " + Describe(location) + ": " + *location.damage +
            (location.orderDamaged ? "; 'vz-netsetup service order' writes a new one" : ""));
        context.damaged = true;
    }
    if (!location.orderProblems.empty())
        context.notes.push_back("the service order of location " + Describe(location) + " " +
                                Joined(location.orderProblems) +
                                "; 'vz-netsetup service order' mends it");
    for (const Service &service : services) {
        if (!service.damage) continue;
        context.notes.push_back("the service " + service.id + " of location " + Describe(location) +
                                ": " + *service.damage);
        context.damaged = true;
    }
}

// ---------------------------------------------------------------------------
// Locations.

namespace {

// The location's service count, damage and order problems.
void ReadLocationServices(Location *location)
{
    Layout layout           = ReadLayout(NewString(location->id).get());
    location->serviceCount  = layout.ordered.size() + layout.unordered.size();
    location->damage        = layout.damage;
    location->orderDamaged  = layout.orderBroken;
    location->orderProblems = layout.problems;
}

} // namespace

std::vector<Location> ReadLocations(bool withServices)
{
    std::vector<Location> locations;
    Ref<CFDictionaryRef>  sets;
    OSStatus              err = MoreSCCopySetsDict(sets.put());
    if (err == kSCStatusNoKey) return locations;
    Check(err, "cannot read the locations");

    Ref<CFStringRef> current;
    err = MoreSCCopyCurrentSet(current.put());
    // No current set recorded, or one recorded in a form that names no set:
    // no location is marked.
    if (err != noErr) current.reset();

    CFIndex                   count = CFDictionaryGetCount(sets.get());
    std::vector<const void *> ids(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(sets.get(), ids.data(), values.data());
    for (CFIndex i = 0; i < count; i++) {
        if (CFGetTypeID(ids[i]) != CFStringGetTypeID()) continue;
        auto     id = static_cast<CFStringRef>(ids[i]);
        Location location;
        location.id      = Utf8(id);
        location.current = current && CFEqual(current.get(), id);
        // One location that cannot be read whole costs only itself: it is
        // listed with what could be read, and can be renamed or deleted.
        if (CFGetTypeID(values[i]) == CFDictionaryGetTypeID()) {
            location.name =
                StringValue(static_cast<CFDictionaryRef>(values[i]), kSCPropUserDefinedName);
            if (withServices) ReadLocationServices(&location);
        } else {
            location.damage = WithCode("its record is no dictionary", kCFQErrorObjectNotMade);
        }
        locations.push_back(std::move(location));
    }
    // By name, then by ID: the store's own order of its sets means nothing.
    std::sort(locations.begin(), locations.end(), [](const Location &a, const Location &b) {
        return std::tie(a.name, a.id) < std::tie(b.name, b.id);
    });
    return locations;
}

namespace {

// The location with its services read.
Location WithServices(Location location)
{
    if (!location.damage) ReadLocationServices(&location);
    return location;
}

} // namespace

Location SelectedLocation(const Context &context)
{
    std::vector<Location> locations = ReadLocations(false);
    if (!context.location.empty())
        return WithServices(ResolveLocation(locations, context.location));
    for (const Location &location : locations)
        if (location.current) return WithServices(location);
    Ref<CFStringRef> current;
    OSStatus         err = MoreSCCopyCurrentSet(current.put());
    if (err == kSCStatusNoKey)
        throw Failure("no current location is recorded; name one with --location");
    Check(err, "cannot find the current location");
    throw Failure("the current location " + Quote(Utf8(current.get())) +
                  " does not exist; name one with --location");
}

Location CurrentLocation(const Context &context, const std::string &command)
{
    Location location = SelectedLocation(context);
    if (!location.current)
        throw Failure(command + " works on the current location only, and " + Describe(location) +
                      " is not it (see 'vz-netsetup location switch')");
    return location;
}

const Location &ResolveLocation(const std::vector<Location> &locations, const std::string &nameOrID)
{
    for (const Location &location : locations)
        if (location.id == nameOrID) return location;
    std::string                   key = NameKey(nameOrID);
    std::vector<const Location *> named;
    for (const Location &location : locations)
        if (NameMatches(location.name, key)) named.push_back(&location);
    if (named.size() == 1) return *named.front();
    if (named.empty()) throw Failure("no location is named " + Quote(nameOrID));
    std::string ids;
    for (const Location *location : named)
        ids += (ids.empty() ? "" : ", ") + location->id;
    throw Failure("the name " + Quote(nameOrID) + " is ambiguous: " + std::to_string(named.size()) +
                  " locations have it (" + ids + "); name one by its ID");
}

Location RereadLocation(const Location &location)
{
    return WithServices(ResolveLocation(ReadLocations(false), location.id));
}

void CheckLocationNameFree(const std::vector<Location> &locations, const std::string &name,
                           const std::string &exceptID)
{
    std::string key = NameKey(name);
    for (const Location &location : locations)
        if (NameMatches(location.name, key) && location.id != exceptID)
            throw Failure("a location named " + Quote(name) + " exists already (" + location.id +
                          ")");
    CheckNameIsNoID(name);
}

// ---------------------------------------------------------------------------
// Services.

namespace {

// Active means without the inactive mark, whatever its value.
bool IsActive(CFDictionaryRef dict)
{
    return !CFDictionaryContainsKey(dict, kSCResvInactive);
}

void DecodeService(CFDictionaryRef dict, Service *service)
{
    service->name   = StringValue(dict, kSCPropUserDefinedName);
    service->active = IsActive(dict);

    CFIndex                   count = CFDictionaryGetCount(dict);
    std::vector<const void *> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
    for (CFIndex i = 0; i < count; i++)
        if (CFGetTypeID(keys[i]) == CFStringGetTypeID() &&
            CFGetTypeID(values[i]) == CFDictionaryGetTypeID())
            service->entities.push_back(Utf8(static_cast<CFStringRef>(keys[i])));
    // By name: a snapshot's own order of keys changes when it is written.
    std::sort(service->entities.begin(), service->entities.end());

    if (CFDictionaryRef interface = DictionaryValue(dict, kSCEntNetInterface)) {
        service->device   = StringValue(interface, kSCPropNetInterfaceDeviceName);
        service->hardware = StringValue(interface, kSCPropNetInterfaceHardware);
        service->type     = StringValue(interface, kSCPropNetInterfaceType);
        service->subType  = StringValue(interface, kSCPropNetInterfaceSubType);
    }
    if (CFDictionaryRef ipv4 = DictionaryValue(dict, kSCEntNetIPv4)) {
        service->hasIPv4     = true;
        service->ipv4Method  = StringValue(ipv4, kSCPropNetIPv4ConfigMethod);
        service->ipv4Active  = IsActive(ipv4);
        service->addresses   = StringsValue(ipv4, kSCPropNetIPv4Addresses);
        service->subnetMasks = StringsValue(ipv4, kSCPropNetIPv4SubnetMasks);
        service->router      = StringValue(ipv4, kSCPropNetIPv4Router);
    }
    if (CFDictionaryRef dns = DictionaryValue(dict, kSCEntNetDNS)) {
        service->hasDNS        = true;
        service->dnsServers    = StringsValue(dns, kSCPropNetDNSServerAddresses);
        service->searchDomains = StringsValue(dns, kSCPropNetDNSSearchDomains);
    }
    if (CFDictionaryRef ppp = DictionaryValue(dict, kSCEntNetPPP)) {
        service->hasPPP        = true;
        service->pppActive     = IsActive(ppp);
        service->remoteAddress = StringValue(ppp, kSCPropNetPPPCommRemoteAddress);
        service->account       = StringValue(ppp, kSCPropNetPPPAuthName);
        service->apn           = StringValue(ppp, kVZPropNetPPPAccessPointName);
        // A process that may not read the store's secrets sees the marker
        // where the password was.
        service->hasPassword = CFDictionaryContainsKey(ppp, kSCPropNetPPPAuthPassword) ||
                               CFDictionaryContainsKey(ppp, kVZPropNetPPPAuthPasswordSecret);
    }
    if (CFDictionaryRef modem = DictionaryValue(dict, kSCEntNetModem)) {
        service->hasModem = true;
        service->script   = StringValue(modem, kSCPropNetModemConnectionScript);
    }
    if (CFDictionaryRef proxies = DictionaryValue(dict, kSCEntNetProxies)) {
        service->hasProxies      = true;
        service->ftpPassive      = IntegerValue(proxies, kSCPropNetProxiesFTPPassive).value_or(0);
        service->proxyExceptions = StringsValue(proxies, kSCPropNetProxiesExceptionsList);
        CFIndex                count = 0;
        const MoreSCProxyKind *kinds = MoreSCGetProxyKinds(&count);
        for (const MoreSCProxyKind &kind : std::span(kinds, static_cast<size_t>(count))) {
            ProxySetting setting;
            setting.kind    = kind.name;
            setting.enabled = IntegerValue(proxies, kind.enableKey).value_or(0) != 0;
            setting.host    = StringValue(proxies, kind.proxyKey);
            setting.port    = IntegerValue(proxies, kind.portKey);
            service->proxies.push_back(setting);
        }
    }
}

} // namespace

namespace {

// A service of a listing: one whose link or record cannot be read is listed
// with its damage.
Service ReadListedService(CFStringRef setID, const std::string &id, size_t position)
{
    Service service;
    service.id       = id;
    service.position = position;
    Ref<CFDictionaryRef> dict;
    OSStatus             err = MoreSCCopyEntitiesDict(setID, NewString(id).get(), dict.put());
    if (err == noErr)
        DecodeService(dict.get(), &service);
    else
        service.damage = WithCode("its link or record cannot be read", err);
    return service;
}

Service ReadServiceOfSet(const Location &location, CFStringRef setID, CFStringRef serviceID)
{
    Service service;
    service.id = Utf8(serviceID);
    Ref<CFDictionaryRef> dict;
    Check(MoreSCCopyEntitiesDict(setID, serviceID, dict.put()),
          "cannot read the service " + service.id + " of location " + Describe(location));
    DecodeService(dict.get(), &service);
    return service;
}

} // namespace

Service ReadService(const Location &location, const std::string &serviceID)
{
    return ReadServiceOfSet(location, NewString(location.id).get(), NewString(serviceID).get());
}

std::vector<Service> ReadServices(const Location &location)
{
    Ref<CFStringRef> setID  = NewString(location.id);
    Layout           layout = ReadLayout(setID.get());
    if (!layout.linksRead)
        throw Failure("cannot list the services of location " + Describe(location) + ": " +
                      *layout.damage);
    std::vector<Service> services;
    services.reserve(layout.ordered.size() + layout.unordered.size());
    for (size_t i = 0; i < layout.ordered.size(); i++)
        services.push_back(ReadListedService(setID.get(), layout.ordered[i], i + 1));
    for (const std::string &id : layout.unordered)
        services.push_back(ReadListedService(setID.get(), id, 0));
    return services;
}

const Service &ResolveService(const std::vector<Service> &services, const Location &location,
                              const std::string &nameOrID)
{
    for (const Service &service : services)
        if (service.id == nameOrID) return service;
    std::string                  key = NameKey(nameOrID);
    std::vector<const Service *> named;
    for (const Service &service : services)
        if (NameMatches(service.name, key)) named.push_back(&service);
    if (named.size() == 1) return *named.front();
    if (named.empty())
        throw Failure("no service is named " + Quote(nameOrID) + " in location " +
                      Describe(location));
    std::string ids;
    for (const Service *service : named)
        ids += (ids.empty() ? "" : ", ") + service->id;
    throw Failure("the name " + Quote(nameOrID) + " is ambiguous: " + std::to_string(named.size()) +
                  " services of location " + Describe(location) + " have it (" + ids +
                  "); name one by its ID");
}

void CheckServiceNameFree(const std::vector<Service> &services, const Location &location,
                          const std::string &name, const std::string &exceptID)
{
    std::string key = NameKey(name);
    for (const Service &service : services)
        if (NameMatches(service.name, key) && service.id != exceptID)
            throw Failure("a service named " + Quote(name) + " exists already in location " +
                          Describe(location) + " (" + service.id + ")");
    CheckNameIsNoID(name);
}

std::string Describe(const Location &location)
{
    if (!location.name) return location.id;
    return Quote(*location.name) + " (" + location.id + ")";
}

std::string Describe(const Service &service)
{
    if (!service.name) return service.id;
    return Quote(*service.name) + " (" + service.id + ")";
}

} // namespace netsetup
