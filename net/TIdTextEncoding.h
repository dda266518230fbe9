#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::net {

// Turns program text (UTF-8 std::string) into bytes on the wire and back.
class TIdTextEncoding {
 public:
  virtual ~TIdTextEncoding() = default;

  // Appends the encoded form of text to bytes.
  virtual void AppendBytes(std::string_view text, std::vector<uint8_t>& bytes) const = 0;
  // Appends the decoded form of data[0, length) to text.
  virtual void AppendString(const uint8_t* data, size_t length, std::string& text) const = 0;

  std::vector<uint8_t> GetBytes(std::string_view text) const {
    std::vector<uint8_t> bytes;
    AppendBytes(text, bytes);
    return bytes;
  }
  std::string GetString(const uint8_t* data, size_t length) const {
    std::string text;
    AppendString(data, length, text);
    return text;
  }
  std::string GetString(const std::vector<uint8_t>& bytes) const {
    return GetString(bytes.data(), bytes.size());
  }

  // The default encoding of the I/O handlers: 7-bit ASCII.
  static const TIdTextEncoding& ASCII();
};

// 7-bit ASCII. A character it cannot encode becomes one "?" per UTF-16 code unit (so a
// character outside the basic plane gives "??", and each byte of malformed UTF-8 gives one
// "?"); a byte above 127 decodes as U+FFFD.
class TIdASCIIEncoding final : public TIdTextEncoding {
 public:
  void AppendBytes(std::string_view text, std::vector<uint8_t>& bytes) const override;
  void AppendString(const uint8_t* data, size_t length, std::string& text) const override;
};

}  // namespace kv::net
