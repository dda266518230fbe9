#pragma once

#include <string>

#include "http/IdHTTPTypes.h"
#include "http/TIdRequestHeaderInfo.h"
#include "net/Forward.h"
#include "net/TIdIPVersion.h"

namespace kv::http {

// The request the client sends: its head fields plus what the exchange needs to send it.
class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  TIdHTTPRequest() = default;

  // Copies every field of another request (the authentication object stays with its owner).
  void Assign(const TIdHTTPRequest& source);

  // The URL asked for; replaced by the request target once the target is resolved.
  const std::string& URL() const { return m_url; }
  void SetURL(const std::string& value) { m_url = value; }
  const std::string& Method() const { return m_method; }
  void SetMethod(const std::string& value) { m_method = value; }
  // The body sent after the head; borrowed, none for a GET.
  kv::net::TIdStream* Source() const { return m_source; }
  void SetSource(kv::net::TIdStream* value) { m_source = value; }
  TIdHTTPConnectionType UseProxy() const { return m_useProxy; }
  void SetUseProxy(TIdHTTPConnectionType value) { m_useProxy = value; }
  kv::net::TIdIPVersion IPVersion() const { return m_ipVersion; }
  void SetIPVersion(kv::net::TIdIPVersion value) { m_ipVersion = value; }
  // Host and port of the connection in use.
  const std::string& Destination() const { return m_destination; }
  void SetDestination(const std::string& value) { m_destination = value; }

 private:
  std::string m_url;
  std::string m_method;
  kv::net::TIdStream* m_source = nullptr;
  TIdHTTPConnectionType m_useProxy = TIdHTTPConnectionType::ctNormal;
  kv::net::TIdIPVersion m_ipVersion = kv::net::TIdIPVersion::Id_IPv4;
  std::string m_destination;
};

}  // namespace kv::http
