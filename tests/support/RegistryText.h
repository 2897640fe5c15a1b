// RegistryText.h: device registry snapshots written as XML text, for tests
// and benchmarks: a tree of Node values, each a class, an optional name,
// properties given as XML value elements, and children in order.
//
//   Node root;
//   root.Add(Node("IOPCIDevice").Set("name", Data("ethernet", true))
//                .Add(Node("IOEthernetController").Set("IOMACAddress", Data(mac))));
//   Write(kRegistryPath, RegistryXml(root));
#ifndef VZ_TESTS_REGISTRYTEXT_H
#define VZ_TESTS_REGISTRYTEXT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vztest {

inline std::string EscapeXml(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

// XML value elements.
inline std::string String(const std::string &text)
{
    return "<string>" + EscapeXml(text) + "</string>";
}
inline std::string Integer(long long value)
{
    return "<integer>" + std::to_string(value) + "</integer>";
}
inline std::string Data(const std::vector<uint8_t> &bytes)
{
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "<data>";
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = uint32_t(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= uint32_t(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= bytes[i + 2];
        out += kDigits[(group >> 18) & 63];
        out += kDigits[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
    }
    return out + "</data>";
}
// The bytes of text, with a terminating zero byte when withZero.
inline std::string Data(const std::string &text, bool withZero)
{
    std::vector<uint8_t> bytes(text.begin(), text.end());
    if (withZero) bytes.push_back(0);
    return Data(bytes);
}

struct Node {
    std::string                                      className; // empty: none written
    std::string                                      name;      // empty: none written
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<Node>                                children;

    Node() = default;
    explicit Node(std::string cls, std::string entryName = "")
        : className(std::move(cls)), name(std::move(entryName))
    {
    }
    Node &Set(const std::string &key, const std::string &valueXml)
    {
        properties.emplace_back(key, valueXml);
        return *this;
    }
    Node &Add(Node child)
    {
        children.push_back(std::move(child));
        return *this;
    }
};

inline void AppendNodeXml(const Node &node, std::string &out)
{
    out += "<dict>";
    if (!node.className.empty()) out += "<key>IOObjectClass</key>" + String(node.className);
    if (!node.name.empty()) out += "<key>IORegistryEntryName</key>" + String(node.name);
    for (const auto &[key, value] : node.properties)
        out += "<key>" + EscapeXml(key) + "</key>" + value;
    if (!node.children.empty()) {
        out += "<key>IORegistryEntryChildren</key><array>";
        for (const Node &child : node.children)
            AppendNodeXml(child, out);
        out += "</array>";
    }
    out += "</dict>\n";
}

// The snapshot file whose registry root is root.
inline std::string RegistryXml(const Node &root)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
    AppendNodeXml(root, out);
    return out + "</plist>\n";
}

inline constexpr const char *kRegistryPath = "var/run/SystemConfiguration/ioregistry.plist";

} // namespace vztest

#endif
