#include "http/TIdCustomHTTP.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/EIdHTTPException.h"
#include "http/KavoraDownloadSettings.h"
#include "http/TIdHTTP.h"
#include "net/TIdStream.h"
#include "tests/http/HttpTestSupport.h"
#include "tests/support/ChunkedIOHandler.h"
#include "tests/support/ScriptedServer.h"

// How a URL handed to Get becomes the request target, the Host line and the endpoint, and the
// exact bytes of the request head.

namespace kv::http {
namespace {

using kv::net::TIdIPVersion;
using kv::net::TIdMemoryStream;
using kv::test::ChunkedIOHandler;
using kv::test::Script;
using kv::test::ScriptedServer;
using test::HeadLines;

const std::string kNoContent = "HTTP/1.1 204 No Content\r\n\r\n";

// ---- URL resolution on a fresh client ---------------------------------------------------------

struct TResolveCase {
  const char* name;
  const char* url;
  const char* target;
  const char* host;
  uint16_t port;
  bool https;
  TIdIPVersion ipVersion = TIdIPVersion::Id_IPv4;
};

class ResolveTargetTest : public ::testing::TestWithParam<TResolveCase> {};

TEST_P(ResolveTargetTest, TargetHostAndPort) {
  const TResolveCase& c = GetParam();
  ChunkedIOHandler io({kNoContent});
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  if (c.https) {
    // No TLS handler here: resolution happens, then the connection is refused before it opens.
    try {
      http.Get(c.url, stream);
      FAIL() << "expected EIdIOHandlerPropInvalid";
    } catch (const EIdIOHandlerPropInvalid& e) {
      EXPECT_STREQ(e.what(), "IOHandler value is not valid");
    }
    EXPECT_FALSE(io.Opened());
    EXPECT_EQ(io.Sent(), "");
  } else {
    http.Get(c.url, stream);
    EXPECT_EQ(io.Port(), c.port);
    const std::vector<std::string> lines = HeadLines(io.Sent());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string("GET ") + c.target + " HTTP/1.1");
    EXPECT_EQ(lines[1], std::string("Host: ") + c.host);
  }
  EXPECT_EQ(http.Request().URL(), c.target);
  EXPECT_EQ(http.Request().Host(), c.host);
  EXPECT_EQ(http.Port(), c.port);
  EXPECT_EQ(http.Request().IPVersion(), c.ipVersion);
}

INSTANTIATE_TEST_SUITE_P(
    FreshClient, ResolveTargetTest,
    ::testing::Values(TResolveCase{"Plain", "http://h/Downloads/Instal34/a.exe",
                                   "/Downloads/Instal34/a.exe", "h", 80, false},
                      TResolveCase{"OtherPort", "http://h:8080/x", "/x", "h:8080", 8080, false},
                      TResolveCase{"ExplicitDefaultPort", "http://h:80/x", "/x", "h", 80, false},
                      TResolveCase{"Https", "https://h/x", "/x", "h", 443, true},
                      TResolveCase{"HttpsOnPort80", "https://h:80/x", "/x", "h:80", 80, true},
                      TResolveCase{"UpperCaseScheme", "HTTP://h/x", "/x", "h", 80, false},
                      TResolveCase{"NoPath", "http://h", "/", "h", 80, false},
                      TResolveCase{"RootPath", "http://h/", "/", "h", 80, false},
                      TResolveCase{"QueryWithoutPath", "http://h?q=1", "/?q=1", "h", 80, false},
                      TResolveCase{"QueryAndFragment", "http://h/d/f.exe?a=b#top", "/d/f.exe?a=b",
                                   "h", 80, false},
                      TResolveCase{"Fragment", "http://h/d/f.exe#top", "/d/f.exe", "h", 80, false},
                      TResolveCase{"IPv6Literal", "http://[::1]:8080/x", "/x", "[::1]:8080", 8080,
                                   false, TIdIPVersion::Id_IPv6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TIdCustomHTTPRequest, TargetBytesUseTheWireEncoding) {
  ChunkedIOHandler io({kNoContent});
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  // A space stays a space, "%41" is not decoded, a non-ASCII character becomes one "?".
  http.Get("http://h/a b/%41\xC3\xA9\xF0\x9F\x98\x80.exe", stream);
  EXPECT_EQ(HeadLines(io.Sent())[0], "GET /a b/%41???.exe HTTP/1.1");
}

TEST(TIdCustomHTTPRequest, CredentialsInTheUrlGoToTheRequestOnly) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(kNoContent)
                            .ReadRequestHead()
                            .Send(kNoContent)
                            .KeepOpenUntilPeerCloses());
  const std::string authority = "127.0.0.1:" + std::to_string(server.Port());
  TIdHTTP http;
  TIdMemoryStream stream;
  http.Get("http://user:secret@" + authority + "/x", stream);
  EXPECT_EQ(http.Request().Username(), "user");
  EXPECT_EQ(http.Request().Password(), "secret");
  // Without a user name the request keeps what it had.
  http.Get("http://:other@" + authority + "/y", stream);
  EXPECT_EQ(http.Request().Username(), "user");
  EXPECT_EQ(http.Request().Password(), "secret");
  // No challenge, no basic authentication: no credentials on the wire.
  EXPECT_EQ(server.Received(1).find("Authorization"), std::string::npos);
  EXPECT_EQ(server.Received(1).find("secret"), std::string::npos);
}

TEST(TIdCustomHTTPRequest, OptionsStarTarget) {
  ChunkedIOHandler io({kNoContent});
  TIdHTTP http;
  http.SetIOHandler(&io);
  http.ExecuteRequest("OPTIONS", "http://h/*", nullptr, nullptr, {});
  EXPECT_EQ(HeadLines(io.Sent())[0], "OPTIONS * HTTP/1.1");
}

struct TEndpointFailureCase {
  const char* name;
  const char* url;
  const char* className;
  const char* message;
};

class EndpointFailureTest : public ::testing::TestWithParam<TEndpointFailureCase> {};

// The connect refuses what the URL does not give; a port number beyond 65535 is refused rather
// than wrapped onto another port.
TEST_P(EndpointFailureTest, RefusedBeforeOpening) {
  ChunkedIOHandler io({kNoContent});
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  try {
    http.Get(GetParam().url, stream);
    FAIL() << "expected " << GetParam().className;
  } catch (const kv::net::EIdException& e) {
    EXPECT_STREQ(e.ClassName(), GetParam().className);
    EXPECT_STREQ(e.what(), GetParam().message);
  }
  EXPECT_FALSE(io.Opened());
}

INSTANTIATE_TEST_SUITE_P(
    Urls, EndpointFailureTest,
    ::testing::Values(
        TEndpointFailureCase{"EmptyHost", "http:///x", "EIdHostRequired", "A Host is required"},
        TEndpointFailureCase{"PortTooLarge", "http://h:70000/x", "EIdPortRequired",
                             "A Port is required"},
        TEndpointFailureCase{"PortZero", "http://h:0/x", "EIdPortRequired", "A Port is required"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TIdCustomHTTPRequest, UnknownProtocolOnAFreshClient) {
  ChunkedIOHandler io({kNoContent});
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  for (const char* url : {"ftp://h/x", "b.exe"}) {
    try {
      http.Get(url, stream);
      FAIL() << "expected EIdUnknownProtocol for " << url;
    } catch (const EIdUnknownProtocol& e) {
      EXPECT_STREQ(e.what(), "Unknown Protocol");
      EXPECT_STREQ(e.ClassName(), "EIdUnknownProtocol");
    }
  }
  EXPECT_FALSE(io.Opened());
}

struct TMethodCase {
  const char* name;
  const char* method;
  const char* methodOverride;
};

class Http10MethodTest : public ::testing::TestWithParam<TMethodCase> {};

TEST_P(Http10MethodTest, NeedsHttp11) {
  ChunkedIOHandler io({kNoContent});
  TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetProtocolVersion(TIdHTTPProtocolVersion::pv1_0);
  http.Request().SetMethodOverride(GetParam().methodOverride);
  try {
    http.ExecuteRequest(GetParam().method, "http://h/x", nullptr, nullptr, {});
    FAIL() << "expected EIdException";
  } catch (const kv::net::EIdException& e) {
    EXPECT_STREQ(e.ClassName(), "EIdException");
    EXPECT_STREQ(e.what(), "Request method requires HTTP version 1.1");
  }
  EXPECT_FALSE(io.Opened());
}

INSTANTIATE_TEST_SUITE_P(Methods, Http10MethodTest,
                         ::testing::Values(TMethodCase{"Trace", "TRACE", ""},
                                           TMethodCase{"Put", "put", ""},
                                           TMethodCase{"Options", "OPTIONS", ""},
                                           TMethodCase{"Delete", "DELETE", ""},
                                           TMethodCase{"OverrideDelete", "GET", "DELETE"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TIdCustomHTTPRequest, Http10GetAsksForKeepAlive) {
  ChunkedIOHandler io({kNoContent});
  TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetProtocolVersion(TIdHTTPProtocolVersion::pv1_0);
  TIdMemoryStream stream;
  http.Get("http://h/x", stream);
  const std::vector<std::string> lines = HeadLines(io.Sent());
  EXPECT_EQ(lines[0], "GET /x HTTP/1.0");
  EXPECT_EQ(lines[1], "Connection: keep-alive");
  // The adjustment stays in the request.
  EXPECT_EQ(http.Request().Connection(), "keep-alive");
}

// ---- The program's own request ------------------------------------------------------------------

class SystemRequestTest : public ::testing::TestWithParam<const char*> {};

// The whole head, byte for byte, as the scripted server receives it.
TEST_P(SystemRequestTest, ExactBytesOnTheWire) {
  const std::string body("MZ\x90\x00", 4);
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n" + body)
                            .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  ApplyKavoraDownloadSettings(http);
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/Downloads/Instal34/" + GetParam(), stream);

  const std::string expected = std::string("GET /Downloads/Instal34/") + GetParam() +
                               " HTTP/1.1\r\n"
                               "Host: 127.0.0.1:" +
                               std::to_string(server.Port()) +
                               "\r\n"
                               "Accept: text/html, */*\r\n"
                               "User-Agent: Mozilla/3.0 (compatible; KAVORA download)\r\n"
                               "\r\n";
  EXPECT_EQ(server.Received(1), expected);
  EXPECT_EQ(stream.ToString(), body);
  EXPECT_EQ(stream.Position(), 4);
  EXPECT_EQ(http.ResponseCode(), 200);
}

INSTANTIATE_TEST_SUITE_P(InstallationKinds, SystemRequestTest,
                         ::testing::Values("Kavora35TotalInstal.exe", "Kavora35ProgramInstal.exe"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "Total" : "Program");
                         });

// On port 80 the Host line carries no port, and the head leaves in one send.
TEST(TIdCustomHTTPRequest, SystemRequestOnPort80IsOneSend) {
  ChunkedIOHandler io({"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
  TIdHTTP http;
  ApplyKavoraDownloadSettings(http);
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  http.Get("http://download.kavora.dk/Downloads/Instal34/Kavora35TotalInstal.exe", stream);
  ASSERT_EQ(io.Sends().size(), 1u);
  EXPECT_EQ(io.Sends()[0],
            "GET /Downloads/Instal34/Kavora35TotalInstal.exe HTTP/1.1\r\n"
            "Host: download.kavora.dk\r\n"
            "Accept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; KAVORA download)\r\n"
            "\r\n");
  EXPECT_EQ(io.Host(), "download.kavora.dk");
  EXPECT_EQ(io.Port(), 80);
}

// ---- Resolution against the previous request ------------------------------------------------

TEST(TIdCustomHTTPRequest, RelativeUrlsFollowThePreviousOne) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(ok)
                            .ReadRequestHead()
                            .Send(ok)
                            .ReadRequestHead()
                            .Send(ok)
                            .ReadRequestHead()
                            .Send(ok)
                            .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/d/a.exe", stream);
  http.Get("b.exe", stream);
  http.Get("../c.exe", stream);
  // Another scheme keeps the port of the previous request and is sent as plain HTTP.
  http.Get("ftp://127.0.0.1/e/f.exe", stream);

  const std::string received = server.Received(1);
  std::vector<std::string> requestLines;
  for (size_t at = 0; (at = received.find("GET ", at)) != std::string::npos; ++at) {
    requestLines.push_back(received.substr(at, received.find("\r\n", at) - at));
  }
  EXPECT_EQ(requestLines,
            (std::vector<std::string>{"GET /d/a.exe HTTP/1.1", "GET /d/b.exe HTTP/1.1",
                                      "GET /c.exe HTTP/1.1", "GET /e/f.exe HTTP/1.1"}));
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(http.Request().Host(), "127.0.0.1:" + std::to_string(server.Port()));
}

}  // namespace
}  // namespace kv::http
