#include "http/IdBase64.h"

#include <cstdint>
#include <utility>

namespace kv::http {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

int Base64DigitValue(char c) {
  if (c >= 'A' && c <= 'Z') {
    return c - 'A';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 26;
  }
  if (c >= '0' && c <= '9') {
    return c - '0' + 52;
  }
  if (c == '+') {
    return 62;
  }
  if (c == '/') {
    return 63;
  }
  return -1;
}

std::string EncodeBase64(const std::string& bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = uint32_t(uint8_t(bytes[i])) << 16 |
                           uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += kAlphabet[(group >> 6) & 63];
    text += kAlphabet[group & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = uint32_t(uint8_t(bytes[i])) << 16;
    if (rest == 2) {
      group |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    }
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

bool DecodeBase64(const std::string& text, std::string& bytes) {
  std::string digits;
  digits.reserve(text.size());
  size_t padding = 0;
  for (char c : text) {
    if (IsSpace(c)) {
      continue;
    }
    if (c == '=') {
      ++padding;
      continue;
    }
    // Digits after padding, or more than two padding characters, are not Base64.
    if (padding > 0 || Base64DigitValue(c) < 0) {
      return false;
    }
    digits += c;
  }
  if (padding > 2 || digits.size() % 4 == 1 ||
      (padding > 0 && (digits.size() + padding) % 4 != 0)) {
    return false;
  }
  std::string decoded;
  decoded.reserve(digits.size() * 3 / 4);
  uint32_t group = 0;
  int bits = 0;
  for (char c : digits) {
    group = (group << 6) | uint32_t(Base64DigitValue(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      decoded += char((group >> bits) & 0xff);
    }
  }
  bytes = std::move(decoded);
  return true;
}

}  // namespace kv::http
