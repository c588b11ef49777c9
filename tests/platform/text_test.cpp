// Windows-1252 case conversion, ASCII-only case conversion of addresses, and the lenient
// decoding of 8-bit text for display.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace fetchora::text {
namespace {

TEST(AnsiCase, ConvertsExactlyTheWindows1252LetterPairs) {
    struct Pair {
        unsigned char upper;
        unsigned char lower;
    };
    const Pair pairs[] = {{'A', 'a'},   {'Z', 'z'},   {0x8A, 0x9A}, {0x8C, 0x9C},
                          {0x8E, 0x9E}, {0x9F, 0xFF}, {0xC0, 0xE0}, {0xC4, 0xE4},
                          {0xD6, 0xF6}, {0xD8, 0xF8}, {0xDE, 0xFE}};
    for (const Pair& p : pairs) {
        SCOPED_TRACE(static_cast<int>(p.upper));
        EXPECT_EQ(ansiLower(p.upper), p.lower);
        EXPECT_EQ(ansiUpper(p.lower), p.upper);
        EXPECT_EQ(ansiUpper(p.upper), p.upper);
        EXPECT_EQ(ansiLower(p.lower), p.lower);
    }
    // Multiplication and division signs, sharp s, micro sign, the florin and digits are
    // no letters with a pair.
    for (const int c : {0xD7, 0xF7, 0xDF, 0xB5, 0x83, 0xAA, 0xBA, 0x40, 0x5B, 0x30}) {
        SCOPED_TRACE(c);
        EXPECT_EQ(ansiLower(static_cast<unsigned char>(c)), c);
        EXPECT_EQ(ansiUpper(static_cast<unsigned char>(c)), c);
    }
    // 26 ASCII letters, four pairs in 0x80-0x9F, 30 accented letters: nothing else moves.
    int lowered = 0;
    int raised = 0;
    for (int c = 0; c < 256; ++c) {
        const auto b = static_cast<unsigned char>(c);
        lowered += ansiLower(b) != b;
        raised += ansiUpper(b) != b;
        EXPECT_EQ(ansiUpper(ansiLower(b)), ansiUpper(b)) << c;
    }
    EXPECT_EQ(lowered, 60);
    EXPECT_EQ(raised, 60);
}

TEST(AnsiCase, StringsAndComparison) {
    EXPECT_EQ(ansiUpperCase("\x9Akoda \xE4rger.Zip"), "\x8AKODA \xC4RGER.ZIP");
    EXPECT_EQ(ansiLowerCase("\x8AKODA \xC4RGER.ZIP"), "\x9Akoda \xE4rger.zip");
    EXPECT_TRUE(ansiSameText("\xC4pfel.JPG", "\xE4PFEL.jpg"));
    EXPECT_FALSE(ansiSameText("\xD7", "\xF7"));
    EXPECT_FALSE(ansiSameText("abc", "abcd"));
    // Addresses change A to Z only.
    EXPECT_EQ(asciiLowerCase("HTTP://\xC4.COM/\x8A"), "http://\xC4.com/\x8A");
    EXPECT_EQ(asciiUpperCase("a\xE4z"), "A\xE4Z");
    EXPECT_TRUE(asciiSameText("Zip", "zIP"));
    EXPECT_FALSE(asciiSameText("\xC4", "\xE4"));
}

TEST(DisplayText, KeepsValidUtf8AndDecodesOtherBytesAsWindows1252) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"ascii", "plain.txt", "plain.txt"},
        {"utf-8 kept", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"latin byte", "caf\xE9", "caf\xC3\xA9"},
        {"mixed", "\xC3\xA9-\xE9", "\xC3\xA9-\xC3\xA9"},
        {"euro and quotes", "\x80\x93\x96", "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x93"},
        {"undefined byte", "\x81", "\xC2\x81"},
        {"cut sequence", "\xE2\x82", "\xC3\xA2\xE2\x80\x9A"},
        {"overlong", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        {"beyond unicode", "\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},
        {"nul", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toDisplayUtf8(c.bytes), c.shown) << c.what;
}

TEST(HexDigits, ValuesOfBothCasesAndNothingElse) {
    const std::string digits = "0123456789abcdef";
    for (size_t i = 0; i < digits.size(); ++i) {
        EXPECT_EQ(hexDigitValue(digits[i]), static_cast<int>(i)) << digits[i];
        EXPECT_EQ(hexDigitValue(static_cast<char>(std::toupper(digits[i]))), static_cast<int>(i));
    }
    for (const char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xC1', '\xE6'})
        EXPECT_EQ(hexDigitValue(c), -1) << static_cast<int>(c);
}

} // namespace
} // namespace fetchora::text
