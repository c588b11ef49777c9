// Base64 encoding and decoding (RFC 4648, section 4).
#include "http/base64.h"

#include <array>
#include <cstdint>

namespace fetchora {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of each byte, or -1 for bytes outside the alphabet.
constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}

constexpr std::array<int8_t, 256> kDecode = makeDecodeTable();

} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group =
            (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16) |
            (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8) |
            static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += kAlphabet[(group >> 6) & 63];
        out += kAlphabet[group & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest == 1) {
        const uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        const uint32_t group =
            (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16) |
            (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += kAlphabet[(group >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=')
            break;
        const int value = kDecode[static_cast<unsigned char>(c)];
        if (value < 0)
            continue;
        group = (group << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((group >> bits) & 0xFF);
        }
    }
    return out;
}

} // namespace fetchora
