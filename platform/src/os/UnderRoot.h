// UnderRoot.h: paths built from a caller's text, kept under the root.
//
// A caller's path is read under the root: leading "/" or not, it names
// <root>/<path>. It is resolved as text, component by component: "" and "."
// are dropped and ".." takes back the component before it; a ".." with
// nothing left to take back would leave the root and the path is refused.
// Symbolic links inside the root are followed by the system calls as they
// stand, so a link that points out of the root still leads out of it.
#ifndef VZ_PLATFORM_UNDERROOT_H
#define VZ_PLATFORM_UNDERROOT_H

#include <optional>
#include <string>
#include <string_view>

namespace vz {

// The absolute path of callerPath under the root, or nothing when the path
// would leave the root. May throw std::bad_alloc.
std::optional<std::string> pathUnderRootChecked(std::string_view callerPath);

// True when text can stand as one component of a path: not empty, not "."
// or "..", without "/" or NUL.
bool isSinglePathComponent(std::string_view text) noexcept;

} // namespace vz

#endif
