#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::net {

// A seekable byte stream: the caller's download target. Reads and writes start at Position()
// and advance it; a write past the end grows the stream.
class TIdStream {
 public:
  virtual ~TIdStream() = default;

  virtual int64_t Size() const = 0;
  // Grows or truncates; a position beyond the new end moves to the end.
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  // Returns the number of bytes read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  virtual void Write(const void* data, size_t count) = 0;
  // True when the bytes live in memory (charset detection reads such a stream in place).
  virtual bool IsMemoryBacked() const { return false; }
};

// Bytes in one contiguous block. The block grows geometrically when written past its end; SetSize
// on an empty stream reserves exactly what is asked (so a body of announced length is placed
// once), on a stream that already holds a block it grows like a write. Small blocks come from
// the heap. Large ones are mappings of their own: they ask for huge pages, which cuts the cost
// of first touching a fresh block (one fault per 2 MiB instead of per 4 KiB), and they grow by
// remapping, so growing never copies the bytes and room not yet written takes no memory.
class TIdMemoryStream final : public TIdStream {
 public:
  TIdMemoryStream() = default;
  ~TIdMemoryStream() override;
  TIdMemoryStream(const TIdMemoryStream&) = delete;
  TIdMemoryStream& operator=(const TIdMemoryStream&) = delete;

  int64_t Size() const override { return m_size; }
  void SetSize(int64_t size) override;
  int64_t Position() const override { return m_position; }
  void SetPosition(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* data, size_t count) override;
  bool IsMemoryBacked() const override { return true; }

  uint8_t* Memory() { return m_data; }
  const uint8_t* Memory() const { return m_data; }
  int64_t Capacity() const { return m_capacity; }
  // True when the block is a mapping of its own rather than heap memory.
  bool IsMapped() const { return m_mapped; }
  void Clear();
  std::string ToString() const {
    return std::string(reinterpret_cast<const char*>(m_data), m_size);
  }

  // Blocks of at least this size are mappings of their own, in whole huge pages.
  static constexpr int64_t kMapThreshold = int64_t{4} * 1024 * 1024;
  static constexpr int64_t kHugePageSize = int64_t{2} * 1024 * 1024;

 private:
  // Makes the block hold at least capacity bytes (never shrinks it).
  void Reserve(int64_t capacity);
  // The capacity to grow to for at least `needed` bytes: half again the current one at least.
  int64_t GrownCapacity(int64_t needed) const;
  void Release();

  uint8_t* m_data = nullptr;
  int64_t m_size = 0;
  int64_t m_capacity = 0;
  int64_t m_position = 0;
  bool m_mapped = false;
};

// A file on disk, opened for writing (created anew) or for reading.
class TIdFileStream final : public TIdStream {
 public:
  enum class TMode { fmCreate, fmOpenRead, fmOpenReadWrite };

  TIdFileStream(const std::string& path, TMode mode);
  ~TIdFileStream() override;
  TIdFileStream(const TIdFileStream&) = delete;
  TIdFileStream& operator=(const TIdFileStream&) = delete;

  int64_t Size() const override;
  void SetSize(int64_t size) override;
  int64_t Position() const override { return m_position; }
  void SetPosition(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* data, size_t count) override;

  // Pushes written bytes to the disk (before a rename makes them visible under their name).
  void Flush();
  const std::string& Path() const { return m_path; }

 private:
  [[noreturn]] void Fail(const char* what) const;

  std::string m_path;
  int m_fd = -1;
  int64_t m_position = 0;
};

}  // namespace kv::net
