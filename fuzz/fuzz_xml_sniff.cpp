// The charset of an XML document from its byte-order mark or the encoding of its prolog.
//
// Input: one byte choosing the start position and the stream kind (bit 7: a plain stream
// instead of a memory stream), then the document.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"
#include "http/IdCharsetDetection.h"
#include "net/TIdStream.h"

namespace {

using kv::fuzz::TFuzzInput;

void Sniff(kv::net::TIdStream& stream, int64_t start) {
  stream.SetPosition(start);
  const std::string charset = kv::http::SniffXmlCharset(&stream);
  // The position is restored, or moved past a byte-order mark, never past the end.
  FUZZ_CHECK(stream.Position() >= start);
  FUZZ_CHECK(stream.Position() <= stream.Size());
  FUZZ_CHECK(stream.Position() - start <= 4);
  (void)charset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t flags = input.Byte();
  const std::string document = input.Rest();
  const int64_t start = std::min<int64_t>(flags & 0x7F, static_cast<int64_t>(document.size()));
  if (flags & 0x80) {
    kv::fuzz::TLimitedMemoryStream stream(static_cast<int64_t>(document.size()) + 1);
    stream.Write(document.data(), document.size());
    Sniff(stream, start);
  } else {
    kv::net::TIdMemoryStream stream;
    stream.Write(document.data(), document.size());
    Sniff(stream, start);
  }
  FUZZ_CHECK(kv::http::SniffXmlCharset(nullptr) == "UTF-8");
  return 0;
}
