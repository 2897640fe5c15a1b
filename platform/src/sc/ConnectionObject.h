// ConnectionObject.h: the connection object that the status and the
// start-and-stop calls share.
#ifndef VZ_PLATFORM_CONNECTIONOBJECT_H
#define VZ_PLATFORM_CONNECTIONOBJECT_H

#include "Runtime.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <string>

struct __SCNetworkConnection : vz::Object {
    vz::CFRef<CFStringRef> serviceID;
    // Why the last Start or Stop failed; empty when it did not.
    std::string lastError;
    explicit __SCNetworkConnection(CFTypeID type) noexcept : Object(type) {}
};

namespace vz {

inline bool isConnection(SCNetworkConnectionRef connection) noexcept
{
    return connection != nullptr && CFGetTypeID(connection) == SCNetworkConnectionGetTypeID();
}

} // namespace vz

#endif
