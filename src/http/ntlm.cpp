// NTLM version 1 messages and responses, built from our own DES and MD4.
#include "http/ntlm.h"

#include "http/des.h"
#include "http/md4.h"
#include "platform/text.h"

namespace fetchora::ntlm {

namespace {

constexpr char kSignature[] = "NTLMSSP"; // followed by its terminating zero byte

void putUint16(std::string& out, size_t at, uint32_t value) {
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void putUint32(std::string& out, size_t at, uint32_t value) {
    putUint16(out, at, value & 0xFFFF);
    putUint16(out, at + 2, value >> 16);
}

// A security buffer: length, the length again, and the offset of the field's bytes.
void putField(std::string& out, size_t at, size_t length, size_t offset) {
    putUint16(out, at, static_cast<uint32_t>(length));
    putUint16(out, at + 2, static_cast<uint32_t>(length));
    putUint32(out, at + 4, static_cast<uint32_t>(offset));
}

std::string header(uint32_t type, size_t size) {
    std::string out(size, '\0');
    out.replace(0, 7, kSignature);
    putUint32(out, 8, type);
    return out;
}

// A 16-byte hash padded with five zero bytes gives three 7-byte DES keys; each encrypts
// the challenge.
Response responseFromHash(const std::array<uint8_t, 16>& hash, const Challenge& challenge) {
    std::array<uint8_t, 21> padded{};
    for (size_t i = 0; i < hash.size(); ++i)
        padded[i] = hash[i];
    Response response{};
    for (size_t third = 0; third < 3; ++third) {
        DesKey56 key{};
        for (size_t i = 0; i < 7; ++i)
            key[i] = padded[third * 7 + i];
        const DesBlock cipher = desEncrypt(desExpandKey(key), challenge);
        for (size_t i = 0; i < 8; ++i)
            response[third * 8 + i] = cipher[i];
    }
    return response;
}

void append(std::string& out, const Response& response) {
    out.append(reinterpret_cast<const char*>(response.data()), response.size());
}

} // namespace

std::string negotiateMessage() {
    std::string out = header(1, kNegotiateSize);
    putUint32(out, 12, kNegotiateFlags);
    return out;
}

Challenge challengeOf(std::string_view message) {
    Challenge challenge{};
    for (size_t i = 0; i < challenge.size() && 24 + i < message.size(); ++i)
        challenge[i] = static_cast<uint8_t>(message[24 + i]);
    return challenge;
}

std::string toUtf16Le(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size() * 2);
    for (const char c : ansi) {
        out += c;
        out += '\0';
    }
    return out;
}

Response lmResponse(std::string_view password, const Challenge& challenge) {
    std::string upper = text::ansiUpperCase(password);
    upper.resize(14, '\0');
    static constexpr DesBlock kMagic = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
    std::array<uint8_t, 16> hash{};
    for (size_t half = 0; half < 2; ++half) {
        DesKey56 key{};
        for (size_t i = 0; i < 7; ++i)
            key[i] = static_cast<uint8_t>(upper[half * 7 + i]);
        const DesBlock cipher = desEncrypt(desExpandKey(key), kMagic);
        for (size_t i = 0; i < 8; ++i)
            hash[half * 8 + i] = cipher[i];
    }
    return responseFromHash(hash, challenge);
}

Response ntResponse(std::string_view password, const Challenge& challenge) {
    return responseFromHash(md4(toUtf16Le(password)), challenge);
}

std::string authenticateMessage(std::string_view user, std::string_view password,
                                std::string_view workstation, const Challenge& challenge) {
    const std::string userBytes = toUtf16Le(user);
    const std::string workstationBytes = toUtf16Le(workstation);
    const size_t domainOffset = kAuthenticateHeaderSize;
    const size_t userOffset = domainOffset; // the domain is empty
    const size_t workstationOffset = userOffset + userBytes.size();
    const size_t lmOffset = workstationOffset + workstationBytes.size();
    const size_t ntOffset = lmOffset + 24;

    std::string out = header(3, kAuthenticateHeaderSize);
    putField(out, 12, 24, lmOffset);
    putField(out, 20, 24, ntOffset);
    putField(out, 28, 0, domainOffset);
    putField(out, 36, userBytes.size(), userOffset);
    putField(out, 44, workstationBytes.size(), workstationOffset);
    // Offset 52 holds the empty session key: all zero.
    putUint32(out, 60, kAuthenticateFlags);
    out += userBytes;
    out += workstationBytes;
    append(out, lmResponse(password, challenge));
    append(out, ntResponse(password, challenge));
    return out;
}

} // namespace fetchora::ntlm
