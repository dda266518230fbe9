#include "http/TIdHTTPBodyReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "http/EIdHTTPException.h"
#include "http/TIdHTTP.h"
#include "http/TIdZLibCompressorBase.h"
#include "net/IdExceptions.h"
#include "net/TIdStream.h"
#include "tests/http/HttpTestSupport.h"
#include "tests/support/ChunkedIOHandler.h"
#include "tests/support/ScriptedServer.h"

// The body that follows a response head: framing, notifications, and where the bytes go.

namespace kv::http {
namespace {

using kv::net::TIdMemoryStream;
using kv::test::ChunkedIOHandler;
using kv::test::Script;
using kv::test::ScriptedServer;
using test::GetProtocolError;
using test::Response;
using test::WorkLog;
using Events = std::vector<std::string>;

// A client reading from scripted receives, with its read notifications recorded.
class BodyTest : public ::testing::Test {
 protected:
  void Receive(std::vector<std::string> chunks,
               ChunkedIOHandler::TEnd end = ChunkedIOHandler::TEnd::PeerCloses) {
    for (std::string& chunk : chunks) {
      io.AddChunk(std::move(chunk));
    }
    io.SetEnd(end);
    http.SetIOHandler(&io);
    log.Attach(http);
  }

  ChunkedIOHandler io;
  TIdHTTP http;
  WorkLog log;
  TIdMemoryStream stream;
};

// ---- Chunked ---------------------------------------------------------------------------------

TEST_F(BodyTest, ChunkedInOneReceiveCountsEveryByteTaken) {
  Receive({Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "5\r\nhello\r\n0\r\n\r\n")});
  std::vector<std::string> statuses;
  http.OnStatus = [&](kv::net::TIdComponent&, kv::net::TIdStatus status, const std::string& text) {
    if (status == kv::net::TIdStatus::hsStatusText) {
      statuses.push_back(text);
    }
  };
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "hello");
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(log.Read(),
            (Events{"begin 0", "work 3", "work 8", "work 10", "work 13", "work 15", "end"}));
  EXPECT_EQ(statuses, Events{"Chunk Started"});
}

TEST_F(BodyTest, ChunkSizesWithExtensionsBlanksAndTrailers) {
  Receive({Response("HTTP/1.1 200 OK", {"Transfer-Encoding: Chunked"}),
           "1A;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n", "  5  \r\n01234\r\n",
           "0\r\nContent-Length: 99\r\nX-Trailer: t\r\n\r\n"});
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "abcdefghijklmnopqrstuvwxyz01234");
  const TIdHeaderList& headers = http.Response().RawHeaders();
  EXPECT_EQ(headers.GetValue("X-Trailer"), "t");
  EXPECT_EQ(headers.GetValue("Content-Length"), "99");
  // Trailers are not parsed into the typed fields.
  EXPECT_EQ(http.Response().ContentLength(), -1);
  EXPECT_EQ(log.Read().front(), "begin 0");
  EXPECT_EQ(log.Read().back(), "end");
  EXPECT_EQ(std::count(log.Read().begin(), log.Read().end(), "end"), 1);
}

TEST_F(BodyTest, ChunkReceivedHookMayChangeTheData) {
  Receive({Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"},
                    "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n")});
  std::vector<std::string> seen;
  http.OnChunkReceived = [&](kv::net::TIdComponent&, std::vector<uint8_t>& chunk) {
    seen.emplace_back(chunk.begin(), chunk.end());
    for (uint8_t& byte : chunk) {
      byte = static_cast<uint8_t>(std::toupper(byte));
    }
  };
  http.Get("http://h/x", stream);
  EXPECT_EQ(seen, (Events{"abc", "de"}));
  EXPECT_EQ(stream.ToString(), "ABCDE");
}

TEST_F(BodyTest, ChunkedBodyBrokenOffRaisesAndKeepsWhatArrived) {
  Receive({Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "5\r\nhello\r\n8\r\nabc")});
  try {
    http.Get("http://h/x", stream);
    FAIL() << "expected EIdConnClosedGracefully";
  } catch (const kv::net::EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_EQ(stream.ToString(), "helloabc");
  EXPECT_EQ(log.Read().back(), "end");
  EXPECT_FALSE(http.Connected());
}

struct TBadChunkCase {
  const char* name;
  const char* sizeLine;
  const char* message;
};

class BadChunkSizeTest : public BodyTest, public ::testing::WithParamInterface<TBadChunkCase> {};

