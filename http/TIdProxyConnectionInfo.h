#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/Forward.h"

namespace kv::http {

// The proxy a client goes through, and the credentials it presents to it.
class TIdProxyConnectionInfo {
 public:
  TIdProxyConnectionInfo();
  ~TIdProxyConnectionInfo();
  TIdProxyConnectionInfo(const TIdProxyConnectionInfo&) = delete;
  TIdProxyConnectionInfo& operator=(const TIdProxyConnectionInfo&) = delete;

  // No server, port 0, no credentials, no basic authentication, no scheme object.
  void Clear();
  // Adds the Proxy-Authorization line when there is a value for it.
  void SetHeaders(TIdHeaderList& headers);

  const std::string& ProxyServer() const { return m_proxyServer; }
  void SetProxyServer(const std::string& value) { m_proxyServer = value; }
  uint16_t ProxyPort() const { return m_proxyPort; }
  void SetProxyPort(uint16_t value) { m_proxyPort = value; }
  const std::string& ProxyUsername() const { return m_proxyUsername; }
  void SetProxyUsername(const std::string& value) { m_proxyUsername = value; }
  const std::string& ProxyPassword() const { return m_proxyPassword; }
  void SetProxyPassword(const std::string& value) { m_proxyPassword = value; }
  bool BasicAuthentication() const { return m_basicAuthentication; }
  void SetBasicAuthentication(bool value) { m_basicAuthentication = value; }

  TIdAuthentication* Authentication() const { return m_authentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> authentication);

 private:
  std::string m_proxyServer;
  uint16_t m_proxyPort = 0;
  std::string m_proxyUsername;
  std::string m_proxyPassword;
  bool m_basicAuthentication = false;
  std::unique_ptr<TIdAuthentication> m_authentication;
};

}  // namespace kv::http
