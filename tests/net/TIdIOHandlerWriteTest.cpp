#include "net/TIdIOHandler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"
#include "net/TIdStream.h"
#include "tests/support/ChunkedIOHandler.h"

namespace kv::net {
namespace {

using kv::test::ChunkedIOHandler;
using TEnd = ChunkedIOHandler::TEnd;
using Sends = std::vector<std::string>;

class WriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    io.OnWorkBegin = [this](TIdComponent&, TWorkMode mode, int64_t max) {
      events.push_back(Mode(mode) + "begin " + std::to_string(max));
    };
    io.OnWork = [this](TIdComponent&, TWorkMode mode, int64_t count) {
      events.push_back(Mode(mode) + std::to_string(count));
    };
    io.OnWorkEnd = [this](TIdComponent&, TWorkMode mode) { events.push_back(Mode(mode) + "end"); };
    io.Open();
  }
  static std::string Mode(TWorkMode mode) { return mode == TWorkMode::wmRead ? "r:" : ""; }

  ChunkedIOHandler io{{}, TEnd::Silent};
  std::vector<std::string> events;
};

TEST_F(WriteTest, UnbufferedWritesGoOutAtOnceWithoutEventsOutsideAUnit) {
  io.Write("GET / HTTP/1.1");
  io.WriteLn("!");
  io.WriteLn();
  EXPECT_EQ(io.Sends(), (Sends{"GET / HTTP/1.1", "!\r\n", "\r\n"}));
  EXPECT_TRUE(events.empty());
  io.Write(std::string());  // empty text sends nothing
  EXPECT_EQ(io.Sends().size(), 3u);
}

TEST_F(WriteTest, BufferedHeadLeavesInOneSendOnClose) {
  io.WriteBufferOpen();
  EXPECT_TRUE(io.WriteBufferingActive());
  io.WriteLn("GET /file HTTP/1.1");
  io.WriteLn("Host: example.test");
  io.WriteLn();
  EXPECT_TRUE(io.Sends().empty());
  io.WriteBufferClose();
  EXPECT_FALSE(io.WriteBufferingActive());
  EXPECT_EQ(io.Sends(), (Sends{"GET /file HTTP/1.1\r\nHost: example.test\r\n\r\n"}));
}

TEST_F(WriteTest, CancelSendsNothing) {
  io.WriteBufferOpen();
  io.WriteLn("half a request");
  io.WriteBufferCancel();
  EXPECT_FALSE(io.WriteBufferingActive());
  EXPECT_TRUE(io.Sends().empty());
  io.WriteLn("next");
  EXPECT_EQ(io.Sends(), Sends{"next\r\n"});
}

TEST_F(WriteTest, PositiveThresholdFlushesInPiecesOfThatSize) {
  io.WriteBufferOpen(10);
  io.Write(std::string(25, 'x'));
  EXPECT_EQ(io.Sends(), (Sends{std::string(10, 'x'), std::string(10, 'x')}));
  io.WriteBufferClose();
  EXPECT_EQ(io.Sends().back(), std::string(5, 'x'));
}

TEST_F(WriteTest, ReopeningDropsWhatWasCollected) {
  io.WriteBufferOpen();
  io.Write("old");
  io.WriteBufferOpen();
  io.Write("new");
  io.WriteBufferClose();
  EXPECT_EQ(io.Sends(), Sends{"new"});
}

TEST_F(WriteTest, PartialSendsAreContinuedAndCountedInsideAUnit) {
  io.SetSendLimit(3);
  io.BeginWork(TWorkMode::wmWrite, 8);
  io.Write("abcdefgh");
  io.EndWork(TWorkMode::wmWrite);
  EXPECT_EQ(io.Sends(), (Sends{"abc", "def", "gh"}));
  EXPECT_EQ(events, (std::vector<std::string>{"begin 8", "3", "6", "8", "end"}));
}

