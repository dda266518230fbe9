#include "http/TIdHTTPResponse.h"

#include <string>

#include "http/IdGlobalProtocols.h"

namespace kv::http {

namespace {

// The version digits follow the five characters "HTTP/".
constexpr size_t kVersionOffset = 5;
constexpr size_t kVersionLength = 3;

bool IsValue(const std::string& value, const char* keyword) {
  return TextIsSame(Trim(value), keyword);
}

}  // namespace

int32_t ParseResponseCode(const std::string& statusLine) {
  std::string rest = statusLine;
  Fetch(rest, " ");
  rest = Trim(rest);
  std::string code = Fetch(rest, " ");
  code = Fetch(code, ".");
  return StrToIntDef(Trim(code), -1);
}

TIdHTTPProtocolVersion ParseResponseVersion(const std::string& statusLine) {
  if (statusLine.size() > kVersionOffset) {
    const std::string digits = statusLine.substr(kVersionOffset, kVersionLength);
    if (TextIsSame(digits, "1.1")) {
      return TIdHTTPProtocolVersion::pv1_1;
    }
  }
  return TIdHTTPProtocolVersion::pv1_0;
}

TIdHTTPResponse::TIdHTTPResponse(TIdHTTPResponseOwner& owner)
    : m_owner(owner), m_metaHTTPEquiv(std::make_unique<TIdMetaHTTPEquiv>()) {}

TIdHTTPResponse::~TIdHTTPResponse() = default;

void TIdHTTPResponse::Clear() {
  TIdResponseHeaderInfo::Clear();
  m_metaHTTPEquiv->Clear();
}

void TIdHTTPResponse::SetResponseText(const std::string& value) {
  m_responseText = value;
  m_responseCode = -1;
  m_responseVersion = ParseResponseVersion(value);
}

int32_t TIdHTTPResponse::ResponseCode() const {
  if (m_responseCode == -1) {
    m_responseCode = ParseResponseCode(m_responseText);
  }
  return m_responseCode;
}

bool TIdHTTPResponse::KeepAlive() {
  m_keepAlive = m_owner.CheckConnected();
  if (!m_keepAlive) {
    return false;
  }
  const bool throughProxy = IsProxyConnection(m_owner.RequestUseProxy());
  m_keepAlive = !IsValue(m_owner.RequestConnection(), "CLOSE");
  if (m_keepAlive && throughProxy) {
    m_keepAlive = !IsValue(m_owner.RequestProxyConnection(), "CLOSE");
  }
  if (!m_keepAlive) {
    return false;
  }
  // HTTP/1.0 keeps a connection only when asked to, HTTP/1.1 unless told to close. The client's
  // version decides, not the one the server names.
  if (m_owner.ClientProtocolVersion() == TIdHTTPProtocolVersion::pv1_0) {
    m_keepAlive = IsValue(Connection(), "KEEP-ALIVE");
    if (m_keepAlive && throughProxy) {
      m_keepAlive = IsValue(ProxyConnection(), "KEEP-ALIVE");
    }
  } else {
    m_keepAlive = !IsValue(Connection(), "CLOSE");
    if (m_keepAlive && throughProxy) {
      m_keepAlive = !IsValue(ProxyConnection(), "CLOSE");
    }
  }
  return m_keepAlive;
}

}  // namespace kv::http
