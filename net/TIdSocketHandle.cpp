#include "net/TIdSocketHandle.h"

#include <cstdio>

#include "net/IdExceptions.h"

namespace kv::net {

namespace {

// Readable(): both mean "wait without limit".
constexpr int kTimeoutDefault = -1;
constexpr int kTimeoutInfinite = -2;

std::string PortRangeText(const char* format, uint16_t min, uint16_t max) {
  char text[96];
  std::snprintf(text, sizeof text, format, static_cast<int>(min), static_cast<int>(max));
  return text;
}

}  // namespace

TIdSocketHandle::TIdSocketHandle() = default;

TIdSocketHandle::~TIdSocketHandle() {
  CloseSocket();
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle handle) {
  // Held before anything can fail, so a failing option read still leaves it to be closed.
  m_handle = handle;
  m_handleAllocated = handle != Id_INVALID_SOCKET;
  if (!m_handleAllocated) {
    m_socketType = 0;
    return;
  }
  m_socketType = GStack().GetSocketOption(handle, Id_SOL_SOCKET, Id_SO_TYPE);
  if (m_socketType == Id_SOCK_STREAM) {
    m_useNagle = GStack().GetSocketOption(handle, Id_IPPROTO_TCP, Id_TCP_NODELAY) == 0;
  }
}

void TIdSocketHandle::AllocateSocket(int socketType, int protocol) {
  CloseSocket();
  TIdStackSocketHandle handle = GStack().NewSocketHandle(socketType, protocol, m_ipVersion);
  std::lock_guard<std::mutex> lock(m_lock);
  SetHandle(handle);
}

bool TIdSocketHandle::TryBind(uint16_t port) {
  try {
    GStack().Bind(Handle(), m_ip, port, m_ipVersion);
    return true;
  } catch (const EIdSocketError&) {
    return false;
  }
}

void TIdSocketHandle::Bind() {
  GStack().SetSocketOption(Handle(), Id_SOL_SOCKET, Id_SO_REUSEADDR,
                           m_reuseSocket == TIdReuseSocket::rsTrue ? 1 : 0);
  if (m_port == 0 && m_clientPortMin != 0 && m_clientPortMax != 0) {
    if (m_clientPortMax < m_clientPortMin) {
      throw EIdInvalidPortRange(
          PortRangeText("Invalid Port Range (%d - %d)", m_clientPortMin, m_clientPortMax));
    }
    bool bound = false;
    for (int port = m_clientPortMax; port >= m_clientPortMin && !bound; --port) {
      bound = TryBind(static_cast<uint16_t>(port));
    }
    if (!bound) {
      throw EIdCanNotBindPortInRange(
          PortRangeText("Can not bind in port range (%d - %d)", m_clientPortMin, m_clientPortMax));
    }
  } else {
    GStack().Bind(Handle(), m_ip, m_port, m_ipVersion);
  }
  UpdateBindingLocal();
}

void TIdSocketHandle::Connect() {
  // Outside the lock: the connect blocks, and a close from another thread must be able to end it.
  GStack().Connect(Handle(), m_peerIP, m_peerPort, m_ipVersion);
  std::lock_guard<std::mutex> lock(m_lock);
  if (HandleAllocated()) {
    UpdateBindingLocal();
    UpdateBindingPeer();
  }
}

void TIdSocketHandle::CloseSocket() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!HandleAllocated()) {
    return;
  }
  m_handleAllocated = false;
  TIdStackSocketHandle handle = m_handle.exchange(Id_INVALID_SOCKET);
  m_socketType = 0;
  GStack().Disconnect(handle);
}

bool TIdSocketHandle::Readable(int msec) {
  TIdStackSocketHandle handle = Handle();
  if (!HandleAllocated() || handle == Id_INVALID_SOCKET) {
    throw EIdConnClosedGracefully();
  }
  if (msec == kTimeoutDefault || msec == kTimeoutInfinite) {
    return GStack().WaitForReadable(handle, -1);
  }
  if (msec < 0) {
    // Any other negative time is no valid wait (the platform wait would refuse it as well).
    GStack().RaiseSocketError(Id_WSAEINVAL);
  }
  return GStack().WaitForReadable(handle, msec);
}

int TIdSocketHandle::Receive(std::vector<uint8_t>& buffer) {
  return GStack().Receive(Handle(), buffer);
}

int TIdSocketHandle::Receive(uint8_t* buffer, int length) {
  return GStack().Receive(Handle(), buffer, length);
}

int TIdSocketHandle::Send(const uint8_t* bytes, int length, int offset) {
  return GStack().Send(Handle(), bytes, length, offset);
}

int TIdSocketHandle::Send(const std::vector<uint8_t>& bytes, int offset, int length) {
  int size = static_cast<int>(bytes.size());
  if (offset < 0 || offset > size) {
    GStack().RaiseSocketError(Id_WSAEINVAL);
  }
  if (length < 0 || length > size - offset) {
    length = size - offset;
  }
  return GStack().Send(Handle(), bytes.data(), length, offset);
}

void TIdSocketHandle::Reset(bool resetLocal) {
  CloseSocket();
  if (resetLocal) {
    m_ip.clear();
    m_port = 0;
  }
  m_peerIP.clear();
  m_peerPort = 0;
  m_ipVersion = TIdIPVersion::Id_IPv4;
}

void TIdSocketHandle::SetPeer(const std::string& ip, uint16_t port, TIdIPVersion ipVersion) {
  m_peerIP = ip;
  m_peerPort = port;
  m_ipVersion = ipVersion;
}

void TIdSocketHandle::UpdateBindingLocal() {
  GStack().GetSocketName(Handle(), m_ip, m_port, m_ipVersion);
}

void TIdSocketHandle::UpdateBindingPeer() {
  GStack().GetPeerName(Handle(), m_peerIP, m_peerPort, m_ipVersion);
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion ipVersion) {
  if (ipVersion == m_ipVersion) {
    return;
  }
  if (HandleAllocated()) {
    throw EIdCannotSetIPVersionWhenConnected();
  }
  m_ipVersion = ipVersion;
}

void TIdSocketHandle::SetUseNagle(bool useNagle) {
  if (useNagle == m_useNagle) {
    return;
  }
  if (HandleAllocated() && m_socketType == Id_SOCK_STREAM) {
    GStack().SetSocketOption(Handle(), Id_IPPROTO_TCP, Id_TCP_NODELAY, useNagle ? 0 : 1);
  }
  m_useNagle = useNagle;
}

}  // namespace kv::net
