#include "http/TIdCustomHTTP.h"

#include <string>
#include <utility>

#include "http/EIdHTTPException.h"
#include "http/IdGlobalProtocols.h"
#include "http/TIdAuthentication.h"
#include "http/TIdAuthenticationManager.h"
#include "http/TIdCookieManager.h"
#include "http/TIdHTTPBodyReader.h"
#include "http/TIdIOHandlerRegistry.h"
#include "http/TIdZLibCompressorBase.h"
#include "net/IdExceptions.h"
#include "net/TIdIOHandler.h"
#include "net/TIdIOHandlerSocket.h"
#include "net/TIdSocketHandle.h"
#include "net/TIdStack.h"
#include "net/TIdStream.h"

namespace kv::http {

using kv::net::TIdIPVersion;
using kv::net::TIdStream;

namespace {

constexpr uint16_t kDefaultHTTPPort = 80;
constexpr int64_t kLargestPort = 65535;

bool IsMethod(const TIdHTTPRequest& request, const char* method) {
  return TextIsSame(request.Method(), method) || TextIsSame(request.MethodOverride(), method);
}

// The port of a URL: 80 when the text is no number; a number that is no port gives 0, which the
// connect refuses instead of reaching some other port.
uint16_t PortOf(const std::string& text) {
  const int64_t port = StrToInt64Def(Trim(text), kDefaultHTTPPort);
  return port < 0 || port > kLargestPort ? 0 : static_cast<uint16_t>(port);
}

bool IsValidIPv6(const std::string& host) {
  kv::net::TIdStack* stack = kv::net::TIdStack::Instance();
  return stack != nullptr && stack->IsIPv6(host);
}

// Adds one coding to an Accept-Encoding list unless it is already named.
void AddEncoding(std::string& list, const char* coding) {
  if (TextPos(list, coding) != std::string::npos) {
    return;
  }
  list = list.empty() ? std::string(coding) : list + ", " + coding;
}

// The scheme class of the first challenge whose scheme is registered, or nullptr.
TIdAuthenticationClass FirstKnownScheme(const TIdHeaderList& challenges) {
  for (int i = 0; i < challenges.Count(); ++i) {
    std::string challenge = challenges[i];
    if (TIdAuthenticationClass authClass = FindAuthClass(Fetch(challenge, " "))) {
      return authClass;
    }
  }
  return nullptr;
}

}  // namespace

// The keep-alive decision's view of the client.
class TIdCustomHTTP::ResponseOwnerView final : public TIdHTTPResponseOwner {
 public:
  explicit ResponseOwnerView(TIdCustomHTTP& client) : m_client(client) {}

  bool CheckConnected() override {
    // A connection whose check fails (a reset, say) cannot be kept.
    try {
      if (m_client.Connected()) {
        m_client.IOHandler()->CheckForDisconnect(false);
      }
      return m_client.Connected();
    } catch (const kv::net::EIdException&) {
      return false;
    }
  }
  std::string RequestConnection() const override { return m_client.Request().Connection(); }
  std::string RequestProxyConnection() const override {
    return m_client.Request().ProxyConnection();
  }
  TIdHTTPConnectionType RequestUseProxy() const override { return m_client.Request().UseProxy(); }
  TIdHTTPProtocolVersion ClientProtocolVersion() const override {
    return m_client.ProtocolVersion();
  }

