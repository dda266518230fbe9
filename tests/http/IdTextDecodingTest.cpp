#include "http/IdTextDecoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "net/TIdStream.h"

namespace kv::http {
namespace {

using namespace std::string_literals;

const std::string kFFFD = "\xEF\xBF\xBD";

struct TDecodeCase {
  const char* Label;
  std::string Charset;
  std::string Bytes;
  std::string Expected;  // UTF-8
};

void PrintTo(const TDecodeCase& c, std::ostream* os) {
  *os << c.Label;
}

class DecodeTextTest : public ::testing::TestWithParam<TDecodeCase> {};

// Decoding goes through a memory stream, as the error body does.
TEST_P(DecodeTextTest, DecodesStreamToUtf8) {
  kv::net::TIdMemoryStream stream;
  stream.Write(GetParam().Bytes.data(), GetParam().Bytes.size());
  stream.SetPosition(0);
  EXPECT_EQ(DecodeStreamText(stream, GetParam().Charset), GetParam().Expected);
  EXPECT_EQ(stream.Position(), stream.Size());
}

std::string Name(const ::testing::TestParamInfo<TDecodeCase>& info) {
  return info.param.Label;
}

INSTANTIATE_TEST_SUITE_P(
    OneCharacterPerByte, DecodeTextTest,
    ::testing::Values(TDecodeCase{"EmptyCharset", "", "caf\xE9", "café"},
                      TDecodeCase{"EmptyCharsetControlAndHigh", "", "\x00\x7F\x80\xFF"s,
                                  "\x00\x7F\xC2\x80\xC3\xBF"s},
                      TDecodeCase{"UnknownName", "x-martian", "\xE9\x80", "é\xC2\x80"},
                      TDecodeCase{"BlankName", "   ", "\xE9", "é"}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    Utf16, DecodeTextTest,
    ::testing::Values(
        TDecodeCase{"LittleEndian", "utf-16le", "h\0\xE6\0"s, "hæ"},
        TDecodeCase{"PlainUtf16IsLittleEndian", "utf-16", "h\0\xE6\0"s, "hæ"},
        TDecodeCase{"BigEndian", "UTF-16BE", "\0h\0\xE6"s, "hæ"},
        TDecodeCase{"UnicodeFFFEIsBigEndian", "unicodeFFFE", "\x26\x3A"s, "☺"},
        TDecodeCase{"SurrogatePairLE", "utf-16le", "A\0\x3D\xD8\x00\xDE"s, "A😀"},
        TDecodeCase{"SurrogatePairBE", "utf-16be", "\0A\xD8\x3D\xDE\x00"s, "A😀"},
        TDecodeCase{"ByteOrderMarkKept", "utf-16le",
                    "\xFF\xFE"
                    "A\0"s,
                    "\xEF\xBB\xBF"
                    "A"},
        TDecodeCase{"OddTrailingByte", "utf-16le", "A\0B"s, "A" + kFFFD},
        TDecodeCase{"SingleByte", "utf-16be", "A", kFFFD},
        TDecodeCase{"LoneHighSurrogateBeforeLetter", "utf-16le",
                    "\x3D\xD8"
                    "A\0"s,
                    kFFFD + "A"},
        TDecodeCase{"LoneHighSurrogateAtEnd", "utf-16le", "A\0\x3D\xD8"s, "A" + kFFFD},
        TDecodeCase{"HighSurrogateTwice", "utf-16be", "\xD8\x3D\xD8\x3D\xDE\x00"s, kFFFD + "😀"},
        TDecodeCase{"LoneLowSurrogate", "utf-16le",
                    "\x00\xDE"
                    "A\0"s,
                    kFFFD + "A"},
        TDecodeCase{"Empty", "utf-16le", "", ""}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    UsAscii, DecodeTextTest,
    ::testing::Values(TDecodeCase{"Plain", "us-ascii", "Hello\r\n", "Hello\r\n"},
                      TDecodeCase{"HighBytes", "us-ascii",
                                  "a\x80\xE9\xFF"
                                  "b",
                                  "a" + kFFFD + kFFFD + kFFFD + "b"},
                      TDecodeCase{"AliasUpperCase", "ANSI_X3.4-1968", "x\xC3", "x" + kFFFD}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    Utf7, DecodeTextTest,
    ::testing::Values(TDecodeCase{"Smiley", "utf-7", "Hi Mom -+Jjo--!", "Hi Mom -☺-!"},
                      TDecodeCase{"ThreeUnits", "utf-7", "+AGEAYgBj-", "abc"},
                      TDecodeCase{"Japanese", "UTF-7", "+ZeVnLIqe-", "日本語"},
                      TDecodeCase{"RunEndedByPeriod", "utf-7", "A+ImIDkQ.", "A≢Α."},
                      TDecodeCase{"RunToEnd", "utf-7", "x+ImIDkQ", "x≢Α"},
                      TDecodeCase{"PlusMinusIsPlus", "utf-7", "1 +- 1", "1 + 1"},
                      TDecodeCase{"SurrogatePair", "utf-7", "+2D3eAA-", "😀"},
                      TDecodeCase{"LoneHighSurrogate", "utf-7", "+2D0-x", kFFFD + "x"},
                      TDecodeCase{"LeftOverBits", "utf-7", "+AG-x", kFFFD + "x"},
                      TDecodeCase{"NonZeroPadding", "utf-7", "+Jjp-", "☺" + kFFFD},
                      TDecodeCase{"HighByte", "utf-7",
                                  "a\xE9"
                                  "b",
                                  "a" + kFFFD + "b"},
                      TDecodeCase{"PlusAtEnd", "utf-7", "a+", "a"}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    Utf8, DecodeTextTest,
    ::testing::Values(
        TDecodeCase{"Valid", "utf-8", "h\xC3\xA6 \xE2\x82\xAC \xF0\x9F\x98\x80", "hæ € 😀"},
        TDecodeCase{"ByteOrderMarkKept", "UTF-8",
                    "\xEF\xBB\xBF"
                    "A",
                    "\xEF\xBB\xBF"
                    "A"},
        TDecodeCase{"StrayContinuation", "utf-8",
                    "a\x80"
                    "b",
                    "a" + kFFFD + "b"},
        TDecodeCase{"TruncatedAtEnd", "utf-8", "a\xC3", "a" + kFFFD},
        TDecodeCase{"TruncatedThreeByte", "utf-8",
                    "\xE2\x82"
                    "A",
                    kFFFD + "A"},
        TDecodeCase{"TruncatedFourByte", "utf-8",
                    "\xF0\x9F\x98"
                    "A",
                    kFFFD + "A"},
        TDecodeCase{"Overlong", "utf-8", "\xC0\xAF", kFFFD + kFFFD},
        TDecodeCase{"OverlongThreeByte", "utf-8", "\xE0\x80\xAF", kFFFD + kFFFD + kFFFD},
        TDecodeCase{"Surrogate", "utf-8", "\xED\xA0\x80", kFFFD + kFFFD + kFFFD},
        TDecodeCase{"AboveMaximum", "utf-8", "\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},
        TDecodeCase{"InvalidLead", "utf-8", "\xFF\xFE", kFFFD + kFFFD},
        TDecodeCase{"Nul", "utf-8", "a\0b"s, "a\0b"s}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    CodePageConversion, DecodeTextTest,
    ::testing::Values(TDecodeCase{"Windows1252Euro", "windows-1252", "\x80 \xE9", "€ é"},
                      TDecodeCase{"Windows1252Undefined", "Windows-1252",
                                  "\x81"
                                  "a",
                                  kFFFD + "a"},
                      TDecodeCase{"Windows1251", "windows-1251", "\xCF\xF0\xE8", "При"},
                      TDecodeCase{"Latin1", "ISO-8859-1", "\xE9\x80", "é\xC2\x80"},
                      TDecodeCase{"Latin9Euro", "latin9", "\xA4", "€"},
                      TDecodeCase{"Latin2", "LATIN2", "\xB1", "ą"},
                      TDecodeCase{"Koi8R", "koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", "Привет"},
                      TDecodeCase{"Koi8RUpperCase", "KOI8-R", "\xF0", "П"},
                      TDecodeCase{"ShiftJis", "shift_jis", "\x93\xFA\x96\x7B\x8C\xEA", "日本語"},
                      TDecodeCase{"ShiftJisAlias", "MS_Kanji", "\x93\xFA", "日"},
                      TDecodeCase{"ShiftJisTruncated", "shift_jis", "\x93\xFA\x96", "日" + kFFFD},
                      TDecodeCase{"EucJp", "EUC-JP", "\xC6\xFC\xCB\xDC", "日本"},
                      TDecodeCase{"Gb2312", "gb2312", "\xD6\xD0\xCE\xC4", "中文"},
                      TDecodeCase{"EucKr", "euc-kr", "\xC7\xD1", "한"},
                      TDecodeCase{"Big5", "big5", "\xA4\xA4", "中"},
                      TDecodeCase{"Iso2022Jp", "iso-2022-jp", "\x1B$BF|K\\\x1B(B", "日本"},
                      TDecodeCase{"Ibm866", "ibm866", "\x86", "Ж"},
                      TDecodeCase{"Ibm850", "cp850", "\x92\x9D\x8F", "ÆØÅ"},
                      TDecodeCase{"Utf32LittleEndian", "utf-32", "A\0\0\0\x00\xF6\x01\x00"s, "A😀"},
                      TDecodeCase{"Ucs4BigEndian", "UCS-4BE", "\0\0\0A"s, "A"},
                      TDecodeCase{"Ebcdic037", "ibm037", "\xC8\x85\x93\x93\x96", "Hello"}),
    Name);

TEST(DecodeStreamTextTest, DecodesFromThePositionToTheEnd) {
  kv::net::TIdMemoryStream stream;
  stream.Write("abc\xE9", 4);
  stream.SetPosition(2);
  EXPECT_EQ(DecodeStreamText(stream, ""), "cé");
  EXPECT_EQ(stream.Position(), 4);
}

TEST(DecodeStreamTextTest, PositionAtOrPastTheEndGivesEmptyText) {
  kv::net::TIdMemoryStream stream;
  stream.Write("abc", 3);
  EXPECT_EQ(DecodeStreamText(stream, "utf-8"), "");
  stream.SetPosition(10);
  EXPECT_EQ(DecodeStreamText(stream, "utf-8"), "");
}

// A body larger than one read or conversion block comes out whole.
TEST(DecodeStreamTextTest, LongBodyThroughConverterIsComplete) {
  std::string body;
  std::string expected;
  for (int i = 0; i < 50000; ++i) {
    body += "\x80x";
    expected += "€x";
  }
  kv::net::TIdMemoryStream stream;
  stream.Write(body.data(), body.size());
  stream.SetPosition(0);
  EXPECT_EQ(DecodeStreamText(stream, "windows-1252"), expected);
}

// True when text is well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool IsValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    int trail = 0;
    char32_t value = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (i + trail >= text.size()) {
      return false;
    }
    for (int k = 1; k <= trail; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      value = (value << 6) | (next & 0x3F);
    }
    const char32_t minimum = trail == 1 ? 0x80 : trail == 2 ? 0x800 : 0x10000;
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += trail + 1;
  }
  return true;
}

// Every decoder turns any bytes, however broken, into well-formed UTF-8.
TEST(DecodeTextRobustnessTest, RandomBytesGiveWellFormedUtf8) {
  const std::vector<std::string> charsets = {
      "",         "utf-8",     "utf-16le",     "utf-16be",    "utf-7",
      "us-ascii", "shift_jis", "euc-jp",       "iso-2022-jp", "gb18030",
      "big5",     "utf-32",    "windows-1252", "koi8-r",      "ibm037"};
  // Bytes that matter to the decoders: base64 letters, "+", "-", lead and trail bytes,
  // surrogate halves and escape sequences.
  const std::string alphabet =
      "+-AZaz09/\x00\x1B$B(\x80\xBF\xC0\xC3\xD8\xDC\xDF\xE0\xED\xEF\xF0\xF4\xF5\xFE\xFF"s;
  ASSERT_FALSE(IsValidUtf8("\xC3"));
  ASSERT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  ASSERT_TRUE(IsValidUtf8("h\xC3\xA6\xF0\x9F\x98\x80"));
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) {
      bytes += random() % 3 == 0 ? static_cast<char>(random() % 256)
                                 : alphabet[random() % alphabet.size()];
    }
    for (const std::string& charset : charsets) {
      const std::string text = DecodeText(bytes, charset);
      ASSERT_TRUE(IsValidUtf8(text)) << charset << " round " << round;
    }
  }
}

TEST(AppendUtf8Test, OutOfRangeAndSurrogatesBecomeReplacement) {
  std::string text;
  AppendUtf8(text, 0x110000);
  AppendUtf8(text, 0xD800);
  AppendUtf8(text, 0x10FFFF);
  EXPECT_EQ(text, kFFFD + kFFFD + "\xF4\x8F\xBF\xBF");
}

}  // namespace
}  // namespace kv::http
