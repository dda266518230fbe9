#pragma once

// Forward declarations of the HTTP client, so headers stay light.
namespace kv::http {

class TIdURI;
class TIdHeaderList;
class TIdEntityHeaderInfo;
class TIdRequestHeaderInfo;
class TIdResponseHeaderInfo;
class TIdHTTPRequest;
class TIdHTTPResponse;
class TIdMetaHTTPEquiv;
class TIdEntityRanges;
class TIdHTTPProtocol;
class TIdCustomHTTP;
class TIdHTTP;
class TIdCookieManager;
class TIdAuthentication;

}  // namespace kv::http
