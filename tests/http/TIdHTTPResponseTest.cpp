#include "http/TIdHTTPResponse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "http/IdHTTPDate.h"
#include "net/TIdStream.h"

namespace kv::http {
namespace {

using enum TIdHTTPProtocolVersion;
using enum TIdHTTPConnectionType;

// A client as the keep-alive decision sees it.
class FakeOwner : public TIdHTTPResponseOwner {
 public:
  bool CheckConnected() override {
    ++checks;
    return connected;
  }
  std::string RequestConnection() const override { return requestConnection; }
  std::string RequestProxyConnection() const override { return requestProxyConnection; }
  TIdHTTPConnectionType RequestUseProxy() const override { return useProxy; }
  TIdHTTPProtocolVersion ClientProtocolVersion() const override { return version; }

  bool connected = true;
  int checks = 0;
  std::string requestConnection;
  std::string requestProxyConnection;
  TIdHTTPConnectionType useProxy = ctNormal;
  TIdHTTPProtocolVersion version = pv1_1;
};

class ResponseTest : public ::testing::Test {
 protected:
  // Fills the head from raw lines and parses it.
  void Parse(const std::vector<std::string>& lines) {
    response.Clear();
    for (const std::string& line : lines) {
      response.RawHeaders().Add(line);
    }
    response.ParseRawHeaders();
  }

