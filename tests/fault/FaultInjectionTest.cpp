// A server that misbehaves in one way per row. Each row states what the plain client makes of it
// (a Get into a memory stream: the exception it raises, or the body it returns) and what the
// window's logic makes of it (the failure texts with an existing installer left byte for byte,
// or the saved bytes and the question whether to start them). Each outcome is observed against
// a scripted loopback server of its own that plays the row's script.
//
// Where the client returns normally although the answer is not the whole file (a body cut short
// by a close, the lines of an overlong head taken for the body), the row shows both: the client
// keeps its behaviour, and Start refuses the answer before it writes anything.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/TDateSettings.h"
#include "app/TMainForm.h"
#include "http/EIdHTTPException.h"
#include "http/TIdHTTP.h"
#include "net/IdStackExceptions.h"
#include "net/TIdStream.h"
#include "tests/app/ScriptedMainView.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestFiles.h"

namespace kv::fault {
namespace {

using kv::app::TMainForm;
using kv::app::TModalResult;
using kv::app::test::ScriptedMainView;
using kv::test::Script;
using kv::test::ScriptedServer;
using std::chrono::milliseconds;
using Lines = std::vector<std::string>;

constexpr const char* kInstaller = "Kavora35TotalInstal.exe";
constexpr const char* kDownloadPath = "/Downloads/Instal34/";
constexpr const char* kOldInstaller = "the installer saved last year, which must survive";
constexpr const char* kClosed = "Connection Closed Gracefully.";
const std::string kFailureDialog = "Dialog error \"Download mislykket\" {OK} at 400,300";
const std::string kConfirmDialog =
    "Dialog confirmation \"Skal installationen startes?\" {Yes,No} at 400,300";

// The longest line the connection layer accepts before its LF, CR included.
constexpr size_t kMaxLineLength = 16384;
// The client's default limit of stored header lines.
constexpr int kMaxHeaderLines = 255;

// ---- Building answers -------------------------------------------------------------------------

// Bytes of every value, so that any text conversion of the body would show.
std::string BinaryBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>((i * 131 + 7) % 256);
  }
  return body;
}

const std::string kBody = BinaryBody(64);

// A status line, header lines and the empty line that ends the head.
std::string Head(const std::string& statusLine, const Lines& headers) {
  std::string text = statusLine + "\r\n";
  for (const std::string& header : headers) {
    text += header + "\r\n";
  }
  return text + "\r\n";
}

std::string Ok(const Lines& headers) {
  return Head("HTTP/1.1 200 OK", headers);
}

std::string Length(size_t size) {
  return "Content-Length: " + std::to_string(size);
}

// count header lines "X-Filler-00001: v" ... with CR LF each.
std::string FillerLines(int count) {
  std::string text;
  text.reserve(static_cast<size_t>(count) * 20);
  char line[32];
  for (int i = 1; i <= count; ++i) {
    std::snprintf(line, sizeof line, "X-Filler-%05d: v\r\n", i);
    text += line;
  }
  return text;
}

// A chunked body: each part as one chunk, then the last chunk and the end of the trailer.
std::string Chunked(const Lines& parts) {
  std::string text;
  char size[16];
  for (const std::string& part : parts) {
    std::snprintf(size, sizeof size, "%zX\r\n", part.size());
    text += size + part + "\r\n";
  }
  return text + "0\r\n\r\n";
}

// ---- Expected outcomes ------------------------------------------------------------------------

// What the plain client's Get does: raise (className non-empty) or return the body.
struct TClientOutcome {
  std::string className;
  std::string message;
  int code = 0;              // LastError of a socket error, ErrorCode of a protocol error
  std::string errorMessage;  // ErrorMessage of a protocol error
  std::string body;          // the stream after a normal return
};

TClientOutcome Raises(std::string className, std::string message) {
  return {std::move(className), std::move(message), 0, {}, {}};
}
TClientOutcome RaisesClosed() {
  return Raises("EIdConnClosedGracefully", kClosed);
}
TClientOutcome RaisesSocketError(int code, const std::string& text) {
  return {"EIdSocketError", "Socket Error # " + std::to_string(code) + "\r\n" + text, code, {}, {}};
}
TClientOutcome RaisesProtocolError(int code, std::string statusLine, std::string errorMessage) {
  return {"EIdHTTPProtocolException", std::move(statusLine), code, std::move(errorMessage), {}};
}
TClientOutcome Returns(std::string body) {
  return {{}, {}, 0, {}, std::move(body)};
}

// What Start makes of the answer: the failure texts with the old installer kept, or the saved
// bytes and the question.
struct TFrontEndOutcome {
  bool saves = false;
  std::string saved;
};