 private:
  TIdCustomHTTP& m_client;
};

TIdCustomHTTP::TIdCustomHTTP()
    : m_uri(std::make_unique<TIdURI>()),
      m_ownerView(std::make_unique<ResponseOwnerView>(*this)),
      m_proxyParams(std::make_unique<TIdProxyConnectionInfo>()) {
  m_protocol = MakeProtocol();
  m_proxyParams->Clear();
}

TIdCustomHTTP::~TIdCustomHTTP() {
  // The base class closes a connection still open, without OnDisconnected.
  m_protocol.reset();
  m_uri.reset();
  m_proxyParams.reset();
  m_cookieManager = nullptr;
  m_implicitCookieManager.reset();
}

TIdHTTPResponseOwner& TIdCustomHTTP::ResponseOwner() {
  return *m_ownerView;
}

std::unique_ptr<TIdHTTPProtocol> TIdCustomHTTP::MakeProtocol() {
  return std::make_unique<TIdHTTPProtocol>(*this);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
  if (manager == m_cookieManager) {
    return;
  }
  m_cookieManager = manager;
  if (m_implicitCookieManager != nullptr && m_implicitCookieManager.get() != manager) {
    m_implicitCookieManager.reset();
  }
}

void TIdCustomHTTP::Get(const std::string& url, TIdStream& responseContent) {
  Get(url, responseContent, {});
}

void TIdCustomHTTP::Get(const std::string& url, TIdStream& responseContent,
                        const std::vector<int16_t>& ignoreReplies) {
  ExecuteRequest("GET", url, nullptr, &responseContent, ignoreReplies);
}

void TIdCustomHTTP::ExecuteRequest(const std::string& method, const std::string& url,
                                   TIdStream* source, TIdStream* responseContent,
                                   const std::vector<int16_t>& ignoreReplies) {
  m_redirectCount = 0;
  m_authRetries = 0;
  m_authProxyRetries = 0;
  const int64_t startPosition = responseContent != nullptr ? responseContent->Position() : 0;
  TIdHTTPRequest& request = Request();
  TIdHTTPResponse& response = Response();
  request.SetURL(url);
  request.SetMethod(method);
  request.SetSource(source);
  response.SetContentStream(responseContent);

  try {
    for (bool again = true; again;) {
      ResolveTarget(request);
      if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler())) {
        tls->SetURIToCheck(m_uri->URI());
      }
      ConnectAndSend(request, response);
      ReadResponseHead(request, response);
      switch (m_protocol->ProcessResponse(ignoreReplies)) {
        case TIdHTTPWhatsNext::wnGoToURL:
          // Nothing of the redirect stays in the caller's stream.
          if (responseContent != nullptr) {
            responseContent->SetPosition(startPosition);
            responseContent->SetSize(startPosition);
          }
          m_authRetries = 0;
          m_authProxyRetries = 0;
          break;
        case TIdHTTPWhatsNext::wnAuthRequest:
          request.SetURL(url);
          break;
        case TIdHTTPWhatsNext::wnReadAndGo:
          ReadResponseBody(request, response);
          break;
        case TIdHTTPWhatsNext::wnDontKnow:
          throw kv::net::EIdException("Not Acceptable");
        case TIdHTTPWhatsNext::wnJustExit:
          again = false;
          break;
      }
    }
  } catch (const EIdHTTPProtocolException&) {
    // The error answer was read to its end, so its connection may serve the next request.
    try {
      CloseUnlessKeptAlive();
    } catch (...) {
      // The failure of the exchange is the one to report.
    }
    throw;
  } catch (...) {
    // Anything else may leave part of an answer on its way: that connection is not reused.
    DisconnectQuietly();
    throw;
  }
  CloseUnlessKeptAlive();
}

void TIdCustomHTTP::CloseUnlessKeptAlive() {
  if (!Response().KeepAlive()) {
    Disconnect();
  }
}

std::string TIdCustomHTTP::ReadProtocolLine() {
  kv::net::TIdIOHandler* io = IOHandler();
  if (io == nullptr) {
    throw kv::net::EIdNotConnected();
  }
  std::string line = io->ReadLn();
  if (io->ReadLnTimedout()) {
    throw kv::net::EIdReadTimeout();
  }
  return line;
}

void TIdCustomHTTP::ReadResponseHead(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  for (;;) {
    response.SetResponseText(ReadProtocolLine());
    m_protocol->RetrieveHeaders(m_maxHeaderLines);
    StoreResponseCookies(request, response);
    const int32_t code = response.ResponseCode();
    // An interim answer (100 Continue and the like) is followed by the real one; 101 is final.
    if (code / 100 != 1 || code == 101) {
      return;
    }
  }
}

