#include "http/TIdCookieManager.h"

#include <algorithm>
#include <utility>

#include "http/IdHTTPDate.h"
#include "http/TIdURI.h"

namespace kv::http {

TIdCookieManager::TIdCookieManager() : m_clock([] { return kv::http::Now(); }) {}

TIdCookieManager::~TIdCookieManager() = default;

void TIdCookieManager::AddServerCookies(const std::vector<std::string>& setCookieValues,
                                        const TIdURI& uri) {
  for (const std::string& value : setCookieValues) {
    AddServerCookie(value, uri);
  }
}

void TIdCookieManager::AddServerCookie(const std::string& setCookieValue, const TIdURI& uri) {
  const TDateTime now = m_clock();
  std::unique_ptr<TIdCookie> cookie =
      TIdCookie::ParseServerCookie(setCookieValue, TIdCookie::TargetOf(uri), now);
  if (!cookie || !DoNewCookie(*cookie)) {
    return;
  }
  StoreCookie(std::move(cookie), now);
}

bool TIdCookieManager::DoNewCookie(TIdCookie& cookie) {
  bool accept = true;
  // Raised outside the lock, so a handler may look at the manager.
  if (OnNewCookie) {
    OnNewCookie(*this, cookie, accept);
  }
  return accept;
}

void TIdCookieManager::StoreCookie(std::unique_ptr<TIdCookie> cookie, TDateTime now) {
  std::lock_guard guard(m_lock);
  const auto same = std::find_if(m_cookies.begin(), m_cookies.end(),
                                 [&](const auto& stored) { return stored->IsSameCookie(*cookie); });
  if (cookie->IsExpired(now)) {
    // A server deletes a cookie by sending it already expired.
    if (same != m_cookies.end()) {
      m_cookies.erase(same);
    }
    return;
  }
  if (same != m_cookies.end()) {
    cookie->SetCreatedAt((*same)->CreatedAt());
    *same = std::move(cookie);
    return;
  }
  cookie->SetCreatedAt(m_nextSequence++);
  m_cookies.push_back(std::move(cookie));
}

void TIdCookieManager::RemoveExpired(TDateTime now) {
  std::erase_if(m_cookies, [now](const auto& cookie) { return cookie->IsExpired(now); });
}

std::string TIdCookieManager::GenerateClientCookies(const TIdURI& uri) {
  const TIdCookie::TTarget target = TIdCookie::TargetOf(uri);
  const TDateTime now = m_clock();
  std::lock_guard guard(m_lock);
  RemoveExpired(now);
  std::vector<const TIdCookie*> selected;
  for (const auto& cookie : m_cookies) {
    if (cookie->IsAllowed(target)) {
      selected.push_back(cookie.get());
    }
  }
  std::sort(selected.begin(), selected.end(), [](const TIdCookie* a, const TIdCookie* b) {
    if (a->Path().size() != b->Path().size()) {
      return a->Path().size() > b->Path().size();
    }
    return a->CreatedAt() < b->CreatedAt();
  });
  std::string line;
  for (const TIdCookie* cookie : selected) {
    if (!line.empty()) {
      line += "; ";
    }
    line += cookie->ClientCookie();
  }
  return line;
}

std::vector<TIdCookie> TIdCookieManager::Cookies() const {
  std::lock_guard guard(m_lock);
  std::vector<TIdCookie> copies;
  copies.reserve(m_cookies.size());
  for (const auto& cookie : m_cookies) {
    copies.push_back(*cookie);
  }
  return copies;
}

int TIdCookieManager::Count() const {
  std::lock_guard guard(m_lock);
  return static_cast<int>(m_cookies.size());
}

void TIdCookieManager::Clear() {
  std::lock_guard guard(m_lock);
  m_cookies.clear();
}

}  // namespace kv::http
