// PlistFileTest.cpp: property-list files read in pieces straight into the
// reader: the same tree as the bytes read whole, whatever the size, and a
// failed read reported as itself.
#include "PlistFile.h"
#include "PlistReader.h"

#include "TestSupport.h"

#include <algorithm>
#include <cerrno>

namespace {

class PlistFileTest : public vztest::TempRoot {
  protected:
    // A dictionary of count entries, each a short dictionary: about 150
    // bytes an entry.
    static std::string Document(int count)
    {
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                           "<dict>\n";
        for (int i = 0; i < count; i++)
            text += "\t<key>entry " + std::to_string(i) +
                    "</key>\n\t<dict>\n\t\t<key>Number</key>\n\t\t<integer>" + std::to_string(i) +
                    "</integer>\n\t\t<key>Name</key>\n\t\t<string>name " + std::to_string(i) +
                    "</string>\n\t</dict>\n";
        return text + "</dict>\n</plist>\n";
    }
};

TEST_F(PlistFileTest, ReadsInPiecesWhatTheReaderReadsWhole)
{
    // Within one piece, a few pieces and a final piece of half the file,
    // and many pieces.
    for (int count : {0, 3, 3000, 12000}) {
        std::string text = Document(count);
        Write("file.plist", text);
        vz::CFRef<CFPropertyListRef> whole(
            vz::readPropertyList(reinterpret_cast<const uint8_t *>(text.data()), text.size(),
                                 kCFPropertyListImmutable, nullptr));
        vz::CFRef<CFPropertyListRef> pieces;
        std::string                  message;
        ASSERT_EQ(vz::readPropertyListFile(Path("file.plist"), kCFPropertyListImmutable, &pieces,
                                           &message),
                  0)
            << count << ": " << message;
        EXPECT_TRUE(CFEqual(whole.get(), pieces.get())) << count;
    }
}

// Texts long enough that pieces end inside them, as runs of the parser's
// buffer that the reader must keep when the buffer moves on: each string
// comes out whole and unmixed, read from a file or fed in odd pieces.
TEST_F(PlistFileTest, TextsAcrossPiecesComeOutWhole)
{
    auto Run = [](size_t i) { return std::string(1000 + 2477 * i, static_cast<char>('a' + i)); };
    std::string text = "<plist><array>";
    for (size_t i = 0; i < 24; i++)
        text += "<string>" + Run(i) + "</string>";
    text += "</array></plist>";
    Write("file.plist", text);
    vz::CFRef<CFPropertyListRef> tree;
    std::string                  message;
    ASSERT_EQ(
        vz::readPropertyListFile(Path("file.plist"), kCFPropertyListImmutable, &tree, &message), 0)
        << message;
    vz::PlistReader reader(kCFPropertyListImmutable);
    for (size_t at = 0; at < text.size(); at += 4099)
        ASSERT_TRUE(reader.feed(reinterpret_cast<const uint8_t *>(text.data()) + at,
                                std::min<size_t>(4099, text.size() - at), false));
    ASSERT_TRUE(reader.feed(nullptr, 0, true)) << reader.errorMessage();
    vz::CFRef<CFPropertyListRef> fed(reader.takeResult());
    for (CFPropertyListRef plist : {tree.get(), fed.get()}) {
        auto array = static_cast<CFArrayRef>(plist);
        ASSERT_EQ(CFArrayGetCount(array), 24);
        for (CFIndex i = 0; i < 24; i++) {
            auto string = static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, i));
            EXPECT_EQ(vztest::Utf8(string), Run(static_cast<size_t>(i))) << i;
        }
    }
}

TEST_F(PlistFileTest, SaysWhyAFileIsNoPropertyList)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", "no element found"},
        {"<plist><dict><key>a</key></dict></plist>", "<key> without a value"},
        {"<plist><integer>1</integer>", "no element found"},
    };
    for (const auto &[text, why] : cases) {
        Write("file.plist", text);
        vz::CFRef<CFPropertyListRef> tree;
        std::string                  message;
        EXPECT_EQ(vz::readPropertyListFile(Path("file.plist"), 0, &tree, &message), EBADMSG)
            << text;
        EXPECT_FALSE(tree) << text;
        EXPECT_NE(message.find(why), std::string::npos) << text << ": " << message;
    }
}

TEST_F(PlistFileTest, AFailedReadIsItsError)
{
    Write("file.plist", Document(6000)); // several pieces
    vz::CFRef<CFPropertyListRef> tree;
    ASSERT_TRUE(VZArmSyscallFailure("read", 1, false, EIO));
    EXPECT_EQ(vz::readPropertyListFile(Path("file.plist"), 0, &tree, nullptr), EIO);
    VZClearSyscallFailure();
    EXPECT_FALSE(tree);
    // An object the reader cannot make is a lack of memory, not a bad file.
    VZArmAllocationFailure(10, false);
    EXPECT_EQ(vz::readPropertyListFile(Path("file.plist"), 0, &tree, nullptr), ENOMEM);
    VZClearAllocationFailure();
    EXPECT_FALSE(tree);
    EXPECT_EQ(vz::readPropertyListFile(Path("missing.plist"), 0, &tree, nullptr), ENOENT);
    EXPECT_EQ(vz::readPropertyListFile(root_, 0, &tree, nullptr), EISDIR);
}

} // namespace
