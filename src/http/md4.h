// The MD4 message digest of RFC 1320, which NTLM uses to hash a password.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fetchora {

using Md4Digest = std::array<uint8_t, 16>;

// The 16-byte MD4 digest of the bytes.
Md4Digest md4(std::string_view bytes);

} // namespace fetchora
