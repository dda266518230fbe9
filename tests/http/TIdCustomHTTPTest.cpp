#include "http/TIdCustomHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "http/EIdHTTPException.h"
#include "http/KavoraDownloadSettings.h"
#include "http/TIdCookieManager.h"
#include "http/TIdHTTP.h"
#include "http/TIdIOHandlerRegistry.h"
#include "net/IdExceptions.h"
#include "net/TIdIOHandler.h"
#include "net/TIdIOHandlerStack.h"
#include "net/TIdStream.h"
#include "tests/http/HttpTestSupport.h"
#include "tests/support/ScriptedServer.h"

// The exchange as a whole: connections kept, reused and closed, interim answers, cookies, the
// response head read from a real socket, and the client's life cycle.

namespace kv::http {
namespace {

using kv::net::TIdMemoryStream;
using kv::test::Script;
using kv::test::ScriptedServer;
using test::Response;

const std::string kOk = Response("HTTP/1.1 200 OK", {"Content-Length: 2"}, "ok");

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// ---- Construction -----------------------------------------------------------------------------

TEST(TIdCustomHTTP, ConstructionDefaults) {
  TIdHTTP http;
  EXPECT_EQ(http.ProtocolVersion(), TIdHTTPProtocolVersion::pv1_1);
  EXPECT_EQ(http.HTTPOptions(), TIdHTTPOptions{TIdHTTPOption::hoForceEncodeParams});
  EXPECT_FALSE(http.HandleRedirects());
  EXPECT_EQ(http.RedirectMaximum(), 15);
  EXPECT_EQ(http.RedirectCount(), 0);
  EXPECT_EQ(http.MaxAuthRetries(), 3);
  EXPECT_EQ(http.MaxHeaderLines(), 255);
  EXPECT_TRUE(http.AllowCookies());
  EXPECT_EQ(http.CookieManager(), nullptr);
  EXPECT_EQ(http.Compressor(), nullptr);
  EXPECT_EQ(http.ProxyParams().ProxyServer(), "");
  EXPECT_EQ(http.ProxyParams().ProxyPort(), 0);
  EXPECT_EQ(http.ResponseCode(), -1);
  EXPECT_EQ(http.Request().UseProxy(), TIdHTTPConnectionType::ctNormal);
  EXPECT_EQ(http.ReadTimeout(), -1);
  EXPECT_EQ(http.IOHandler(), nullptr);
}

TEST(KavoraDownloadSettings, AppliesTheWindowSettings) {
  TIdHTTP http;
  http.ProxyParams().SetProxyServer("proxy");
  http.ProxyParams().SetProxyPort(3128);
  http.Request().SetContentLength(5);
  http.Request().Ranges().Add(TIdEntityRange(0, 1));
  ApplyKavoraDownloadSettings(http);
  EXPECT_EQ(http.Request().Accept(), "text/html, */*");
  EXPECT_EQ(http.Request().UserAgent(), "Mozilla/3.0 (compatible; KAVORA download)");
  EXPECT_EQ(http.Request().ContentLength(), -1);
  EXPECT_EQ(http.Request().ContentRangeStart(), -1);
  EXPECT_EQ(http.Request().ContentRangeEnd(), -1);
  EXPECT_EQ(http.Request().ContentRangeInstanceLength(), -1);
  EXPECT_FALSE(http.Request().BasicAuthentication());
  EXPECT_EQ(http.Request().Ranges().Count(), 0);
  EXPECT_EQ(http.Request().Ranges().Units(), "bytes");
  EXPECT_EQ(http.ProxyParams().ProxyServer(), "");
  EXPECT_EQ(http.ProxyParams().ProxyPort(), 0);
  EXPECT_FALSE(http.ProxyParams().BasicAuthentication());
  EXPECT_EQ(http.ReadTimeout(), 30000);
  EXPECT_EQ(http.HTTPOptions(), TIdHTTPOptions{TIdHTTPOption::hoForceEncodeParams});
}

// ---- Keeping and closing connections -----------------------------------------------------------

TEST(KeepAlive, TwoGetsShareOneConnection) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(kOk)
                            .ReadRequestHead()
                            .Send(Response("HTTP/1.1 200 OK", {"Content-Length: 3"}, "abc"))
                            .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  TIdMemoryStream first;
  TIdMemoryStream second;
  http.Get(server.BaseUrl() + "/1", first);
  EXPECT_TRUE(http.Connected());
  http.Get(server.BaseUrl() + "/2", second);
  EXPECT_EQ(first.ToString(), "ok");
  EXPECT_EQ(second.ToString(), "abc");
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(Count(server.Received(1), "GET "), 2u);
}

class ConnectionCloseTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ConnectionCloseTest, ClosesBeforeGetReturns) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 200 OK",
                         {std::string("Connection:") + GetParam(), "Content-Length: 2"}, "ok"))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  int disconnected = 0;
  http.OnDisconnected = [&](kv::net::TIdComponent&) { ++disconnected; };
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(stream.ToString(), "ok");
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(disconnected, 1);
  EXPECT_TRUE(server.WaitForPeerClose(1));
}

