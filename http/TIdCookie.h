#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/Forward.h"
#include "http/IdHTTPDate.h"

namespace kv::http {

// One cookie as a server set it, already resolved against the URL it came with: the domain is
// always known (the request host when the server named none) and the path always starts with "/".
class TIdCookie {
 public:
  // Where a cookie arrived from, or where a request is going.
  struct TTarget {
    std::string Host;     // lower case
    std::string Path;     // the request path, from the first "/" up to "?" (not including it)
    bool Secure = false;  // the scheme is "HTTPS"
  };

  // The longest name=value a server may set; longer cookies are ignored, as browsers do, so a
  // hostile server cannot make every later request of the client carry megabytes.
  static constexpr size_t kMaxNameValueLength = 4096;

  // Parses one Set-Cookie value received for target at the time now. Returns nullptr when the
  // value is not a cookie (no "=", empty name, too long) or when its Domain does not cover the
  // host.
  static std::unique_ptr<TIdCookie> ParseServerCookie(const std::string& setCookieValue,
                                                      const TTarget& target, TDateTime now);
  // The target of a request to uri (host lowered, path = Path + Document, secure for "HTTPS").
  static TTarget TargetOf(const TIdURI& uri);
  // The path a cookie gets when the server names none: the request path up to its last "/".
  static std::string DefaultPath(const std::string& requestPath);
  static bool DomainMatches(const std::string& host, const std::string& domain);
  static bool PathMatches(const std::string& requestPath, const std::string& cookiePath);

  const std::string& CookieName() const { return m_name; }
  const std::string& Value() const { return m_value; }
  const std::string& Domain() const { return m_domain; }
  const std::string& Path() const { return m_path; }
  // 0 for a session cookie, which lives as long as its manager.
  TDateTime Expires() const { return m_expires; }
  bool Secure() const { return m_secure; }
  bool HttpOnly() const { return m_httpOnly; }
  // True when the server named no Domain: the cookie then goes back to exactly that host.
  bool HostOnly() const { return m_hostOnly; }
  // Order of arrival in the manager; a replaced cookie keeps the number of the one it replaced.
  uint64_t CreatedAt() const { return m_createdAt; }
  void SetCreatedAt(uint64_t sequence) { m_createdAt = sequence; }

  bool IsExpired(TDateTime now) const { return m_expires != 0 && m_expires <= now; }
  // True when a request to target may carry this cookie.
  bool IsAllowed(const TTarget& target) const;
  // Same name, domain and path, compared ignoring case: the second one replaces the first.
  bool IsSameCookie(const TIdCookie& other) const;
  // "name=value" as it goes into the Cookie line.
  std::string ClientCookie() const { return m_name + "=" + m_value; }

 private:
  std::string m_name;
  std::string m_value;
  std::string m_domain;
  std::string m_path;
  TDateTime m_expires = 0;
  bool m_secure = false;
  bool m_httpOnly = false;
  bool m_hostOnly = true;
  uint64_t m_createdAt = 0;
};

}  // namespace kv::http
