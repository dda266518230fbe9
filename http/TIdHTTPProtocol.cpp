#include "http/TIdHTTPProtocol.h"

#include <algorithm>
#include <string>

#include "http/EIdHTTPException.h"
#include "http/IdGlobalProtocols.h"
#include "http/IdTextDecoding.h"
#include "http/TIdAuthentication.h"
#include "http/TIdCustomHTTP.h"
#include "net/IdExceptions.h"
#include "net/TIdIOHandler.h"
#include "net/TIdStream.h"

namespace kv::http {

namespace {

bool IsHeadRequest(const TIdHTTPRequest& request) {
  return TextIsSame(request.Method(), "HEAD") || TextIsSame(request.MethodOverride(), "HEAD");
}

// Puts the response's content stream back when the scope ends, whatever happened.
class TContentStreamSwap {
 public:
  TContentStreamSwap(TIdHTTPResponse& response, kv::net::TIdStream* replacement)
      : m_response(response), m_saved(response.ContentStream()) {
    m_response.SetContentStream(replacement);
  }
  ~TContentStreamSwap() { m_response.SetContentStream(m_saved); }
  TContentStreamSwap(const TContentStreamSwap&) = delete;
  TContentStreamSwap& operator=(const TContentStreamSwap&) = delete;

 private:
  TIdHTTPResponse& m_response;
  kv::net::TIdStream* m_saved;
};

}  // namespace

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP& owner)
    : m_owner(owner),
      m_request(std::make_unique<TIdHTTPRequest>()),
      m_response(std::make_unique<TIdHTTPResponse>(owner.ResponseOwner())) {}

TIdHTTPProtocol::~TIdHTTPProtocol() = default;

void TIdHTTPProtocol::RetrieveHeaders(int32_t maxHeaderCount) {
  m_response->Clear();
  m_response->SetHeadComplete(false);
  m_response->SetBodyComplete(false);
  TIdHeaderList& headers = m_response->RawHeaders();
  try {
    std::string line = m_owner.ReadProtocolLine();
    // The line after the last one stored is read too, so that a head of exactly the limit
    // consumes its empty line instead of leaving it to start the body.
    while (!line.empty()) {
      if (maxHeaderCount > 0 && headers.Count() >= maxHeaderCount) {
        break;
      }
      headers.Add(line);
      line = m_owner.ReadProtocolLine();
    }
    m_response->SetHeadComplete(line.empty());
  } catch (const kv::net::EIdConnClosedGracefully&) {
    // The server ended the head early: what arrived is the head. The unterminated rest of a
    // line is part of that head, not the start of a body.
    m_owner.Disconnect();
    if (kv::net::TIdIOHandler* io = m_owner.IOHandler()) {
      io->InputBuffer().Clear();
    }
  } catch (...) {
    m_owner.DisconnectQuietly();
    throw;
  }
  m_response->ParseRawHeaders();
}

void TIdHTTPProtocol::BuildAndSendRequest(TIdURI* uri) {
  TIdHTTPRequest& request = *m_request;
  if (TIdAuthentication* authentication = request.Authentication()) {
    authentication->SetRequest(request.Method(), request.URL());
  }
  if (TIdAuthentication* authentication = m_owner.ProxyParams().Authentication()) {
    authentication->SetRequest(request.Method(), request.URL());
  }
  request.ComposeRawHeaders();
  m_owner.ProxyParams().SetHeaders(request.RawHeaders());
  if (uri != nullptr) {
    m_owner.AddRequestCookies(*uri, request);
  }

  kv::net::TIdIOHandler* io = m_owner.IOHandler();
  if (io == nullptr) {
    throw kv::net::EIdNotConnected();
  }
  // The whole head leaves in one send.
  const bool collecting = !io->WriteBufferingActive();
  if (collecting) {
    io->WriteBufferOpen(-1);
  }
  try {
    io->WriteLn(request.Method() + " " + request.URL() + " HTTP/" +
                ProtocolVersionText(m_owner.ProtocolVersion()));
    for (const std::string& line : request.RawHeaders().Lines()) {
      if (!line.empty()) {
        io->WriteLn(line);
      }
    }
    io->WriteLn();
    if (collecting) {
      io->WriteBufferClose();
    }
  } catch (...) {
    if (collecting && io->WriteBufferingActive()) {
      io->WriteBufferCancel();
    }
    throw;
  }
}