INSTANTIATE_TEST_SUITE_P(Spellings, ConnectionCloseTest,
                         ::testing::Values(" close", " CLOSE", "   cLoSe   ", "close\t"));

TEST(KeepAlive, ServerClosingAfterTheBodyIsNoticed) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(Response("HTTP/1.1 200 OK", {"Content-Type: text/plain"}, "all"))
                            .CloseGracefully());
  TIdHTTP http;
  int disconnected = 0;
  http.OnDisconnected = [&](kv::net::TIdComponent&) { ++disconnected; };
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(stream.ToString(), "all");
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(disconnected, 1);
}

TEST(KeepAlive, AConnectionClosedMeanwhileIsReplaced) {
  ScriptedServer server(Script().ReadRequestHead().Send(kOk).CloseGracefully());
  TIdHTTP http;
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/1", stream);
  // Wait until the server's close has reached the socket (unless the first Get saw it already).
  if (http.Connected()) {
    ASSERT_TRUE(http.IOHandler()->Readable(static_cast<int>(ScriptedServer::kWaitLimit.count())));
  }
  http.Get(server.BaseUrl() + "/2", stream);
  EXPECT_EQ(server.ConnectionCount(), 2);
  EXPECT_EQ(stream.ToString(), "okok");
}

TEST(KeepAlive, AnotherPortClosesTheOpenConnection) {
  ScriptedServer first(Script().ReadRequestHead().Send(kOk).KeepOpenUntilPeerCloses());
  ScriptedServer second(Script().ReadRequestHead().Send(kOk).KeepOpenUntilPeerCloses());
  TIdHTTP http;
  TIdMemoryStream stream;
  http.Get(first.BaseUrl() + "/x", stream);
  http.Get(second.BaseUrl() + "/x", stream);
  EXPECT_TRUE(first.WaitForPeerClose(1));
  EXPECT_TRUE(http.Connected());
  EXPECT_EQ(http.Port(), second.Port());
}

TEST(KeepAlive, DestructionClosesWithoutOnDisconnected) {
  ScriptedServer server(Script().ReadRequestHead().Send(kOk).KeepOpenUntilPeerCloses());
  int disconnected = 0;
  {
    TIdHTTP http;
    http.OnDisconnected = [&](kv::net::TIdComponent&) { ++disconnected; };
    TIdMemoryStream stream;
    http.Get(server.BaseUrl() + "/x", stream);
    ASSERT_TRUE(http.Connected());
  }
  EXPECT_TRUE(server.WaitForPeerClose(1));
  EXPECT_EQ(disconnected, 0);
}

// ---- Heads ------------------------------------------------------------------------------------

TEST(ResponseHead, InterimAnswerIsDroppedAndBothHeadsStoreCookies) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send("HTTP/1.1 100 Continue\r\nSet-Cookie: a=1\r\n\r\n" +
                Response("HTTP/1.1 200 OK", {"Set-Cookie: b=2", "Content-Length: 2"}, "ok"))
          .ReadRequestHead()
          .Send(kOk)
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(http.ResponseCode(), 200);
  EXPECT_EQ(stream.ToString(), "ok");
  ASSERT_NE(http.CookieManager(), nullptr);
  EXPECT_EQ(http.CookieManager()->Count(), 2);
  // The first request carried no cookie; the next carries both.
  http.Get(server.BaseUrl() + "/y", stream);
  const std::string received = server.Received(1);
  EXPECT_EQ(Count(received, "Cookie:"), 1u);
  EXPECT_NE(received.find("GET /y HTTP/1.1\r\n"), std::string::npos);
  EXPECT_GT(received.find("\r\nCookie: a=1; b=2\r\n"), received.find("GET /y"));
}

TEST(ResponseHead, NoCookiesWhenNotAllowed) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 200 OK", {"Set-Cookie: a=1", "Content-Length: 2"}, "ok"))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetAllowCookies(false);
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(http.CookieManager(), nullptr);
}

class HeaderLimitTest : public ::testing::TestWithParam<int> {};

