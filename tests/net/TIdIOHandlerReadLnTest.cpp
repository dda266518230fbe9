#include "net/TIdIOHandler.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"
#include "net/TIdTextEncoding.h"
#include "tests/support/ChunkedIOHandler.h"

namespace kv::net {
namespace {

using kv::test::ChunkedIOHandler;
using TEnd = ChunkedIOHandler::TEnd;
using Lines = std::vector<std::string>;

std::string Unread(const TIdIOHandler& io) {
  return std::string(reinterpret_cast<const char*>(io.InputBuffer().Data()),
                     static_cast<size_t>(io.InputBuffer().Size()));
}

// Every way to deliver input in receives that a reader must not notice: all at once, split in
// two at every point, and byte by byte.
std::vector<std::vector<std::string>> EverySplit(const std::string& input) {
  std::vector<std::vector<std::string>> splits{{input}};
  for (size_t at = 1; at < input.size(); ++at) {
    splits.push_back({input.substr(0, at), input.substr(at)});
  }
  std::vector<std::string> bytes;
  for (char c : input) {
    bytes.emplace_back(1, c);
  }
  splits.push_back(bytes);
  return splits;
}

std::string Describe(const std::vector<std::string>& chunks) {
  std::string text;
  for (const std::string& chunk : chunks) {
    text += '[' + std::to_string(chunk.size()) + ']';
  }
  return text;
}

struct ReadLnCase {
  const char* name;
  std::string input;
  std::string terminator;  // empty: the default LF form
  Lines lines;
  std::string left;  // still buffered after the lines
};

class ReadLnTest : public ::testing::TestWithParam<ReadLnCase> {};

TEST_P(ReadLnTest, ReadsTheSameLinesHoweverTheInputIsSplit) {
  const ReadLnCase& c = GetParam();
  for (const auto& chunks : EverySplit(c.input)) {
    SCOPED_TRACE(Describe(chunks));
    // Silent after the input: a read that waited for more would fail the test.
    ChunkedIOHandler io(chunks, TEnd::Silent);
    io.Open();
    Lines lines;
    for (size_t i = 0; i < c.lines.size(); ++i) {
      lines.push_back(c.terminator.empty() ? io.ReadLn() : io.ReadLn(c.terminator));
    }
    EXPECT_EQ(lines, c.lines);
    EXPECT_FALSE(io.ReadLnTimedout());
    // What is left may not all have been received yet; take the rest and compare.
    while (io.PendingChunks() > 0) {
      io.FillInputBuffer(true, -1, true);
    }
    EXPECT_EQ(Unread(io), c.left);
  }
}

const ReadLnCase kReadLnCases[] = {
    {"CrLf", "abc\r\ndef\r\nrest", "", {"abc", "def"}, "rest"},
    {"BareLf", "abc\ndef\n", "", {"abc", "def"}, ""},
    {"CrCrLfKeepsOneCr", "abc\r\r\n", "", {"abc\r"}, ""},
    {"LoneCrStaysInTheLine", "a\rb\n", "", {"a\rb"}, ""},
    {"CrAtTheStartOfALine", "\rx\n", "", {"\rx"}, ""},
    {"EmptyLines", "\r\n\n\r\n", "", {"", "", ""}, ""},
    {"EightBitBytesDecodeAsReplacement", "K\xF8\xE6\n", "", {"K\xEF\xBF\xBD\xEF\xBF\xBD"}, ""},
    {"MultiByteTerminator", "head\r\n\r\nbody", "\r\n\r\n", {"head"}, "body"},
    {"MultiByteTerminatorKeepsCrBeforeIt", "a\r\r\n\r\n", "\r\n\r\n", {"a\r"}, ""},
    {"TerminatorPrefixInsideTheLine", "ab\r\nc\r\n\r\n", "\r\n\r\n", {"ab\r\nc"}, ""},
    {"EmptyTerminatorMeansLf", "x\r\ny\n", "", {"x", "y"}, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReadLnTest, ::testing::ValuesIn(kReadLnCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadLn, AnEmptyTerminatorArgumentMeansLf) {
  ChunkedIOHandler io({"x\r\ny"}, TEnd::Silent);
  io.Open();
  EXPECT_EQ(io.ReadLn(std::string()), "x");
}

// --- Line length limit -----------------------------------------------------------------------

TEST(ReadLnMaxLength, ALineOfExactlyTheMaximumIsReturned) {
  const std::string line(16384, 'a');
  ChunkedIOHandler io({line, "\n"}, TEnd::Silent);
  io.Open();
  EXPECT_EQ(io.ReadLn(), line);
}

TEST(ReadLnMaxLength, TheCrCountsTowardsTheMaximum) {
  const std::string text(16383, 'a');
  ChunkedIOHandler io({text + "\r\n"}, TEnd::Silent);
  io.Open();
  EXPECT_EQ(io.ReadLn(), text);
  ChunkedIOHandler longer({text + "a\r\n"}, TEnd::Silent);
  longer.Open();
  EXPECT_THROW(longer.ReadLn(), EIdReadLnMaxLineLengthExceeded);
}

TEST(ReadLnMaxLength, OneByteMoreRaisesWithoutWaitingForTheLf) {
  // The LF never comes: the handler is silent after the bytes, and a wait would fail the test.
  ChunkedIOHandler io({std::string(16000, 'a'), std::string(385, 'a')}, TEnd::Silent);
  io.Open();
  try {
    io.ReadLn();
    FAIL() << "no exception";
  } catch (const EIdReadLnMaxLineLengthExceeded& e) {
    EXPECT_STREQ(e.ClassName(), "EIdReadLnMaxLineLengthExceeded");
    EXPECT_STREQ(e.what(), "Max line length exceeded.");
  }
  EXPECT_EQ(io.InputBuffer().Size(), 16385);
}

TEST(ReadLnMaxLength, SplitReturnsPiecesOfTheMaximum) {
  ChunkedIOHandler io({std::string(20000, 'a') + "\nnext\n"}, TEnd::Silent);
  io.SetMaxLineAction(TIdMaxLineAction::maSplit);
  io.Open();
  EXPECT_EQ(io.ReadLn(), std::string(16384, 'a'));
  EXPECT_TRUE(io.ReadLnSplit());
  EXPECT_EQ(io.ReadLn(), std::string(20000 - 16384, 'a'));
  EXPECT_FALSE(io.ReadLnSplit());
  EXPECT_EQ(io.ReadLn(), "next");
}

TEST(ReadLnMaxLength, ExplicitMaximumAndZeroForNoLimit) {
  ChunkedIOHandler io({"abcdef\n"}, TEnd::Silent);
  io.Open();
  EXPECT_THROW(io.ReadLn("\n", -1, 5), EIdReadLnMaxLineLengthExceeded);
  EXPECT_EQ(io.ReadLn("\n", -1, 6), "abcdef");

  ChunkedIOHandler unlimited({std::string(70000, 'b') + "\n"}, TEnd::Silent);
  unlimited.Open();
  EXPECT_EQ(unlimited.ReadLn("\n", -1, 0), std::string(70000, 'b'));
}

// --- End of input ------------------------------------------------------------------------------

TEST(ReadLn, PeerClosingBeforeTheLfRaisesAndKeepsTheBytes) {
  ChunkedIOHandler io({"abc"}, TEnd::PeerCloses);
  io.Open();
  try {
    io.ReadLn();
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.ClassName(), "EIdConnClosedGracefully");
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_EQ(Unread(io), "abc");
  EXPECT_FALSE(io.SourceOpen());
  EXPECT_TRUE(io.ClosedGracefully());
}

TEST(ReadLn, LinesBeforeTheCloseAreStillRead) {
  ChunkedIOHandler io({"one\ntwo\n"}, TEnd::PeerCloses);
  io.Open();
  EXPECT_EQ(io.ReadLn(), "one");
  EXPECT_EQ(io.ReadLn(), "two");
  EXPECT_THROW(io.ReadLn(), EIdConnClosedGracefully);
}

TEST(ReadLn, TimeOutReturnsEmptyAndKeepsTheBytes) {
  ChunkedIOHandler io({"ab"}, TEnd::Silent);
  io.Open();
  EXPECT_EQ(io.ReadLn("\n", 40, -1), "");
  EXPECT_TRUE(io.ReadLnTimedout());
  EXPECT_EQ(Unread(io), "ab");
  EXPECT_EQ(io.Waits().back(), 40);
  // The next complete line clears the flag.
  io.AddChunk("c\n");
  EXPECT_EQ(io.ReadLn(), "abc");
  EXPECT_FALSE(io.ReadLnTimedout());
}

TEST(ReadLn, ReadTimeoutLimitsTheDefaultForm) {
  ChunkedIOHandler io({"ab"}, TEnd::Silent);
  io.SetReadTimeout(70);
  io.Open();
  EXPECT_EQ(io.ReadLn(), "");
  EXPECT_TRUE(io.ReadLnTimedout());
  EXPECT_EQ(io.Waits().back(), 70);
}

TEST(ReadLn, AReceiveFailureIsRaisedAndKeepsWhatCame) {
  ChunkedIOHandler io({"ab", "cd", "\n"}, TEnd::Silent);
  io.FailReceiveAt(2, [] { throw EIdSocketError(10054, "Socket Error # 10054\r\nreset"); });
  io.Open();
  try {
    io.ReadLn();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
  EXPECT_EQ(Unread(io), "ab");
}

TEST(ReadLn, OnAHandlerNeverOpenedReportsTheClose) {
  ChunkedIOHandler io({"x\n"});
  try {
    io.ReadLn();
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    // The source is not there: the same answer as after a close.
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
}

TEST(ReadLn, ExplicitEncodingIsUsedForTerminatorAndLine) {
  // An encoding that shifts every byte by one, to show which encoding does the work.
  class Shift final : public TIdTextEncoding {
   public:
    void AppendBytes(std::string_view text, std::vector<uint8_t>& bytes) const override {
      for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c + 1));
      }
    }
    void AppendString(const uint8_t* data, size_t length, std::string& text) const override {
      for (size_t i = 0; i < length; ++i) {
        text.push_back(static_cast<char>(data[i] - 1));
      }
    }
  } shift;
  ChunkedIOHandler io({"bc;"}, TEnd::Silent);  // "ab" and the terminator ":" shifted
  io.Open();
  EXPECT_EQ(io.ReadLn(":", &shift), "ab");
}

}  // namespace
}  // namespace kv::net