void TIdCustomHTTP::ReadResponseBody(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  TIdHTTPBodyReader(*this, request, response).ReadResponseBody();
}

void TIdCustomHTTP::ResolveTarget(TIdHTTPRequest& request) {
  TIdURI& uri = *m_uri;
  const TIdURI target(request.URL());
  if (!target.Username().empty()) {
    request.SetUsername(target.Username());
    request.SetPassword(target.Password());
  }
  uri.SetUsername(request.Username());
  uri.SetPassword(request.Password());
  uri.SetPath(TIdURI::MergePath(uri.Path(), target.Path()));
  uri.SetDocument(target.Document());
  uri.SetParams(target.Params());
  if (!target.Host().empty()) {
    uri.SetHost(target.Host());
    // A relative URL stays on the host (and so the IP version) of the previous request.
    uri.SetIPVersion(target.IPVersion());
  }
  if (!target.Protocol().empty()) {
    uri.SetProtocol(target.Protocol());
  } else {
    uri.SetProtocol(TextIsSame(uri.Protocol(), "https") ? "https" : "http");
  }
  if (!target.Port().empty()) {
    uri.SetPort(target.Port());
  } else if (TextIsSame(target.Protocol(), "http")) {
    uri.SetPort("80");
  } else if (TextIsSame(target.Protocol(), "https")) {
    uri.SetPort("443");
  } else if (uri.Port().empty()) {
    throw EIdUnknownProtocol();
  }

  if (IsMethod(request, "OPTIONS") && target.Document() == "*") {
    request.SetURL("*");
  } else {
    request.SetURL(uri.GetPathAndParams());
  }
  request.SetIPVersion(uri.IPVersion());

  if ((IsMethod(request, "TRACE") || IsMethod(request, "PUT") || IsMethod(request, "OPTIONS") ||
       IsMethod(request, "DELETE")) &&
      m_protocolVersion != TIdHTTPProtocolVersion::pv1_1) {
    throw kv::net::EIdException(kRequestMethodRequires11);
  }

  if (request.Source() != nullptr) {
    request.SetContentLength(request.Source()->Size());
  } else {
    request.SetContentLength(TextIsSame(request.Method(), "POST") ? 0 : -1);
  }

  std::string host = uri.Host();
  if (uri.IPVersion() == TIdIPVersion::Id_IPv6 && IsValidIPv6(host)) {
    host = "[" + host + "]";
  }
  const bool defaultPort = (TextIsSame(uri.Protocol(), "http") && uri.Port() == "80") ||
                           (TextIsSame(uri.Protocol(), "https") && uri.Port() == "443");
  request.SetHost(defaultPort ? host : host + ":" + uri.Port());
}

bool TIdCustomHTTP::ConnectedNoRaise() {
  try {
    return Connected();
  } catch (const kv::net::EIdException&) {
    // A failed check leaves a socket that still has to be closed.
    return true;
  }
}

void TIdCustomHTTP::DisconnectIfConnected() {
  if (ConnectedNoRaise()) {
    Disconnect();
  }
}

void TIdCustomHTTP::DisconnectQuietly() {
  try {
    Disconnect();
  } catch (...) {
    // Only the failure already on its way out is reported.
  }
}