// Sizes a signed 32-bit length cannot hold fail the read instead of wrapping.
TEST_P(BadChunkSizeTest, FailsCleanly) {
  Receive({Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"},
                    std::string("3\r\nabc\r\n") + GetParam().sizeLine + "\r\nxyz\r\n0\r\n\r\n")},
          ChunkedIOHandler::TEnd::Silent);
  try {
    http.Get("http://h/x", stream);
    FAIL() << "expected EIdHTTPChunkSizeInvalid";
  } catch (const EIdHTTPChunkSizeInvalid& e) {
    EXPECT_STREQ(e.ClassName(), "EIdHTTPChunkSizeInvalid");
    EXPECT_EQ(std::string(e.what()), GetParam().message);
  }
  EXPECT_EQ(stream.ToString(), "abc");
  EXPECT_EQ(log.Read().front(), "begin 0");
  EXPECT_EQ(log.Read().back(), "end");
  // The rest of that body is still on its way: the connection is not reused.
  EXPECT_FALSE(io.Opened());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BadChunkSizeTest,
    ::testing::Values(TBadChunkCase{"Forty", "FFFFFFFFFF", "Invalid chunk size: FFFFFFFFFF"},
                      TBadChunkCase{"TwoGiB", "80000000", "Invalid chunk size: 80000000"},
                      TBadChunkCase{"AllOnes32", "ffffffff;ext=1", "Invalid chunk size: ffffffff"},
                      TBadChunkCase{"Negative", "-5", "Invalid chunk size: -5"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TChunkSizeCase {
  const char* name;
  std::string line;
  int32_t size;
};

class ChunkSizeTest : public ::testing::TestWithParam<TChunkSizeCase> {};

TEST_P(ChunkSizeTest, Parses) {
  EXPECT_EQ(ParseChunkSize(GetParam().line), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ChunkSizeTest,
    ::testing::Values(TChunkSizeCase{"Simple", "5", 5}, TChunkSizeCase{"Blanks", "  5  ", 5},
                      TChunkSizeCase{"Extension", "1A;name=value", 26},
                      TChunkSizeCase{"LowerCase", "1a", 26},
                      TChunkSizeCase{"LeadingZeros", "000010", 16}, TChunkSizeCase{"Last", "0", 0},
                      TChunkSizeCase{"Empty", "", 0}, TChunkSizeCase{"NotHexIsLast", "xyz", 0},
                      TChunkSizeCase{"PrefixIsNotHex", "0x10", 0},
                      TChunkSizeCase{"MinusAlone", "-", 0}, TChunkSizeCase{"MinusZero", "-0", 0},
                      TChunkSizeCase{"Largest", "7FFFFFFF", 2147483647},
                      TChunkSizeCase{"TabAndCR", "\t10\r", 16}),
    [](const auto& info) { return std::string(info.param.name); });

// Any line gives a size from 0 to the largest signed 32-bit value, or the one exception.
TEST(ParseChunkSize, AnyLineGivesASizeOrTheException) {
  static const char kAlphabet[] = "0123456789abcdefABCDEFxX-+; \t\r\x00\xff";
  uint32_t state = 88172645u;
  for (int round = 0; round < 5000; ++round) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    std::string line(state % 14, ' ');
    for (char& c : line) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      c = kAlphabet[state % (sizeof(kAlphabet) - 1)];
    }
    try {
      EXPECT_GE(ParseChunkSize(line), 0) << line;
    } catch (const EIdHTTPChunkSizeInvalid& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Invalid chunk size: ", 0), 0u);
    }
  }
}

TEST(ParseChunkSize, LongNumbersAreQuotedShortly) {
  try {
    ParseChunkSize(std::string(5000, 'F'));
    FAIL() << "expected EIdHTTPChunkSizeInvalid";
  } catch (const EIdHTTPChunkSizeInvalid& e) {
    EXPECT_EQ(std::string(e.what()), "Invalid chunk size: " + std::string(40, 'F') + "...");
  }
}

// ---- Declared length and until close ------------------------------------------------------------

TEST_F(BodyTest, DeclaredLength) {
  Receive({Response("HTTP/1.1 200 OK", {"Content-Length: 5"}, "hello")});
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "hello");
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(log.Read(), (Events{"begin 5", "work 5", "end"}));
}

TEST_F(BodyTest, DeclaredLengthCutShortEndsNormally) {
  Receive({Response("HTTP/1.1 200 OK", {"Content-Length: 100"}), std::string(40, 'x')});
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), std::string(40, 'x'));
  EXPECT_EQ(stream.Size(), 40);
  EXPECT_EQ(log.Read(), (Events{"begin 100", "work 40", "end"}));
  EXPECT_FALSE(http.Connected());
}

