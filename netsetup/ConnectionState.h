// ConnectionState.h: a service's connection as status, connect and
// disconnect see it: the service a SERVICE argument names (by default the
// modem's service, found as the status probe finds it), its state as the
// probe reads it, and the report of that state.
#ifndef VZ_NETSETUP_CONNECTIONSTATE_H
#define VZ_NETSETUP_CONNECTIONSTATE_H

#include "Store.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <string>

namespace netsetup {

// The service nameOrID names in the location, or, when it is empty, the
// first service in the service order whose interface is the modem's data
// port. Inside a session; Failure when there is none.
Service FindConnectionService(const Location &location, const std::string &nameOrID);

// The state of the service's connection as the probe reads it: a connection
// without user options has no state (invalid).
SCNetworkConnectionStatus ReadConnectionStatus(const std::string &serviceID);

// "connected", "connecting", "disconnecting", "disconnected", "invalid", or
// "unknown" for any other number.
const char *StateName(SCNetworkConnectionStatus status);

// Adds the state to the command's output: the status table, or the
// document {"location", "service", "state", "status"}.
void ReportConnection(Context &context, const Location &location, const Service &service,
                      SCNetworkConnectionStatus status);

} // namespace netsetup

#endif
