#include <gtest/gtest.h>

#include <string>

#include "platform/CommonCrypto/CommonDigest.h"

namespace {

std::string md5Hex(const std::string& text) {
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    unsigned char* result = CC_MD5(text.data(), static_cast<CC_LONG>(text.size()), digest);
    EXPECT_EQ(result, digest);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xf];
    }
    return hex;
}

}  // namespace

TEST(CommonDigestTest, MD5MatchesTheReferenceSuite) {
    // The test suite of RFC 1321, appendix A.5.
    struct Case {
        std::string input;
        std::string digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) EXPECT_EQ(md5Hex(c.input), c.digest) << '"' << c.input << '"';
}

TEST(CommonDigestTest, MD5CoversEmbeddedZeroBytes) {
    // The length decides, not a terminating zero.
    EXPECT_EQ(md5Hex(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");
}
