#include "http/TIdRequestHeaderInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/IdHTTPDate.h"
#include "http/TIdAuthentication.h"
#include "http/TIdEntityRanges.h"
#include "http/TIdProxyConnectionInfo.h"

namespace kv::http {
namespace {

std::vector<std::string> Lines(const TIdHeaderList& headers) {
  return headers.Lines();
}

TEST(TIdRequestHeaderInfo, ConstructionDefaults) {
  TIdRequestHeaderInfo request;
  EXPECT_EQ(request.Accept(), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  EXPECT_EQ(request.UserAgent(), "Mozilla/3.0 (compatible; KAVORA download)");
  EXPECT_EQ(request.ContentLength(), -1);
  EXPECT_FALSE(request.HasContentLength());
  EXPECT_EQ(request.ContentRangeStart(), -1);
  EXPECT_EQ(request.Date(), 0);
  EXPECT_FALSE(request.BasicAuthentication());
  EXPECT_EQ(request.Ranges().Count(), 0);
  EXPECT_EQ(request.Ranges().Units(), "bytes");
  EXPECT_EQ(request.Authentication(), nullptr);
}

// Every field set: the lines come in the fixed order, each once.
TEST(TIdRequestHeaderInfo, ComposesEveryRowInOrder) {
  const TDateTime date = EncodeDateTime(2024, 5, 1, 12, 30, 15);
  const std::string gmt = LocalDateTimeToGMT(date);
  ASSERT_FALSE(gmt.empty());

  TIdRequestHeaderInfo request;
  request.SetConnection("keep-alive");
  request.SetContentVersion("1.0");
  request.SetContentDisposition("attachment");
  request.SetContentEncoding("gzip");
  request.SetContentLanguage("da");
  request.SetContentType("text/plain");
  request.SetContentLength(0);
  request.SetCacheControl("no-cache");
  request.SetDate(date);
  request.SetETag("\"e1\"");
  request.SetExpires(date);
  request.SetPragma("no-cache");
  request.SetTransferEncoding("chunked");
  request.CustomHeaders().Add("X-Custom: 1");
  request.SetProxyConnection("keep-alive");
  request.SetHost("h:8080");
  request.SetAccept("a/b");
  request.SetAcceptCharSet("utf-8");
  request.SetAcceptEncoding("gzip, identity");
  request.SetAcceptLanguage("da");
  request.SetFrom("me@example.com");
  request.SetReferer("http://r/");
  request.SetUserAgent("UA");
  request.Ranges().Add(TIdEntityRange(0, 9));
  request.SetLastModified(date);
  request.SetUsername("u");
  request.SetPassword("p");
  request.SetBasicAuthentication(true);
  request.SetMethodOverride("PUT");
  request.ComposeRawHeaders();

  const std::vector<std::string> expected = {
      "Connection: keep-alive",
      "Content-Version: 1.0",
      "Content-Disposition: attachment",
      "Content-Encoding: gzip",
      "Content-Language: da",
      "Content-Type: text/plain; charset=ISO-8859-1",
      "Content-Length: 0",
      "Cache-control: no-cache",
      "Date: " + gmt,
      "ETag: \"e1\"",
      "Expires: " + gmt,
      "Pragma: no-cache",
      "Transfer-Encoding: chunked",
      "X-Custom: 1",
      "Proxy-Connection: keep-alive",
      "Host: h:8080",
      "Accept: a/b",
      "Accept-Charset: utf-8",
      "Accept-Encoding: gzip, identity",
      "Accept-Language: da",
      "From: me@example.com",
      "Referer: http://r/",
      "User-Agent: UA",
      "Range: bytes=0-9",
      "If-Modified-Since: " + gmt,
      "Authorization: Basic dTpw",
      "X-HTTP-Method-Override: PUT",
  };
  EXPECT_EQ(Lines(request.RawHeaders()), expected);
  // The basic scheme made on demand stays with the request.
  ASSERT_NE(request.Authentication(), nullptr);
  EXPECT_EQ(request.Authentication()->SchemeName(), "Basic");
}

TEST(TIdRequestHeaderInfo, EmptyFieldsGiveNoLines) {
  TIdRequestHeaderInfo request;
  request.SetAccept("");
  request.SetUserAgent("");
  request.ComposeRawHeaders();
  EXPECT_EQ(request.RawHeaders().Count(), 0);
}

TEST(TIdRequestHeaderInfo, ComposingReplacesThePreviousLines) {
  TIdRequestHeaderInfo request;
  request.SetHost("a");
  request.ComposeRawHeaders();
  request.SetHost("b");
  request.SetAccept("");
  request.ComposeRawHeaders();
  EXPECT_EQ(Lines(request.RawHeaders()),
            (std::vector<std::string>{"Host: b",
                                      "User-Agent: Mozilla/3.0 (compatible; KAVORA download)"}));
}

TEST(TIdRequestHeaderInfo, CustomLinesMeetTheSystemLines) {
  TIdRequestHeaderInfo request;
  request.SetAccept("");
  request.SetUserAgent("");
  request.SetConnection("close");
  request.SetHost("real");
  request.CustomHeaders().Add("Connection: custom");
  request.CustomHeaders().Add("Host: custom");
  request.CustomHeaders().Add("Referer: kept");
  request.ComposeRawHeaders();
  // A custom Host is replaced in place; a custom Connection repeats the entity line; a custom
  // line whose system value is absent stays.
  EXPECT_EQ(Lines(request.RawHeaders()),
            (std::vector<std::string>{"Connection: close", "Connection: custom", "Host: real",
                                      "Referer: kept"}));
}

TEST(TIdRequestHeaderInfo, ClearRestoresDefaultsAndKeepsPragma) {
  TIdRequestHeaderInfo request;
  request.SetAccept("x");
  request.SetUserAgent("y");
  request.SetBasicAuthentication(true);
  request.SetMethodOverride("PUT");
  request.SetPragma("no-cache");
  request.SetContentLength(10);
  request.Ranges().Add(TIdEntityRange(1, 2));
  request.Clear();
  EXPECT_EQ(request.Accept(), TIdRequestHeaderInfo::kDefaultAccept);
  EXPECT_EQ(request.UserAgent(), TIdRequestHeaderInfo::kDefaultUserAgent);
  EXPECT_FALSE(request.BasicAuthentication());
  EXPECT_EQ(request.MethodOverride(), "");
  EXPECT_EQ(request.Ranges().Count(), 0);
  EXPECT_EQ(request.ContentLength(), -1);
  EXPECT_EQ(request.Pragma(), "no-cache");
}

struct TRangeTextCase {
  const char* name;
  std::vector<TIdEntityRange> ranges;
  const char* units;
  const char* text;
};

class RangeTextTest : public ::testing::TestWithParam<TRangeTextCase> {};

TEST_P(RangeTextTest, RendersTheRangeHeader) {
  TIdEntityRanges ranges;
  ranges.SetUnits(GetParam().units);
  for (const TIdEntityRange& range : GetParam().ranges) {
    ranges.Add(range);
  }
  EXPECT_EQ(ranges.Text(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RangeTextTest,
    ::testing::Values(
        TRangeTextCase{"None", {}, "bytes", ""},
        TRangeTextCase{"StartAndEnd", {TIdEntityRange(0, 499)}, "bytes", "bytes=0-499"},
        TRangeTextCase{"StartOnly", {TIdEntityRange(500, -1)}, "bytes", "bytes=500-"},
        TRangeTextCase{"SuffixOnly", {TIdEntityRange(-1, -1, 200)}, "bytes", "bytes=-200"},
        TRangeTextCase{"NothingSet", {TIdEntityRange()}, "bytes", ""},
        TRangeTextCase{"EmptyOnesSkipped",
                       {TIdEntityRange(0, 9), TIdEntityRange(), TIdEntityRange(-1, -1, 5)},
                       "bytes",
                       "bytes=0-9,-5"},
        TRangeTextCase{"OtherUnits", {TIdEntityRange(1, 2)}, "items", "items=1-2"},
        TRangeTextCase{"EmptyUnitsFallBack", {TIdEntityRange(1, 2)}, "", "bytes=1-2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TIdProxyConnectionInfo, BasicCredentialsGiveTheProxyAuthorizationLine) {
  TIdProxyConnectionInfo proxy;
  TIdHeaderList headers(TIdHeaderQuotingType::QuoteHTTP);
  proxy.SetHeaders(headers);
  EXPECT_EQ(headers.Count(), 0);
  proxy.SetProxyUsername("u");
  proxy.SetProxyPassword("p");
  proxy.SetBasicAuthentication(true);
  proxy.SetHeaders(headers);
  EXPECT_EQ(headers.Lines(), std::vector<std::string>{"Proxy-Authorization: Basic dTpw"});
  proxy.Clear();
  EXPECT_EQ(proxy.Authentication(), nullptr);
  EXPECT_EQ(proxy.ProxyServer(), "");
  EXPECT_EQ(proxy.ProxyPort(), 0);
}

}  // namespace
}  // namespace kv::http
