#include "http/TIdHTTPBodyReader.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "http/EIdHTTPException.h"
#include "http/IdCharsetDetection.h"
#include "http/IdGlobalProtocols.h"
#include "http/TIdCustomHTTP.h"
#include "http/TIdZLibCompressorBase.h"
#include "net/IdExceptions.h"
#include "net/TIdBuffer.h"
#include "net/TIdIOHandler.h"
#include "net/TIdStream.h"
#include "net/TIdTextEncoding.h"

namespace kv::http {

using kv::net::TIdStream;
using kv::net::TWorkMode;

namespace {

// How long a status that announces no body waits for bytes that come anyway.
constexpr int kUnexpectedDataWaitMs = 100;
// How long a redirect waits for its (optional) body.
constexpr int kRedirectBodyWaitMs = 5000;
// The longest part of a bad chunk-size line quoted in the error message.
constexpr size_t kChunkSizeQuoteLength = 40;
constexpr int32_t kMaxChunkSize = 2147483647;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

[[noreturn]] void RaiseInvalidChunkSize(const std::string& text) {
  std::string quoted = text.substr(0, kChunkSizeQuoteLength);
  if (text.size() > kChunkSizeQuoteLength) {
    quoted += "...";
  }
  throw EIdHTTPChunkSizeInvalid("Invalid chunk size: " + quoted);
}

bool IsChunked(const TIdHTTPResponse& response) {
  return LowerCase(response.TransferEncoding()).find("chunked") != std::string::npos;
}

// A size line of zeros (extensions aside) is the last chunk. Any other line that parses as 0 is
// no number at all: it ends the chunks too, but the body is then cut short.
bool IsLastChunkLine(const std::string& line) {
  std::string text = line;
  text = Trim(Fetch(text, ";"));
  return !text.empty() && text.find_first_not_of('0') == std::string::npos;
}

bool IsMultipart(const TIdHTTPResponse& response) {
  return IsHeaderMediaType(response.ContentType(), "multipart");
}

// Closes the client's read work unit when the scope ends, also on failure.
class TReadWorkScope {
 public:
  explicit TReadWorkScope(TIdCustomHTTP& client) : m_client(client) {
    m_client.BeginWork(TWorkMode::wmRead, 0);
  }
  ~TReadWorkScope() { m_client.EndWork(TWorkMode::wmRead); }
  TReadWorkScope(const TReadWorkScope&) = delete;
  TReadWorkScope& operator=(const TReadWorkScope&) = delete;

 private:
  TIdCustomHTTP& m_client;
};

}  // namespace

int32_t ParseChunkSize(const std::string& line) {
  std::string text = line;
  text = Trim(Fetch(text, ";"));
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) {
    i = 1;
  }
  if (i == text.size()) {
    return 0;
  }
  uint64_t value = 0;
  bool tooLarge = false;
  for (; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) {
      // Not a number at all: taken as the last chunk.
      return 0;
    }
    if (!tooLarge) {
      value = value * 16 + static_cast<uint64_t>(digit);
      tooLarge = value > static_cast<uint64_t>(kMaxChunkSize);
    }
  }
  // A size that does not fit a signed 32-bit length would wrap to a negative or wrong length.
  if (tooLarge || (negative && value != 0)) {
    RaiseInvalidChunkSize(text);
  }
  return static_cast<int32_t>(value);
}

bool IsHtmlMediaType(const std::string& contentType) {
  return IsHeaderMediaTypes(contentType,
                            {"text/html", "text/html-sandboxed", "application/xhtml+xml"});
}

bool IsXmlMediaType(const std::string& contentType) {
  if (IsHeaderMediaTypes(contentType, {"application/xml", "application/xml-external-parsed-entity",
                                       "application/xml-dtd"})) {
    return true;
  }
  return !TextIsSame(MediaTypeOf(contentType), "text") &&
         TextEndsWith(MediaSubTypeOf(contentType), "+xml");
}

TIdHTTPBodyReader::TIdHTTPBodyReader(TIdCustomHTTP& client, TIdHTTPRequest& request,
                                     TIdHTTPResponse& response)
    : m_client(client), m_request(request), m_response(response) {}

kv::net::TIdIOHandler& TIdHTTPBodyReader::IO() {
  kv::net::TIdIOHandler* io = m_client.IOHandler();
  if (io == nullptr) {
    throw kv::net::EIdNotConnected();
  }
  return *io;
}

bool TIdHTTPBodyReader::Option(TIdHTTPOption option) const {
  return m_client.HTTPOptions().Contains(option);
}

bool TIdHTTPBodyReader::WaitForPendingData(int timeoutMs) {
  kv::net::TIdIOHandler& io = IO();
  if (!io.InputBufferIsEmpty()) {
    return true;
  }
  io.CheckForDataOnSource(timeoutMs);
  return !io.InputBufferIsEmpty();
}

