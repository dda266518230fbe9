#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "http/Forward.h"
#include "http/IdHTTPTypes.h"
#include "http/TIdHTTPRequest.h"
#include "http/TIdHTTPResponse.h"

namespace kv::http {

// Holds the request and the response of one client and performs the protocol steps between
// them: sending the request head, reading the response head, and acting on the status code.
class TIdHTTPProtocol {
 public:
  explicit TIdHTTPProtocol(TIdCustomHTTP& owner);
  ~TIdHTTPProtocol();
  TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
  TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;

  TIdHTTPRequest& Request() { return *m_request; }
  TIdHTTPResponse& Response() { return *m_response; }

  // Reads the header lines up to the empty line (at most maxHeaderCount when it is above 0) and
  // parses them. A close by the server ends the head early; any other failure disconnects and
  // propagates.
  void RetrieveHeaders(int32_t maxHeaderCount);
  // Composes the request head and writes it in one send. A URI enables the Cookie line.
  void BuildAndSendRequest(TIdURI* uri);
  // Acts on the final response head: reads, discards or raises the body, and says what next.
  TIdHTTPWhatsNext ProcessResponse(const std::vector<int16_t>& ignoreReplies);

 private:
  // Reads the error body and raises EIdHTTPProtocolException, unless the options or the ignore
  // list say otherwise, in which case it returns.
  void RaiseProtocolError(int32_t code, const std::vector<int16_t>& ignoreReplies);
  // Reads the body without keeping it.
  void DiscardResponseBody();
  // Reads a body, disconnecting on failure and swallowing a close by the server.
  void ReadBodyTolerantly();

  TIdCustomHTTP& m_owner;
  std::unique_ptr<TIdHTTPRequest> m_request;
  std::unique_ptr<TIdHTTPResponse> m_response;
};

}  // namespace kv::http
