#include "http/TIdCookie.h"

#include <algorithm>

#include "http/IdGlobalProtocols.h"
#include "http/IdHTTPDate.h"
#include "http/TIdURI.h"

namespace kv::http {
namespace {

constexpr double kSecondsPerDay = 86400.0;
// The expiry given to a cookie whose Max-Age is zero or negative: a moment long past.
constexpr TDateTime kExpiredLongAgo = 1.0;

// An address literal, which only ever matches itself (no "sub-domains" of 10.0.0.1).
bool IsAddressLiteral(const std::string& host) {
  if (host.find(':') != std::string::npos) {
    return true;
  }
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

// Max-Age: an optional "-" and decimal digits, else the attribute is ignored. Huge values are
// clamped; they only need to lie beyond any real lifetime.
bool ParseMaxAge(const std::string& text, int64_t& seconds) {
  constexpr int64_t kLongest = int64_t(1) << 40;
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) {
    i = 1;
  }
  if (i == text.size()) {
    return false;
  }
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
    if (value < kLongest) {
      value = value * 10 + (text[i] - '0');
    }
  }
  seconds = negative ? -value : std::min(value, kLongest);
  return true;
}

}  // namespace

std::unique_ptr<TIdCookie> TIdCookie::ParseServerCookie(const std::string& setCookieValue,
                                                        const TTarget& target, TDateTime now) {
  std::string rest = setCookieValue;
  const std::string nameValue = Fetch(rest, ";");
  const size_t equals = nameValue.find('=');
  if (equals == std::string::npos) {
    return nullptr;
  }
  auto cookie = std::make_unique<TIdCookie>();
  cookie->m_name = Trim(nameValue.substr(0, equals));
  cookie->m_value = Trim(nameValue.substr(equals + 1));
  if (cookie->m_name.empty() ||
      cookie->m_name.size() + cookie->m_value.size() > kMaxNameValueLength) {
    return nullptr;
  }

  std::string domainAttribute;
  std::string pathAttribute;
  bool hasMaxAge = false;
  int64_t maxAge = 0;
  TDateTime expiresAttribute = 0;
  // Every attribute may repeat; the last one of a name counts.
  while (!rest.empty()) {
    std::string value = Fetch(rest, ";");
    const std::string name = Trim(Fetch(value, "="));
    value = Trim(value);
    if (TextIsSame(name, "Expires")) {
      const TDateTime date = GMTToLocalDateTime(value);
      if (date != 0) {
        expiresAttribute = date;
      }
    } else if (TextIsSame(name, "Max-Age")) {
      if (ParseMaxAge(value, maxAge)) {
        hasMaxAge = true;
      }
    } else if (TextIsSame(name, "Domain")) {
      if (!value.empty()) {
        domainAttribute = LowerCase(value[0] == '.' ? value.substr(1) : value);
      }
    } else if (TextIsSame(name, "Path")) {
      pathAttribute = value;
    } else if (TextIsSame(name, "Secure")) {
      cookie->m_secure = true;
    } else if (TextIsSame(name, "HttpOnly")) {
      cookie->m_httpOnly = true;
    }
  }

  // Max-Age wins over Expires; without either the cookie lives for the session.
  if (hasMaxAge) {
    cookie->m_expires = maxAge <= 0 ? kExpiredLongAgo : now + double(maxAge) / kSecondsPerDay;
  } else {
    cookie->m_expires = expiresAttribute;
  }

  cookie->m_domain = target.Host;
  cookie->m_hostOnly = true;
  if (!domainAttribute.empty() && domainAttribute != target.Host) {
    // A server may widen a cookie to a parent domain of its host, never to another site, and
    // never to a bare top-level name such as "com".
    if (domainAttribute.find('.') == std::string::npos ||
        !DomainMatches(target.Host, domainAttribute)) {
      return nullptr;
    }
    cookie->m_domain = domainAttribute;
    cookie->m_hostOnly = false;
  } else if (!domainAttribute.empty()) {
    cookie->m_hostOnly = domainAttribute.find('.') == std::string::npos;
  }

  cookie->m_path =
      !pathAttribute.empty() && pathAttribute[0] == '/' ? pathAttribute : DefaultPath(target.Path);
  return cookie;
}

TIdCookie::TTarget TIdCookie::TargetOf(const TIdURI& uri) {
  TTarget target;
  target.Host = LowerCase(uri.Host());
  target.Path = uri.Path() + uri.Document();
  if (target.Path.empty() || target.Path[0] != '/') {
    target.Path = "/" + target.Path;
  }
  target.Secure = TextIsSame(uri.Protocol(), "HTTPS");
  return target;
}

std::string TIdCookie::DefaultPath(const std::string& requestPath) {
  if (requestPath.empty() || requestPath[0] != '/') {
    return "/";
  }
  const size_t lastSlash = requestPath.rfind('/');
  return lastSlash == 0 ? "/" : requestPath.substr(0, lastSlash);
}

bool TIdCookie::DomainMatches(const std::string& host, const std::string& domain) {
  if (TextIsSame(host, domain)) {
    return true;
  }
  return !IsAddressLiteral(host) && host.size() > domain.size() && TextEndsWith(host, domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

bool TIdCookie::PathMatches(const std::string& requestPath, const std::string& cookiePath) {
  const std::string path = requestPath.empty() ? "/" : requestPath;
  if (path.compare(0, cookiePath.size(), cookiePath) != 0) {
    return false;
  }
  // "/docs" covers "/docs" and "/docs/x", not "/docsearch".
  return path.size() == cookiePath.size() || cookiePath.back() == '/' ||
         path[cookiePath.size()] == '/';
}

bool TIdCookie::IsAllowed(const TTarget& target) const {
  if (m_secure && !target.Secure) {
    return false;
  }
  const bool domainOk =
      m_hostOnly ? TextIsSame(target.Host, m_domain) : DomainMatches(target.Host, m_domain);
  return domainOk && PathMatches(target.Path, m_path);
}

bool TIdCookie::IsSameCookie(const TIdCookie& other) const {
  return TextIsSame(m_name, other.m_name) && TextIsSame(m_domain, other.m_domain) &&
         TextIsSame(m_path, other.m_path);
}

}  // namespace kv::http