bool TIdHTTPBodyReader::BodyExpected() {
  bool readable = true;
  if (IsChunked(m_response)) {
    readable = !Option(TIdHTTPOption::hoNoReadChunked);
  } else if (m_response.HasContentLength()) {
    readable = m_response.ContentLength() > 0;
  } else if (IsMultipart(m_response)) {
    readable = !Option(TIdHTTPOption::hoNoReadMultipartMIME);
  }
  if (!readable) {
    return false;
  }
  const int32_t code = m_response.ResponseCode();
  const bool head =
      TextIsSame(m_request.Method(), "HEAD") || TextIsSame(m_request.MethodOverride(), "HEAD");
  if (head || code / 100 == 1 || code == 204 || code == 304) {
    return Option(TIdHTTPOption::hoWaitForUnexpectedData) &&
           WaitForPendingData(kUnexpectedDataWaitMs);
  }
  if (code / 100 == 3) {
    return WaitForPendingData(kRedirectBodyWaitMs);
  }
  return true;
}

void TIdHTTPBodyReader::ReadResponseBody() {
  m_response.SetBodyComplete(false);
  if (!BodyExpected()) {
    m_response.SetBodyComplete(true);
    return;
  }
  TIdStream* callerStream = m_response.ContentStream();
  const std::string& contentType = m_response.ContentType();
  TParseMethod parseMethod = TParseMethod::pmNone;
  if (callerStream != nullptr) {
    if (IsHtmlMediaType(contentType) && !Option(TIdHTTPOption::hoNoParseMetaHTTPEquiv)) {
      parseMethod = TParseMethod::pmHtml;
    } else if (IsXmlMediaType(contentType) && !Option(TIdHTTPOption::hoNoParseXmlCharset)) {
      parseMethod = TParseMethod::pmXml;
    }
  }

  // Charset detection re-reads the body, which needs it in memory.
  std::unique_ptr<kv::net::TIdMemoryStream> temporary;
  if (parseMethod != TParseMethod::pmNone && !callerStream->IsMemoryBacked()) {
    temporary = std::make_unique<kv::net::TIdMemoryStream>();
    m_response.SetContentStream(temporary.get());
  }
  // Whatever happens, the caller gets the body read so far and its stream back.
  auto handBack = [&]() {
    if (temporary == nullptr) {
      return;
    }
    m_response.SetContentStream(callerStream);
    callerStream->Write(temporary->Memory(), static_cast<size_t>(temporary->Size()));
    temporary.reset();
  };

  try {
    TDecoding decoding = TDecoding::dcNone;
    TIdZLibCompressorBase* compressor = m_client.Compressor();
    if (m_response.ContentStream() != nullptr && compressor != nullptr && compressor->IsReady()) {
      if (TextIsSame(m_response.ContentEncoding(), "deflate")) {
        decoding = TDecoding::dcDeflate;
      } else if (TextIsSame(m_response.ContentEncoding(), "gzip")) {
        decoding = TDecoding::dcGZip;
      }
    }
    if (decoding == TDecoding::dcNone) {
      m_response.SetBodyComplete(ReadFramedBody(m_response.ContentStream()));
    } else {
      kv::net::TIdMemoryStream compressed;
      m_response.SetBodyComplete(ReadFramedBody(&compressed));
      Decompress(compressed, decoding);
    }
    DetectCharSet(parseMethod);
  } catch (...) {
    try {
      handBack();
    } catch (...) {
      // The failure of the read is the one to report.
    }
    throw;
  }
  handBack();
}

void TIdHTTPBodyReader::Decompress(TIdStream& compressed, TDecoding decoding) {
  compressed.SetPosition(0);
  TIdZLibCompressorBase& compressor = *m_client.Compressor();
  if (decoding == TDecoding::dcDeflate) {
    compressor.DecompressDeflateStream(compressed, *m_response.ContentStream());
  } else {
    compressor.DecompressGZipStream(compressed, *m_response.ContentStream());
  }
}

void TIdHTTPBodyReader::DetectCharSet(TParseMethod parseMethod) {
  if (parseMethod == TParseMethod::pmHtml) {
    MergeMetaHeaders();
  } else if (parseMethod == TParseMethod::pmXml) {
    m_response.SetCharSet(SniffXmlCharset(m_response.ContentStream()));
  }
}

