// Bytes in a named charset turned into UTF-8: our own decoders and every code page the C
// library's converter knows.
//
// Input: a flags byte, a charset index byte, a 32-bit code page, then the charset name up to
// LF, then the bytes. flags bit 0: take the charset name from the table of known names (at the
// index) instead of the input, bit 1: start decoding the stream at the second byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"
#include "http/IdCharsets.h"
#include "http/IdTextDecoding.h"
#include "net/TIdStream.h"

namespace {

using kv::fuzz::IsValidUtf8;
using kv::fuzz::TFuzzInput;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t flags = input.Byte();
  const uint8_t index = input.Byte();
  const int32_t codePage = input.Int32();
  std::string charset = input.Field();
  const std::string bytes = input.Rest();

  static const std::vector<std::string_view> kKnown = kv::http::KnownCharsetNames();
  if ((flags & 1) && !kKnown.empty()) {
    charset = std::string(kKnown[index % kKnown.size()]);
  }

  kv::net::TIdMemoryStream stream;
  stream.Write(bytes.data(), bytes.size());
  const int64_t start = (flags & 2) && !bytes.empty() ? 1 : 0;
  stream.SetPosition(start);
  const std::string text = kv::http::DecodeStreamText(stream, charset);
  FUZZ_CHECK(IsValidUtf8(text));
  FUZZ_CHECK(stream.Position() == stream.Size());
  FUZZ_CHECK(text == kv::http::DecodeText(std::string_view(bytes).substr(start), charset));

  const int namedCodePage = kv::http::CharsetToCodePage(charset);
  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeCodePage(bytes, namedCodePage)));
  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeCodePage(bytes, codePage)));
  (void)kv::http::CodePageToIconvName(codePage);

  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeLatin1(bytes)));
  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeUSASCII(bytes)));
  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeUTF8(bytes)));
  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeUTF16LE(bytes)));
  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeUTF16BE(bytes)));
  FUZZ_CHECK(IsValidUtf8(kv::http::DecodeUTF7(bytes)));
  // Valid UTF-8 decodes to itself.
  if (IsValidUtf8(bytes)) {
    FUZZ_CHECK(kv::http::DecodeUTF8(bytes) == bytes);
  }

  std::string appended;
  kv::http::AppendUtf8(appended, static_cast<char32_t>(static_cast<uint32_t>(codePage)));
  FUZZ_CHECK(IsValidUtf8(appended));
  return 0;
}
