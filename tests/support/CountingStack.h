#pragma once

// A stack object that passes every call to the platform's own stack and counts, per socket,
// how often it was created and closed, so tests can check that each socket is closed exactly
// once on every path. Install it with CountingStackScope while nothing uses the socket layer:
//
//   kv::test::CountingStackScope counting;   // the next stack object counts
//   { kv::net::TIdTCPClient client; ... }
//   EXPECT_TRUE(counting.EverySocketClosedOnce());

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/TIdStack.h"

namespace kv::test {

struct SocketCounts {
  int created = 0;
  int closed = 0;  // through Disconnect or WSCloseSocket
  int options = 0;
};

class CountingStack : public kv::net::TIdStack {
 public:
  using Handle = kv::net::TIdStackSocketHandle;
  using TIdIPVersion = kv::net::TIdIPVersion;

  CountingStack();

  std::string MakeCanonicalIPv6Address(const std::string& text) const override;
  Handle NewSocketHandle(int socketType, int protocol, TIdIPVersion ipVersion) override;
  void Bind(Handle handle, const std::string& ip, uint16_t port, TIdIPVersion version) override;
  void Connect(Handle handle, const std::string& ip, uint16_t port, TIdIPVersion version) override;
  void Disconnect(Handle handle) override;
  void GetPeerName(Handle handle, std::string& ip, uint16_t& port, TIdIPVersion& version) override;
  void GetSocketName(Handle handle, std::string& ip, uint16_t& port,
                     TIdIPVersion& version) override;
  using TIdStack::Receive;
  int Receive(Handle handle, uint8_t* buffer, int length) override;
  int Send(Handle handle, const uint8_t* bytes, int length, int offset = 0) override;
  int GetSocketOption(Handle handle, int level, int option) override;
  void SetSocketOption(Handle handle, int level, int option, int value) override;
  bool WaitForReadable(Handle handle, int timeoutMs) override;
  void WSCloseSocket(Handle handle) override;
  void WSShutdown(Handle handle, int how) override;
  int WSGetLastError() override;
  std::string WSTranslateSocketErrorMsg(int errorCode) override;

 protected:
  std::string HostByName(const std::string& host, TIdIPVersion version) override;

 private:
  std::unique_ptr<kv::net::TIdStack> m_inner;
};

// Counts of every socket the counting stacks created while the scope lives, in creation order
// (a handle number used again counts as a new socket).
class CountingStackScope {
 public:
  CountingStackScope();
  ~CountingStackScope();
  CountingStackScope(const CountingStackScope&) = delete;
  CountingStackScope& operator=(const CountingStackScope&) = delete;

  int SocketsCreated() const;
  // Every socket created was closed, and none more than once.
  bool EverySocketClosedOnce() const;
  // Option sets on the socket created last.
  int OptionsSetOnLastSocket() const;
  std::string Describe() const;

 private:
  kv::net::TIdStack::TStackFactory m_previous;
};

}  // namespace kv::test
