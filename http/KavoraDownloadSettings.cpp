#include "http/KavoraDownloadSettings.h"

#include "http/TIdHTTP.h"

namespace kv::http {

void ApplyKavoraDownloadSettings(TIdHTTP& http) {
  TIdHTTPRequest& request = http.Request();
  request.SetAccept("text/html, */*");
  request.SetUserAgent("Mozilla/3.0 (compatible; KAVORA download)");
  request.SetContentLength(-1);
  request.SetContentRangeStart(-1);
  request.SetContentRangeEnd(-1);
  request.SetContentRangeInstanceLength(-1);
  request.SetBasicAuthentication(false);
  request.Ranges().Clear();
  request.Ranges().SetUnits("bytes");
  TIdProxyConnectionInfo& proxy = http.ProxyParams();
  proxy.SetBasicAuthentication(false);
  proxy.SetProxyPort(0);
  proxy.SetProxyServer({});
  http.SetReadTimeout(kKavoraDownloadReadTimeoutMs);
}

}  // namespace kv::http
