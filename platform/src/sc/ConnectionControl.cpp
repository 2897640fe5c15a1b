// ConnectionControl.cpp: starting and stopping a service's connection:
// through ModemManager on a live root, recorded in the dynamic store on any
// other (what the demo machine's controller does).
//
// The account, password and access point name a modem connects with come
// from the PPP entity of the caller's options, else from the service's PPP
// entity as the configuration agent published it. A password is text, or
// the encoded form the store keeps (UTF-16 code units in host order). The
// record on a plain root never holds a password: the dynamic store is a file
// every user of the machine may read.
#include "ConnectionObject.h"
#include "DynamicStore.h"
#include "LiveConnection.h"
#include "Root.h"
#include "SCError.h"
#include "StringStorage.h"

#include <VZPlatformTools.h>

#include <chrono>

namespace {

// ModemManager registers the modem on the network and brings the bearer up
// before Connect returns; on a weak network that takes a while.
constexpr std::chrono::minutes kConnectBudget{2};
constexpr std::chrono::seconds kDisconnectBudget{30};

struct Outcome {
    int         status = kSCStatusOK;
    std::string reason; // for people, when status is not OK
};

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

CFDictionaryRef dictionaryAt(CFDictionaryRef dict, CFStringRef key)
{
    CFTypeRef value = dict != nullptr ? CFDictionaryGetValue(dict, key) : nullptr;
    return isDictionary(value) ? static_cast<CFDictionaryRef>(value) : nullptr;
}

vz::CFRef<CFStringRef> serviceKey(CFStringRef domain, CFStringRef serviceID)
{
    vz::CFRef<CFStringRef> key(
        SCDynamicStoreKeyCreateNetworkServiceEntity(nullptr, domain, serviceID, kSCEntNetPPP));
    if (!key) throw std::bad_alloc();
    return key;
}

// ---- the record on a plain root -----------------------------------------------

struct Transition {
    CFStringRef               serviceID = nullptr;
    CFDictionaryRef           options   = nullptr; // recorded as given, less any password
    SCNetworkConnectionStatus status    = kSCNetworkConnectionDisconnected;
};

vz::CFRef<CFMutableDictionaryRef> mutableCopy(CFDictionaryRef dict)
{
    vz::CFRef<CFMutableDictionaryRef> copy(
        dict != nullptr ? CFDictionaryCreateMutableCopy(nullptr, 0, dict)
                        : CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    if (!copy) throw std::bad_alloc();
    return copy;
}

vz::CFRef<CFDictionaryRef> withoutPassword(CFDictionaryRef options)
{
    vz::CFRef<CFMutableDictionaryRef> copy = mutableCopy(options);
    if (CFDictionaryRef ppp = dictionaryAt(options, kSCEntNetPPP)) {
        vz::CFRef<CFMutableDictionaryRef> pppCopy = mutableCopy(ppp);
        CFDictionaryRemoveValue(pppCopy.get(), kSCPropNetPPPAuthPassword);
        CFDictionarySetValue(copy.get(), kSCEntNetPPP, pppCopy.get());
    }
    return vz::CFRef<CFDictionaryRef>(copy.release());
}

int recordTransition(CFMutableDictionaryRef store, bool *changed, void *context)
{
    auto                  *transition = static_cast<Transition *>(context);
    vz::CFRef<CFStringRef> setupKey = serviceKey(kSCDynamicStoreDomainSetup, transition->serviceID);
    vz::CFRef<CFStringRef> stateKey = serviceKey(kSCDynamicStoreDomainState, transition->serviceID);
    CFTypeRef              state    = CFDictionaryGetValue(store, stateKey.get());
    // A service the controller does not know has no connection to move.
    if (state == nullptr && !CFDictionaryContainsKey(store, setupKey.get())) return kSCStatusNoKey;
    vz::CFRef<CFMutableDictionaryRef> entry =
        mutableCopy(isDictionary(state) ? static_cast<CFDictionaryRef>(state) : nullptr);
    SInt32                 status = transition->status;
    vz::CFRef<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberSInt32Type, &status));
    if (!number) throw std::bad_alloc();
    CFDictionarySetValue(entry.get(), kVZConnectionStatusKey, number.get());
    if (transition->options != nullptr)
        CFDictionarySetValue(entry.get(), kVZConnectionUserOptionsKey,
                             withoutPassword(transition->options).get());
    else
        CFDictionaryRemoveValue(entry.get(), kVZConnectionUserOptionsKey);
    CFDictionarySetValue(store, stateKey.get(), entry.get());
    *changed = true;
    return kSCStatusOK;
}

Outcome record(SCNetworkConnectionRef connection, CFDictionaryRef options,
               SCNetworkConnectionStatus status)
{
    Transition transition{connection->serviceID.get(), options, status};
    int        result = vz::updateDynamicStore(recordTransition, &transition);
    if (result == kSCStatusNoKey)
        return {result, "the running system has no connection for the service"};
    if (result != kSCStatusOK) return {result, "the dynamic store could not be changed"};
    return {};
}

// ---- ModemManager on a live root ----------------------------------------------

// Text, or a password in the store's encoded form; empty for anything else.
std::string textOf(CFTypeRef value)
{
    if (value == nullptr) return {};
    if (CFGetTypeID(value) == CFStringGetTypeID())
        return vz::toUTF8String(static_cast<CFStringRef>(value));
    if (CFGetTypeID(value) != CFDataGetTypeID()) return {};
    auto                   data = static_cast<CFDataRef>(value);
    vz::CFRef<CFStringRef> decoded(CFStringCreateWithBytes(
        nullptr, CFDataGetBytePtr(data), CFDataGetLength(data), kCFStringEncodingUTF16, false));
    return decoded ? vz::toUTF8String(decoded.get()) : std::string();
}

