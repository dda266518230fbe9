#include "net/TIdSocketHandle.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/IdExceptions.h"
#include "tests/support/ScriptedServer.h"

namespace kv::net {
namespace {

using kv::test::LoopbackFamily;
using kv::test::Script;
using kv::test::ScriptedServer;

// An option read straight from the kernel, not through the class under test.
int RawOption(int fd, int level, int option) {
  int value = -1;
  socklen_t length = sizeof value;
  EXPECT_EQ(getsockopt(fd, level, option, &value, &length), 0);
  return value;
}

std::string Text(const std::vector<uint8_t>& bytes, int count) {
  return std::string(bytes.begin(), bytes.begin() + count);
}

void SendText(TIdSocketHandle& binding, const std::string& text) {
  ASSERT_EQ(
      binding.Send(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size())),
      static_cast<int>(text.size()));
}

// Allocates, binds at the defaults and connects to 127.0.0.1:port, as a client connect does.
void ConnectTo(TIdSocketHandle& binding, uint16_t port,
               TIdIPVersion version = TIdIPVersion::Id_IPv4) {
  binding.SetIPVersion(version);
  binding.AllocateSocket();
  binding.Bind();
  binding.SetPeer(version == TIdIPVersion::Id_IPv4 ? "127.0.0.1" : "0:0:0:0:0:0:0:1", port,
                  version);
  binding.Connect();
}

TEST(TIdSocketHandleTest, StartsWithoutASocket) {
  TIdSocketHandle binding;
  EXPECT_EQ(binding.Handle(), Id_INVALID_SOCKET);
  EXPECT_FALSE(binding.HandleAllocated());
  EXPECT_EQ(binding.SocketType(), 0);
  EXPECT_EQ(binding.IPVersion(), TIdIPVersion::Id_IPv4);
  EXPECT_TRUE(binding.UseNagle());
  EXPECT_EQ(binding.ReuseSocket(), TIdReuseSocket::rsOSDependent);
  EXPECT_FALSE(binding.OverLapped());
  EXPECT_NE(TIdStack::Instance(), nullptr);  // a handle keeps the stack object alive
}

TEST(TIdSocketHandleTest, ConnectFillsBothEndsAndCarriesBytesBothWays) {
  ScriptedServer server(Script().ReadRequestHead().Send("pong").KeepOpenUntilPeerCloses());
  TIdSocketHandle binding;
  binding.AllocateSocket();
  ASSERT_TRUE(binding.HandleAllocated());
  int fd = binding.Handle();
  EXPECT_EQ(binding.SocketType(), Id_SOCK_STREAM);
  EXPECT_TRUE(binding.UseNagle());
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "a started program must not inherit it";

  binding.Bind();
  EXPECT_EQ(binding.IP(), "0.0.0.0");
  EXPECT_NE(binding.Port(), 0);
  uint16_t boundPort = binding.Port();
  // At the defaults the socket gets SO_REUSEADDR 0 and nothing else.
  EXPECT_EQ(RawOption(fd, SOL_SOCKET, SO_REUSEADDR), 0);
  EXPECT_EQ(RawOption(fd, IPPROTO_TCP, TCP_NODELAY), 0);

  binding.SetPeer("127.0.0.1", server.Port());
  binding.Connect();
  EXPECT_EQ(binding.IP(), "127.0.0.1");
  EXPECT_EQ(binding.Port(), boundPort);
  EXPECT_EQ(binding.PeerIP(), "127.0.0.1");
  EXPECT_EQ(binding.PeerPort(), server.Port());
  EXPECT_EQ(binding.IPVersion(), TIdIPVersion::Id_IPv4);

  SendText(binding, "ping\r\n\r\n");
  std::vector<uint8_t> buffer(16);
  int received = 0;
  while (received < 4) {
    std::vector<uint8_t> part(16);
    int n = binding.Receive(part);
    ASSERT_GT(n, 0);
    std::copy(part.begin(), part.begin() + n, buffer.begin() + received);
    received += n;
  }
  EXPECT_EQ(Text(buffer, received), "pong");
  EXPECT_EQ(server.Received(1), "ping\r\n\r\n");
}

struct ReuseCase {
  const char* name;
  TIdReuseSocket reuse;
  int expected;
};

class ReuseAddressTest : public ::testing::TestWithParam<ReuseCase> {};

TEST_P(ReuseAddressTest, BindAlwaysSetsTheOption) {
  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetReuseSocket(GetParam().reuse);
  binding.Bind();
  EXPECT_EQ(RawOption(binding.Handle(), SOL_SOCKET, SO_REUSEADDR), GetParam().expected);
}

const ReuseCase kReuseCases[] = {
    {"OSDependent", TIdReuseSocket::rsOSDependent, 0},
    {"True", TIdReuseSocket::rsTrue, 1},
    {"False", TIdReuseSocket::rsFalse, 0},
};

INSTANTIATE_TEST_SUITE_P(Values, ReuseAddressTest, ::testing::ValuesIn(kReuseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TIdSocketHandleTest, ConnectToAClosedPortIsRefused) {
  TIdSocketHandle binding;
  try {
    ConnectTo(binding, kv::test::UnusedLoopbackPort());
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_STREQ(e.ClassName(), "EIdSocketError");
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_TRUE(binding.HandleAllocated());  // nothing is closed at this level
}

TEST(TIdSocketHandleTest, SendToAPeerThatResetIsASocketErrorNotASignal) {
  ScriptedServer server(Script().ReadRequestHead().Reset());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  SendText(binding, "GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(server.WaitForScriptEnd(1));
  ASSERT_TRUE(binding.Readable(-1));  // the reset has arrived
  // The first call after the reset reports it; every send after that meets a dead connection
  // (EPIPE), which without MSG_NOSIGNAL would end the test program with SIGPIPE.
  std::vector<uint8_t> buffer(16);
  EXPECT_THROW(binding.Receive(buffer), EIdSocketError);
  const std::string more = "more";
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      binding.Send(reinterpret_cast<const uint8_t*>(more.data()), 4);
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 10054);
      EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
  }
}

TEST(TIdSocketHandleTest, ReceiveAfterAResetIsConnectionReset) {
  ScriptedServer server(Script().ReadRequestHead().Reset());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  SendText(binding, "GET / HTTP/1.1\r\n\r\n");
  std::vector<uint8_t> buffer(16);
  try {
    binding.Receive(buffer);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
    EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
}

TEST(TIdSocketHandleTest, ReceiveAnswersZeroWhenThePeerHasClosed) {
  ScriptedServer server(Script().Send("bye").CloseGracefully());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  std::string got;
  std::vector<uint8_t> buffer(64);
  for (int n; (n = binding.Receive(buffer)) > 0;) {
    got += Text(buffer, n);
  }
  EXPECT_EQ(got, "bye");
  EXPECT_EQ(binding.Receive(buffer), 0);
}

TEST(TIdSocketHandleTest, ReadableWaitsForDataAndAnswersFalseWhenNoneCame) {
  ScriptedServer server(Script().WaitForSignal().Send("x").KeepOpenUntilPeerCloses());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  EXPECT_FALSE(binding.Readable(0));
  EXPECT_FALSE(binding.Readable(10));
  server.Signal();
  EXPECT_TRUE(binding.Readable(-1));
  EXPECT_TRUE(binding.Readable(0));  // still unread
}

TEST(TIdSocketHandleTest, ReadableWithoutASocketIsAGracefulClose) {
  TIdSocketHandle binding;
  try {
    binding.Readable(0);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.ClassName(), "EIdConnClosedGracefully");
    EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  }
}

TEST(TIdSocketHandleTest, ReadableRefusesANegativeTimeOtherThanNoLimit) {
  TIdSocketHandle binding;
  binding.AllocateSocket();
  try {
    binding.Readable(-5);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10022);
    EXPECT_EQ(e.Message(), "Socket Error # 10022\r\nInvalid argument.");
  }
}

// select() cannot wait on descriptors from FD_SETSIZE (1024) up; poll can.
TEST(TIdSocketHandleTest, TheReadabilityWaitWorksAboveDescriptor1024) {
  constexpr int kHighDescriptor = 1500;
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur <= kHighDescriptor) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, kHighDescriptor + 1);
    if (limit.rlim_cur <= kHighDescriptor || setrlimit(RLIMIT_NOFILE, &limit) != 0) {
      GTEST_SKIP() << "cannot open descriptor " << kHighDescriptor;
    }
  }
  ScriptedServer server(Script().WaitForSignal().Send("x").KeepOpenUntilPeerCloses());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  ASSERT_EQ(fcntl(kHighDescriptor, F_GETFD), -1) << "descriptor already in use";
  ASSERT_EQ(dup2(binding.Handle(), kHighDescriptor), kHighDescriptor);
  EXPECT_FALSE(GStack().WaitForReadable(kHighDescriptor, 0));
  server.Signal();
  EXPECT_TRUE(GStack().WaitForReadable(kHighDescriptor, -1));
  std::vector<uint8_t> buffer(4);
  EXPECT_EQ(GStack().Receive(kHighDescriptor, buffer), 1);
  EXPECT_EQ(buffer[0], 'x');
  close(kHighDescriptor);
}

