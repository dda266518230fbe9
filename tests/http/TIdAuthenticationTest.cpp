#include "http/TIdAuthentication.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "http/TIdBasicAuthentication.h"
#include "http/TIdDigestAuthentication.h"
#include "http/TIdHeaderList.h"
#include "http/TIdNTLMAuthentication.h"

namespace kv::http {
namespace {

using enum TIdAuthWhatsNext;

// The example exchange of RFC 2617, section 3.5.
const char* const kRfcChallenge =
    "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";

std::unique_ptr<TIdDigestAuthentication> RfcDigest(const std::string& challenge = kRfcChallenge) {
  auto digest = std::make_unique<TIdDigestAuthentication>();
  digest->SetUsername("Mufasa");
  digest->SetPassword("Circle Of Life");
  digest->SetCNonce("0a4f113b");
  digest->SetAuthParams(std::vector<std::string>{challenge});
  digest->SetRequest("GET", "/dir/index.html");
  return digest;
}

// ---- Basic ---------------------------------------------------------------------------------

struct TBasicCase {
  const char* name;
  const char* username;
  const char* password;
  const char* expected;
};

class BasicValue : public ::testing::TestWithParam<TBasicCase> {};

TEST_P(BasicValue, IsBase64OfUserColonPassword) {
  TIdBasicAuthentication basic;
  basic.SetUsername(GetParam().username);
  basic.SetPassword(GetParam().password);
  EXPECT_EQ(basic.Authentication(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Credentials, BasicValue,
    ::testing::Values(TBasicCase{"RfcExample", "Aladdin", "open sesame",
                                 "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
                      TBasicCase{"EmptyPassword", "user", "", "Basic dXNlcjo="},
                      TBasicCase{"ColonInPassword", "u", "a:b", "Basic dTphOmI="},
                      TBasicCase{"Utf8Bytes", "j\xc3\xb8rgen", "pw", "Basic asO4cmdlbjpwdw=="}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TIdBasicAuthentication, AsksForCredentialsSendsThemAndAsksAgainWhenRefused) {
  TIdBasicAuthentication basic;
  basic.SetAuthParams(std::vector<std::string>{"Basic realm=\"kavora\""});
  EXPECT_EQ(basic.Next(), wnAskTheProgram);
  EXPECT_EQ(basic.Next(), wnAskTheProgram) << "still no user name";
  basic.SetUsername("user");
  basic.SetPassword("pw");
  EXPECT_EQ(basic.Next(), wnDoRequest);
  EXPECT_FALSE(basic.AllStepsDone()) << "nothing was sent yet";
  // A connection that closed before the retry went out: the next challenge sends them again.
  EXPECT_EQ(basic.Next(), wnDoRequest);
  EXPECT_EQ(basic.Authentication(), "Basic dXNlcjpwdw==");
  EXPECT_TRUE(basic.AllStepsDone());
  // A challenge after they were sent means the server refused them: the program gets another
  // say, and its answer is sent.
  EXPECT_EQ(basic.Next(), wnAskTheProgram);
  EXPECT_EQ(basic.Next(), wnDoRequest);
  basic.Reset();
  EXPECT_EQ(basic.CurrentStep(), 0);
  EXPECT_FALSE(basic.AllStepsDone());
}

// ---- First steps of every scheme -------------------------------------------------------------

struct TFirstStepCase {
  const char* name;
  TIdAuthenticationClass authClass;
  const char* challenge;
  const char* username;
  TIdAuthWhatsNext expected;
};

class FirstStep : public ::testing::TestWithParam<TFirstStepCase> {};

TEST_P(FirstStep, Answers) {
  std::unique_ptr<TIdAuthentication> auth = GetParam().authClass();
  auth->SetUsername(GetParam().username);
  auth->SetAuthParams(std::vector<std::string>{GetParam().challenge});
  EXPECT_EQ(auth->Next(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, FirstStep,
    ::testing::Values(
        TFirstStepCase{"BasicWithoutUser", &TIdBasicAuthentication::Create, "Basic realm=x", "",
                       wnAskTheProgram},
        TFirstStepCase{"BasicWithUser", &TIdBasicAuthentication::Create, "Basic realm=x", "u",
                       wnDoRequest},
        TFirstStepCase{"DigestWithoutUser", &TIdDigestAuthentication::Create, kRfcChallenge, "",
                       wnAskTheProgram},
        TFirstStepCase{"DigestWithUser", &TIdDigestAuthentication::Create, kRfcChallenge, "u",
                       wnDoRequest},
        TFirstStepCase{"NTLMWithoutUser", &TIdNTLMAuthentication::Create, "NTLM", "",
                       wnAskTheProgram},
        // The NTLM message exchange is not implemented: with credentials it gives up.
        TFirstStepCase{"NTLMWithUser", &TIdNTLMAuthentication::Create, "NTLM", "u", wnFail},
        TFirstStepCase{"DigestNoNonce", &TIdDigestAuthentication::Create,
                       "Digest realm=\"r\", qop=\"auth\"", "u", wnFail},
        TFirstStepCase{"DigestOnlyAuthInt", &TIdDigestAuthentication::Create,
                       "Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", "u", wnFail},
        TFirstStepCase{"DigestNoDigestChallenge", &TIdDigestAuthentication::Create, "Basic realm=x",
                       "u", wnFail}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Digest --------------------------------------------------------------------------------

TEST(TIdDigestAuthentication, MatchesTheRfc2617Example) {
  auto digest = RfcDigest();
  ASSERT_EQ(digest->Next(), wnDoRequest);
  EXPECT_EQ(digest->Realm(), "testrealm@host.com");
  EXPECT_EQ(digest->Qop(), "auth");
  EXPECT_EQ(digest->Authentication(),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
            "response=\"6629fae49393a05397450978507c4ef1\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", qop=auth, nc=00000001, "
            "cnonce=\"0a4f113b\"");
}

TEST(TIdDigestAuthentication, CountsEveryRequestUnderOneNonce) {
  auto digest = RfcDigest();
  ASSERT_EQ(digest->Next(), wnDoRequest);
  digest->Authentication();
  const std::string second = digest->Authentication();
  EXPECT_NE(second.find("nc=00000002"), std::string::npos) << second;
  EXPECT_NE(second.find("response=\"15b6bb427e3fecd23a43cb702ce447d5\""), std::string::npos)
      << second;
  EXPECT_EQ(digest->NonceCount(), 2u);
}

TEST(TIdDigestAuthentication, WithoutQopUsesTheOlderForm) {
  auto digest = RfcDigest(
      "Digest realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\"");
  ASSERT_EQ(digest->Next(), wnDoRequest);
  EXPECT_EQ(digest->Authentication(),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
            "response=\"670fd8c2df070c60b045671b8b24ff02\"");
}

TEST(TIdDigestAuthentication, Md5SessHashesTheNoncesIntoTheKey) {
  auto digest = RfcDigest(std::string(kRfcChallenge) + ", algorithm=MD5-sess");
  ASSERT_EQ(digest->Next(), wnDoRequest);
  const std::string value = digest->Authentication();
  EXPECT_NE(value.find("algorithm=MD5-sess"), std::string::npos) << value;
  EXPECT_NE(value.find("response=\"8e3825c57e897f5a0dec6c2d4e5059d0\""), std::string::npos)
      << value;
}

TEST(TIdDigestAuthentication, FindsItsChallengeAmongOthersAndReadsQuotedText) {
  TIdDigestAuthentication digest;
  digest.SetUsername("u");
  digest.SetAuthParams(std::vector<std::string>{
      "Basic realm=\"b\"", "  digest   realm=\"a \\\"b\\\", c\",nonce=n1 , stale=TRUE"});
  ASSERT_EQ(digest.Next(), wnDoRequest);
  EXPECT_EQ(digest.Realm(), "a \"b\", c");
  EXPECT_EQ(digest.Nonce(), "n1");
  EXPECT_EQ(digest.Qop(), "");
}

TEST(TIdDigestAuthentication, EscapesQuotesInTheUserName) {
  auto digest = RfcDigest();
  digest->SetUsername("a\"b\\c");
  ASSERT_EQ(digest->Next(), wnDoRequest);
  EXPECT_EQ(digest->Authentication().rfind("Digest username=\"a\\\"b\\\\c\", ", 0), 0u);
}

TEST(TIdDigestAuthentication, AnswersAStaleNonceAgainButAsksWhenRefused) {
  auto digest = RfcDigest();
  ASSERT_EQ(digest->Next(), wnDoRequest);
  digest->Authentication();
  digest->SetAuthParams(std::vector<std::string>{
      "Digest realm=\"testrealm@host.com\", qop=\"auth\", nonce=\"fresh\", stale=true"});
  EXPECT_EQ(digest->Next(), wnDoRequest);
  EXPECT_EQ(digest->Nonce(), "fresh");
  EXPECT_NE(digest->Authentication().find("nc=00000001"), std::string::npos)
      << "a new nonce starts counting again";

  digest->SetAuthParams(std::vector<std::string>{
      "Digest realm=\"testrealm@host.com\", qop=\"auth\", nonce=\"third\""});
  EXPECT_EQ(digest->Next(), wnAskTheProgram);
  EXPECT_EQ(digest->Next(), wnDoRequest) << "the program's answer is sent";
}

TEST(TIdDigestAuthentication, IsEmptyBeforeAChallengeAndAfterReset) {
  auto digest = RfcDigest();
  EXPECT_EQ(digest->Authentication(), "");
  ASSERT_EQ(digest->Next(), wnDoRequest);
  digest->Reset();
  EXPECT_EQ(digest->Authentication(), "");
  EXPECT_EQ(digest->CurrentStep(), 0);
}

TEST(TIdDigestAuthentication, MakesARandomClientNonceWhenNoneIsSet) {
  TIdDigestAuthentication digest;
  digest.SetUsername("u");
  digest.SetAuthParams(std::vector<std::string>{"Digest realm=r, nonce=n, qop=auth"});
  ASSERT_EQ(digest.Next(), wnDoRequest);
  digest.Authentication();
  EXPECT_EQ(digest.CNonce().size(), 32u);
  EXPECT_EQ(digest.CNonce().find_first_not_of("0123456789abcdef"), std::string::npos);
}

struct TAlgorithmCase {
  const char* name;
  const char* algorithm;
  bool supported;
};

class DigestAlgorithm : public ::testing::TestWithParam<TAlgorithmCase> {};

TEST_P(DigestAlgorithm, OnlyMd5IsSupported) {
  // No user name: the algorithm is judged before the program would be asked.
  TIdDigestAuthentication digest;
  digest.SetAuthParams(std::vector<std::string>{std::string("Digest realm=r, nonce=n, algorithm=") +
                                                GetParam().algorithm});
  if (GetParam().supported) {
    EXPECT_EQ(digest.Next(), wnAskTheProgram);
    return;
  }
  try {
    digest.Next();
    FAIL() << "no exception";
  } catch (const EIdInvalidAlgorithm& e) {
    EXPECT_STREQ(e.ClassName(), "EIdInvalidAlgorithm");
    EXPECT_EQ(e.Message(),
              "Unsupported hash algorithm. This implementation supports only MD5 encoding.");
  }
}

INSTANTIATE_TEST_SUITE_P(Algorithms, DigestAlgorithm,
                         ::testing::Values(TAlgorithmCase{"Md5", "MD5", true},
                                           TAlgorithmCase{"Md5LowerCase", "md5", true},
                                           TAlgorithmCase{"Md5Sess", "MD5-SESS", true},
                                           TAlgorithmCase{"QuotedMd5", "\"MD5\"", true},
                                           TAlgorithmCase{"Sha256", "SHA-256", false},
                                           TAlgorithmCase{"Sha512", "SHA-512-256", false},
                                           TAlgorithmCase{"Unknown", "rot13", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Shared base ---------------------------------------------------------------------------

TEST(TIdAuthentication, KeepsChallengesParamsAndRequest) {
  TIdBasicAuthentication basic;
  TIdHeaderList challenges(TIdHeaderQuotingType::QuoteHTTP);
  challenges.Add("Basic realm=\"one\"");
  challenges.Add("Digest realm=\"two\", nonce=x");
  basic.SetAuthParams(challenges);
  ASSERT_EQ(basic.AuthParams().Count(), 2);
  EXPECT_EQ(basic.AuthParams()[1], "Digest realm=\"two\", nonce=x");
  basic.SetAuthParams(basic.AuthParams());  // assigning its own list keeps it
  EXPECT_EQ(basic.AuthParams().Count(), 2);

  basic.Params().SetValue("Authorization", "Basic x");
  EXPECT_EQ(basic.Params().GetValue("authorization"), "Basic x");
  basic.SetRequest("GET", "/a?b");
  EXPECT_EQ(basic.Method(), "GET");
  EXPECT_EQ(basic.Uri(), "/a?b");
}

// ---- Registry ------------------------------------------------------------------------------

struct TRegistryCase {
  const char* name;
  const char* lookUp;
  const char* scheme;  // nullptr: not registered
};

class Registry : public ::testing::TestWithParam<TRegistryCase> {};

TEST_P(Registry, FindsSchemesIgnoringCase) {
  const TIdAuthenticationClass found = FindAuthClass(GetParam().lookUp);
  if (GetParam().scheme == nullptr) {
    EXPECT_EQ(found, nullptr);
    return;
  }
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found()->SchemeName(), GetParam().scheme);
}

INSTANTIATE_TEST_SUITE_P(Names, Registry,
                         ::testing::Values(TRegistryCase{"Basic", "Basic", "Basic"},
                                           TRegistryCase{"BasicLower", "basic", "Basic"},
                                           TRegistryCase{"DigestUpper", "DIGEST", "Digest"},
                                           TRegistryCase{"NtlmMixed", "Ntlm", "NTLM"},
                                           // No integrated scheme on this platform.
                                           TRegistryCase{"Negotiate", "Negotiate", nullptr},
                                           TRegistryCase{"Empty", "", nullptr},
                                           TRegistryCase{"Prefix", "Bas", nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

class TTestScheme : public TIdBasicAuthentication {
 public:
  static std::unique_ptr<TIdAuthentication> Create() { return std::make_unique<TTestScheme>(); }
  std::string SchemeName() const override { return "X-Test"; }
};

TEST(Registry, RegistersReplacesAndUnregisters) {
  EXPECT_EQ(FindAuthClass("x-test"), nullptr);
  RegisterAuthenticationMethod("X-Test", &TTestScheme::Create);
  EXPECT_EQ(FindAuthClass("X-TEST"), &TTestScheme::Create);
  RegisterAuthenticationMethod("x-test", &TIdBasicAuthentication::Create);
  EXPECT_EQ(FindAuthClass("X-Test"), &TIdBasicAuthentication::Create);
  UnregisterAuthenticationMethod("X-TEST");
  EXPECT_EQ(FindAuthClass("X-Test"), nullptr);
  EXPECT_NE(FindAuthClass("Basic"), nullptr) << "others stay";
}

}  // namespace
}  // namespace kv::http
