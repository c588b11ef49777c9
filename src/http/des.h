// The DES block cipher (FIPS 46-3) for one 8-byte block, and the spreading of a 7-byte key
// over 8 bytes with parity bits, as NTLM's LM and NT responses use them.
#pragma once

#include <array>
#include <cstdint>

namespace fetchora {

using DesBlock = std::array<uint8_t, 8>;
using DesKey56 = std::array<uint8_t, 7>;

// Encrypts one block under an 8-byte key (the parity bits of the key are ignored).
DesBlock desEncrypt(const DesBlock& key, const DesBlock& plain);

// Spreads 56 key bits over 8 bytes, 7 bits each at the top, and gives every byte odd
// parity in its lowest bit.
DesBlock desExpandKey(const DesKey56& key);

} // namespace fetchora