void TIdCustomHTTP::ConnectAndSend(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  if (IOHandler() != nullptr) {
    IOHandler()->InputBuffer().Clear();
  }
  const std::string destination = m_uri->Host() + ":" + m_uri->Port();
  const TIdHTTPConnectionType previous = request.UseProxy();
  request.SetUseProxy(ChooseEndpoint());
  if (request.UseProxy() != previous) {
    DisconnectIfConnected();
  } else if (previous == TIdHTTPConnectionType::ctSSLProxy &&
             !TextIsSame(request.Destination(), destination)) {
    DisconnectIfConnected();
  }
  request.SetDestination(destination);

  ApplyConnectTimeAdjustments(request);
  bool tunnel = false;
  if (request.UseProxy() == TIdHTTPConnectionType::ctProxy) {
    tunnel =
        m_httpOptions.Contains(TIdHTTPOption::hoNonSSLProxyUseConnectVerb) && !ConnectedNoRaise();
  } else if (request.UseProxy() == TIdHTTPConnectionType::ctSSLProxy) {
    tunnel = !ConnectedNoRaise();
  }
  if (tunnel) {
    OpenProxyTunnel(request, response);
  } else {
    EnsureConnected(request, response);
  }

  m_protocol->BuildAndSendRequest(m_uri.get());
  if (request.Source() != nullptr) {
    IOHandler()->Write(*request.Source(), 0, false);
  }
}

TIdHTTPConnectionType TIdCustomHTTP::ChooseEndpoint() {
  const bool https = TextIsSame(m_uri->Protocol(), "HTTPS");
  const TIdProxyConnectionInfo& proxy = *m_proxyParams;
  if (!proxy.ProxyServer().empty()) {
    if (!TextIsSame(Host(), proxy.ProxyServer()) || Port() != proxy.ProxyPort()) {
      DisconnectIfConnected();
    }
    SetHost(proxy.ProxyServer());
    SetPort(proxy.ProxyPort());
    return https ? TIdHTTPConnectionType::ctSSLProxy : TIdHTTPConnectionType::ctProxy;
  }

  if (Socket() != nullptr && Socket()->Binding() != nullptr &&
      Socket()->Binding()->IPVersion() != m_uri->IPVersion()) {
    DisconnectIfConnected();
  }
  const uint16_t port = PortOf(m_uri->Port());
  if (!TextIsSame(Host(), m_uri->Host()) || Port() != port) {
    DisconnectIfConnected();
  }
  SetHost(m_uri->Host());
  SetPort(port);
  return https ? TIdHTTPConnectionType::ctSSL : TIdHTTPConnectionType::ctNormal;
}

void TIdCustomHTTP::ApplyConnectTimeAdjustments(TIdHTTPRequest& request) {
  const bool http10 = m_protocolVersion == TIdHTTPProtocolVersion::pv1_0;
  switch (request.UseProxy()) {
    case TIdHTTPConnectionType::ctNormal:
    case TIdHTTPConnectionType::ctSSL:
      // HTTP/1.0 closes after each answer unless asked not to.
      if (http10 && request.Connection().empty()) {
        request.SetConnection("keep-alive");
      }
      break;
    case TIdHTTPConnectionType::ctProxy:
      // A proxy needs the absolute URL.
      request.SetURL(m_uri->URI());
      if (http10 && request.Connection().empty()) {
        request.SetProxyConnection("keep-alive");
      }
      break;
    case TIdHTTPConnectionType::ctSSLProxy:
      break;
  }

  std::string acceptEncoding = request.AcceptEncoding();
  if (m_compressor != nullptr && m_compressor->IsReady()) {
    AddEncoding(acceptEncoding, "deflate");
    AddEncoding(acceptEncoding, "gzip");
  }
  if (!acceptEncoding.empty() && TextPos(acceptEncoding, "identity") == std::string::npos) {
    acceptEncoding += ", identity";
  }
  request.SetAcceptEncoding(acceptEncoding);
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  // The previous answer decides whether its connection may carry this request.
  if (!response.KeepAlive()) {
    Disconnect();
  }
  if (IOHandler() != nullptr) {
    IOHandler()->InputBuffer().Clear();
  }
  CheckForGracefulDisconnect(false);
  if (ConnectedNoRaise()) {
    return;
  }

  SetIPVersion(m_uri->IPVersion());
  switch (request.UseProxy()) {
    case TIdHTTPConnectionType::ctNormal:
    case TIdHTTPConnectionType::ctProxy:
      if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler())) {
        tls->SetPassThrough(true);
        tls->SetURIToCheck(m_uri->URI());
      }
      break;
    case TIdHTTPConnectionType::ctSSL:
    case TIdHTTPConnectionType::ctSSLProxy: {
      if (IOHandler() == nullptr) {
        std::unique_ptr<TIdSSLIOHandlerSocketBase> handler =
            TIdIOHandlerRegistry::Instance().TryMakeIOHandler();
        if (handler == nullptr) {
          throw EIdIOHandlerPropInvalid();
        }
        handler->OnStatus = OnStatus;
        SetManagedIOHandler(std::move(handler));
      }
      auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler());
      if (tls == nullptr) {
        throw EIdIOHandlerPropInvalid();
      }
      tls->SetURIToCheck(m_uri->URI());
      tls->SetPassThrough(request.UseProxy() == TIdHTTPConnectionType::ctSSLProxy);
      break;
    }
  }
  Connect();
}

