// String helpers: a field of a delimited text, a size for people, a three-way comparison.
#pragma once

#include <string>
#include <vector>

namespace fetchora {

// Splits text at CR LF, LF or CR into lines; a final line break gives no empty line.
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
