#include "http/IdCharsetDetection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "http/TIdHeaderList.h"
#include "net/TIdStream.h"
#include "tests/support/TestFiles.h"

namespace kv::http {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

void Fill(kv::net::TIdMemoryStream& stream, const std::string& bytes) {
  stream.Clear();
  stream.Write(bytes.data(), bytes.size());
}

// ---------------------------------------------------------------------------------------------
// HTML meta scan

struct TMetaCase {
  const char* Label;
  std::string Html;
  Lines ExpectedLines;
  std::string ExpectedCharset;
};

void PrintTo(const TMetaCase& c, std::ostream* os) {
  *os << c.Label;
}

class ScanMetaHttpEquivTest : public ::testing::TestWithParam<TMetaCase> {};

TEST_P(ScanMetaHttpEquivTest, FindsHeaderLinesAndCharset) {
  kv::net::TIdMemoryStream stream;
  Fill(stream, GetParam().Html);
  stream.SetPosition(stream.Size() / 2);
  TIdHeaderList headers(TIdHeaderQuotingType::QuoteHTTP);
  std::string charset = "left over";
  ScanMetaHttpEquiv(&stream, &headers, charset);
  EXPECT_EQ(headers.Lines(), GetParam().ExpectedLines);
  EXPECT_EQ(charset, GetParam().ExpectedCharset);
  EXPECT_EQ(stream.Position(), stream.Size());
}

std::string MetaName(const ::testing::TestParamInfo<TMetaCase>& info) {
  return info.param.Label;
}

INSTANTIATE_TEST_SUITE_P(
    Tags, ScanMetaHttpEquivTest,
    ::testing::Values(
        TMetaCase{"ContentTypeHttpEquiv",
                  "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" "
                  "content=\"text/html; charset=windows-1252\">\r\n</head><body>x</body></html>",
                  {"Content-Type: text/html; charset=windows-1252"},
                  ""},
        TMetaCase{"MetaCharset",
                  "<html><head><meta charset=\"utf-8\"><title>t</title></head></html>",
                  {},
                  "utf-8"},
        TMetaCase{"MetaCharsetUnquoted", "<html><head><meta charset=utf-8></head>", {}, "utf-8"},
        TMetaCase{"MetaCharsetSingleQuotes", "<html><head><meta charset = 'koi8-r'>", {}, "koi8-r"},
        TMetaCase{"LastMetaCharsetWins",
                  "<html><head><meta charset=utf-8><meta charset=\"iso-8859-2\">",
                  {},
                  "iso-8859-2"},
        TMetaCase{"UpperCaseNames",
                  "<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"5; URL=/x\"></HEAD>",
                  {"Refresh: 5; URL=/x"},
                  ""},
        TMetaCase{"UnquotedValues",
                  "<html><head><meta http-equiv=Content-Language content=da></head>",
                  {"Content-Language: da"},
                  ""},
        TMetaCase{"UnquotedContentEndsAtSpace",
                  "<html><head><meta http-equiv=Refresh content=5 url=/x>",
                  {"Refresh: 5"},
                  ""},
        TMetaCase{"SingleQuotes",
                  "<html><head><meta http-equiv='X-Note' content='say \"hi\"'>",
                  {"X-Note: say \"hi\""},
                  ""},
        TMetaCase{"TextAfterClosingQuoteAppended",
                  "<html><head><meta http-equiv=\"Content-Type\" "
                  "content=\"text/html; charset=\"iso-8859-2\"></head>",
                  {"Content-Type: text/html; charset=iso-8859-2"},
                  ""},
        TMetaCase{"OtherAttributesSkipped",
                  "<html><head><meta http-equiv=\"Expires\" name=\"a>b\" lang=da content=\"0\" />",
                  {"Expires: 0"},
                  ""},
        TMetaCase{"WithoutContent",
                  "<html><head><meta http-equiv=\"X-Flag\"><meta http-equiv=X-B content=1>",
                  {"X-Flag:", "X-B: 1"},
                  ""},
        TMetaCase{"SeveralTagsInOrder",
                  "<html><head><meta http-equiv=\"X-A\" content=\"1\">\n<meta charset=\"utf-8\">\n"
                  "<meta http-equiv=\"X-B\" content=\"2\"></head>",
                  {"X-A: 1", "X-B: 2"},
                  "utf-8"},
        TMetaCase{"StrayCharactersInTag",
                  "<html><head><meta http-equiv=X-A ;;; \"q\" content=1>",
                  {"X-A: 1"},
                  ""},
        TMetaCase{"HttpEquivWithoutValue",
                  "<html><head><meta http-equiv content=\"1\"><meta http-equiv=X-B content=2>",
                  {"X-B: 2"},
                  ""},
        TMetaCase{"ContentBeforeHttpEquivNotRecognised",
                  "<html><head><meta content=\"1\" http-equiv=\"X-A\">",
                  {},
                  ""},
        TMetaCase{"BytesAboveAsciiAsLatin1",
                  "<html><head><meta http-equiv=X-Place content=\"K\xF8"
                  "benhavn\">",
                  {"X-Place: København"},
                  ""},
        TMetaCase{"ProcessingInstructionAndDoctype",
                  "<?xml version=\"1.0\"?><!DOCTYPE html><html><head>"
                  "<meta http-equiv=\"X-A\" content=\"1\">",
                  {"X-A: 1"},
                  ""}),
    MetaName);

INSTANTIATE_TEST_SUITE_P(
    Ignored, ScanMetaHttpEquivTest,
    ::testing::Values(
        TMetaCase{"InsideComment",
                  "<html><head><!-- <meta http-equiv=\"X-A\" content=\"1\"> -->"
                  "<meta http-equiv=\"X-B\" content=\"2\">",
                  {"X-B: 2"},
                  ""},
        TMetaCase{"CommentNeedsTwoDashesBeforeItsEnd",
                  "<html><head><!-- a -> <meta http-equiv=\"X-A\" content=\"1\"> --->"
                  "<meta http-equiv=\"X-B\" content=\"2\">",
                  {"X-B: 2"},
                  ""},
        TMetaCase{"DashesOfTheOpeningDoNotClose",
                  "<html><head><!--><meta http-equiv=\"X-A\" content=\"1\"><!-- -->"
                  "<meta http-equiv=\"X-B\" content=\"2\">",
                  {"X-B: 2"},
                  ""},
        TMetaCase{"InsideScript",
                  "<html><head><script>if (a<b) document.write('<meta http-equiv=\"X-A\" "
                  "content=\"1\">');</script><meta http-equiv=\"X-B\" content=\"2\">",
                  {"X-B: 2"},
                  ""},
        TMetaCase{"InsideTitleOfHead",
                  "<html><head><title>a <meta http-equiv=\"X-A\" content=\"1\"> b</title>"
                  "<meta http-equiv=\"X-B\" content=\"2\">",
                  {"X-B: 2"},
                  ""},
        TMetaCase{"TitleBeforeHead",
                  "<html><title>t</title><head><meta http-equiv=\"X-A\" content=\"1\">"
                  "<meta charset=\"utf-8\"></head>",
                  {},
                  ""},
        TMetaCase{"WithoutHtmlTag", "<head><meta http-equiv=\"X-A\" content=\"1\">", {}, ""},
        TMetaCase{
            "BodyBeforeHead", "<html><body><meta http-equiv=\"X-A\" content=\"1\"></body>", {}, ""},
        TMetaCase{"Empty", "", {}, ""},
        TMetaCase{"NoMarkup", "just text, no tags > at all", {}, ""}),
    MetaName);

INSTANTIATE_TEST_SUITE_P(
    Found, ScanMetaHttpEquivTest,
    ::testing::Values(
        TMetaCase{"MetaInBody",
                  "<html><head><title>t</title></head><body><p>"
                  "<meta http-equiv=\"X-A\" content=\"1\"></p></body></html>",
                  {"X-A: 1"},
                  ""},
        TMetaCase{"InsideOtherElement",
                  "<html><head><noscript><meta http-equiv=\"X-A\" content=\"1\"></noscript>",
                  {"X-A: 1"},
                  ""}),
    MetaName);

INSTANTIATE_TEST_SUITE_P(
    Malformed, ScanMetaHttpEquivTest,
    ::testing::Values(
        TMetaCase{"UnterminatedTagAtEnd",
                  "<html><head><meta http-equiv=\"X-A\" content=\"1\"",
                  {"X-A: 1"},
                  ""},
        TMetaCase{
            "UnterminatedContentQuote", "<html><head><meta http-equiv=\"X-A\" content=\"1", {}, ""},
        TMetaCase{"UnterminatedNameQuote", "<html><head><meta http-equiv=\"X-A", {}, ""},
        TMetaCase{"UnterminatedCharsetQuote", "<html><head><meta charset='utf-8", {}, ""},
        TMetaCase{"UnterminatedComment",
                  "<html><head><meta http-equiv=\"X-A\" content=\"1\">"
                  "<!-- <meta http-equiv=\"X-B\" content=\"2\">",
                  {"X-A: 1"},
                  ""},
        TMetaCase{"UnterminatedScript",
                  "<html><head><script><meta http-equiv=\"X-A\" content=\"1\">",
                  {},
                  ""},
        TMetaCase{"LoneAngleAtEnd", "<html><head><", {}, ""},
        TMetaCase{"MetaAtEnd", "<html><head><meta", {}, ""},
        TMetaCase{"EqualsAtEnd", "<html><head><meta http-equiv=", {":"}, ""},
        TMetaCase{
            "NulBytes", "<html>\0<head>\0<meta\0http-equiv=X-A\0content=\"1\">"s, {"X-A: 1"}, ""}),
    MetaName);

TEST(ScanMetaHttpEquivStreamTest, WithoutStreamCharsetIsEmptied) {
  TIdHeaderList headers(TIdHeaderQuotingType::QuoteHTTP);
  std::string charset = "utf-8";
  ScanMetaHttpEquiv(nullptr, &headers, charset);
  EXPECT_EQ(charset, "");
  EXPECT_EQ(headers.Count(), 0);
}

TEST(ScanMetaHttpEquivStreamTest, WithoutHeaderListCharsetIsStillFound) {
  kv::net::TIdMemoryStream stream;
  Fill(stream, "<html><head><meta http-equiv=X-A content=1><meta charset=utf-8>");
  std::string charset;
  ScanMetaHttpEquiv(&stream, nullptr, charset);
  EXPECT_EQ(charset, "utf-8");
}

TEST(ScanMetaHttpEquivStreamTest, LinesAreAppendedToWhatTheListHolds) {
  kv::net::TIdMemoryStream stream;
  Fill(stream, "<html><head><meta http-equiv=X-A content=1>");
  TIdHeaderList headers(TIdHeaderQuotingType::QuoteHTTP);
  headers.Add("Server: x");
  std::string charset;
  ScanMetaHttpEquiv(&stream, &headers, charset);
  EXPECT_EQ(headers.Lines(), (Lines{"Server: x", "X-A: 1"}));
}

// A stream that is not held in memory is read through its own interface.
TEST(ScanMetaHttpEquivStreamTest, ReadsFileStreamFromItsStart) {
  const kv::test::TempFolder folder("kavora-meta");
  const std::string html = "<html><head><meta http-equiv=\"X-A\" content=\"1\"></head></html>";
  kv::test::WriteFile(folder / "page.html", html);
  kv::net::TIdFileStream file(folder / "page.html", kv::net::TIdFileStream::TMode::fmOpenRead);
  file.SetPosition(10);
  TIdHeaderList headers(TIdHeaderQuotingType::QuoteHTTP);
  std::string charset;
  ScanMetaHttpEquiv(&file, &headers, charset);
  EXPECT_EQ(headers.Lines(), (Lines{"X-A: 1"}));
  EXPECT_EQ(file.Position(), static_cast<int64_t>(html.size()));
}

// A large head full of unclosed quotes, comments and stray tags must be scanned in one pass.
TEST(ScanMetaHttpEquivStreamTest, ManyTagsAreScannedToTheEnd) {
  std::string html = "<html><head>";
  for (int i = 0; i < 20000; ++i) {
    html += "<x a=\"b\"><meta name=n content=c><link rel=x>";
  }
  html += "<meta http-equiv=X-Last content=1>";
  kv::net::TIdMemoryStream stream;
  Fill(stream, html);
  TIdHeaderList headers(TIdHeaderQuotingType::QuoteHTTP);
  std::string charset;
  ScanMetaHttpEquiv(&stream, &headers, charset);
  EXPECT_EQ(headers.Lines(), (Lines{"X-Last: 1"}));
}

// ---------------------------------------------------------------------------------------------
// XML charset sniff

struct TXmlCase {
  const char* Label;
  std::string Bytes;
  std::string ExpectedCharset;
  int64_t ExpectedAdvance;  // how far the position moves from where it was
};

void PrintTo(const TXmlCase& c, std::ostream* os) {
  *os << c.Label;
}

class SniffXmlCharsetTest : public ::testing::TestWithParam<TXmlCase> {};

// The caller's position is in the middle of the stream, as after an earlier read.
TEST_P(SniffXmlCharsetTest, GivesCharsetAndMovesPositionByMark) {
  kv::net::TIdMemoryStream stream;
  Fill(stream, GetParam().Bytes + std::string(8, ' '));
  stream.SetPosition(2);
  EXPECT_EQ(SniffXmlCharset(&stream), GetParam().ExpectedCharset);
  EXPECT_EQ(stream.Position(), 2 + GetParam().ExpectedAdvance);
}

std::string XmlName(const ::testing::TestParamInfo<TXmlCase>& info) {
  return info.param.Label;
}

INSTANTIATE_TEST_SUITE_P(
    ByteOrderMarks, SniffXmlCharsetTest,
    ::testing::Values(TXmlCase{"Ucs4BigEndian", "\x00\x00\xFE\xFF\x00\x00\x00<"s, "UCS-4BE", 4},
                      TXmlCase{"Ucs4Order2143", "\x00\x00\xFF\xFE\x00\x00<\x00"s, "", 4},
                      TXmlCase{"Ucs4LittleEndian", "\xFF\xFE\x00\x00<\x00\x00\x00"s, "UCS-4LE", 4},
                      TXmlCase{"Ucs4Order3412", "\xFE\xFF\x00\x00\x00<\x00\x00"s, "", 4},
                      TXmlCase{"Utf16BigEndian", "\xFE\xFF\x00<"s, "UTF-16BE", 2},
                      TXmlCase{"Utf16LittleEndian", "\xFF\xFE<\x00"s, "UTF-16LE", 2},
                      TXmlCase{"Utf8",
                               "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
                               "UTF-8", 3}),
    XmlName);

// Characters of a prolog spread over units: each character at byte index "at" of a unit of
// "width" bytes, the other bytes zero.
std::string Units(const std::string& text, int width, int at) {
  std::string bytes;
  for (const char c : text) {
    std::string unit(width, '\0');
    unit[at] = c;
    bytes += unit;
  }
  return bytes;
}

const std::string kProlog = "<?xml version=\"1.0\" encoding=\"ISO-8859-5\"?><root/>";

INSTANTIATE_TEST_SUITE_P(
    Prologs, SniffXmlCharsetTest,
    ::testing::Values(
        TXmlCase{"Ucs4Order1234", Units(kProlog, 4, 3), "ISO-8859-5", 0},
        TXmlCase{"Ucs4Order2143", Units(kProlog, 4, 2), "ISO-8859-5", 0},
        TXmlCase{"Ucs4Order4321", Units(kProlog, 4, 0), "ISO-8859-5", 0},
        TXmlCase{"Ucs4Order3412", Units(kProlog, 4, 1), "ISO-8859-5", 0},
        TXmlCase{"Utf16BigEndian", Units(kProlog, 2, 1), "ISO-8859-5", 0},
        TXmlCase{"Utf16LittleEndian", Units(kProlog, 2, 0), "ISO-8859-5", 0},
        TXmlCase{"Utf8DoubleQuotes", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
                 "ISO-8859-1", 0},
        TXmlCase{"Utf8SingleQuotes", "<?xml version='1.0' encoding='windows-1252'?>",
                 "windows-1252", 0},
        TXmlCase{"BlanksAroundEqualsAndValue",
                 "<?xml version=\"1.0\" encoding \r\n= \t\" koi8-r \"?>", "koi8-r", 0},
        TXmlCase{"Ebcdic",
                 "\x4C\x6F\xA7\x94\x93\x40\xA5\x85\x99\xA2\x89\x96\x95\x7E\x7F\xF1\x4B\xF0\x7F"
                 "\x40\x85\x95\x83\x96\x84\x89\x95\x87\x7E\x7F\xC9\xC2\xD4\xF0\xF3\xF7\x7F\x6F"
                 "\x6E",
                 "IBM037", 0},
        TXmlCase{"EbcdicOtherBytesUnreadable",
                 "\x4C\x6F\xA7\x94\x93\x40\x85\x95\x83\x96\x84\x89\x95\x87\x7E\x7F\xC9\x5B\xD4"
                 "\x7F\x6F\x6E",
                 "I\x01M", 0}),
    XmlName);

INSTANTIATE_TEST_SUITE_P(
    DefaultUtf8, SniffXmlCharsetTest,
    ::testing::Values(
        TXmlCase{"UnquotedValue", "<?xml version=\"1.0\" encoding=ISO-8859-1?>", "UTF-8", 0},
        TXmlCase{"EmptyValue", "<?xml version=\"1.0\" encoding=\"  \"?>", "UTF-8", 0},
        TXmlCase{"NoEncoding", "<?xml version=\"1.0\"?><root/>", "UTF-8", 0},
        TXmlCase{"UpperCaseKeyword", "<?xml version=\"1.0\" ENCODING=\"ISO-8859-1\"?>", "UTF-8", 0},
        TXmlCase{"EncodingAfterProlog", "<?xml version=\"1.0\"?><a encoding=\"ISO-8859-1\"/>",
                 "UTF-8", 0},
        TXmlCase{"UnclosedQuote", "<?xml version=\"1.0\" encoding=\"ISO-8859-1?>", "UTF-8", 0},
        TXmlCase{"NoPrologStart", "<root encoding=\"ISO-8859-1\">", "UTF-8", 0},
        TXmlCase{"Utf16PrologWithoutEnd", Units("<?xml encoding=\"x\"", 2, 0), "UTF-8", 0}),
    XmlName);

struct TShortCase {
  const char* Label;
  std::string Bytes;
};

class SniffXmlShortBodyTest : public ::testing::TestWithParam<TShortCase> {};

TEST_P(SniffXmlShortBodyTest, GivesUtf8AndKeepsPosition) {
  kv::net::TIdMemoryStream stream;
  Fill(stream, GetParam().Bytes);
  stream.SetPosition(1);
  EXPECT_EQ(SniffXmlCharset(&stream), "UTF-8");
  EXPECT_EQ(stream.Position(), 1);
}

INSTANTIATE_TEST_SUITE_P(Bodies, SniffXmlShortBodyTest,
                         ::testing::Values(TShortCase{"Empty", ""}, TShortCase{"OneByte", "<"},
                                           TShortCase{"HalfUtf16Mark", "\xFF\xFE"},
                                           TShortCase{"TwoBytesOfUtf8Mark", "\xEF\xBB"},
                                           TShortCase{"ThreeBytesNoMark", "<?x"}),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST(SniffXmlCharsetStreamTest, WithoutStreamGivesUtf8) {
  EXPECT_EQ(SniffXmlCharset(nullptr), "UTF-8");
}

// A prolog whose end lies exactly at the last whole unit is found; half a unit is not.
TEST(SniffXmlCharsetStreamTest, PrologEndMustBeAWholeUnit) {
  kv::net::TIdMemoryStream stream;
  Fill(stream, Units("<?xml encoding='UCS-2'?>", 2, 0));
  EXPECT_EQ(SniffXmlCharset(&stream), "UCS-2");
  Fill(stream, Units("<?xml encoding='UCS-2'?", 2, 0) + ">");
  EXPECT_EQ(SniffXmlCharset(&stream), "UTF-8");
}

// After the body was stored the position stands at its end; skipping the mark must not move it
// past the end, where the next write would leave a gap.
TEST(SniffXmlCharsetStreamTest, MarkDoesNotMovePositionPastTheEnd) {
  kv::net::TIdMemoryStream stream;
  Fill(stream, "\xEF\xBB\xBF<a/>");
  EXPECT_EQ(stream.Position(), 7);
  EXPECT_EQ(SniffXmlCharset(&stream), "UTF-8");
  EXPECT_EQ(stream.Position(), 7);

  Fill(stream, "\xFF\xFE\x00"s);
  stream.SetPosition(0);
  EXPECT_EQ(SniffXmlCharset(&stream), "UCS-4LE");
  EXPECT_EQ(stream.Position(), 3);
}

TEST(SniffXmlCharsetStreamTest, ReadsFileStream) {
  const kv::test::TempFolder folder("kavora-xml");
  kv::test::WriteFile(folder / "a.xml", "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><a/>");
  kv::net::TIdFileStream file(folder / "a.xml", kv::net::TIdFileStream::TMode::fmOpenRead);
  file.SetPosition(5);
  EXPECT_EQ(SniffXmlCharset(&file), "EUC-JP");
  EXPECT_EQ(file.Position(), 5);
}

// ---------------------------------------------------------------------------------------------
// Arbitrary input

// Pieces of markup glued at random: every scan and sniff must end, leave the position where the
// rules say, and never read outside the stream (the sanitizer build checks the last part).
std::string RandomMarkup(std::mt19937& random, const std::vector<std::string>& pieces) {
  std::string bytes;
  const int count = static_cast<int>(random() % 16);
  for (int i = 0; i < count; ++i) {
    bytes += random() % 4 == 0 ? std::string(1, static_cast<char>(random() % 256))
                               : pieces[random() % pieces.size()];
  }
  return bytes;
}

TEST(CharsetDetectionRobustnessTest, RandomMarkupEndsWithPositionRules) {
  const std::vector<std::string> htmlPieces = {
      "<",       ">",    "<html>", "<head>", "<meta ", "http-equiv", "charset",
      "content", "=",    "\"",     "'",      "<!--",   "-->",        "-",
      "<!",      "<?",   "</",     "title",  "script", "<title>",    "<script>",
      "link",    "BODY", " ",      "\0"s,    "/",      "X-A",        "a"};
  const std::vector<std::string> xmlPieces = {"\xEF\xBB\xBF",
                                              "\xFF\xFE",
                                              "\xFE\xFF",
                                              "\0\0"s,
                                              "<?xm",
                                              "\x4C\x6F\xA7\x94",
                                              "<\0?\0"s,
                                              "\0<\0?"s,
                                              "encoding",
                                              "=",
                                              "\"",
                                              "'",
                                              ">",
                                              "\x6E",
                                              "\0>"s,
                                              ">\0"s,
                                              " ",
                                              "x"};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE(round);
    kv::net::TIdMemoryStream stream;
    Fill(stream, RandomMarkup(random, htmlPieces));
    const int64_t size = stream.Size();
    stream.SetPosition(static_cast<int64_t>(random() % (size + 2)));
    TIdHeaderList headers(TIdHeaderQuotingType::QuoteHTTP);
    std::string charset;
    ScanMetaHttpEquiv(&stream, &headers, charset);
    ASSERT_EQ(stream.Position(), size);
    for (const std::string& line : headers.Lines()) {
      ASSERT_NE(line.find(':'), std::string::npos) << line;
    }

    Fill(stream, RandomMarkup(random, xmlPieces));
    const int64_t start = static_cast<int64_t>(random() % (stream.Size() + 2));
    stream.SetPosition(start);
    SniffXmlCharset(&stream);
    ASSERT_GE(stream.Position(), start);
    ASSERT_LE(stream.Position(), std::max(start, stream.Size()));
  }
}

}  // namespace
}  // namespace kv::http