TIdHTTPWhatsNext TIdHTTPProtocol::ProcessResponse(const std::vector<int16_t>& ignoreReplies) {
  TIdHTTPResponse& response = *m_response;
  TIdHTTPRequest& request = *m_request;
  if (!m_owner.DoOnHeadersAvailable(response.RawHeaders())) {
    // The caller wants nothing more of this answer; the connection cannot be reused since its
    // body stays unread.
    response.SetConnection("close");
    return TIdHTTPWhatsNext::wnJustExit;
  }

  const int32_t code = response.ResponseCode();
  const int32_t codeClass = code / 100;

  if (codeClass == 3 && code != 304) {
    if (response.Location().empty()) {
      RaiseProtocolError(code, ignoreReplies);
      return TIdHTTPWhatsNext::wnJustExit;
    }
    ++m_owner.m_redirectCount;
    std::string location = response.Location();
    std::string method = request.Method();
    if (!m_owner.ConfirmRedirect(location, method, m_owner.m_redirectCount)) {
      RaiseProtocolError(code, ignoreReplies);
      return TIdHTTPWhatsNext::wnJustExit;
    }
    TIdHTTPWhatsNext next = TIdHTTPWhatsNext::wnJustExit;
    if (m_owner.HandleRedirects() && m_owner.m_redirectCount < m_owner.RedirectMaximum()) {
      request.SetURL(location);
      if (code == 303 ||
          (code == 302 && m_owner.HTTPOptions().Contains(TIdHTTPOption::hoTreat302Like303))) {
        request.SetSource(nullptr);
        request.SetMethod("GET");
      } else {
        request.SetMethod(method);
      }
      request.SetMethodOverride({});
      next = TIdHTTPWhatsNext::wnGoToURL;
    } else {
      response.SetLocation(location);
    }
    if (m_owner.ConnectedNoRaise()) {
      DiscardResponseBody();
    }
    return next;
  }

  bool retry = false;
  if (codeClass != 2) {
    const bool inProcessAuth = m_owner.HTTPOptions().Contains(TIdHTTPOption::hoInProcessAuth);
    switch (code) {
      case 101:
        return TIdHTTPWhatsNext::wnJustExit;
      case 401:
        if (m_owner.AuthRetries() < m_owner.MaxAuthRetries() &&
            m_owner.AuthorizeServer(request, response)) {
          retry = inProcessAuth;
          break;
        }
        if (TIdAuthentication* authentication = request.Authentication()) {
          authentication->Reset();
        }
        RaiseProtocolError(code, ignoreReplies);
        return TIdHTTPWhatsNext::wnJustExit;
      case 407:
        if (m_owner.AuthProxyRetries() < m_owner.MaxAuthRetries() &&
            m_owner.AuthorizeProxy(request, response)) {
          retry = inProcessAuth;
          break;
        }
        if (TIdAuthentication* authentication = m_owner.ProxyParams().Authentication()) {
          authentication->Reset();
        }
        RaiseProtocolError(code, ignoreReplies);
        return TIdHTTPWhatsNext::wnJustExit;
      default:
        RaiseProtocolError(code, ignoreReplies);
        return TIdHTTPWhatsNext::wnJustExit;
    }
  }

  if (retry) {
    DiscardResponseBody();
    return TIdHTTPWhatsNext::wnAuthRequest;
  }
  if (IsHeadRequest(request) || code == 204) {
    DiscardResponseBody();
  } else {
    m_owner.ReadResponseBody(request, response);
  }
  return TIdHTTPWhatsNext::wnJustExit;
}

void TIdHTTPProtocol::RaiseProtocolError(int32_t code, const std::vector<int16_t>& ignoreReplies) {
  bool raise = true;
  bool discard = true;
  const TIdHTTPOptions& options = m_owner.HTTPOptions();
  const bool ignored =
      std::find(ignoreReplies.begin(), ignoreReplies.end(), code) != ignoreReplies.end();
  if (options.Contains(TIdHTTPOption::hoNoProtocolErrorException) || ignored) {
    raise = false;
    discard = !options.Contains(TIdHTTPOption::hoWantProtocolErrorContent);
  }
  if (!raise && !discard) {
    // The error body is the caller's content.
    ReadBodyTolerantly();
    return;
  }

  // The caller's stream stays as it was: the error body goes to a buffer of its own, or nowhere.
  kv::net::TIdMemoryStream errorBuffer;
  TContentStreamSwap swap(*m_response, raise ? &errorBuffer : nullptr);
  ReadBodyTolerantly();
  if (raise) {
    errorBuffer.SetPosition(0);
    std::string errorMessage = DecodeStreamText(errorBuffer, m_response->CharSet());
    throw EIdHTTPProtocolException(code, m_response->ResponseText(), std::move(errorMessage));
  }
}

void TIdHTTPProtocol::DiscardResponseBody() {
  TContentStreamSwap swap(*m_response, nullptr);
  ReadBodyTolerantly();
}

void TIdHTTPProtocol::ReadBodyTolerantly() {
  try {
    m_owner.ReadResponseBody(*m_request, *m_response);
  } catch (const kv::net::EIdConnClosedGracefully&) {
    m_owner.Disconnect();
  } catch (...) {
    m_owner.DisconnectQuietly();
    throw;
  }
}

}  // namespace kv::http