TFrontEndOutcome Fails() {
  return {false, {}};
}
TFrontEndOutcome Saves(std::string bytes) {
  return {true, std::move(bytes)};
}

enum class TTarget { tServer, tRefusedPort, tUnresolvableName };

struct TFaultRow {
  std::string name;
  Script script;
  TClientOutcome client;
  TFrontEndOutcome frontEnd;
  TTarget target = TTarget::tServer;
  int readTimeoutMs = 0;       // 0: each client keeps its own
  milliseconds pieceGap{0};    // 0: the server's default gap between pieces
  bool progressMoves = false;  // the body arrives slowly: progress is reported on the way
  friend void PrintTo(const TFaultRow& row, std::ostream* os) { *os << row.name; }
};

// ---- The rows ---------------------------------------------------------------------------------

Script Answer(const std::string& bytes) {
  return Script().ReadRequestHead().Send(bytes).CloseGracefully();
}

std::vector<TFaultRow> Rows() {
  std::vector<TFaultRow> rows;
  const std::string octets = "Content-Type: application/octet-stream";

  // -- The connection ends before the answer is whole.
  rows.push_back({"CloseBeforeAnyByte", Script().ReadRequestHead().CloseGracefully(),
                  RaisesClosed(), Fails()});
  rows.push_back({"CloseInStatusLine", Answer("HTTP/1.1 20"), RaisesClosed(), Fails()});
  // The lines before the close form the head and the cut line is dropped: an empty body, which
  // Start does not take for the file since the head never ended.
  rows.push_back({"CloseInHeaderBlock",
                  Answer("HTTP/1.1 200 OK\r\n" + octets + "\r\nX-Partial: abc"), Returns(""),
                  Fails()});
  rows.push_back({"CloseAfterHeaderLineBeforeEmptyLine",
                  Answer("HTTP/1.1 200 OK\r\n" + Length(kBody.size()) + "\r\n"), Returns(""),
                  Fails()});
  // A close before the declared length ends the body without an error.
  rows.push_back({"CloseInDeclaredLengthBody",
                  Script()
                      .ReadRequestHead()
                      .SendPieces(Ok({Length(kBody.size())}) + kBody.substr(0, 40), {50, 20})
                      .CloseGracefully(),
                  Returns(kBody.substr(0, 40)), Fails()});
  rows.push_back({"DeclaredLengthLongerThanSent", Answer(Ok({Length(1000)}) + kBody),
                  Returns(kBody), Fails()});
  rows.push_back(
      {"DeclaredLengthLongerThanSentAndStaysOpen",
       Script().ReadRequestHead().Send(Ok({Length(1000)}) + kBody).KeepOpenUntilPeerCloses(),
       Raises("EIdReadTimeout", "Read timed out."), Fails(), TTarget::tServer, 300});
  rows.push_back({"CloseInChunkedBody",
                  Answer(Ok({"Transfer-Encoding: chunked"}) + "10\r\n" + kBody.substr(0, 16) +
                         "\r\n20\r\n" + kBody.substr(16, 5)),
                  RaisesClosed(), Fails()});
  rows.push_back(
      {"CloseInChunkSizeLine",
       Answer(Ok({"Transfer-Encoding: chunked"}) + "10\r\n" + kBody.substr(0, 16) + "\r\n2"),
       RaisesClosed(), Fails()});
  rows.push_back(
      {"CloseBeforeTheEndOfTheTrailer",
       Answer(Ok({"Transfer-Encoding: chunked"}) + "10\r\n" + kBody.substr(0, 16) + "\r\n0\r\n"),
       RaisesClosed(), Fails()});
  rows.push_back(
      {"ResetInBody",
       Script().ReadRequestHead().Send(Ok({Length(kBody.size())}) + kBody.substr(0, 20)).Reset(),
       RaisesSocketError(10054, "Connection reset by peer."), Fails()});
  // The client stores a multipart body as it came, delimiters and part heads included; a close
  // ends it normally. Neither is the file.
  rows.push_back({"MultipartWhole",
                  Answer(Ok({"Content-Type: multipart/byteranges; boundary=SEP"}) + "--SEP\r\n" +
                         octets + "\r\n\r\n" + kBody + "\r\n--SEP--\r\n"),
                  Returns("--SEP\r\n" + octets + "\r\n\r\n" + kBody + "\r\n--SEP--"), Fails()});
  rows.push_back({"MultipartClosingEarly",
                  Answer(Ok({"Content-Type: multipart/byteranges; boundary=SEP"}) + "--SEP\r\n" +
                         octets + "\r\n\r\n" + kBody.substr(0, 30)),
                  Returns("--SEP\r\n" + octets + "\r\n\r\n" + kBody.substr(0, 30)), Fails()});

  // -- A head that is not what it should be.
  rows.push_back({"StatusLineOfPlainWords",
                  Answer(Head("Welcome to our server", {Length(5)}) + "hello"),
                  RaisesProtocolError(-1, "Welcome to our server", "hello"), Fails()});
  {
    // The line's bytes before its LF, its CR included.
    const std::string prefix = "X-Long: ";
    const std::string longest = prefix + std::string(kMaxLineLength - prefix.size() - 1, 'a');
    const std::string tooLong = longest + "a";
    rows.push_back({"HeaderLineOf16384Bytes", Answer(Ok({longest, Length(kBody.size())}) + kBody),
                    Returns(kBody), Saves(kBody)});
    rows.push_back({"HeaderLineOf16385Bytes", Answer(Ok({tooLong, Length(kBody.size())}) + kBody),
                    Raises("EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."),
                    Fails()});
  }
  {
    // The limit's worth of lines is stored and the next line read (and dropped) to see whether
    // the head ends there. The length comes first, so the client takes the body from the head
    // lines it left unread.
    const std::string answer = "HTTP/1.1 200 OK\r\n" + Length(kBody.size()) + "\r\n" +
                               FillerLines(300 - 1) + "\r\n" + kBody;
    const size_t unread = answer.find("X-Filler-00256: v\r\n");
    rows.push_back({"ThreeHundredHeaderLines", Answer(answer),
                    Returns(answer.substr(unread, kBody.size())), Fails()});
  }
  {
    // No length among the stored lines: the client reads up to the close.
    const std::string answer =
        "HTTP/1.1 200 OK\r\n" + FillerLines(100000) + Length(kBody.size()) + "\r\n\r\n" + kBody;
    const size_t unread = answer.find("X-Filler-00257: v\r\n");
    rows.push_back(
        {"HundredThousandHeaderLines", Answer(answer), Returns(answer.substr(unread)), Fails()});
  }
  rows.push_back({"HeaderLinesExactlyTheLimit",
                  Answer("HTTP/1.1 200 OK\r\n" + FillerLines(kMaxHeaderLines - 1) +
                         Length(kBody.size()) + "\r\n\r\n" + kBody),
                  Returns(kBody), Saves(kBody)});
  // A length that is no number counts as none: the body runs to the close, and is whole then.
  rows.push_back({"ContentLengthMinus5", Answer(Ok({"Content-Length: -5"}) + kBody), Returns(kBody),
                  Saves(kBody)});
  rows.push_back({"ContentLengthAbc", Answer(Ok({"Content-Length: abc"}) + kBody), Returns(kBody),
                  Saves(kBody)});
  // The first length frames the body; Start refuses an answer whose lengths disagree.
  rows.push_back({"ContentLengthTwiceDifferent",
                  Answer(Ok({Length(20), Length(kBody.size())}) + kBody),
                  Returns(kBody.substr(0, 20)), Fails()});
  // The claimed length is not reserved before the bytes come; the close cuts the body short.
  rows.push_back({"ContentLengthBeyondMemory",
                  Answer(Ok({"Content-Length: 9223372036854775807"}) + kBody), Returns(kBody),
                  Fails()});

  // -- Chunk sizes a signed 32-bit length cannot hold.
  rows.push_back(
      {"ChunkSizeFFFFFFFFFF",
       Answer(Ok({"Transfer-Encoding: chunked"}) + "FFFFFFFFFF\r\n" + kBody + "\r\n0\r\n\r\n"),
       Raises("EIdHTTPChunkSizeInvalid", "Invalid chunk size: FFFFFFFFFF"), Fails()});
  rows.push_back(
      {"ChunkSize80000000",
       Answer(Ok({"Transfer-Encoding: chunked"}) + "80000000\r\n" + kBody + "\r\n0\r\n\r\n"),
       Raises("EIdHTTPChunkSizeInvalid", "Invalid chunk size: 80000000"), Fails()});
  // The largest size that fits: accepted, and not reserved before its bytes come.
  rows.push_back({"ChunkSize7FFFFFFFClosingEarly",
                  Answer(Ok({"Transfer-Encoding: chunked"}) + "7FFFFFFF\r\n" + kBody),
                  RaisesClosed(), Fails()});

  // A size line that is no number counts as the last chunk; what follows it is taken for the
  // trailer, so the body ends there.
  rows.push_back(
      {"ChunkSizeLineNotHex",
       Answer(Ok({"Transfer-Encoding: chunked"}) + "5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n"),
       Returns("hello"), Fails()});
  rows.push_back({"InterimAnswerThenClose", Answer(Head("HTTP/1.1 100 Continue", {})),
                  RaisesClosed(), Fails()});
  rows.push_back({"ResetBeforeAnswer", Script().ReadRequestHead().Reset(),
                  RaisesSocketError(10054, "Connection reset by peer."), Fails()});

  // -- Answers that are whole, though unusual.
  // No body, which is no installer.
  rows.push_back(
      {"NoContent204", Answer(Head("HTTP/1.1 204 No Content", {})), Returns(""), Fails()});
  rows.push_back({"Http10WithoutLengthClosing", Answer(Head("HTTP/1.0 200 OK", {octets}) + kBody),
                  Returns(kBody), Saves(kBody)});
  rows.push_back({"ChunkedWhole",
                  Answer(Ok({"Transfer-Encoding: chunked"}) +
                         Chunked({kBody.substr(0, 10), kBody.substr(10)})),
                  Returns(kBody), Saves(kBody)});

  // -- Timing.
  {
    const std::string body = kBody.substr(0, 20);
    TFaultRow row{"OneBytePer100ms",
                  Script()
                      .ReadRequestHead()
                      .Send(Ok({Length(body.size())}))
                      .SendInPiecesOf(body, 1)
                      .CloseGracefully(),
                  Returns(body), Saves(body)};
    row.pieceGap = milliseconds(100);
    row.progressMoves = true;
    rows.push_back(row);
  }
  rows.push_back({"AcceptsAndStaysSilent", Script().ReadRequestHead().KeepOpenUntilPeerCloses(),
                  Raises("EIdReadTimeout", "Read timed out."), Fails(), TTarget::tServer, 300});

  // -- No server to talk to.
  rows.push_back({"RefusedPort", Script(), RaisesSocketError(10061, "Connection refused."), Fails(),
                  TTarget::tRefusedPort});
  rows.push_back({"NameDoesNotResolve", Script(), RaisesSocketError(11001, "Host not found."),
                  Fails(), TTarget::tUnresolvableName});
  return rows;
}

