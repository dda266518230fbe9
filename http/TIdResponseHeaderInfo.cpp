#include "http/TIdResponseHeaderInfo.h"

namespace kv::http {

void TIdResponseHeaderInfo::ParseRawHeaders() {
  TIdEntityHeaderInfo::ParseRawHeaders();
  const TIdHeaderList& headers = RawHeaders();
  m_location = headers.GetValue("Location");
  m_server = headers.GetValue("Server");
  m_proxyConnection = headers.GetValue("Proxy-Connection");
  m_wwwAuthenticate.Clear();
  headers.Extract("WWW-Authenticate", &m_wwwAuthenticate);
  m_proxyAuthenticate.Clear();
  headers.Extract("Proxy-Authenticate", &m_proxyAuthenticate);
  m_acceptPatch = headers.GetValue("Accept-Patch");
  m_acceptRanges = headers.GetValue("Accept-Ranges");
}

void TIdResponseHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  SetContentType({});
  m_location.clear();
  m_server.clear();
  m_acceptPatch.clear();
  m_acceptRanges.clear();
  m_proxyAuthenticate.Clear();
  m_wwwAuthenticate.Clear();
}

}  // namespace kv::http
