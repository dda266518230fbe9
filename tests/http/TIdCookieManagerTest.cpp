#include "http/TIdCookieManager.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "http/IdHTTPDate.h"
#include "http/TIdCookie.h"
#include "http/TIdURI.h"

namespace kv::http {
namespace {

// A fixed "now", so expiry is judged without waiting.
const TDateTime kNow = EncodeDateTime(2024, 5, 1, 12, 0, 0);

TIdCookie::TTarget Target(const std::string& url) {
  return TIdCookie::TargetOf(TIdURI(url));
}

// ---- Parsing -------------------------------------------------------------------------------

enum class TExpiry { Session, Expired, At };

struct TParseCase {
  const char* name;
  const char* url;
  std::string setCookie;
  bool stored;
  const char* cookieName = "";
  const char* value = "";
  const char* domain = "";
  const char* path = "";
  bool hostOnly = true;
  bool secure = false;
  bool httpOnly = false;
  TExpiry expiry = TExpiry::Session;
  TDateTime expires = 0;  // for TExpiry::At
};

class ParseServerCookie : public ::testing::TestWithParam<TParseCase> {};

TEST_P(ParseServerCookie, ReadsTheCookieForItsUrl) {
  const TParseCase& c = GetParam();
  auto cookie = TIdCookie::ParseServerCookie(c.setCookie, Target(c.url), kNow);
  if (!c.stored) {
    EXPECT_EQ(cookie, nullptr);
    return;
  }
  ASSERT_NE(cookie, nullptr);
  EXPECT_EQ(cookie->CookieName(), c.cookieName);
  EXPECT_EQ(cookie->Value(), c.value);
  EXPECT_EQ(cookie->Domain(), c.domain);
  EXPECT_EQ(cookie->Path(), c.path);
  EXPECT_EQ(cookie->HostOnly(), c.hostOnly);
  EXPECT_EQ(cookie->Secure(), c.secure);
  EXPECT_EQ(cookie->HttpOnly(), c.httpOnly);
  switch (c.expiry) {
    case TExpiry::Session:
      EXPECT_EQ(cookie->Expires(), 0);
      break;
    case TExpiry::Expired:
      EXPECT_TRUE(cookie->IsExpired(kNow)) << cookie->Expires();
      break;
    case TExpiry::At:
      EXPECT_NEAR(cookie->Expires(), c.expires, kOneSecond / 100);
      EXPECT_FALSE(cookie->IsExpired(kNow));
      break;
  }
}

const TDateTime kFutureExpires = GMTToLocalDateTime("Wed, 21 Oct 2037 07:28:00 GMT");

INSTANTIATE_TEST_SUITE_P(
    SetCookie, ParseServerCookie,
    ::testing::Values(
        TParseCase{"Plain", "http://example.com/dir/page.html", "SID=31d4", true, "SID", "31d4",
                   "example.com", "/dir"},
        TParseCase{"BlanksTrimmed", "http://example.com/", " a = 1 ; Path = /x ", true, "a", "1",
                   "example.com", "/x"},
        TParseCase{"ValueWithEquals", "http://example.com/", "a=b=c", true, "a", "b=c",
                   "example.com", "/"},
        TParseCase{"EmptyValue", "http://example.com/", "a=", true, "a", "", "example.com", "/"},
        TParseCase{"HostLowered", "http://WWW.Example.COM/x/y/z", "a=1", true, "a", "1",
                   "www.example.com", "/x/y"},
        TParseCase{"RootDocument", "http://example.com/page", "a=1", true, "a", "1", "example.com",
                   "/"},
        TParseCase{"RelativePathAttributeIgnored", "http://example.com/d/p", "a=1; Path=x", true,
                   "a", "1", "example.com", "/d"},
        TParseCase{"EmptyPathAttributeIgnored", "http://example.com/d/p", "a=1; Path=", true, "a",
                   "1", "example.com", "/d"},
        TParseCase{"ParentDomain", "http://www.example.com/", "a=1; Domain=.Example.COM", true, "a",
                   "1", "example.com", "/", false},
        TParseCase{"OwnHostAsDomain", "http://www.example.com/", "a=1; domain=www.example.com",
                   true, "a", "1", "www.example.com", "/", false},
        TParseCase{"ForeignDomain", "http://www.example.com/", "a=1; Domain=other.com", false},
        TParseCase{"SiblingDomain", "http://api.example.com/", "a=1; Domain=www.example.com",
                   false},
        TParseCase{"SuffixWithoutDot", "http://badexample.com/", "a=1; Domain=example.com", false},
        TParseCase{"TopLevelDomain", "http://www.example.com/", "a=1; Domain=com", false},
        TParseCase{"AddressHost", "http://127.0.0.1:8080/x", "a=1", true, "a", "1", "127.0.0.1",
                   "/"},
        TParseCase{"AddressParent", "http://127.0.0.1/", "a=1; Domain=0.0.1", false},
        TParseCase{"LocalhostDomain", "http://localhost/", "a=1; Domain=localhost", true, "a", "1",
                   "localhost", "/"},
        TParseCase{"NoEquals", "http://example.com/", "justaname", false},
        TParseCase{"EmptyName", "http://example.com/", "=value", false},
        TParseCase{"TooLong", "http://example.com/",
                   "a=" + std::string(TIdCookie::kMaxNameValueLength, 'v'), false},
        TParseCase{"Flags", "http://example.com/", "a=1; secure; HTTPONLY", true, "a", "1",
                   "example.com", "/", true, true, true},
        TParseCase{"FutureExpires", "http://example.com/",
                   "a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT", true, "a", "1", "example.com", "/",
                   true, false, false, TExpiry::At, kFutureExpires},
        TParseCase{"PastExpires", "http://example.com/",
                   "a=1; expires=Thu, 01 Jan 1970 00:00:00 GMT", true, "a", "1", "example.com", "/",
                   true, false, false, TExpiry::Expired},
        TParseCase{"InvalidExpiresIgnored", "http://example.com/", "a=1; Expires=soon", true, "a",
                   "1", "example.com", "/"},
        TParseCase{"MaxAge", "http://example.com/", "a=1; Max-Age=3600", true, "a", "1",
                   "example.com", "/", true, false, false, TExpiry::At, kNow + 1.0 / 24},
        TParseCase{"MaxAgeZero", "http://example.com/", "a=1; Max-Age=0", true, "a", "1",
                   "example.com", "/", true, false, false, TExpiry::Expired},
        TParseCase{"MaxAgeNegative", "http://example.com/", "a=1; max-age=-5", true, "a", "1",
                   "example.com", "/", true, false, false, TExpiry::Expired},
        TParseCase{"MaxAgeNotANumber", "http://example.com/", "a=1; Max-Age=1h", true, "a", "1",
                   "example.com", "/"},
        TParseCase{"MaxAgeWinsOverExpires", "http://example.com/",
                   "a=1; Max-Age=60; Expires=Thu, 01 Jan 1970 00:00:00 GMT", true, "a", "1",
                   "example.com", "/", true, false, false, TExpiry::At, kNow + 60 * kOneSecond},
        TParseCase{"LastAttributeWins", "http://example.com/", "a=1; Path=/one; Path=/two", true,
                   "a", "1", "example.com", "/two"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Matching ------------------------------------------------------------------------------

struct TMatchCase {
  const char* name;
  const char* setFrom;
  const char* setCookie;
  const char* requestUrl;
  bool sent;
};

class CookieMatching : public ::testing::TestWithParam<TMatchCase> {};

TEST_P(CookieMatching, DecidesWhereACookieGoes) {
  TIdCookieManager manager;
  manager.SetClock([] { return kNow; });
  manager.AddServerCookie(GetParam().setCookie, TIdURI(GetParam().setFrom));
  ASSERT_EQ(manager.Count(), 1);
  EXPECT_EQ(manager.GenerateClientCookies(TIdURI(GetParam().requestUrl)),
            GetParam().sent ? "c=1" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CookieMatching,
    ::testing::Values(
        TMatchCase{"SameHost", "http://example.com/", "c=1", "http://example.com/any", true},
        TMatchCase{"HostCaseIgnored", "http://example.com/", "c=1", "http://EXAMPLE.com/", true},
        TMatchCase{"OtherPortSameHost", "http://example.com/", "c=1", "http://example.com:81/",
                   true},
        TMatchCase{"HostOnlyNotToSubdomain", "http://example.com/", "c=1",
                   "http://www.example.com/", false},
        TMatchCase{"DomainToSubdomain", "http://www.example.com/", "c=1; Domain=example.com",
                   "http://a.b.example.com/", true},
        TMatchCase{"DomainToItself", "http://www.example.com/", "c=1; Domain=example.com",
                   "http://example.com/", true},
        TMatchCase{"DomainNotToLookalike", "http://www.example.com/", "c=1; Domain=example.com",
                   "http://badexample.com/", false},
        TMatchCase{"DomainNotToOtherSite", "http://www.example.com/", "c=1; Domain=example.com",
                   "http://example.org/", false},
        TMatchCase{"PathExact", "http://h/", "c=1; Path=/docs", "http://h/docs", true},
        TMatchCase{"PathDirectory", "http://h/", "c=1; Path=/docs", "http://h/docs/", true},
        TMatchCase{"PathBelow", "http://h/", "c=1; Path=/docs", "http://h/docs/x.html?q=1", true},
        TMatchCase{"PathWithSlashBelow", "http://h/", "c=1; Path=/docs/", "http://h/docs/x", true},
        TMatchCase{"PathNotAPrefixWord", "http://h/", "c=1; Path=/docs", "http://h/docsearch",
                   false},
        TMatchCase{"PathAbove", "http://h/", "c=1; Path=/docs", "http://h/", false},
        TMatchCase{"PathCaseMatters", "http://h/", "c=1; Path=/docs", "http://h/Docs/x", false},
        TMatchCase{"DefaultPathSibling", "http://h/a/page", "c=1", "http://h/a/other", true},
        TMatchCase{"DefaultPathOutside", "http://h/a/page", "c=1", "http://h/b/page", false},
        TMatchCase{"SecureOverHttps", "https://h/", "c=1; Secure", "HTTPS://h/", true},
        TMatchCase{"SecureOverLowerCaseHttps", "https://h/", "c=1; Secure", "https://h/", true},
        TMatchCase{"SecureNotOverHttp", "https://h/", "c=1; Secure", "http://h/", false},
        TMatchCase{"PlainOverHttps", "http://h/", "c=1", "https://h/", true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Storing -------------------------------------------------------------------------------

class CookieManager : public ::testing::Test {
 protected:
  CookieManager() {
    m_manager.SetClock([this] { return m_now; });
  }

  void Add(const std::string& setCookie, const std::string& url = "http://example.com/") {
    m_manager.AddServerCookie(setCookie, TIdURI(url));
  }
  std::string Generate(const std::string& url = "http://example.com/x/y/z") {
    return m_manager.GenerateClientCookies(TIdURI(url));
  }

  TDateTime m_now = kNow;
  TIdCookieManager m_manager;
};

TEST_F(CookieManager, SendsNothingWhenEmpty) {
  EXPECT_EQ(Generate(), "");
}

TEST_F(CookieManager, ReplacesSameNameDomainAndPathIgnoringCase) {
  Add("SID=1; Path=/x");
  Add("other=o");
  Add("sid=2; Path=/X", "http://EXAMPLE.COM/");
  ASSERT_EQ(m_manager.Count(), 2);
  const std::vector<TIdCookie> cookies = m_manager.Cookies();
  EXPECT_EQ(cookies[0].CookieName(), "sid");
  EXPECT_EQ(cookies[0].Value(), "2");
  EXPECT_EQ(cookies[0].Path(), "/X");

  Add("sid=3; Path=/y");  // another path: another cookie
  Add("sid=4; Domain=example.com; Path=/x");
  EXPECT_EQ(m_manager.Count(), 3) << "the explicit domain equals the host, so it replaces";
}

TEST_F(CookieManager, AReplacedCookieKeepsItsPlaceInTheOrder) {
  Add("a=1");
  Add("b=1");
  Add("a=2");
  EXPECT_EQ(Generate(), "a=2; b=1");
}

TEST_F(CookieManager, OrdersLongerPathsFirstThenOlderCookies) {
  Add("a=1; Path=/");
  Add("b=2; Path=/x/y");
  Add("c=3; Path=/x");
  Add("d=4; Path=/");
  Add("e=5; Path=/x/y/z");
  EXPECT_EQ(Generate("http://example.com/x/y/z"), "e=5; b=2; c=3; a=1; d=4");
  EXPECT_EQ(Generate("http://example.com/x/q"), "c=3; a=1; d=4");
}

TEST_F(CookieManager, AnExpiredCookieIsNotStoredAndRemovesItsTwin) {
  Add("keep=1");
  Add("gone=1; Path=/");
  Add("GONE=x; Path=/; Max-Age=0");
  EXPECT_EQ(m_manager.Count(), 1);
  EXPECT_EQ(Generate(), "keep=1");
  Add("never=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(m_manager.Count(), 1);
  Add("keep=1; Path=/elsewhere; Max-Age=0");
  EXPECT_EQ(m_manager.Count(), 1) << "only the cookie with the same path is removed";
}

TEST_F(CookieManager, DropsCookiesThatExpireWhileStored) {
  Add("short=1; Max-Age=60");
  Add("long=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT");
  Add("session=1");
  EXPECT_EQ(Generate(), "short=1; long=1; session=1");
  m_now = kNow + 61 * kOneSecond;
  EXPECT_EQ(Generate(), "long=1; session=1");
  EXPECT_EQ(m_manager.Count(), 2);
}

TEST_F(CookieManager, OnNewCookieSeesTheParsedCookieAndMayVeto) {
  std::vector<std::string> seen;
  m_manager.OnNewCookie = [&](TIdCookieManager& sender, TIdCookie& cookie, bool& accept) {
    EXPECT_EQ(&sender, &m_manager);
    seen.push_back(cookie.CookieName() + "@" + cookie.Domain() + cookie.Path());
    accept = cookie.CookieName() != "tracker";
  };
  Add("a=1", "http://example.com/d/p");
  Add("tracker=1");
  EXPECT_EQ(seen, (std::vector<std::string>{"a@example.com/d", "tracker@example.com/"}));
  ASSERT_EQ(m_manager.Count(), 1);

  // A vetoed deletion leaves the stored cookie alone.
  m_manager.OnNewCookie = [](TIdCookieManager&, TIdCookie&, bool& accept) { accept = false; };
  Add("a=x; Max-Age=0", "http://example.com/d/p");
  EXPECT_EQ(m_manager.Count(), 1);
}

TEST_F(CookieManager, AddsAllValuesOfOneResponseAndSkipsBadOnes) {
  m_manager.AddServerCookies({"a=1", "garbage", "b=2; Domain=evil.com", "c=3"},
                             TIdURI("http://example.com/"));
  EXPECT_EQ(Generate(), "a=1; c=3");
  m_manager.Clear();
  EXPECT_EQ(m_manager.Count(), 0);
}

TEST_F(CookieManager, KeepsEveryCookieWhenSeveralThreadsAdd) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kPerThread; ++i) {
        Add('t' + std::to_string(t) + '_' + std::to_string(i) + "=v");
        Generate();
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(m_manager.Count(), kThreads * kPerThread);
}

}  // namespace
}  // namespace kv::http
