#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "net/EIdException.h"

// The failures the HTTP client raises itself.
namespace kv::http {

using kv::net::EIdException;

// A server answered with a reply that the protocol treats as an error.
class EIdReplyError : public EIdException {
 public:
  using EIdException::EIdException;
  const char* ClassName() const noexcept override { return "EIdReplyError"; }
};

// A reply error that carries the numeric reply code.
class EIdReplyRFCError : public EIdReplyError {
 public:
  EIdReplyRFCError(int32_t errorCode, std::string message)
      : EIdReplyError(std::move(message)), m_errorCode(errorCode) {}
  const char* ClassName() const noexcept override { return "EIdReplyRFCError"; }
  int32_t ErrorCode() const noexcept { return m_errorCode; }

 private:
  int32_t m_errorCode = 0;
};

// An HTTP status the client treats as an error. The message is the status line as received,
// the error message the response body decoded as text.
class EIdHTTPProtocolException : public EIdReplyRFCError {
 public:
  EIdHTTPProtocolException(int32_t errorCode, std::string replyMessage, std::string errorMessage)
      : EIdReplyRFCError(errorCode, std::move(replyMessage)),
        m_errorMessage(std::move(errorMessage)) {}
  const char* ClassName() const noexcept override { return "EIdHTTPProtocolException"; }
  const std::string& ErrorMessage() const noexcept { return m_errorMessage; }

 private:
  std::string m_errorMessage;
};

KV_DECLARE_EXCEPTION_WITH_TEXT(EIdUnknownProtocol, EIdException, "Unknown Protocol");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdIOHandlerPropInvalid, EIdException,
                               "IOHandler value is not valid");

// A chunk-size line whose number cannot be a chunk length (negative, or beyond what a signed
// 32-bit size holds). The message names the size as received.
KV_DECLARE_EXCEPTION(EIdHTTPChunkSizeInvalid, EIdException);

// The text raised for TRACE, PUT, OPTIONS and DELETE over HTTP/1.0.
inline constexpr const char* kRequestMethodRequires11 = "Request method requires HTTP version 1.1";

}  // namespace kv::http
