// PlistWriter.cpp: the canonical XML layout of a property-list tree.
//
// The walk is recursive with the nesting bounded by kMaxPlistDepth, so the
// stack stays small whatever the tree. Dictionary entries are sorted in a
// scratch vector per depth, reused from one dictionary to the next.
#include "PlistWriter.h"

#include "Base64.h"
#include "Containers.h"
#include "PlistDate.h"
#include "PlistReader.h"
#include "StringStorage.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace vz {

OutputBuffer::~OutputBuffer()
{
    std::free(data_);
}

char *OutputBuffer::release() noexcept
{
    char *data = data_;
    data_      = nullptr;
    size_      = 0;
    capacity_  = 0;
    return data;
}

void OutputBuffer::grow(size_t atLeast)
{
    size_t wanted = capacity_ < 4096 ? 4096 : capacity_ * 2;
    while (wanted - size_ < atLeast)
        wanted *= 2;
    void *data = std::realloc(data_, wanted);
    if (data == nullptr) throw std::bad_alloc();
    data_     = static_cast<char *>(data);
    capacity_ = wanted;
}

namespace {

constexpr std::string_view kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<plist version=\"1.0\">\n";
constexpr std::string_view kFooter = "</plist>\n";

// Characters that go out as they are: printable ASCII but & < >.
constexpr std::array<bool, 128> makePlainTable()
{
    std::array<bool, 128> table{};
    for (int c = 0x20; c < 0x80; ++c)
        table[c] = c != '&' && c != '<' && c != '>';
    return table;
}
constexpr std::array<bool, 128> kPlain = makePlainTable();

// Literal order: UTF-16 code unit by code unit, a prefix first.
bool unitsLess(const StringUnits &a, const StringUnits &b) noexcept
{
    size_t common = std::min(a.length, b.length);
    if (a.narrow && b.narrow) {
        int order = __builtin_memcmp(a.narrowData(), b.narrowData(), common);
        if (order != 0) return order < 0;
    } else {
        for (size_t i = 0; i < common; ++i) {
            char16_t x = a.at(i), y = b.at(i);
            if (x != y) return x < y;
        }
    }
    return a.length < b.length;
}

struct SortEntry {
    StringUnits key;
    const void *value;
};

class Writer {
  public:
    explicit Writer(OutputBuffer &out) : out_(out) {}

    bool write(CFPropertyListRef root)
    {
        out_.append(kHeader);
        if (!writeValue(root, 0)) return false;
        out_.append(kFooter);
        return true;
    }
    std::string error;

  private:
    static std::string_view tabs(size_t depth)
    {
        static const std::string kTabs(kMaxPlistDepth + 1, '\t');
        return std::string_view(kTabs.data(), depth);
    }
    void indent(size_t depth) { out_.append(tabs(depth)); }
    bool refuse(std::string message)
    {
        error = std::move(message);
        return false;
    }

    bool writeValue(CFTypeRef value, size_t depth)
    {
        if (value == nullptr) return refuse("a value is NULL");
        switch (typeOf(value)) {
        case kStringTypeID:
            indent(depth);
            out_.append("<string>");
            if (!writeText(static_cast<CFStringRef>(value))) return false;
            out_.append("</string>\n");
            return true;
        case kNumberTypeID:
            return writeNumber(static_cast<CFNumberRef>(value), depth);
        case kBooleanTypeID:
            indent(depth);
            out_.append(value == kCFBooleanTrue ? "<true/>\n" : "<false/>\n");
            return true;
        case kDateTypeID: {
            scratch_.clear();
            if (!appendPlistDate(CFDateGetAbsoluteTime(static_cast<CFDateRef>(value)), scratch_))
                return refuse("a date lies outside the years 0000-9999");
            indent(depth);
            out_.append("<date>");
            out_.append(scratch_);
            out_.append("</date>\n");
            return true;
        }
        case kDataTypeID: {
            auto data = static_cast<CFDataRef>(value);
            indent(depth);
            out_.append("<data>\n");
            scratch_.clear();
            appendBase64Lines(CFDataGetBytePtr(data), static_cast<size_t>(CFDataGetLength(data)),
                              tabs(depth), scratch_);
            out_.append(scratch_);
            indent(depth);
            out_.append("</data>\n");
            return true;
        }
        case kArrayTypeID:
            return writeArray(static_cast<CFArrayRef>(value), depth);
        case kDictionaryTypeID:
            return writeDictionary(static_cast<CFDictionaryRef>(value), depth);
        default:
            return refuse("an object is not a property-list value");
        }
    }

