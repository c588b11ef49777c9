// Character handling of the system's 8-bit strings: the Windows-1252 case tables used for
// "ANSI" case conversion, ASCII-only lower-casing for addresses, and lenient decoding of
// bytes for display.
#pragma once

#include <string>
#include <string_view>

namespace fetchora::text {

// Windows-1252 case conversion of one byte (letters A-Z, the accented letters and the
// pairs Š/š, Œ/œ, Ž/ž, Ÿ/ÿ); every other byte is returned unchanged.
unsigned char ansiUpper(unsigned char c);
unsigned char ansiLower(unsigned char c);

std::string ansiUpperCase(std::string_view s);
std::string ansiLowerCase(std::string_view s);

// Compares without regard to Windows-1252 case.
bool ansiSameText(std::string_view a, std::string_view b);

// Changes only the letters A to Z.
std::string asciiLowerCase(std::string_view s);
std::string asciiUpperCase(std::string_view s);
bool asciiSameText(std::string_view a, std::string_view b);

// Bytes as valid UTF-8 for display: each valid UTF-8 sequence stays as it is, every
// other byte becomes its Windows-1252 character.
std::string toDisplayUtf8(std::string_view bytes);

// Removes leading and trailing blanks and control characters (bytes up to 32).
std::string trim(std::string_view s);

bool startsWith(std::string_view s, std::string_view prefix);

// The value of a hexadecimal digit (0-9, a-f, A-F); -1 for any other character.
int hexDigitValue(char c);

} // namespace fetchora::text
