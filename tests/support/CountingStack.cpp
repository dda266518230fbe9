#include "tests/support/CountingStack.h"

#include <stdexcept>
#include <vector>

namespace kv::test {

namespace {

// Sockets in creation order; the index of a live handle's entry.
struct Registry {
  std::mutex lock;
  std::vector<SocketCounts> sockets;
  std::map<CountingStack::Handle, size_t> live;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

void CountClose(CountingStack::Handle handle) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.lock);
  const auto found = registry.live.find(handle);
  if (found == registry.live.end()) {
    // Closing a handle that is not (or no longer) ours: recorded as a socket closed twice.
    registry.sockets.push_back({0, 2, 0});
    return;
  }
  ++registry.sockets[found->second].closed;
  registry.live.erase(found);
}

}  // namespace

CountingStack::CountingStack() : m_inner(kv::net::NewPlatformStack()) {}

std::string CountingStack::MakeCanonicalIPv6Address(const std::string& text) const {
  return m_inner->MakeCanonicalIPv6Address(text);
}

CountingStack::Handle CountingStack::NewSocketHandle(int socketType, int protocol,
                                                     TIdIPVersion ipVersion) {
  const Handle handle = m_inner->NewSocketHandle(socketType, protocol, ipVersion);
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.lock);
  registry.sockets.push_back({1, 0, 0});
  registry.live[handle] = registry.sockets.size() - 1;
  return handle;
}

void CountingStack::Bind(Handle handle, const std::string& ip, uint16_t port,
                         TIdIPVersion version) {
  m_inner->Bind(handle, ip, port, version);
}

void CountingStack::Connect(Handle handle, const std::string& ip, uint16_t port,
                            TIdIPVersion version) {
  m_inner->Connect(handle, ip, port, version);
}

void CountingStack::Disconnect(Handle handle) {
  // Counted before the close, so the number cannot be taken by a new socket in between.
  CountClose(handle);
  m_inner->Disconnect(handle);
}

void CountingStack::GetPeerName(Handle handle, std::string& ip, uint16_t& port,
                                TIdIPVersion& version) {
  m_inner->GetPeerName(handle, ip, port, version);
}

void CountingStack::GetSocketName(Handle handle, std::string& ip, uint16_t& port,
                                  TIdIPVersion& version) {
  m_inner->GetSocketName(handle, ip, port, version);
}

int CountingStack::Receive(Handle handle, uint8_t* buffer, int length) {
  return m_inner->Receive(handle, buffer, length);
}

int CountingStack::Send(Handle handle, const uint8_t* bytes, int length, int offset) {
  return m_inner->Send(handle, bytes, length, offset);
}

int CountingStack::GetSocketOption(Handle handle, int level, int option) {
  return m_inner->GetSocketOption(handle, level, option);
}

void CountingStack::SetSocketOption(Handle handle, int level, int option, int value) {
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    const auto found = registry.live.find(handle);
    if (found != registry.live.end()) {
      ++registry.sockets[found->second].options;
    }
  }
  m_inner->SetSocketOption(handle, level, option, value);
}

bool CountingStack::WaitForReadable(Handle handle, int timeoutMs) {
  return m_inner->WaitForReadable(handle, timeoutMs);
}

void CountingStack::WSCloseSocket(Handle handle) {
  CountClose(handle);
  m_inner->WSCloseSocket(handle);
}

void CountingStack::WSShutdown(Handle handle, int how) {
  m_inner->WSShutdown(handle, how);
}

int CountingStack::WSGetLastError() {
  return m_inner->WSGetLastError();
}

std::string CountingStack::WSTranslateSocketErrorMsg(int errorCode) {
  return m_inner->WSTranslateSocketErrorMsg(errorCode);
}

std::string CountingStack::HostByName(const std::string& host, TIdIPVersion version) {
  return m_inner->ResolveHost(host, version);
}

CountingStackScope::CountingStackScope() {
  if (kv::net::TIdStack::UsageCount() != 0) {
    throw std::logic_error("the socket layer is in use; the counting stack would not be made");
  }
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.sockets.clear();
    registry.live.clear();
  }
  m_previous = kv::net::TIdStack::SetStackClass([] { return std::make_unique<CountingStack>(); });
}

CountingStackScope::~CountingStackScope() {
  kv::net::TIdStack::SetStackClass(std::move(m_previous));
}

int CountingStackScope::SocketsCreated() const {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.lock);
  int created = 0;
  for (const SocketCounts& counts : registry.sockets) {
    created += counts.created;
  }
  return created;
}

bool CountingStackScope::EverySocketClosedOnce() const {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.lock);
  for (const SocketCounts& counts : registry.sockets) {
    if (counts.created != 1 || counts.closed != 1) {
      return false;
    }
  }
  return true;
}

int CountingStackScope::OptionsSetOnLastSocket() const {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.lock);
  return registry.sockets.empty() ? 0 : registry.sockets.back().options;
}

std::string CountingStackScope::Describe() const {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.lock);
  std::string text;
  for (const SocketCounts& counts : registry.sockets) {
    text += "[created " + std::to_string(counts.created) + ", closed " +
            std::to_string(counts.closed) + "]";
  }
  return text;
}

}  // namespace kv::test
