// The authentication schemes inside a real exchange of the HTTP client, against the scripted
// loopback server.

#include "http/TIdAuthentication.h"

#include <gtest/gtest.h>

#include <string>

#include "http/EIdHTTPException.h"
#include "http/IdHTTPTypes.h"
#include "http/KavoraDownloadSettings.h"
#include "http/TIdDigestAuthentication.h"
#include "http/TIdHTTP.h"
#include "http/TIdHTTPRequest.h"
#include "net/TIdStream.h"
#include "tests/http/HttpTestSupport.h"
#include "tests/support/ScriptedServer.h"

namespace kv::http {
namespace {

using kv::test::Script;
using kv::test::ScriptedServer;
using test::GetProtocolError;

const char* const kDigest401 =
    "HTTP/1.1 401 Unauthorized\r\n"
    "WWW-Authenticate: Basic realm=\"fallback\"\r\n"
    "WWW-Authenticate: Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n"
    "Content-Length: 0\r\n\r\n";

const char* const kOk = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret";

class AuthenticationExchange : public ::testing::Test {
 protected:
  AuthenticationExchange() { ApplyKavoraDownloadSettings(m_http); }

  void UseCredentials(const std::string& username, const std::string& password) {
    m_http.SetHTTPOptions({TIdHTTPOption::hoInProcessAuth});
    m_http.Request().SetUsername(username);
    m_http.Request().SetPassword(password);
  }

  TIdHTTP m_http;
  kv::net::TIdMemoryStream m_stream;
};

TEST_F(AuthenticationExchange, AnswersADigestChallengeWithTheRfcExampleResponse) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send(kDigest401)
                            .ReadRequestHead()
                            .Send(kOk)
                            .KeepOpenUntilPeerCloses());
  UseCredentials("Mufasa", "Circle Of Life");
  // Digest is preferred over Basic here by the hook; its client nonce is fixed to the example's.
  m_http.OnSelectAuthorization = [](kv::net::TIdComponent&, TIdAuthenticationClass& authClass,
                                    TIdHeaderList&) {
    EXPECT_EQ(authClass, FindAuthClass("Basic")) << "the first registered scheme is found first";
    authClass = []() -> std::unique_ptr<TIdAuthentication> {
      auto digest = std::make_unique<TIdDigestAuthentication>();
      digest->SetCNonce("0a4f113b");
      return digest;
    };
  };

  m_http.Get(server.BaseUrl() + "/dir/index.html", m_stream);

  EXPECT_EQ(m_stream.ToString(), "secret");
  ASSERT_TRUE(server.WaitForReceived(1, 1));
  const std::string requests = server.Received(1);
  const size_t second = requests.find("GET /dir/index.html", 1);
  ASSERT_NE(second, std::string::npos) << requests;
  EXPECT_EQ(requests.find("Authorization"), requests.find("Authorization", second))
      << "the first request carries no credentials";
  EXPECT_NE(requests.find("\r\nAuthorization: Digest username=\"Mufasa\", "
                          "realm=\"testrealm@host.com\", "
                          "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
                          "response=\"6629fae49393a05397450978507c4ef1\", "
                          "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", qop=auth, nc=00000001, "
                          "cnonce=\"0a4f113b\"\r\n",
                          second),
            std::string::npos)
      << requests;
}

TEST_F(AuthenticationExchange, RetriesOnANewConnectionWhenTheServerClosedAfterTheChallenge) {
  ScriptedServer server(
      std::vector<Script>{Script().ReadRequestHead().Send(
                              "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"k\"\r\n"
                              "Connection: close\r\nContent-Length: 0\r\n\r\n"),
                          Script().ReadRequestHead().Send(kOk).KeepOpenUntilPeerCloses()});
  UseCredentials("user", "pw");

  m_http.Get(server.BaseUrl() + "/f", m_stream);

  EXPECT_EQ(m_stream.ToString(), "secret");
  EXPECT_EQ(server.ConnectionCount(), 2);
  EXPECT_NE(server.Received(2).find("\r\nAuthorization: Basic dXNlcjpwdw==\r\n"), std::string::npos)
      << server.Received(2);
}

TEST_F(AuthenticationExchange, RefusedCredentialsEndIn401WithoutAnEndlessLoop) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
                                  "realm=\"k\"\r\nContent-Length: 0\r\n\r\n")
                            .ReadRequestHead()
                            .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
                                  "realm=\"k\"\r\nContent-Length: 0\r\n\r\n")
                            .KeepOpenUntilPeerCloses());
  UseCredentials("user", "wrong");
  const auto error = GetProtocolError(m_http, server.BaseUrl() + "/f", m_stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 401);
  EXPECT_EQ(error->Message(), "HTTP/1.1 401 Unauthorized");
  EXPECT_EQ(m_http.AuthRetries(), 2) << "sent once, then refused: nobody gave new credentials";
}

TEST_F(AuthenticationExchange, AnUnsupportedDigestAlgorithmLeavesGet) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest "
                                  "realm=\"r\", nonce=\"n\", algorithm=SHA-256\r\n"
                                  "Content-Length: 0\r\n\r\n")
                            .KeepOpenUntilPeerCloses());
  try {
    m_http.Get(server.BaseUrl() + "/f", m_stream);
    FAIL() << "no exception";
  } catch (const EIdInvalidAlgorithm& e) {
    EXPECT_STREQ(e.ClassName(), "EIdInvalidAlgorithm");
    EXPECT_EQ(e.Message(),
              "Unsupported hash algorithm. This implementation supports only MD5 encoding.");
  }
  EXPECT_EQ(m_stream.Size(), 0);
}

TEST_F(AuthenticationExchange, NTLMGivesUpInsteadOfSendingWhatWouldBeRefused) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: NTLM\r\n"
                                  "WWW-Authenticate: Negotiate\r\nContent-Length: 0\r\n\r\n")
                            .KeepOpenUntilPeerCloses());
  UseCredentials("user", "pw");
  const auto error = GetProtocolError(m_http, server.BaseUrl() + "/f", m_stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 401);
  EXPECT_EQ(server.Received(1).find("GET /f", 1), std::string::npos) << "one request only";
}

}  // namespace
}  // namespace kv::http
