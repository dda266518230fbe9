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

// Bytes in one contiguous heap block. The block grows geometrically when written past its end,
// and SetSize reserves exactly what is asked, so a body of announced length is placed once.
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
  void Clear();
  std::string ToString() const { return std::string(reinterpret_cast<const char*>(m_data), m_size); }

 private:
  void Reserve(int64_t capacity);

  uint8_t* m_data = nullptr;
  int64_t m_size = 0;
  int64_t m_capacity = 0;
  int64_t m_position = 0;
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
