// Description.h: descriptions of objects as CFCopyDescription and %@ show
// them: strings as themselves, numbers and booleans as their values, data as
// hexadecimal, and containers in the old-style property-list shape, nested
// containers indented four spaces a level:
//
//   {
//       key = value;
//       list = (
//           "two words",
//           3
//       );
//   }
#ifndef VZ_PLATFORM_DESCRIPTION_H
#define VZ_PLATFORM_DESCRIPTION_H

#include "Runtime.h"

#include <string>

namespace vz {

// Appends the description of value (any object, or a raw pointer held by a
// container without callbacks when isObject is false) as it appears inside a
// container at the given nesting depth. May throw std::bad_alloc.
void appendNestedDescription(std::u16string &out, const void *value, bool isObject, int depth);

// A new string from UTF-16 text (nullptr when allocation fails).
CFStringRef createStringFromDescription(const std::u16string &text) noexcept;

} // namespace vz

#endif
