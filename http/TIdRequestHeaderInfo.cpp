#include "http/TIdRequestHeaderInfo.h"

#include <utility>

#include "http/TIdAuthentication.h"
#include "http/TIdBasicAuthentication.h"

namespace kv::http {

TIdRequestHeaderInfo::TIdRequestHeaderInfo() {
  Clear();
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::Clear() {
  m_accept = kDefaultAccept;
  m_acceptCharSet.clear();
  m_userAgent = kDefaultUserAgent;
  m_basicAuthentication = false;
  m_ranges.Clear();
  m_methodOverride.clear();
  TIdEntityHeaderInfo::Clear();
}

void TIdRequestHeaderInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> authentication) {
  m_authentication = std::move(authentication);
}

std::unique_ptr<TIdAuthentication> TIdRequestHeaderInfo::ReleaseAuthentication() {
  return std::move(m_authentication);
}

std::string TIdRequestHeaderInfo::AuthorizationValue() {
  if (m_authentication == nullptr) {
    if (!m_basicAuthentication) {
      return {};
    }
    // Basic credentials go out without waiting for a challenge.
    m_authentication = TIdBasicAuthentication::Create();
    m_authentication->SetUsername(m_username);
    m_authentication->SetPassword(m_password);
  }
  return m_authentication->Authentication();
}

void TIdRequestHeaderInfo::ComposeRawHeaders() {
  TIdEntityHeaderInfo::ComposeRawHeaders();
  TIdHeaderList& headers = RawHeaders();
  SetHeaderIfPresent(headers, "Proxy-Connection", m_proxyConnection);
  SetHeaderIfPresent(headers, "Host", m_host);
  SetHeaderIfPresent(headers, "Accept", m_accept);
  SetHeaderIfPresent(headers, "Accept-Charset", m_acceptCharSet);
  SetHeaderIfPresent(headers, "Accept-Encoding", m_acceptEncoding);
  SetHeaderIfPresent(headers, "Accept-Language", m_acceptLanguage);
  SetHeaderIfPresent(headers, "From", m_from);
  SetHeaderIfPresent(headers, "Referer", m_referer);
  SetHeaderIfPresent(headers, "User-Agent", m_userAgent);
  SetHeaderIfPresent(headers, "Range", m_ranges.Text());
  if (LastModified() > 0) {
    SetHeaderIfPresent(headers, "If-Modified-Since", LocalDateTimeToGMT(LastModified()));
  }
  SetHeaderIfPresent(headers, "Authorization", AuthorizationValue());
  SetHeaderIfPresent(headers, "X-HTTP-Method-Override", m_methodOverride);
}

void TIdRequestHeaderInfo::AssignRequestHeaders(const TIdRequestHeaderInfo& source) {
  AssignEntity(source);
  m_accept = source.m_accept;
  m_acceptCharSet = source.m_acceptCharSet;
  m_acceptEncoding = source.m_acceptEncoding;
  m_acceptLanguage = source.m_acceptLanguage;
  m_from = source.m_from;
  m_referer = source.m_referer;
  m_userAgent = source.m_userAgent;
  m_host = source.m_host;
  m_proxyConnection = source.m_proxyConnection;
  m_methodOverride = source.m_methodOverride;
  m_username = source.m_username;
  m_password = source.m_password;
  m_basicAuthentication = source.m_basicAuthentication;
  m_ranges = source.m_ranges;
}

}  // namespace kv::http
