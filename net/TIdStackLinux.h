#pragma once

#include <functional>
#include <string>

#include "net/TIdStack.h"

struct addrinfo;

namespace kv::net {

// The stack over the POSIX socket interface. Sockets are made close-on-exec, sends never raise
// SIGPIPE, and every wait uses poll (any descriptor number works). errno values and resolver
// results are turned into Windows Sockets codes here and nowhere else.
class TIdStackLinux : public TIdStackBSDBase {
 public:
  TIdStackLinux() = default;
  ~TIdStackLinux() override = default;

  std::string MakeCanonicalIPv6Address(const std::string& text) const override;
  TIdStackSocketHandle NewSocketHandle(int socketType, int protocol,
                                       TIdIPVersion ipVersion) override;
  void Bind(TIdStackSocketHandle handle, const std::string& ip, uint16_t port,
            TIdIPVersion ipVersion) override;
  void Connect(TIdStackSocketHandle handle, const std::string& ip, uint16_t port,
               TIdIPVersion ipVersion) override;
  void Disconnect(TIdStackSocketHandle handle) override;
  void GetPeerName(TIdStackSocketHandle handle, std::string& ip, uint16_t& port,
                   TIdIPVersion& ipVersion) override;
  void GetSocketName(TIdStackSocketHandle handle, std::string& ip, uint16_t& port,
                     TIdIPVersion& ipVersion) override;
  using TIdStack::Receive;
  int Receive(TIdStackSocketHandle handle, uint8_t* buffer, int length) override;
  int Send(TIdStackSocketHandle handle, const uint8_t* bytes, int length, int offset = 0) override;
  int GetSocketOption(TIdStackSocketHandle handle, int level, int option) override;
  void SetSocketOption(TIdStackSocketHandle handle, int level, int option, int value) override;
  bool WaitForReadable(TIdStackSocketHandle handle, int timeoutMs) override;
  void WSCloseSocket(TIdStackSocketHandle handle) override;
  void WSShutdown(TIdStackSocketHandle handle, int how) override;
  int WSGetLastError() override;

  // The Windows Sockets code for an errno value. EPIPE (a send on a connection the peer has
  // closed or reset) counts as 10054; an errno without a counterpart passes unchanged.
  static int ErrnoToWSAError(int errnoValue);
  // The Windows Sockets code for a non-zero getaddrinfo result; errnoValue is used for
  // EAI_SYSTEM.
  static int AddrInfoErrorToWSAError(int result, int errnoValue);

  // The name lookup functions, replaceable so tests can answer without the C library's
  // resolver. An empty member means the C library's own function.
  struct TResolverFunctions {
    std::function<int(const char* node, const char* service, const addrinfo* hints,
                      addrinfo** result)>
        getAddrInfo;
    std::function<void(addrinfo* result)> freeAddrInfo;
  };
  // Returns the functions in use before.
  static TResolverFunctions SetResolverFunctions(TResolverFunctions functions);

 protected:
  std::string HostByName(const std::string& host, TIdIPVersion ipVersion) override;
};

}  // namespace kv::net
