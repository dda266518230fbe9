// The scan of an HTML page for its meta http-equiv and meta charset tags, on a memory stream
// (read in place) and on any other stream (copied), and as the response's meta header object.
//
// Input: one flags byte, then the page. flags bit 0: a plain stream instead of a memory stream,
// bit 1: no header list, bits 2-7: the start position (the scan reads from the start anyway).

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"
#include "http/IdCharsetDetection.h"
#include "http/IdGlobalProtocols.h"
#include "http/TIdHeaderList.h"
#include "http/TIdMetaHTTPEquiv.h"
#include "net/TIdStream.h"

namespace {

using kv::fuzz::TFuzzInput;

void Scan(kv::net::TIdStream& stream, bool withHeaders, int64_t start) {
  stream.SetPosition(start);
  kv::http::TIdHeaderList headers(kv::http::TIdHeaderQuotingType::QuoteHTTP);
  std::string charset = "previous";
  kv::http::ScanMetaHttpEquiv(&stream, withHeaders ? &headers : nullptr, charset);
  // Text found is UTF-8, and the stream is read to its end.
  FUZZ_CHECK(kv::fuzz::IsValidUtf8(charset));
  for (const std::string& line : headers.Lines()) {
    FUZZ_CHECK(kv::fuzz::IsValidUtf8(line));
  }
  FUZZ_CHECK(stream.Position() == stream.Size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t flags = input.Byte();
  const std::string page = input.Rest();
  const int64_t start = std::min<int64_t>(flags >> 2, static_cast<int64_t>(page.size()));

  if (flags & 1) {
    kv::fuzz::TLimitedMemoryStream stream(static_cast<int64_t>(page.size()) + 1);
    stream.Write(page.data(), page.size());
    Scan(stream, (flags & 2) == 0, start);
  } else {
    kv::net::TIdMemoryStream stream;
    stream.Write(page.data(), page.size());
    Scan(stream, (flags & 2) == 0, start);
  }

  kv::net::TIdMemoryStream stream;
  stream.Write(page.data(), page.size());
  kv::http::TIdMetaHTTPEquiv meta;
  meta.ProcessMetaHTTPEquiv(&stream);
  FUZZ_CHECK(kv::fuzz::IsValidUtf8(meta.CharSet()));
  (void)meta.ContentType();
  (void)meta.ContentLength();

  std::string charset;
  kv::http::ScanMetaHttpEquiv(nullptr, nullptr, charset);
  return 0;
}