    bool writeNumber(CFNumberRef number, size_t depth)
    {
        char        text[64];
        char       *end   = text;
        NumberValue value = numberValue(number);
        indent(depth);
        if (value.kind == NumberKind::Real) {
            // Spelled out: to_chars would give "-nan" for a NaN with the
            // sign bit set.
            if (std::isnan(value.d)) {
                out_.append("<real>nan</real>\n");
                return true;
            }
            end = std::to_chars(text, text + sizeof text, value.d).ptr;
            out_.append("<real>");
            out_.append(text, static_cast<size_t>(end - text));
            out_.append("</real>\n");
            return true;
        }
        end = value.kind == NumberKind::Unsigned
                  ? std::to_chars(text, text + sizeof text, value.u).ptr
                  : std::to_chars(text, text + sizeof text, value.i).ptr;
        out_.append("<integer>");
        out_.append(text, static_cast<size_t>(end - text));
        out_.append("</integer>\n");
        return true;
    }

    bool enterContainer(CFTypeRef container, size_t depth)
    {
        // depth counts the containers around this one.
        if (depth >= kMaxPlistDepth) return refuse("containers nested deeper than 512 levels");
        if (!hasStandardCallBacks(container))
            return refuse("a container holds raw pointers rather than objects");
        return true;
    }

    bool writeArray(CFArrayRef array, size_t depth)
    {
        if (!enterContainer(array, depth)) return false;
        std::span<const void *const> values = arrayValues(array);
        indent(depth);
        if (values.empty()) {
            out_.append("<array/>\n");
            return true;
        }
        out_.append("<array>\n");
        for (const void *value : values)
            if (!writeValue(value, depth + 1)) return false;
        indent(depth);
        out_.append("</array>\n");
        return true;
    }

    bool writeDictionary(CFDictionaryRef dict, size_t depth)
    {
        if (!enterContainer(dict, depth)) return false;
        std::span<const DictionaryEntry> entries = dictionaryEntries(dict);
        indent(depth);
        if (entries.empty()) {
            out_.append("<dict/>\n");
            return true;
        }
        if (sorted_.size() <= depth) sorted_.resize(depth + 1);
        std::vector<SortEntry> &order = sorted_[depth];
        order.clear();
        order.reserve(entries.size());
        for (const DictionaryEntry &entry : entries) {
            if (entry.key == nullptr || typeOf(entry.key) != kStringTypeID)
                return refuse("a dictionary key is not a string");
            order.push_back(SortEntry{unitsOf(static_cast<CFStringRef>(entry.key)), entry.value});
        }
        std::sort(order.begin(), order.end(),
                  [](const SortEntry &a, const SortEntry &b) { return unitsLess(a.key, b.key); });
        out_.append("<dict>\n");
        // Deeper dictionaries use sorted_[depth + 1] and on, and may grow
        // sorted_ itself: index it afresh for every entry.
        for (size_t i = 0, count = order.size(); i < count; ++i) {
            SortEntry entry = sorted_[depth][i];
            indent(depth + 1);
            out_.append("<key>");
            if (!writeUnits(entry.key)) return false;
            out_.append("</key>\n");
            if (!writeValue(entry.value, depth + 1)) return false;
        }
        indent(depth);
        out_.append("</dict>\n");
        return true;
    }

    bool writeText(CFStringRef string) { return writeUnits(unitsOf(string)); }

