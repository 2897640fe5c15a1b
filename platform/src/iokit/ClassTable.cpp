// ClassTable.cpp: the class table of the registry.
#include "ClassTable.h"

namespace vz {

namespace {

struct Superclass {
    std::string_view className;
    std::string_view superclass;
};

constexpr Superclass kSuperclasses[] = {
    {"IOEthernetInterface", "IONetworkInterface"},
    {"IO80211Interface", "IOEthernetInterface"},
    {"IOFireWireIP", "IONetworkInterface"},
    {"IOEthernetController", "IONetworkController"},
};

std::string_view superclassOf(std::string_view className) noexcept
{
    for (const Superclass &row : kSuperclasses)
        if (row.className == className) return row.superclass;
    return {};
}

} // namespace

bool classConformsTo(std::string_view className, std::string_view wanted) noexcept
{
    if (wanted == "IOService" || wanted == "IORegistryEntry") return true;
    // The table has no cycles, so the walk ends.
    for (std::string_view c = className; !c.empty(); c = superclassOf(c))
        if (c == wanted) return true;
    return false;
}

} // namespace vz
