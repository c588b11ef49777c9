// String helpers: a text split at a character or into lines, a field of a delimited text,
// a size for people, a three-way comparison, case-folded keys and 64-bit numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

// The pieces of text between its separators: every separator splits, so n separators
// give n + 1 pieces, empty ones included (an empty text is one empty piece).
std::vector<std::string> splitAt(std::string_view text, char separator);

// Splits text at CR LF, LF or CR into lines; a final line break gives no empty line, and
// an empty text no line at all.
std::vector<std::string> splitLines(const std::string& text);

// Every separator becomes a line break; the result is split into lines and line index
// (from 0) returned. ListError "List index out of bounds (%d)" past the last line.
std::string field(const std::string& text, const std::string& separator, int index);

// "%1.1f GB", "%1.1f MB", "%1.1f KB" or "%d Bytes" in decimal units, with the decimal
// point of the user's locale.
std::string formatSize(int64_t bytes);

// The text with Windows-1252 case folded to lower case, byte for byte through a table, as
// the key under which texts equal without regard to case meet (hashed lookups, sorts).
std::string foldedKey(std::string_view text);
// Replaces key with the folded text, reusing its storage.
void foldInto(std::string_view text, std::string& key);
// A hash of the folded text: texts equal without regard to case hash alike.
uint64_t foldedHash(std::string_view text);
// True when the texts are equal without regard to Windows-1252 case.
bool sameFolded(std::string_view a, std::string_view b);

// The whole text read as a signed decimal 64-bit integer (an optional sign and digits,
// nothing around them); fallback for anything else or a number out of range. A text
// that the 32-bit reader accepts in another form ("$" hexadecimal) reads as it did.
int64_t strToInt64Def(std::string_view text, int64_t fallback);

// 1 when a > b, -1 when a < b, 0 when equal.
int compareReals(double a, double b);

} // namespace fetchora
