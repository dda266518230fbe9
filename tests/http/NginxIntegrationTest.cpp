// The HTTP client against a real web server (nginx on a loopback port).

#include "tests/support/NginxServer.h"

#include <gtest/gtest.h>

#include <string>

#include "http/EIdHTTPException.h"
#include "http/IdHTTPTypes.h"
#include "http/KavoraDownloadSettings.h"
#include "http/TIdAuthentication.h"
#include "http/TIdCookieManager.h"
#include "http/TIdHTTP.h"
#include "http/TIdHTTPRequest.h"
#include "http/TIdHTTPResponse.h"
#include "http/TIdHeaderList.h"
#include "net/TIdStream.h"
#include "tests/http/HttpTestSupport.h"
#include "tests/support/TestFiles.h"

namespace kv::http {
namespace {

using kv::net::TIdMemoryStream;
using test::GetProtocolError;

class NginxIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_nginx.Available()) {
      GTEST_SKIP() << m_nginx.SkipReason();
    }
    ApplyKavoraDownloadSettings(m_http);
  }

  bool Start() {
    const bool started = m_nginx.Start();
    EXPECT_TRUE(started) << m_nginx.LastError();
    return started;
  }

  std::string Header(const char* name) { return m_http.Response().RawHeaders().GetValue(name); }

  kv::test::NginxServer m_nginx;
  TIdHTTP m_http;
};

TEST_F(NginxIntegration, DownloadsABodyWithContentLengthAndKeepsTheConnection) {
  const std::string body = kv::test::VariedBytes(3 * 1024 * 1024 + 17, 12345);
  m_nginx.AddFile("/Downloads/Instal34/setup.exe", body);
  ASSERT_TRUE(Start());

  TIdMemoryStream stream;
  m_http.Get(m_nginx.Url("/Downloads/Instal34/setup.exe"), stream);

  EXPECT_EQ(m_http.ResponseCode(), 200);
  EXPECT_EQ(m_http.ResponseText(), "HTTP/1.1 200 OK");
  EXPECT_TRUE(m_http.Response().HasContentLength());
  EXPECT_EQ(m_http.Response().ContentLength(), static_cast<int64_t>(body.size()));
  EXPECT_TRUE(stream.ToString() == body) << "body differs (" << stream.Size() << " bytes)";
  EXPECT_TRUE(m_http.Response().KeepAlive());
  EXPECT_TRUE(m_http.Connected()) << "an HTTP/1.1 answer without Connection: close keeps it";
}

TEST_F(NginxIntegration, TwoGetsOnOneClientShareTheConnection) {
  m_nginx.AddFile("/a.txt", "first");
  m_nginx.AddFile("/b.txt", "second!");
  ASSERT_TRUE(Start());

  TIdMemoryStream first;
  m_http.Get(m_nginx.Url("/a.txt"), first);
  const std::string connection = Header("X-Connection");
  EXPECT_EQ(Header("X-Connection-Requests"), "1");

  TIdMemoryStream second;
  m_http.Get(m_nginx.Url("/b.txt"), second);
  EXPECT_EQ(first.ToString(), "first");
  EXPECT_EQ(second.ToString(), "second!");
  EXPECT_FALSE(connection.empty());
  EXPECT_EQ(Header("X-Connection"), connection) << "the second request used a new connection";
  EXPECT_EQ(Header("X-Connection-Requests"), "2");
}

TEST_F(NginxIntegration, ServersOwn404PageRaisesTheStatusLine) {
  ASSERT_TRUE(Start());
  TIdMemoryStream stream;
  try {
    m_http.Get(m_nginx.Url("/missing.exe"), stream);
    FAIL() << "no exception";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_STREQ(e.ClassName(), "EIdHTTPProtocolException");
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
    EXPECT_NE(e.ErrorMessage().find("<title>404 Not Found</title>"), std::string::npos)
        << e.ErrorMessage();
  }
  EXPECT_EQ(stream.Size(), 0) << "the error page does not reach the caller's stream";
  EXPECT_TRUE(m_http.Connected()) << "a complete error body leaves the connection usable";

  // The same connection serves the next request.
  const std::string connection = Header("X-Connection");
  m_nginx.AddFile("/late.txt", "here now");
  m_http.Get(m_nginx.Url("/late.txt"), stream);
  EXPECT_EQ(stream.ToString(), "here now");
  EXPECT_EQ(Header("X-Connection"), connection);
}

