#pragma once

// A scripted loopback server for tests, written on raw POSIX sockets (not on our own net/
// classes, so it can catch their faults).
//
// It listens on port 0 of 127.0.0.1 (or ::1), accepts connections on a background thread and
// plays a script on each accepted connection on a thread of its own. It records every byte it
// receives, per connection, and stops by itself in its destructor (every wait it makes is woken
// by the stop). All waits of the tests are on conditions, with a generous limit that only guards
// against a hang.
//
//   using kv::test::Script;
//   kv::test::ScriptedServer server(Script()
//                                       .ReadRequestHead()
//                                       .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi")
//                                       .CloseGracefully());
//   client.Get(server.BaseUrl() + "/file", stream);
//   EXPECT_EQ(server.Received(1), "GET /file HTTP/1.1\r\n...");
//
// Scripts: one script played on every connection, or one per connection (connection 1 plays the
// first, connection 2 the second, ...; a connection beyond the list is closed at once without
// reading). Scripts may be set or replaced after construction (for example once Port() is known,
// to build a redirect to the server itself); a connection takes its script when it is accepted.
//
// Reading: the server keeps a read position per connection. ReadRequestHead() reads until
// "\r\n\r\n" appears after that position and moves the position past it; ReadBytes(n) moves it
// n bytes further (a request body). Bytes the client sends early are recorded all the same.
//
// Ending: a script that ends without CloseGracefully(), Reset() or KeepOpenUntilPeerCloses()
// ends with CloseGracefully(). When the peer closes or resets while the script still reads, or a
// send fails, the script stops there and the socket is closed.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv::test {

enum class LoopbackFamily { IPv4, IPv6 };

// What the server does on one connection, as a chain of actions played in order.
class Script {
 public:
  enum class ActionKind {
    ReadRequestHead,
    ReadBytes,
    ReadUntilPeerCloses,
    Send,
    SendPieces,
    Pause,
    WaitForSignal,
    ShutdownSend,
    CloseGracefully,
    Reset,
    KeepOpenUntilPeerCloses,
  };
  struct Action {
    ActionKind kind;
    std::string bytes;                   // Send, SendPieces
    std::vector<size_t> sizes;           // SendPieces
    size_t count = 0;                    // ReadBytes
    std::chrono::milliseconds pause{0};  // Pause
  };

  // Reads until "\r\n\r\n" has arrived after the read position.
  Script& ReadRequestHead();
  // Reads until count more bytes after the read position have arrived.
  Script& ReadBytes(size_t count);
  // Reads and records until the peer closes its sending side (or resets); the script goes on.
  Script& ReadUntilPeerCloses();
  // Sends the bytes (in as many send() calls as the kernel needs).
  Script& Send(std::string bytes);
  // Sends the bytes in pieces of the given sizes (the rest, if any, as a last piece), each in its
  // own send() with Nagle off. After each piece but the last the server waits until the peer's
  // kernel has acknowledged it and then for the piece gap (SetPieceGap), so a client that is
  // reading gets each piece in a receive of its own. Where a test needs that as a guarantee, it
  // puts WaitForSignal() between Send() actions and signals from the client side instead.
  Script& SendPieces(std::string bytes, std::vector<size_t> sizes);
  // SendPieces with pieces of pieceSize bytes (1: byte by byte).
  Script& SendInPiecesOf(std::string bytes, size_t pieceSize);
  Script& Pause(std::chrono::milliseconds duration);
  // Blocks until the test calls ScriptedServer::Signal() (each signal releases one wait).
  Script& WaitForSignal();
  // Half close: shutdown(SHUT_WR); the connection still reads.
  Script& ShutdownSend();
  // shutdown(SHUT_WR), then reads and records until the peer closes, then close(). Waiting for
  // the peer keeps unread client bytes from turning the close into a reset.
  Script& CloseGracefully();
  // SO_LINGER 0 and close(): the peer gets a reset.
  Script& Reset();
  // Keeps the connection open, recording what arrives, until the peer closes; then close().
  Script& KeepOpenUntilPeerCloses();

  const std::vector<Action>& Actions() const { return m_actions; }

 private:
  Script& Add(Action action);
  std::vector<Action> m_actions;
};

class ScriptedServer {
 public:
  // The limit of every Wait... function: long enough never to matter, short enough that a broken
  // test fails instead of hanging.
  static constexpr std::chrono::milliseconds kWaitLimit{20000};

  explicit ScriptedServer(Script forEveryConnection = Script(),
                          LoopbackFamily family = LoopbackFamily::IPv4);
  explicit ScriptedServer(std::vector<Script> perConnection,
                          LoopbackFamily family = LoopbackFamily::IPv4);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // For connections accepted from now on.
  void SetScript(Script forEveryConnection);
  void SetScripts(std::vector<Script> perConnection);
  // The pause after each piece of SendPieces (default 20 ms).
  void SetPieceGap(std::chrono::milliseconds gap);

  uint16_t Port() const { return m_port; }
  // "127.0.0.1" or "::1".
  std::string Host() const;
  // "http://127.0.0.1:<port>" or "http://[::1]:<port>".
  std::string BaseUrl() const;

  int ConnectionCount() const;
  bool WaitForConnections(int count, std::chrono::milliseconds limit = kWaitLimit) const;

  // Connections count from 1. Received() joins all connections in order.
  std::string Received() const;
  std::string Received(int connection) const;
  bool WaitForReceived(int connection, size_t byteCount,
                       std::chrono::milliseconds limit = kWaitLimit) const;
  // True once a read on the connection saw the peer close (end of stream) or reset it.
  bool PeerClosed(int connection) const;
  bool WaitForPeerClose(int connection, std::chrono::milliseconds limit = kWaitLimit) const;
  // True once the connection's script has ended and its socket is closed.
  bool ScriptFinished(int connection) const;
  bool WaitForScriptEnd(int connection, std::chrono::milliseconds limit = kWaitLimit) const;

  // Releases one WaitForSignal() (now or later).
  void Signal();

  static bool IPv6Available();

 private:
  struct Connection;

  void Listen();
  void AcceptLoop();
  void Play(Connection& connection, const Script* script);
  bool ReadMore(Connection& connection);
  bool SendAll(Connection& connection, const std::string& bytes);
  bool WaitUntilSent(Connection& connection);
  bool Sleep(std::chrono::milliseconds duration);
  bool TakeSignal();
  void CloseConnection(Connection& connection);
  const Connection* Find(int connection) const;
  template <typename Predicate>
  bool WaitFor(std::chrono::milliseconds limit, Predicate predicate) const;

  LoopbackFamily m_family;
  int m_listener = -1;
  int m_stopPipe[2] = {-1, -1};
  uint16_t m_port = 0;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_stopping = false;
  int m_signals = 0;
  std::chrono::milliseconds m_pieceGap{20};
  std::vector<Script> m_perConnection;
  bool m_usePerConnection = false;
  Script m_forEveryConnection;
  std::vector<std::unique_ptr<Connection>> m_connections;
  std::vector<std::thread> m_threads;
  std::thread m_acceptThread;
};

// A loopback port with nothing listening (bound to port 0 and closed again), for "connection
// refused" tests.
uint16_t UnusedLoopbackPort(LoopbackFamily family = LoopbackFamily::IPv4);

}  // namespace kv::test
