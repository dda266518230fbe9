#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kv::fuzz {

void TLimitedMemoryStream::SetSize(int64_t size) {
  if (size < 0 || size > m_limit) {
    throw EFuzzStreamLimit();
  }
  m_bytes.resize(static_cast<size_t>(size));
  m_position = std::min(m_position, size);
}

void TLimitedMemoryStream::SetPosition(int64_t position) {
  m_position = std::clamp<int64_t>(position, 0, Size());
}

size_t TLimitedMemoryStream::Read(void* buffer, size_t count) {
  const size_t available = static_cast<size_t>(Size() - m_position);
  const size_t n = std::min(count, available);
  if (n > 0) {
    std::memcpy(buffer, m_bytes.data() + m_position, n);
  }
  m_position += static_cast<int64_t>(n);
  return n;
}

void TLimitedMemoryStream::Write(const void* data, size_t count) {
  if (count == 0) {
    return;
  }
  if (count > static_cast<uint64_t>(m_limit - m_position)) {
    throw EFuzzStreamLimit();
  }
  const size_t end = static_cast<size_t>(m_position) + count;
  if (end > m_bytes.size()) {
    m_bytes.resize(end);
  }
  std::memcpy(m_bytes.data() + m_position, data, count);
  m_position = static_cast<int64_t>(end);
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t value = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      value = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) {
      return false;
    }
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      value = (value << 6) | (next & 0x3F);
    }
    const uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", condition, file, line);
  std::abort();
}

}  // namespace kv::fuzz
