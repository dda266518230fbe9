#include "http/TIdHashMessageDigest5.h"

#include <algorithm>
#include <cstring>

namespace kv::http {
namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr uint32_t kShifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                  5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr size_t kBlockSize = 64;
constexpr size_t kLengthOffset = 56;  // where the message length goes in the last block

uint32_t RotateLeft(uint32_t value, uint32_t count) {
  return (value << count) | (value >> (32 - count));
}

uint32_t LoadLittleEndian(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void TIdHashMessageDigest5::Reset() {
  m_state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  m_buffer.fill(0);
  m_length = 0;
}

void TIdHashMessageDigest5::Transform(const uint8_t* block) {
  uint32_t words[16];
  for (int i = 0; i < 16; ++i) {
    words[i] = LoadLittleEndian(block + 4 * i);
  }
  uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
  for (uint32_t i = 0; i < 64; ++i) {
    uint32_t f;
    uint32_t g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const uint32_t next = b + RotateLeft(a + f + kSines[i] + words[g], kShifts[i]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
}

void TIdHashMessageDigest5::Update(const void* data, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t used = m_length % kBlockSize;
  m_length += length;
  while (length > 0) {
    const size_t take = std::min(length, kBlockSize - used);
    std::memcpy(m_buffer.data() + used, bytes, take);
    used += take;
    bytes += take;
    length -= take;
    if (used == kBlockSize) {
      Transform(m_buffer.data());
      used = 0;
    }
  }
}

TIdHashMessageDigest5::TDigest TIdHashMessageDigest5::Final() {
  const uint64_t bitLength = m_length * 8;
  // A single 0x80 byte, zeros up to 8 bytes short of a block end, then the bit length.
  const uint8_t marker = 0x80;
  Update(&marker, 1);
  const uint8_t zero = 0;
  while (m_length % kBlockSize != kLengthOffset) {
    Update(&zero, 1);
  }
  uint8_t lengthBytes[8];
  for (int i = 0; i < 8; ++i) {
    lengthBytes[i] = uint8_t(bitLength >> (8 * i));
  }
  Update(lengthBytes, sizeof lengthBytes);

  TDigest digest{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      digest[4 * i + j] = uint8_t(m_state[i] >> (8 * j));
    }
  }
  Reset();
  return digest;
}

TIdHashMessageDigest5::TDigest TIdHashMessageDigest5::HashString(const std::string& text) {
  TIdHashMessageDigest5 hash;
  hash.Update(text);
  return hash.Final();
}

std::string TIdHashMessageDigest5::HashStringAsHex(const std::string& text) {
  return ToHex(HashString(text));
}

std::string TIdHashMessageDigest5::ToHex(const TDigest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0f];
  }
  return hex;
}

}  // namespace kv::http
