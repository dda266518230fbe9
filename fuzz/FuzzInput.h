#pragma once

// Reads a fuzzer input from front to back: a few fixed bytes that choose settings, then text
// fields. Reading past the end yields zeros and empty text, so every input is a valid one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::fuzz {

class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* data, size_t size)
      : m_text(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return m_position >= m_text.size(); }
  size_t Remaining() const { return m_text.size() - m_position; }

  uint8_t Byte() { return Empty() ? 0 : static_cast<uint8_t>(m_text[m_position++]); }
  // Little-endian.
  uint16_t Uint16() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  uint32_t Uint32() {
    const uint32_t low = Uint16();
    return low | (static_cast<uint32_t>(Uint16()) << 16);
  }
  int32_t Int32() { return static_cast<int32_t>(Uint32()); }

  // At most count bytes.
  std::string Take(size_t count) {
    const std::string_view part = m_text.substr(m_position, count);
    m_position += part.size();
    return std::string(part);
  }
  // The text up to the next separator (dropped), or the rest when there is none.
  std::string Field(std::string_view separator = "\n") {
    const size_t end = m_text.find(separator, m_position);
    if (end == std::string_view::npos) {
      return Rest();
    }
    std::string field(m_text.substr(m_position, end - m_position));
    m_position = end + separator.size();
    return field;
  }
  std::string Rest() { return Take(Remaining()); }

  // A byte count n, then n receive sizes of one byte each (0 stands for "as much as asked").
  std::vector<int> ReceiveSizes() {
    const size_t count = Byte() % 16;
    std::vector<int> sizes;
    for (size_t i = 0; i < count && !Empty(); ++i) {
      sizes.push_back(Byte());
    }
    return sizes;
  }

 private:
  std::string_view m_text;
  size_t m_position = 0;
};

// Splits text at every occurrence of separator.
inline std::vector<std::string> SplitAll(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end = text.find(separator); end != std::string_view::npos;
       end = text.find(separator, start)) {
    parts.emplace_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

}  // namespace kv::fuzz
