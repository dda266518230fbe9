#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "net/EIdException.h"

namespace kv::net {

// A failing socket call. LastError() is the Windows Sockets code (10061 for a refused connect,
// 11001 for a host that is not found); the message is "Socket Error # <code>\r\n<text>".
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int lastError, std::string message)
      : EIdException(std::move(message)), m_lastError(lastError) {}
  const char* ClassName() const noexcept override { return "EIdSocketError"; }
  int LastError() const noexcept { return m_lastError; }

 private:
  int m_lastError = 0;
};

// Code 10038: an operation on something that is not a socket.
KV_DECLARE_EXCEPTION(EIdNotASocket, EIdSocketError);

// Failures of the stack object itself rather than of one socket call.
KV_DECLARE_EXCEPTION(EIdStackError, EIdException);
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdIPVersionUnsupported, EIdStackError,
                               "The requested IPVersion / Address family is not supported.");

// The socket library could not be made ready. Message: Title, then ": " and the system's text
// for the code, or the title alone when the code is 0.
class EIdWinsockStubError : public EIdException {
 public:
  EIdWinsockStubError(uint32_t win32Error, std::string win32ErrorMessage, std::string title)
      : EIdException(BuildMessage(win32Error, win32ErrorMessage, title)),
        m_win32Error(win32Error),
        m_win32ErrorMessage(std::move(win32ErrorMessage)),
        m_title(std::move(title)) {}
  const char* ClassName() const noexcept override { return "EIdWinsockStubError"; }
  uint32_t Win32Error() const noexcept { return m_win32Error; }
  const std::string& Win32ErrorMessage() const noexcept { return m_win32ErrorMessage; }
  const std::string& Title() const noexcept { return m_title; }

 private:
  static std::string BuildMessage(uint32_t code, const std::string& text,
                                  const std::string& title) {
    return code == 0 ? title : title + ": " + text;
  }

  uint32_t m_win32Error = 0;
  std::string m_win32ErrorMessage;
  std::string m_title;
};

// Misuse of a socket handle: its settings or its port range.
KV_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException);
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError,
                               "Cannot change IPVersion when connected");
// Messages "Invalid Port Range (%d - %d)" and "Can not bind in port range (%d - %d)" (min, max);
// the socket handle fills them in.
KV_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError);
KV_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError);

}  // namespace kv::net
