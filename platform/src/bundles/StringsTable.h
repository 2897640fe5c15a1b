// StringsTable.h: the tables of localised strings.
//
// A table is either an XML property list of one dictionary, or a strings
// file: "key" = "value"; pairs, separated by white space and /* */ or //
// comments, with the escapes \" \\ \n \t and \Uxxxx (four hexadecimal
// digits; a surrogate pair as two escapes). Its text is UTF-8 (a
// byte-order mark allowed) or UTF-16 with a byte-order mark. Anything else
// (an unterminated string or comment, an unknown escape, a lone surrogate,
// bytes that are not valid UTF-8 or UTF-16, a missing "=" or ";") makes the
// whole table invalid: a half-read table would translate some messages and
// not others without anyone noticing. Later pairs replace earlier ones of
// the same key.
#ifndef VZ_PLATFORM_STRINGSTABLE_H
#define VZ_PLATFORM_STRINGSTABLE_H

#include "Runtime.h"

#include <cstdint>
#include <span>

namespace vz {

// The table's dictionary (string keys; the values of a property list may be
// of any kind), or empty when the bytes are not a valid table or memory ran
// out.
CFRef<CFDictionaryRef> parseStringsTable(std::span<const uint8_t> bytes) noexcept;

} // namespace vz

#endif