void TIdCustomHTTP::OpenProxyTunnel(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  EnsureConnected(request, response);
  // A protocol holder of its own, so the real request and response stay untouched.
  TIdHTTPProtocol tunnel(*this);
  TIdHTTPRequest& connect = tunnel.Request();
  connect.SetMethod("CONNECT");
  connect.SetURL(request.Destination());
  connect.SetHost(request.Destination());
  connect.SetUserAgent(request.UserAgent());
  connect.SetPragma("no-cache");
  connect.SetProxyConnection("keep-alive");
  tunnel.BuildAndSendRequest(nullptr);
  TIdHTTPResponse& answer = tunnel.Response();
  answer.SetResponseText(ReadProtocolLine());
  tunnel.RetrieveHeaders(m_maxHeaderLines);
  if (answer.ResponseCode() / 100 != 2) {
    // The proxy refused the tunnel; its answer cannot be followed by the real one.
    Disconnect();
    throw EIdHTTPProtocolException(answer.ResponseCode(), answer.ResponseText(), {});
  }
  if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler())) {
    tls->SetPassThrough(false);
  }
}

void TIdCustomHTTP::AddRequestCookies(TIdURI& uri, TIdHTTPRequest& request) {
  if (m_allowCookies && m_cookieManager != nullptr) {
    request.RawHeaders().AddValue("Cookie", m_cookieManager->GenerateClientCookies(uri));
  }
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPRequest& /*request*/, TIdHTTPResponse& response) {
  if (!m_allowCookies) {
    return;
  }
  if (m_cookieManager == nullptr) {
    m_implicitCookieManager = std::make_unique<TIdCookieManager>();
    m_cookieManager = m_implicitCookieManager.get();
  }
  std::vector<std::string> cookies = response.RawHeaders().Extract("Set-Cookie");
  for (std::string& cookie : response.MetaHTTPEquiv().RawHeaders().Extract("Set-Cookie")) {
    cookies.push_back(std::move(cookie));
  }
  m_cookieManager->AddServerCookies(cookies, *m_uri);
}

bool TIdCustomHTTP::ConfirmRedirect(std::string& location, std::string& method,
                                    int32_t redirectCount) {
  bool handled = m_handleRedirects;
  if (OnRedirect) {
    // The hook sees the count but cannot change it.
    int32_t count = redirectCount;
    OnRedirect(*this, location, count, handled, method);
  }
  return handled;
}