void TIdHTTPBodyReader::MergeMetaHeaders() {
  TIdMetaHTTPEquiv& meta = m_response.MetaHTTPEquiv();
  meta.ProcessMetaHTTPEquiv(m_response.ContentStream());
  if (meta.RawHeaders().Count() > 0) {
    std::vector<std::string> values;
    meta.RawHeaders().ConvertToStdValues(values);
    for (const std::string& item : values) {
      const size_t separator = item.find('=');
      const std::string name = item.substr(0, separator);
      if (separator != std::string::npos && !name.empty()) {
        m_response.RawHeaders().SetValue(name, item.substr(separator + 1));
      }
    }
    m_response.ParseRawHeaders();
  }
  if (!meta.CharSet().empty()) {
    m_response.SetCharSet(meta.CharSet());
  }
}

bool TIdHTTPBodyReader::ReadFramedBody(TIdStream* store) {
  kv::net::TIdIOHandler& io = IO();
  if (IsChunked(m_response)) {
    return ReadChunkedBody(store);
  }
  if (m_response.HasContentLength()) {
    const int64_t length = m_response.ContentLength();
    if (length <= 0) {
      return true;
    }
    try {
      if (store != nullptr) {
        io.ReadStream(store, length, false);
      } else {
        io.Discard(length);
      }
    } catch (const kv::net::EIdConnClosedGracefully&) {
      // A server that closes early ends the body: what arrived is kept.
      return false;
    }
    return true;
  }
  if (IsMultipart(m_response)) {
    return ReadMultipartBody(store);
  }
  if (store != nullptr) {
    // Without a length or chunks, the body ends when the connection does.
    io.ReadStream(store, -1, true);
  } else {
    io.DiscardAll();
  }
  return true;
}

int32_t TIdHTTPBodyReader::ReadChunkSize(std::string& line) {
  line = m_client.ReadProtocolLine();
  return ParseChunkSize(line);
}

void TIdHTTPBodyReader::ReadChunkData(TIdStream* store, int32_t size) {
  kv::net::TIdIOHandler& io = IO();
  if (store == nullptr) {
    io.Discard(size);
  } else if (m_client.OnChunkReceived) {
    std::vector<uint8_t> chunk;
    io.ReadBytes(chunk, size, false);
    m_client.DoOnChunkReceived(chunk);
    store->Write(chunk.data(), chunk.size());
  } else {
    io.ReadStream(store, size, false);
  }
}

bool TIdHTTPBodyReader::ReadChunkedBody(TIdStream* store) {
  m_client.DoStatus(kv::net::TIdStatus::hsStatusText, "Chunk Started");
  TReadWorkScope work(m_client);
  std::string sizeLine;
  for (int32_t size = ReadChunkSize(sizeLine); size != 0; size = ReadChunkSize(sizeLine)) {
    ReadChunkData(store, size);
    m_client.ReadProtocolLine();  // the line break after the chunk data
  }
  // Trailer lines join the head; the typed fields are not parsed again.
  for (std::string line = m_client.ReadProtocolLine(); !line.empty();
       line = m_client.ReadProtocolLine()) {
    m_response.RawHeaders().Add(line);
  }
  return IsLastChunkLine(sizeLine);
}

bool TIdHTTPBodyReader::ReadMultipartBody(TIdStream* store) {
  TReadWorkScope work(m_client);
  try {
    ReadMultipartUntilDelimiter(store);
  } catch (const kv::net::EIdConnClosedGracefully&) {
    // The close ends the body; what is still buffered belongs to it. Without its closing
    // delimiter, though, the body is cut short.
    kv::net::TIdBuffer& buffer = IO().InputBuffer();
    if (buffer.Size() > 0) {
      buffer.ExtractToStream(store);
    }
    return false;
  }
  return true;
}

void TIdHTTPBodyReader::ReadMultipartUntilDelimiter(TIdStream* store) {
  kv::net::TIdIOHandler& io = IO();
  const std::string boundary =
      ExtractHeaderSubItem(m_response.ContentType(), "boundary", TIdHeaderQuotingType::QuoteHTTP);
  const std::vector<uint8_t> delimiter = io.DefStringEncoding().GetBytes("--" + boundary + "--");
  const int delimiterLength = static_cast<int>(delimiter.size());
  kv::net::TIdBuffer& buffer = io.InputBuffer();
  for (;;) {
    const int index = buffer.Size() > 0 ? buffer.IndexOf(delimiter, 0) : -1;
    if (index >= 0) {
      buffer.ExtractToStream(store, index + delimiterLength);
      m_client.ReadProtocolLine();
      return;
    }
    // Keep the bytes a delimiter split across two receives could start with.
    const int movable = buffer.Size() - (delimiterLength - 1);
    if (movable > 0) {
      buffer.ExtractToStream(store, movable);
    }
    // Wait for more (within the read time-out) rather than spin on an idle connection.
    io.FillInputBuffer(false, kv::net::TIdIOHandler::kUseReadTimeout, true);
    io.CheckForDisconnect(true, true);
  }
}

}  // namespace kv::http
