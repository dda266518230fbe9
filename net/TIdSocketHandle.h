#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/TIdIPVersion.h"
#include "net/TIdStack.h"

namespace kv::net {

// Whether a bind lets the address be reused (SO_REUSEADDR 1 only for rsTrue).
enum class TIdReuseSocket { rsOSDependent, rsTrue, rsFalse };

// One socket with its local and peer address. Owns the socket: it is closed exactly once, by
// CloseSocket or at the latest by the destructor. Holds one stack usage for its lifetime, so the
// stack object exists while a handle does. Neither copyable nor movable (the handler owns it
// through a std::unique_ptr).
class TIdSocketHandle {
 public:
  TIdSocketHandle();
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes a socket still held, then creates a new one for IPVersion(); reads SO_TYPE into
  // SocketType() and, for a stream socket, TCP_NODELAY into UseNagle().
  void AllocateSocket(int socketType = Id_SOCK_STREAM, int protocol = 0);
  // Sets SO_REUSEADDR (1 only for rsTrue), binds IP()/Port() or, with Port() 0 and both client
  // ports non-zero, the first free port from ClientPortMax() down to ClientPortMin(); then
  // reads the bound address back.
  void Bind();
  // Connects to PeerIP()/PeerPort(); then updates both addresses while the socket is still held.
  void Connect();
  // Shuts the sending side down and closes; does nothing without a socket. Safe from any thread.
  void CloseSocket();
  // Waits up to msec milliseconds (-1: no limit) until the socket is readable. Without a socket
  // raises EIdConnClosedGracefully.
  bool Readable(int msec = -1);
  // One receive into the whole buffer; 0 when the peer has closed.
  int Receive(std::vector<uint8_t>& buffer);
  int Receive(uint8_t* buffer, int length);
  // One send of bytes[offset, offset + length); returns the count sent.
  int Send(const uint8_t* bytes, int length, int offset = 0);
  int Send(const std::vector<uint8_t>& bytes, int offset = 0, int length = -1);
  // Handle -1, addresses cleared, IPVersion back to Id_IPv4 (closes a socket still held).
  void Reset(bool resetLocal = true);
  void SetPeer(const std::string& ip, uint16_t port,
               TIdIPVersion ipVersion = TIdIPVersion::Id_IPv4);
  // Reads the local or peer address of the socket into the fields.
  void UpdateBindingLocal();
  void UpdateBindingPeer();

  TIdStackSocketHandle Handle() const { return m_handle.load(); }
  bool HandleAllocated() const { return m_handleAllocated.load(); }
  uint16_t ClientPortMin() const { return m_clientPortMin; }
  void SetClientPortMin(uint16_t port) { m_clientPortMin = port; }
  uint16_t ClientPortMax() const { return m_clientPortMax; }
  void SetClientPortMax(uint16_t port) { m_clientPortMax = port; }
  const std::string& IP() const { return m_ip; }
  void SetIP(const std::string& ip) { m_ip = ip; }
  uint16_t Port() const { return m_port; }
  void SetPort(uint16_t port) { m_port = port; }
  const std::string& PeerIP() const { return m_peerIP; }
  uint16_t PeerPort() const { return m_peerPort; }
  int SocketType() const { return m_socketType; }
  bool OverLapped() const { return false; }
  TIdIPVersion IPVersion() const { return m_ipVersion; }
  // Raises EIdCannotSetIPVersionWhenConnected when a socket is held and the value differs.
  void SetIPVersion(TIdIPVersion ipVersion);
  bool BroadcastEnabled() const { return m_broadcastEnabled; }
  void SetBroadcastEnabled(bool enabled) { m_broadcastEnabled = enabled; }
  bool UseNagle() const { return m_useNagle; }
  // Sets TCP_NODELAY only for a stream socket and only when the value changes.
  void SetUseNagle(bool useNagle);
  TIdReuseSocket ReuseSocket() const { return m_reuseSocket; }
  void SetReuseSocket(TIdReuseSocket reuseSocket) { m_reuseSocket = reuseSocket; }

 private:
  void SetHandle(TIdStackSocketHandle handle);
  bool TryBind(uint16_t port);

  TIdStackUsage m_stackUsage;
  std::mutex m_lock;  // guards closing and the address update after a connect
  std::atomic<TIdStackSocketHandle> m_handle{Id_INVALID_SOCKET};
  std::atomic<bool> m_handleAllocated{false};
  uint16_t m_clientPortMin = 0;
  uint16_t m_clientPortMax = 0;
  std::string m_ip;
  uint16_t m_port = 0;
  std::string m_peerIP;
  uint16_t m_peerPort = 0;
  int m_socketType = 0;
  TIdIPVersion m_ipVersion = TIdIPVersion::Id_IPv4;
  bool m_broadcastEnabled = false;
  bool m_useNagle = true;
  TIdReuseSocket m_reuseSocket = TIdReuseSocket::rsOSDependent;
};

}  // namespace kv::net
