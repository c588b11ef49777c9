// Base64 in the alphabet of RFC 4648 section 4 (the RFC 2045 one) with "=" padding, as the
// HTTP client writes Basic and NTLM authorization values.
#pragma once

#include <string>
#include <string_view>

namespace fetchora {

// The Base64 form of the bytes, padded with "=" to a multiple of four characters.
std::string base64Encode(std::string_view bytes);

// The bytes a Base64 text stands for. Characters outside the alphabet (blanks, line
// breaks) are skipped; the first "=" ends the text; an incomplete final group gives
// the whole bytes it holds.
std::string base64Decode(std::string_view text);

} // namespace fetchora
