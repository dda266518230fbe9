#pragma once

// Shared pieces of the fuzz targets: a memory stream with a size limit, a UTF-8 check and the
// check that turns a broken promise of the code under test into a crash the fuzzer keeps.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/EIdException.h"
#include "net/TIdStream.h"

namespace kv::fuzz {

using kv::net::EIdException;
// A stream was asked to grow beyond its limit.
KV_DECLARE_EXCEPTION_WITH_TEXT(EFuzzStreamLimit, EIdException, "Stream size limit reached");

// An in-memory stream that refuses to grow beyond a limit. The client sizes a stream once for
// a declared length (a Content-Length, a chunk size), which is sound for a real download but
// would let any input with a large number exhaust the fuzzer's memory; the limit turns that
// into an expected failure. It reports itself as memory-backed, so the body reader stores into
// it directly instead of through a temporary stream without limit.
class TLimitedMemoryStream final : public kv::net::TIdStream {
 public:
  static constexpr int64_t kDefaultLimit = 1 << 20;

  explicit TLimitedMemoryStream(int64_t limit = kDefaultLimit) : m_limit(limit) {}

  int64_t Size() const override { return static_cast<int64_t>(m_bytes.size()); }
  void SetSize(int64_t size) override;
  int64_t Position() const override { return m_position; }
  void SetPosition(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* data, size_t count) override;
  bool IsMemoryBacked() const override { return true; }

  std::string ToString() const { return std::string(m_bytes.begin(), m_bytes.end()); }

 private:
  int64_t m_limit;
  std::vector<char> m_bytes;
  int64_t m_position = 0;
};

// Whether text is well-formed UTF-8 (no surrogates, nothing above U+10FFFF, no overlong forms).
bool IsValidUtf8(std::string_view text);

// Aborts with a message when a documented property does not hold, so the fuzzer records the
// input as a crash.
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);

}  // namespace kv::fuzz

#define FUZZ_CHECK(condition)                                  \
  do {                                                         \
    if (!(condition)) {                                        \
      ::kv::fuzz::CheckFailed(#condition, __FILE__, __LINE__); \
    }                                                          \
  } while (false)