  FakeOwner owner;
  TIdHTTPResponse response{owner};
};

// ---- Status line ---------------------------------------------------------------------------

struct TStatusCase {
  const char* name;
  const char* line;
  int32_t code;
  TIdHTTPProtocolVersion version;
};

class StatusLineTest : public ::testing::TestWithParam<TStatusCase> {};

TEST_P(StatusLineTest, SplitsCodeAndVersion) {
  FakeOwner owner;
  TIdHTTPResponse response(owner);
  response.SetResponseText(GetParam().line);
  EXPECT_EQ(response.ResponseCode(), GetParam().code);
  EXPECT_EQ(response.ResponseVersion(), GetParam().version);
  EXPECT_EQ(response.ResponseText(), GetParam().line);
  EXPECT_EQ(ParseResponseCode(GetParam().line), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StatusLineTest,
    ::testing::Values(TStatusCase{"Ok11", "HTTP/1.1 200 OK", 200, pv1_1},
                      TStatusCase{"NotFound10", "HTTP/1.0 404 Not Found", 404, pv1_0},
                      TStatusCase{"Http2", "HTTP/2 200", 200, pv1_0},
                      TStatusCase{"DoubledSpaces", "HTTP/1.1  301  Moved", 301, pv1_1},
                      TStatusCase{"DecimalCode", "HTTP/1.1 200.5 OK", 200, pv1_1},
                      TStatusCase{"NoCode", "HTTP/1.1 OK", -1, pv1_1},
                      TStatusCase{"PlainWords", "this is not http", -1, pv1_0},
                      TStatusCase{"Empty", "", -1, pv1_0},
                      TStatusCase{"NoSpace", "HTTP/1.1", -1, pv1_1},
                      TStatusCase{"LowerCaseVersion", "http/1.1 204 No Content", 204, pv1_1},
                      TStatusCase{"TabsAroundCode", "HTTP/1.1 \t302\t Found", 302, pv1_1},
                      TStatusCase{"HugeCode", "HTTP/1.1 99999999999 X", -1, pv1_1},
                      TStatusCase{"NegativeCode", "HTTP/1.1 -7 X", -7, pv1_1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResponseTest, CodeIsParsedOncePerStatusLine) {
  response.SetResponseText("HTTP/1.1 200 OK");
  EXPECT_EQ(response.ResponseCode(), 200);
  // A stored code is not parsed again on the next read...
  response.SetResponseCode(404);
  EXPECT_EQ(response.ResponseCode(), 404);
  // ...until the status line is written again.
  response.SetResponseText("HTTP/1.1 200 OK");
  EXPECT_EQ(response.ResponseCode(), 200);
  EXPECT_EQ(response.ResponseVersion(), pv1_1);
  response.SetResponseText("HTTP/1.0 500 Oops");
  EXPECT_EQ(response.ResponseCode(), 500);
  EXPECT_EQ(response.ResponseVersion(), pv1_0);
}

// ---- Header fields ---------------------------------------------------------------------------

struct TLengthCase {
  const char* name;
  std::vector<std::string> lines;
  int64_t length;
  bool hasLength;
};

class ContentLengthTest : public ResponseTest, public ::testing::WithParamInterface<TLengthCase> {};

TEST_P(ContentLengthTest, ParsesTheFirstContentLength) {
  Parse(GetParam().lines);
  EXPECT_EQ(response.ContentLength(), GetParam().length);
  EXPECT_EQ(response.HasContentLength(), GetParam().hasLength);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ContentLengthTest,
    ::testing::Values(
        TLengthCase{"LowerCaseName", {"content-length: 10"}, 10, true},
        TLengthCase{"SpaceBeforeColon", {"Content-Length : 10"}, -1, false},
        TLengthCase{"NotANumber", {"Content-Length: abc"}, -1, false},
        TLengthCase{"Negative", {"Content-Length: -5"}, -5, false},
        TLengthCase{"Zero", {"Content-Length: 0"}, 0, true},
        TLengthCase{"Blanks", {"Content-Length:    42   "}, 42, true},
        TLengthCase{"Overflow", {"Content-Length: 99999999999999999999"}, -1, false},
        TLengthCase{"Largest", {"Content-Length: 9223372036854775807"}, INT64_MAX, true},
        TLengthCase{"TwoLinesFirstCounts", {"Content-Length: 5", "Content-Length: 7"}, 5, true},
        TLengthCase{"Absent", {"Content-Type: text/plain"}, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct TContentTypeCase {
  const char* name;
  const char* value;
  const char* contentType;
  const char* charSet;
};

class ContentTypeRuleTest : public ResponseTest,
                            public ::testing::WithParamInterface<TContentTypeCase> {};

TEST_P(ContentTypeRuleTest, SplitsTheCharsetAndAppliesTextDefaults) {
  Parse({std::string("Content-Type: ") + GetParam().value});
  EXPECT_EQ(response.ContentType(), GetParam().contentType);
  EXPECT_EQ(response.CharSet(), GetParam().charSet);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ContentTypeRuleTest,
    ::testing::Values(
        TContentTypeCase{"QuotedCharset", R"(text/html; charset="UTF-8")", "text/html", "UTF-8"},
        TContentTypeCase{"TextPlainDefault", "text/plain", "text/plain", "ISO-8859-1"},
        TContentTypeCase{"TextXmlDefault", "text/xml", "text/xml", "us-ascii"},
        TContentTypeCase{"ParsedEntityDefault", "TEXT/XML-EXTERNAL-PARSED-ENTITY",
                         "TEXT/XML-EXTERNAL-PARSED-ENTITY", "us-ascii"},
        TContentTypeCase{"PlusXmlDefault", "text/svg+xml", "text/svg+xml", "us-ascii"},
        TContentTypeCase{"OctetStreamNoCharset", "application/octet-stream",
                         "application/octet-stream", ""},
        TContentTypeCase{"ApplicationXmlNoDefault", "application/xml", "application/xml", ""},
        TContentTypeCase{"OtherParametersKept", "multipart/form-data; boundary=abc; charset=utf-8",
                         "multipart/form-data; boundary=abc", "utf-8"},
        TContentTypeCase{"CharsetNameAnyCase", R"(text/html; Charset=koi8-r; level="1 2")",
                         R"(text/html; level="1 2")", "koi8-r"},
        TContentTypeCase{"QuotedStaysQuoted", R"(text/html; charset=x; q="a")",
                         R"(text/html; q="a")", "x"},
        TContentTypeCase{"WithoutCharsetUnchanged", "text/html;level=1", "text/html;level=1",
                         "ISO-8859-1"},
        TContentTypeCase{"Empty", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResponseTest, FoldedValueIsUnfoldedForTheTypedField) {
  Parse({"Content-Type: text/html;", "\tcharset=koi8-r", "X-A: one", " two"});
  EXPECT_EQ(response.ContentType(), "text/html");
  EXPECT_EQ(response.CharSet(), "koi8-r");
  EXPECT_EQ(response.RawHeaders().GetValue("X-A"), "one two");
  // The physical lines stay as received.
  EXPECT_EQ(response.RawHeaders().Count(), 4);
}

TEST_F(ResponseTest, ParsesTheStringFields) {
  Parse({"Cache-control: no-cache", "Connection: Keep-Alive", "Content-Version: 2",
         "Content-Disposition: attachment", "Content-Encoding: gzip", "Content-Language: da",
         "ETag: \"v1\"", "Pragma: no-cache", "Transfer-Encoding: chunked", "Location: /next",
         "Server: test", "Proxy-Connection: close", "Accept-Patch: text/x",
         "Accept-Ranges: bytes"});
  EXPECT_EQ(response.CacheControl(), "no-cache");
  EXPECT_EQ(response.Connection(), "Keep-Alive");
  EXPECT_EQ(response.ContentVersion(), "2");
  EXPECT_EQ(response.ContentDisposition(), "attachment");
  EXPECT_EQ(response.ContentEncoding(), "gzip");
  EXPECT_EQ(response.ContentLanguage(), "da");
  EXPECT_EQ(response.ETag(), "\"v1\"");
  EXPECT_EQ(response.Pragma(), "no-cache");
  EXPECT_EQ(response.TransferEncoding(), "chunked");
  EXPECT_EQ(response.Location(), "/next");
  EXPECT_EQ(response.Server(), "test");
  EXPECT_EQ(response.ProxyConnection(), "close");
  EXPECT_EQ(response.AcceptPatch(), "text/x");
  EXPECT_EQ(response.AcceptRanges(), "bytes");
}

struct TRangeCase {
  const char* name;
  const char* value;
  const char* units;
  int64_t start;
  int64_t end;
  int64_t instanceLength;
};

class ContentRangeTest : public ResponseTest, public ::testing::WithParamInterface<TRangeCase> {};

TEST_P(ContentRangeTest, SplitsUnitsRangeAndLength) {
  Parse({std::string("Content-Range: ") + GetParam().value});
  EXPECT_EQ(response.ContentRangeUnits(), GetParam().units);
  EXPECT_EQ(response.ContentRangeStart(), GetParam().start);
  EXPECT_EQ(response.ContentRangeEnd(), GetParam().end);
  EXPECT_EQ(response.ContentRangeInstanceLength(), GetParam().instanceLength);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ContentRangeTest,
    ::testing::Values(TRangeCase{"Full", "bytes 0-99/200", "bytes", 0, 99, 200},
                      TRangeCase{"UnknownRange", "bytes */1234", "bytes", -1, -1, 1234},
                      TRangeCase{"UnknownLength", "bytes 5-9/*", "bytes", 5, 9, -1},
                      TRangeCase{"Garbage", "bytes x-y/z", "bytes", -1, -1, -1},
                      TRangeCase{"UnitsOnly", "bytes", "bytes", -1, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResponseTest, DatesAreReadInLocalTime) {
  const char* httpDate = "Sun, 06 Nov 1994 08:49:37 GMT";
  Parse({std::string("Date: ") + httpDate, std::string("Last-Modified: ") + httpDate,
         std::string("Expires: ") + httpDate});
  const TDateTime expected = GMTToLocalDateTime(httpDate);
  ASSERT_GT(expected, 0);
  EXPECT_DOUBLE_EQ(response.Date(), expected);
  EXPECT_DOUBLE_EQ(response.LastModified(), expected);
  EXPECT_DOUBLE_EQ(response.Expires(), expected);
}

TEST_F(ResponseTest, MissingAndBadDates) {
  const TDateTime before = Now();
  Parse({"Last-Modified: yesterday", "Expires: never"});
  const TDateTime after = Now();
  // No Date header: the answer counts as made now.
  EXPECT_GE(response.Date(), before);
  EXPECT_LE(response.Date(), after);
  EXPECT_EQ(response.LastModified(), 0);
  // An Expires that is not a date means already expired.
  EXPECT_LT(response.Expires(), after);
  EXPECT_GT(response.Expires(), before - 2 * kOneSecond);

  Parse({"Date: not a date"});
  EXPECT_EQ(response.Date(), 0);
  EXPECT_EQ(response.Expires(), 0);
}

TEST_F(ResponseTest, ExpiresAsSeconds) {
  const TDateTime before = Now();
  Parse({"Expires: 3600"});
  EXPECT_GE(response.Expires(), before + 3600 * kOneSecond);
  EXPECT_LT(response.Expires(), Now() + 3601 * kOneSecond);
  Parse({"Expires: -5"});
  EXPECT_EQ(response.Expires(), 0);
}

TEST_F(ResponseTest, AuthenticateListsCollectEveryValue) {
  Parse({"WWW-Authenticate: Basic realm=\"a\"", "X: y", "www-authenticate: Digest realm=\"b\"",
         "Proxy-Authenticate: NTLM"});
  ASSERT_EQ(response.WWWAuthenticate().Count(), 2);
  EXPECT_EQ(response.WWWAuthenticate()[0], "Basic realm=\"a\"");
  EXPECT_EQ(response.WWWAuthenticate()[1], "Digest realm=\"b\"");
  ASSERT_EQ(response.ProxyAuthenticate().Count(), 1);
  EXPECT_EQ(response.ProxyAuthenticate()[0], "NTLM");
}

TEST_F(ResponseTest, ClearKeepsTheStatusAndTheStream) {
  kv::net::TIdMemoryStream stream;
  response.SetResponseText("HTTP/1.1 404 Not Found");
  response.SetContentStream(&stream);
  Parse({"Content-Type: text/html", "Location: /x", "Server: s", "Pragma: no-cache",
         "Content-Length: 5", "WWW-Authenticate: Basic"});
  response.MetaHTTPEquiv().RawHeaders().Add("Refresh: 1");
  response.Clear();
  EXPECT_EQ(response.ResponseCode(), 404);
  EXPECT_EQ(response.ResponseText(), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(response.ContentStream(), &stream);
  EXPECT_EQ(response.RawHeaders().Count(), 0);
  EXPECT_EQ(response.ContentType(), "");
  EXPECT_EQ(response.CharSet(), "");
  EXPECT_EQ(response.Location(), "");
  EXPECT_EQ(response.Server(), "");
  EXPECT_EQ(response.ContentLength(), -1);
  EXPECT_EQ(response.WWWAuthenticate().Count(), 0);
  EXPECT_EQ(response.MetaHTTPEquiv().RawHeaders().Count(), 0);
  // Pragma and HasContentLength are left for the next parse.
  EXPECT_EQ(response.Pragma(), "no-cache");
  EXPECT_TRUE(response.HasContentLength());
}

// ---- Keep-alive decision -----------------------------------------------------------------------

struct TKeepAliveCase {
  const char* name;
  TIdHTTPProtocolVersion version;
  TIdHTTPConnectionType useProxy;
  bool connected;
  const char* requestConnection;
  const char* requestProxyConnection;
  std::vector<std::string> responseHeaders;
  bool keepAlive;
};

class KeepAliveTest : public ResponseTest, public ::testing::WithParamInterface<TKeepAliveCase> {};

TEST_P(KeepAliveTest, DecidesFromConnectionRequestAndResponse) {
  const TKeepAliveCase& c = GetParam();
  owner.version = c.version;
  owner.useProxy = c.useProxy;
  owner.connected = c.connected;
  owner.requestConnection = c.requestConnection;
  owner.requestProxyConnection = c.requestProxyConnection;
  Parse(c.responseHeaders);
  EXPECT_EQ(response.KeepAlive(), c.keepAlive);
  EXPECT_EQ(owner.checks, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeepAliveTest,
    ::testing::Values(
        TKeepAliveCase{"V11NoHeader", pv1_1, ctNormal, true, "", "", {}, true},
        TKeepAliveCase{"V11Close", pv1_1, ctNormal, true, "", "", {"Connection: close"}, false},
        TKeepAliveCase{"V11CloseAnyCaseBlanks",
                       pv1_1,
                       ctNormal,
                       true,
                       "",
                       "",
                       {"Connection:   cLoSe   "},
                       false},
        TKeepAliveCase{
            "V11KeepAlive", pv1_1, ctNormal, true, "", "", {"Connection: Keep-Alive"}, true},
        TKeepAliveCase{"V11TokenListIsNotClose",
                       pv1_1,
                       ctNormal,
                       true,
                       "",
                       "",
                       {"Connection: close, TE"},
                       true},
        TKeepAliveCase{"V11PeerClosed", pv1_1, ctNormal, false, "", "", {}, false},
        TKeepAliveCase{"V11PeerClosedKeepAlive",
                       pv1_1,
                       ctNormal,
                       false,
                       "",
                       "",
                       {"Connection: keep-alive"},
                       false},
        TKeepAliveCase{"V11RequestClose", pv1_1, ctNormal, true, " Close ", "", {}, false},
        TKeepAliveCase{"V11ProxyConnectionIgnoredWhenDirect",
                       pv1_1,
                       ctNormal,
                       true,
                       "",
                       "close",
                       {"Proxy-Connection: close"},
                       true},
        TKeepAliveCase{"V11ProxyResponseClose",
                       pv1_1,
                       ctProxy,
                       true,
                       "",
                       "",
                       {"Proxy-Connection: close"},
                       false},
        TKeepAliveCase{"V11ProxyRequestClose", pv1_1, ctSSLProxy, true, "", "close", {}, false},
        TKeepAliveCase{"V11ProxyNoHeaders", pv1_1, ctProxy, true, "", "", {}, true},
        TKeepAliveCase{"V10NoHeader", pv1_0, ctNormal, true, "", "", {}, false},
        TKeepAliveCase{"V10KeepAlive",
                       pv1_0,
                       ctNormal,
                       true,
                       "keep-alive",
                       "",
                       {"Connection:  KEEP-ALIVE "},
                       true},
        TKeepAliveCase{"V10RequestCloseWins",
                       pv1_0,
                       ctNormal,
                       true,
                       "close",
                       "",
                       {"Connection: keep-alive"},
                       false},
        TKeepAliveCase{
            "V10ProxyNeedsBoth", pv1_0, ctProxy, true, "", "", {"Connection: keep-alive"}, false},
        TKeepAliveCase{"V10ProxyBoth",
                       pv1_0,
                       ctProxy,
                       true,
                       "",
                       "",
                       {"Connection: keep-alive", "Proxy-Connection: Keep-Alive"},
                       true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResponseTest, KeepAliveIsRecomputedOnEveryRead) {
  Parse({});
  response.SetKeepAlive(false);
  EXPECT_TRUE(response.KeepAlive());
  owner.connected = false;
  EXPECT_FALSE(response.KeepAlive());
  EXPECT_EQ(owner.checks, 2);
}

// ---- Any input ----------------------------------------------------------------------------------

// Header values and status lines built from the characters the parsers treat specially, in
// random order (a fixed seed, so a failure repeats). Nothing may crash, and the fields keep their
// invariants.
TEST(ResponseParsing, SurvivesArbitraryInput) {
  static const char kAlphabet[] = "0123456789abcdefxyzXYZ:;=,-/. \t\"\\*+\r\x01\x7f\xff\xc3\xa9";
  static const char* const kNames[] = {"Content-Length",
                                       "Content-Type",
                                       "Content-Range",
                                       "Date",
                                       "Expires",
                                       "Last-Modified",
                                       "Connection",
                                       "WWW-Authenticate",
                                       "Set-Cookie",
                                       "Transfer-Encoding",
                                       "Proxy-Connection",
                                       "",
                                       " ",
                                       "Location"};
  uint32_t state = 2463534242u;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  auto text = [&](size_t maxLength) {
    std::string value(next() % (maxLength + 1), ' ');
    for (char& c : value) {
      c = kAlphabet[next() % (sizeof(kAlphabet) - 1)];
    }
    return value;
  };
  FakeOwner owner;
  TIdHTTPResponse response(owner);
  for (int round = 0; round < 3000; ++round) {
    response.SetResponseText((next() % 2 ? "HTTP/1.1 " : "") + text(24));
    const int32_t code = response.ResponseCode();
    EXPECT_EQ(code, ParseResponseCode(response.ResponseText()));
    response.Clear();
    const int lines = static_cast<int>(next() % 6);
    for (int i = 0; i < lines; ++i) {
      const char* name = kNames[next() % (sizeof(kNames) / sizeof(kNames[0]))];
      response.RawHeaders().Add(next() % 8 == 0 ? ' ' + text(20)
                                                : std::string(name) + ":" + text(40));
    }
    response.ParseRawHeaders();
    EXPECT_EQ(response.HasContentLength(), response.ContentLength() >= 0);
    EXPECT_TRUE(std::isfinite(response.Date()));
    EXPECT_TRUE(std::isfinite(response.Expires()));
    owner.version = next() % 2 ? pv1_0 : pv1_1;
    response.KeepAlive();
  }
}

}  // namespace
}  // namespace kv::http
