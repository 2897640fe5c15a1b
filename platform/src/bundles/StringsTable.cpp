// StringsTable.cpp: parsing strings files and property-list tables.
#include "StringsTable.h"

#include "PlistReader.h"
#include "StringStorage.h"
#include "UTF.h"

#include <optional>
#include <string>

namespace vz {

namespace {

bool isHigh(char16_t unit)
{
    return (unit & 0xFC00) == 0xD800;
}
bool isLow(char16_t unit)
{
    return (unit & 0xFC00) == 0xDC00;
}

// The text of the table's bytes: UTF-16 after a byte-order mark, UTF-8
// otherwise; nothing when the bytes are not well formed.
std::optional<std::u16string> decode(std::span<const uint8_t> bytes)
{
    bool bigEndian    = bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
    bool littleEndian = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (bigEndian || littleEndian) {
        if (bytes.size() % 2 != 0) return std::nullopt;
        std::u16string text;
        text.reserve(bytes.size() / 2 - 1);
        for (size_t i = 2; i < bytes.size(); i += 2) {
            char16_t unit = bigEndian ? static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1])
                                      : static_cast<char16_t>(bytes[i + 1] << 8 | bytes[i]);
            if (isLow(unit) && (text.empty() || !isHigh(text.back()))) return std::nullopt;
            if (!text.empty() && isHigh(text.back()) && !isLow(unit)) return std::nullopt;
            text += unit;
        }
        if (!text.empty() && isHigh(text.back())) return std::nullopt;
        return text;
    }
    size_t skip =
        bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    std::u16string text;
    text.reserve(bytes.size() - skip);
    if (!appendUTF16FromUTF8(text, bytes.data() + skip, bytes.size() - skip)) return std::nullopt;
    return text;
}

// A recursive-descent reader of the strings format over UTF-16 text.
class StringsReader {
  public:
    explicit StringsReader(const std::u16string &text) : text_(text) {}

    // Fills table; false when the text is not a valid table.
    bool read(CFMutableDictionaryRef table)
    {
        for (;;) {
            if (!skipSpace()) return false;
            if (at_ == text_.size()) return true;
            std::u16string key, value;
            if (!quoted(&key) || !skipSpace() || !expect(u'=') || !skipSpace() || !quoted(&value) ||
                !skipSpace() || !expect(u';'))
                return false;
            CFRef<CFStringRef> k(createStringFromUTF16(key.data(), key.size()));
            CFRef<CFStringRef> v(createStringFromUTF16(value.data(), value.size()));
            if (!k || !v) return false;
            CFDictionarySetValue(table, k.get(), v.get());
        }
    }

  private:
    bool expect(char16_t unit)
    {
        if (at_ == text_.size() || text_[at_] != unit) return false;
        at_++;
        return true;
    }

    // Skips white space and comments; false at an unterminated comment.
    bool skipSpace()
    {
        while (at_ < text_.size()) {
            char16_t c = text_[at_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' ||
                c == 0xFEFF) {
                at_++;
            } else if (text_.compare(at_, 2, u"//") == 0) {
                size_t end = text_.find(u'\n', at_);
                at_        = end == std::u16string::npos ? text_.size() : end + 1;
            } else if (text_.compare(at_, 2, u"/*") == 0) {
                size_t end = text_.find(u"*/", at_ + 2);
                if (end == std::u16string::npos) return false;
                at_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    // One quoted string with its escapes, into *out.
    bool quoted(std::u16string *out)
    {
        if (!expect(u'"')) return false;
        // The last unit was a high surrogate written as \Uxxxx: its low half
        // must follow, written the same way.
        bool escapedHigh = false;
        while (at_ < text_.size()) {
            char16_t c = text_[at_++];
            if (c == '"') return !escapedHigh;
            if (c != '\\') {
                if (escapedHigh) return false;
                out->push_back(c);
                continue;
            }
            if (at_ == text_.size()) return false;
            char16_t escaped = text_[at_++];
            if (escaped == 'U') {
                std::optional<char16_t> unit = hexUnit();
                if (!unit || isLow(*unit) != escapedHigh) return false;
                escapedHigh = isHigh(*unit);
                out->push_back(*unit);
                continue;
            }
            if (escapedHigh) return false;
            switch (escaped) {
            case '"':
            case '\\':
                out->push_back(escaped);
                break;
            case 'n':
                out->push_back(u'\n');
                break;
            case 't':
                out->push_back(u'\t');
                break;
            default:
                return false;
            }
        }
        return false; // unterminated
    }

    std::optional<char16_t> hexUnit()
    {
        if (text_.size() - at_ < 4) return std::nullopt;
        unsigned value = 0;
        for (int i = 0; i < 4; i++) {
            char16_t c = text_[at_++];
            int      digit;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                return std::nullopt;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        return static_cast<char16_t>(value);
    }

    const std::u16string &text_;
    size_t                at_ = 0;
};

bool looksLikeXML(const std::u16string &text)
{
    size_t start = text.find_first_not_of(u" \t\r\n\uFEFF");
    return start != std::u16string::npos && text[start] == u'<';
}

} // namespace

CFRef<CFDictionaryRef> parseStringsTable(std::span<const uint8_t> bytes) noexcept
{
    return guarded<CFRef<CFDictionaryRef>>({}, [&]() -> CFRef<CFDictionaryRef> {
        std::optional<std::u16string> text = decode(bytes);
        if (!text) return {};
        if (looksLikeXML(*text)) {
            // The reader takes the bytes themselves and knows their encoding.
            CFRef<CFPropertyListRef> tree(
                readPropertyList(bytes.data(), bytes.size(), kCFPropertyListImmutable, nullptr));
            if (!tree || CFGetTypeID(tree.get()) != CFDictionaryGetTypeID()) return {};
            return CFRef<CFDictionaryRef>(static_cast<CFDictionaryRef>(tree.release()));
        }
        CFRef<CFMutableDictionaryRef> table(CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
        if (!table) return {};
        StringsReader reader(*text);
        if (!reader.read(table.get())) return {};
        return CFRef<CFDictionaryRef>(table.release());
    });
}

} // namespace vz
