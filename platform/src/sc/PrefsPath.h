// PrefsPath.h: paths into a preferences tree, and the links inside it.
//
// A path is a "/"-separated list of keys from the root of the store: "/" is
// the root itself, "/Sets/1/Network" the dictionary under Network of the
// dictionary under 1 of the one under Sets. A trailing "/" is ignored; a path
// that does not begin with "/" or has an empty key inside it is not a path.
//
// A link is a dictionary holding the key __LINK__, whose value is the path
// of another dictionary of the same tree. Walking a path follows a link found
// at any component, a link that leads to a link too, up to kMaxLinkDepth
// links per walk; deeper nesting, and every cycle, is status 3006. What the
// store holds is input, never a reason to stop: a link whose value is not a
// path string is status 1001, and a component that is missing or not a
// dictionary means nothing is stored at the path (1004).
#ifndef VZ_PLATFORM_PREFSPATH_H
#define VZ_PLATFORM_PREFSPATH_H

#include "Runtime.h"

#include <vector>

namespace vz::prefs {

inline constexpr int kMaxLinkDepth = 8;

using Keys = std::vector<CFRef<CFStringRef>>;

// The keys of path; false when it is not a path. May throw std::bad_alloc.
[[nodiscard]] bool parsePath(CFStringRef path, Keys *keys);

// The link target of value when it is a link dictionary: nullptr when it is
// not a link; *status 1001 when it claims to be one with a non-string target.
CFStringRef linkTarget(CFTypeRef value, int *status) noexcept;

// Walks the first count keys from root, following links at each of them (the
// last one included), and gives the dictionary reached (*node) and the keys
// of its real location, links replaced by their targets (*real, may be
// NULL). With create, missing components are not an error: *node becomes
// NULL at the first one and the remaining keys are appended to *real as they
// are, for a writer to create. A component that holds something other than
// a dictionary is 1004 for a reader and 1001 for a writer (which must not
// overwrite it). May throw std::bad_alloc.
[[nodiscard]] int walk(CFDictionaryRef root, const Keys &keys, size_t count, bool create,
                       Keys *real, CFDictionaryRef *node);

// Walks path from root without making an object, for readers: the
// dictionary at path (*node), or with toParent the dictionary holding the
// path's last key (*node) and what it holds under that key (*last, NULL when
// nothing). The statuses of walk() with create false, and 1002 for a path
// that is not one (or has no last key, with toParent). kLookUpUnsupported
// (-1) for a path this walker does not take (UTF-16 text, a key longer than
// 255 units, more than 64 keys): parsePath() and walk() take those.
inline constexpr int kLookUpUnsupported = -1;
[[nodiscard]] int    lookUp(CFDictionaryRef root, CFStringRef path, bool toParent,
                            CFDictionaryRef *node, CFTypeRef *last) noexcept;

} // namespace vz::prefs

#endif
