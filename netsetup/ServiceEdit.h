// ServiceEdit.h: the frame of every command that changes one service: a
// change session, the location and the service resolved in it, the change,
// and the report of the service as the change left it.
#ifndef VZ_NETSETUP_SERVICEEDIT_H
#define VZ_NETSETUP_SERVICEEDIT_H

#include "CFText.h"
#include "Command.h"
#include "Store.h"

#include <functional>
#include <string>
#include <vector>

namespace netsetup {

struct ServiceEdit {
    StoreSession               &session;
    const Location             &location;
    const std::vector<Service> &services; // the location's, before the change
    const Service              &service;
    Ref<CFStringRef>            setID;
    Ref<CFStringRef>            serviceID;
};

// Reports one service: the JSON document {"location", "service"}, or the
// sentence for people.
void ReportService(Context &context, const Location &location, const Service &service,
                   const std::string &sentence);

// Runs change on the service nameOrID of the selected location, then reports
// it: the JSON document {"location", "service"} with the service as it is now,
// or the sentence change returned.
void EditService(Context &context, const std::string &nameOrID,
                 const std::function<std::string(ServiceEdit &)> &change);

} // namespace netsetup

#endif
