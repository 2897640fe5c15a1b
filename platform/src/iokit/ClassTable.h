// ClassTable.h: which registry classes are kinds of which.
//
// The registry answers "is this entry an X?" by the class names of a built-in
// table of the classes the system meets, not by loading any class:
//
//   IOEthernetInterface   is an IONetworkInterface
//   IO80211Interface      is an IOEthernetInterface
//   IOFireWireIP          is an IONetworkInterface
//   IOEthernetController  is an IONetworkController
//
// and every class, known or not, is an IOService and an IORegistryEntry. A
// class the table does not know conforms to itself and to those two only.
#ifndef VZ_PLATFORM_CLASSTABLE_H
#define VZ_PLATFORM_CLASSTABLE_H

#include <string_view>

namespace vz {

bool classConformsTo(std::string_view className, std::string_view wanted) noexcept;

} // namespace vz

#endif
