// DisplayWidth.cpp: the columns a terminal gives a text, so that the
// commands align their tables by what a reader sees rather than by code
// points (VZTextGetColumns, in the tool interface).
//
// The rules are the ones terminals follow: East Asian wide and fullwidth
// characters take two columns; nonspacing and enclosing marks, format
// characters (the zero-width space and joiners, the bidirectional marks) and
// the Hangul vowel and final consonant jamo that join a syllable take none;
// control characters take none (a table escapes them first); everything
// else, an ill-formed UTF-8 sequence included, takes one.
#include "IcuLibrary.h"
#include "UTF.h"

#include <VZPlatformTools.h>

namespace {

int columnsOf(UChar32 c) noexcept
{
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
    if (c < 0x300) return 1; // Latin, before the combining marks: no ICU call
    if (c >= 0x1160 && c <= 0x11FF) return 0;
    int8_t type = vz::icuLibrary().charType(c);
    if (type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_FORMAT_CHAR) return 0;
    int32_t width = vz::icuLibrary().getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
    return (width == U_EA_WIDE || width == U_EA_FULLWIDTH) ? 2 : 1;
}

} // namespace

long VZTextGetColumns(const char *utf8, size_t length) noexcept
{
    const auto *bytes   = reinterpret_cast<const uint8_t *>(utf8);
    long        columns = 0;
    for (size_t i = 0; i < length;) {
        int32_t c = vz::nextUTF8(bytes, i, length);
        columns += c < 0 ? 1 : columnsOf(c);
    }
    return columns;
}
