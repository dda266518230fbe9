#include "http/TIdProxyConnectionInfo.h"

#include <utility>

#include "http/TIdAuthentication.h"
#include "http/TIdBasicAuthentication.h"
#include "http/TIdHeaderList.h"

namespace kv::http {

TIdProxyConnectionInfo::TIdProxyConnectionInfo() = default;

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::Clear() {
  m_proxyServer.clear();
  m_proxyPort = 0;
  m_proxyUsername.clear();
  m_proxyPassword.clear();
  m_basicAuthentication = false;
  m_authentication.reset();
}

void TIdProxyConnectionInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> authentication) {
  m_authentication = std::move(authentication);
}

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& headers) {
  if (m_authentication == nullptr) {
    if (!m_basicAuthentication) {
      return;
    }
    m_authentication = TIdBasicAuthentication::Create();
    m_authentication->SetUsername(m_proxyUsername);
    m_authentication->SetPassword(m_proxyPassword);
  }
  const std::string value = m_authentication->Authentication();
  if (!value.empty()) {
    headers.SetValue("Proxy-Authorization", value);
  }
}

}  // namespace kv::http
