#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/Forward.h"
#include "http/IdHTTPTypes.h"
#include "http/TIdAuthentication.h"
#include "http/TIdHTTPProtocol.h"
#include "http/TIdHTTPRequest.h"
#include "http/TIdHTTPResponse.h"
#include "http/TIdProxyConnectionInfo.h"
#include "http/TIdURI.h"
#include "net/TIdTCPClient.h"

namespace kv::http {

class TIdZLibCompressorBase;
class TIdAuthenticationManager;

// The HTTP/1.1 client: resolves a URL, reuses or opens a connection, sends the request head,
// reads the response head and lets the status-code policy read the body.
class TIdCustomHTTP : public kv::net::TIdTCPClientCustom {
 public:
  using TIdHTTPOnRedirectEvent =
      std::function<void(kv::net::TIdComponent& ASender, std::string& dest, int32_t& NumRedirect,
                         bool& Handled, std::string& VMethod)>;
  using TIdHTTPOnHeadersAvailableEvent =
      std::function<void(kv::net::TIdComponent& ASender, TIdHeaderList& AHeaders, bool& VContinue)>;
  using TIdSelectAuthorizationEvent =
      std::function<void(kv::net::TIdComponent& ASender,
                         TIdAuthenticationClass& AuthenticationClass, TIdHeaderList& AuthInfo)>;
  using TIdAuthorizationEvent = std::function<void(
      kv::net::TIdComponent& ASender, TIdAuthentication& Authentication, bool& Handled)>;
  using TIdChunkReceivedEvent =
      std::function<void(kv::net::TIdComponent& ASender, std::vector<uint8_t>& Chunk)>;

  TIdCustomHTTP();
  ~TIdCustomHTTP() override;

  // Fetches the URL into the stream. Statuses in ignoreReplies do not raise.
  void Get(const std::string& url, kv::net::TIdStream& responseContent);
  void Get(const std::string& url, kv::net::TIdStream& responseContent,
           const std::vector<int16_t>& ignoreReplies);

  // The exchange loop every request method ends in.
  virtual void ExecuteRequest(const std::string& method, const std::string& url,
                              kv::net::TIdStream* source, kv::net::TIdStream* responseContent,
                              const std::vector<int16_t>& ignoreReplies);

  int32_t ResponseCode() const { return m_protocol->Response().ResponseCode(); }
  const std::string& ResponseText() const { return m_protocol->Response().ResponseText(); }
  TIdHTTPRequest& Request() { return m_protocol->Request(); }
  // Copies the given request's fields into the held one.
  void SetRequest(const TIdHTTPRequest& request) { m_protocol->Request().Assign(request); }
  TIdHTTPResponse& Response() { return m_protocol->Response(); }
  // The URI of the last resolved request: the base for a following relative URL.
  TIdURI& URL() { return *m_uri; }

  TIdHTTPProtocolVersion ProtocolVersion() const { return m_protocolVersion; }
  void SetProtocolVersion(TIdHTTPProtocolVersion value) { m_protocolVersion = value; }
  const TIdHTTPOptions& HTTPOptions() const { return m_httpOptions; }
  void SetHTTPOptions(const TIdHTTPOptions& value) { m_httpOptions = value; }
  bool HandleRedirects() const { return m_handleRedirects; }
  void SetHandleRedirects(bool value) { m_handleRedirects = value; }
  int32_t RedirectMaximum() const { return m_redirectMaximum; }
  void SetRedirectMaximum(int32_t value) { m_redirectMaximum = value; }
  int32_t RedirectCount() const { return m_redirectCount; }
  int32_t MaxAuthRetries() const { return m_maxAuthRetries; }
  void SetMaxAuthRetries(int32_t value) { m_maxAuthRetries = value; }
  int32_t AuthRetries() const { return m_authRetries; }
  int32_t AuthProxyRetries() const { return m_authProxyRetries; }
  int32_t MaxHeaderLines() const { return m_maxHeaderLines; }
  void SetMaxHeaderLines(int32_t value) { m_maxHeaderLines = value; }
  bool AllowCookies() const { return m_allowCookies; }
  void SetAllowCookies(bool value) { m_allowCookies = value; }
  // The cookie store; created by the client at the first response head when none is assigned.
  TIdCookieManager* CookieManager() const { return m_cookieManager; }
  // Borrows the manager; one the client created itself is freed.
  void SetCookieManager(TIdCookieManager* manager);
  TIdAuthenticationManager* AuthenticationManager() const { return m_authenticationManager; }
  void SetAuthenticationManager(TIdAuthenticationManager* value) {
    m_authenticationManager = value;
  }
  TIdZLibCompressorBase* Compressor() const { return m_compressor; }
  void SetCompressor(TIdZLibCompressorBase* value) { m_compressor = value; }
  TIdProxyConnectionInfo& ProxyParams() { return *m_proxyParams; }

