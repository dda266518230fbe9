// The body that follows a response head: chunked (with extensions and trailers), a declared
// length, a multipart boundary, or until the server closes; stored, handed to the chunk hook,
// or discarded; then examined for its charset when it is HTML or XML.
//
// Input: a framing byte, a flags byte, a status byte (the status, and in bit 7: error statuses
// raise, with their body read into the exception's message), a 16-bit declared length, the receive
// sizes (a count byte, then one byte per size), extra header lines up to a NUL byte (LF
// separated), then the body bytes as the server sends them.
//   framing % 6: 0 chunked, 1 Content-Length, 2 multipart, 3 until close, 4 chunked and a
//                Content-Length, 5 only the extra header lines;
//   flags bits 0-1: content type (other, HTML, XML, "+xml"), bit 2: no content stream,
//         bit 3: chunk hook set, bit 4: HEAD request, bit 5: server silent at the end,
//         bit 6: a second, kept-alive request follows, bit 7: HTTP/1.0 status line.
//
// Declared lengths stay below 64 KiB by construction; chunk sizes come from the body text, so
// the content stream refuses to grow beyond 1 MiB (EFuzzStreamLimit, an expected failure).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/ScriptedIOHandler.h"
#include "http/TIdHTTP.h"
#include "net/TIdStream.h"

