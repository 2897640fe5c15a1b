// Root.h: where the platform keeps its files, and whether they are the
// running machine's.
//
// Every file the platform reads or writes lives under one root folder, laid
// out as on the platform's own disk: the value of VAVIVAZ_ROOT, or, when it
// is unset or empty, the machine's root, a folder fixed at build time
// (VZ_MACHINE_ROOT; never "/", so nothing is ever made at the top of the file
// system). The variables are read on every call, so a process (a test) may
// point the platform at another root between two calls.
//
// A root is live, the running machine's own, when it is the machine's root,
// or whatever it is when VAVIVAZ_LIVE is "1"; VAVIVAZ_LIVE "0" makes no root
// live. Only on a live root does the platform meet the machine (sysfs, the
// services of the system bus); on any other it reads and writes the root's
// files alone, so that a test or a copied machine never touches the machine
// it runs on. isLiveRoot() is the one place that says which.
#ifndef VZ_PLATFORM_ROOT_H
#define VZ_PLATFORM_ROOT_H

#include <string>
#include <string_view>

namespace vz {

// Paths under the root, relative to it.
inline constexpr const char *kPreferencesFolder   = "Library/Preferences/SystemConfiguration";
inline constexpr const char *kPreferencesFileName = "preferences.plist";
inline constexpr const char *kDynamicStoreFile  = "var/run/SystemConfiguration/dynamic-store.plist";
inline constexpr const char *kSystemVersionFile = "System/Library/CoreServices/SystemVersion.plist";
inline constexpr const char *kRegistrySnapshotFile = "var/run/SystemConfiguration/ioregistry.plist";
// A store's lock file is its path with this suffix.
inline constexpr const char *kLockFileSuffix = "-lock";

// The root folder without a trailing "/" (empty for the file system root, so
// that rootDirectory() + "/" + relative is always well formed).
std::string rootDirectory(); // may throw std::bad_alloc
// The same as a view of the environment's value (or of the built-in root):
// valid until the environment changes, for use on the spot.
std::string_view rootDirectoryView() noexcept;

// The machine's root, as the build fixed it.
const char *machineRootDirectory() noexcept;

// Whether the root is live (above).
bool isLiveRoot(); // may throw std::bad_alloc

// The absolute path of relative (leading "/" ignored) under the root, for the
// platform's own fixed paths; a path built from text the platform did not
// write itself goes through pathUnderRootChecked() (UnderRoot.h) instead.
std::string pathUnderRoot(std::string_view relative); // may throw std::bad_alloc

} // namespace vz

#endif
