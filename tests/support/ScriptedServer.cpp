#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace kv::test {

namespace {

constexpr int kListenBacklog = 64;
constexpr size_t kReceiveChunk = 64 * 1024;
// How long SendPieces waits for the peer's kernel to acknowledge a piece before going on anyway
// (a peer that does not read can leave a large piece unacknowledged for ever).
constexpr std::chrono::milliseconds kAcknowledgeLimit{2000};
const std::string kHeadTerminator = "\r\n\r\n";

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("ScriptedServer: ") + what + ": " + std::strerror(errno));
}

int Domain(LoopbackFamily family) {
  return family == LoopbackFamily::IPv6 ? AF_INET6 : AF_INET;
}

// The loopback address of the family with the given port.
socklen_t LoopbackAddress(LoopbackFamily family, uint16_t port, sockaddr_storage& address) {
  std::memset(&address, 0, sizeof address);
  if (family == LoopbackFamily::IPv6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    in6.sin6_addr = in6addr_loopback;
    return sizeof in6;
  }
  auto& in4 = reinterpret_cast<sockaddr_in&>(address);
  in4.sin_family = AF_INET;
  in4.sin_port = htons(port);
  in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sizeof in4;
}

uint16_t BoundPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Fail("getsockname");
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port);
  }
  return ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

// A socket of the family bound to the loopback address and port 0.
int BoundLoopbackSocket(LoopbackFamily family) {
  int fd = socket(Domain(family), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail("socket");
  }
  sockaddr_storage address{};
  socklen_t length = LoopbackAddress(family, 0, address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    Fail("bind");
  }
  return fd;
}

}  // namespace

// --- Script ----------------------------------------------------------------------------------

Script& Script::Add(Action action) {
  m_actions.push_back(std::move(action));
  return *this;
}

Script& Script::ReadRequestHead() {
  return Add({ActionKind::ReadRequestHead, {}, {}, 0, {}});
}

Script& Script::ReadBytes(size_t count) {
  return Add({ActionKind::ReadBytes, {}, {}, count, {}});
}

Script& Script::ReadUntilPeerCloses() {
  return Add({ActionKind::ReadUntilPeerCloses, {}, {}, 0, {}});
}

Script& Script::Send(std::string bytes) {
  return Add({ActionKind::Send, std::move(bytes), {}, 0, {}});
}

Script& Script::SendPieces(std::string bytes, std::vector<size_t> sizes) {
  return Add({ActionKind::SendPieces, std::move(bytes), std::move(sizes), 0, {}});
}

Script& Script::SendInPiecesOf(std::string bytes, size_t pieceSize) {
  if (pieceSize == 0) {
    throw std::invalid_argument("ScriptedServer: piece size 0");
  }
  std::vector<size_t> sizes(bytes.size() / pieceSize, pieceSize);
  return SendPieces(std::move(bytes), std::move(sizes));
}

Script& Script::Pause(std::chrono::milliseconds duration) {
  return Add({ActionKind::Pause, {}, {}, 0, duration});
}

Script& Script::WaitForSignal() {
  return Add({ActionKind::WaitForSignal, {}, {}, 0, {}});
}

Script& Script::ShutdownSend() {
  return Add({ActionKind::ShutdownSend, {}, {}, 0, {}});
}

Script& Script::CloseGracefully() {
  return Add({ActionKind::CloseGracefully, {}, {}, 0, {}});
}

Script& Script::Reset() {
  return Add({ActionKind::Reset, {}, {}, 0, {}});
}

Script& Script::KeepOpenUntilPeerCloses() {
  return Add({ActionKind::KeepOpenUntilPeerCloses, {}, {}, 0, {}});
}

// --- ScriptedServer --------------------------------------------------------------------------

struct ScriptedServer::Connection {
  int fd = -1;
  Script script;         // a copy, so a later SetScript cannot change a running connection
  std::string received;  // appended by the connection's thread under m_mutex
  size_t readPosition = 0;
  bool peerClosed = false;
  bool finished = false;
};

ScriptedServer::ScriptedServer(Script forEveryConnection, LoopbackFamily family)
    : m_family(family), m_forEveryConnection(std::move(forEveryConnection)) {
  Listen();
}

ScriptedServer::ScriptedServer(std::vector<Script> perConnection, LoopbackFamily family)
    : m_family(family), m_perConnection(std::move(perConnection)), m_usePerConnection(true) {
  Listen();
}

