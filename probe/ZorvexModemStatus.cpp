// ZorvexModemStatus.cpp: the status probe. It answers one question through
// its exit status: in what state is the connection of the service that uses
// the modem's data port, "ZORVEXMobile-Modem"?
//
//   0 connected, 1 disconnected, 2 connecting, 3 disconnecting,
//   255 anything else: no such service in the current set, no connection
//   object or no user options for it, an invalid or unknown status, or a
//   store that cannot be read.
//
// Connected is 0 so that a shell can test the probe like any command; the
// disconnected and connecting states are therefore swapped relative to the
// platform's numbering, and monitors rely on these numbers.
//
// The probe takes no arguments, reads no input, prints nothing and never
// writes the stored preferences: it only calls the model's readers, each of
// which opens its own session without taking the store's lock.
#include "VaviVAZ.h"

#include "MoreCFQ.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

// The BSD device name of the modem's data port, compared exactly (case and
// all) with each service's interface device name.
#define kZorvexModemPortName CFSTR("ZORVEXMobile-Modem")

static SInt32 ResultForStatus(SCNetworkConnectionStatus status) noexcept
{
    SInt32 result = -1;

    switch (status) {
    case kSCNetworkConnectionConnected:
        result = 0;
        break;
    case kSCNetworkConnectionDisconnected:
        result = 1;
        break;
    case kSCNetworkConnectionConnecting:
        result = 2;
        break;
    case kSCNetworkConnectionDisconnecting:
        result = 3;
        break;
    default:
        result = -1;
        break;
    }
    return result;
}

// The state of the first service, in the current set's service order, whose
// interface is the modem's data port: 0 to 3 as above, -1 in every other case.
// Only that first service is ever probed; whether it is active is not looked
// at, and a service whose name cannot be read is skipped.
static SInt32 IsConnectedEx(void) noexcept
{
    SInt32                 result          = -1;
    CFArrayRef             localServiceIDs = NULL; // owned
    CFStringRef            serviceID       = NULL; // borrowed from localServiceIDs
    CFStringRef            modemServiceID  = NULL; // borrowed from localServiceIDs
    CFStringRef            bsdName         = NULL; // owned, one service at a time
    SCNetworkConnectionRef connection      = NULL; // owned
    CFDictionaryRef        userOptions     = NULL; // owned; only its presence matters
    CFIndex                count           = 0;
    CFIndex                index           = 0;

    // A list that cannot be read counts as an empty one.
    if (MoreSCCopyServiceIDs(NULL, &localServiceIDs, NULL) == noErr) {
        count = CFArrayGetCount(localServiceIDs);
    }
    for (index = 0; index < count && modemServiceID == NULL; index++) {
        serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(localServiceIDs, index));
        if (serviceID != NULL && MoreSCCopyBSDNameOfService(NULL, serviceID, &bsdName) == noErr &&
            CFEqual(bsdName, kZorvexModemPortName)) {
            modemServiceID = serviceID;
        }
        CFQRelease(bsdName);
        bsdName = NULL;
    }
    // The connection is asked for by the ID the set lists, not the resolved
    // one. Without a connection or user options there is no answer, and no
    // later service is tried.
    if (modemServiceID != NULL) {
        connection = SCNetworkConnectionCreateWithServiceID(NULL, modemServiceID, NULL, NULL);
    }
    if (connection != NULL) userOptions = SCNetworkConnectionCopyUserOptions(connection);
    if (userOptions != NULL) result = ResultForStatus(SCNetworkConnectionGetStatus(connection));

    CFQRelease(userOptions);
    CFQRelease(connection);
    CFQRelease(localServiceIDs);
    return result;
}

int main(int, char **)
{
    // The probe reads in one pass and talks to no one until it has its
    // answer, so one view of the store serves every service it looks at: the
    // platform proves the store current once instead of once per service.
    VZPreferencesReadInOnePass(true);
    return IsConnectedEx();
}
