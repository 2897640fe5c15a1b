// Connection.cpp: connection status of a service, from the dynamic store
// and, on a live root, from ModemManager.
//
// A connection object can be made for any non-empty service ID without "/".
// The connection controller knows a service when the dynamic store holds
// Setup:/Network/Service/<id>/PPP or State:/Network/Service/<id>/PPP. For a
// known service the status is the number under Status in the State: entry
// (disconnected when there is none) and the user options are its UserOptions
// dictionary (an empty one when there is none); an unknown service has the
// status kSCNetworkConnectionInvalid and no user options. The store is read
// afresh by every call: the state of a connection changes under a running
// program. A damaged store answers as for an unknown service, with the
// status of the failed read for SCError.
//
// On a live root a service whose device a modem of ModemManager manages
// takes its status from that modem (LiveConnection.h), and is known. A
// service no modem manages, and every service while ModemManager is not on
// the bus, refuses, answers with something malformed or does not answer in
// time, keeps the dynamic store's rule.
#include "ConnectionObject.h"
#include "DynamicStore.h"
#include "LiveConnection.h"
#include "Root.h"
#include "SCError.h"

#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTools.h>

#include <optional>

namespace {

const vz::TypeClass kConnectionClass = {
    "SCNetworkConnection", vz::deleteObject<__SCNetworkConnection>, nullptr, nullptr, nullptr};

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

// What the controller knows of a service.
struct ServiceState {
    bool            known = false;
    CFDictionaryRef state = nullptr; // the State: PPP entry, borrowed from the store
};

// What ModemManager says of the service on a live root: nullopt when no
// modem manages its device or ModemManager cannot say.
std::optional<SCNetworkConnectionStatus> liveStatus(SCNetworkConnectionRef connection,
                                                    CFDictionaryRef        store)
{
    if (!vz::isLiveRoot()) return std::nullopt;
    auto found = vz::live::findServiceModem(connection->serviceID.get(), store);
    if (!found || !found->modem) return std::nullopt;
    return found->modem->status;
}

// Reads the store and finds the service's entries: a status.
int lookUp(SCNetworkConnectionRef connection, vz::CFRef<CFDictionaryRef> *store,
           ServiceState *found)
{
    int status = vz::readDynamicStore(store);
    if (status != kSCStatusOK) return status;
    CFStringRef            serviceID = connection->serviceID.get();
    vz::CFRef<CFStringRef> setupKey(SCDynamicStoreKeyCreateNetworkServiceEntity(
        nullptr, kSCDynamicStoreDomainSetup, serviceID, kSCEntNetPPP));
    vz::CFRef<CFStringRef> stateKey(SCDynamicStoreKeyCreateNetworkServiceEntity(
        nullptr, kSCDynamicStoreDomainState, serviceID, kSCEntNetPPP));
    if (!setupKey || !stateKey) return kSCStatusFailed;
    CFTypeRef state = CFDictionaryGetValue(store->get(), stateKey.get());
    found->known    = state != nullptr || CFDictionaryContainsKey(store->get(), setupKey.get());
    // A State: entry of the wrong kind holds no state.
    if (isDictionary(state)) found->state = static_cast<CFDictionaryRef>(state);
    return kSCStatusOK;
}

} // namespace

CFTypeID SCNetworkConnectionGetTypeID(void) noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kConnectionClass);
    return type;
}

SCNetworkConnectionRef SCNetworkConnectionCreateWithServiceID(CFAllocatorRef, CFStringRef serviceID,
                                                              SCNetworkConnectionCallBack,
                                                              SCNetworkConnectionContext *) noexcept
{
    if (serviceID == nullptr || CFGetTypeID(serviceID) != CFStringGetTypeID() ||
        CFStringGetLength(serviceID) == 0 ||
        CFStringFind(serviceID, CFSTR("/"), 0).location != kCFNotFound) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    vz::CFRef<CFStringRef> id(CFStringCreateCopy(nullptr, serviceID));
    auto                  *connection =
        id ? vz::newObject<__SCNetworkConnection>(SCNetworkConnectionGetTypeID()) : nullptr;
    if (connection == nullptr) {
        vz::setSCError(kSCStatusFailed);
        return nullptr;
    }
    connection->serviceID = std::move(id);
    return connection;
}

CFStringRef SCNetworkConnectionCopyServiceID(SCNetworkConnectionRef connection) noexcept
{
    if (!vz::isConnection(connection)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    return static_cast<CFStringRef>(CFRetain(connection->serviceID.get()));
}

SCNetworkConnectionStatus SCNetworkConnectionGetStatus(SCNetworkConnectionRef connection) noexcept
{
    if (!vz::isConnection(connection)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return kSCNetworkConnectionInvalid;
    }
    vz::CFRef<CFDictionaryRef>               store;
    ServiceState                             found;
    std::optional<SCNetworkConnectionStatus> live;
    int status = vz::guarded(static_cast<int>(kSCStatusFailed), [&] {
        int looked = lookUp(connection, &store, &found);
        if (looked == kSCStatusOK) live = liveStatus(connection, store.get());
        return looked;
    });
    if (status != kSCStatusOK) {
        vz::setSCError(status);
        return kSCNetworkConnectionInvalid;
    }
    if (live) return *live;
    if (!found.known) return kSCNetworkConnectionInvalid;
    if (found.state == nullptr) return kSCNetworkConnectionDisconnected;
    CFTypeRef number = CFDictionaryGetValue(found.state, kVZConnectionStatusKey);
    if (number == nullptr) return kSCNetworkConnectionDisconnected;
    SInt32 value = 0;
    // A status that is not a 32-bit number is no status the controller could
    // have published.
    if (CFGetTypeID(number) != CFNumberGetTypeID() ||
        !CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt32Type, &value))
        return kSCNetworkConnectionInvalid;
    return value;
}

CFDictionaryRef SCNetworkConnectionCopyUserOptions(SCNetworkConnectionRef connection) noexcept
{
    if (!vz::isConnection(connection)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    vz::CFRef<CFDictionaryRef> store;
    ServiceState               found;
    int                        status = vz::guarded(static_cast<int>(kSCStatusFailed), [&] {
        int looked = lookUp(connection, &store, &found);
        // A service the store does not know is still known to ModemManager
        // when a modem manages its device.
        if (looked == kSCStatusOK && !found.known)
            found.known = liveStatus(connection, store.get()).has_value();
        return looked;
    });
    if (status != kSCStatusOK) {
        vz::setSCError(status);
        return nullptr;
    }
    if (!found.known) {
        vz::setSCError(kSCStatusNoKey);
        return nullptr;
    }
    CFTypeRef options = found.state != nullptr
                            ? CFDictionaryGetValue(found.state, kVZConnectionUserOptionsKey)
                            : nullptr;
    if (isDictionary(options)) return static_cast<CFDictionaryRef>(CFRetain(options));
    CFDictionaryRef empty =
        CFDictionaryCreate(nullptr, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                           &kCFTypeDictionaryValueCallBacks);
    if (empty == nullptr) vz::setSCError(kSCStatusFailed);
    return empty;
}