TEST_F(BodyTest, UntilCloseWithoutLength) {
  Receive({Response("HTTP/1.1 200 OK", {"Content-Type: application/octet-stream"}), "abc", "de"});
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "abcde");
  EXPECT_EQ(log.Read(), (Events{"begin 0", "work 3", "work 5", "end"}));
  EXPECT_FALSE(http.Connected());
}

TEST_F(BodyTest, CompressedBodyWithoutDecompressorIsStoredAsItCame) {
  const std::string gzip("\x1f\x8b\x08\x00rest", 8);
  Receive({Response("HTTP/1.1 200 OK", {"Content-Encoding: gzip", "Content-Length: 8"}, gzip)});
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), gzip);
}

// Reverses the bytes: enough to see which branch ran and where its output went.
class ReversingDecompressor : public TIdZLibCompressorBase {
 public:
  bool IsReady() const override { return true; }
  void DecompressDeflateStream(kv::net::TIdStream& source, kv::net::TIdStream& dest) override {
    Reverse(source, dest, "deflate:");
  }
  void DecompressGZipStream(kv::net::TIdStream& source, kv::net::TIdStream& dest) override {
    Reverse(source, dest, "gzip:");
  }

 private:
  static void Reverse(kv::net::TIdStream& source, kv::net::TIdStream& dest, std::string text) {
    std::string bytes(static_cast<size_t>(source.Size() - source.Position()), '\0');
    bytes.resize(source.Read(bytes.data(), bytes.size()));
    text.append(bytes.rbegin(), bytes.rend());
    dest.Write(text.data(), text.size());
  }
};

TEST_F(BodyTest, AttachedDecompressorDecodesIntoTheStream) {
  ReversingDecompressor decompressor;
  http.SetCompressor(&decompressor);
  Receive({Response("HTTP/1.1 200 OK", {"Content-Encoding: GZIP", "Content-Length: 3"}, "cba")});
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "gzip:abc");
  // Asking for compressed answers is part of the request then.
  EXPECT_NE(io.Sent().find("Accept-Encoding: deflate, gzip, identity\r\n"), std::string::npos);
}

// ---- No body expected ---------------------------------------------------------------------------

struct TNoBodyCase {
  const char* name;
  const char* method;
  const char* statusLine;
  const char* length;
};

class NoBodyTest : public BodyTest, public ::testing::WithParamInterface<TNoBodyCase> {};

