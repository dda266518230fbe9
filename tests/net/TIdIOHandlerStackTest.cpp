#include "net/TIdIOHandlerStack.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"
#include "net/TIdStream.h"
#include "net/TIdTCPClient.h"
#include "tests/support/CountingStack.h"
#include "tests/support/ScriptedServer.h"

namespace kv::net {
namespace {

using kv::test::CountingStackScope;
using kv::test::Script;
using kv::test::ScriptedServer;
using namespace std::chrono_literals;

std::string Body(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>(i * 31 % 251);
  }
  return body;
}

// A client connected to the server, and its handler.
class Connected {
 public:
  explicit Connected(const ScriptedServer& server) { client.Connect(server.Host(), server.Port()); }
  TIdIOHandler& io() { return *client.IOHandler(); }
  TIdIOHandlerStack& stack() { return dynamic_cast<TIdIOHandlerStack&>(io()); }
  TIdTCPClient client;
};

// Receives until the handler has seen the peer's close.
void WaitForClose(TIdIOHandler& io) {
  for (int i = 0; i < 200 && !io.ClosedGracefully(); ++i) {
    io.CheckForDataOnSource(100);
  }
  ASSERT_TRUE(io.ClosedGracefully());
}

TEST(TIdIOHandlerStackRead, LinesArrivingByteByByte) {
  ScriptedServer server(
      Script().SendInPiecesOf("HTTP/1.1 200 OK\r\nA: b\n\r\n", 1).KeepOpenUntilPeerCloses());
  server.SetPieceGap(1ms);
  Connected c(server);
  EXPECT_EQ(c.io().ReadLn(), "HTTP/1.1 200 OK");
  EXPECT_EQ(c.io().ReadLn(), "A: b");
  EXPECT_EQ(c.io().ReadLn(), "");
}

TEST(TIdIOHandlerStackRead, BodyByCountIsExactAndCountsEveryReceive) {
  const std::string body = Body(100000);
  ScriptedServer server(Script()
                            .SendPieces("HEAD\r\n" + body, {6 + 1000, 32768, 32768, 32768})
                            .KeepOpenUntilPeerCloses());
  Connected c(server);
  std::vector<int64_t> counts;
  int64_t announced = -1;
  bool ended = false;
  c.client.OnWorkBegin = [&](TIdComponent&, TWorkMode, int64_t max) { announced = max; };
  c.client.OnWork = [&](TIdComponent&, TWorkMode, int64_t count) { counts.push_back(count); };
  c.client.OnWorkEnd = [&](TIdComponent&, TWorkMode) { ended = true; };
  EXPECT_EQ(c.io().ReadLn(), "HEAD");
  TIdMemoryStream stream;
  c.io().ReadStream(&stream, 100000, false);
  EXPECT_EQ(stream.ToString(), body);
  EXPECT_EQ(announced, 100000);
  EXPECT_TRUE(ended);
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back(), 100000);
  for (size_t i = 1; i < counts.size(); ++i) {
    EXPECT_GT(counts[i], counts[i - 1]);
    EXPECT_LE(counts[i] - counts[i - 1], 32768);
  }
}

TEST(TIdIOHandlerStackRead, UntilDisconnectTakesEverythingUpToTheClose) {
  const std::string body = Body(300000);
  ScriptedServer server(Script().Send(body).CloseGracefully());
  Connected c(server);
  TIdMemoryStream stream;
  c.io().ReadStream(&stream, -1, true);
  EXPECT_EQ(stream.ToString(), body);
  EXPECT_FALSE(c.client.Connected());
}

