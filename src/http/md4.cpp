// MD4 (RFC 1320): three rounds of sixteen steps over 64-byte blocks.
#include "http/md4.h"

#include <cstring>

namespace fetchora {

namespace {

uint32_t rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}
uint32_t f(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (~x & z);
}
uint32_t g(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (x & z) | (y & z);
}
uint32_t h(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}

void processBlock(std::array<uint32_t, 4>& state, const unsigned char* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<uint32_t>(block[i * 4]) |
               (static_cast<uint32_t>(block[i * 4 + 1]) << 8) |
               (static_cast<uint32_t>(block[i * 4 + 2]) << 16) |
               (static_cast<uint32_t>(block[i * 4 + 3]) << 24);
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    // Round 1: [abcd k s] a = (a + F(b,c,d) + X[k]) <<< s
    static constexpr int r1[4] = {3, 7, 11, 19};
    for (int i = 0; i < 16; i += 4) {
        a = rotl(a + f(b, c, d) + x[i], r1[0]);
        d = rotl(d + f(a, b, c) + x[i + 1], r1[1]);
        c = rotl(c + f(d, a, b) + x[i + 2], r1[2]);
        b = rotl(b + f(c, d, a) + x[i + 3], r1[3]);
    }
    // Round 2: [abcd k s] a = (a + G(b,c,d) + X[k] + 5A827999) <<< s
    static constexpr int r2[4] = {3, 5, 9, 13};
    constexpr uint32_t k2 = 0x5A827999;
    for (int i = 0; i < 4; ++i) {
        a = rotl(a + g(b, c, d) + x[i] + k2, r2[0]);
        d = rotl(d + g(a, b, c) + x[i + 4] + k2, r2[1]);
        c = rotl(c + g(d, a, b) + x[i + 8] + k2, r2[2]);
        b = rotl(b + g(c, d, a) + x[i + 12] + k2, r2[3]);
    }
    // Round 3: [abcd k s] a = (a + H(b,c,d) + X[k] + 6ED9EBA1) <<< s
    static constexpr int r3[4] = {3, 9, 11, 15};
    static constexpr int order[4] = {0, 2, 1, 3};
    constexpr uint32_t k3 = 0x6ED9EBA1;
    for (const int i : order) {
        a = rotl(a + h(b, c, d) + x[i] + k3, r3[0]);
        d = rotl(d + h(a, b, c) + x[i + 8] + k3, r3[1]);
        c = rotl(c + h(d, a, b) + x[i + 4] + k3, r3[2]);
        b = rotl(b + h(c, d, a) + x[i + 12] + k3, r3[3]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

Md4Digest md4(std::string_view bytes) {
    std::array<uint32_t, 4> state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t whole = bytes.size() / 64 * 64;
    for (size_t i = 0; i < whole; i += 64)
        processBlock(state, data + i);

    // Padding: a 1 bit, zeros up to 56 mod 64, then the bit length, low byte first.
    unsigned char tail[128] = {};
    const size_t rest = bytes.size() - whole;
    if (rest > 0)
        std::memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    const size_t tailSize = rest < 56 ? 64 : 128;
    const uint64_t bitLength = static_cast<uint64_t>(bytes.size()) * 8;
    for (int i = 0; i < 8; ++i)
        tail[tailSize - 8 + static_cast<size_t>(i)] =
            static_cast<unsigned char>(bitLength >> (8 * i));
    for (size_t i = 0; i < tailSize; i += 64)
        processBlock(state, tail + i);

    Md4Digest digest{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            digest[static_cast<size_t>(i * 4 + j)] =
                static_cast<uint8_t>(state[static_cast<size_t>(i)] >> (8 * j));
    }
    return digest;
}

} // namespace fetchora