TEST(TIdSocketHandleTest, CloseSocketClosesOnceAndThePeerSeesIt) {
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  binding.CloseSocket();
  EXPECT_FALSE(binding.HandleAllocated());
  EXPECT_EQ(binding.Handle(), Id_INVALID_SOCKET);
  EXPECT_EQ(binding.SocketType(), 0);
  EXPECT_TRUE(server.WaitForPeerClose(1));
  binding.CloseSocket();  // a second close does nothing
  EXPECT_FALSE(binding.HandleAllocated());
}

TEST(TIdSocketHandleTest, TheDestructorClosesTheSocket) {
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  {
    TIdSocketHandle binding;
    ConnectTo(binding, server.Port());
    ASSERT_TRUE(server.WaitForConnections(1));
  }
  EXPECT_TRUE(server.WaitForPeerClose(1));
}

TEST(TIdSocketHandleTest, ResetClosesAndClearsTheAddresses) {
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  binding.Reset();
  EXPECT_FALSE(binding.HandleAllocated());
  EXPECT_EQ(binding.IP(), "");
  EXPECT_EQ(binding.Port(), 0);
  EXPECT_EQ(binding.PeerIP(), "");
  EXPECT_EQ(binding.PeerPort(), 0);
  EXPECT_EQ(binding.IPVersion(), TIdIPVersion::Id_IPv4);
  EXPECT_TRUE(server.WaitForPeerClose(1));
}

