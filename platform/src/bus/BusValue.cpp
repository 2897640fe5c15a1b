// BusValue.cpp: values of the bus's type system and their typed views.
#include "BusValue.h"

#include <cstring>

namespace vz::bus {

Value Value::basic(Kind kind, uint64_t bits)
{
    Value value;
    value.kind_      = kind;
    value.signature_ = std::string(1, static_cast<char>(kind));
    value.bits_      = bits;
    return value;
}

Value Value::byte(uint8_t value)
{
    return basic(Kind::Byte, value);
}
Value Value::boolean(bool value)
{
    return basic(Kind::Boolean, value ? 1 : 0);
}
Value Value::int32(int32_t value)
{
    return basic(Kind::Int32, static_cast<uint64_t>(static_cast<int64_t>(value)));
}
Value Value::uint32(uint32_t value)
{
    return basic(Kind::UInt32, value);
}
Value Value::int64(int64_t value)
{
    return basic(Kind::Int64, static_cast<uint64_t>(value));
}
Value Value::uint64(uint64_t value)
{
    return basic(Kind::UInt64, value);
}
Value Value::real(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return basic(Kind::Double, bits);
}

Value Value::string(std::string text)
{
    Value value;
    value.text_ = std::move(text);
    return value;
}
Value Value::objectPath(std::string text)
{
    Value value      = string(std::move(text));
    value.kind_      = Kind::ObjectPath;
    value.signature_ = "o";
    return value;
}
Value Value::signatureText(std::string text)
{
    Value value      = string(std::move(text));
    value.kind_      = Kind::Signature;
    value.signature_ = "g";
    return value;
}

Value Value::array(std::string elementSignature, std::vector<Value> items)
{
    Value value;
    value.kind_      = Kind::Array;
    value.signature_ = "a" + elementSignature;
    value.items_     = std::move(items);
    return value;
}
Value Value::structure(std::vector<Value> fields)
{
    Value value;
    value.kind_      = Kind::Struct;
    value.signature_ = "(";
    for (const Value &field : fields)
        value.signature_ += field.signature_;
    value.signature_ += ")";
    value.items_ = std::move(fields);
    return value;
}
Value Value::entry(Value key, Value item)
{
    Value value;
    value.kind_      = Kind::DictEntry;
    value.signature_ = "{" + key.signature_ + item.signature_ + "}";
    value.items_.push_back(std::move(key));
    value.items_.push_back(std::move(item));
    return value;
}
Value Value::variant(Value inner)
{
    Value value;
    value.kind_      = Kind::Variant;
    value.signature_ = "v";
    value.items_.push_back(std::move(inner));
    return value;
}
Value Value::propertyMap(std::vector<std::pair<std::string, Value>> properties)
{
    std::vector<Value> entries;
    entries.reserve(properties.size());
    for (auto &[name, item] : properties)
        entries.push_back(entry(string(std::move(name)), variant(std::move(item))));
    return array("{sv}", std::move(entries));
}

std::optional<bool> Value::asBoolean() const noexcept
{
    if (kind_ != Kind::Boolean) return std::nullopt;
    return bits_ != 0;
}
std::optional<int32_t> Value::asInt32() const noexcept
{
    if (kind_ != Kind::Int32) return std::nullopt;
    return static_cast<int32_t>(static_cast<int64_t>(bits_));
}
std::optional<uint32_t> Value::asUInt32() const noexcept
{
    if (kind_ != Kind::UInt32) return std::nullopt;
    return static_cast<uint32_t>(bits_);
}
std::optional<int64_t> Value::asInt64() const noexcept
{
    if (kind_ != Kind::Int64) return std::nullopt;
    return static_cast<int64_t>(bits_);
}
std::optional<uint64_t> Value::asUInt64() const noexcept
{
    if (kind_ != Kind::UInt64) return std::nullopt;
    return bits_;
}
std::optional<double> Value::asDouble() const noexcept
{
    if (kind_ != Kind::Double) return std::nullopt;
    double value = 0;
    std::memcpy(&value, &bits_, sizeof value);
    return value;
}
std::optional<uint8_t> Value::asByte() const noexcept
{
    if (kind_ != Kind::Byte) return std::nullopt;
    return static_cast<uint8_t>(bits_);
}
const std::string *Value::asString() const noexcept
{
    return kind_ == Kind::String ? &text_ : nullptr;
}
const std::string *Value::asObjectPath() const noexcept
{
    return kind_ == Kind::ObjectPath ? &text_ : nullptr;
}
const Value *Value::unwrapped() const noexcept
{
    return kind_ == Kind::Variant && items_.size() == 1 ? &items_.front() : nullptr;
}
const std::vector<Value> *Value::asArrayOf(std::string_view elementSignature) const noexcept
{
    if (kind_ != Kind::Array || std::string_view(signature_).substr(1) != elementSignature)
        return nullptr;
    return &items_;
}

std::optional<std::vector<std::string>> Value::asObjectPaths() const
{
    const std::vector<Value> *items = asArrayOf("o");
    if (items == nullptr) return std::nullopt;
    std::vector<std::string> paths;
    for (const Value &item : *items)
        paths.push_back(item.text_);
    return paths;
}

std::optional<std::vector<std::string>> Value::asStrings() const
{
    const std::vector<Value> *items = asArrayOf("s");
    if (items == nullptr) return std::nullopt;
    std::vector<std::string> texts;
    for (const Value &item : *items)
        texts.push_back(item.text_);
    return texts;
}

std::optional<std::vector<std::pair<std::string, uint32_t>>> Value::asStringUInt32Pairs() const
{
    const std::vector<Value> *items = asArrayOf("(su)");
    if (items == nullptr) return std::nullopt;
    std::vector<std::pair<std::string, uint32_t>> pairs;
    for (const Value &item : *items) {
        if (item.items_.size() != 2) return std::nullopt;
        pairs.emplace_back(item.items_[0].text_, static_cast<uint32_t>(item.items_[1].bits_));
    }
    return pairs;
}

std::optional<std::vector<uint8_t>> Value::asBytes() const
{
    const std::vector<Value> *items = asArrayOf("y");
    if (items == nullptr) return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(items->size());
    for (const Value &item : *items)
        bytes.push_back(static_cast<uint8_t>(item.bits_));
    return bytes;
}

bool Value::operator==(const Value &other) const noexcept
{
    return kind_ == other.kind_ && signature_ == other.signature_ && bits_ == other.bits_ &&
           text_ == other.text_ && items_ == other.items_;
}

std::optional<PropertyMap> toPropertyMap(const Value &value)
{
    const std::vector<Value> *entries = value.asArrayOf("{sv}");
    if (entries == nullptr) return std::nullopt;
    PropertyMap map;
    for (const Value &entry : *entries) {
        // Only a value made by hand with items of other types than its
        // signature says fails these.
        const std::string *name = entry.items().size() == 2 ? entry.items()[0].asString() : nullptr;
        const Value       *inner = name != nullptr ? entry.items()[1].unwrapped() : nullptr;
        if (inner == nullptr) return std::nullopt;
        map.emplace(*name, *inner);
    }
    return map;
}

std::optional<ObjectMap> toObjectMap(const Value &value)
{
    const std::vector<Value> *objects = value.asArrayOf("{oa{sa{sv}}}");
    if (objects == nullptr) return std::nullopt;
    ObjectMap map;
    for (const Value &object : *objects) {
        const std::string *path =
            object.items().size() == 2 ? object.items()[0].asObjectPath() : nullptr;
        if (path == nullptr) return std::nullopt;
        InterfaceMap interfaces;
        for (const Value &interface : object.items()[1].items()) {
            const std::string *name =
                interface.items().size() == 2 ? interface.items()[0].asString() : nullptr;
            std::optional<PropertyMap> properties;
            if (name != nullptr) properties = toPropertyMap(interface.items()[1]);
            if (!properties) return std::nullopt;
            interfaces.emplace(*name, std::move(*properties));
        }
        map.emplace(*path, std::move(interfaces));
    }
    return map;
}

} // namespace vz::bus
