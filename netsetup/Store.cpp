// Store.cpp: the command's session on the store, the reads of locations and
// services, and the resolution of names and IDs.
#include "Store.h"

#include "MoreCFQ.h"
#include "VaviVAZ.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <algorithm>
#include <cstdlib>

namespace netsetup {

namespace {

// A snapshot found stale when the lock is taken is taken again; this many
// times in a row means the store is being rewritten without end.
constexpr int kOpenAttempts = 100;

std::string OpenFailureWords(const Context &context, OSStatus code)
{
    std::string store = "the preferences store " + StorePath(context);
    switch (code) {
    case kSCStatusFailed:
        return "cannot read " + store + ": it is damaged or not a property list (error 1001)";
    case kSCStatusAccessError:
        return "cannot read " + store + ": access was refused (error 1003)";
    default:
        return WithCode("cannot open " + store, code);
    }
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
        MoreSCClose(&err, false);
        throw Failure(OpenFailureWords(context_, err));
    }
    open_ = true;
}

void StoreSession::OpenForChange()
{
    for (int attempt = 1;; attempt++) {
        OSStatus err = MoreSCOpen(true, !context_.noWait);
        if (err == noErr) break;
        MoreSCClose(&err, false);
        if (err == kSCStatusStale && attempt < kOpenAttempts) continue;
        if (err == kSCStatusPrefsBusy || err == kSCStatusStale)
            throw Failure(
                WithCode("cannot change the preferences store " + StorePath(context_), err));
        throw Failure(OpenFailureWords(context_, err));
    }
    // The snapshot as read, to go back to when the change fails.
    if (!VZPreferencesPushMark(MoreSCGetSCPreferencesRef())) {
        OSStatus err = MoreSCErrorBoolean(false);
        MoreSCClose(&err, false);
        throw Failure("cannot prepare a change of the preferences store", err);
    }
    open_ = true;
}

void StoreSession::Finish()
{
    OSStatus err = noErr;
    if (kind_ == Kind::Change) {
        // The commit is made here, apart from the apply that the bracket's
        // close makes, so that a failure says which of the two failed: a
        // failed commit wrote nothing (the destructor then puts the snapshot
        // back and closes the bracket), a failed apply comes after the change
        // was saved.
        SCPreferencesRef prefs = MoreSCGetSCPreferencesRef();
        if (!SCPreferencesCommitChanges(prefs))
            throw Failure("cannot save the preferences store " + StorePath(context_),
                          MoreSCErrorBoolean(false));
        (void)VZPreferencesPopMark(prefs, false);
    }
    open_ = false;
    MoreSCClose(&err, kind_ == Kind::Change && changed_);
    if (err != noErr)
        throw Failure("the change was saved, but the running system could not be told of it", err);
}

StoreSession::~StoreSession()
{
    if (!open_) return;
    // A change that failed: the snapshot goes back to the mark, so that the
    // close commits nothing of it, not even what the model's writers marked
    // for commit. A restore that cannot finish leaves the snapshot refusing
    // to commit, which writes nothing either.
    if (kind_ == Kind::Change) (void)VZPreferencesPopMark(MoreSCGetSCPreferencesRef(), true);
    OSStatus err = kSCStatusFailed; // nothing of this bracket is to be kept
    MoreSCClose(&err, false);
}

// ---------------------------------------------------------------------------
// Locations.

std::vector<Location> ReadLocations()
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
        if (CFGetTypeID(values[i]) == CFDictionaryGetTypeID())
            location.name =
                StringValue(static_cast<CFDictionaryRef>(values[i]), kSCPropUserDefinedName);
        Ref<CFArrayRef> order;
        Check(MoreSCCopyServiceIDs(id, order.put(), nullptr),
              "cannot list the services of location " + Describe(location));
        location.serviceCount = static_cast<size_t>(CFArrayGetCount(order.get()));
        locations.push_back(std::move(location));
    }
    // By name, then by ID: the store's own order of its sets means nothing.
    std::sort(locations.begin(), locations.end(), [](const Location &a, const Location &b) {
        return std::tie(a.name, a.id) < std::tie(b.name, b.id);
    });
    return locations;
}

