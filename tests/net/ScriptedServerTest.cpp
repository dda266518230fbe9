#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

// The fixture is checked with a raw POSIX client, independent of our own socket classes.
namespace kv::test {
namespace {

class RawClient {
 public:
  explicit RawClient(const ScriptedServer& server, LoopbackFamily family = LoopbackFamily::IPv4) {
    m_fd = Connect(server.Port(), family);
  }
  ~RawClient() { CloseNow(); }

  static int Connect(uint16_t port, LoopbackFamily family) {
    sockaddr_storage address{};
    socklen_t length;
    if (family == LoopbackFamily::IPv6) {
      auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
      in6.sin6_family = AF_INET6;
      in6.sin6_port = htons(port);
      in6.sin6_addr = in6addr_loopback;
      length = sizeof in6;
    } else {
      auto& in4 = reinterpret_cast<sockaddr_in&>(address);
      in4.sin_family = AF_INET;
      in4.sin_port = htons(port);
      in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof in4;
    }
    int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      return -1;
    }
    return fd;
  }

  int Fd() const { return m_fd; }
  void SendText(const std::string& text) {
    ASSERT_EQ(send(m_fd, text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
  }
  // One recv; errno is kept for the caller when it fails.
  ssize_t ReceiveOnce(std::string& into) {
    char buffer[4096];
    ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    }
    return n;
  }
  // Everything until the server closes.
  std::string ReceiveAll() {
    std::string all;
    while (ReceiveOnce(all) > 0) {
    }
    return all;
  }
  void CloseNow() {
    if (m_fd >= 0) {
      close(m_fd);
      m_fd = -1;
    }
  }

 private:
  int m_fd = -1;
};

TEST(ScriptedServerTest, RecordsTheRequestAndPlaysTheReply) {
  ScriptedServer server(Script().ReadRequestHead().Send("HTTP/1.1 200 OK\r\n\r\nbody"));
  RawClient client(server);
  ASSERT_GE(client.Fd(), 0);
  client.SendText("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(client.ReceiveAll(), "HTTP/1.1 200 OK\r\n\r\nbody");
  client.CloseNow();

  ASSERT_TRUE(server.WaitForScriptEnd(1));
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(server.Received(1), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(server.Received(), server.Received(1));
  EXPECT_TRUE(server.PeerClosed(1));
}

TEST(ScriptedServerTest, ReadsTwoHeadsAndABodyOnOneConnection) {
  ScriptedServer server(Script()
                            .ReadRequestHead()
                            .ReadBytes(3)
                            .Send("first")
                            .ReadRequestHead()
                            .Send("second")
                            .KeepOpenUntilPeerCloses());
  RawClient client(server);
  client.SendText("POST / HTTP/1.1\r\n\r\nabc");
  std::string got;
  while (got.size() < 5 && client.ReceiveOnce(got) > 0) {
  }
  EXPECT_EQ(got, "first");
  client.SendText("GET / HTTP/1.1\r\n\r\n");
  while (got.size() < 11 && client.ReceiveOnce(got) > 0) {
  }
  EXPECT_EQ(got, "firstsecond");
  EXPECT_FALSE(server.ScriptFinished(1));  // kept open while the client is
  client.CloseNow();
  ASSERT_TRUE(server.WaitForScriptEnd(1));
  EXPECT_EQ(server.Received(1), "POST / HTTP/1.1\r\n\r\nabcGET / HTTP/1.1\r\n\r\n");
}

TEST(ScriptedServerTest, PlaysOneScriptPerConnectionAndClosesConnectionsBeyondTheList) {
  ScriptedServer server(std::vector<Script>{Script().Send("one"), Script().Send("two")});
  for (const char* expected : {"one", "two", ""}) {
    RawClient client(server);
    ASSERT_GE(client.Fd(), 0);
    EXPECT_EQ(client.ReceiveAll(), expected);
  }
  EXPECT_TRUE(server.WaitForConnections(3));
  EXPECT_EQ(server.ConnectionCount(), 3);
}

TEST(ScriptedServerTest, ResetReachesTheClientAsConnectionReset) {
  ScriptedServer server(Script().ReadRequestHead().Reset());
  RawClient client(server);
  client.SendText("GET / HTTP/1.1\r\n\r\n");
  std::string got;
  ssize_t n = client.ReceiveOnce(got);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(errno, ECONNRESET);
}

TEST(ScriptedServerTest, PiecesArriveCompleteAndInOrder) {
  ScriptedServer server(Script().SendPieces("abcdefghij", {1, 2, 3}).Send("!"));
  server.SetPieceGap(std::chrono::milliseconds(1));
  RawClient client(server);
  EXPECT_EQ(client.ReceiveAll(), "abcdefghij!");
}

TEST(ScriptedServerTest, SignalReleasesTheNextSendSoEachPieceIsReceivedAlone) {
  ScriptedServer server(Script().Send("a").WaitForSignal().Send("bc").WaitForSignal().Send("d"));
  RawClient client(server);
  std::vector<std::string> receives;
  for (int i = 0; i < 3; ++i) {
    std::string piece;
    ASSERT_GT(client.ReceiveOnce(piece), 0);
    receives.push_back(piece);
    server.Signal();
  }
  EXPECT_EQ(receives, (std::vector<std::string>{"a", "bc", "d"}));
}

TEST(ScriptedServerTest, ScriptsSetAfterConstructionApplyToLaterConnections) {
  ScriptedServer server;
  server.SetScript(Script().Send("port " + std::to_string(server.Port())));
  RawClient client(server);
  EXPECT_EQ(client.ReceiveAll(), "port " + std::to_string(server.Port()));
}

TEST(ScriptedServerTest, StopsByItselfWhileAConnectionWaits) {
  auto server = std::make_unique<ScriptedServer>(Script().WaitForSignal().Send("never"));
  RawClient client(*server);
  ASSERT_TRUE(server->WaitForConnections(1));
  server.reset();  // must not hang on the waiting script
  std::string got;
  EXPECT_EQ(client.ReceiveOnce(got), 0);
  EXPECT_EQ(got, "");
}

TEST(ScriptedServerTest, UnusedLoopbackPortRefusesConnections) {
  uint16_t port = UnusedLoopbackPort();
  EXPECT_NE(port, 0);
  EXPECT_EQ(RawClient::Connect(port, LoopbackFamily::IPv4), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(ScriptedServerTest, ListensOnIPv6Loopback) {
  if (!ScriptedServer::IPv6Available()) {
    GTEST_SKIP() << "no IPv6 loopback on this machine";
  }
  ScriptedServer server(Script().Send("six"), LoopbackFamily::IPv6);
  EXPECT_EQ(server.Host(), "::1");
  EXPECT_EQ(server.BaseUrl(), "http://[::1]:" + std::to_string(server.Port()));
  RawClient client(server, LoopbackFamily::IPv6);
  EXPECT_EQ(client.ReceiveAll(), "six");
}

}  // namespace
}  // namespace kv::test
