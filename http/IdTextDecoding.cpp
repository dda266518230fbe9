#include "http/IdTextDecoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "http/IdBase64.h"
#include "http/IdCharsets.h"
#include "net/TIdStream.h"

namespace kv::http {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kConvertChunk = 16 * 1024;

bool IsHighSurrogate(char32_t unit) {
  return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}
bool IsLowSurrogate(char32_t unit) {
  return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast;
}

char32_t JoinSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
}

uint8_t ByteAt(std::string_view bytes, std::size_t index) {
  return static_cast<uint8_t>(bytes[index]);
}

// Collects UTF-16 code units and pairs surrogates; whatever cannot pair becomes U+FFFD.
class TUtf16Joiner {
 public:
  explicit TUtf16Joiner(std::string& text) : m_text(text) {}

  void Put(char32_t unit) {
    if (m_pendingHigh != 0) {
      const char32_t high = m_pendingHigh;
      m_pendingHigh = 0;
      if (IsLowSurrogate(unit)) {
        AppendUtf8(m_text, JoinSurrogates(high, unit));
        return;
      }
      AppendUtf8(m_text, kReplacementCharacter);
    }
    if (IsHighSurrogate(unit)) {
      m_pendingHigh = unit;
    } else {
      // A lone low surrogate turns into U+FFFD inside AppendUtf8.
      AppendUtf8(m_text, unit);
    }
  }

  // A high surrogate still waiting for its partner is lost text.
  void Finish() {
    if (m_pendingHigh != 0) {
      AppendUtf8(m_text, kReplacementCharacter);
      m_pendingHigh = 0;
    }
  }

 private:
  std::string& m_text;
  char32_t m_pendingHigh = 0;
};

std::string DecodeUTF16(std::string_view bytes, bool bigEndian) {
  std::string text;
  text.reserve(bytes.size());
  TUtf16Joiner joiner(text);
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const uint8_t first = ByteAt(bytes, i);
    const uint8_t second = ByteAt(bytes, i + 1);
    joiner.Put(bigEndian ? (char32_t{first} << 8) | second : (char32_t{second} << 8) | first);
  }
  joiner.Finish();
  if (i < bytes.size()) {
    // Half a code unit at the end.
    AppendUtf8(text, kReplacementCharacter);
  }
  return text;
}

// The length of the UTF-8 sequence led by lead and the range its second byte must fall in
// (the narrowed ranges exclude overlong forms, surrogates and values above U+10FFFF).
struct TUtf8Lead {
  int Trail = -1;  // -1: not a lead byte
  uint8_t SecondLow = 0x80;
  uint8_t SecondHigh = 0xBF;
};

TUtf8Lead ClassifyUtf8Lead(uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {1, 0x80, 0xBF};
  }
  if (lead == 0xE0) {
    return {2, 0xA0, 0xBF};
  }
  if (lead == 0xED) {
    return {2, 0x80, 0x9F};
  }
  if (lead >= 0xE1 && lead <= 0xEF) {
    return {2, 0x80, 0xBF};
  }
  if (lead == 0xF0) {
    return {3, 0x90, 0xBF};
  }
  if (lead >= 0xF1 && lead <= 0xF3) {
    return {3, 0x80, 0xBF};
  }
  if (lead == 0xF4) {
    return {3, 0x80, 0x8F};
  }
  return {};
}

// Decodes one base64 run of UTF-7 starting at index (just after the "+"); returns the index of
// the first byte after the run.
std::size_t DecodeUTF7Run(std::string_view bytes, std::size_t index, std::string& text) {
  TUtf16Joiner joiner(text);
  uint32_t bits = 0;
  int bitCount = 0;
  for (; index < bytes.size(); ++index) {
    const int value = Base64DigitValue(bytes[index]);
    if (value < 0) {
      break;
    }
    bits = (bits << 6) | static_cast<uint32_t>(value);
    bitCount += 6;
    if (bitCount >= 16) {
      bitCount -= 16;
      joiner.Put(static_cast<char32_t>((bits >> bitCount) & 0xFFFF));
      bits &= (1u << bitCount) - 1;
    }
  }
  joiner.Finish();
  // A well-formed run ends with fewer than six zero bits of padding.
  if (bitCount >= 6 || bits != 0) {
    AppendUtf8(text, kReplacementCharacter);
  }
  return index;
}

// Closes the converter whatever way the conversion ends.
class TIconvHandle {
 public:
  explicit TIconvHandle(const char* fromCode) : m_handle(iconv_open("UTF-8", fromCode)) {}
  ~TIconvHandle() {
    if (IsOpen()) {
      iconv_close(m_handle);
    }
  }
  TIconvHandle(const TIconvHandle&) = delete;
  TIconvHandle& operator=(const TIconvHandle&) = delete;

  bool IsOpen() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return m_handle; }

 private:
  iconv_t m_handle;
};