// The value under key in the caller's PPP options, else in the published one.
std::string pppValue(CFDictionaryRef given, CFDictionaryRef published, CFStringRef key)
{
    if (given != nullptr && CFDictionaryContainsKey(given, key))
        return textOf(CFDictionaryGetValue(given, key));
    return published != nullptr ? textOf(CFDictionaryGetValue(published, key)) : std::string();
}

// Finds the modem of the service: the outcome, and the modem when found.
Outcome findModem(SCNetworkConnectionRef connection, vz::CFRef<CFDictionaryRef> *store,
                  vz::live::ServiceModem *found)
{
    int status = vz::readDynamicStore(store);
    if (status != kSCStatusOK) return {status, "the dynamic store cannot be read"};
    auto modem = vz::live::findServiceModem(connection->serviceID.get(), store->get());
    if (!modem) return {kSCStatusFailed, vz::live::describe(modem.error())};
    if (modem->name.empty()) return {kSCStatusNoKey, "the service has no device"};
    if (!modem->modem)
        return {kSCStatusNoKey, "no modem that ModemManager manages has the port " + modem->name};
    *found = std::move(*modem);
    return {};
}

Outcome startLive(SCNetworkConnectionRef connection, CFDictionaryRef options)
{
    vz::CFRef<CFDictionaryRef> store;
    vz::live::ServiceModem     found;
    Outcome                    outcome = findModem(connection, &store, &found);
    if (outcome.status != kSCStatusOK) return outcome;
    CFDictionaryRef given     = dictionaryAt(options, kSCEntNetPPP);
    CFDictionaryRef published = dictionaryAt(
        store.get(), serviceKey(kSCDynamicStoreDomainSetup, connection->serviceID.get()).get());
    vz::mm::ConnectSettings settings;
    settings.user     = pppValue(given, published, kSCPropNetPPPAuthName);
    settings.password = pppValue(given, published, kSCPropNetPPPAuthPassword);
    settings.apn      = pppValue(given, published, kVZPropNetPPPAccessPointName);
    // A password this process cannot read shows only its marker: dialling
    // without it would be refused by the network for a reason nobody sees.
    if ((given == nullptr || !CFDictionaryContainsKey(given, kSCPropNetPPPAuthPassword)) &&
        published != nullptr && !CFDictionaryContainsKey(published, kSCPropNetPPPAuthPassword) &&
        CFDictionaryContainsKey(published, kVZPropNetPPPAuthPasswordSecret))
        return {kSCStatusAccessError,
                "the service's password is kept where this user cannot read it"};
    // The bus carries text without zero characters.
    for (const std::string *text : {&settings.user, &settings.password, &settings.apn})
        if (text->find('\0') != std::string::npos)
            return {kSCStatusInvalidArgument, "the account, password or access point name holds "
                                              "a zero character"};
    auto bearer =
        vz::mm::connect(found.modem->path, settings, vz::bus::Deadline::after(kConnectBudget));
    if (!bearer) return {kSCStatusFailed, vz::live::describe(bearer.error())};
    return {};
}

Outcome stopLive(SCNetworkConnectionRef connection)
{
    vz::CFRef<CFDictionaryRef> store;
    vz::live::ServiceModem     found;
    Outcome                    outcome = findModem(connection, &store, &found);
    if (outcome.status != kSCStatusOK) return outcome;
    auto done = vz::mm::disconnect(found.modem->path, found.modem->bearerPath,
                                   vz::bus::Deadline::after(kDisconnectBudget));
    if (!done) return {kSCStatusFailed, vz::live::describe(done.error())};
    return {};
}

Boolean finish(SCNetworkConnectionRef connection, const Outcome &outcome) noexcept
{
    auto *object = const_cast<__SCNetworkConnection *>(connection);
    try {
        object->lastError = outcome.reason;
    } catch (const std::bad_alloc &) {
        object->lastError.clear();
    }
    if (outcome.status == kSCStatusOK) return true;
    vz::setSCError(outcome.status);
    return false;
}

Outcome outOfMemory()
{
    Outcome outcome;
    outcome.status = kSCStatusFailed;
    return outcome;
}

} // namespace

Boolean SCNetworkConnectionStart(SCNetworkConnectionRef connection, CFDictionaryRef userOptions,
                                 Boolean) noexcept
{
    if (!vz::isConnection(connection) ||
        (userOptions != nullptr && CFGetTypeID(userOptions) != CFDictionaryGetTypeID())) {
        vz::setSCError(kSCStatusInvalidArgument);
        return false;
    }
    Outcome outcome = vz::guarded(outOfMemory(), [&] {
        return vz::isLiveRoot() ? startLive(connection, userOptions)
                                : record(connection, userOptions, kSCNetworkConnectionConnected);
    });
    return finish(connection, outcome);
}

Boolean SCNetworkConnectionStop(SCNetworkConnectionRef connection, Boolean) noexcept
{
    if (!vz::isConnection(connection)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return false;
    }
    Outcome outcome = vz::guarded(outOfMemory(), [&] {
        return vz::isLiveRoot() ? stopLive(connection)
                                : record(connection, nullptr, kSCNetworkConnectionDisconnected);
    });
    return finish(connection, outcome);
}

CFStringRef VZNetworkConnectionCopyLastError(SCNetworkConnectionRef connection) noexcept
{
    if (!vz::isConnection(connection)) {
        vz::setSCError(kSCStatusInvalidArgument);
        return nullptr;
    }
    const std::string &reason = connection->lastError;
    if (reason.empty()) return nullptr;
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(reason.data()),
                                   static_cast<CFIndex>(reason.size()), kCFStringEncodingUTF8,
                                   false);
}
