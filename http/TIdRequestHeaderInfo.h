#pragma once

#include <memory>
#include <string>

#include "http/Forward.h"
#include "http/TIdEntityHeaderInfo.h"
#include "http/TIdEntityRanges.h"

namespace kv::http {

// The header fields only a request carries, and the composition of a request head.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  static constexpr const char* kDefaultAccept =
      "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  static constexpr const char* kDefaultUserAgent = "Mozilla/3.0 (compatible; KAVORA download)";

  TIdRequestHeaderInfo();
  ~TIdRequestHeaderInfo() override;

  // The base class's lines, then the request fields; the proxy credentials and the cookie are
  // added elsewhere.
  void ComposeRawHeaders() override;
  // Also restores the default Accept and User-Agent and empties the ranges.
  void Clear() override;

  const std::string& Accept() const { return m_accept; }
  void SetAccept(const std::string& value) { m_accept = value; }
  const std::string& AcceptCharSet() const { return m_acceptCharSet; }
  void SetAcceptCharSet(const std::string& value) { m_acceptCharSet = value; }
  const std::string& AcceptEncoding() const { return m_acceptEncoding; }
  void SetAcceptEncoding(const std::string& value) { m_acceptEncoding = value; }
  const std::string& AcceptLanguage() const { return m_acceptLanguage; }
  void SetAcceptLanguage(const std::string& value) { m_acceptLanguage = value; }
  const std::string& From() const { return m_from; }
  void SetFrom(const std::string& value) { m_from = value; }
  const std::string& Referer() const { return m_referer; }
  void SetReferer(const std::string& value) { m_referer = value; }
  const std::string& UserAgent() const { return m_userAgent; }
  void SetUserAgent(const std::string& value) { m_userAgent = value; }
  const std::string& Host() const { return m_host; }
  void SetHost(const std::string& value) { m_host = value; }
  const std::string& ProxyConnection() const { return m_proxyConnection; }
  void SetProxyConnection(const std::string& value) { m_proxyConnection = value; }
  const std::string& MethodOverride() const { return m_methodOverride; }
  void SetMethodOverride(const std::string& value) { m_methodOverride = value; }
  const std::string& Username() const { return m_username; }
  void SetUsername(const std::string& value) { m_username = value; }
  const std::string& Password() const { return m_password; }
  void SetPassword(const std::string& value) { m_password = value; }
  bool BasicAuthentication() const { return m_basicAuthentication; }
  void SetBasicAuthentication(bool value) { m_basicAuthentication = value; }
  TIdEntityRanges& Ranges() { return m_ranges; }
  const TIdEntityRanges& Ranges() const { return m_ranges; }

  // The scheme object that supplies the Authorization value; owned by the request.
  TIdAuthentication* Authentication() const { return m_authentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> authentication);
  std::unique_ptr<TIdAuthentication> ReleaseAuthentication();

 protected:
  // Copies every field except the authentication object.
  void AssignRequestHeaders(const TIdRequestHeaderInfo& source);

 private:
  // The Authorization value: the scheme's, or a basic one made on demand; empty for none.
  std::string AuthorizationValue();

  std::string m_accept = kDefaultAccept;
  std::string m_acceptCharSet;
  std::string m_acceptEncoding;
  std::string m_acceptLanguage;
  std::string m_from;
  std::string m_referer;
  std::string m_userAgent = kDefaultUserAgent;
  std::string m_host;
  std::string m_proxyConnection;
  std::string m_methodOverride;
  std::string m_username;
  std::string m_password;
  bool m_basicAuthentication = false;
  TIdEntityRanges m_ranges;
  std::unique_ptr<TIdAuthentication> m_authentication;
};

}  // namespace kv::http
