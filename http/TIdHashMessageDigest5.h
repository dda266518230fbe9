#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::http {

// MD5 (RFC 1321), for Digest authentication only: not for anything that needs a secure hash.
class TIdHashMessageDigest5 {
 public:
  using TDigest = std::array<uint8_t, 16>;

  TIdHashMessageDigest5() { Reset(); }

  void Reset();
  void Update(const void* data, size_t length);
  void Update(const std::string& text) { Update(text.data(), text.size()); }
  // Ends the message and returns its digest; the object starts a new message afterwards.
  TDigest Final();

  static TDigest HashString(const std::string& text);
  // The digest as 32 lower-case hexadecimal digits.
  static std::string HashStringAsHex(const std::string& text);
  static std::string ToHex(const TDigest& digest);

 private:
  void Transform(const uint8_t* block);

  std::array<uint32_t, 4> m_state{};
  std::array<uint8_t, 64> m_buffer{};
  uint64_t m_length = 0;  // bytes seen so far
};

}  // namespace kv::http
