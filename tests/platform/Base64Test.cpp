// Base64Test.cpp: the base64 text of <data>: the standard vectors, line
// breaking, and what the decoder accepts and refuses.
#include "Base64.h"

#include "TestSupport.h"

#include <random>

namespace {

std::string Encode(const std::string &bytes, std::string_view indent = "")
{
    std::string text;
    vz::appendBase64Lines(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), indent,
                          text);
    return text;
}

TEST(Base64Test, EncodesTheStandardVectors)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", ""},
        {"f", "Zg==\n"},
        {"fo", "Zm8=\n"},
        {"foo", "Zm9v\n"},
        {"foob", "Zm9vYg==\n"},
        {"fooba", "Zm9vYmE=\n"},
        {"foobar", "Zm9vYmFy\n"},
        {"\xFF\xFE\xFD", "//79\n"},
    };
    for (const auto &[bytes, text] : cases)
        EXPECT_EQ(Encode(bytes), text) << bytes;
}

// Lines narrow by 8 characters per tab of indentation, down to 12.
TEST(Base64Test, NarrowsLinesByTheIndentation)
{
    const std::pair<size_t, size_t> widths[] = {{0, 76}, {1, 68}, {2, 60}, {7, 20}, {8, 12},
                                                {9, 12}, {20, 12}};
    for (const auto &[tabs, width] : widths) {
        std::string bytes(width / 4 * 3 * 2 + 1, 'x'); // two full lines and a short one
        std::string indent(tabs, '\t');
        std::string text = Encode(bytes, indent);
        std::string line = indent + std::string(width, '?') + "\n";
        ASSERT_EQ(text.size(), 2 * line.size() + tabs + 4 + 1) << tabs;
        for (size_t start : {size_t(0), line.size()}) {
            EXPECT_EQ(text.substr(start, tabs), indent) << tabs;
            EXPECT_EQ(text[start + tabs + width], '\n') << tabs;
        }
        EXPECT_EQ(text.substr(2 * line.size()), indent + "eA==\n") << tabs;
    }
}

TEST(Base64Test, DecodesWhatItAcceptsAndRefusesTheRest)
{
    const std::pair<const char *, const char *> accepted[] = {
        {"Zm9vYmFy", "foobar"},
        {"Zm9vYg==", "foob"},
        {"Zm9vYg", "foob"},
        {"Zm9vYmE", "fooba"},
        {" Zm\n9v\tYm\r\nFy ", "foobar"},
        {"Zg = =", "f"},
        {"", ""},
        {"\n\t", ""},
    };
    for (const auto &[text, bytes] : accepted) {
        std::string out;
        EXPECT_TRUE(vz::decodeBase64(text, out)) << text;
        EXPECT_EQ(out, bytes) << text;
    }
    for (const char *text : {"Z", "Zm9vY", "Zg=", "Zg===", "Zm9=v", "Zm9v=", "=Zg=", "Zm9v!",
                             "Zm-9", "Zm9v\x80", "Zm_v", "Zm9v\v"}) {
        std::string out;
        EXPECT_FALSE(vz::decodeBase64(text, out)) << text;
    }
}

TEST(Base64Test, RandomBytesRoundTrip)
{
    std::mt19937 random(7);
    for (size_t length = 0; length < 400; ++length) {
        std::string bytes(length, '\0');
        for (char &c : bytes)
            c = static_cast<char>(random());
        std::string back;
        ASSERT_TRUE(vz::decodeBase64(Encode(bytes, "\t"), back)) << length;
        EXPECT_EQ(back, bytes) << length;
    }
}

} // namespace