TEST(TIdIOHandlerStackRead, PeerClosedWithUnreadBytesStillCountsAsConnected) {
  CountingStackScope counting;
  ScriptedServer server(Script().Send("abc\n").ShutdownSend().KeepOpenUntilPeerCloses());
  Connected c(server);
  std::vector<std::string> statuses;
  c.io().OnStatus = [&](TIdComponent&, TIdStatus, const std::string& text) {
    statuses.push_back(text);
  };
  WaitForClose(c.io());
  EXPECT_TRUE(c.client.Connected());
  // The socket was released by the first check after the close, once.
  EXPECT_FALSE(c.stack().BindingAllocated());
  EXPECT_EQ(statuses, std::vector<std::string>{"Disconnected."});
  EXPECT_EQ(c.io().ReadLn(), "abc");
  EXPECT_FALSE(c.client.Connected());
  EXPECT_THROW(c.io().ReadLn(), EIdConnClosedGracefully);
  c.client.Disconnect();
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

TEST(TIdIOHandlerStackRead, PositiveReadTimeoutRunsOutAgainstASilentServer) {
  ScriptedServer server(Script().WaitForSignal().KeepOpenUntilPeerCloses());
  Connected c(server);
  c.client.SetReadTimeout(100);
  TIdMemoryStream stream;
  try {
    c.io().ReadStream(&stream, 10, false);
    FAIL() << "no exception";
  } catch (const EIdReadTimeout& e) {
    EXPECT_STREQ(e.ClassName(), "EIdReadTimeout");
    EXPECT_STREQ(e.what(), "Read timed out.");
  }
  EXPECT_EQ(c.io().ReadLn(), "");
  EXPECT_TRUE(c.io().ReadLnTimedout());
  server.Signal();
}

TEST(TIdIOHandlerStackRead, ZeroReadTimeoutWaitsWithoutLimit) {
  ScriptedServer server(Script().Pause(300ms).Send("late\n").KeepOpenUntilPeerCloses());
  Connected c(server);
  c.client.SetReadTimeout(0);
  EXPECT_EQ(c.io().ReadLn(), "late");
  EXPECT_FALSE(c.io().ReadLnTimedout());
}

TEST(TIdIOHandlerStackWrite, AfterThePeerClosedRaisesBeforeSending) {
  CountingStackScope counting;
  ScriptedServer server(Script().Send("bye\n").ShutdownSend().KeepOpenUntilPeerCloses());
  Connected c(server);
  EXPECT_EQ(c.io().ReadLn(), "bye");
  EXPECT_THROW(c.io().ReadLn(), EIdConnClosedGracefully);
  try {
    c.io().WriteLn("too late");
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  c.client.Disconnect();
  ASSERT_TRUE(server.WaitForScriptEnd(1));
  EXPECT_EQ(server.Received(1), "");
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

TEST(TIdIOHandlerStackWrite, ToAResetPeerRaisesTheSocketErrorWithoutASignal) {
  ScriptedServer server(Script().Reset());
  Connected c(server);
  ASSERT_TRUE(server.WaitForScriptEnd(1));
  const std::string block(65536, 'x');
  // The first send after the reset reports it; the later ones meet a dead connection, which
  // must be an error too and never a signal that ends the program.
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      c.io().Write(block);
      FAIL() << "no exception at attempt " << attempt;
    } catch (const EIdSocketError& e) {
      EXPECT_STREQ(e.ClassName(), "EIdSocketError");
      EXPECT_EQ(e.LastError(), 10054);
      EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
  }
}

TEST(TIdIOHandlerStackState, ResetConnectionIsNotConnectedAndAskingDoesNotFail) {
  CountingStackScope counting;
  ScriptedServer server(Script().Reset());
  Connected c(server);
  ASSERT_TRUE(server.WaitForScriptEnd(1));
  EXPECT_FALSE(c.client.Connected());
  // Connect may be called again.
  ScriptedServer other(Script().KeepOpenUntilPeerCloses());
  c.client.Connect(other.Host(), other.Port());
  EXPECT_TRUE(c.client.Connected());
  c.client.Disconnect();
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

TEST(TIdIOHandlerStackState, ReadableWithoutABindingReportsTheClose) {
  TIdIOHandlerStack handler;
  EXPECT_THROW(handler.Readable(0), EIdConnClosedGracefully);
  EXPECT_FALSE(handler.Connected());
}

TEST(TIdIOHandlerStackState, ReopeningForTheNextConnectionStartsClean) {
  CountingStackScope counting;
  ScriptedServer server(Script().Send("first\nleftover").ShutdownSend().KeepOpenUntilPeerCloses());
  TIdTCPClient client;
  client.Connect(server.Host(), server.Port());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "first");
  client.Disconnect();
  // Bytes received before the close stay readable, and a connection with unread bytes still
  // counts as connected; the next user empties the buffer first (the HTTP client does).
  EXPECT_EQ(client.IOHandler()->InputBuffer().ExtractToString(), "leftover");
  client.Connect(server.Host(), server.Port());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "first");
  client.Disconnect();
  EXPECT_EQ(counting.SocketsCreated(), 2);
  EXPECT_TRUE(counting.EverySocketClosedOnce()) << counting.Describe();
}

}  // namespace
}  // namespace kv::net
