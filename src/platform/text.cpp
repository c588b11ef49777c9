// The Windows-1252 case tables, the lenient decoding of 8-bit text for display, and the
// small text helpers built on them.
#include "platform/text.h"

#include <array>
#include <cstdint>

namespace fetchora::text {

namespace {

struct CaseTables {
    std::array<unsigned char, 256> upper{};
    std::array<unsigned char, 256> lower{};
};

CaseTables makeTables() {
    CaseTables t;
    for (int i = 0; i < 256; ++i) {
        t.upper[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
        t.lower[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    }
    auto pair = [&t](int upperChar, int lowerChar) {
        t.upper[static_cast<size_t>(lowerChar)] = static_cast<unsigned char>(upperChar);
        t.lower[static_cast<size_t>(upperChar)] = static_cast<unsigned char>(lowerChar);
    };
    for (int c = 'A'; c <= 'Z'; ++c)
        pair(c, c + 32);
    pair(0x8A, 0x9A); // Š š
    pair(0x8C, 0x9C); // Œ œ
    pair(0x8E, 0x9E); // Ž ž
    pair(0x9F, 0xFF); // Ÿ ÿ
    for (int c = 0xC0; c <= 0xDE; ++c) {
        if (c != 0xD7) // × has no lower-case form
            pair(c, c + 32);
    }
    return t;
}

const CaseTables& tables() {
    static const CaseTables t = makeTables();
    return t;
}

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F; the five bytes that the code
// page leaves undefined map to the C1 control of the same number.
constexpr std::array<uint16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the valid UTF-8 sequence at s[i], or 0 when there is none.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t length = 0;
    uint32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07u;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

unsigned char ansiUpper(unsigned char c) {
    return tables().upper[c];
}

unsigned char ansiLower(unsigned char c) {
    return tables().lower[c];
}

std::string ansiUpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(ansiUpper(static_cast<unsigned char>(c)));
    return r;
}

std::string ansiLowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(ansiLower(static_cast<unsigned char>(c)));
    return r;
}

bool ansiSameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ansiLower(static_cast<unsigned char>(a[i])) !=
            ansiLower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string asciiLowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    }
    return r;
}

std::string asciiUpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    }
    return r;
}

bool asciiSameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && asciiLowerCase(a) == asciiLowerCase(b);
}

std::string toDisplayUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const size_t length = utf8SequenceLength(bytes, i);
        if (length > 0) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        appendUtf8(out, b < 0xA0 ? kHighControls[b - 0x80] : b);
        ++i;
    }
    return out;
}

std::string trim(std::string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ')
        --end;
    return std::string(s.substr(begin, end - begin));
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace fetchora::text
