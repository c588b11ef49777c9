// Base64 against the test vectors of RFC 4648, section 10, and the decoder's leniency.
#include "http/base64.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

struct Vector {
    const char* plain;
    const char* encoded;
};

constexpr Vector kRfc4648[] = {{"", ""},
                               {"f", "Zg=="},
                               {"fo", "Zm8="},
                               {"foo", "Zm9v"},
                               {"foob", "Zm9vYg=="},
                               {"fooba", "Zm9vYmE="},
                               {"foobar", "Zm9vYmFy"}};

TEST(Base64, EncodesAndDecodesRfc4648Vectors) {
    for (const auto& v : kRfc4648) {
        EXPECT_EQ(base64Encode(v.plain), v.encoded) << v.plain;
        EXPECT_EQ(base64Decode(v.encoded), v.plain) << v.encoded;
    }
}

TEST(Base64, RoundTripsEveryByteValue) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::string encoded = base64Encode(all);
    EXPECT_EQ(encoded.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(base64Decode(encoded), all);
}

TEST(Base64, DecoderSkipsBlanksAndStopsAtPadding) {
    EXPECT_EQ(base64Decode(" Zm9v\r\nYmFy "), "foobar");
    EXPECT_EQ(base64Decode("Zg==Zm9v"), "f");
    EXPECT_EQ(base64Decode("Zm9vY"), "foo"); // a lone sixth bit group makes no byte
}

} // namespace
} // namespace fetchora