TEST(TIdSocketHandleTest, TheIPVersionCannotChangeWhileASocketIsHeld) {
  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetIPVersion(TIdIPVersion::Id_IPv4);  // the same value is fine
  try {
    binding.SetIPVersion(TIdIPVersion::Id_IPv6);
    FAIL() << "no exception";
  } catch (const EIdCannotSetIPVersionWhenConnected& e) {
    EXPECT_STREQ(e.ClassName(), "EIdCannotSetIPVersionWhenConnected");
    EXPECT_EQ(e.Message(), "Cannot change IPVersion when connected");
  }
  binding.CloseSocket();
  binding.SetIPVersion(TIdIPVersion::Id_IPv6);
  EXPECT_EQ(binding.IPVersion(), TIdIPVersion::Id_IPv6);
}

TEST(TIdSocketHandleTest, TurningNagleOffSetsNoDelayOnlyOnChange) {
  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetUseNagle(true);  // unchanged: nothing set
  EXPECT_EQ(RawOption(binding.Handle(), IPPROTO_TCP, TCP_NODELAY), 0);
  binding.SetUseNagle(false);
  EXPECT_FALSE(binding.UseNagle());
  EXPECT_NE(RawOption(binding.Handle(), IPPROTO_TCP, TCP_NODELAY), 0);
  binding.SetUseNagle(true);
  EXPECT_EQ(RawOption(binding.Handle(), IPPROTO_TCP, TCP_NODELAY), 0);
}

