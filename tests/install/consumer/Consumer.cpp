// Consumer.cpp: a program from outside the tree, built against an installed
// vavivaz. For the machine root in VAVIVAZ_ROOT it prints each service of the
// current set (name, device, connection state), the first modem port and the
// default modem script: the model, the platform's connection status, a
// recipe over the port scanner and the script catalogue, so that it links
// every library.
#include "VaviVAZ.h"
#include "VaviVAZCCLScanner.h"
#include "VaviVAZHelpers.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <cstdio>
#include <string>

static std::string Text(CFStringRef string)
{
    char buffer[256] = "?";
    if (string != NULL) CFStringGetCString(string, buffer, sizeof buffer, kCFStringEncodingUTF8);
    return buffer;
}

int main()
{
    CFArrayRef serviceIDs = NULL;
    if (MoreSCCopyServiceIDs(NULL, &serviceIDs, NULL) != noErr) {
        std::fputs("cannot list the services\n", stderr);
        return 1;
    }
    for (CFIndex i = 0; i < CFArrayGetCount(serviceIDs); i++) {
        CFStringRef serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(serviceIDs, i));
        CFStringRef name      = NULL;
        CFStringRef device    = NULL;
        (void)MoreSCCopyUserVisibleNameOfService(NULL, serviceID, &name);
        (void)MoreSCCopyBSDNameOfService(NULL, serviceID, &device);
        SCNetworkConnectionRef connection =
            SCNetworkConnectionCreateWithServiceID(NULL, serviceID, NULL, NULL);
        int state = connection != NULL ? SCNetworkConnectionGetStatus(connection) : -1;
        std::printf("%s\t%s\t%d\n", Text(name).c_str(), Text(device).c_str(), state);
        if (connection != NULL) CFRelease(connection);
        if (device != NULL) CFRelease(device);
        if (name != NULL) CFRelease(name);
    }
    CFRelease(serviceIDs);

    CFStringRef modemPort = NULL;
    if (VaviVAZCopyDefaultPortBSDName(kSCEntNetModem, &modemPort) != noErr) {
        std::fputs("cannot scan the ports\n", stderr);
        return 1;
    }
    std::printf("first modem port\t%s\n", Text(modemPort).c_str());
    if (modemPort != NULL) CFRelease(modemPort);

    CFArrayRef scripts = NULL;
    CFIndex    chosen  = 0;
    if (MoreSCCreateCCLArray(&scripts, &chosen) != noErr) {
        std::fputs("cannot list the modem scripts\n", stderr);
        return 1;
    }
    if (CFArrayGetCount(scripts) > 0)
        std::printf(
            "default script\t%s\n",
            Text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(scripts, chosen))).c_str());
    CFRelease(scripts);
    return 0;
}
