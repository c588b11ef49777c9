// NTLM version 1: the responses against published examples and the messages field by
// field (offsets, lengths, flags, UTF-16LE strings).
#include "http/ntlm.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace fetchora::ntlm {
namespace {

constexpr Challenge kChallenge = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

template <typename Bytes> std::string hex(const Bytes& bytes) {
    std::string out;
    char two[3];
    for (const auto b : bytes) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(static_cast<uint8_t>(b)));
        out += two;
    }
    return out;
}

uint32_t u16(const std::string& m, size_t at) {
    return static_cast<uint8_t>(m[at]) |
           (static_cast<uint32_t>(static_cast<uint8_t>(m[at + 1])) << 8);
}
uint32_t u32(const std::string& m, size_t at) {
    return u16(m, at) | (u16(m, at + 2) << 16);
}

// The bytes a security buffer at the given header offset points to, after checking that
// both of its lengths agree and that it lies inside the message.
std::string field(const std::string& m, size_t at) {
    const uint32_t length = u16(m, at);
    EXPECT_EQ(u16(m, at + 2), length) << "at " << at;
    const uint32_t offset = u32(m, at + 4);
    EXPECT_LE(offset + length, m.size()) << "at " << at;
    return m.substr(offset, length);
}

TEST(Ntlm, ResponsesMatchPublishedExamples) {
    // "SecREt01" from the widely reproduced NTLM write-up; "Password" from MS-NLMP 4.2.2.
    EXPECT_EQ(hex(lmResponse("SecREt01", kChallenge)),
              "c337cd5cbd44fc9782a667af6d427c6de67c20c2d3e77c56");
    EXPECT_EQ(hex(ntResponse("SecREt01", kChallenge)),
              "25a98c1c31e81847466b29b2df4680f39958fb8c213a9cc6");
    EXPECT_EQ(hex(lmResponse("Password", kChallenge)),
              "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
    EXPECT_EQ(hex(ntResponse("Password", kChallenge)),
              "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
}

TEST(Ntlm, LmResponseUppercasesAndCutsThePasswordAt14) {
    EXPECT_EQ(lmResponse("secret01", kChallenge), lmResponse("SECRET01", kChallenge));
    EXPECT_EQ(lmResponse("abcdefghijklmnXYZ", kChallenge),
              lmResponse("ABCDEFGHIJKLMN", kChallenge));
    // The NT response keeps case.
    EXPECT_NE(ntResponse("secret01", kChallenge), ntResponse("SECRET01", kChallenge));
}

TEST(Ntlm, NegotiateMessageIsThe32ByteTypeOne) {
    const std::string m = negotiateMessage();
    ASSERT_EQ(m.size(), 32u);
    EXPECT_EQ(m.substr(0, 8), std::string("NTLMSSP\0", 8));
    EXPECT_EQ(u32(m, 8), 1u);
    EXPECT_EQ(u32(m, 12), 0x00008207u);
    EXPECT_EQ(m.substr(16), std::string(16, '\0'));
}

TEST(Ntlm, ChallengeIsReadAtOffset24AndShortMessagesAreSafe) {
    std::string message(32, '\0');
    for (size_t i = 0; i < 8; ++i)
        message[24 + i] = static_cast<char>(0xA0 + i);
    EXPECT_EQ(hex(challengeOf(message)), "a0a1a2a3a4a5a6a7");
    EXPECT_EQ(hex(challengeOf(message.substr(0, 27))), "a0a1a20000000000");
    EXPECT_EQ(hex(challengeOf("")), "0000000000000000");
}

TEST(Ntlm, AuthenticateMessageFieldByField) {
    const std::string m = authenticateMessage("User\xEB", "SecREt01", "HOST", kChallenge);
    EXPECT_EQ(m.substr(0, 8), std::string("NTLMSSP\0", 8));
    EXPECT_EQ(u32(m, 8), 3u);
    EXPECT_EQ(u32(m, 60), 0x00008205u);
    // Session key: empty.
    EXPECT_EQ(u16(m, 52), 0u);
    EXPECT_EQ(u16(m, 54), 0u);

    const std::string lm = field(m, 12), nt = field(m, 20), domain = field(m, 28),
                      user = field(m, 36), workstation = field(m, 44);
    EXPECT_EQ(domain, "");
    EXPECT_EQ(u32(m, 28 + 4), 64u);
    EXPECT_EQ(user, std::string("U\0s\0e\0r\0\xEB\0", 10));
    EXPECT_EQ(u32(m, 36 + 4), 64u);
    EXPECT_EQ(workstation, std::string("H\0O\0S\0T\0", 8));
    EXPECT_EQ(u32(m, 44 + 4), 74u);
    EXPECT_EQ(u32(m, 12 + 4), 82u);
    EXPECT_EQ(u32(m, 20 + 4), 106u);
    EXPECT_EQ(hex(lm), hex(lmResponse("SecREt01", kChallenge)));
    EXPECT_EQ(hex(nt), hex(ntResponse("SecREt01", kChallenge)));
    EXPECT_EQ(m.size(), 130u);
}

} // namespace
} // namespace fetchora::ntlm
