// PlistFileTest.cpp: property-list files read straight into the reader,
// their parsed pages given back during the parse: the same tree and the same
// message as the bytes read whole, whatever the size, and a failed read
// reported as itself.
#include "PlistFile.h"
#include "LentBuffer.h"
#include "PlistReader.h"

#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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

    // Containers whose start tags lie deep in the document, far behind
    // their end tags, and a long text: many runs of parsed pages to give up.
    static std::string Nested()
    {
        auto Entries = [](int count) {
            std::string entries;
            for (int i = 0; i < count; i++)
                entries +=
                    "\t<dict><key>n</key><integer>" + std::to_string(i) + "</integer></dict>\n";
            return entries;
        };
        return "<plist version=\"1.0\">\n<array>\n" + Entries(20000) +
               "<dict>\n<key>a</key>\n<array>\n" + Entries(20000) +
               "</array>\n<key>s</key>\n<string>" + std::string(300000, 'x') +
               "</string>\n</dict>\n" + Entries(20000) + "</array>\n</plist>\n";
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

// The pages the reader gives back, recorded and then spoilt as the system
// would empty them: a parse that read any of them again would fail or
// differ.
std::vector<std::pair<const char *, size_t>> gReleased;
void                                         SpoilPages(void *start, size_t count)
{
    gReleased.emplace_back(static_cast<const char *>(start), count);
    std::memset(start, 0, count);
}

// The parsed pages of a document read as one final piece of the buffer,
// given back (spoilt) or lent to the tree: either way the tree equals the
// document read whole, and it outlives the reader and its buffer. Lent, the
// entries made once the first pages were lent live in them.
TEST_F(PlistFileTest, ParsedPagesAreGivenUpAndNeverReadAgain)
{
    std::string                  text = Nested();
    vz::CFRef<CFPropertyListRef> whole(
        vz::readPropertyList(reinterpret_cast<const uint8_t *>(text.data()), text.size(),
                             kCFPropertyListImmutable, nullptr));
    for (bool lend : {false, true}) {
        SCOPED_TRACE(lend ? "lent" : "given back");
        gReleased.clear();
        vz::CFRef<CFPropertyListRef> tree;
        uintptr_t                    start = 0, end = 0;
        {
            vz::PlistReader reader(kCFPropertyListImmutable,
                                   lend ? &vz::lendingParserMemory() : nullptr);
            if (lend)
                vz::releaseAndLendParsedInput(reader);
            else
                reader.releaseParsedInput(4096, SpoilPages);
            auto *space = static_cast<char *>(reader.buffer(text.size()));
            ASSERT_NE(space, nullptr);
            std::memcpy(space, text.data(), text.size());
            start = reinterpret_cast<uintptr_t>(space);
            end   = start + text.size();
            ASSERT_TRUE(reader.parseBuffer(text.size(), true)) << reader.errorMessage();
            tree.reset(reader.takeResult());
        }
        EXPECT_TRUE(CFEqual(tree.get(), whole.get()));
        if (!lend) {
            size_t released = 0;
            for (const auto &[at, count] : gReleased) {
                EXPECT_TRUE(reinterpret_cast<uintptr_t>(at) >= start &&
                            reinterpret_cast<uintptr_t>(at) + count <= end);
                released += count;
            }
            EXPECT_GT(released, text.size() / 2);
            continue;
        }
        auto    root = static_cast<CFArrayRef>(tree.get());
        CFIndex lent = 0, count = CFArrayGetCount(root);
        for (CFIndex i = 0; i < count; i++) {
            auto at = reinterpret_cast<uintptr_t>(CFArrayGetValueAtIndex(root, i));
            lent += at >= start && at < end;
        }
        EXPECT_GT(lent, count / 4);
    }
}

TEST_F(PlistFileTest, SaysWhyAFileIsNoPropertyList)
{
    // The last two are found after the parse gave pages back: the message
    // still says where, as the bytes parsed whole say it.
    std::string late = Document(12000);
    std::string tag  = Document(12000);
    late.insert(late.rfind("</dict>"), "<key>k</key><date>now</date>");
    tag.replace(tag.rfind("</dict>"), 7, "</array>");
    const std::pair<std::string, const char *> cases[] = {
        {"", "no element found"},
        {"<plist><dict><key>a</key></dict></plist>", "<key> without a value"},
        {"<plist><integer>1</integer>", "no element found"},
        {late, "date \"now\""},
        {tag, "mismatched tag"},
    };
    for (const auto &[text, why] : cases) {
        Write("file.plist", text);
        vz::CFRef<CFPropertyListRef> tree;
        std::string                  message;
        std::string                  wholeMessage;
        EXPECT_EQ(vz::readPropertyListFile(Path("file.plist"), 0, &tree, &message), EBADMSG) << why;
        EXPECT_FALSE(tree) << why;
        EXPECT_NE(message.find(why), std::string::npos) << why << ": " << message;
        EXPECT_EQ(vz::readPropertyList(reinterpret_cast<const uint8_t *>(text.data()), text.size(),
                                       0, &wholeMessage),
                  nullptr);
        EXPECT_EQ(message, wholeMessage);
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