TEST_P(NoBodyTest, ReadsNothing) {
  Receive({Response(GetParam().statusLine, {GetParam().length}, "hello")},
          ChunkedIOHandler::TEnd::Silent);
  http.ExecuteRequest(GetParam().method, "http://h/x", nullptr, &stream, {304});
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_TRUE(log.Read().empty());
  // The unread bytes stay buffered; nothing waited for more.
  EXPECT_EQ(http.IOHandler()->InputBuffer().Size(), 5);
  EXPECT_EQ(std::count_if(io.Waits().begin(), io.Waits().end(),
                          [](int t) { return t == 100 || t == 5000; }),
            0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoBodyTest,
    ::testing::Values(
        TNoBodyCase{"LengthZero", "GET", "HTTP/1.1 200 OK", "Content-Length: 0"},
        TNoBodyCase{"NoContent", "GET", "HTTP/1.1 204 No Content", "Content-Length: 5"},
        TNoBodyCase{"NotModified", "GET", "HTTP/1.1 304 Not Modified", "Content-Length: 5"},
        TNoBodyCase{"Head", "HEAD", "HTTP/1.1 200 OK", "Content-Length: 5"},
        TNoBodyCase{"HeadWithoutLength", "head", "HTTP/1.1 200 OK", "X: y"}),
    [](const auto& info) { return std::string(info.param.name); });

// With the option set, bytes after a head that announces no body are taken (and dropped) when
// they are there within 100 ms.
TEST_F(BodyTest, UnexpectedDataIsDiscardedWhenAskedTo) {
  http.SetHTTPOptions({TIdHTTPOption::hoWaitForUnexpectedData});
  Receive({Response("HTTP/1.1 204 No Content", {"Content-Length: 5"}, "hello")},
          ChunkedIOHandler::TEnd::Silent);
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(http.IOHandler()->InputBuffer().Size(), 0);
  EXPECT_EQ(log.Read(), (Events{"begin 5", "work 5", "end"}));
}

TEST_F(BodyTest, UnexpectedDataIsWaitedFor100Ms) {
  http.SetHTTPOptions({TIdHTTPOption::hoWaitForUnexpectedData});
  Receive({Response("HTTP/1.1 204 No Content", {"Content-Length: 5"})},
          ChunkedIOHandler::TEnd::Silent);
  http.ExecuteRequest("HEAD", "http://h/x", nullptr, &stream, {});
  EXPECT_NE(std::find(io.Waits().begin(), io.Waits().end(), 100), io.Waits().end());
  EXPECT_TRUE(log.Read().empty());
}

TEST_F(BodyTest, NotModifiedRaisesWithAnEmptyMessage) {
  Receive({Response("HTTP/1.1 304 Not Modified", {"Content-Length: 5"})},
          ChunkedIOHandler::TEnd::Silent);
  const auto error = GetProtocolError(http, "http://h/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 304);
  EXPECT_EQ(error->ErrorMessage(), "");
  EXPECT_STREQ(error->what(), "HTTP/1.1 304 Not Modified");
}

// A redirect announces a body; it is read only when bytes come within 5000 ms.
TEST_F(BodyTest, RedirectWaitsFiveSecondsForItsBody) {
  Receive({Response("HTTP/1.1 301 Moved", {"Location: /y", "Content-Length: 4"})},
          ChunkedIOHandler::TEnd::Silent);
  const auto error = GetProtocolError(http, "http://h/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 301);
  EXPECT_EQ(error->ErrorMessage(), "");
  EXPECT_NE(std::find(io.Waits().begin(), io.Waits().end(), 5000), io.Waits().end());
  EXPECT_TRUE(log.Read().empty());
}

TEST(RedirectBody, ArrivingLateIsRead) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 302 Found",
                         {"Location: /y", "Content-Length: 4", "Content-Type: text/plain"}))
          .Pause(std::chrono::milliseconds(300))
          .Send("gone")
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  TIdMemoryStream stream;
  const auto error = GetProtocolError(http, server.BaseUrl() + "/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 302);
  EXPECT_EQ(error->ErrorMessage(), "gone");
  EXPECT_EQ(stream.Size(), 0);
  // The whole answer was read, so the connection stays for the next request.
  EXPECT_TRUE(http.Connected());
}

TEST(RedirectBody, NeverArrivingIsNotWaitedForLongerThanFiveSeconds) {
  ScriptedServer server(
      Script()
          .ReadRequestHead()
          .Send(Response("HTTP/1.1 302 Found", {"Location: /y", "Content-Length: 4"}))
          .KeepOpenUntilPeerCloses());
  TIdHTTP http;
  TIdMemoryStream stream;
  const auto error = GetProtocolError(http, server.BaseUrl() + "/x", stream);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode(), 302);
  EXPECT_EQ(error->ErrorMessage(), "");
}

// ---- Multipart ----------------------------------------------------------------------------------

TEST_F(BodyTest, MultipartDelimiterSplitAcrossReceives) {
  Receive({Response("HTTP/1.1 200 OK", {"Content-Type: multipart/mixed; boundary=\"abc\""}),
           "--abc\r\n\r\npart\r\n--a", "bc--\r\nNEXT"},
          ChunkedIOHandler::TEnd::Silent);
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "--abc\r\n\r\npart\r\n--abc--");
  EXPECT_EQ(log.Read(), (Events{"begin 0", "work 12", "work 22", "work 24", "end"}));
  // What follows the closing line is not part of the body.
  EXPECT_EQ(http.IOHandler()->InputBuffer().Size(), 4);
}

TEST_F(BodyTest, MultipartEndedByCloseKeepsTheRest) {
  Receive({Response("HTTP/1.1 200 OK", {"Content-Type: multipart/mixed; boundary=abc"}),
           "--abc\r\npart one", " and more"});
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), "--abc\r\npart one and more");
  EXPECT_EQ(log.Read().front(), "begin 0");
  EXPECT_EQ(log.Read().back(), "end");
}

// ---- Whether the body reached its end ----------------------------------------------------------

struct TCompletionCase {
  const char* name;
  std::vector<std::string> receives;  // the server closes after the last
  std::string body;
  bool complete;
};

class BodyCompleteTest : public BodyTest, public ::testing::WithParamInterface<TCompletionCase> {};

// The reads that a close or a size line of no number ends without an error still say whether
// the body is whole, so a caller need not take a cut body for the file.
TEST_P(BodyCompleteTest, SaysWhetherTheFramingsEndCame) {
  Receive(GetParam().receives);
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), GetParam().body);
  EXPECT_EQ(http.Response().BodyComplete(), GetParam().complete);
}

const std::string kChunkedHead = Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"});
const std::string kMultipartHead =
    Response("HTTP/1.1 200 OK", {"Content-Type: multipart/mixed; boundary=abc"});

