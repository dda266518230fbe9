#include "net/TIdIOHandler.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"
#include "net/TIdStream.h"
#include "net/TIdTCPConnection.h"
#include "tests/support/ChunkedIOHandler.h"

namespace kv::net {
namespace {

using kv::test::ChunkedIOHandler;
using TEnd = ChunkedIOHandler::TEnd;
using Events = std::vector<std::string>;

// A connection that borrows the handler, as the HTTP client does, and logs its work events;
// the handler's work must surface there with the connection as sender.
class WorkLog {
 public:
  explicit WorkLog(TIdIOHandler& io) {
    m_connection.SetIOHandler(&io);
    m_connection.OnWorkBegin = [this](TIdComponent& sender, TWorkMode mode, int64_t max) {
      Add(sender, mode, "begin " + std::to_string(max));
    };
    m_connection.OnWork = [this](TIdComponent& sender, TWorkMode mode, int64_t count) {
      Add(sender, mode, std::to_string(count));
    };
    m_connection.OnWorkEnd = [this](TIdComponent& sender, TWorkMode mode) {
      Add(sender, mode, "end");
    };
  }
  ~WorkLog() { m_connection.SetIOHandler(nullptr); }
  Events events;

 private:
  void Add(TIdComponent& sender, TWorkMode mode, const std::string& what) {
    EXPECT_EQ(&sender, &m_connection);
    events.push_back((mode == TWorkMode::wmRead ? "" : "w:") + what);
  }
  TIdTCPConnection m_connection;
};

std::string Unread(const TIdIOHandler& io) {
  return std::string(reinterpret_cast<const char*>(io.InputBuffer().Data()),
                     static_cast<size_t>(io.InputBuffer().Size()));
}

std::string Body(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>('a' + (i * 7) % 26);
  }
  return body;
}

// Records how a reader sizes the stream.
class SizeLoggingStream final : public TIdStream {
 public:
  int64_t Size() const override { return m_inner.Size(); }
  void SetSize(int64_t size) override {
    sizes.push_back(size);
    m_inner.SetSize(size);
  }
  int64_t Position() const override { return m_inner.Position(); }
  void SetPosition(int64_t position) override { m_inner.SetPosition(position); }
  size_t Read(void* buffer, size_t count) override { return m_inner.Read(buffer, count); }
  void Write(const void* data, size_t count) override { m_inner.Write(data, count); }
  std::string ToString() const { return m_inner.ToString(); }

  std::vector<int64_t> sizes;

