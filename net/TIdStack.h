#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/IdStackExceptions.h"
#include "net/TIdIPVersion.h"

namespace kv::net {

// A socket as the platform knows it; Id_INVALID_SOCKET when there is none.
using TIdStackSocketHandle = int;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
inline constexpr int Id_SOCKET_ERROR = -1;

// Socket types, levels and options in our own numbering; the platform stack translates them.
inline constexpr int Id_SOCK_STREAM = 1;
inline constexpr int Id_SOCK_DGRAM = 2;
inline constexpr int Id_IPPROTO_IP = 0;
inline constexpr int Id_IPPROTO_TCP = 6;
inline constexpr int Id_SOL_SOCKET = 0xFFFF;
inline constexpr int Id_SO_REUSEADDR = 0x0004;
inline constexpr int Id_SO_TYPE = 0x1008;
inline constexpr int Id_TCP_NODELAY = 0x0001;

// Windows Sockets error codes the layer names in its own logic; every platform reports these.
inline constexpr int Id_WSAEINTR = 10004;
inline constexpr int Id_WSAEINVAL = 10022;
inline constexpr int Id_WSAENOTSOCK = 10038;
inline constexpr int Id_WSAECONNRESET = 10054;
inline constexpr int Id_WSAESHUTDOWN = 10058;
inline constexpr int Id_WSAETIMEDOUT = 10060;
inline constexpr int Id_WSAECONNREFUSED = 10061;
inline constexpr int Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int Id_WSATRY_AGAIN = 11002;
inline constexpr int Id_WSANO_RECOVERY = 11003;
inline constexpr int Id_WSANO_DATA = 11004;

// The process-wide socket layer. Every socket call of the program goes through the one stack
// object, which exists while at least one user has counted itself with IncUsage. Each failing
// call raises EIdSocketError (EIdNotASocket for 10038) with the Windows Sockets code and text.
class TIdStack {
 public:
  virtual ~TIdStack();
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // --- Usage count (process-wide, under one lock) ---------------------------------------------
  // The first user creates the stack object from the registered stack class; the last one
  // frees it. A failure while creating leaves the count unchanged.
  static void IncUsage();
  static void DecUsage();
  // The stack object, or nullptr while nobody uses the layer.
  static TIdStack* Instance();
  static int UsageCount();
  // How many stack objects this process has created so far (lets tests watch the life cycle).
  static int64_t InstancesCreated();

  // Replaces the class the first IncUsage instantiates; an empty factory restores the platform's
  // own. Returns the previous factory (empty when it was the platform's).
  using TStackFactory = std::function<std::unique_ptr<TIdStack>()>;
  static TStackFactory SetStackClass(TStackFactory factory);

  // --- Names and addresses ----------------------------------------------------------------------
  // The address text to connect to: "LOCALHOST" (any case) gives the loopback address without a
  // lookup, a literal of the version gives itself (IPv6 in canonical form), anything else the
  // first address of a name lookup.
  std::string ResolveHost(const std::string& host, TIdIPVersion ipVersion);
  // True for an IPv4 literal: four dot-separated parts, each (trimmed) from 0 to 255.
  static bool IsIP(const std::string& text);
  // The four bytes of an IPv4 literal (as IsIP accepts it); false when text is none.
  static bool IPv4ToBytes(const std::string& text, std::array<uint8_t, 4>& bytes);
  // True for an IPv6 literal.
  bool IsIPv6(const std::string& text) const { return !MakeCanonicalIPv6Address(text).empty(); }
  // Eight upper-case hexadecimal groups without leading zeros joined by ":" (no "::"
  // shortening), or an empty text when text is not an IPv6 literal.
  virtual std::string MakeCanonicalIPv6Address(const std::string& text) const = 0;

  // --- Socket calls -----------------------------------------------------------------------------
  virtual TIdStackSocketHandle NewSocketHandle(int socketType, int protocol,
                                               TIdIPVersion ipVersion) = 0;
  // An empty address binds the wildcard address.
  virtual void Bind(TIdStackSocketHandle handle, const std::string& ip, uint16_t port,
                    TIdIPVersion ipVersion) = 0;
  virtual void Connect(TIdStackSocketHandle handle, const std::string& ip, uint16_t port,
                       TIdIPVersion ipVersion) = 0;
  // Shuts the sending side down, then closes; neither result is looked at.
  virtual void Disconnect(TIdStackSocketHandle handle) = 0;
  virtual void GetPeerName(TIdStackSocketHandle handle, std::string& ip, uint16_t& port,
                           TIdIPVersion& ipVersion) = 0;
  virtual void GetSocketName(TIdStackSocketHandle handle, std::string& ip, uint16_t& port,
                             TIdIPVersion& ipVersion) = 0;
  // One receive into the whole buffer; 0 when the peer has closed.
  int Receive(TIdStackSocketHandle handle, std::vector<uint8_t>& buffer);
  virtual int Receive(TIdStackSocketHandle handle, uint8_t* buffer, int length) = 0;
  // One send of bytes[offset, offset + length); returns the count sent. An empty range sends 0.
  virtual int Send(TIdStackSocketHandle handle, const uint8_t* bytes, int length,
                   int offset = 0) = 0;
  // 4-byte integer options, in the Id_ numbering above.
  virtual int GetSocketOption(TIdStackSocketHandle handle, int level, int option) = 0;
  virtual void SetSocketOption(TIdStackSocketHandle handle, int level, int option, int value) = 0;
  // Waits until the socket is readable (data, end of stream or an error pending). A negative
  // timeout waits without limit. Works for any descriptor number.
  virtual bool WaitForReadable(TIdStackSocketHandle handle, int timeoutMs) = 0;
  // The primitives below the operations above; their results are not checked.
  virtual void WSCloseSocket(TIdStackSocketHandle handle) = 0;
  virtual void WSShutdown(TIdStackSocketHandle handle, int how) = 0;
  static constexpr int Id_SD_Send = 1;

  // --- Errors -----------------------------------------------------------------------------------
  // The Windows Sockets code of the calling thread's last failed socket call.
  virtual int WSGetLastError() = 0;
  // "Socket Error # <code>\r\n<text>", the text empty for a code the table does not list.
  virtual std::string WSTranslateSocketErrorMsg(int errorCode);
  // 10038 raises EIdNotASocket, every other code EIdSocketError.
  [[noreturn]] virtual void RaiseSocketError(int errorCode);
  [[noreturn]] void RaiseLastSocketError();
  // Passes every result but Id_SOCKET_ERROR through; that one raises the last socket error.
  int CheckForSocketError(int result);

 protected:
  TIdStack() = default;
  // The name lookup: the first address of host for the version, as text.
  virtual std::string HostByName(const std::string& host, TIdIPVersion ipVersion) = 0;
};

// The part shared by stacks over a BSD-style socket interface.
class TIdStackBSDBase : public TIdStack {
 protected:
  TIdStackBSDBase() = default;
};

// The stack object; only valid between IncUsage and DecUsage. Raises EIdStackError when the
// layer is not in use.
TIdStack& GStack();

// Counts one usage for its lifetime.
class TIdStackUsage {
 public:
  TIdStackUsage() { TIdStack::IncUsage(); }
  ~TIdStackUsage() { TIdStack::DecUsage(); }
  TIdStackUsage(const TIdStackUsage&) = delete;
  TIdStackUsage& operator=(const TIdStackUsage&) = delete;
};

// The platform's own stack class (one source per platform defines it).
std::unique_ptr<TIdStack> NewPlatformStack();

}  // namespace kv::net