INSTANTIATE_TEST_SUITE_P(
    Framings, BodyCompleteTest,
    ::testing::Values(
        TCompletionCase{"DeclaredLength",
                        {Response("HTTP/1.1 200 OK", {"Content-Length: 5"}, "hello")},
                        "hello",
                        true},
        TCompletionCase{"DeclaredLengthCutShort",
                        {Response("HTTP/1.1 200 OK", {"Content-Length: 9"}, "hello")},
                        "hello",
                        false},
        TCompletionCase{"NoBody", {Response("HTTP/1.1 200 OK", {"Content-Length: 0"})}, "", true},
        TCompletionCase{"NoContent", {Response("HTTP/1.1 204 No Content", {})}, "", true},
        TCompletionCase{"UntilClose", {Response("HTTP/1.1 200 OK", {}, "hello")}, "hello", true},
        TCompletionCase{"Chunked", {kChunkedHead + "5\r\nhello\r\n0\r\n\r\n"}, "hello", true},
        TCompletionCase{"LastChunkWithZerosAndExtension",
                        {kChunkedHead + "5\r\nhello\r\n000;x=1\r\n\r\n"},
                        "hello",
                        true},
        TCompletionCase{"ChunkSizeLineOfNoNumber",
                        {kChunkedHead + "5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n"},
                        "hello",
                        false},
        TCompletionCase{"EmptyChunkSizeLine",
                        {kChunkedHead + "5\r\nhello\r\n\r\nworld\r\n\r\n"},
                        "hello",
                        false},
        TCompletionCase{"Multipart",
                        {kMultipartHead + "--abc\r\n\r\npart\r\n--abc--\r\n"},
                        "--abc\r\n\r\npart\r\n--abc--",
                        true},
        TCompletionCase{"MultipartClosedEarly",
                        {kMultipartHead + "--abc\r\n\r\npart"},
                        "--abc\r\n\r\npart",
                        false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Charset detection --------------------------------------------------------------------------

TEST_F(BodyTest, HtmlMetaTagsJoinTheHead) {
  const std::string page =
      "<html><head><meta http-equiv=\"Connection\" content=\"close\">"
      "<meta charset=\"utf-8\"></head><body>x</body></html>";
  Receive({Response("HTTP/1.1 200 OK",
                    {"Content-Type: text/html; charset=ISO-8859-1",
                     "Content-Length: " + std::to_string(page.size())},
                    page)},
          ChunkedIOHandler::TEnd::Silent);
  http.Get("http://h/x", stream);
  EXPECT_EQ(stream.ToString(), page);
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(page.size()));
  EXPECT_EQ(http.Response().CharSet(), "utf-8");
  EXPECT_EQ(http.Response().Connection(), "close");
  // The merged Connection value closes the connection after the body.
  EXPECT_FALSE(io.Opened());
}

TEST_F(BodyTest, XmlDeclarationSetsTheCharset) {
  const std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>";
  Receive(
      {Response("HTTP/1.1 200 OK",
                {"Content-Type: application/xml", "Content-Length: " + std::to_string(xml.size())},
                xml)},
      ChunkedIOHandler::TEnd::Silent);
  http.Get("http://h/x", stream);
  EXPECT_EQ(http.Response().CharSet(), "ISO-8859-1");
  EXPECT_EQ(stream.ToString(), xml);
}

// A stream that is not in memory gets the body through a temporary memory stream, appended at
// its position after the scan.
TEST_F(BodyTest, HtmlIntoAFileStream) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("kavora-body-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
       ".html");
  const std::string page = "<html><head><meta charset=\"koi8-r\"></head></html>";
  Receive({Response("HTTP/1.1 200 OK", {"Content-Type: text/html"}), page});
  {
    kv::net::TIdFileStream file(path.string(), kv::net::TIdFileStream::TMode::fmCreate);
    file.Write("old", 3);
    http.Get("http://h/x", file);
    EXPECT_EQ(file.Size(), static_cast<int64_t>(3 + page.size()));
    EXPECT_EQ(file.Position(), file.Size());
    EXPECT_EQ(http.Response().ContentStream(), &file);
  }
  kv::net::TIdFileStream check(path.string(), kv::net::TIdFileStream::TMode::fmOpenRead);
  std::string content(static_cast<size_t>(check.Size()), '\0');
  content.resize(check.Read(content.data(), content.size()));
  EXPECT_EQ(content, "old" + page);
  EXPECT_EQ(http.Response().CharSet(), "koi8-r");
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace kv::http