void ScriptedServer::Listen() {
  if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
    Fail("pipe2");
  }
  m_listener = BoundLoopbackSocket(m_family);
  if (listen(m_listener, kListenBacklog) != 0) {
    Fail("listen");
  }
  m_port = BoundPort(m_listener);
  m_acceptThread = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  // The byte is never read, so the pipe stays readable and wakes every poll for good.
  const char stop = 1;
  [[maybe_unused]] ssize_t written = write(m_stopPipe[1], &stop, 1);
  if (m_acceptThread.joinable()) {
    m_acceptThread.join();
  }
  for (std::thread& thread : m_threads) {
    thread.join();
  }
  close(m_listener);
  close(m_stopPipe[0]);
  close(m_stopPipe[1]);
}

void ScriptedServer::SetScript(Script forEveryConnection) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_forEveryConnection = std::move(forEveryConnection);
  m_usePerConnection = false;
}

void ScriptedServer::SetScripts(std::vector<Script> perConnection) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_perConnection = std::move(perConnection);
  m_usePerConnection = true;
}

void ScriptedServer::SetPieceGap(std::chrono::milliseconds gap) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pieceGap = gap;
}

std::string ScriptedServer::Host() const {
  return m_family == LoopbackFamily::IPv6 ? "::1" : "127.0.0.1";
}

std::string ScriptedServer::BaseUrl() const {
  std::string host = m_family == LoopbackFamily::IPv6 ? "[::1]" : "127.0.0.1";
  return "http://" + host + ":" + std::to_string(m_port);
}

void ScriptedServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      continue;  // EINTR, ECONNABORTED and the like: the next poll tells
    }
    // Each Send leaves at once, so pieces are not merged by the server's own kernel.
    int noDelay = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    std::lock_guard<std::mutex> lock(m_mutex);
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    size_t index = m_connections.size();
    if (!m_usePerConnection) {
      connection->script = m_forEveryConnection;
    } else if (index < m_perConnection.size()) {
      connection->script = m_perConnection[index];
    }
    Connection& ref = *connection;
    m_connections.push_back(std::move(connection));
    m_threads.emplace_back([this, &ref] { Play(ref, &ref.script); });
    m_changed.notify_all();
  }
}

void ScriptedServer::Play(Connection& connection, const Script* script) {
  using Kind = Script::ActionKind;
  bool open = true;  // false once the script has closed the socket itself
  bool ok = true;    // false once the peer went away, a send failed or the server stops
  for (const Script::Action& action : script->Actions()) {
    if (!ok || !open) {
      break;
    }
    switch (action.kind) {
      case Kind::ReadRequestHead:
        for (;;) {
          size_t at = connection.received.find(kHeadTerminator, connection.readPosition);
          if (at != std::string::npos) {
            connection.readPosition = at + kHeadTerminator.size();
            break;
          }
          if (!ReadMore(connection)) {
            ok = false;
            break;
          }
        }
        break;
      case Kind::ReadBytes:
        while (ok && connection.received.size() - connection.readPosition < action.count) {
          ok = ReadMore(connection);
        }
        if (ok) {
          connection.readPosition += action.count;
        }
        break;
      case Kind::ReadUntilPeerCloses:
        while (ReadMore(connection)) {
        }
        connection.readPosition = connection.received.size();
        break;
      case Kind::Send:
        ok = SendAll(connection, action.bytes);
        break;
      case Kind::SendPieces: {
        size_t offset = 0;
        auto sendPiece = [&](size_t size) {
          ok = SendAll(connection, action.bytes.substr(offset, size));
          offset += size;
          // Let the piece reach the client before the next one leaves.
          if (ok && offset < action.bytes.size()) {
            std::chrono::milliseconds gap;
            {
              std::lock_guard<std::mutex> lock(m_mutex);
              gap = m_pieceGap;
            }
            ok = WaitUntilSent(connection) && Sleep(gap);
          }
        };
        for (size_t size : action.sizes) {
          if (!ok || offset >= action.bytes.size()) {
            break;
          }
          sendPiece(std::min(size, action.bytes.size() - offset));
        }
        if (ok && offset < action.bytes.size()) {
          sendPiece(action.bytes.size() - offset);
        }
        break;
      }
      case Kind::Pause:
        ok = Sleep(action.pause);
        break;
      case Kind::WaitForSignal:
        ok = TakeSignal();
        break;
      case Kind::ShutdownSend:
        shutdown(connection.fd, SHUT_WR);
        break;
      case Kind::CloseGracefully:
        shutdown(connection.fd, SHUT_WR);
        while (ReadMore(connection)) {
        }
        open = false;
        break;
      case Kind::Reset: {
        linger abortive{1, 0};
        setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        open = false;
        break;
      }
      case Kind::KeepOpenUntilPeerCloses:
        while (ReadMore(connection)) {
        }
        open = false;
        break;
    }
  }
  if (open && ok) {
    // The default end of a script.
    shutdown(connection.fd, SHUT_WR);
    while (ReadMore(connection)) {
    }
  }
  CloseConnection(connection);
}

