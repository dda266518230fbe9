#include "net/TIdTCPClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"
#include "net/TIdIOHandlerStack.h"
#include "net/TIdStack.h"
#include "tests/support/CountingStack.h"
#include "tests/support/ScriptedServer.h"

namespace kv::net {
namespace {

using kv::test::CountingStackScope;
using kv::test::Script;
using kv::test::ScriptedServer;
using Log = std::vector<std::string>;

// The failure a call raises, as "Class|code|message" (code only for socket errors).
template <typename Call>
std::string Failure(Call call) {
  try {
    call();
  } catch (const EIdSocketError& e) {
    return std::string(e.ClassName()) + "|" + std::to_string(e.LastError()) + "|" + e.what();
  } catch (const EIdException& e) {
    return std::string(e.ClassName()) + "|" + e.what();
  }
  return "no exception";
}

TEST(TIdTCPClientConnect, ConnectsThroughAnImplicitHandlerAndTalks) {
  ScriptedServer server(Script().ReadBytes(5).Send("hello\r\n").KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  client.Connect("127.0.0.1", server.Port());
  EXPECT_TRUE(client.Connected());
  EXPECT_TRUE(client.ManagedIOHandler());
  ASSERT_NE(client.Socket(), nullptr);
  EXPECT_EQ(client.Socket()->Binding()->PeerIP(), "127.0.0.1");
  EXPECT_EQ(client.Socket()->Binding()->PeerPort(), server.Port());
  EXPECT_EQ(client.Socket()->Binding()->IP(), "127.0.0.1");
  client.IOHandler()->Write("ping!");
  EXPECT_EQ(client.IOHandler()->ReadLn(), "hello");
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  ASSERT_TRUE(server.WaitForPeerClose(1));
  EXPECT_EQ(server.Received(1), "ping!");
  // The handler stays for the next connection.
  EXPECT_TRUE(client.ManagedIOHandler());
}

TEST(TIdTCPClientConnect, BindsTheWildcardAddressPortZeroWithOneOption) {
  CountingStackScope counting;
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  std::string boundIP;
  uint16_t boundPort = 0;
  int reuse = -1;
  client.OnAfterBind = [&](TIdComponent& sender) {
    auto& socket = dynamic_cast<TIdIOHandlerSocket&>(sender);
    boundIP = socket.Binding()->IP();
    boundPort = socket.Binding()->Port();
    reuse = GStack().GetSocketOption(socket.Binding()->Handle(), Id_SOL_SOCKET, Id_SO_REUSEADDR);
  };
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(boundIP, "0.0.0.0");
  EXPECT_NE(boundPort, 0);
  EXPECT_EQ(reuse, 0);
  EXPECT_EQ(counting.OptionsSetOnLastSocket(), 1);
  EXPECT_TRUE(client.UseNagle());
}

TEST(TIdTCPClientConnect, NagleOffSetsNoDelay) {
  CountingStackScope counting;
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  client.SetUseNagle(false);
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(GStack().GetSocketOption(client.Socket()->Binding()->Handle(), Id_IPPROTO_TCP,
                                     Id_TCP_NODELAY),
            1);
  EXPECT_EQ(counting.OptionsSetOnLastSocket(), 2);
}

TEST(TIdTCPClientConnect, AlreadyConnectedRaisesWithoutANewSocket) {
  CountingStackScope counting;
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(Failure([&] { client.Connect(); }), "EIdAlreadyConnected|Already connected.");
  EXPECT_EQ(counting.SocketsCreated(), 1);
  EXPECT_TRUE(client.Connected());
}

TEST(TIdTCPClientConnect, HostAndPortAreRequiredBeforeAnySocket) {
  CountingStackScope counting;
  TIdTCPClient client;
  client.SetPort(80);
  EXPECT_EQ(Failure([&] { client.Connect(); }), "EIdHostRequired|A Host is required");
  client.SetPort(0);
  client.SetHost("127.0.0.1");
  EXPECT_EQ(Failure([&] { client.Connect(); }), "EIdPortRequired|A Port is required");
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(counting.SocketsCreated(), 0);
}

TEST(TIdTCPClientConnect, RefusedConnectClosesTheSocketAndReleasesTheHandler) {
  CountingStackScope counting;
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(kv::test::UnusedLoopbackPort());
  EXPECT_EQ(Failure([&] { client.Connect(); }),
            "EIdSocketError|10061|Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(counting.SocketsCreated(), 1);
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();

  // The next Connect starts with a new handler.
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  client.Connect("127.0.0.1", server.Port());
  EXPECT_TRUE(client.Connected());
}

TEST(TIdTCPClientConnect, UnresolvableNameFailsAfterTheSocketWasBound) {
  CountingStackScope counting;
  TIdTCPClient client;
  bool bound = false;
  client.OnAfterBind = [&](TIdComponent&) { bound = true; };
  client.SetHost("no!such");
  client.SetPort(80);
  EXPECT_EQ(Failure([&] { client.Connect(); }),
            "EIdSocketError|11001|Socket Error # 11001\r\nHost not found.");
  EXPECT_TRUE(bound);
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(counting.SocketsCreated(), 1);
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

TEST(TIdTCPClientConnect, BorrowedHandlerIsClosedButKeptAfterAFailure) {
  TIdIOHandlerStack handler;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost("127.0.0.1");
  client.SetPort(kv::test::UnusedLoopbackPort());
  EXPECT_THROW(client.Connect(), EIdSocketError);
  EXPECT_EQ(client.IOHandler(), &handler);
  EXPECT_FALSE(handler.Opened());
  EXPECT_FALSE(handler.BindingAllocated());
  client.SetIOHandler(nullptr);
}

// --- Status ----------------------------------------------------------------------------------

struct StatusCase {
  const char* name;
  const char* host;
  Log expected;
};

class TIdTCPClientStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(TIdTCPClientStatusTest, HandlerReportsResolvingOnlyForNames) {
  const StatusCase& c = GetParam();
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  Log log;
  client.OnStatus = [&](TIdComponent& sender, TIdStatus, const std::string& text) {
    log.push_back((&sender == &client ? "client: " : "handler: ") + text);
  };
  client.Connect(c.host, server.Port());
  EXPECT_EQ(log, c.expected);
}

const StatusCase kStatusCases[] = {
    {"Literal", "127.0.0.1", {"handler: Connecting to 127.0.0.1.", "client: Connected."}},
    {"LocalhostIsANameButNeedsNoLookup",
     "LocalHost",
     {"handler: Resolving hostname LocalHost.", "handler: Connecting to 127.0.0.1.",
      "client: Connected."}},
};

INSTANTIATE_TEST_SUITE_P(Hosts, TIdTCPClientStatusTest, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TIdTCPClientDisconnect, StatusesAndEventAroundTheClose) {
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  Log log;
  client.Connect("127.0.0.1", server.Port());
  client.OnStatus = [&](TIdComponent&, TIdStatus, const std::string& text) { log.push_back(text); };
  client.OnDisconnected = [&](TIdComponent&) {
    log.push_back(std::string("OnDisconnected, socket ") +
                  (client.Socket()->BindingAllocated() ? "open" : "closed"));
  };
  client.Disconnect();
  EXPECT_EQ(log, (Log{"Disconnecting.", "OnDisconnected, socket closed", "Disconnected."}));
  EXPECT_TRUE(server.WaitForPeerClose(1));
}

TEST(TIdTCPClientDisconnect, DestructionClosesWithoutTheEvent) {
  CountingStackScope counting;
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  bool fired = false;
  {
    TIdTCPClient client;
    client.Connect("127.0.0.1", server.Port());
    client.OnDisconnected = [&](TIdComponent&) { fired = true; };
  }
  EXPECT_FALSE(fired);
  EXPECT_TRUE(server.WaitForPeerClose(1));
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

// --- Settings --------------------------------------------------------------------------------

TEST(TIdTCPClientSettings, PassOnToTheHandlerWhicheverIsSetFirst) {
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  client.SetReadTimeout(1234);
  client.SetConnectTimeout(4321);
  EXPECT_EQ(client.ReadTimeout(), 1234);
  client.Connect("127.0.0.1", server.Port());
  TIdIOHandler& handler = *client.IOHandler();
  EXPECT_EQ(handler.ReadTimeout(), 1234);
  EXPECT_EQ(handler.ConnectTimeout(), 4321);
  EXPECT_EQ(handler.Host(), "127.0.0.1");
  EXPECT_EQ(handler.Port(), server.Port());
  client.SetReadTimeout(99);
  EXPECT_EQ(handler.ReadTimeout(), 99);
  // Reading asks the handler.
  handler.SetReadTimeout(7);
  EXPECT_EQ(client.ReadTimeout(), 7);
  client.SetReuseSocket(TIdReuseSocket::rsTrue);
  EXPECT_EQ(client.Socket()->ReuseSocket(), TIdReuseSocket::rsTrue);
}

TEST(TIdTCPClientSettings, AssigningAHandlerCopiesThemAll) {
  TIdTCPClient client;
  client.SetHost("example.test");
  client.SetPort(8080);
  client.SetReadTimeout(500);
  client.SetIPVersion(TIdIPVersion::Id_IPv6);
  client.SetBoundPort(4000);
  client.SetUseNagle(false);
  TIdIOHandlerStack handler;
  client.SetIOHandler(&handler);
  EXPECT_EQ(handler.Host(), "example.test");
  EXPECT_EQ(handler.Port(), 8080);
  EXPECT_EQ(handler.ReadTimeout(), 500);
  EXPECT_EQ(handler.IPVersion(), TIdIPVersion::Id_IPv6);
  EXPECT_EQ(handler.BoundPort(), 4000);
  EXPECT_FALSE(handler.UseNagle());
  client.SetIOHandler(nullptr);
}

TEST(TIdTCPClientSettings, DestinationIsSplitButHostAndPortWin) {
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  client.SetDestination("ignored.test:1");
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(client.IOHandler()->Host(), "127.0.0.1");
  EXPECT_EQ(client.IOHandler()->Port(), server.Port());
}

TEST(TIdTCPClientSettings, HandlerDestinationTakesTheTextAfterTheLastColon) {
  TIdIOHandlerStack handler;
  handler.SetDefaultPort(80);
  handler.SetDestination("host.test: 8080 ");
  EXPECT_EQ(handler.Host(), "host.test");
  EXPECT_EQ(handler.Port(), 8080);
  handler.SetDestination("other.test:http");
  EXPECT_EQ(handler.Host(), "other.test");
  EXPECT_EQ(handler.Port(), 80);
  EXPECT_EQ(handler.Destination(), "other.test:80");
}

TEST(TIdTCPClientConnect, OverIPv6) {
  if (!ScriptedServer::IPv6Available()) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
  ScriptedServer server(Script().Send("six\n").KeepOpenUntilPeerCloses(),
                        kv::test::LoopbackFamily::IPv6);
  TIdTCPClient client;
  client.SetIPVersion(TIdIPVersion::Id_IPv6);
  client.Connect("::1", server.Port());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "six");
  EXPECT_EQ(client.Socket()->Binding()->IPVersion(), TIdIPVersion::Id_IPv6);
}

// --- Connect with a time limit ---------------------------------------------------------------

// A handler whose connect records the thread it ran on and, when asked to, blocks until the
// handler is closed (as a connect to an address that never answers does until its socket is
// closed).
class SeamHandler : public TIdIOHandlerStack {
 public:
  explicit SeamHandler(bool hang) : m_hang(hang) {}
  void Close() override {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_closed = true;
    }
    m_closedChanged.notify_all();
    TIdIOHandlerStack::Close();
  }
  std::thread::id connectThread;
  std::atomic<bool> connectReturned{false};

 protected:
  void ConnectBinding() override {
    connectThread = std::this_thread::get_id();
    if (m_hang) {
      std::unique_lock<std::mutex> lock(m_lock);
      m_closedChanged.wait(lock, [this] { return m_closed; });
      connectReturned = true;
      throw EIdSocketError(10053, "Socket Error # 10053\r\nSoftware caused connection abort.");
    }
    TIdIOHandlerStack::ConnectBinding();
    connectReturned = true;
  }

 private:
  bool m_hang;
  std::mutex m_lock;
  std::condition_variable m_closedChanged;
  bool m_closed = false;
};

struct ThreadCase {
  const char* name;
  int connectTimeout;
  bool onOwnThread;
};

class ConnectThreadTest : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(ConnectThreadTest, OnlyAPositiveLimitStartsAThread) {
  const ThreadCase& c = GetParam();
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  SeamHandler handler(false);
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetConnectTimeout(c.connectTimeout);
  client.Connect("127.0.0.1", server.Port());
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(handler.connectThread != std::this_thread::get_id(), c.onOwnThread);
  client.Disconnect();
  client.SetIOHandler(nullptr);
}

const ThreadCase kThreadCases[] = {
    {"ZeroBlocksOnTheCaller", 0, false},
    {"MinusOneBlocksOnTheCaller", -1, false},
    {"PositiveUsesAThread", 5000, true},
};

INSTANTIATE_TEST_SUITE_P(Limits, ConnectThreadTest, ::testing::ValuesIn(kThreadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectTimeout, FailureOnTheThreadIsRaisedUnchangedOnTheCaller) {
  CountingStackScope counting;
  TIdTCPClient client;
  client.SetConnectTimeout(5000);
  client.SetHost("127.0.0.1");
  client.SetPort(kv::test::UnusedLoopbackPort());
  EXPECT_EQ(Failure([&] { client.Connect(); }),
            "EIdSocketError|10061|Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

TEST(ConnectTimeout, ConnectThatDoesNotFinishIsClosedAndTimesOut) {
  CountingStackScope counting;
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  SeamHandler handler(true);
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetConnectTimeout(50);
  EXPECT_EQ(Failure([&] { client.Connect("127.0.0.1", server.Port()); }),
            "EIdConnectTimeout|Connect timed out.");
  // The thread had ended before the failure was raised, and the socket is closed, once.
  EXPECT_TRUE(handler.connectReturned);
  EXPECT_FALSE(handler.BindingAllocated());
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
  client.SetIOHandler(nullptr);
}

// A loopback listener whose accept queue is full, so a further connect gets no answer to its
// SYN and stays in progress until it is given up. Raw sockets, as the scripted server uses.
class FullListener {
 public:
  FullListener() {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), length);
    listen(m_listener, 0);
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    // Connections that complete and are never accepted fill the queue.
    for (int i = 0; i < 2; ++i) {
      int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
      m_fillers.push_back(filler);
    }
  }
  ~FullListener() {
    for (int fd : m_fillers) {
      close(fd);
    }
    close(m_listener);
  }
  uint16_t Port() const { return m_port; }

 private:
  int m_listener = -1;
  uint16_t m_port = 0;
  std::vector<int> m_fillers;
};

TEST(ConnectTimeout, ConnectToAListenerThatDoesNotAnswerTimesOut) {
  CountingStackScope counting;
  FullListener listener;
  TIdTCPClient client;
  client.SetConnectTimeout(300);
  EXPECT_EQ(Failure([&] { client.Connect("127.0.0.1", listener.Port()); }),
            "EIdConnectTimeout|Connect timed out.");
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

}  // namespace
}  // namespace kv::net
