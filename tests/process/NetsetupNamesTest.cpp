// NetsetupNamesTest.cpp: vz-netsetup's names: one spelling (NFC) for
// storing and finding them, no name that is an ID, no character that
// repaints a terminal or reorders a row, what the store holds anyway shown
// escaped (and carried as it is in JSON), and tables aligned by the columns
// a terminal gives the text.
#include "NetsetupFixture.h"

#include <string>
#include <vector>

namespace {

using namespace nstest;

class NetsetupNames : public NetsetupRoot {
  protected:
    // Renames a set or service in the store's text, as another program
    // would: the first name held by a dictionary's last entry.
    void RenameInStore(const std::string &from, const std::string &to) const
    {
        std::string text = Store();
        size_t      at   = text.find("<string>" + from + "</string>\n\t\t</dict>");
        ASSERT_NE(at, std::string::npos) << from;
        ResetStore(text.replace(at + 8, from.size(), to));
    }
};

const std::string kComposed   = "B\xc3\xbcro";  // U+00FC
const std::string kDecomposed = "Bu\xcc\x88ro"; // u, U+0308

TEST_F(NetsetupNames, RefusedCharactersAreUsageErrors)
{
    const struct {
        Args        args;
        const char *message;
    } rows[] = {
        {{"location", "create", "a\tb"}, "holds U+0009, a control character"},
        {{"location", "create", "\x1b[2Jx"}, "holds U+001B, a control character"},
        {{"location", "create", "a\x7f"}, "holds U+007F, a control character"},
        {{"service", "rename", "AirPort", "a\xc2\x9b"}, "holds U+009B, a control character"},
        {{"service", "rename", "AirPort", "a\xe2\x80\xae"}, "holds U+202E, a bidirectional"},
        {{"service", "add", "en2", "--name", "\xe2\x81\xa7x"}, "holds U+2067, a bidirectional"},
        {{"location", "duplicate", "Office", "x\xef\xbf\xbe"}, "holds U+FFFE, a noncharacter"},
        {{"dialup", "ZORVEXMobile-Modem", "--phone", "1\xef\xbf\xbf"}, "U+FFFF, a noncharacter"},
    };
    const std::string demo = Store();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.message);
        Outcome run = Ns(row.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        // The refused text is named escaped, on one line.
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.find("\xe2\x80\xae"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(Store() == demo);
}

TEST_F(NetsetupNames, OneSpellingAndNoIDs)
{
    // Typed decomposed, stored composed; found either way; not made twice.
    EXPECT_EQ(Doc({"location", "create", kDecomposed})["location"]["name"], kComposed);
    EXPECT_EQ(Doc({"--location", kComposed, "services"})["location"]["name"], kComposed);
    EXPECT_EQ(Doc({"--location", kDecomposed, "services"})["location"]["name"], kComposed);
    EXPECT_NE(Ns({"location", "create", kComposed}).err.find("exists already"), std::string::npos);

    // A stored name in another spelling, as another program wrote it.
    RenameInStore("AirPort", "Caf\x65\xcc\x81");
    EXPECT_EQ(Doc({"service", "show", "Caf\xc3\xa9"})["service"]["id"], kAirPort);
    EXPECT_NE(Ns({"service", "rename", "Ethernet", "Caf\xc3\xa9"}).err.find("exists already"),
              std::string::npos);

    // An ID, in any case, is no name: it would find two objects.
    std::string lower = kEthernet;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string before = Store();
    for (const Args &args :
         {Args{"service", "rename", kAirPort, lower}, Args{"location", "create", kOffice},
          Args{"location", "rename", "Office", kModem}}) {
        SCOPED_TRACE(Line(args));
        Outcome run = Ns(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("; a name must not be an ID"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(Store() == before);
}

TEST_F(NetsetupNames, StoredNamesShowEscapedAndAligned)
{
    const std::string reversing = "Air\xe2\x80\xaePort";              // U+202E
    const std::string wide      = "\xe6\xbc\xa2\xe5\xad\x97\xcc\x81"; // two wide, one mark
    RenameInStore("AirPort", reversing);
    RenameInStore("Ethernet", wide);

    Outcome table = Ns({"services"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.find("\xe2\x80\xae"), std::string::npos) << table.out;
    std::vector<std::string> lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[2].find("Air\\u202ePort"), std::string::npos) << lines[2];
    // Every ID starts in the header's column: the wide name's line holds 8
    // bytes for its 4 columns, every other line one byte a column.
    size_t column = lines[0].find("ID");
    EXPECT_EQ(lines[1].find(kEthernet), column + 4) << lines[1];
    const std::string others[] = {kAirPort, kDiag, kPcui, kModem};
    for (size_t i = 0; i < 4; i++)
        EXPECT_EQ(lines[i + 2].find(others[i]), column) << lines[i + 2];

    Outcome disable = Ns({"service", "disable", kAirPort});
    EXPECT_NE(disable.out.find("\"Air\\u202ePort\""), std::string::npos) << disable.out;
    EXPECT_EQ(Doc({"services"})["services"][1]["name"], reversing);
}

} // namespace