TEST(TIdSocketHandleTest, AllocatingAgainClosesTheSocketStillHeld) {
  ScriptedServer server(Script().KeepOpenUntilPeerCloses());
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port());
  binding.AllocateSocket();
  EXPECT_TRUE(server.WaitForPeerClose(1));
  EXPECT_TRUE(binding.HandleAllocated());
}

// --- Port ranges -------------------------------------------------------------------------------

TEST(TIdSocketHandlePortRangeTest, MaxBelowMinIsAnInvalidRange) {
  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetClientPortMin(5000);
  binding.SetClientPortMax(4000);
  try {
    binding.Bind();
    FAIL() << "no exception";
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_STREQ(e.ClassName(), "EIdInvalidPortRange");
    EXPECT_EQ(e.Message(), "Invalid Port Range (5000 - 4000)");
  }
}

TEST(TIdSocketHandlePortRangeTest, ARangeWithEveryPortTakenCannotBind) {
  // Hold one port with a socket of our own, then ask for exactly that port.
  int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  uint16_t taken = ntohs(address.sin_port);

  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetClientPortMin(taken);
  binding.SetClientPortMax(taken);
  try {
    binding.Bind();
    ADD_FAILURE() << "no exception";
  } catch (const EIdCanNotBindPortInRange& e) {
    EXPECT_STREQ(e.ClassName(), "EIdCanNotBindPortInRange");
    EXPECT_EQ(e.Message(), "Can not bind in port range (" + std::to_string(taken) + " - " +
                               std::to_string(taken) + ")");
  }
  close(holder);
}

TEST(TIdSocketHandlePortRangeTest, ARangeBindsItsHighestFreePort) {
  uint16_t free = kv::test::UnusedLoopbackPort();
  ASSERT_GT(free, 1);
  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetClientPortMin(static_cast<uint16_t>(free - 1));
  binding.SetClientPortMax(free);
  binding.Bind();
  EXPECT_EQ(binding.Port(), free);
}

TEST(TIdSocketHandlePortRangeTest, AnExplicitPortWinsOverTheRange) {
  uint16_t free = kv::test::UnusedLoopbackPort();
  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetPort(free);
  binding.SetClientPortMin(10);
  binding.SetClientPortMax(5);  // would be invalid if it were used
  binding.Bind();
  EXPECT_EQ(binding.Port(), free);
}

// --- IPv6 --------------------------------------------------------------------------------------

TEST(TIdSocketHandleTest, ConnectsOverIPv6Loopback) {
  if (!ScriptedServer::IPv6Available()) {
    GTEST_SKIP() << "no IPv6 loopback on this machine";
  }
  ScriptedServer server(Script().ReadRequestHead().KeepOpenUntilPeerCloses(), LoopbackFamily::IPv6);
  TIdSocketHandle binding;
  ConnectTo(binding, server.Port(), TIdIPVersion::Id_IPv6);
  EXPECT_EQ(binding.IPVersion(), TIdIPVersion::Id_IPv6);
  EXPECT_EQ(binding.PeerIP(), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(binding.IP(), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(binding.PeerPort(), server.Port());
  SendText(binding, "six\r\n\r\n");
  EXPECT_TRUE(server.WaitForReceived(1, 7));
  EXPECT_EQ(server.Received(1), "six\r\n\r\n");
}

TEST(TIdSocketHandleTest, AnAddressTextThatIsNoAddressIsAnInvalidArgument) {
  TIdSocketHandle binding;
  binding.AllocateSocket();
  binding.SetIP("10.0.0.300");
  try {
    binding.Bind();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10022);
    EXPECT_EQ(e.Message(), "Socket Error # 10022\r\nInvalid argument.");
  }
}

}  // namespace
}  // namespace kv::net