Location SelectedLocation(const Context &context)
{
    std::vector<Location> locations = ReadLocations();
    if (!context.location.empty()) return ResolveLocation(locations, context.location);
    for (const Location &location : locations)
        if (location.current) return location;
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
    std::vector<const Location *> named;
    for (const Location &location : locations)
        if (location.name == nameOrID) named.push_back(&location);
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
    return ResolveLocation(ReadLocations(), location.id);
}

void CheckLocationNameFree(const std::vector<Location> &locations, const std::string &name,
                           const std::string &exceptID)
{
    for (const Location &location : locations)
        if (location.name == name && location.id != exceptID)
            throw Failure("a location named " + Quote(name) + " exists already (" + location.id +
                          ")");
}

// ---------------------------------------------------------------------------
// Services.

const ProxyKind kProxyKinds[6] = {
    {"ftp", kSCPropNetProxiesFTPEnable, kSCPropNetProxiesFTPProxy, kSCPropNetProxiesFTPPort},
    {"gopher", kSCPropNetProxiesGopherEnable, kSCPropNetProxiesGopherProxy,
     kSCPropNetProxiesGopherPort},
    {"http", kSCPropNetProxiesHTTPEnable, kSCPropNetProxiesHTTPProxy, kSCPropNetProxiesHTTPPort},
    {"https", kSCPropNetProxiesHTTPSEnable, kSCPropNetProxiesHTTPSProxy,
     kSCPropNetProxiesHTTPSPort},
    {"rtsp", kSCPropNetProxiesRTSPEnable, kSCPropNetProxiesRTSPProxy, kSCPropNetProxiesRTSPPort},
    {"socks", kSCPropNetProxiesSOCKSEnable, kSCPropNetProxiesSOCKSProxy,
     kSCPropNetProxiesSOCKSPort},
};

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
        service->hasPassword   = CFDictionaryContainsKey(ppp, kSCPropNetPPPAuthPassword);
    }
    if (CFDictionaryRef modem = DictionaryValue(dict, kSCEntNetModem)) {
        service->hasModem = true;
        service->script   = StringValue(modem, kSCPropNetModemConnectionScript);
    }
    if (CFDictionaryRef proxies = DictionaryValue(dict, kSCEntNetProxies)) {
        service->hasProxies      = true;
        service->ftpPassive      = IntegerValue(proxies, kSCPropNetProxiesFTPPassive).value_or(0);
        service->proxyExceptions = StringsValue(proxies, kSCPropNetProxiesExceptionsList);
        for (const ProxyKind &kind : kProxyKinds) {
            ProxySetting setting;
            setting.kind    = kind.name;
            setting.enabled = IntegerValue(proxies, kind.enableKey).value_or(0) != 0;
            setting.host    = StringValue(proxies, kind.hostKey);
            setting.port    = IntegerValue(proxies, kind.portKey);
            service->proxies.push_back(setting);
        }
    }
}

} // namespace

namespace {

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
    Ref<CFStringRef> setID = NewString(location.id);
    Ref<CFArrayRef>  order;
    Check(MoreSCCopyServiceIDs(setID.get(), order.put(), nullptr),
          "cannot list the services of location " + Describe(location));
    std::vector<Service> services;
    services.reserve(static_cast<size_t>(CFArrayGetCount(order.get())));
    for (CFIndex i = 0; i < CFArrayGetCount(order.get()); i++) {
        auto id = static_cast<CFStringRef>(CFArrayGetValueAtIndex(order.get(), i));
        services.push_back(ReadServiceOfSet(location, setID.get(), id));
        services.back().position = static_cast<size_t>(i) + 1;
    }
    return services;
}

const Service &ResolveService(const std::vector<Service> &services, const Location &location,
                              const std::string &nameOrID)
{
    for (const Service &service : services)
        if (service.id == nameOrID) return service;
    std::vector<const Service *> named;
    for (const Service &service : services)
        if (service.name == nameOrID) named.push_back(&service);
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
    for (const Service &service : services)
        if (service.name == name && service.id != exceptID)
            throw Failure("a service named " + Quote(name) + " exists already in location " +
                          Describe(location) + " (" + service.id + ")");
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
