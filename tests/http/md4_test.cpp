// MD4 against the test suite of RFC 1320, appendix A.5, plus lengths around the padding
// boundary.
#include "http/md4.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace fetchora {
namespace {

std::string hex(const Md4Digest& digest) {
    std::string out;
    char two[3];
    for (const uint8_t b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

TEST(Md4, MatchesRfc1320TestSuite) {
    const std::pair<const char*, const char*> suite[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "043f8582f241db351ce627e153e7f0e4"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto& [message, digest] : suite)
        EXPECT_EQ(hex(md4(message)), digest) << message;
}

TEST(Md4, LengthsAroundThePaddingBoundaryDiffer) {
    // 55 bytes pad within one block, 56 need a second; both must differ from their
    // neighbours and be stable.
    std::string last;
    for (size_t n = 54; n <= 65; ++n) {
        const std::string digest = hex(md4(std::string(n, 'x')));
        EXPECT_NE(digest, last) << n;
        EXPECT_EQ(digest, hex(md4(std::string(n, 'x'))));
        last = digest;
    }
}

} // namespace
} // namespace fetchora
