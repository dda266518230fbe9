#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/Forward.h"
#include "http/TIdCookie.h"

namespace kv::http {

// The cookie jar of one HTTP client: it stores the cookies of every response head and answers
// the Cookie line for a later request. The client creates one implicitly when it stores the
// cookies of its first response; several clients may also share one, so the list is locked.
class TIdCookieManager {
 public:
  // Raised for every parsed cookie before it is stored (or, when already expired, before it
  // removes its stored twin); clearing VAccept drops it.
  using TOnNewCookieEvent =
      std::function<void(TIdCookieManager& ASender, TIdCookie& ACookie, bool& VAccept)>;
  // The clock the manager judges expiry by; replaceable so expiry can be tested without waiting.
  using TClock = std::function<TDateTime()>;

  TIdCookieManager();
  ~TIdCookieManager();
  TIdCookieManager(const TIdCookieManager&) = delete;
  TIdCookieManager& operator=(const TIdCookieManager&) = delete;

  TOnNewCookieEvent OnNewCookie;

  // Parses each Set-Cookie value as a server cookie for uri (the URL of the request it answered)
  // and stores it, replacing a stored cookie of the same name, domain and path. An already
  // expired cookie is not stored and removes the stored cookie it matches.
  void AddServerCookies(const std::vector<std::string>& setCookieValues, const TIdURI& uri);
  void AddServerCookie(const std::string& setCookieValue, const TIdURI& uri);

  // The Cookie header value for a request to uri ("a=1; b=2"), empty when no cookie applies.
  // Expired cookies are dropped first; longer paths come first, then older cookies.
  std::string GenerateClientCookies(const TIdURI& uri);

  // A copy of the stored cookies, in the order they were first stored.
  std::vector<TIdCookie> Cookies() const;
  int Count() const;
  void Clear();

  void SetClock(TClock clock) { m_clock = std::move(clock); }

 private:
  void StoreCookie(std::unique_ptr<TIdCookie> cookie, TDateTime now);
  void RemoveExpired(TDateTime now);
  bool DoNewCookie(TIdCookie& cookie);

  mutable std::mutex m_lock;
  std::vector<std::unique_ptr<TIdCookie>> m_cookies;  // guarded by m_lock
  uint64_t m_nextSequence = 1;                        // guarded by m_lock
  TClock m_clock;
};

}  // namespace kv::http