TEST_P(HeaderLimitTest, StoresAtMostTheLimit) {
  std::vector<std::string> headers = {"Content-Length: 0"};
  for (int i = 1; i < 300; ++i) {
    headers.push_back("X-Line-" + std::to_string(i) + ": v");
  }
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(Response("HTTP/1.1 200 OK", headers))
                            .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetMaxHeaderLines(GetParam());
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  const TIdHeaderList& raw = http.Response().RawHeaders();
  ASSERT_EQ(raw.Count(), GetParam() > 0 ? GetParam() : 300);
  EXPECT_EQ(raw[raw.Count() - 1], headers[static_cast<size_t>(raw.Count() - 1)]);
  // Lines beyond the limit were left unread: the head did not end where it was cut.
  EXPECT_EQ(http.Response().HeadComplete(), GetParam() <= 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, HeaderLimitTest, ::testing::Values(255, 0, -1));

// The empty line after the last stored line belongs to the head; left unread, it would start
// the body and shift it by two bytes.
TEST(ResponseHead, AHeadOfExactlyTheLimitKeepsItsBody) {
  std::vector<std::string> headers = {"Content-Length: 5"};
  for (int i = 1; i < 255; ++i) {
    headers.push_back("X-Line-" + std::to_string(i) + ": v");
  }
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(Response("HTTP/1.1 200 OK", headers, "hello"))
                            .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  ASSERT_EQ(http.MaxHeaderLines(), 255);
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(http.Response().RawHeaders().Count(), 255);
  EXPECT_TRUE(http.Response().HeadComplete());
  EXPECT_EQ(stream.ToString(), "hello");
  EXPECT_TRUE(http.Connected());
}

TEST(ResponseHead, ServerClosingMidHeadGivesTheLinesSoFar) {
  ScriptedServer server(
      Script().ReadRequestHead().Send("HTTP/1.1 200 OK\r\nX-A: 1\r\nX-B: 2\r\n").CloseGracefully());
  TIdHTTP http;
  int disconnected = 0;
  http.OnDisconnected = [&](kv::net::TIdComponent&) { ++disconnected; };
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(http.ResponseCode(), 200);
  EXPECT_EQ(http.Response().RawHeaders().Lines(), (std::vector<std::string>{"X-A: 1", "X-B: 2"}));
  EXPECT_FALSE(http.Response().HeadComplete());
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(disconnected, 1);
}

// The bytes of a line the close cut off are part of the head; they must not turn up as the body.
TEST(ResponseHead, ServerClosingInsideAHeaderLineGivesNoBody) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send("HTTP/1.1 200 OK\r\nX-A: 1\r\nX-Partial: ab")
                            .CloseGracefully());
  TIdHTTP http;
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(http.ResponseCode(), 200);
  EXPECT_EQ(http.Response().RawHeaders().Lines(), std::vector<std::string>{"X-A: 1"});
  EXPECT_FALSE(http.Response().HeadComplete());
  EXPECT_EQ(stream.ToString(), "");
  EXPECT_FALSE(http.Connected());
}

