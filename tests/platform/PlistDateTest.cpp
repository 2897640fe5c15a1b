// PlistDateTest.cpp: the date text the reader accepts and the writer
// produces.
#include "PlistDate.h"

#include "TestSupport.h"

#include <cmath>

namespace {

TEST(PlistDateTest, ReadsValidDatesOnly)
{
    const std::pair<const char *, double> valid[] = {
        {"2001-01-01T00:00:00Z", 0},
        {"1970-01-01T00:00:00Z", -978307200},
        {"2000-02-29T12:34:56Z", -26479504},
        {"2001-01-01T00:00:00.5Z", 0.5},
        {"2000-12-31T23:59:59.75Z", -0.25},
        {" \n2001-01-01T00:00:01Z\t", 1},
        {"0000-01-01T00:00:00Z", -63145526400},
        {"9999-12-31T23:59:59Z", 252423993599},
    };
    for (const auto &[text, at] : valid) {
        std::optional<double> parsed = vz::parsePlistDate(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(*parsed, at) << text;
    }
    for (const char *text : {"",
                             "2001-01-01",
                             "2001-01-01T00:00:00",
                             "2001-01-01T00:00:00z",
                             "2001-01-01 00:00:00Z",
                             "2001-1-01T00:00:00Z",
                             "02001-01-01T00:00:00Z",
                             "-001-01-01T00:00:00Z",
                             "2001-00-01T00:00:00Z",
                             "2001-13-01T00:00:00Z",
                             "2001-01-00T00:00:00Z",
                             "2001-01-32T00:00:00Z",
                             "2001-04-31T00:00:00Z",
                             "1900-02-29T00:00:00Z",
                             "2100-02-29T00:00:00Z",
                             "2001-01-01T24:00:00Z",
                             "2001-01-01T00:60:00Z",
                             "2001-01-01T00:00:60Z",
                             "2001-01-01T00:00:00.Z",
                             "2001-01-01T00:00:00+01:00",
                             "2001-01-01T00:00:00ZZ",
                             "2001-01-01T0a:00:00Z"}) {
        EXPECT_FALSE(vz::parsePlistDate(text)) << text;
    }
}

TEST(PlistDateTest, WrittenDatesReadBackExactly)
{
    // Whole seconds, halves, and times of the current era with the binary
    // fraction a clock gives.
    for (double at : {0.0, -1.0, 1e9, -6e10, 2.5e11, 0.5, -0.25, 757382400.123, 1e-300, -1e-300,
                      7.0e8 + 1.0 / 3}) {
        std::string text;
        if (!vz::appendPlistDate(at, text)) {
            // Only a time too close below a whole second to split exactly.
            EXPECT_EQ(at, -1e-300);
            continue;
        }
        std::optional<double> back = vz::parsePlistDate(text);
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(*back, at) << text;
    }
    std::string text;
    for (double at : {2.6e11, -6.32e10, double(INFINITY), -double(INFINITY), double(NAN)}) {
        EXPECT_FALSE(vz::appendPlistDate(at, text)) << at;
        EXPECT_TRUE(text.empty());
    }
}

} // namespace