// The C library's converter; a byte it rejects becomes U+FFFD and is skipped, an incomplete
// sequence at the end becomes one U+FFFD.
std::string DecodeWithIconv(std::string_view bytes, const char* iconvName) {
  TIconvHandle converter(iconvName);
  if (!converter.IsOpen()) {
    return DecodeLatin1(bytes);
  }
  std::string text;
  text.reserve(bytes.size());
  char chunk[kConvertChunk];
  // iconv takes a non-const input pointer but does not write through it.
  char* input = const_cast<char*>(bytes.data());
  std::size_t inputLeft = bytes.size();
  while (inputLeft > 0) {
    char* output = chunk;
    std::size_t outputLeft = sizeof(chunk);
    const std::size_t result = iconv(converter.Get(), &input, &inputLeft, &output, &outputLeft);
    const int error = errno;
    text.append(chunk, static_cast<std::size_t>(output - chunk));
    if (result != static_cast<std::size_t>(-1)) {
      continue;
    }
    if (error == E2BIG && output != chunk) {
      continue;
    }
    AppendUtf8(text, kReplacementCharacter);
    if (error != EILSEQ) {
      // EINVAL: the input ends inside a sequence; anything else would not make progress.
      break;
    }
    ++input;
    --inputLeft;
  }
  // Lets a stateful converter emit what it still holds.
  char* output = chunk;
  std::size_t outputLeft = sizeof(chunk);
  if (iconv(converter.Get(), nullptr, nullptr, &output, &outputLeft) !=
      static_cast<std::size_t>(-1)) {
    text.append(chunk, static_cast<std::size_t>(output - chunk));
  }
  return text;
}

}  // namespace

void AppendUtf8(std::string& text, char32_t codePoint) {
  if (codePoint > kMaxCodePoint ||
      (codePoint >= kHighSurrogateFirst && codePoint <= kLowSurrogateLast)) {
    codePoint = kReplacementCharacter;
  }
  if (codePoint < 0x80) {
    text += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    text += static_cast<char>(0xC0 | (codePoint >> 6));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    text += static_cast<char>(0xE0 | (codePoint >> 12));
    text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (codePoint >> 18));
    text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

std::string DecodeLatin1(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    AppendUtf8(text, ByteAt(bytes, i));
  }
  return text;
}

std::string DecodeUSASCII(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = ByteAt(bytes, i);
    AppendUtf8(text, b < 0x80 ? char32_t{b} : kReplacementCharacter);
  }
  return text;
}

std::string DecodeUTF8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = ByteAt(bytes, i);
    if (lead < 0x80) {
      text += static_cast<char>(lead);
      ++i;
      continue;
    }
    const TUtf8Lead form = ClassifyUtf8Lead(lead);
    std::size_t next = i + 1;
    bool valid = form.Trail > 0;
    for (int k = 0; valid && k < form.Trail; ++k, ++next) {
      const uint8_t low = k == 0 ? form.SecondLow : 0x80;
      const uint8_t high = k == 0 ? form.SecondHigh : 0xBF;
      valid = next < bytes.size() && ByteAt(bytes, next) >= low && ByteAt(bytes, next) <= high;
      if (!valid) {
        break;
      }
    }
    if (valid) {
      // The ranges above admit only well-formed sequences, so the bytes are copied as they are.
      text.append(bytes.substr(i, next - i));
    } else {
      // The maximal part that could have begun a sequence is replaced as one unit.
      AppendUtf8(text, kReplacementCharacter);
    }
    i = next;
  }
  return text;
}

std::string DecodeUTF16LE(std::string_view bytes) {
  return DecodeUTF16(bytes, false);
}

std::string DecodeUTF16BE(std::string_view bytes) {
  return DecodeUTF16(bytes, true);
}

std::string DecodeUTF7(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t c = ByteAt(bytes, i);
    if (c != '+') {
      AppendUtf8(text, c < 0x80 ? char32_t{c} : kReplacementCharacter);
      ++i;
      continue;
    }
    ++i;
    if (i < bytes.size() && bytes[i] == '-') {
      text += '+';
      ++i;
      continue;
    }
    i = DecodeUTF7Run(bytes, i, text);
    if (i < bytes.size() && bytes[i] == '-') {
      ++i;
    }
  }
  return text;
}

std::string DecodeCodePage(std::string_view bytes, int codePage) {
  switch (codePage) {
    case kCodePageUTF16LE:
      return DecodeUTF16LE(bytes);
    case kCodePageUTF16BE:
      return DecodeUTF16BE(bytes);
    case kCodePageUSASCII:
      return DecodeUSASCII(bytes);
    case kCodePageUTF7:
      return DecodeUTF7(bytes);
    case kCodePageUTF8:
      return DecodeUTF8(bytes);
    default:
      break;
  }
  const char* iconvName = CodePageToIconvName(codePage);
  return iconvName != nullptr ? DecodeWithIconv(bytes, iconvName) : DecodeLatin1(bytes);
}

std::string DecodeText(std::string_view bytes, std::string_view charset) {
  const int codePage = CharsetToCodePage(charset);
  if (codePage == kCodePageUnknown) {
    return DecodeLatin1(bytes);
  }
  return DecodeCodePage(bytes, codePage);
}

std::string ReadStreamToEnd(kv::net::TIdStream& stream) {
  std::string bytes;
  const int64_t remaining = stream.Size() - stream.Position();
  if (remaining > 0) {
    bytes.reserve(static_cast<std::size_t>(remaining));
  }
  char chunk[kReadChunk];
  for (;;) {
    const std::size_t count = stream.Read(chunk, sizeof(chunk));
    if (count == 0) {
      break;
    }
    bytes.append(chunk, count);
  }
  return bytes;
}

std::string DecodeStreamText(kv::net::TIdStream& stream, const std::string& charset) {
  return DecodeText(ReadStreamToEnd(stream), charset);
}

}  // namespace kv::http
