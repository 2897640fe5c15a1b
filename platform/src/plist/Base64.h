// Base64.h: the base64 text of <data> elements.
//
// Encoding writes the standard alphabet with '=' padding, broken into lines
// of at most 76 characters, each preceded by the caller's indentation and
// followed by a newline, which is how data sits inside an indented property
// list. Decoding skips XML whitespace anywhere, accepts the padding written
// or left out, and refuses any other character, a lone trailing character
// and text after the padding.
#ifndef VZ_PLATFORM_BASE64_H
#define VZ_PLATFORM_BASE64_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vz {

constexpr size_t kBase64LineLength = 76;

// Appends the lines to out. Nothing is appended for empty input. May throw
// std::bad_alloc.
void appendBase64Lines(const uint8_t *bytes, size_t count, std::string_view indent,
                       std::string &out);

// The decoded bytes go to out (replacing what it held). False for text that
// is not base64. May throw std::bad_alloc.
[[nodiscard]] bool decodeBase64(std::string_view text, std::string &out);

} // namespace vz

#endif
