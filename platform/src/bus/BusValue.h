// BusValue.h: a value of the bus's type system, read from a message or made
// to be sent in one.
//
// A Value holds one complete type: a basic value (integers, booleans,
// doubles, strings, object paths, signatures), or a container (an array with
// its element signature, a struct, a dictionary entry, a variant) with its
// items. Every value knows its signature, so what a peer sent can be checked
// against what the caller expects before any item is used. The typed views
// (asInt32(), asObjectPaths(), toPropertyMap(), ...) answer nothing for a
// value of any other type: a reply of the wrong shape is found out, never
// misread.
//
// Values are plain data: copyable, and free of the bus library's types.
#ifndef VZ_PLATFORM_BUSVALUE_H
#define VZ_PLATFORM_BUSVALUE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vz::bus {

class Value {
  public:
    // The type codes of the bus's signatures; Struct and DictEntry stand for
    // "(...)" and "{...}".
    enum class Kind : char {
        Byte       = 'y',
        Boolean    = 'b',
        Int16      = 'n',
        UInt16     = 'q',
        Int32      = 'i',
        UInt32     = 'u',
        Int64      = 'x',
        UInt64     = 't',
        Double     = 'd',
        String     = 's',
        ObjectPath = 'o',
        Signature  = 'g',
        Array      = 'a',
        Struct     = 'r',
        DictEntry  = 'e',
        Variant    = 'v',
    };

    Value() = default; // an empty string

    static Value byte(uint8_t value);
    static Value boolean(bool value);
    static Value int32(int32_t value);
    static Value uint32(uint32_t value);
    static Value int64(int64_t value);
    static Value uint64(uint64_t value);
    static Value real(double value);
    static Value string(std::string value);
    static Value objectPath(std::string value);
    // Integers of the other widths, a signature, as read from a message.
    static Value basic(Kind kind, uint64_t bits);
    static Value signatureText(std::string value);
    // An array of items of elementSignature (every item must have it).
    static Value array(std::string elementSignature, std::vector<Value> items);
    static Value structure(std::vector<Value> fields);
    static Value entry(Value key, Value value);
    static Value variant(Value inner);
    // a{sv} from names and values (each value is wrapped in a variant).
    static Value propertyMap(std::vector<std::pair<std::string, Value>> properties);

    Kind               kind() const noexcept { return kind_; }
    const std::string &signature() const noexcept { return signature_; }
    // The items of an array, the fields of a struct, key and value of an
    // entry, the one value in a variant; none for a basic value.
    const std::vector<Value> &items() const noexcept { return items_; }

    std::optional<bool>     asBoolean() const noexcept;
    std::optional<int32_t>  asInt32() const noexcept;
    std::optional<uint32_t> asUInt32() const noexcept;
    std::optional<int64_t>  asInt64() const noexcept;
    std::optional<uint64_t> asUInt64() const noexcept;
    std::optional<double>   asDouble() const noexcept;
    std::optional<uint8_t>  asByte() const noexcept;
    // The text of a string ("s"), of an object path ("o").
    const std::string *asString() const noexcept;
    const std::string *asObjectPath() const noexcept;
    // The value inside a variant; nullptr for anything else.
    const Value *unwrapped() const noexcept;
    // The items of an array whose elements have exactly this signature.
    const std::vector<Value> *asArrayOf(std::string_view elementSignature) const noexcept;

    // Typed views of the shapes services use. All may throw std::bad_alloc.
    std::optional<std::vector<std::string>> asObjectPaths() const; // ao
    std::optional<std::vector<std::string>> asStrings() const;     // as
    std::optional<std::vector<std::pair<std::string, uint32_t>>>
                                        asStringUInt32Pairs() const; // a(su)
    std::optional<std::vector<uint8_t>> asBytes() const;             // ay

    // Equal type and equal contents.
    bool operator==(const Value &other) const noexcept;

  private:
    Kind               kind_      = Kind::String;
    std::string        signature_ = "s";
    uint64_t           bits_      = 0; // integers and booleans, and a double's bits
    std::string        text_;          // strings, object paths, signatures
    std::vector<Value> items_;
};

// Properties by name, from a{sv}: each value is the one inside its variant.
using PropertyMap = std::map<std::string, Value>;
// An object manager's listing, from a{oa{sa{sv}}}: interfaces by object path,
// properties by interface.
using InterfaceMap = std::map<std::string, PropertyMap>;
using ObjectMap    = std::map<std::string, InterfaceMap>;

// The views of a{sv} and a{oa{sa{sv}}}; nullopt for a value of another type
// (a name given twice keeps its first value). May throw std::bad_alloc.
std::optional<PropertyMap> toPropertyMap(const Value &value);
std::optional<ObjectMap>   toObjectMap(const Value &value);

// The property's value, when it is there and has the type asked for by the
// view: for example property(map, "State", &Value::asInt32).
template <typename View>
auto property(const PropertyMap &map, const std::string &name, View view)
    -> decltype((std::declval<const Value &>().*view)())
{
    auto found = map.find(name);
    if (found == map.end()) return {};
    return (found->second.*view)();
}

} // namespace vz::bus

#endif
