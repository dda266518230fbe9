#include "http/TIdHTTPProtocol.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "http/EIdHTTPException.h"
#include "http/TIdAuthenticationManager.h"
#include "http/TIdHTTP.h"
#include "net/TIdStream.h"
#include "tests/http/HttpTestSupport.h"
#include "tests/support/ChunkedIOHandler.h"
#include "tests/support/ScriptedServer.h"

// What the status code of a final answer leads to: the body in the caller's stream, a
// redirect, an authentication retry, or EIdHTTPProtocolException.

namespace kv::http {
namespace {

using kv::net::TIdMemoryStream;
using kv::test::ChunkedIOHandler;
using kv::test::Script;
using kv::test::ScriptedServer;
using test::GetProtocolError;
using test::Response;
using test::WorkLog;
using Events = std::vector<std::string>;

std::string Length(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size());
}

// The request lines ("GET /x HTTP/1.1") in the order the server received them.
std::vector<std::string> RequestLines(const std::string& received) {
  static const std::regex kRequestLine("[A-Z]+ [^ ]+ HTTP/1\\.[01]");
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end = received.find("\r\n"); end != std::string::npos;
       end = received.find("\r\n", at)) {
    std::string line = received.substr(at, end - at);
    if (std::regex_match(line, kRequestLine)) {
      lines.push_back(std::move(line));
    }
    at = end + 2;
  }
  return lines;
}

// ---- Error statuses -----------------------------------------------------------------------------

class ErrorStatusTest : public ::testing::TestWithParam<int> {};

TEST_P(ErrorStatusTest, BodyBecomesTheMessageAndTheCallerStreamStaysAsItWas) {
  const int code = GetParam();
  const std::string statusLine =
      "HTTP/1.1 " + std::to_string(code) + (code == 404 ? " Not Found" : " Internal Error");
  std::string page = "<html><body>" + std::string(174, 'e') + "</body></html>";
  ASSERT_EQ(page.size(), 200u);
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response(statusLine, {"Content-Type: text/html", Length(page)}, page))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  WorkLog log;
  log.Attach(http);
  TIdMemoryStream stream;
  stream.Write("keep", 4);
  try {
    http.Get(server.BaseUrl() + "/missing", stream);
    FAIL() << "expected EIdHTTPProtocolException";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_STREQ(e.ClassName(), "EIdHTTPProtocolException");
    EXPECT_EQ(std::string(e.what()), statusLine);
    EXPECT_EQ(e.ErrorCode(), code);
    EXPECT_EQ(e.ErrorMessage(), page);
    // The family the callers may catch it by.
    EXPECT_NE(dynamic_cast<const EIdReplyRFCError*>(&e), nullptr);
    EXPECT_NE(dynamic_cast<const EIdReplyError*>(&e), nullptr);
  }
  EXPECT_EQ(stream.ToString(), "keep");
  EXPECT_EQ(stream.Position(), 4);
  EXPECT_EQ(log.Read(), (Events{"begin 200", "work 200", "end"}));
  EXPECT_EQ(http.ResponseCode(), code);
  EXPECT_EQ(http.ResponseText(), statusLine);
  // A complete error answer leaves a persistent connection open.
  EXPECT_TRUE(http.Connected());
  EXPECT_EQ(http.Response().ContentStream(), &stream);
}

INSTANTIATE_TEST_SUITE_P(Codes, ErrorStatusTest, ::testing::Values(404, 500));

struct TDecodeCase {
  const char* name;
  const char* contentType;
  std::string body;
  std::string message;
};

