#pragma once

#include <string>

#include "http/TIdEntityHeaderInfo.h"

namespace kv::http {

// The header fields only a response carries.
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdResponseHeaderInfo() = default;

  void ParseRawHeaders() override;
  void Clear() override;

  const std::string& AcceptPatch() const { return m_acceptPatch; }
  void SetAcceptPatch(const std::string& value) { m_acceptPatch = value; }
  const std::string& AcceptRanges() const { return m_acceptRanges; }
  void SetAcceptRanges(const std::string& value) { m_acceptRanges = value; }
  const std::string& Location() const { return m_location; }
  void SetLocation(const std::string& value) { m_location = value; }
  const std::string& Server() const { return m_server; }
  void SetServer(const std::string& value) { m_server = value; }
  const std::string& ProxyConnection() const { return m_proxyConnection; }
  void SetProxyConnection(const std::string& value) { m_proxyConnection = value; }
  // Every Proxy-Authenticate and WWW-Authenticate value, one per line.
  TIdHeaderList& ProxyAuthenticate() { return m_proxyAuthenticate; }
  const TIdHeaderList& ProxyAuthenticate() const { return m_proxyAuthenticate; }
  TIdHeaderList& WWWAuthenticate() { return m_wwwAuthenticate; }
  const TIdHeaderList& WWWAuthenticate() const { return m_wwwAuthenticate; }

 private:
  std::string m_acceptPatch;
  std::string m_acceptRanges;
  std::string m_location;
  std::string m_server;
  std::string m_proxyConnection;
  TIdHeaderList m_proxyAuthenticate{TIdHeaderQuotingType::QuoteHTTP};
  TIdHeaderList m_wwwAuthenticate{TIdHeaderQuotingType::QuoteHTTP};
};

}  // namespace kv::http