bool TIdCustomHTTP::AuthorizeServer(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  ++m_authRetries;
  if (request.Authentication() == nullptr) {
    TIdAuthenticationClass authClass = FirstKnownScheme(response.WWWAuthenticate());
    if (OnSelectAuthorization) {
      OnSelectAuthorization(*this, authClass, response.WWWAuthenticate());
    }
    if (authClass == nullptr) {
      return false;
    }
    request.SetAuthentication(authClass());
  }
  TIdAuthentication& authentication = *request.Authentication();
  authentication.SetUsername(request.Username());
  authentication.SetPassword(request.Password());
  authentication.Params().SetValue("Authorization", authentication.Authentication());
  authentication.SetAuthParams(response.WWWAuthenticate());

  // A program that keeps answering without giving the scheme what it asks for would otherwise
  // be asked for ever.
  for (int32_t asked = 0;;) {
    switch (authentication.Next()) {
      case TIdAuthWhatsNext::wnDoRequest:
        return true;
      case TIdAuthWhatsNext::wnFail:
        return false;
      case TIdAuthWhatsNext::wnAskTheProgram: {
        if (!OnAuthorization || asked++ >= m_maxAuthRetries) {
          return false;
        }
        authentication.SetUsername(request.Username());
        authentication.SetPassword(request.Password());
        bool handled = false;
        OnAuthorization(*this, authentication, handled);
        if (!handled) {
          return false;
        }
        request.SetBasicAuthentication(true);
        request.SetUsername(authentication.Username());
        request.SetPassword(authentication.Password());
        break;
      }
    }
  }
}

bool TIdCustomHTTP::AuthorizeProxy(TIdHTTPRequest& /*request*/, TIdHTTPResponse& response) {
  ++m_authProxyRetries;
  TIdProxyConnectionInfo& proxy = *m_proxyParams;
  if (proxy.Authentication() == nullptr) {
    TIdAuthenticationClass authClass = FirstKnownScheme(response.ProxyAuthenticate());
    if (OnSelectProxyAuthorization) {
      OnSelectProxyAuthorization(*this, authClass, response.ProxyAuthenticate());
    }
    if (authClass == nullptr) {
      return false;
    }
    proxy.SetAuthentication(authClass());
  }
  TIdAuthentication& authentication = *proxy.Authentication();
  authentication.SetUsername(proxy.ProxyUsername());
  authentication.SetPassword(proxy.ProxyPassword());
  authentication.SetAuthParams(response.ProxyAuthenticate());

  for (int32_t asked = 0;;) {
    switch (authentication.Next()) {
      case TIdAuthWhatsNext::wnDoRequest:
        return true;
      case TIdAuthWhatsNext::wnFail:
        return false;
      case TIdAuthWhatsNext::wnAskTheProgram: {
        if (!OnProxyAuthorization || asked++ >= m_maxAuthRetries) {
          return false;
        }
        authentication.SetUsername(proxy.ProxyUsername());
        authentication.SetPassword(proxy.ProxyPassword());
        bool handled = false;
        OnProxyAuthorization(*this, authentication, handled);
        if (!handled) {
          return false;
        }
        proxy.SetProxyUsername(authentication.Username());
        proxy.SetProxyPassword(authentication.Password());
        break;
      }
    }
  }
}

void TIdCustomHTTP::DoOnDisconnected() {
  ConnectionClosed();
}

void TIdCustomHTTP::ConnectionClosed() {
  TIdTCPClientCustom::DoOnDisconnected();
  if (m_protocol == nullptr) {
    return;
  }
  TIdHTTPRequest& request = Request();
  if (request.Authentication() != nullptr && request.Authentication()->AllStepsDone()) {
    std::unique_ptr<TIdAuthentication> finished = request.ReleaseAuthentication();
    if (m_authenticationManager != nullptr) {
      m_authenticationManager->AddAuthentication(*finished, *m_uri);
    }
  }
  if (TIdAuthentication* proxyAuthentication = m_proxyParams->Authentication()) {
    if (proxyAuthentication->AllStepsDone()) {
      proxyAuthentication->Reset();
    }
  }
}

bool TIdCustomHTTP::DoOnHeadersAvailable(TIdHeaderList& headers) {
  bool continueExchange = true;
  if (OnHeadersAvailable) {
    OnHeadersAvailable(*this, headers, continueExchange);
  }
  return continueExchange;
}

void TIdCustomHTTP::DoOnChunkReceived(std::vector<uint8_t>& chunk) {
  if (OnChunkReceived) {
    OnChunkReceived(*this, chunk);
  }
}

}  // namespace kv::http