class ErrorTextTest : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(ErrorTextTest, DecodesTheBodyInItsCharset) {
  ChunkedIOHandler io(
      {Response("HTTP/1.1 500 Oops", {GetParam().contentType, Length(GetParam().body)},
                GetParam().body)},
      ChunkedIOHandler::TEnd::Silent);
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  const auto error = GetProtocolError(http, "http://h/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorMessage(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, ErrorTextTest,
    ::testing::Values(TDecodeCase{"Utf8", "Content-Type: text/plain; charset=utf-8",
                                  "fejl \xC3\xA6", "fejl \xC3\xA6"},
                      TDecodeCase{"TextDefaultLatin1", "Content-Type: text/plain", "fejl \xE6",
                                  "fejl \xC3\xA6"},
                      TDecodeCase{"MetaCharset", "Content-Type: text/html",
                                  "<html><head><meta charset=\"utf-8\"></head>\xC3\xA6</html>",
                                  "<html><head><meta charset=\"utf-8\"></head>\xC3\xA6</html>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StatusPolicy, UnparsableStatusLineRaisesWithCodeMinusOne) {
  ChunkedIOHandler io({"FOO BAR\r\nX: 1\r\n\r\nabc"});
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  const auto error = GetProtocolError(http, "http://h/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), -1);
  EXPECT_STREQ(error->what(), "FOO BAR");
  // No length: the error body runs until the server closes.
  EXPECT_EQ(error->ErrorMessage(), "abc");
}

struct TIgnoreCase {
  const char* name;
  std::vector<int16_t> ignore;
  TIdHTTPOptions options;
  std::string stored;
};

class IgnoreListTest : public ::testing::TestWithParam<TIgnoreCase> {};

TEST_P(IgnoreListTest, ReturnsNormally) {
  ChunkedIOHandler io({Response("HTTP/1.1 404 Not Found", {"Content-Length: 4"}, "page")},
                      ChunkedIOHandler::TEnd::Silent);
  TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetHTTPOptions(GetParam().options);
  TIdMemoryStream stream;
  http.Get("http://h/x", stream, GetParam().ignore);
  EXPECT_EQ(stream.ToString(), GetParam().stored);
  EXPECT_EQ(http.ResponseCode(), 404);
  EXPECT_EQ(http.IOHandler()->InputBuffer().Size(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IgnoreListTest,
    ::testing::Values(
        TIgnoreCase{"IgnoredBodyDropped", {500, 404}, {}, ""},
        TIgnoreCase{
            "IgnoredWithContent", {404}, {TIdHTTPOption::hoWantProtocolErrorContent}, "page"},
        TIgnoreCase{"NoExceptionOption", {}, {TIdHTTPOption::hoNoProtocolErrorException}, ""},
        TIgnoreCase{
            "NoExceptionWithContent",
            {},
            {TIdHTTPOption::hoNoProtocolErrorException, TIdHTTPOption::hoWantProtocolErrorContent},
            "page"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StatusPolicy, SwitchingProtocolsReadsNoBody) {
  ChunkedIOHandler io({Response("HTTP/1.1 101 Switching Protocols", {"Upgrade: x"}, "raw")},
                      ChunkedIOHandler::TEnd::Silent);
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  http.Get("http://h/x", stream);
  EXPECT_EQ(http.ResponseCode(), 101);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(http.IOHandler()->InputBuffer().Size(), 3);
}

TEST(StatusPolicy, HeadersAvailableHookMayStopTheExchange) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(Response("HTTP/1.1 200 OK", {"Content-Length: 5"}, "hello"))
                            .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  std::vector<std::string> seen;
  http.OnHeadersAvailable = [&](kv::net::TIdComponent&, TIdHeaderList& headers, bool& go) {
    seen = headers.Lines();
    go = false;
  };
  WorkLog log;
  log.Attach(http);
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(seen, std::vector<std::string>{"Content-Length: 5"});
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_TRUE(log.Read().empty());
  // Closed, with the unread body still buffered.
  EXPECT_FALSE(http.IOHandler()->Opened());
  EXPECT_EQ(http.IOHandler()->InputBuffer().Size(), 5);
  EXPECT_TRUE(server.WaitForPeerClose(1));
}

// ---- Redirects ----------------------------------------------------------------------------------

TEST(Redirects, NotFollowedByDefault) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 301 Moved Permanently", {"Location: /new", "Content-Length: 0"}))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  TIdMemoryStream stream;
  const auto error = GetProtocolError(http, server.BaseUrl() + "/old", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 301);
  EXPECT_STREQ(error->what(), "HTTP/1.1 301 Moved Permanently");
  EXPECT_EQ(http.RedirectCount(), 1);
  EXPECT_EQ(RequestLines(server.Received(1)), std::vector<std::string>{"GET /old HTTP/1.1"});
}

TEST(Redirects, WithoutLocationIsAnError) {
  ChunkedIOHandler io({Response("HTTP/1.1 302 Found", {"Content-Length: 0"})},
                      ChunkedIOHandler::TEnd::Silent);
  TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetHandleRedirects(true);
  TIdMemoryStream stream;
  EXPECT_THROW(http.Get("http://h/x", stream), EIdHTTPProtocolException);
  EXPECT_EQ(http.RedirectCount(), 0);
}

// With the default maximum of 15, fourteen redirects are followed and the fifteenth ends the
// call without an exception.
TEST(Redirects, LimitEndsNormallyWithTheLocation) {
  Script script;
  for (int i = 1; i <= 15; ++i) {
    script.ReadRequestHead().Send(Response(
        "HTTP/1.1 302 Found", {"Location: /hop" + std::to_string(i), "Content-Length: 0"}));
  }
  ScriptedServer server(script.KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetHandleRedirects(true);
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/start", stream);
  EXPECT_EQ(http.RedirectCount(), 15);
  EXPECT_EQ(http.ResponseCode(), 302);
  EXPECT_EQ(http.Response().Location(), "/hop15");
  EXPECT_EQ(stream.Size(), 0);
  const std::vector<std::string> lines = RequestLines(server.Received(1));
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines.front(), "GET /start HTTP/1.1");
  EXPECT_EQ(lines.back(), "GET /hop14 HTTP/1.1");
  EXPECT_EQ(server.ConnectionCount(), 1);
}

struct TMethodRedirectCase {
  const char* name;
  int code;
  const char* secondRequest;
  bool bodyAgain;
};

class RedirectMethodTest : public ::testing::TestWithParam<TMethodRedirectCase> {};

TEST_P(RedirectMethodTest, SeeOtherTurnsIntoGet) {
  const TMethodRedirectCase& c = GetParam();
  Script script;
  script.ReadRequestHead().ReadBytes(3).Send(
      Response("HTTP/1.1 " + std::to_string(c.code) + " Redirect",
               {"Location: /result", "Content-Length: 0"}));
  script.ReadRequestHead();
  if (c.bodyAgain) {
    script.ReadBytes(3);
  }
  script.Send(Response("HTTP/1.1 200 OK", {"Content-Length: 4"}, "done")).KeepOpenUntilPeerCloses();
  ScriptedServer server(script);
  TIdHTTP http;
  http.SetHandleRedirects(true);
  TIdMemoryStream source;
  source.Write("a=1", 3);
  TIdMemoryStream stream;
  http.ExecuteRequest("POST", server.BaseUrl() + "/form", &source, &stream, {});
  EXPECT_EQ(stream.ToString(), "done");
  const std::string received = server.Received(1);
  const size_t second = received.find(c.secondRequest);
  ASSERT_NE(second, std::string::npos) << received;
  const std::string secondRequest = received.substr(second);
  EXPECT_EQ(secondRequest.find("Content-Length: 3") != std::string::npos, c.bodyAgain);
  EXPECT_EQ(secondRequest.size() >= 3 && secondRequest.substr(secondRequest.size() - 3) == "a=1",
            c.bodyAgain);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RedirectMethodTest,
    ::testing::Values(TMethodRedirectCase{"SeeOther", 303, "GET /result HTTP/1.1", false},
                      TMethodRedirectCase{"Temporary", 307, "POST /result HTTP/1.1", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Redirects, FollowedRedirectRewindsTheStreamToWhereItStarted) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 302 Found", {"Location: /final", "Content-Length: 5"}, "xxxxx"))
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 200 OK", {"Content-Length: 4"}, "body"))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetHandleRedirects(true);
  TIdMemoryStream stream;
  stream.Write("0123456789", 10);
  http.Get(server.BaseUrl() + "/first", stream);
  EXPECT_EQ(stream.ToString(), "0123456789body");
  EXPECT_EQ(stream.Position(), 14);
}

TEST(Redirects, HookMayChangeTheTargetOrEndTheCall) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 302 Found", {"Location: /asked", "Content-Length: 0"}))
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 302 Found", {"Location: /again", "Content-Length: 0"}))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  std::vector<int32_t> counts;
  http.OnRedirect = [&](kv::net::TIdComponent&, std::string& dest, int32_t& count, bool& handled,
                        std::string&) {
    counts.push_back(count);
    count = 99;  // has no effect
    if (dest == "/asked") {
      dest = "/changed";
      http.SetHandleRedirects(true);
    } else {
      // Handled without following: the call ends normally.
      http.SetHandleRedirects(false);
      dest = "/kept";
    }
    handled = true;
  };
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/x", stream);
  EXPECT_EQ(counts, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(http.Response().Location(), "/kept");
  EXPECT_EQ(RequestLines(server.Received(1)),
            (std::vector<std::string>{"GET /x HTTP/1.1", "GET /changed HTTP/1.1"}));
}

TEST(Redirects, ToAnotherServerClosesTheFirstConnection) {
  ScriptedServer target(Script()
                            .ReadRequestHead()
                            .Send(Response("HTTP/1.1 200 OK", {"Content-Length: 2"}, "ok"))
                            .KeepOpenUntilPeerCloses());
  ScriptedServer origin(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 307 Temporary Redirect",
                         {"Location: " + target.BaseUrl() + "/there", "Content-Length: 0"}))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetHandleRedirects(true);
  TIdMemoryStream stream;
  http.Get(origin.BaseUrl() + "/here", stream);
  EXPECT_EQ(stream.ToString(), "ok");
  EXPECT_TRUE(origin.WaitForPeerClose(1));
  EXPECT_EQ(RequestLines(target.Received(1)), std::vector<std::string>{"GET /there HTTP/1.1"});
}

// ---- Authentication -----------------------------------------------------------------------------

const std::string kBasicChallenge =
    Response("HTTP/1.1 401 Unauthorized",
             {"WWW-Authenticate: Basic realm=\"k\"", "Content-Length: 6"}, "denied");

TEST(Authentication, BasicChallengeWithoutUserRaises) {
  ChunkedIOHandler io({kBasicChallenge}, ChunkedIOHandler::TEnd::Silent);
  TIdHTTP http;
  http.SetIOHandler(&io);
  TIdMemoryStream stream;
  const auto error = GetProtocolError(http, "http://h/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 401);
  EXPECT_EQ(error->ErrorMessage(), "denied");
  EXPECT_EQ(http.AuthRetries(), 1);
}

TEST(Authentication, CredentialsFromTheHookAreSentInProcess) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(kBasicChallenge)
                            .ReadRequestHead()
                            .Send(Response("HTTP/1.1 200 OK", {"Content-Length: 2"}, "in"))
                            .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  http.SetHTTPOptions({TIdHTTPOption::hoInProcessAuth});
  int asked = 0;
  http.OnAuthorization = [&](kv::net::TIdComponent&, TIdAuthentication& authentication,
                             bool& handled) {
    ++asked;
    authentication.SetUsername("user");
    authentication.SetPassword("pw");
    handled = true;
  };
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/secret", stream);
  EXPECT_EQ(stream.ToString(), "in");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(http.Request().Username(), "user");
  // Only the second request carries the credentials.
  const std::string received = server.Received(1);
  const size_t second = received.find("GET /secret", 1);
  ASSERT_NE(second, std::string::npos) << received;
  EXPECT_EQ(received.find("Authorization"),
            received.find("\r\nAuthorization: Basic dXNlcjpwdw==\r\n", second) + 2)
      << received;
}

// Without in-process authentication an accepted challenge is treated like a success: the 401 page
// is the body.
TEST(Authentication, AcceptedChallengeWithoutInProcessAuthReturnsThePage) {
  ChunkedIOHandler io({kBasicChallenge}, ChunkedIOHandler::TEnd::Silent);
  TIdHTTP http;
  http.SetIOHandler(&io);
  http.OnAuthorization = [](kv::net::TIdComponent&, TIdAuthentication& authentication,
                            bool& handled) {
    authentication.SetUsername("user");
    handled = true;
  };
  TIdMemoryStream stream;
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "denied");
  EXPECT_EQ(http.ResponseCode(), 401);
}

// A hook that says "handled" without giving the scheme a user name is not asked for ever.
TEST(Authentication, HookThatNeverSuppliesAUserIsAskedABoundedNumberOfTimes) {
  ChunkedIOHandler io({kBasicChallenge}, ChunkedIOHandler::TEnd::Silent);
  TIdHTTP http;
  http.SetIOHandler(&io);
  int asked = 0;
  http.OnAuthorization = [&](kv::net::TIdComponent&, TIdAuthentication&, bool& handled) {
    ++asked;
    handled = true;
  };
  TIdMemoryStream stream;
  const auto error = GetProtocolError(http, "http://h/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 401);
  EXPECT_EQ(asked, http.MaxAuthRetries());
}

// Keeps what a finished authentication was for.
class RecordingManager : public TIdAuthenticationManager {
 public:
  void AddAuthentication(const TIdAuthentication& authentication, const TIdURI& uri) override {
    added.push_back(authentication.SchemeName() + " " + authentication.Username() + " " +
                    uri.Host() + uri.GetPathAndParams());
  }
  std::vector<std::string> added;
};

TEST(Authentication, FinishedSchemeGoesToTheManagerWhenTheConnectionCloses) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(kBasicChallenge)
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 200 OK", {"Connection: close", "Content-Length: 2"}, "in"))
          .KeepOpenUntilPeerCloses());
  RecordingManager manager;
  TIdHTTP http;
  http.SetAuthenticationManager(&manager);
  http.SetHTTPOptions({TIdHTTPOption::hoInProcessAuth});
  http.OnAuthorization = [](kv::net::TIdComponent&, TIdAuthentication& authentication,
                            bool& handled) {
    authentication.SetUsername("user");
    handled = true;
  };
  TIdMemoryStream stream;
  http.Get(server.BaseUrl() + "/secret", stream);
  EXPECT_EQ(stream.ToString(), "in");
  EXPECT_EQ(manager.added, std::vector<std::string>{"Basic user 127.0.0.1/secret"});
  EXPECT_EQ(http.Request().Authentication(), nullptr);
}

}  // namespace
}  // namespace kv::http
