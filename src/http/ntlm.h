// The three messages of NTLM version 1 that the HTTP client exchanges after a challenge
// offering "NTLM": the negotiate message it sends first, the challenge it reads from the
// server's answer, and the authenticate message with the LM and NT responses.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace fetchora::ntlm {

using Challenge = std::array<uint8_t, 8>;
using Response = std::array<uint8_t, 24>;

inline constexpr uint32_t kNegotiateFlags = 0x00008207;
inline constexpr uint32_t kAuthenticateFlags = 0x00008205;
inline constexpr size_t kNegotiateSize = 32;
inline constexpr size_t kAuthenticateHeaderSize = 64;

// The 32-byte negotiate message (type 1): signature, type, flags, and no domain and no
// workstation.
std::string negotiateMessage();

// The 8-byte server challenge at offset 24 of a decoded challenge message (type 2). A
// message too short to hold it gives the bytes it has, the rest zero, so that the
// exchange goes on and the server refuses it rather than reading past the message.
Challenge challengeOf(std::string_view message);

// Every byte followed by a zero byte: the UTF-16LE form of an 8-bit string as NTLM sends
// user names, workstations and passwords.
std::string toUtf16Le(std::string_view ansi);

// The LM response: the password upper-cased, cut or zero-padded to 14 bytes, each half a
// DES key for "KGS!@#$%"; that 16-byte hash then encrypts the challenge.
Response lmResponse(std::string_view password, const Challenge& challenge);

// The NT response: the MD4 digest of the UTF-16LE password encrypts the challenge.
Response ntResponse(std::string_view password, const Challenge& challenge);

// The 64-byte header of the authenticate message (type 3) followed by the empty domain,
// the user name and the workstation in UTF-16LE, then the LM and NT responses.
std::string authenticateMessage(std::string_view user, std::string_view password,
                                std::string_view workstation, const Challenge& challenge);

} // namespace fetchora::ntlm