namespace {

using kv::fuzz::ScriptedIOHandler;
using kv::fuzz::TFuzzInput;

const int kStatuses[] = {200, 206, 204, 304, 404, 500, 301, 100, 101, 401};
const char* const kContentTypes[] = {"application/octet-stream", "text/html", "application/xml",
                                     "image/svg+xml"};
constexpr char kBoundary[] = "KAVORA-PART";

std::string StatusLine(int code, bool http10) {
  return std::string(http10 ? "HTTP/1.0 " : "HTTP/1.1 ") + std::to_string(code) + " Status";
}

std::string Head(uint8_t framing, uint8_t flags, int status, uint16_t declaredLength,
                 const std::string& extra) {
  std::string head = StatusLine(status, (flags & 128) != 0) + "\r\n";
  const std::string contentType = kContentTypes[flags & 3];
  switch (framing % 6) {
    case 0:
      head += "Transfer-Encoding: chunked\r\nContent-Type: " + contentType + "\r\n";
      break;
    case 1:
      head += "Content-Length: " + std::to_string(declaredLength) + "\r\n";
      head += "Content-Type: " + contentType + "\r\n";
      break;
    case 2:
      head += std::string("Content-Type: multipart/byteranges; boundary=") + kBoundary + "\r\n";
      break;
    case 3:
      head += "Content-Type: " + contentType + "\r\n";
      break;
    case 4:
      head += "Transfer-Encoding: chunked\r\n";
      head += "Content-Length: " + std::to_string(declaredLength) + "\r\n";
      head += "Content-Type: " + contentType + "\r\n";
      break;
    default:
      break;
  }
  for (const std::string& line : kv::fuzz::SplitAll(extra, "\n")) {
    if (!line.empty()) {
      head += line + "\r\n";
    }
  }
  return head + "\r\n";
}

// Decodes a well-formed chunked body: sizes in hexadecimal digits only, CR LF after each size
// line and each chunk, a last chunk "0", then trailer lines up to an empty one. False for
// anything else (where the reader's tolerance, not the framing, decides the result).
bool StrictlyChunked(const std::string& body, std::string& data) {
  constexpr uint64_t kMaxChunk = 1 << 20;
  data.clear();
  size_t at = 0;
  for (;;) {
    const size_t end = body.find("\r\n", at);
    if (end == std::string::npos || end == at || end - at > 8) {
      return false;
    }
    uint64_t size = 0;
    for (size_t i = at; i < end; ++i) {
      const char c = body[i];
      const int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
      if (digit < 0) {
        return false;
      }
      size = size * 16 + static_cast<uint64_t>(digit);
    }
    at = end + 2;
    if (size == 0) {
      break;
    }
    if (size > kMaxChunk || body.size() - at < size + 2 ||
        body.compare(at + size, 2, "\r\n") != 0) {
      return false;
    }
    data.append(body, at, size);
    at += size + 2;
  }
  // Trailer lines up to the empty line.
  for (;;) {
    const size_t end = body.find("\r\n", at);
    if (end == std::string::npos) {
      return false;
    }
    if (end == at) {
      return true;
    }
    at = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t framing = input.Byte();
  const uint8_t flags = input.Byte();
  const uint8_t statusByte = input.Byte();
  const int status = kStatuses[(statusByte & 0x7F) % 10];
  const bool raiseErrors = (statusByte & 0x80) != 0;
  const uint16_t declaredLength = input.Uint16();
  std::vector<int> sizes = input.ReceiveSizes();
  const std::string extra = input.Field(std::string_view("\0", 1));
  const std::string body = input.Rest();

  const std::string head = Head(framing, flags, status, declaredLength, extra);
  ScriptedIOHandler io(std::move(sizes), (flags & 32) ? ScriptedIOHandler::TEnd::Silent
                                                      : ScriptedIOHandler::TEnd::PeerCloses);
  io.AddTurn(head + body);
  if (flags & 64) {
    io.AddTurn("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  }

  kv::http::TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetReadTimeout(60000);
  // Unless errors raise, every status is read as content, so the body reader sees every framing
  // with every status.
  if (!raiseErrors) {
    http.SetHTTPOptions(
        kv::http::TIdHTTPOptions{kv::http::TIdHTTPOption::hoNoProtocolErrorException,
                                 kv::http::TIdHTTPOption::hoWantProtocolErrorContent});
  }
  if (flags & 8) {
    http.OnChunkReceived = [](kv::net::TIdComponent&, std::vector<uint8_t>& chunk) {
      // The hook may change the data it is given.
      if (!chunk.empty()) {
        chunk.pop_back();
      }
    };
  }
  kv::fuzz::TLimitedMemoryStream stream;
  kv::net::TIdStream* content = (flags & 4) ? nullptr : &stream;
  const char* method = (flags & 16) ? "HEAD" : "GET";
  bool completed = false;
  try {
    http.ExecuteRequest(method, "http://h/body", nullptr, content, {});
    completed = true;
  } catch (const kv::net::EIdException&) {
    // Bad chunk sizes, broken-off bodies, the stream limit, a stalled script.
  }

  // What the stored body must be where the framing alone decides it: a 2xx answer with a body,
  // no extra header lines, stored unchanged.
  const bool plain = completed && !raiseErrors && extra.empty() && content != nullptr &&
                     (flags & 16) == 0 && (flags & 8) == 0 && status / 100 == 2 && status != 204;
  std::string expected;
  if (plain && framing % 6 == 1) {
    // A declared length stores exactly the bytes that came within it.
    FUZZ_CHECK(stream.ToString() == body.substr(0, declaredLength));
  } else if (plain && framing % 6 == 3 && (flags & 32) == 0) {
    // Until the close: everything.
    FUZZ_CHECK(stream.ToString() == body);
  } else if (plain && framing % 6 == 0 && StrictlyChunked(body, expected)) {
    FUZZ_CHECK(stream.ToString() == expected);
  } else if (plain && framing % 6 == 2) {
    // Multipart: everything up to and including the closing delimiter, when a line end follows.
    const std::string delimiter = std::string("--") + kBoundary + "--";
    const size_t at = body.find(delimiter);
    if (at != std::string::npos && body.find('\n', at + delimiter.size()) != std::string::npos) {
      FUZZ_CHECK(stream.ToString() == body.substr(0, at + delimiter.size()));
    }
  }

  if (flags & 64) {
    try {
      kv::net::TIdMemoryStream second;
      http.Get("/next", second);
    } catch (const kv::net::EIdException&) {
    }
  }
  return 0;
}
