// Base64.cpp: encoding and decoding of the base64 text of <data> elements.
#include "Base64.h"

#include <array>

namespace vz {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

enum : uint8_t { kInvalid = 0xFF, kSpace = 0xFE, kPad = 0xFD };

constexpr std::array<uint8_t, 256> makeDecodeTable()
{
    std::array<uint8_t, 256> table{};
    for (auto &entry : table)
        entry = kInvalid;
    for (uint8_t i = 0; i < 64; ++i)
        table[static_cast<uint8_t>(kAlphabet[i])] = i;
    table[' ']  = kSpace;
    table['\t'] = kSpace;
    table['\n'] = kSpace;
    table['\r'] = kSpace;
    table['=']  = kPad;
    return table;
}

constexpr std::array<uint8_t, 256> kDecode = makeDecodeTable();

} // namespace

void appendBase64Lines(const uint8_t *bytes, size_t count, std::string_view indent,
                       std::string &out)
{
    if (count == 0) return;
    size_t width   = base64LineLength(indent);
    size_t encoded = (count + 2) / 3 * 4;
    size_t lines   = (encoded + width - 1) / width;
    out.reserve(out.size() + encoded + lines * (indent.size() + 1));

    size_t column = 0;
    auto   put    = [&](char c) {
        if (column == 0) out.append(indent);
        out.push_back(c);
        if (++column == width) {
            out.push_back('\n');
            column = 0;
        }
    };
    size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        uint32_t group = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        put(kAlphabet[(group >> 18) & 63]);
        put(kAlphabet[(group >> 12) & 63]);
        put(kAlphabet[(group >> 6) & 63]);
        put(kAlphabet[group & 63]);
    }
    if (i < count) {
        uint32_t group = uint32_t(bytes[i]) << 16;
        if (i + 1 < count) group |= uint32_t(bytes[i + 1]) << 8;
        put(kAlphabet[(group >> 18) & 63]);
        put(kAlphabet[(group >> 12) & 63]);
        put(i + 1 < count ? kAlphabet[(group >> 6) & 63] : '=');
        put('=');
    }
    if (column != 0) out.push_back('\n');
}

bool decodeBase64(std::string_view text, std::string &out)
{
    out.clear();
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t group   = 0; // bits of the current quantum
    int      held    = 0; // characters in the current quantum
    int      padding = 0; // '=' seen; only whitespace and more '=' may follow
    for (char c : text) {
        uint8_t value = kDecode[static_cast<uint8_t>(c)];
        if (value == kSpace) continue;
        if (value == kInvalid) return false;
        if (value == kPad) {
            // Padding completes a quantum of two or three characters.
            if (held + padding < 2 || held + padding >= 4) return false;
            ++padding;
            continue;
        }
        if (padding != 0) return false;
        group = (group << 6) | value;
        if (++held == 4) {
            out.push_back(static_cast<char>(group >> 16));
            out.push_back(static_cast<char>(group >> 8));
            out.push_back(static_cast<char>(group));
            group = 0;
            held  = 0;
        }
    }
    // With padding the quantum must be exactly full; without it, a quantum of
    // two or three characters still carries one or two whole bytes.
    if (padding != 0 && held + padding != 4) return false;
    if (held == 1) return false;
    if (held == 2) out.push_back(static_cast<char>(group >> 4));
    if (held == 3) {
        out.push_back(static_cast<char>(group >> 10));
        out.push_back(static_cast<char>(group >> 2));
    }
    return true;
}

} // namespace vz
