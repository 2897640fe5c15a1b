// HFSNames.h: file names as HFSUniStr255 records.
//
// A Linux name is bytes; a record holds at most 255 UTF-16 units. A name has
// a record form when its bytes are well-formed UTF-8 (no overlong forms, no
// encoded surrogates) of at most 255 UTF-16 units. Names are taken as they
// are spelled, without normalisation, so that a name read back from its
// record finds the same file.
#ifndef VZ_PLATFORM_HFSNAMES_H
#define VZ_PLATFORM_HFSNAMES_H

#include <CoreServices/Files.h>

#include <string_view>

namespace vz {

// Fills *record with the name; false, with *record untouched, when the name
// has no record form.
bool hfsNameFromBytes(std::string_view name, HFSUniStr255 *record) noexcept;
// Whether the name has a record form.
bool hasRecordForm(std::string_view name) noexcept;

} // namespace vz

#endif
