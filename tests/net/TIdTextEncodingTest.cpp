#include "net/TIdTextEncoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv::net {
namespace {

struct EncodeCase {
  const char* name;
  std::string text;
  std::string bytes;
};

class AsciiEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(AsciiEncodeTest, GivesOneQuestionMarkPerUtf16CodeUnit) {
  const EncodeCase& c = GetParam();
  const std::vector<uint8_t> bytes = TIdTextEncoding::ASCII().GetBytes(c.text);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes);
}

const EncodeCase kEncodeCases[] = {
    {"PlainAscii", "GET / HTTP/1.1\r\n", "GET / HTTP/1.1\r\n"},
    {"ControlAndDelete", std::string("\x00\x01\x7F", 3), std::string("\x00\x01\x7F", 3)},
    {"TwoByteCharacter",
     "K\xC3\xB8"
     "benhavn",
     "K?benhavn"},  // ø
    {"ThreeByteCharacter",
     "\xE2\x82\xAC"
     "5",
     "?5"},                                                               // €
    {"FourByteCharacterIsASurrogatePair", "a\xF0\x9F\x98\x80z", "a??z"},  // emoji
    {"LoneContinuationByte", "a\x80z", "a?z"},
    {"TruncatedSequenceAtTheEnd", "a\xE2\x82", "a??"},
    {"TruncatedSequenceBeforeAscii", "\xC3z", "?z"},
    {"OverlongForm", "\xC0\xAF", "??"},
    {"EncodedSurrogate", "\xED\xA0\x80", "???"},
    {"AboveUnicodeRange", "\xF4\x90\x80\x80", "????"},
    {"InvalidLeadByte", "\xFF\xFE", "??"},
};

INSTANTIATE_TEST_SUITE_P(Cases, AsciiEncodeTest, ::testing::ValuesIn(kEncodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AsciiDecode, BytesAbove127BecomeTheReplacementCharacter) {
  const std::vector<uint8_t> bytes = {'a', 0x7F, 0x80, 0xC3, 0xB8, 0xFF, 'z'};
  EXPECT_EQ(TIdTextEncoding::ASCII().GetString(bytes),
            "a\x7F"
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
            "z");
}

TEST(AsciiDecode, SevenBitTextRoundTrips) {
  std::string all;
  for (int c = 0; c < 128; ++c) {
    all.push_back(static_cast<char>(c));
  }
  const std::vector<uint8_t> bytes = TIdTextEncoding::ASCII().GetBytes(all);
  EXPECT_EQ(TIdTextEncoding::ASCII().GetString(bytes), all);
}

}  // namespace
}  // namespace kv::net
