#pragma once

#include <string>
#include <string_view>

#include "net/Forward.h"

namespace kv::http {

// Turning bytes in a named charset into UTF-8 text. Every decoder is total: any input yields
// text, a byte sequence that is not valid in its charset becomes U+FFFD (EF BF BD), and nothing
// is read outside the input.

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends the UTF-8 form of codePoint; a surrogate or a value above U+10FFFF appends U+FFFD.
void AppendUtf8(std::string& text, char32_t codePoint);

// One character per byte: byte b becomes U+00bb.
std::string DecodeLatin1(std::string_view bytes);
// 7-bit ASCII; a byte above 127 becomes U+FFFD.
std::string DecodeUSASCII(std::string_view bytes);
// UTF-8; each maximal invalid part (a stray continuation byte, a truncated, overlong or
// surrogate sequence, a value above U+10FFFF) becomes one U+FFFD. A byte-order mark is kept.
std::string DecodeUTF8(std::string_view bytes);
// UTF-16 in either byte order; surrogate pairs join, a lone surrogate and an odd final byte
// become U+FFFD. A byte-order mark is kept as U+FEFF.
std::string DecodeUTF16LE(std::string_view bytes);
std::string DecodeUTF16BE(std::string_view bytes);
// UTF-7: "+-" is "+", "+" opens base64 of UTF-16 up to the first character outside base64
// (a "-" there is dropped). Left-over bits that do not form a unit, a lone surrogate and a byte
// above 127 become U+FFFD.
std::string DecodeUTF7(std::string_view bytes);
// Any code page: the five above by our own decoders, every other one through the C library's
// converter. A code page the converter cannot open decodes one character per byte.
std::string DecodeCodePage(std::string_view bytes, int codePage);
// bytes in the named charset (see CharsetToCodePage); an empty or unknown name decodes one
// character per byte.
std::string DecodeText(std::string_view bytes, std::string_view charset);

// The bytes from the stream's position to its end; the position is then at the end.
std::string ReadStreamToEnd(kv::net::TIdStream& stream);

// Decodes the bytes from the stream's position to its end in the named charset.
std::string DecodeStreamText(kv::net::TIdStream& stream, const std::string& charset);

}  // namespace kv::http