TEST_F(NginxIntegration, DirectoryWithoutSlashRedirectIsNotFollowedByDefault) {
  m_nginx.AddFile("/folder/index.html", "<html>index</html>");
  ASSERT_TRUE(Start());
  TIdMemoryStream stream;
  const auto error = GetProtocolError(m_http, m_nginx.Url("/folder"), stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 301);
  EXPECT_EQ(error->Message(), "HTTP/1.1 301 Moved Permanently");
  EXPECT_EQ(m_http.Response().Location(), m_nginx.Url("/folder/"));
  EXPECT_EQ(Header("X-Connection-Requests"), "1") << "no second request was sent";
  EXPECT_EQ(stream.Size(), 0);
}

TEST_F(NginxIntegration, FollowsTheDirectoryRedirectWhenAsked) {
  m_nginx.AddFile("/folder/index.html", "<html>index</html>");
  ASSERT_TRUE(Start());
  m_http.SetHandleRedirects(true);
  TIdMemoryStream stream;
  m_http.Get(m_nginx.Url("/folder"), stream);
  EXPECT_EQ(m_http.ResponseCode(), 200);
  EXPECT_EQ(stream.ToString(), "<html>index</html>");
  EXPECT_EQ(m_http.RedirectCount(), 1);
}

TEST_F(NginxIntegration, SendsTheCookiesAServerSetOnTheNextRequest) {
  m_nginx.AddServerDirectives(
      "    add_header X-Cookie \"$http_cookie\" always;\n"
      "    location /login { add_header Set-Cookie \"session=abc123; Path=/; HttpOnly\";"
      " add_header Set-Cookie \"lang=da; Path=/app\"; add_header X-Cookie \"$http_cookie\"; }\n");
  m_nginx.AddFile("/login", "welcome");
  m_nginx.AddFile("/app/page.txt", "app");
  m_nginx.AddFile("/other.txt", "other");
  ASSERT_TRUE(Start());

  TIdMemoryStream stream;
  m_http.Get(m_nginx.Url("/login"), stream);
  EXPECT_EQ(Header("X-Cookie"), "") << "the first request carries no cookie";
  ASSERT_NE(m_http.CookieManager(), nullptr) << "created with the first response";
  EXPECT_EQ(m_http.CookieManager()->Count(), 2);

  m_http.Get(m_nginx.Url("/app/page.txt"), stream);
  EXPECT_EQ(Header("X-Cookie"), "lang=da; session=abc123");
  m_http.Get(m_nginx.Url("/other.txt"), stream);
  EXPECT_EQ(Header("X-Cookie"), "session=abc123");
}

TEST_F(NginxIntegration, BasicAuthentication) {
  m_nginx.AddServerDirectives(
      "    location /private/ { auth_basic \"KAVORA\";"
      " auth_basic_user_file " +
      m_nginx.Folder() + "/users; }\n");
  m_nginx.AddFile("/private/secret.txt", "the secret");
  // nginx reads "{PLAIN}" passwords as they stand.
  m_nginx.AddConfigFile("users", "kavora:{PLAIN}open sesame\n");
  ASSERT_TRUE(Start());

  // No user name: the Basic scheme asks the program, nobody answers, the 401 is raised.
  TIdMemoryStream stream;
  const auto error = GetProtocolError(m_http, m_nginx.Url("/private/secret.txt"), stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 401);
  EXPECT_EQ(error->Message(), "HTTP/1.1 401 Unauthorized");
  EXPECT_EQ(m_http.AuthRetries(), 1);

  // With credentials supplied by the program and in-process retries, the request is repeated
  // with the Authorization line and succeeds.
  TIdHTTP http;
  ApplyKavoraDownloadSettings(http);
  http.SetHTTPOptions({TIdHTTPOption::hoInProcessAuth});
  int asked = 0;
  http.OnAuthorization = [&](kv::net::TIdComponent&, TIdAuthentication& auth, bool& handled) {
    ++asked;
    EXPECT_EQ(auth.SchemeName(), "Basic");
    auth.SetUsername("kavora");
    auth.SetPassword("open sesame");
    handled = true;
  };
  http.Get(m_nginx.Url("/private/secret.txt"), stream);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(http.ResponseCode(), 200);
  EXPECT_EQ(stream.ToString(), "the secret");
  EXPECT_EQ(http.Request().RawHeaders().GetValue("Authorization"),
            "Basic a2F2b3JhOm9wZW4gc2VzYW1l");
}

}  // namespace
}  // namespace kv::http