bool ScriptedServer::ReadMore(Connection& connection) {
  char buffer[kReceiveChunk];
  for (;;) {
    pollfd fds[2] = {{connection.fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (fds[1].revents != 0) {
      return false;
    }
    ssize_t n = recv(connection.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (n > 0) {
      connection.received.append(buffer, static_cast<size_t>(n));
    } else {
      connection.peerClosed = true;  // end of stream, or a reset
    }
    m_changed.notify_all();
    return n > 0;
  }
}

bool ScriptedServer::SendAll(Connection& connection, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    ssize_t n = send(connection.fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
    if (n >= 0) {
      offset += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return false;  // the peer has gone
    }
    pollfd fds[2] = {{connection.fd, POLLOUT, 0}, {m_stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) {
      return false;
    }
    if (fds[1].revents != 0) {
      return false;
    }
  }
  return true;
}

bool ScriptedServer::WaitUntilSent(Connection& connection) {
  auto deadline = std::chrono::steady_clock::now() + kAcknowledgeLimit;
  for (;;) {
    int unacknowledged = 0;
    if (ioctl(connection.fd, TIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0 ||
        std::chrono::steady_clock::now() >= deadline) {
      return true;
    }
    pollfd stop = {m_stopPipe[0], POLLIN, 0};
    if (poll(&stop, 1, 1) > 0) {
      return false;
    }
  }
}

bool ScriptedServer::Sleep(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return !m_changed.wait_for(lock, duration, [this] { return m_stopping; });
}

bool ScriptedServer::TakeSignal() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_stopping || m_signals > 0; });
  if (m_stopping) {
    return false;
  }
  --m_signals;
  return true;
}

void ScriptedServer::Signal() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_signals;
  }
  m_changed.notify_all();
}

void ScriptedServer::CloseConnection(Connection& connection) {
  close(connection.fd);
  std::lock_guard<std::mutex> lock(m_mutex);
  connection.fd = -1;
  connection.finished = true;
  m_changed.notify_all();
}

const ScriptedServer::Connection* ScriptedServer::Find(int connection) const {
  if (connection < 1 || static_cast<size_t>(connection) > m_connections.size()) {
    return nullptr;
  }
  return m_connections[static_cast<size_t>(connection) - 1].get();
}

template <typename Predicate>
bool ScriptedServer::WaitFor(std::chrono::milliseconds limit, Predicate predicate) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, limit, predicate);
}

int ScriptedServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_connections.size());
}

bool ScriptedServer::WaitForConnections(int count, std::chrono::milliseconds limit) const {
  return WaitFor(limit, [&] { return static_cast<int>(m_connections.size()) >= count; });
}

std::string ScriptedServer::Received() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string all;
  for (const auto& connection : m_connections) {
    all += connection->received;
  }
  return all;
}

std::string ScriptedServer::Received(int connection) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const Connection* found = Find(connection);
  return found ? found->received : std::string();
}

bool ScriptedServer::WaitForReceived(int connection, size_t byteCount,
                                     std::chrono::milliseconds limit) const {
  return WaitFor(limit, [&] {
    const Connection* found = Find(connection);
    return found && found->received.size() >= byteCount;
  });
}

bool ScriptedServer::PeerClosed(int connection) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const Connection* found = Find(connection);
  return found && found->peerClosed;
}

bool ScriptedServer::WaitForPeerClose(int connection, std::chrono::milliseconds limit) const {
  return WaitFor(limit, [&] {
    const Connection* found = Find(connection);
    return found && found->peerClosed;
  });
}

bool ScriptedServer::ScriptFinished(int connection) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const Connection* found = Find(connection);
  return found && found->finished;
}

bool ScriptedServer::WaitForScriptEnd(int connection, std::chrono::milliseconds limit) const {
  return WaitFor(limit, [&] {
    const Connection* found = Find(connection);
    return found && found->finished;
  });
}

bool ScriptedServer::IPv6Available() {
  try {
    close(BoundLoopbackSocket(LoopbackFamily::IPv6));
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

uint16_t UnusedLoopbackPort(LoopbackFamily family) {
  int fd = BoundLoopbackSocket(family);
  uint16_t port = BoundPort(fd);
  close(fd);
  return port;
}

}  // namespace kv::test
