// Base64.h: the base64 text of <data> elements.
//
// Encoding writes the standard alphabet with '=' padding, broken into lines,
// each preceded by the element's indentation (tabs) and followed by a
// newline, which is how data sits inside an indented property list. The
// indentation counts against a budget of 76 columns, a tab as 8 of them: a
// line holds 76 characters at the top level, 68 one tab in, 60 two tabs in,
// and so on; indentation past 8 tabs is not counted, so a line never holds
// fewer than 12 characters. Files written by the platform itself have this
// layout, and the writer keeps to it so that a file it rewrites changes only
// where its values did. Decoding skips XML whitespace anywhere, accepts the
// padding written or left out, and refuses any other character, a lone
// trailing character and text after the padding.
#ifndef VZ_PLATFORM_BASE64_H
#define VZ_PLATFORM_BASE64_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vz {

constexpr size_t kBase64LineLength = 76; // at the top level
constexpr size_t kTabColumns       = 8;
constexpr size_t kMaxCountedTabs   = 8;

// The characters of a line under indent (tabs).
constexpr size_t base64LineLength(std::string_view indent) noexcept
{
    size_t tabs = indent.size() < kMaxCountedTabs ? indent.size() : kMaxCountedTabs;
    return kBase64LineLength - tabs * kTabColumns;
}

// Appends the lines to out, each indented by indent (tabs). Nothing is
// appended for empty input. May throw std::bad_alloc.
void appendBase64Lines(const uint8_t *bytes, size_t count, std::string_view indent,
                       std::string &out);

// The decoded bytes go to out (replacing what it held). False for text that
// is not base64. May throw std::bad_alloc.
[[nodiscard]] bool decodeBase64(std::string_view text, std::string &out);

} // namespace vz

#endif
