#include "net/TIdTCPConnection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"
#include "net/TIdIOHandlerStack.h"
#include "tests/support/ChunkedIOHandler.h"

namespace kv::net {
namespace {

using kv::test::ChunkedIOHandler;
using TEnd = ChunkedIOHandler::TEnd;
using Log = std::vector<std::string>;

// A handler that writes its closing and its destruction into a shared log.
class LoggingIOHandler : public ChunkedIOHandler {
 public:
  LoggingIOHandler(Log& log, std::vector<std::string> chunks = {})
      : ChunkedIOHandler(std::move(chunks), TEnd::Silent), m_log(log) {}
  ~LoggingIOHandler() override { m_log.emplace_back("handler destroyed"); }
  void Close() override {
    m_log.push_back("handler closed");
    ChunkedIOHandler::Close();
  }

 private:
  Log& m_log;
};

// The disconnected hook, as the HTTP client extends it.
class HookedConnection : public TIdTCPConnection {
 public:
  explicit HookedConnection(Log& log) : m_log(log) {}
  ~HookedConnection() override { SetIOHandler(nullptr); }

 protected:
  void DoOnDisconnected() override {
    m_log.emplace_back(IOHandler()->Opened() ? "hook, handler still opened"
                                             : "hook, handler closed");
    TIdTCPConnection::DoOnDisconnected();
  }

 private:
  Log& m_log;
};

TEST(TIdTCPConnectionHandler, BorrowedHandlerReportsToTheConnectionAndIsLeftAlive) {
  Log log;
  LoggingIOHandler io(log);
  {
    TIdTCPConnection connection;
    connection.SetIOHandler(&io);
    EXPECT_EQ(connection.IOHandler(), &io);
    EXPECT_FALSE(connection.ManagedIOHandler());
    EXPECT_EQ(connection.Socket(), nullptr);
    EXPECT_EQ(io.WorkTarget(), &connection);
    connection.SetIOHandler(nullptr);
    EXPECT_EQ(io.WorkTarget(), nullptr);
    connection.SetIOHandler(&io);
  }
  // The connection closed it on its way out but did not free it.
  EXPECT_EQ(log, Log{"handler closed"});
  EXPECT_EQ(io.WorkTarget(), nullptr);
}

TEST(TIdTCPConnectionHandler, ManagedHandlerIsFreedWhenReplaced) {
  Log log;
  TIdTCPConnection connection;
  connection.SetManagedIOHandler(std::make_unique<LoggingIOHandler>(log));
  EXPECT_TRUE(connection.ManagedIOHandler());
  LoggingIOHandler other(log);
  connection.SetIOHandler(&other);
  EXPECT_EQ(log, Log{"handler destroyed"});
  EXPECT_FALSE(connection.ManagedIOHandler());
  connection.SetIOHandler(nullptr);
}

TEST(TIdTCPConnectionHandler, DestructionClosesThenFreesAManagedHandler) {
  Log log;
  {
    TIdTCPConnection connection;
    connection.SetManagedIOHandler(std::make_unique<LoggingIOHandler>(log));
    connection.OnDisconnected = [&](TIdComponent&) { log.push_back("OnDisconnected"); };
    connection.IOHandler()->Open();
  }
  EXPECT_EQ(log, (Log{"handler closed", "handler destroyed"}));
}

TEST(TIdTCPConnectionHandler, HandlerDestroyedElsewhereIsForgotten) {
  Log log;
  TIdTCPConnection connection;
  {
    LoggingIOHandler io(log);
    connection.SetIOHandler(&io);
  }
  EXPECT_EQ(connection.IOHandler(), nullptr);
  EXPECT_FALSE(connection.Connected());
}

TEST(TIdTCPConnectionHandler, SocketIsTheHandlerWhenItIsASocketHandler) {
  TIdTCPConnection connection;
  auto stack = std::make_unique<TIdIOHandlerStack>();
  TIdIOHandlerStack* raw = stack.get();
  connection.SetManagedIOHandler(std::move(stack));
  EXPECT_EQ(connection.Socket(), raw);
  EXPECT_EQ(connection.IOHandler(), raw);
}

TEST(TIdTCPConnectionDisconnect, ClosesBetweenTheStatusesAndRunsTheHookAfterTheClose) {
  Log log;
  LoggingIOHandler io(log, {"unread"});
  HookedConnection connection(log);
  connection.SetIOHandler(&io);
  connection.OnStatus = [&](TIdComponent& sender, TIdStatus, const std::string& text) {
    EXPECT_EQ(&sender, &connection);
    log.push_back(text);
  };
  connection.OnDisconnected = [&](TIdComponent& sender) {
    EXPECT_EQ(&sender, &connection);
    log.push_back("OnDisconnected");
  };
  io.Open();
  connection.Disconnect();
  EXPECT_EQ(log, (Log{"Disconnecting.", "handler closed", "hook, handler closed", "OnDisconnected",
                      "Disconnected."}));
  // A second Disconnect finds the handler closed and does nothing.
  connection.Disconnect();
  EXPECT_EQ(log.size(), 5u);
}

TEST(TIdTCPConnectionDisconnect, NeverOpenedHandlerOrNoHandlerDoesNothing) {
  Log log;
  TIdTCPConnection connection;
  connection.OnDisconnected = [&](TIdComponent&) { log.push_back("OnDisconnected"); };
  connection.Disconnect();
  LoggingIOHandler io(log);
  connection.SetIOHandler(&io);
  connection.Disconnect();
  EXPECT_TRUE(log.empty());
  connection.SetIOHandler(nullptr);
}

TEST(TIdTCPConnectionDisconnect, AFailingConnectedCheckDoesNotStopTheClose) {
  Log log;
  LoggingIOHandler io(log, {"x"});
  io.FailReceiveAt(1, [] { throw EIdSocketError(10054, "reset"); });
  TIdTCPConnection connection;
  connection.SetIOHandler(&io);
  io.Open();
  connection.Disconnect();
  EXPECT_EQ(log, Log{"handler closed"});
  EXPECT_FALSE(io.Opened());
  connection.SetIOHandler(nullptr);
}

TEST(TIdTCPConnectionCheck, GracefulDisconnectWithoutHandlerRaisesNotConnected) {
  TIdTCPConnection connection;
  connection.CheckForGracefulDisconnect(false);
  try {
    connection.CheckForGracefulDisconnect();
    FAIL() << "no exception";
  } catch (const EIdNotConnected& e) {
    EXPECT_STREQ(e.ClassName(), "EIdNotConnected");
    EXPECT_STREQ(e.what(), "Not Connected");
  }
}

TEST(TIdTCPConnectionCheck, GracefulDisconnectRaisesOnlyOnceTheBufferIsRead) {
  ChunkedIOHandler io({"a\n"}, TEnd::PeerCloses);
  TIdTCPConnection connection;
  connection.SetIOHandler(&io);
  io.Open();
  EXPECT_TRUE(connection.Connected());
  EXPECT_TRUE(connection.Connected());  // the close is noticed, "a\n" unread
  connection.CheckForGracefulDisconnect();
  EXPECT_EQ(io.ReadLn(), "a");
  EXPECT_THROW(connection.CheckForGracefulDisconnect(), EIdConnClosedGracefully);
  EXPECT_FALSE(connection.Connected());
  connection.SetIOHandler(nullptr);
}

}  // namespace
}  // namespace kv::net