// ---- Observing ----------------------------------------------------------------------------------

// Where a run sends its request, with the server (if any) that answers there.
struct TEndpoint {
  std::unique_ptr<ScriptedServer> server;
  std::string host;  // host or host:port
};

TEndpoint MakeEndpoint(const TFaultRow& row) {
  TEndpoint endpoint;
  switch (row.target) {
    case TTarget::tServer:
      endpoint.server = std::make_unique<ScriptedServer>(row.script);
      if (row.pieceGap.count() > 0) {
        endpoint.server->SetPieceGap(row.pieceGap);
      }
      endpoint.host = "127.0.0.1:" + std::to_string(endpoint.server->Port());
      break;
    case TTarget::tRefusedPort:
      endpoint.host = "127.0.0.1:" + std::to_string(kv::test::UnusedLoopbackPort());
      break;
    case TTarget::tUnresolvableName:
      // The C library rejects the name before it asks any server.
      endpoint.host = "no!such!host";
      break;
  }
  return endpoint;
}

std::string Url(const std::string& host) {
  return "http://" + host + kDownloadPath + kInstaller;
}

// A short printable view of bytes for failure messages.
std::string Shown(const std::string& bytes) {
  std::string text = std::to_string(bytes.size()) + " bytes \"";
  for (size_t i = 0; i < bytes.size() && i < 48; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 32 && c < 127) {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text + (bytes.size() > 48 ? "...\"" : "\"");
}

// The Danish short date format, so that Start passes its date check.
kv::app::TDateSettings PassingDateSettings() {
  kv::app::TRegionalDateInfo info = kv::app::ReadRegionalDateInfo("C");
  info.ShortDateFormat = "dd-MM-yyyy";
  info.DateSeparator = "-";
  return kv::app::TDateSettings::FromRegionalInfo(info);
}

class FaultTest : public testing::TestWithParam<TFaultRow> {
 protected:
  kv::test::TempFolder m_folder{"kavora-fault"};
};

// The plain client: a Get into a memory stream.
TEST_P(FaultTest, Client) {
  const TFaultRow& row = GetParam();
  const TEndpoint endpoint = MakeEndpoint(row);
  kv::http::TIdHTTP http;
  if (row.readTimeoutMs > 0) {
    http.SetReadTimeout(row.readTimeoutMs);
  }
  std::vector<int64_t> counts;
  http.OnWork = [&](kv::net::TIdComponent&, kv::net::TWorkMode mode, int64_t count) {
    if (mode == kv::net::TWorkMode::wmRead) {
      counts.push_back(count);
    }
  };
  kv::net::TIdMemoryStream stream;
  TClientOutcome seen;
  bool returned = false;
  try {
    http.Get(Url(endpoint.host), stream);
    returned = true;
    seen.body = stream.ToString();
  } catch (const kv::net::EIdSocketError& e) {
    seen = {e.ClassName(), e.what(), e.LastError(), {}, {}};
  } catch (const kv::http::EIdHTTPProtocolException& e) {
    seen = {e.ClassName(), e.what(), e.ErrorCode(), e.ErrorMessage(), {}};
  } catch (const kv::net::EIdException& e) {
    seen = {e.ClassName(), e.what(), 0, {}, {}};
  } catch (const std::exception& e) {
    seen = {typeid(e).name(), e.what(), 0, {}, {}};
  }

  const TClientOutcome& expected = row.client;
  if (expected.className.empty()) {
    EXPECT_TRUE(returned) << "raised " << seen.className << " \"" << seen.message << "\"";
    EXPECT_TRUE(seen.body == expected.body)
        << "body " << Shown(seen.body) << ", expected " << Shown(expected.body);
  } else {
    EXPECT_FALSE(returned) << "returned " << Shown(seen.body);
    EXPECT_EQ(seen.className, expected.className);
    EXPECT_EQ(seen.message, expected.message);
    EXPECT_EQ(seen.code, expected.code);
    EXPECT_EQ(seen.errorMessage, expected.errorMessage);
  }
  if (row.progressMoves) {
    // Reported on the way, not only at the end.
    EXPECT_GE(std::count_if(counts.begin(), counts.end(),
                            [&](int64_t count) {
                              return count > 0 &&
                                     count < static_cast<int64_t>(expected.body.size());
                            }),
              2);
  }
  if (endpoint.server != nullptr) {
    EXPECT_EQ(endpoint.server->ConnectionCount(), 1);
  }
}

// The window's logic: Start with the save dialog answered with a folder that already holds the
// installer.
TEST_P(FaultTest, FrontEnd) {
  const TFaultRow& row = GetParam();
  const TEndpoint endpoint = MakeEndpoint(row);
  ASSERT_FALSE(m_folder.Path().empty());
  const std::string target = m_folder / kInstaller;
  kv::test::WriteFile(target, kOldInstaller);

  ScriptedMainView view;
  TMainForm form(view, PassingDateSettings(), endpoint.host);
  if (row.readTimeoutMs > 0) {
    form.HTTP().SetReadTimeout(row.readTimeoutMs);
  }
  view.savePath = m_folder / "setup.exe";
  view.dialogAnswers = {TModalResult::mrNo};
  form.OKClick();

  const std::vector<std::string> dialogs = view.CallsStartingWith("Dialog");
  EXPECT_TRUE(view.CallsStartingWith("ShellOpen").empty());
  EXPECT_EQ(view.calls.back(), "Close");
  EXPECT_EQ(form.MStream(), nullptr);
  // Nothing but the installer is left in the folder: no temporary file.
  EXPECT_EQ(m_folder.Names(), std::vector<std::string>{kInstaller});
  const std::string onDisk = kv::test::ReadFile(target);
  if (row.frontEnd.saves) {
    EXPECT_EQ(view.status, " Download er fuldført");
    EXPECT_EQ(dialogs, std::vector<std::string>{kConfirmDialog});
    EXPECT_TRUE(onDisk == row.frontEnd.saved)
        << "saved " << Shown(onDisk) << ", expected " << Shown(row.frontEnd.saved);
  } else {
    EXPECT_EQ(view.status, "Downloadforbindelsen er afbrudt");
    EXPECT_EQ(dialogs, std::vector<std::string>{kFailureDialog});
    EXPECT_TRUE(onDisk == kOldInstaller) << "the old installer was replaced by " << Shown(onDisk);
  }
  if (row.progressMoves) {
    std::vector<int> positions;
    for (const std::string& call : view.CallsStartingWith("Position=")) {
      positions.push_back(std::stoi(call.substr(9)));
    }
    const int size = static_cast<int>(row.frontEnd.saved.size());
    EXPECT_GE(std::count_if(positions.begin(), positions.end(),
                            [&](int position) { return position > 0 && position < size; }),
              2);
    EXPECT_NE(std::find(positions.begin(), positions.end(), size), positions.end());
  }
  if (endpoint.server != nullptr) {
    EXPECT_EQ(endpoint.server->ConnectionCount(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Misbehaviours, FaultTest, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<TFaultRow>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace kv::fault
