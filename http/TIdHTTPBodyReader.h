#pragma once

#include <cstdint>
#include <string>

#include "http/Forward.h"
#include "http/IdHTTPTypes.h"
#include "net/Forward.h"

namespace kv::http {

// The size on a chunk-size line: hexadecimal, extensions after ";" ignored, blanks trimmed.
// A line that is not a hexadecimal number gives 0 (the last chunk). A size that a signed
// 32-bit length cannot hold, or a negative one, raises EIdHTTPChunkSizeInvalid.
int32_t ParseChunkSize(const std::string& line);

// Media types whose bodies are examined for their charset after they are stored.
bool IsHtmlMediaType(const std::string& contentType);
bool IsXmlMediaType(const std::string& contentType);

// Reads the body that follows one response head: decides whether there is one, chooses the
// framing (chunked, declared length, multipart boundary, or until the server closes), moves the
// bytes into the response's content stream (or drops them without one) and then learns the
// charset of an HTML or XML body.
class TIdHTTPBodyReader {
 public:
  TIdHTTPBodyReader(TIdCustomHTTP& client, TIdHTTPRequest& request, TIdHTTPResponse& response);

  void ReadResponseBody();
  // Whether a body is to be read at all (waits for unexpected bytes where the status says
  // there should be none).
  bool BodyExpected();

 private:
  // Where the charset of a stored body is looked for, and how a body arrives compressed.
  enum class TParseMethod { pmNone, pmHtml, pmXml };
  enum class TDecoding { dcNone, dcDeflate, dcGZip };

  bool Option(TIdHTTPOption option) const;
  bool WaitForPendingData(int timeoutMs);
  // The framing readers answer whether the body reached the end its framing defines.
  bool ReadFramedBody(kv::net::TIdStream* store);
  bool ReadChunkedBody(kv::net::TIdStream* store);
  void ReadChunkData(kv::net::TIdStream* store, int32_t size);
  // Reads a chunk-size line into line and answers its size.
  int32_t ReadChunkSize(std::string& line);
  bool ReadMultipartBody(kv::net::TIdStream* store);
  void ReadMultipartUntilDelimiter(kv::net::TIdStream* store);
  void Decompress(kv::net::TIdStream& compressed, TDecoding decoding);
  void DetectCharSet(TParseMethod parseMethod);
  void MergeMetaHeaders();
  kv::net::TIdIOHandler& IO();

  TIdCustomHTTP& m_client;
  TIdHTTPRequest& m_request;
  TIdHTTPResponse& m_response;
};

}  // namespace kv::http
