// DisplayWidthTest.cpp: the columns a terminal gives text, which the
// commands align their tables by.
#include "TestSupport.h"

#include <VZPlatformTools.h>

#include <string>

namespace {

TEST(DisplayWidth, ColumnsAsATerminalShowsThem)
{
    const struct {
        std::string text;
        long        columns;
    } rows[] = {
        {"", 0},
        {"Ethernet", 8},
        {"B\xc3\xbcro", 4},                          // a precomposed letter
        {"Bu\xcc\x88ro", 4},                         // a letter and a combining mark
        {"\xe6\xbc\xa2\xe5\xad\x97", 4},             // East Asian wide
        {"\xef\xbc\xa1", 2},                         // fullwidth A
        {"\xed\x95\x9c", 2},                         // a Hangul syllable
        {"\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab", 2}, // the same as jamo
        {"a\xe2\x80\x8b"
         "b",
         2}, // zero-width space
        {"a\xe2\x80\x8d"
         "b",
         2},                     // zero-width joiner
        {"\xf0\x9f\x98\x80", 2}, // an emoji
        {"a\xff"
         "b",
         3}, // a byte that is not UTF-8
        {"a\x1b"
         "b",
         2}, // a control character
    };
    for (const auto &row : rows)
        EXPECT_EQ(VZTextGetColumns(row.text.data(), row.text.size()), row.columns) << row.text;
}

} // namespace
