// PlistReader.cpp: the expat callbacks that turn an XML property list into
// objects, and the text rules of each leaf element.
//
// Callbacks are C frames: none may throw. Each runs its body under
// `guard`, which turns a std::bad_alloc from the stacks into a refusal, and
// every refusal goes through `fail`, which keeps the first message and stops
// the parser.
#include "PlistReader.h"

#include "Base64.h"
#include "Containers.h"
#include "PlistDate.h"
#include "StringStorage.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <string_view>
#include <vector>

namespace vz {

namespace {

enum class ElementKind : uint8_t {
    None,
    Document, // the frame under the root element
    Plist,
    Dict,
    Array,
    Key,
    String,
    Data,
    Date,
    Integer,
    Real,
    True,
    False,
    Unknown
};

// Whether name is literal, compared byte by byte up to and with the NUL: no
// call, and never a byte past the end of a shorter name.
template <size_t N> bool named(const char *name, const char (&literal)[N]) noexcept
{
    for (size_t i = 0; i < N; ++i)
        if (name[i] != literal[i]) return false;
    return true;
}

ElementKind classify(const char *name) noexcept
{
    switch (name[0]) {
    case 'k':
        return named(name, "key") ? ElementKind::Key : ElementKind::Unknown;
    case 's':
        return named(name, "string") ? ElementKind::String : ElementKind::Unknown;
    case 'i':
        return named(name, "integer") ? ElementKind::Integer : ElementKind::Unknown;
    case 'd':
        if (named(name, "dict")) return ElementKind::Dict;
        if (named(name, "data")) return ElementKind::Data;
        if (named(name, "date")) return ElementKind::Date;
        return ElementKind::Unknown;
    case 'a':
        return named(name, "array") ? ElementKind::Array : ElementKind::Unknown;
    case 'r':
        return named(name, "real") ? ElementKind::Real : ElementKind::Unknown;
    case 't':
        return named(name, "true") ? ElementKind::True : ElementKind::Unknown;
    case 'f':
        return named(name, "false") ? ElementKind::False : ElementKind::Unknown;
    case 'p':
        return named(name, "plist") ? ElementKind::Plist : ElementKind::Unknown;
    default:
        return ElementKind::Unknown;
    }
}

const char *elementName(ElementKind kind) noexcept
{
    switch (kind) {
    case ElementKind::Plist:
        return "plist";
    case ElementKind::Dict:
        return "dict";
    case ElementKind::Array:
        return "array";
    case ElementKind::Key:
        return "key";
    case ElementKind::String:
        return "string";
    case ElementKind::Data:
        return "data";
    case ElementKind::Date:
        return "date";
    case ElementKind::Integer:
        return "integer";
    case ElementKind::Real:
        return "real";
    case ElementKind::True:
        return "true";
    case ElementKind::False:
        return "false";
    default:
        return "?";
    }
}

bool isXMLSpace(char c) noexcept
{
    constexpr uint64_t kSpaces = (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\r');
    auto               byte    = static_cast<unsigned char>(c);
    return byte <= ' ' && ((kSpaces >> byte) & 1) != 0;
}

// Most white space between elements is a line's indentation of four to
// eight tabs, checked as two overlapping words.
bool isAllSpace(const char *s, size_t length) noexcept
{
    constexpr uint32_t kTabs = 0x09090909u;
    if (length >= sizeof kTabs && length <= 2 * sizeof kTabs) {
        uint32_t head = 0;
        uint32_t tail = 0;
        std::memcpy(&head, s, sizeof head);
        std::memcpy(&tail, s + length - sizeof tail, sizeof tail);
        if (head == kTabs && tail == kTabs) return true;
    }
    for (size_t i = 0; i < length; ++i)
        if (s[i] != '\t' && !isXMLSpace(s[i])) return false;
    return true;
}

std::string_view trimmed(std::string_view text) noexcept
{
    while (!text.empty() && isXMLSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXMLSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// A short quotation of a refused text for the message.
std::string quoted(std::string_view text)
{
    constexpr size_t kLongest = 40;
    std::string      result   = "\"";
    if (text.size() <= kLongest) {
        result.append(text);
    } else {
        size_t cut = kLongest;
        while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
            --cut; // whole characters
        result.append(text.substr(0, cut)).append("...");
    }
    return result + "\"";
}

// Decimal or "0x" hexadecimal, with an optional sign and surrounding
// whitespace. Values above INT64_MAX up to UINT64_MAX are kept unsigned;
// anything else that does not fit 64 bits is refused.
std::optional<NumberValue> parseInteger(std::string_view text) noexcept
{
    text          = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t magnitude = 0;
    auto     result    = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    // from_chars also takes a sign of its own; digits only here.
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || text.front() == '-')
        return std::nullopt;

    NumberValue value{};
    if (negative) {
        constexpr uint64_t kLowest = uint64_t(1) << 63;
        if (magnitude > kLowest) return std::nullopt;
        value.kind = NumberKind::Signed;
        value.i    = magnitude == kLowest ? INT64_MIN : -static_cast<int64_t>(magnitude);
    } else if (magnitude > static_cast<uint64_t>(INT64_MAX)) {
        value.kind = NumberKind::Unsigned;
        value.u    = magnitude;
    } else {
        value.kind = NumberKind::Signed;
        value.i    = static_cast<int64_t>(magnitude);
    }
    return value;
}

// Decimal reals with exponents, "nan", "inf" and "infinity" in any case,
// with an optional sign. Values beyond the range of a double are refused
// rather than silently turned into infinity or zero.
std::optional<double> parseReal(std::string_view text) noexcept
{
    text      = trimmed(text);
    bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);
    if (text.empty() || (plus && text.front() == '-')) return std::nullopt;
    double value  = 0;
    auto   result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// Whether string was made from text (well-formed UTF-8).
bool holds(CFStringRef string, std::string_view text) noexcept
{
    // The pools hold immutable strings only, and nearly all of them ASCII.
    if (string->isASCII())
        return string->length == text.size() &&
               std::memcmp(narrowUnits(string), text.data(), text.size()) == 0;
    StringUnits units = unitsOf(string);
    const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
    size_t      unit  = 0;
    for (size_t i = 0; i < text.size();) {
        int32_t c = nextUTF8(bytes, i, text.size());
        if (c < 0) return false;
        char16_t pair[2];
        size_t   width = 0;
        U16_APPEND_UNSAFE(pair, width, c);
        for (size_t k = 0; k < width; ++k, ++unit)
            if (unit >= units.length || units.at(unit) != pair[k]) return false;
    }
    return unit == units.length;
}

// What the two string caches below keep per text: its string, the low half
// of its hash and its length in bytes. Texts are hashed with the string
// hash's own function, so a string made from ASCII text (its bytes are its
// units) starts with its hash already known; a text is compared with the
// units of its string, so that a lookup touches the slot and the string and
// nothing else.
struct PoolSlot {
    CFStringRef string = nullptr;
    uint32_t    hash   = 0;
    uint32_t    length = 0;

    bool holdsText(uint64_t textHash, std::string_view text) const noexcept
    {
        return string != nullptr && hash == static_cast<uint32_t>(textHash) &&
               length == text.size() && holds(string, text);
    }
};

uint64_t hashOfText(std::string_view text) noexcept
{
    return hashNarrowUnits(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

// A new string of text, whose hash is textHash, in a slot of its own: the
// slot holds one reference, the caller gets another. Nothing, and a slot
// without a string, when it cannot be made.
PoolSlot makePooledString(std::string_view text, uint64_t textHash)
{
    CFStringRef string = createStringFromUTF8(text.data(), text.size());
    if (string == nullptr) return PoolSlot{};
    if (string->isASCII()) primeStringHash(string, textHash);
    retainObject(string);
    return PoolSlot{string, static_cast<uint32_t>(textHash), static_cast<uint32_t>(text.size())};
}

void releaseSlots(const std::vector<PoolSlot> &slots) noexcept
{
    for (const PoolSlot &slot : slots)
        if (slot.string != nullptr) releaseObject(slot.string);
}

// The keys of one parse, one object per distinct text.
class StringPool {
  public:
    StringPool() noexcept = default;
    ~StringPool() { releaseSlots(slots_); }
    StringPool(const StringPool &)            = delete;
    StringPool &operator=(const StringPool &) = delete;

    // +1 reference to the string of this text; nullptr when it cannot be
    // made. May throw std::bad_alloc.
    CFStringRef intern(std::string_view text)
    {
        if (text.size() > UINT32_MAX) {
            allInterned_ = false;
            return createStringFromUTF8(text.data(), text.size());
        }
        if (slots_.empty()) slots_.resize(kInitialSlots);
        uint64_t hash = hashOfText(text);
        size_t   mask = slots_.size() - 1;
        for (size_t i = hash & mask; slots_[i].string != nullptr; i = (i + 1) & mask) {
            if (slots_[i].holdsText(hash, text)) {
                retainObject(slots_[i].string);
                return slots_[i].string;
            }
        }
        if ((count_ + 1) * 2 > slots_.size()) grow();
        PoolSlot fresh = makePooledString(text, hash);
        if (fresh.string == nullptr) return nullptr;
        place(fresh);
        ++count_;
        return fresh.string;
    }

    // Whether every key handed out so far is the one object of its text.
    bool allInterned() const noexcept { return allInterned_; }

    // Whether a key of this text was handed out; true also when a key went
    // by without the pool.
    bool met(std::string_view text) const noexcept
    {
        return !allInterned_ || find(text) != nullptr;
    }

    // The key of this text, borrowed; nullptr when there is none.
    CFStringRef find(std::string_view text) const noexcept
    {
        if (slots_.empty()) return nullptr;
        uint64_t hash = hashOfText(text);
        size_t   mask = slots_.size() - 1;
        for (size_t i = hash & mask; slots_[i].string != nullptr; i = (i + 1) & mask)
            if (slots_[i].holdsText(hash, text)) return slots_[i].string;
        return nullptr;
    }

  private:
    static constexpr size_t kInitialSlots = 64;

    void place(const PoolSlot &slot) noexcept
    {
        size_t mask = slots_.size() - 1;
        size_t i    = slot.hash & mask;
        while (slots_[i].string != nullptr)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
    void grow()
    {
        std::vector<PoolSlot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const PoolSlot &slot : old)
            if (slot.string != nullptr) place(slot);
    }

    std::vector<PoolSlot> slots_; // a power of two in size, at most half full
    size_t                count_       = 0;
    bool                  allInterned_ = true;
};

// Short value strings ("DHCP", "Automatic", addresses): one object per text
// for the texts that repeat, as far as a small cache remembers them. Unlike
// the keys, most short values of a large store are unique (device names,
// service names), and a pool of every one of them costs a lookup in a large
// table per value for nothing; the cache stays small (its slots fit the
// processor's caches). A slot keeps the first text that lands in it: the
// texts that repeat most ("DHCP", "Ethernet") come early in a store, and
// putting a later text in its place would touch the string it evicts, a
// cache miss per unique value, to release it.
class RecentStrings {
  public:
    RecentStrings() noexcept = default;
    ~RecentStrings() { releaseSlots(slots_); }
    RecentStrings(const RecentStrings &)            = delete;
    RecentStrings &operator=(const RecentStrings &) = delete;

    // +1 reference to a string of this text; nullptr when it cannot be made.
    // May throw std::bad_alloc.
    CFStringRef intern(std::string_view text)
    {
        if (text.size() > UINT32_MAX) return createStringFromUTF8(text.data(), text.size());
        if (slots_.empty()) slots_.resize(kSlots);
        uint64_t  hash = hashOfText(text);
        PoolSlot &slot = slots_[hash & (kSlots - 1)];
        if (slot.holdsText(hash, text)) {
            retainObject(slot.string);
            return slot.string;
        }
        if (slot.string != nullptr) return createStringFromUTF8(text.data(), text.size());
        slot = makePooledString(text, hash);
        return slot.string;
    }

  private:
    // 16 KiB: four pages, each a fault at its first touch in a short
    // process; the values that repeat find their slots early all the same.
    static constexpr size_t kSlots = 1024;
    std::vector<PoolSlot>   slots_;
};

struct Frame {
    ElementKind kind;
    size_t      valueBase; // values_ size when the frame opened
    size_t      keyBase;   // keys_ size when the frame opened
    // Where its start tag is in expat's buffer, while the parsed input is
    // being released (expat compares the end tag with the start tag's name
    // there); nullptr otherwise.
    const char *tag = nullptr;
};

// The bytes of a start tag kept for expat: "<" and the name of a container,
// which is at most five letters.
constexpr size_t kTagSpan = 16;
// The parsed input is released in runs of at least this many pages (256 KiB
// of 4 KiB pages), so that a document's bytes and its tree are never held at
// once for more than that much of it.
constexpr size_t kReleaseRunPages = 64;
// Containers closed between two looks at how far the parse has come.
constexpr unsigned kReleaseCheckEvery = 32;

constexpr int64_t kSmallestShared      = -1;
constexpr int64_t kLargestShared       = 255;
constexpr size_t  kLongestSharedString = 24;

constexpr std::string_view kOutOfMemory = "out of memory";

// Bytes of a piece that is not the last handed to expat at once: expat's
// copy of the document stays this small however large the piece is.
constexpr size_t kFeedPiece = 128 * 1024;
// The longest piece expat takes (its lengths are ints).
constexpr size_t kMaxExpatPiece = INT_MAX;

} // namespace

struct PlistReader::State {
    ObjectArena               arena; // the blocks of the tree's objects
    XML_Parser                parser = nullptr;
    bool                      mutableContainers;
    bool                      mutableLeaves;
    std::vector<Frame>        frames;
    std::vector<const void *> values;
    std::vector<const void *> keys;
    ElementKind               leaf  = ElementKind::None; // the leaf element being read
    size_t                    depth = 0;                 // open containers
    std::string               bytes;                     // decoded <data>
    StringPool                keyPool;
    RecentStrings             valuePool;     // short strings, immutable parses only
    std::vector<CFNumberRef>  smallIntegers; // kSmallestShared and up, made on first use
    bool                      failed      = false;
    bool                      outOfMemory = false; // why it failed
    bool                      finished    = false;
    std::string               error;
    CFPropertyListRef         result = nullptr;
    // The leaf's text so far. While it is one run of expat's buffer it is
    // only viewed there (no copy): expat leaves its buffer alone for the
    // length of a parse call, and the view is copied into copiedText when a
    // call ends with the leaf open. Runs expat makes elsewhere (a line break, a
    // character reference, text converted from another encoding) are
    // copied at once.
    std::string      copiedText;
    std::string_view textView;
    const char      *bufferStart = nullptr; // expat's buffer in this parse call,
    const char      *bufferEnd   = nullptr; // once a leaf's text asked for it
    bool             bufferKnown = false;
    // Releasing the parsed input (PlistReader::releaseParsedInput): the
    // system's hook, its page size, and during the final parse of a piece
    // of expat's buffer, where the pages not yet released start.
    void (*releasePages)(void *start, size_t count)  = nullptr;
    bool (*lendBlock)(void *start)                   = nullptr; // when the input is lent
    void (*freeLentBlock)(void *start, size_t count) = nullptr;
    uintptr_t   pageSize                             = 0;
    const char *piece                                = nullptr; // what buffer() last handed out
    const char *releasedTo                           = nullptr; // non-null while releasing
    unsigned    sinceRelease                         = 0;
    bool        released = false; // some input is gone: positions are unknown
    // Lent blocks kept back while they hold an open container's start tag.
    static constexpr size_t kMostKeptBack           = 16;
    const char             *keptBack[kMostKeptBack] = {};
    size_t                  keptBackCount           = 0;

    explicit State(CFOptionFlags mutability) noexcept
        : mutableContainers(mutability == kCFPropertyListMutableContainers ||
                            mutability == kCFPropertyListMutableContainersAndLeaves),
          mutableLeaves(mutability == kCFPropertyListMutableContainersAndLeaves)
    {
    }
    ~State()
    {
        for (const void *value : values)
            releaseObject(value);
        for (const void *key : keys)
            releaseObject(key);
        if (result != nullptr) releaseObject(result);
        for (CFNumberRef number : smallIntegers)
            if (number != nullptr) releaseObject(number);
        if (parser != nullptr) XML_ParserFree(parser);
    }

    // Keeps the first message, with the position of the current event, and
    // stops the parser (unless expat itself has already given up).
    void fail(std::string_view what, bool stopParser = true) noexcept
    {
        if (failed) return;
        failed      = true;
        outOfMemory = what == kOutOfMemory;
        try {
            error.assign(what);
            // Once input was released, expat counts lines over pages that
            // no longer hold the document: no position beats a wrong one.
            if (parser != nullptr && !released) {
                error += " at line " + std::to_string(XML_GetCurrentLineNumber(parser)) +
                         ", column " + std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
            }
        } catch (...) {
            error.clear(); // the message itself did not fit; errorMessage() says so
        }
        if (parser != nullptr && stopParser) XML_StopParser(parser, XML_FALSE);
    }
    // Any other exception is a programming error: the noexcept boundary stops
    // the process here rather than unwinding through expat's C frames.
    template <typename F> void guard(F &&body) noexcept
    {
        if (failed) return;
        try {
            body();
        } catch (const std::bad_alloc &) {
            fail(kOutOfMemory);
        }
    }

    void pushValue(const void *value)
    {
        try {
            values.push_back(value);
        } catch (...) {
            releaseObject(value);
            throw;
        }
    }

    // Whether a value may start here; refuses it with a message otherwise.
    bool admitValue(ElementKind kind)
    {
        const Frame &frame = frames.back();
        size_t       held  = values.size() - frame.valueBase;
        switch (frame.kind) {
        case ElementKind::Dict:
            if (keys.size() - frame.keyBase == held + 1) return true;
            failWithout(kind);
            return false;
        case ElementKind::Plist:
            if (held == 0) return true;
            fail("more than one value in <plist>");
            return false;
        default:
            return true;
        }
    }

    // The refusals that build their message, out of the way of the
    // callbacks' common path.
    [[gnu::cold, gnu::noinline]] void failWithout(ElementKind kind)
    {
        fail(std::string("<") + elementName(kind) + "> without a <key> in a dictionary");
    }
    [[gnu::cold, gnu::noinline]] void failUnknown(const char *name)
    {
        fail(std::string("unknown element <") + name + ">");
    }
    [[gnu::cold, gnu::noinline]] void failInsideLeaf(const char *name)
    {
        fail(std::string("element <") + name + "> inside <" + elementName(leaf) + ">");
    }

    void startElement(const char *name)
    {
        ElementKind kind = classify(name);
        if (kind == ElementKind::Unknown) return failUnknown(name);
        if (leaf != ElementKind::None) return failInsideLeaf(name);
        switch (kind) {
        case ElementKind::Plist:
        case ElementKind::Dict:
        case ElementKind::Array:
            return openContainer(kind);
        case ElementKind::Key: {
            const Frame &frame = frames.back();
            if (frame.kind != ElementKind::Dict) return fail("<key> outside a dictionary");
            if (keys.size() - frame.keyBase != values.size() - frame.valueBase)
                return fail("<key> follows a key without a value");
            leaf = kind;
            clearText();
            return;
        }
        default:
            if (!admitValue(kind)) return;
            leaf = kind;
            clearText();
            return;
        }
    }

    // Out of line: a frame pushed may grow the stack, which would give every
    // start tag the frame of a call that allocates.
    [[gnu::noinline]] void openContainer(ElementKind kind)
    {
        if (kind == ElementKind::Plist) {
            if (frames.back().kind != ElementKind::Document)
                return fail("<plist> inside another element");
            frames.push_back(Frame{kind, values.size(), keys.size(), eventIfReleasing()});
            return;
        }
        if (!admitValue(kind)) return;
        if (depth == kMaxPlistDepth) return fail("containers nested deeper than 512 levels");
        frames.push_back(Frame{kind, values.size(), keys.size(), eventIfReleasing()});
        ++depth;
    }

    // Where the current event starts in expat's buffer while the parsed
    // input is being released, else nullptr.
    const char *eventIfReleasing() noexcept
    {
        if (releasedTo == nullptr) return nullptr;
        int         offset = 0;
        const char *buffer = XML_GetInputContext(parser, &offset, nullptr);
        return buffer == nullptr ? nullptr : buffer + offset;
    }

    const char *pageFloor(const char *at) const noexcept
    {
        return reinterpret_cast<const char *>(reinterpret_cast<uintptr_t>(at) & ~(pageSize - 1));
    }
    const char *pageCeil(const char *at) const noexcept { return pageFloor(at + (pageSize - 1)); }
    static const char *blockFloor(const char *at) noexcept
    {
        return reinterpret_cast<const char *>(reinterpret_cast<uintptr_t>(at) &
                                              ~(uintptr_t{ObjectArena::kBlockBytes} - 1));
    }
    static const char *blockCeil(const char *at) noexcept
    {
        return blockFloor(at + (ObjectArena::kBlockBytes - 1));
    }

    // Hands the pages of the piece that the parse has left behind back to
    // the system, all but those holding the start tags of open containers,
    // once they make a run worth a call. expat reads nothing behind its
    // current event in the final piece but those names (the rest of the
    // start tag is copied when it is read).
    void releaseParsedInput() noexcept
    {
        const char *event = eventIfReleasing();
        if (event == nullptr) return;
        if (freeLentBlock != nullptr) return lendParsedInput(event);
        const char *limit = pageFloor(event);
        if (limit <= releasedTo ||
            static_cast<size_t>(limit - releasedTo) < kReleaseRunPages * pageSize)
            return;
        releasedTo = giveBackAround(releasedTo, limit);
    }

    // The same when the input is lent: whole blocks, each as soon as the
    // parse has left it, so that the tree takes as few new pages as it can.
    // A block that holds the start tag of an open container waits, whole,
    // until that container closes (given back around the tag, it would be
    // lost to the tree); the part of the piece before its first whole block
    // stays until the end.
    void lendParsedInput(const char *event) noexcept
    {
        size_t waiting = 0;
        for (size_t i = 0; i < keptBackCount; i++) {
            if (holdsOpenTag(keptBack[i]))
                keptBack[waiting++] = keptBack[i];
            else
                lendOrRelease(keptBack[i]);
        }
        keptBackCount     = waiting;
        const char *limit = blockFloor(event);
        const char *from  = blockCeil(releasedTo);
        for (; from + ObjectArena::kBlockBytes <= limit; from += ObjectArena::kBlockBytes) {
            if (!holdsOpenTag(from))
                lendOrRelease(from);
            else if (keptBackCount < kMostKeptBack)
                keptBack[keptBackCount++] = from;
            else
                giveBackAround(from, from + ObjectArena::kBlockBytes);
        }
        releasedTo = std::max(releasedTo, from);
    }
    bool holdsOpenTag(const char *block) const noexcept
    {
        const char *end = block + ObjectArena::kBlockBytes;
        for (const Frame &frame : frames)
            if (frame.tag != nullptr && frame.tag < end && frame.tag + kTagSpan > block)
                return true;
        return false;
    }
    void lendOrRelease(const char *block) noexcept
    {
        released    = true;
        auto *start = const_cast<char *>(block);
        if (lendBlock(start))
            arena.adoptBlock(start, freeLentBlock);
        else
            releasePages(start, ObjectArena::kBlockBytes);
    }
    // Gives the system the pages of [from, to) that hold no open start tag;
    // returns where the pages given or kept end.
    const char *giveBackAround(const char *from, const char *to) noexcept
    {
        for (const Frame &frame : frames) {
            if (frame.tag == nullptr || frame.tag + kTagSpan <= from) continue;
            if (frame.tag >= to) break;
            if (const char *gapEnd = pageFloor(frame.tag); gapEnd > from) giveBack(from, gapEnd);
            from = std::max(from, pageCeil(frame.tag + kTagSpan));
        }
        if (to > from) giveBack(from, to);
        return std::max(from, to);
    }
    void giveBack(const char *from, const char *to) noexcept
    {
        released = true;
        releasePages(const_cast<char *>(from), static_cast<size_t>(to - from));
    }

    void endElement()
    {
        if (leaf != ElementKind::None) {
            ElementKind kind = leaf;
            leaf             = ElementKind::None;
            return finishLeaf(kind);
        }
        Frame frame = frames.back();
        if (frame.kind == ElementKind::Plist) {
            frames.pop_back();
            return;
        }
        if (frame.kind != ElementKind::Dict && frame.kind != ElementKind::Array) return;
        frames.pop_back();
        --depth;
        size_t      count     = values.size() - frame.valueBase;
        const void *container = nullptr;
        if (frame.kind == ElementKind::Dict) {
            if (keys.size() - frame.keyBase != count) return fail("<key> without a value");
            // The adopting constructor owns the references from here on,
            // even when it fails.
            container = createDictionaryAdopting(keys.data() + frame.keyBase,
                                                 values.data() + frame.valueBase, count,
                                                 mutableContainers, keyPool.allInterned());
            keys.resize(frame.keyBase);
        } else {
            container =
                createArrayAdopting(values.data() + frame.valueBase, count, mutableContainers);
        }
        values.resize(frame.valueBase);
        if (container == nullptr) return fail(kOutOfMemory);
        pushValue(container);
        if (releasedTo != nullptr && ++sinceRelease == kReleaseCheckEvery) {
            sinceRelease = 0;
            releaseParsedInput();
        }
    }

    void characters(const char *s, size_t length)
    {
        switch (leaf) {
        case ElementKind::None:
        case ElementKind::True:
        case ElementKind::False:
            if (!isAllSpace(s, length)) {
                fail(leaf == ElementKind::None
                         ? "text outside a value"
                         : std::string("text inside <") + elementName(leaf) + "/>");
            }
            return;
        default:
            if (viewText(s, length)) return;
            keepText();
            copiedText.append(s, length);
        }
    }

    // Keeps the first run of a leaf's text as a view when it lies in
    // expat's buffer.
    bool viewText(const char *s, size_t length) noexcept
    {
        if (leaf == ElementKind::True || leaf == ElementKind::False || !textView.empty() ||
            !copiedText.empty() || !inBuffer(s, length))
            return false;
        textView = std::string_view(s, length);
        return true;
    }
    void clearText() noexcept
    {
        copiedText.clear();
        textView = {};
    }
    std::string_view leafText() const noexcept
    {
        return textView.empty() ? std::string_view(copiedText) : textView;
    }
    // Copies a viewed text into copiedText. May throw std::bad_alloc.
    void keepText()
    {
        if (textView.empty()) return;
        copiedText.assign(textView);
        textView = {};
    }
    // Whether s lies in expat's buffer of this parse call.
    bool inBuffer(const char *s, size_t length) noexcept
    {
        if (!bufferKnown) learnBuffer();
        auto at    = reinterpret_cast<uintptr_t>(s);
        auto start = reinterpret_cast<uintptr_t>(bufferStart);
        auto end   = reinterpret_cast<uintptr_t>(bufferEnd);
        return bufferStart != nullptr && at >= start && at <= end && length <= end - at;
    }
    // expat tells where its buffer is only when built to keep context
    // bytes (as distributions build it); without, every run is copied.
    [[gnu::noinline]] void learnBuffer() noexcept
    {
        bufferKnown        = true;
        int         size   = 0;
        const char *buffer = XML_GetInputContext(parser, nullptr, &size);
        bufferStart        = buffer;
        bufferEnd          = buffer == nullptr ? nullptr : buffer + size;
    }
    // Around every parse call: expat may move its buffer between calls.
    void beforeParse() noexcept { bufferKnown = false; }
    void afterParse() noexcept
    {
        bufferKnown = false;
        guard([&] { keepText(); });
    }

    void finishLeaf(ElementKind kind)
    {
        std::string_view text  = leafText();
        const void      *value = nullptr;
        switch (kind) {
        case ElementKind::Key: {
            CFStringRef key = keyPool.intern(text);
            if (key == nullptr) return fail(kOutOfMemory);
            try {
                keys.push_back(key);
            } catch (...) {
                releaseObject(key);
                throw;
            }
            return;
        }
        case ElementKind::String:
            value = makeString(text);
            break;
        case ElementKind::Integer: {
            std::optional<NumberValue> number = parseInteger(text);
            if (!number) return fail("integer " + quoted(text) + " is not a 64-bit integer");
            value = number->kind == NumberKind::Unsigned ? createUnsignedNumber(number->u)
                                                         : makeInteger(number->i);
            break;
        }
        case ElementKind::Real: {
            std::optional<double> real = parseReal(text);
            if (!real) return fail("real " + quoted(text) + " is not a number a double can hold");
            value = createRealNumber(*real);
            break;
        }
        case ElementKind::Date: {
            std::optional<double> at = parsePlistDate(text);
            if (!at) return fail("date " + quoted(text) + " is not YYYY-MM-DDTHH:MM:SSZ");
            value = CFDateCreate(nullptr, *at);
            break;
        }
        case ElementKind::Data:
            value = makeData(text);
            break;
        case ElementKind::True:
            value = kCFBooleanTrue;
            break;
        case ElementKind::False:
            value = kCFBooleanFalse;
            break;
        default:
            return;
        }
        if (failed) return;
        if (value == nullptr) return fail(kOutOfMemory);
        pushValue(value);
    }

    // Small integers (flags, counts, ports) repeat all over a store: one
    // object per value and parse. Numbers are never mutable, so sharing them
    // is invisible whatever the mutability option.
    const void *makeInteger(int64_t value)
    {
        if (value < kSmallestShared || value > kLargestShared) return createSignedNumber(value);
        if (smallIntegers.empty()) smallIntegers.resize(kLargestShared - kSmallestShared + 1);
        CFNumberRef &shared = smallIntegers[static_cast<size_t>(value - kSmallestShared)];
        if (shared == nullptr) shared = createSignedNumber(value);
        if (shared != nullptr) retainObject(shared);
        return shared;
    }

    const void *makeString(std::string_view text)
    {
        // Immutable short strings ("DHCP", "Automatic", addresses) share one
        // object per text like keys; longer ones are mostly unique (IDs,
        // paths) and would only fill the pool.
        if (!mutableLeaves && text.size() <= kLongestSharedString) return valuePool.intern(text);
        // A longer one that is also a key of the document (the ID of a
        // service in a set's service order) is that key's string.
        if (!mutableLeaves) {
            if (CFStringRef key = keyPool.find(text)) {
                retainObject(key);
                return key;
            }
        }
        CFStringRef string = createStringFromUTF8(text.data(), text.size());
        if (string == nullptr || !mutableLeaves) return string;
        CFMutableStringRef copy = CFStringCreateMutableCopy(nullptr, 0, string);
        releaseObject(string);
        return copy;
    }

    const void *makeData(std::string_view text)
    {
        if (!decodeBase64(text, bytes)) {
            fail("<data> holds text that is not base64");
            return nullptr;
        }
        const auto *start  = reinterpret_cast<const UInt8 *>(bytes.data());
        auto        length = static_cast<CFIndex>(bytes.size());
        if (!mutableLeaves) return CFDataCreate(nullptr, start, length);
        CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
        if (data != nullptr) CFDataAppendBytes(data, start, length);
        return data;
    }

    // After the last piece: exactly one value must have been read.
    void finishDocument()
    {
        if (values.size() != 1 || !keys.empty()) return fail("the document holds no value");
        result = values.back();
        values.clear();
    }
};

namespace {

using State = PlistReader::State;

void XMLCALL onStart(void *user, const XML_Char *name, const XML_Char **)
{
    auto *state = static_cast<State *>(user);
    state->guard([&] { state->startElement(name); });
}

void XMLCALL onEnd(void *user, const XML_Char *)
{
    auto *state = static_cast<State *>(user);
    state->guard([&] { state->endElement(); });
}

// What onCharacters leaves out of its own frame, which it keeps small.
[[gnu::noinline]] void moreCharacters(State *state, const XML_Char *s, size_t length)
{
    if (state->leaf == ElementKind::None) return state->fail("text outside a value");
    state->guard([&] { state->characters(s, length); });
}

// Called for every line break and indentation between elements as well as
// for the text of leaves: the white space between elements is checked here,
// without the leaf's machinery, and a line break, an indentation or a leaf's
// text in one run take no call.
void XMLCALL onCharacters(void *user, const XML_Char *s, int length)
{
    auto *state = static_cast<State *>(user);
    auto  count = static_cast<size_t>(length);
    if (state->leaf == ElementKind::None) {
        if (count == 1 && *s == '\n') return; // the end of a line
        if (isAllSpace(s, count)) return;
    } else if (state->viewText(s, count)) {
        return;
    }
    moreCharacters(state, s, count);
}

// Entities would let a document grow without bound or reach outside it;
// property lists never need them.
void XMLCALL onEntityDeclaration(void *user, const XML_Char *, int, const XML_Char *, int,
                                 const XML_Char *, const XML_Char *, const XML_Char *,
                                 const XML_Char *)
{
    static_cast<State *>(user)->fail("entity declarations are not allowed");
}

// With an external document type that is never read, expat cannot tell an
// undeclared entity from one declared there, and would drop the reference
// from the text without a word.
void XMLCALL onSkippedEntity(void *user, const XML_Char *name, int)
{
    auto *state = static_cast<State *>(user);
    state->guard(
        [&] { state->fail(std::string("reference to the undeclared entity &") + name + ";"); });
}

} // namespace

PlistReader::PlistReader(CFOptionFlags mutabilityOption, const PlistReaderMemory *memory) noexcept
{
    State *state = new (std::nothrow) State(mutabilityOption);
    if (state == nullptr) return;
    state_.reset(state);
    try {
        state->frames.push_back(Frame{ElementKind::Document, 0, 0});
    } catch (...) {
        state->fail(kOutOfMemory);
        return;
    }
    XML_Memory_Handling_Suite suite{};
    if (memory != nullptr) suite = {memory->allocate, memory->reallocate, memory->free};
    XML_Parser parser = memory != nullptr ? XML_ParserCreate_MM(nullptr, &suite, nullptr)
                                          : XML_ParserCreate(nullptr);
    if (parser == nullptr) {
        state->fail(kOutOfMemory);
        return;
    }
    state->parser = parser;
    XML_SetHashSalt(parser, static_cast<unsigned long>(processSeed()));
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetUserData(parser, state);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onCharacters);
    XML_SetEntityDeclHandler(parser, onEntityDeclaration);
    XML_SetSkippedEntityHandler(parser, onSkippedEntity);
}

PlistReader::~PlistReader() = default;

// Whether more may be parsed; refuses anything after the final piece.
bool PlistReader::admitPiece() noexcept
{
    State *state = state_.get();
    if (state == nullptr || state->failed) return false;
    if (state->finished) {
        state->fail("data after the end of the document");
        return false;
    }
    return true;
}

// After expat's answer on a piece: its refusal, if any, becomes the message
// (unless a callback refused first), and the final piece ends the document.
bool PlistReader::afterPiece(bool parsed, bool isFinal) noexcept
{
    State *state = state_.get();
    if (!parsed) {
        XML_Error code = XML_GetErrorCode(state->parser);
        if (!state->failed)
            state->fail(code == XML_ERROR_NO_MEMORY ? kOutOfMemory : XML_ErrorString(code), false);
        return false;
    }
    if (isFinal) {
        state->finished = true;
        state->guard([&] { state->finishDocument(); });
    }
    return !state->failed;
}

bool PlistReader::feed(const uint8_t *bytes, size_t count, bool isFinal) noexcept
{
    if (!admitPiece()) return false;
    // The final piece goes to expat in one call whenever it fits expat's int
    // length: expat skips its line-and-column bookkeeping over the final
    // buffer, which other pieces pay for byte by byte (about a sixth of a
    // bare parse). Earlier pieces are cut small, so that expat's copy of them
    // stays small.
    // The tree's objects come from the reader's arena.
    ObjectArena::Scope scope(state_->arena);
    bool               parsed = true;
    do {
        size_t piece = isFinal && count <= kMaxExpatPiece ? count : std::min(count, kFeedPiece);
        bool   last  = isFinal && piece == count;
        state_->beforeParse();
        parsed = XML_Parse(state_->parser, reinterpret_cast<const char *>(bytes),
                           static_cast<int>(piece), last ? XML_TRUE : XML_FALSE) == XML_STATUS_OK;
        state_->afterParse();
        bytes += piece;
        count -= piece;
    } while (parsed && count > 0);
    return afterPiece(parsed, isFinal);
}

void *PlistReader::buffer(size_t count) noexcept
{
    if (!admitPiece()) return nullptr;
    void *space =
        count <= kMaxExpatPiece ? XML_GetBuffer(state_->parser, static_cast<int>(count)) : nullptr;
    if (space == nullptr) state_->fail(kOutOfMemory, false);
    state_->piece = static_cast<const char *>(space);
    return space;
}

bool PlistReader::parseBuffer(size_t count, bool isFinal) noexcept
{
    if (state_ == nullptr || state_->failed) return false;
    State             &state = *state_;
    ObjectArena::Scope scope(state.arena);
    // Only a final piece: expat moves what is left of any other to the
    // start of its buffer for the next, reading its bytes again.
    if (isFinal && state.releasePages != nullptr && state.piece != nullptr)
        state.releasedTo = state.pageCeil(state.piece);
    state.beforeParse();
    bool parsed = XML_ParseBuffer(state.parser, static_cast<int>(count),
                                  isFinal ? XML_TRUE : XML_FALSE) == XML_STATUS_OK;
    state.afterParse();
    state.releasedTo    = nullptr;
    state.keptBackCount = 0; // the blocks kept back go with the buffer
    state.piece         = nullptr;
    return afterPiece(parsed, isFinal);
}

void PlistReader::releaseParsedInput(size_t pageSize, void (*releasePages)(void *, size_t)) noexcept
{
    bool powerOfTwo = pageSize != 0 && (pageSize & (pageSize - 1)) == 0;
    if (state_ == nullptr || !powerOfTwo) return;
    state_->pageSize     = pageSize;
    state_->releasePages = releasePages;
}

void PlistReader::lendParsedInput(bool (*lendBlock)(void *),
                                  void (*freeBlock)(void *, size_t)) noexcept
{
    if (state_ == nullptr || state_->releasePages == nullptr) return;
    state_->lendBlock     = lendBlock;
    state_->freeLentBlock = freeBlock;
}

bool PlistReader::releasedInput() const noexcept
{
    return state_ != nullptr && state_->released;
}

bool PlistReader::mayHaveReadKey(CFStringRef key) const noexcept
{
    if (state_ == nullptr || !key->isASCII()) return true;
    StringUnits units = unitsOf(key);
    return state_->keyPool.met(
        std::string_view(reinterpret_cast<const char *>(units.narrowData()), units.length));
}

CFPropertyListRef PlistReader::takeResult() noexcept
{
    if (state_ == nullptr || state_->failed) return nullptr;
    CFPropertyListRef result = state_->result;
    state_->result           = nullptr;
    return result;
}

bool PlistReader::ranOutOfMemory() const noexcept
{
    return state_ == nullptr || state_->outOfMemory || (state_->failed && state_->error.empty());
}

const std::string &PlistReader::errorMessage() const noexcept
{
    static const std::string kNoMemory(kOutOfMemory);
    static const std::string kNone;
    if (state_ == nullptr) return kNoMemory;
    if (state_->failed && state_->error.empty()) return kNoMemory;
    return state_->failed ? state_->error : kNone;
}

CFPropertyListRef readPropertyList(const uint8_t *bytes, size_t count,
                                   CFOptionFlags mutabilityOption, std::string *error) noexcept
{
    PlistReader reader(mutabilityOption);
    if (reader.feed(bytes, count, true)) return reader.takeResult();
    if (error != nullptr) {
        try {
            *error = reader.errorMessage();
        } catch (...) {
            error->clear();
        }
    }
    return nullptr;
}

} // namespace vz
