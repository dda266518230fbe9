#include "net/TIdTextEncoding.h"

#include <algorithm>

namespace kv::net {

namespace {

constexpr uint8_t kReplacementByte = '?';
constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool IsContinuation(uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when it is malformed there.
size_t SequenceLength(std::string_view text, size_t i) {
  const auto lead = static_cast<uint8_t>(text[i]);
  size_t length = 0;
  uint8_t low = 0x80;   // allowed range of the second byte, which rules out overlong forms,
  uint8_t high = 0xBF;  // surrogates and values above U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (i + length > text.size()) {
    return 0;
  }
  const auto second = static_cast<uint8_t>(text[i + 1]);
  if (second < low || second > high) {
    return 0;
  }
  for (size_t k = 2; k < length; ++k) {
    if (!IsContinuation(static_cast<uint8_t>(text[i + k]))) {
      return 0;
    }
  }
  return length;
}

}  // namespace

const TIdTextEncoding& TIdTextEncoding::ASCII() {
  static const TIdASCIIEncoding encoding;
  return encoding;
}

void TIdASCIIEncoding::AppendBytes(std::string_view text, std::vector<uint8_t>& bytes) const {
  bytes.reserve(bytes.size() + text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte < 0x80) {
      bytes.push_back(byte);
      ++i;
      continue;
    }
    const size_t length = SequenceLength(text, i);
    if (length == 0) {
      // A malformed byte stands for one character that cannot be encoded.
      bytes.push_back(kReplacementByte);
      ++i;
      continue;
    }
    // Characters beyond the basic plane take two UTF-16 code units, hence two marks.
    bytes.push_back(kReplacementByte);
    if (length == 4) {
      bytes.push_back(kReplacementByte);
    }
    i += length;
  }
}

void TIdASCIIEncoding::AppendString(const uint8_t* data, size_t length, std::string& text) const {
  const uint8_t* end = data + length;
  while (data < end) {
    // Copy runs of 7-bit bytes in one step; header lines are almost always nothing else.
    const uint8_t* high = std::find_if(data, end, [](uint8_t b) { return b >= 0x80; });
    text.append(reinterpret_cast<const char*>(data), static_cast<size_t>(high - data));
    if (high == end) {
      break;
    }
    text.append(kReplacementCharacter);
    data = high + 1;
  }
}

}  // namespace kv::net
