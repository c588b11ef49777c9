// String helpers: a text split at a character or into lines, a field of a delimited text,
// a size for people, a three-way comparison.
#pragma once

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
std::string formatSize(int bytes);

// 1 when a > b, -1 when a < b, 0 when equal.
int compareReals(double a, double b);

} // namespace fetchora