 private:
  TIdMemoryStream m_inner;
};

// --- ReadStream with a count -------------------------------------------------------------------

TEST(ReadStream, BodyAfterTheHeadFiresOneEventPerReceive) {
  const std::string body = Body(100000);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
  ChunkedIOHandler io(
      {head + body.substr(0, 1000), body.substr(1000, 32768), body.substr(33768, 32768),
       body.substr(66536, 32768), body.substr(99304, 696)},
      TEnd::Silent);
  WorkLog log(io);
  io.Open();
  // Lines read outside a unit of work report nothing.
  EXPECT_EQ(io.ReadLn(), "HTTP/1.1 200 OK");
  EXPECT_EQ(io.ReadLn(), "Content-Length: 100000");
  EXPECT_EQ(io.ReadLn(), "");
  EXPECT_TRUE(log.events.empty());

  SizeLoggingStream stream;
  io.ReadStream(&stream, 100000, false);
  EXPECT_EQ(log.events,
            (Events{"begin 100000", "1000", "33768", "66536", "99304", "100000", "end"}));
  EXPECT_EQ(stream.ToString(), body);
  // Sized once, up front; nothing to cut at the end.
  EXPECT_EQ(stream.sizes, std::vector<int64_t>{100000});
  // No receive beyond the count.
  EXPECT_EQ(io.ReceiveCalls(), 5);
}

TEST(ReadStream, BytesBeyondTheCountStayBuffered) {
  ChunkedIOHandler io({"abc", "defNEXT"}, TEnd::Silent);
  io.Open();
  TIdMemoryStream stream;
  io.ReadStream(&stream, 6, false);
  EXPECT_EQ(stream.ToString(), "abcdef");
  EXPECT_EQ(Unread(io), "NEXT");
}

TEST(ReadStream, PeerClosingEarlyCutsTheStreamEndsTheUnitAndRaises) {
  ChunkedIOHandler io({"abc", "def"}, TEnd::PeerCloses);
  WorkLog log(io);
  io.Open();
  SizeLoggingStream stream;
  try {
    io.ReadStream(&stream, 10, false);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.ClassName(), "EIdConnClosedGracefully");
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_EQ(stream.ToString(), "abcdef");
  EXPECT_EQ(stream.Size(), 6);
  EXPECT_EQ(stream.sizes, (std::vector<int64_t>{10, 6}));
  EXPECT_EQ(log.events, (Events{"begin 10", "3", "6", "end"}));
}

TEST(ReadStream, AppendsAtTheStreamPosition) {
  ChunkedIOHandler io({"1234"}, TEnd::Silent);
  io.Open();
  SizeLoggingStream stream;
  stream.Write("XY", 2);
  io.ReadStream(&stream, 4, false);
  EXPECT_EQ(stream.ToString(), "XY1234");
  EXPECT_EQ(stream.sizes, std::vector<int64_t>{6});
}

TEST(ReadStream, CountThatWouldOverflowTheStreamRaisesBeforeReading) {
  ChunkedIOHandler io({"abc"}, TEnd::Silent);
  WorkLog log(io);
  io.Open();
  TIdMemoryStream stream;
  stream.SetPosition(std::numeric_limits<int64_t>::max() - 5);
  try {
    io.ReadStream(&stream, 10, false);
    FAIL() << "no exception";
  } catch (const EIdIOHandlerStreamDataTooLarge& e) {
    EXPECT_STREQ(e.ClassName(), "EIdIOHandlerStreamDataTooLarge");
    EXPECT_STREQ(e.what(), "Data is too large for stream");
  }
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(io.ReceiveCalls(), 0);
}

// The count is what the peer claims. Sizing the stream for all of it up front would let a
// declared length of exabytes fail the allocation (or take the memory) before any byte arrived.
TEST(ReadStream, AHugeCountIsNotReservedUpFront) {
  ChunkedIOHandler io({"abc"}, TEnd::PeerCloses);
  io.Open();
  SizeLoggingStream stream;
  try {
    io.ReadStream(&stream, std::numeric_limits<int64_t>::max(), false);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_EQ(stream.ToString(), "abc");
  ASSERT_EQ(stream.sizes.size(), 2u);
  EXPECT_LE(stream.sizes[0], int64_t{64} * 1024 * 1024);
  EXPECT_EQ(stream.sizes[1], 3);
}

TEST(ReadStream, NullStreamDropsTheCountedBytes) {
  ChunkedIOHandler io({"abcdefgh"}, TEnd::Silent);
  io.Open();
  io.ReadStream(nullptr, 5, false);
  EXPECT_EQ(Unread(io), "fgh");
}

TEST(ReadStream, CountMinusOneReadsASizePrefixFirst) {
  ChunkedIOHandler io({std::string("\0\0\0\x05", 4) + "helloX"}, TEnd::Silent);
  io.Open();
  TIdMemoryStream stream;
  io.ReadStream(&stream);
  EXPECT_EQ(stream.ToString(), "hello");
}

TEST(ReadStream, ReadTimeoutRunningOutRaisesAndKeepsWhatCame) {
  ChunkedIOHandler io({"abc"}, TEnd::Silent);
  WorkLog log(io);
  io.SetReadTimeout(30);
  io.Open();
  TIdMemoryStream stream;
  try {
    io.ReadStream(&stream, 10, false);
    FAIL() << "no exception";
  } catch (const EIdReadTimeout& e) {
    EXPECT_STREQ(e.ClassName(), "EIdReadTimeout");
    EXPECT_STREQ(e.what(), "Read timed out.");
  }
  EXPECT_EQ(stream.ToString(), "abc");
  EXPECT_EQ(stream.Size(), 3);
  EXPECT_EQ(log.events.back(), "end");
}

// A receive failing at any point: the stream holds exactly what came before, the unit is
// closed and the failure reaches the caller unchanged.
TEST(ReadStream, AFailureAtEveryReceiveLeavesAConsistentStream) {
  const std::vector<std::string> chunks = {"aaaa", "bbb", "cc", "d"};
  for (int failAt = 1; failAt <= 4; ++failAt) {
    SCOPED_TRACE(failAt);
    ChunkedIOHandler io(chunks, TEnd::Silent);
    io.FailReceiveAt(failAt, [] { throw EIdSocketError(10054, "reset"); });
    WorkLog log(io);
    io.Open();
    TIdMemoryStream stream;
    EXPECT_THROW(io.ReadStream(&stream, 10, false), EIdSocketError);
    std::string expected;
    for (int i = 0; i < failAt - 1; ++i) {
      expected += chunks[static_cast<size_t>(i)];
    }
    EXPECT_EQ(stream.ToString(), expected);
    EXPECT_EQ(stream.Size(), static_cast<int64_t>(expected.size()));
    EXPECT_EQ(log.events.front(), "begin 10");
    EXPECT_EQ(log.events.back(), "end");
  }
}

TEST(ReadStream, AnEndHandlerThatRaisesStillLeavesTheStreamCut) {
  ChunkedIOHandler io({"abc"}, TEnd::PeerCloses);
  TIdTCPConnection connection;
  connection.SetIOHandler(&io);
  connection.OnWorkEnd = [](TIdComponent&, TWorkMode) { throw std::runtime_error("handler"); };
  io.Open();
  TIdMemoryStream stream;
  EXPECT_THROW(io.ReadStream(&stream, 10, false), std::runtime_error);
  EXPECT_EQ(stream.Size(), 3);
  connection.SetIOHandler(nullptr);
}

// --- ReadStream until the peer closes ------------------------------------------------------

TEST(ReadStream, UntilDisconnectEndsQuietlyWhenThePeerCloses) {
  ChunkedIOHandler io({"head\nab", "cde", "fghi"}, TEnd::PeerCloses);
  WorkLog log(io);
  io.Open();
  EXPECT_EQ(io.ReadLn(), "head");
  TIdMemoryStream stream;
  io.ReadStream(&stream, -1, true);
  EXPECT_EQ(stream.ToString(), "abcdefghi");
  EXPECT_EQ(log.events, (Events{"begin 0", "2", "5", "9", "end"}));
  EXPECT_TRUE(io.InputBufferIsEmpty());
  EXPECT_FALSE(io.Connected());
}

TEST(ReadStream, NegativeCountReadsUntilDisconnect) {
  ChunkedIOHandler io({"xy"}, TEnd::PeerCloses);
  io.Open();
  TIdMemoryStream stream;
  io.ReadStream(&stream, -5, false);
  EXPECT_EQ(stream.ToString(), "xy");
}

// --- Chunked framing, as the HTTP client reads it ---------------------------------------------

TEST(WorkNotifications, ChunkedBodyCountsEveryByteConsumedInsideTheOuterUnit) {
  ChunkedIOHandler io({"5\r\nhello\r\n0\r\n\r\n"}, TEnd::Silent);
  TIdTCPConnection connection;
  connection.SetIOHandler(&io);
  Events events;
  connection.OnWorkBegin = [&](TIdComponent&, TWorkMode, int64_t max) {
    events.push_back("begin " + std::to_string(max));
  };
  connection.OnWork = [&](TIdComponent&, TWorkMode, int64_t count) {
    events.push_back(std::to_string(count));
  };
  connection.OnWorkEnd = [&](TIdComponent&, TWorkMode) { events.push_back("end"); };
  io.Open();
  TIdMemoryStream stream;
  connection.BeginWork(TWorkMode::wmRead, 0);
  EXPECT_EQ(io.ReadLn(), "5");
  io.ReadStream(&stream, 5, false);  // nested: its own begin and end fire nothing
  EXPECT_EQ(io.ReadLn(), "");
  EXPECT_EQ(io.ReadLn(), "0");
  EXPECT_EQ(io.ReadLn(), "");
  connection.EndWork(TWorkMode::wmRead);
  EXPECT_EQ(events, (Events{"begin 0", "3", "8", "10", "13", "15", "end"}));
  EXPECT_EQ(stream.ToString(), "hello");
  connection.SetIOHandler(nullptr);
}

// --- ReadBytes, ReadString -------------------------------------------------------------------

TEST(ReadBytes, CollectsTheCountAcrossReceivesAndAppends) {
  ChunkedIOHandler io({"ab", "cde", "fg"}, TEnd::Silent);
  io.Open();
  std::vector<uint8_t> target = {'>'};
  io.ReadBytes(target, 4);
  EXPECT_EQ(std::string(target.begin(), target.end()), ">abcd");
  EXPECT_EQ(Unread(io), "e");
  io.ReadBytes(target, 2, false);
  EXPECT_EQ(std::string(target.begin(), target.end()), "efbcd");
}

TEST(ReadBytes, PeerClosingFirstRaisesAndKeepsThePartialBytes) {
  ChunkedIOHandler io({"ab"}, TEnd::PeerCloses);
  io.Open();
  std::vector<uint8_t> target;
  EXPECT_THROW(io.ReadBytes(target, 5), EIdConnClosedGracefully);
  EXPECT_TRUE(target.empty());
  EXPECT_EQ(Unread(io), "ab");
}

TEST(ReadBytes, NegativeCountTakesWhatIsBufferedOrArrivesNext) {
  ChunkedIOHandler io({"abc", "def"}, TEnd::Silent);
  io.Open();
  std::vector<uint8_t> target;
  io.ReadBytes(target, -1);
  EXPECT_EQ(std::string(target.begin(), target.end()), "abc");
  io.ReadBytes(target, 0);  // nothing
  EXPECT_EQ(target.size(), 3u);
}

TEST(ReadString, DecodesTheCount) {
  ChunkedIOHandler io({"ab\xE6", "cd"}, TEnd::Silent);
  io.Open();
  EXPECT_EQ(io.ReadString(4),
            "ab\xEF\xBF\xBD"
            "c");
}

// --- Discard ---------------------------------------------------------------------------------

TEST(Discard, DropsTheCountAsOneUnitOfWork) {
  ChunkedIOHandler io({"abc", "defgh"}, TEnd::Silent);
  WorkLog log(io);
  io.Open();
  io.Discard(6);
  EXPECT_EQ(log.events, (Events{"begin 6", "3", "6", "end"}));
  EXPECT_EQ(Unread(io), "gh");
  io.Discard(0);
  EXPECT_EQ(log.events.size(), 4u);
}

TEST(Discard, PeerClosingFirstRaisesAfterEndingTheUnit) {
  ChunkedIOHandler io({"abc"}, TEnd::PeerCloses);
  WorkLog log(io);
  io.Open();
  EXPECT_THROW(io.Discard(10), EIdConnClosedGracefully);
  EXPECT_EQ(log.events, (Events{"begin 10", "3", "end"}));
}

TEST(DiscardAll, DropsEverythingUntilTheCloseWithOnlyBeginAndEnd) {
  ChunkedIOHandler io({"line\nabc", "def", "ghi"}, TEnd::PeerCloses);
  WorkLog log(io);
  io.Open();
  EXPECT_EQ(io.ReadLn(), "line");
  io.DiscardAll();
  EXPECT_EQ(log.events, (Events{"begin 0", "end"}));
  EXPECT_TRUE(io.InputBufferIsEmpty());
  EXPECT_EQ(io.PendingChunks(), 0u);
}

TEST(DiscardAll, OtherFailuresPassAfterClearingAndEndingTheUnit) {
  ChunkedIOHandler io({"abc", "def"}, TEnd::PeerCloses);
  io.FailReceiveAt(2, [] { throw EIdSocketError(10054, "reset"); });
  WorkLog log(io);
  io.Open();
  EXPECT_THROW(io.DiscardAll(), EIdSocketError);
  EXPECT_TRUE(io.InputBufferIsEmpty());
  EXPECT_EQ(log.events, (Events{"begin 0", "end"}));
}

// --- Waiting ---------------------------------------------------------------------------------

struct WaitCase {
  const char* name;
  int readTimeout;
  int argument;  // the time-out given to FillInputBuffer
  int wait;      // what the source is asked to wait
};

class ReadTimeoutTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(ReadTimeoutTest, MapsToTheWait) {
  const WaitCase& c = GetParam();
  ChunkedIOHandler io({"x"}, TEnd::Silent);
  io.SetReadTimeout(c.readTimeout);
  io.Open();
  EXPECT_EQ(io.FillInputBuffer(true, c.argument, true), 1);
  EXPECT_EQ(io.Waits(), std::vector<int>{c.wait});
}

const WaitCase kWaitCases[] = {
    {"MinusOneIsNoLimit", -1, -1, TIdIOHandler::kInfinite},
    {"ZeroIsNoLimit", 0, -1, TIdIOHandler::kInfinite},
    {"PositiveLimits", 250, -1, 250},
    {"ExplicitZeroDoesNotWait", 250, 0, 0},
    {"ExplicitValueWins", 250, 40, 40},
    {"ExplicitInfinite", 250, TIdIOHandler::kInfinite, TIdIOHandler::kInfinite},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReadTimeoutTest, ::testing::ValuesIn(kWaitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FillInputBuffer, TimeOutAnswersMinusOneOrRaises) {
  ChunkedIOHandler io({}, TEnd::Silent);
  io.Open();
  EXPECT_EQ(io.FillInputBuffer(false, 10, false), -1);
  EXPECT_THROW(io.FillInputBuffer(false, 10, true), EIdReadTimeout);
}

TEST(FillInputBuffer, ReceivesAtMostRecvBufferSize) {
  ChunkedIOHandler io({std::string(100000, 'z')}, TEnd::Silent);
  io.Open();
  EXPECT_EQ(io.FillInputBuffer(true, -1, true), 32768);
  io.SetRecvBufferSize(1000);
  EXPECT_EQ(io.FillInputBuffer(true, -1, true), 1000);
}

TEST(CheckForDataOnSource, AnswersWhetherSomethingArrived) {
  ChunkedIOHandler io({"x"}, TEnd::Silent);
  io.Open();
  EXPECT_TRUE(io.CheckForDataOnSource(10));
  EXPECT_FALSE(io.CheckForDataOnSource(10));
  EXPECT_EQ(Unread(io), "x");
}

// --- Closed-connection detection -------------------------------------------------------------

TEST(Connected, StaysTrueWhileUnreadBytesRemainAfterThePeerClosed) {
  ChunkedIOHandler io({"abc\n"}, TEnd::PeerCloses);
  io.Open();
  EXPECT_TRUE(io.Connected());  // receives the line
  EXPECT_TRUE(io.Connected());  // notices the close; the line is still unread
  EXPECT_FALSE(io.SourceOpen());
  EXPECT_EQ(io.ReadLn(), "abc");
  EXPECT_FALSE(io.Connected());
  // Still opened until Close.
  EXPECT_TRUE(io.Opened());
}

TEST(Connected, OpenAndCloseManageTheState) {
  ChunkedIOHandler io({"abc"}, TEnd::Silent);
  EXPECT_FALSE(io.Connected());
  io.Open();
  EXPECT_TRUE(io.Connected());
  io.Close();
  EXPECT_FALSE(io.Opened());
  // Bytes received before the close stay readable.
  EXPECT_EQ(Unread(io), "abc");
  io.Open();
  EXPECT_TRUE(io.InputBufferIsEmpty());
}

}  // namespace
}  // namespace kv::net
