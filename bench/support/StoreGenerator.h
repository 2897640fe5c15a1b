// StoreGenerator.h: network preferences stores of any size for benchmarks.
//
// A store has the layout the preferences library reads and writes: shared
// services under NetworkServices, sets under Sets that link to them and keep
// a service order, CurrentSet naming the first set, and System. The services
// cycle through every kind of interface (Ethernet, AirPort, dial-up modem,
// PPPoE, a manually configured Ethernet), so that every entity kind appears
// (Interface, IPv4, IPv6, DNS, Proxies, AppleTalk, PPP, Modem, Ethernet,
// AirPort) with the value kinds real stores hold, passwords as data
// included. The same shape and seed always give the same bytes.
#ifndef VZ_BENCH_STOREGENERATOR_H
#define VZ_BENCH_STOREGENERATOR_H

#include <cstddef>
#include <string>

namespace vzbench {

struct StoreShape {
    size_t   services  = 100;   // services in the current set (and in NetworkServices)
    size_t   sets      = 2;     // the current set plus this many minus one others
    bool     modemLast = true;  // a "ZORVEXMobile-Modem" service last in the current set's order
    bool     lean      = false; // services of an interface and an IPv4 entity only
    unsigned seed      = 1;
};

// XML text of a network preferences store of that shape, in the writer's
// canonical layout, with every entity kind (Interface, IPv4, IPv6, DNS,
// Proxies, AppleTalk, PPP, Modem, Ethernet, AirPort) spread over the services,
// links from the sets to NetworkServices, a service order in each set's
// Network/Global/IPv4, CurrentSet naming the first set.
std::string GenerateStore(const StoreShape &shape);

// The service count that makes GenerateStore about targetBytes long (with the
// other fields of StoreShape at their defaults).
size_t ServicesForSize(size_t targetBytes);

} // namespace vzbench

#endif