TEST(ResponseHead, ServerClosingBeforeTheStatusLine) {
  ScriptedServer server(Script().ReadRequestHead().CloseGracefully());
  TIdHTTP http;
  TIdMemoryStream stream;
  try {
    http.Get(server.BaseUrl() + "/x", stream);
    FAIL() << "expected EIdConnClosedGracefully";
  } catch (const kv::net::EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_FALSE(http.Connected());
}

TEST(ResponseHead, ReadTimeoutWhileWaitingForTheStatusLine) {
  ScriptedServer server(Script().ReadRequestHead().KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetReadTimeout(200);
  TIdMemoryStream stream;
  try {
    http.Get(server.BaseUrl() + "/x", stream);
    FAIL() << "expected EIdReadTimeout";
  } catch (const kv::net::EIdReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read timed out.");
  }
  // A late answer must not be taken for the next request's: the connection is closed.
  EXPECT_FALSE(http.Connected());
  EXPECT_TRUE(server.WaitForPeerClose(1));
}

// ---- Proxy ------------------------------------------------------------------------------------

TEST(Proxy, RequestGoesToTheProxyWithTheAbsoluteUrl) {
  ScriptedServer proxy(Script().ReadRequestHead().Send(kOk).KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  http.ProxyParams().SetProxyUsername("p");
  http.ProxyParams().SetProxyPassword("w");
  http.ProxyParams().SetBasicAuthentication(true);
  TIdMemoryStream stream;
  // The origin's name is never looked up: only the proxy is connected to.
  http.Get("http://origin.invalid:8080/d/f.exe?a=b#top", stream);
  EXPECT_EQ(stream.ToString(), "ok");
  EXPECT_EQ(http.Request().UseProxy(), TIdHTTPConnectionType::ctProxy);
  EXPECT_EQ(http.Host(), "127.0.0.1");
  EXPECT_EQ(http.Request().Destination(), "origin.invalid:8080");
  const std::vector<std::string> lines = test::HeadLines(proxy.Received(1));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "GET http://origin.invalid:8080/d/f.exe?a=b HTTP/1.1");
  EXPECT_EQ(lines[1], "Host: origin.invalid:8080");
  EXPECT_EQ(lines[4], "Proxy-Authorization: Basic cDp3");
  EXPECT_TRUE(http.Connected());
}

// HTTP/1.0 through a proxy asks the proxy to keep the connection, and keeps it only when both
// answers agree.
TEST(Proxy, Http10KeepsTheConnectionWhenBothAnswersAgree) {
  const std::string keepAlive = Response(
      "HTTP/1.0 200 OK",
      {"Connection: keep-alive", "Proxy-Connection: keep-alive", "Content-Length: 2"}, "ok");
  ScriptedServer proxy(
      Script()
          .ReadRequestHead()
          .Send(keepAlive)
          .ReadRequestHead()
          .Send(Response("HTTP/1.0 200 OK", {"Connection: keep-alive", "Content-Length: 2"}, "ok"))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetProtocolVersion(TIdHTTPProtocolVersion::pv1_0);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  TIdMemoryStream stream;
  http.Get("http://origin.invalid/a", stream);
  EXPECT_EQ(http.Request().ProxyConnection(), "keep-alive");
  EXPECT_EQ(http.Request().Connection(), "");
  EXPECT_TRUE(http.Connected());
  http.Get("http://origin.invalid/b", stream);
  EXPECT_EQ(proxy.ConnectionCount(), 1);
  EXPECT_NE(proxy.Received(1).find("GET http://origin.invalid/b HTTP/1.0\r\n"
                                   "Proxy-Connection: keep-alive\r\n"),
            std::string::npos);
  // The second answer did not confirm for the proxy: closed.
  EXPECT_FALSE(http.Connected());
  EXPECT_TRUE(proxy.WaitForPeerClose(1));
}

// ---- https ------------------------------------------------------------------------------------

TEST(Https, WithoutATlsHandlerFailsBeforeConnecting) {
  ScriptedServer server(Script().ReadRequestHead().Send(kOk));
  TIdHTTP http;
  TIdMemoryStream stream;
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/x";
  try {
    http.Get(url, stream);
    FAIL() << "expected EIdIOHandlerPropInvalid";
  } catch (const EIdIOHandlerPropInvalid& e) {
    EXPECT_STREQ(e.ClassName(), "EIdIOHandlerPropInvalid");
    EXPECT_STREQ(e.what(), "IOHandler value is not valid");
  }
  EXPECT_EQ(http.IOHandler(), nullptr);
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(http.Request().UseProxy(), TIdHTTPConnectionType::ctSSL);
}

// A handler class that claims TLS but talks plainly: enough to see the registry used.
class PlainTlsHandler : public TIdSSLIOHandlerSocketBase {};

TEST(Https, RegisteredTlsHandlerIsCreatedAndManaged) {
  ScriptedServer server(Script().ReadRequestHead().Send(kOk).KeepOpenUntilPeerCloses());
  TIdIOHandlerRegistry& registry = TIdIOHandlerRegistry::Instance();
  const int token = registry.Register([] { return std::make_unique<PlainTlsHandler>(); });
  TIdHTTP http;
  TIdMemoryStream stream;
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/x";
  http.Get(url, stream);
  registry.Unregister(token);
  EXPECT_EQ(stream.ToString(), "ok");
  auto* tls = dynamic_cast<PlainTlsHandler*>(http.IOHandler());
  ASSERT_NE(tls, nullptr);
  EXPECT_TRUE(http.ManagedIOHandler());
  EXPECT_FALSE(tls->PassThrough());
  EXPECT_EQ(tls->URIToCheck(), url);
  EXPECT_EQ(registry.TryMakeIOHandler(), nullptr);
}

TEST(Https, APlainAssignedHandlerIsRefused) {
  kv::net::TIdIOHandlerStack plain;
  TIdHTTP http;
  http.SetIOHandler(&plain);
  TIdMemoryStream stream;
  EXPECT_THROW(http.Get("https://127.0.0.1:1/x", stream), EIdIOHandlerPropInvalid);
  EXPECT_FALSE(plain.Opened());
}

}  // namespace
}  // namespace kv::http
