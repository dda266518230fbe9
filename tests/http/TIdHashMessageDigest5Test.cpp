#include "http/TIdHashMessageDigest5.h"

#include <gtest/gtest.h>

#include <string>

namespace kv::http {
namespace {

struct TMd5Case {
  const char* name;
  std::string message;
  const char* hex;
};

class Md5 : public ::testing::TestWithParam<TMd5Case> {};

TEST_P(Md5, MatchesTheReferenceDigest) {
  EXPECT_EQ(TIdHashMessageDigest5::HashStringAsHex(GetParam().message), GetParam().hex);
}

// The test suite of RFC 1321, plus lengths around the padding boundary (55, 56, 64 bytes).
INSTANTIATE_TEST_SUITE_P(
    Rfc1321, Md5,
    ::testing::Values(
        TMd5Case{"Empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        TMd5Case{"A", "a", "0cc175b9c0f1b6a831c399e269772661"},
        TMd5Case{"Abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        TMd5Case{"MessageDigest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        TMd5Case{"Alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        TMd5Case{"AlphaNumeric", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                 "d174ab98d277d9f5a5611c2c9f419d9f"},
        TMd5Case{"EightyDigits",
                 "1234567890123456789012345678901234567890123456789012345678901234567890123456789"
                 "0",
                 "57edf4a22be3c955ac49da2e2107b67a"},
        TMd5Case{"Length55", std::string(55, 'x'), "04364420e25c512fd958a70738aa8f72"},
        TMd5Case{"Length56", std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
        TMd5Case{"Length64", std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TIdHashMessageDigest5, GivesTheSameDigestForAMessageFedInPieces) {
  std::string message;
  for (int i = 0; i < 300; ++i) {
    message += char('a' + i % 26);
  }
  const auto whole = TIdHashMessageDigest5::HashString(message);
  TIdHashMessageDigest5 hash;
  for (size_t split = 0; split <= message.size(); split += 7) {
    hash.Update(message.substr(0, split));
    hash.Update(message.substr(split));
    ASSERT_EQ(hash.Final(), whole) << "split at " << split;
  }
}

}  // namespace
}  // namespace kv::http
