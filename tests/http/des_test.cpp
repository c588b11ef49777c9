// DES against the classic worked example and the key spreading with parity bits.
#include "http/des.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(Des, EncryptsTheWorkedExample) {
    const DesBlock key = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    const DesBlock plain = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const DesBlock cipher = {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
    EXPECT_EQ(desEncrypt(key, plain), cipher);
}

TEST(Des, IgnoresParityBitsOfTheKey) {
    const DesBlock key = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    DesBlock flipped = key;
    for (auto& b : flipped)
        b ^= 1;
    const DesBlock plain = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(desEncrypt(flipped, plain), desEncrypt(key, plain));
}

TEST(Des, SpreadsSevenKeyBytesWithOddParity) {
    EXPECT_EQ(desExpandKey({0, 0, 0, 0, 0, 0, 0}), (DesBlock{1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(desExpandKey({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
              (DesBlock{0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE}));
    // 0x80 is the top bit of the first 7-bit group; 0x01 at the end the lowest of the last.
    EXPECT_EQ(desExpandKey({0x80, 0, 0, 0, 0, 0, 0x01}), (DesBlock{0x80, 1, 1, 1, 1, 1, 1, 0x02}));
}

} // namespace
} // namespace fetchora
