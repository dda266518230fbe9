#include "http/TIdHTTPRequest.h"

namespace kv::http {

void TIdHTTPRequest::Assign(const TIdHTTPRequest& source) {
  if (&source == this) {
    return;
  }
  AssignRequestHeaders(source);
  m_url = source.m_url;
  m_method = source.m_method;
  m_source = source.m_source;
  m_useProxy = source.m_useProxy;
  m_ipVersion = source.m_ipVersion;
  m_destination = source.m_destination;
}

}  // namespace kv::http
