#include "http/IdCharsets.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <set>
#include <string>

namespace kv::http {
namespace {

struct TCharsetCase {
  const char* Label;
  const char* Charset;
  int CodePage;
};

class CharsetToCodePageTest : public ::testing::TestWithParam<TCharsetCase> {};

TEST_P(CharsetToCodePageTest, MapsNameToCodePage) {
  EXPECT_EQ(CharsetToCodePage(GetParam().Charset), GetParam().CodePage);
}

INSTANTIATE_TEST_SUITE_P(
    Names, CharsetToCodePageTest,
    ::testing::Values(
        TCharsetCase{"Utf8", "utf-8", 65001}, TCharsetCase{"Utf7", "utf-7", 65000},
        TCharsetCase{"UsAscii", "us-ascii", 20127}, TCharsetCase{"Ascii", "ascii", 20127},
        TCharsetCase{"AnsiX34", "ansi_x3.4-1968", 20127}, TCharsetCase{"Utf16", "utf-16", 1200},
        TCharsetCase{"Utf16LE", "utf-16le", 1200}, TCharsetCase{"Utf16BE", "utf-16be", 1201},
        TCharsetCase{"UnicodeFFFE", "unicodefffe", 1201},
        TCharsetCase{"Ucs4FromXmlMark", "UCS-4LE", 12000},
        TCharsetCase{"Latin1", "iso-8859-1", 28591}, TCharsetCase{"Latin1Alias", "latin1", 28591},
        TCharsetCase{"Latin2", "iso-8859-2", 28592}, TCharsetCase{"Greek", "iso-8859-7", 28597},
        TCharsetCase{"Latin5", "iso-8859-9", 28599}, TCharsetCase{"Latin7", "iso-8859-13", 28603},
        TCharsetCase{"Latin9", "iso-8859-15", 28605},
        TCharsetCase{"Windows1250", "windows-1250", 1250},
        TCharsetCase{"Windows1252", "windows-1252", 1252},
        TCharsetCase{"Windows1258", "windows-1258", 1258}, TCharsetCase{"Koi8R", "koi8-r", 20866},
        TCharsetCase{"Koi8U", "koi8-u", 21866}, TCharsetCase{"ShiftJis", "shift_jis", 932},
        TCharsetCase{"EucJp", "euc-jp", 51932}, TCharsetCase{"Gb2312", "gb2312", 936},
        TCharsetCase{"Gbk", "gbk", 936}, TCharsetCase{"Big5", "big5", 950},
        TCharsetCase{"EucKr", "euc-kr", 51949}, TCharsetCase{"Iso2022Jp", "iso-2022-jp", 50220},
        TCharsetCase{"Ibm437", "ibm437", 437}, TCharsetCase{"Ibm850", "ibm850", 850},
        TCharsetCase{"Macintosh", "macintosh", 10000},
        TCharsetCase{"Ebcdic037", "ebcdic-cp-us", 37}, TCharsetCase{"UpperCase", "UTF-8", 65001},
        TCharsetCase{"MixedCase", "Shift_JIS", 932},
        TCharsetCase{"MixedCaseAlias", "Windows-1252", 1252},
        TCharsetCase{"Blanks", "  iso-8859-1\t", 28591},
        TCharsetCase{"Empty", "", kCodePageUnknown},
        TCharsetCase{"Unknown", "x-no-such-charset", kCodePageUnknown},
        TCharsetCase{"Prefix", "utf", kCodePageUnknown},
        TCharsetCase{"LongerName", "utf-8x", kCodePageUnknown}),
    [](const auto& info) { return std::string(info.param.Label); });

// A misspelt converter name would silently turn a charset into one character per byte, so every
// code page the table can yield must be decodable.
TEST(CharsetTableTest, EveryNameDecodesByOwnCodeOrAnOpenableConverter) {
  const std::set<int> ownCodePages = {kCodePageUTF16LE, kCodePageUTF16BE, kCodePageUSASCII,
                                      kCodePageUTF7, kCodePageUTF8};
  for (const std::string_view name : KnownCharsetNames()) {
    SCOPED_TRACE(std::string(name));
    const int codePage = CharsetToCodePage(name);
    ASSERT_NE(codePage, kCodePageUnknown);
    if (ownCodePages.count(codePage) != 0) {
      EXPECT_EQ(CodePageToIconvName(codePage), nullptr);
      continue;
    }
    const char* iconvName = CodePageToIconvName(codePage);
    ASSERT_NE(iconvName, nullptr);
    iconv_t converter = iconv_open("UTF-8", iconvName);
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << iconvName;
    if (converter != reinterpret_cast<iconv_t>(-1)) {
      iconv_close(converter);
    }
  }
}

TEST(CharsetTableTest, NamesAreUniqueIgnoringCase) {
  std::set<std::string> seen;
  for (const std::string_view name : KnownCharsetNames()) {
    std::string lower(name);
    for (char& c : lower) {
      c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    EXPECT_TRUE(seen.insert(lower).second) << "duplicate " << name;
  }
}

}  // namespace
}  // namespace kv::http