TEST_F(WriteTest, ASendFailureIsRaisedAtOnce) {
  io.SetSendLimit(3);
  io.FailSendAt(2, [] { throw EIdSocketError(10054, "Socket Error # 10054\r\nreset"); });
  try {
    io.Write("abcdefgh");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
  EXPECT_EQ(io.Sends(), Sends{"abc"});
}

TEST_F(WriteTest, TextIsSevenBitAscii) {
  io.WriteLn(
      "K\xC3\xB8"
      "benhavn \xF0\x9F\x98\x80");
  EXPECT_EQ(io.Sent(), "K?benhavn ??\r\n");
}

TEST_F(WriteTest, ByteRangesOfAVector) {
  const std::vector<uint8_t> bytes = {'a', 'b', 'c', 'd'};
  io.Write(bytes, 2, 1);
  io.Write(bytes, -1, 3);
  io.Write(bytes, 5, 4);  // offset at the end: nothing
  EXPECT_EQ(io.Sends(), (Sends{"bc", "d"}));
}

// --- Streams -----------------------------------------------------------------------------------

TEST_F(WriteTest, StreamGoesOutInSendBufferBlocksAsOneUnit) {
  TIdMemoryStream stream;
  const std::string body(70000, 'q');
  stream.Write(body.data(), body.size());  // position at the end: size 0 still sends all
  io.Write(stream);
  EXPECT_EQ(io.Sent(), body);
  EXPECT_EQ(io.Sends().size(), 3u);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 70000", "32768", "65536", "70000", "end"}));
}

TEST_F(WriteTest, NegativeSizeSendsFromThePosition) {
  TIdMemoryStream stream;
  stream.Write("0123456789", 10);
  stream.SetPosition(6);
  io.Write(stream, -1);
  EXPECT_EQ(io.Sent(), "6789");
}

TEST_F(WriteTest, ByteCountPrefixInNetworkOrder) {
  TIdMemoryStream stream;
  stream.Write("hello", 5);
  io.Write(stream, 0, true);
  EXPECT_EQ(io.Sent(), std::string("\0\0\0\x05hello", 9));
  io.SetLargeStream(true);
  io.Write(stream, 0, true);
  EXPECT_EQ(io.Sent().substr(9), std::string("\0\0\0\0\0\0\0\x05hello", 13));
}

TEST_F(WriteTest, StreamEndingEarlyRaisesNoDataToRead) {
  TIdMemoryStream stream;
  stream.Write("abc", 3);
  stream.SetPosition(0);
  try {
    io.Write(stream, 10);
    FAIL() << "no exception";
  } catch (const EIdNoDataToRead& e) {
    EXPECT_STREQ(e.ClassName(), "EIdNoDataToRead");
    EXPECT_STREQ(e.what(), "No data to read.");
    EXPECT_NE(dynamic_cast<const EIdTCPConnectionError*>(&e), nullptr);
  }
  EXPECT_EQ(io.Sent(), "abc");
  EXPECT_EQ(events.back(), "end");
}

// A stream that claims more than 2 GiB without holding it.
class HugeStream final : public TIdStream {
 public:
  int64_t Size() const override { return 3LL * 1024 * 1024 * 1024; }
  void SetSize(int64_t) override {}
  int64_t Position() const override { return 0; }
  void SetPosition(int64_t) override {}
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void*, size_t) override {}
};

TEST_F(WriteTest, SizePrefixAbove2GiBNeedsLargeStream) {
  HugeStream stream;
  try {
    io.Write(stream, 0, true);
    FAIL() << "no exception";
  } catch (const EIdIOHandlerRequiresLargeStream& e) {
    EXPECT_STREQ(e.ClassName(), "EIdIOHandlerRequiresLargeStream");
    EXPECT_STREQ(e.what(), "Set LargeStream to True to send streams greater than 2GB");
    EXPECT_NE(dynamic_cast<const EIdIOHandler*>(&e), nullptr);
  }
  EXPECT_TRUE(io.Sends().empty());
}

// --- A peer that has closed --------------------------------------------------------------------

TEST(WriteAfterClose, RaisesBeforeAnySendEvenWithUnreadBytes) {
  for (const std::string input : {"bye\n", "bye\nmore"}) {
    SCOPED_TRACE(input);
    ChunkedIOHandler io({input}, TEnd::PeerCloses);
    io.Open();
    EXPECT_EQ(io.ReadLn(), "bye");
    io.Connected();  // notices the close
    try {
      io.Write("x");
      FAIL() << "no exception";
    } catch (const EIdConnClosedGracefully& e) {
      EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
    }
    EXPECT_TRUE(io.Sends().empty());
  }
}

}  // namespace
}  // namespace kv::net