  TIdHTTPOnRedirectEvent OnRedirect;
  TIdHTTPOnHeadersAvailableEvent OnHeadersAvailable;
  TIdSelectAuthorizationEvent OnSelectAuthorization;
  TIdSelectAuthorizationEvent OnSelectProxyAuthorization;
  TIdAuthorizationEvent OnAuthorization;
  TIdAuthorizationEvent OnProxyAuthorization;
  TIdChunkReceivedEvent OnChunkReceived;

  // One line of the response head or of a chunked body; raises EIdReadTimeout "Read timed out."
  // when the read timed out.
  std::string ReadProtocolLine();
  // Reads the body that follows a response head into the response's content stream.
  void ReadResponseBody(TIdHTTPRequest& request, TIdHTTPResponse& response);

 protected:
  virtual std::unique_ptr<TIdHTTPProtocol> MakeProtocol();
  virtual bool AuthorizeServer(TIdHTTPRequest& request, TIdHTTPResponse& response);
  virtual bool AuthorizeProxy(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // Whether a redirect to location is followed; OnRedirect may change location and method.
  virtual bool ConfirmRedirect(std::string& location, std::string& method, int32_t redirectCount);
  // Runs inside every disconnect, after the I/O handler is closed: OnDisconnected, then the
  // hand-over of a finished authentication.
  virtual void ConnectionClosed();
  void DoOnDisconnected() override;

 private:
  friend class TIdHTTPProtocol;
  friend class TIdHTTPBodyReader;
  class ResponseOwnerView;

  // The narrow view of this client that its responses decide keep-alive with.
  TIdHTTPResponseOwner& ResponseOwner();

  void ResolveTarget(TIdHTTPRequest& request);
  void ConnectAndSend(TIdHTTPRequest& request, TIdHTTPResponse& response);
  TIdHTTPConnectionType ChooseEndpoint();
  void EnsureConnected(TIdHTTPRequest& request, TIdHTTPResponse& response);
  void ApplyConnectTimeAdjustments(TIdHTTPRequest& request);
  void OpenProxyTunnel(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // The status line and headers of the final response; interim 1xx heads are dropped.
  void ReadResponseHead(TIdHTTPRequest& request, TIdHTTPResponse& response);
  void AddRequestCookies(TIdURI& uri, TIdHTTPRequest& request);
  void StoreResponseCookies(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // The end of every exchange: closes the connection unless the keep-alive decision keeps it.
  void CloseUnlessKeptAlive();
  // Connected, with a failing check counted as connected so the caller still closes.
  bool ConnectedNoRaise();
  void DisconnectIfConnected();
  // Disconnects while another failure is on its way out, which must not be replaced.
  void DisconnectQuietly();

  bool DoOnHeadersAvailable(TIdHeaderList& headers);
  void DoOnChunkReceived(std::vector<uint8_t>& chunk);

  std::unique_ptr<TIdURI> m_uri;
  std::unique_ptr<ResponseOwnerView> m_ownerView;
  std::unique_ptr<TIdHTTPProtocol> m_protocol;
  std::unique_ptr<TIdProxyConnectionInfo> m_proxyParams;
  TIdHTTPProtocolVersion m_protocolVersion = TIdHTTPProtocolVersion::pv1_1;
  TIdHTTPOptions m_httpOptions{TIdHTTPOption::hoForceEncodeParams};
  bool m_handleRedirects = false;
  int32_t m_redirectMaximum = 15;
  int32_t m_redirectCount = 0;
  int32_t m_maxAuthRetries = 3;
  int32_t m_authRetries = 0;
  int32_t m_authProxyRetries = 0;
  int32_t m_maxHeaderLines = 255;
  bool m_allowCookies = true;
  TIdCookieManager* m_cookieManager = nullptr;
  std::unique_ptr<TIdCookieManager> m_implicitCookieManager;
  TIdAuthenticationManager* m_authenticationManager = nullptr;
  TIdZLibCompressorBase* m_compressor = nullptr;
};

}  // namespace kv::http
