#include "platform/crypto.h"

#include <ostream>
#include <string>

#include <gtest/gtest.h>

using platform::Crc32;
using platform::HMAC_SHA_256;

namespace {

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 0xF];
    }
    return out;
}

std::string Digest(const std::string &key, const std::string &message)
{
    HMAC_SHA_256 mac;
    mac.Constructor(key);
    mac.Update(message);
    return mac.Final();
}

std::string Counting(int from, int to)
{
    std::string out;
    for (int b = from; b <= to; ++b)
        out += char(b);
    return out;
}

struct Rfc4231Case
{
    const char *name;
    std::string key;
    std::string data;
    const char *expected; // hex; case 5 gives only the first 128 bits
};

void PrintTo(const Rfc4231Case &c, std::ostream *os) { *os << c.name; }

class HmacRfc4231 : public ::testing::TestWithParam<Rfc4231Case>
{
};

TEST_P(HmacRfc4231, Final_KnownKeyAndData_GivesTheRfcDigest)
{
    const Rfc4231Case &c = GetParam();
    const std::string digest = Digest(c.key, c.data);
    ASSERT_EQ(digest.size(), 32u);
    const std::string expected = c.expected;
    EXPECT_EQ(Hex(digest).substr(0, expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Crypto, HmacRfc4231,
    ::testing::Values(Rfc4231Case { "Case1", std::string(20, '\x0b'), "Hi There",
                          "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7" },
        Rfc4231Case { "Case2", "Jefe", "what do ya want for nothing?",
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843" },
        Rfc4231Case { "Case3", std::string(20, '\xaa'), std::string(50, '\xdd'),
            "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe" },
        Rfc4231Case { "Case4", Counting(0x01, 0x19), std::string(50, '\xcd'),
            "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b" },
        Rfc4231Case { "Case5", std::string(20, '\x0c'), "Test With Truncation",
            "a3b6167473100ee06e0c796c2955552b" },
        Rfc4231Case { "Case6", std::string(131, '\xaa'),
            "Test Using Larger Than Block-Size Key - Hash Key First",
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54" },
        Rfc4231Case { "Case7", std::string(131, '\xaa'),
            "This is a test using a larger than block-size key and a larger than block-size "
            "data. The key needs to be hashed before being used by the HMAC algorithm.",
            "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2" }),
    [](const ::testing::TestParamInfo<Rfc4231Case> &info) { return info.param.name; });

TEST(HmacSha256, Update_InPieces_EqualsOneUpdateOverTheWhole)
{
    std::string message;
    for (int i = 0; i < 300000; ++i)
        message += char(i * 7 + i / 251);
    const std::string whole = Digest("name.txt", message);

    HMAC_SHA_256 mac;
    mac.Constructor("name.txt");
    for (std::size_t at = 0, piece = 1; at < message.size(); at += piece, piece = piece * 3 + 1)
        mac.Update(message.data() + at, std::min(piece, message.size() - at));
    EXPECT_EQ(mac.Final(), whole);
}

TEST(HmacSha256, Constructor_AfterAMessage_StartsAFreshOneUnderTheNewKey)
{
    HMAC_SHA_256 mac;
    mac.Constructor("first");
    mac.Update("left over");
    mac.Constructor("Jefe");
    mac.Update("what do ya want for nothing?");
    EXPECT_EQ(Hex(mac.Final()), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(HmacSha256, Final_Twice_SecondIsTheEmptyMessageUnderTheSameKey)
{
    HMAC_SHA_256 mac;
    mac.Constructor("key");
    mac.Update("data");
    EXPECT_EQ(mac.Final(), Digest("key", "data"));
    EXPECT_EQ(mac.Final(), Digest("key", ""));
}

TEST(HmacSha256, Final_EmptyKeyAndMessage_GivesTheKnownDigest)
{
    EXPECT_EQ(
        Hex(Digest("", "")), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST(HmacSha256, Final_BytesAbove127_AreDigestedAsTheyAre)
{
    // Two messages that a lossy conversion to ASCII would make equal.
    EXPECT_NE(Digest("k", "caf\xc3\xa9"), Digest("k", "caf\xc3\xa8"));
    EXPECT_NE(Digest("\xff", "x"), Digest("\xfe", "x"));
}

TEST(Crc32, KnownTexts_GiveTheStandardValues)
{
    EXPECT_EQ(Crc32("123456789", 0), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32(std::string("\0", 1), 0), 0xD202EF8Du);
}

TEST(Crc32, ContinuedFromAPart_EqualsTheWhole)
{
    EXPECT_EQ(Crc32("6789", Crc32("12345", 0)), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0xCBF43926u), 0xCBF43926u);
}

} // namespace
