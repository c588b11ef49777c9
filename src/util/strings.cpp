// The string helpers: splitting, fields, sizes for people, comparison of reals, case
// folding and 64-bit numbers.
#include "util/strings.h"

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/text.h"

#include <array>
#include <clocale>
#include <cmath>
#include <cstring>
#include <langinfo.h>
#include <locale.h> // NOLINT(modernize-deprecated-headers): newlocale and uselocale are POSIX

namespace fetchora {

std::vector<std::string> splitAt(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t found = text.find(separator, start);
        if (found == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, found - start));
        start = found + 1;
    }
}

std::vector<std::string> splitLines(const std::string& text) {
    if (text.empty())
        return {};
    // CR LF and a lone CR end a line as LF does.
    std::string breaks;
    breaks.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        breaks += text[i] == '\r' ? '\n' : text[i];
    }
    std::vector<std::string> lines = splitAt(breaks, '\n');
    if (breaks.back() == '\n')
        lines.pop_back();
    return lines;
}

std::string field(const std::string& text, const std::string& separator, int index) {
    // Text of a single line: its pieces between separators are the lines, found in place.
    // A last piece that is empty ends the text rather than making a line.
    if (!separator.empty() && separator.find_first_of("\r\n") == std::string::npos &&
        text.find_first_of("\r\n") == std::string::npos) {
        size_t pos = 0;
        for (int piece = 0;; ++piece) {
            const size_t found = text.find(separator, pos);
            if (found == std::string::npos && pos == text.size())
                break;
            const size_t end = found == std::string::npos ? text.size() : found;
            if (piece == index)
                return text.substr(pos, end - pos);
            if (found == std::string::npos)
                break;
            pos = found + separator.size();
        }
        throw ListError(index);
    }
    std::string joined;
    if (separator.empty()) {
        joined = text;
    } else {
        size_t pos = 0;
        for (;;) {
            const size_t found = text.find(separator, pos);
            if (found == std::string::npos) {
                joined.append(text, pos, std::string::npos);
                break;
            }
            joined.append(text, pos, found - pos);
            joined += '\n';
            pos = found + separator.size();
        }
    }
    const std::vector<std::string> lines = splitLines(joined);
    if (index < 0 || static_cast<size_t>(index) >= lines.size())
        throw ListError(index);
    return lines[static_cast<size_t>(index)];
}

namespace {

// The decimal point of the user's locale (LC_NUMERIC, LC_ALL or LANG), whatever locale
// the process itself runs in.
std::string userDecimalPoint() {
    locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr))
        return ".";
    std::string point = ::nl_langinfo_l(RADIXCHAR, user);
    ::freelocale(user);
    return point.empty() ? std::string(".") : point;
}

std::string oneDecimal(double value, const char* unit) {
    std::string text = format("%1.1f", value);
    const size_t dot = text.find('.');
    if (dot != std::string::npos)
        text.replace(dot, 1, userDecimalPoint());
    return text + " " + unit;
}

} // namespace

std::string formatSize(int64_t bytes) {
    const auto b = static_cast<double>(bytes);
    if (b / 1000000000.0 > 1)
        return oneDecimal(b / 1000000000.0, "GB");
    if (b / 1000000.0 > 1)
        return oneDecimal(b / 1000000.0, "MB");
    if (b / 1000.0 > 1)
        return oneDecimal(b / 1000.0, "KB");
    return std::to_string(bytes) + " Bytes";
}

namespace {

using FoldTable = std::array<char, 256>;

FoldTable makeFoldTable() {
    FoldTable table{};
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<char>(text::ansiLower(static_cast<unsigned char>(i)));
    return table;
}

const FoldTable& foldTable() {
    static const FoldTable table = makeFoldTable();
    return table;
}

} // namespace

void foldInto(std::string_view text, std::string& key) {
    const FoldTable& table = foldTable();
    key.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        key[i] = table[static_cast<unsigned char>(text[i])];
}

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// Eight bytes folded at once: an ASCII capital gains 0x20; a word that holds a byte above
// 127 goes through the table byte by byte.
uint64_t foldWord(uint64_t w, const FoldTable& table) {
    if ((w & kHighBits) != 0) {
        uint64_t folded = 0;
        for (int shift = 0; shift < 64; shift += 8) {
            const auto byte = static_cast<unsigned char>((w >> shift) & 0xFF);
            folded |= uint64_t{static_cast<unsigned char>(table[byte])} << shift;
        }
        return folded;
    }
    // Every byte is below 0x80, so these sums carry into no neighbour: the high bit of a
    // byte says whether it is at least "A", and whether it is beyond "Z".
    const uint64_t atLeastA = w + (0x80 - 'A') * kOnes;
    const uint64_t beyondZ = w + (0x80 - 'Z' - 1) * kOnes;
    const uint64_t capitals = atLeastA & ~beyondZ & kHighBits;
    return w | (capitals >> 2);
}

} // namespace

uint64_t foldedHash(std::string_view text) {
    // Eight folded bytes at a time, the last few in a word of their own.
    const FoldTable& table = foldTable();
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    uint64_t hash = (text.size() + 1) * kMultiplier;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t w = 0;
        std::memcpy(&w, text.data() + i, 8);
        hash = (hash ^ foldWord(w, table)) * kMultiplier;
        hash ^= hash >> 29;
    }
    if (i < text.size()) {
        uint64_t w = 0;
        std::memcpy(&w, text.data() + i, text.size() - i);
        hash = (hash ^ foldWord(w, table)) * kMultiplier;
        hash ^= hash >> 29;
    }
    return hash;
}

bool sameFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a == b)
        return true;
    const FoldTable& table = foldTable();
    for (size_t i = 0; i < a.size(); ++i) {
        if (table[static_cast<unsigned char>(a[i])] != table[static_cast<unsigned char>(b[i])])
            return false;
    }
    return true;
}

std::string foldedKey(std::string_view text) {
    std::string key;
    foldInto(text, key);
    return key;
}

namespace {

// The 32-bit reader's other forms: the value when it accepts the text (it then gives
// the same with either default), else fallback.
int64_t otherIntegerForm(std::string_view text, int64_t fallback) {
    const std::string s(text);
    const int a = strToIntDef(s, 0);
    return a == strToIntDef(s, 1) ? a : fallback;
}

} // namespace

int64_t strToInt64Def(std::string_view text, int64_t fallback) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        i = 1;
    if (i == text.size())
        return fallback;
    // Accumulated as a negative number, whose range reaches one further.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return otherIntegerForm(text, fallback);
        const int digit = c - '0';
        if (value < (INT64_MIN + digit) / 10)
            return fallback;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == INT64_MIN)
            return fallback;
        value = -value;
    }
    return value;
}

int compareReals(double a, double b) {
    if (a > b)
        return 1;
    if (a < b)
        return -1;
    return 0;
}

} // namespace fetchora