    // The units as escaped UTF-8.
    bool writeUnits(const StringUnits &units)
    {
        return units.narrow ? writeNarrow(units.narrowData(), units.length)
                            : writeWide(units.wideData(), units.length);
    }

    // Returns false for a unit that XML cannot carry; otherwise writes the
    // escape of an ASCII unit that needs one.
    bool writeSpecial(char16_t unit)
    {
        switch (unit) {
        case '&':
            out_.append("&amp;");
            return true;
        case '<':
            out_.append("&lt;");
            return true;
        case '>':
            out_.append("&gt;");
            return true;
        case '\r':
            out_.append("&#13;");
            return true;
        case '\t':
        case '\n':
            out_.push(static_cast<char>(unit));
            return true;
        default: {
            char message[80];
            std::snprintf(message, sizeof message, "a string holds U+%04X, which XML cannot carry",
                          unsigned(unit));
            return refuse(message);
        }
        }
    }

    bool writeNarrow(const uint8_t *units, size_t length)
    {
        size_t run = 0; // start of the units not yet written
        for (size_t i = 0; i < length; ++i) {
            uint8_t unit = units[i];
            if (unit < 0x80 && kPlain[unit]) continue;
            out_.append(reinterpret_cast<const char *>(units + run), i - run);
            run = i + 1;
            if (unit >= 0x80) {
                char bytes[2];
                out_.append(bytes, encodeUTF8(unit, bytes));
            } else if (!writeSpecial(unit)) {
                return false;
            }
        }
        out_.append(reinterpret_cast<const char *>(units + run), length - run);
        return true;
    }

    bool writeWide(const char16_t *units, size_t length)
    {
        for (size_t i = 0; i < length;) {
            char32_t c = nextUTF16(units, i, length);
            if (c < 0x80) {
                if (kPlain[c]) {
                    out_.push(static_cast<char>(c));
                } else if (!writeSpecial(static_cast<char16_t>(c))) {
                    return false;
                }
            } else if (isSurrogate(c)) {
                return refuse("a string holds an unpaired surrogate");
            } else if (c == 0xFFFE || c == 0xFFFF) {
                if (!writeSpecial(static_cast<char16_t>(c))) return false;
            } else {
                char bytes[4];
                out_.append(bytes, encodeUTF8(c, bytes));
            }
        }
        return true;
    }

    OutputBuffer                       &out_;
    std::string                         scratch_;
    std::vector<std::vector<SortEntry>> sorted_; // one per depth
};

bool isTreeWithin(CFTypeRef value, size_t depth) noexcept
{
    if (value == nullptr) return false;
    switch (typeOf(value)) {
    case kStringTypeID:
    case kNumberTypeID:
    case kBooleanTypeID:
    case kDateTypeID:
    case kDataTypeID:
        return true;
    case kArrayTypeID:
        if (depth >= kMaxPlistDepth || !hasStandardCallBacks(value)) return false;
        for (const void *child : arrayValues(static_cast<CFArrayRef>(value)))
            if (!isTreeWithin(child, depth + 1)) return false;
        return true;
    case kDictionaryTypeID:
        if (depth >= kMaxPlistDepth || !hasStandardCallBacks(value)) return false;
        for (const DictionaryEntry &entry :
             dictionaryEntries(static_cast<CFDictionaryRef>(value))) {
            if (entry.key == nullptr || typeOf(entry.key) != kStringTypeID) return false;
            if (!isTreeWithin(entry.value, depth + 1)) return false;
        }
        return true;
    default:
        return false;
    }
}

} // namespace

bool writePropertyList(CFPropertyListRef root, OutputBuffer &out, std::string *error)
{
    Writer writer(out);
    if (writer.write(root)) return true;
    if (error != nullptr) *error = std::move(writer.error);
    return false;
}

bool isPropertyListTree(CFPropertyListRef root) noexcept
{
    return isTreeWithin(root, 0);
}

} // namespace vz
