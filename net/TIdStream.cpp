#include "net/TIdStream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "net/EIdException.h"

namespace kv::net {

namespace {

constexpr int64_t kMinimumGrowth = 64 * 1024;

int64_t RoundUp(int64_t value, int64_t unit) {
  return (value + unit - 1) / unit * unit;
}

// A fresh anonymous mapping of `length` bytes (a multiple of the huge page size) that starts on
// a huge page boundary, so that every part of it can be backed by huge pages. The pages come on
// first touch; nothing is committed here.
uint8_t* MapAligned(int64_t length) {
  const auto size = static_cast<size_t>(length);
  const auto huge = static_cast<size_t>(TIdMemoryStream::kHugePageSize);
  void* raw =
      ::mmap(nullptr, size + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) {
    throw std::bad_alloc();
  }
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + huge - 1) & ~(huge - 1);
  // Give back the unaligned head and whatever lies beyond the block.
  if (aligned > start) {
    ::munmap(raw, aligned - start);
  }
  const size_t tail = (start + size + huge) - (aligned + size);
  if (tail > 0) {
    ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  }
  auto* block = reinterpret_cast<uint8_t*>(aligned);
  // Only advice: without huge pages (switched off, or none free) the block works as it is.
  ::madvise(block, size, MADV_HUGEPAGE);
  return block;
}

// Grows a mapping made by MapAligned. The kernel moves page table entries, not bytes; when the
// block cannot grow where it is, it goes to a fresh aligned place so the huge pages stay whole.
uint8_t* RemapAligned(uint8_t* block, int64_t length, int64_t newLength) {
  void* grown = ::mremap(block, static_cast<size_t>(length), static_cast<size_t>(newLength), 0);
  if (grown != MAP_FAILED) {
    return static_cast<uint8_t*>(grown);
  }
  uint8_t* target = MapAligned(newLength);
  grown = ::mremap(block, static_cast<size_t>(length), static_cast<size_t>(newLength),
                   MREMAP_MAYMOVE | MREMAP_FIXED, target);
  if (grown == MAP_FAILED) {
    ::munmap(target, static_cast<size_t>(newLength));
    throw std::bad_alloc();
  }
  return static_cast<uint8_t*>(grown);
}

}  // namespace

TIdMemoryStream::~TIdMemoryStream() {
  Release();
}

void TIdMemoryStream::Release() {
  if (m_mapped) {
    ::munmap(m_data, static_cast<size_t>(m_capacity));
  } else {
    std::free(m_data);
  }
  m_data = nullptr;
  m_capacity = 0;
  m_mapped = false;
}

void TIdMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= m_capacity) {
    return;
  }
  if (capacity < kMapThreshold) {
    auto* grown = static_cast<uint8_t*>(std::realloc(m_data, static_cast<size_t>(capacity)));
    if (grown == nullptr) {
      throw std::bad_alloc();
    }
    m_data = grown;
    m_capacity = capacity;
    return;
  }
  const int64_t length = RoundUp(capacity, kHugePageSize);
  if (m_mapped) {
    m_data = RemapAligned(m_data, m_capacity, length);
  } else {
    // Leaving the heap copies what is there once; it is less than the threshold.
    uint8_t* block = MapAligned(length);
    if (m_size > 0) {
      std::memcpy(block, m_data, static_cast<size_t>(m_size));
    }
    std::free(m_data);
    m_data = block;
    m_mapped = true;
  }
  m_capacity = length;
}

int64_t TIdMemoryStream::GrownCapacity(int64_t needed) const {
  // Half again per step keeps the spare room (and the copy work) proportional to the body.
  return std::max({needed, m_capacity + m_capacity / 2, kMinimumGrowth});
}

void TIdMemoryStream::SetSize(int64_t size) {
  size = std::max<int64_t>(size, 0);
  if (size > m_capacity) {
    // The first sizing is taken as the final size; a stream sized again and again (a body that
    // arrives in chunks) grows geometrically instead of by each step.
    Reserve(m_capacity == 0 ? size : GrownCapacity(size));
  }
  m_size = size;
  m_position = std::min(m_position, m_size);
}

void TIdMemoryStream::SetPosition(int64_t position) {
  m_position = std::max<int64_t>(position, 0);
}

size_t TIdMemoryStream::Read(void* buffer, size_t count) {
  if (m_position >= m_size || count == 0) {
    return 0;
  }
  const auto available = static_cast<size_t>(m_size - m_position);
  const size_t n = std::min(count, available);
  std::memcpy(buffer, m_data + m_position, n);
  m_position += static_cast<int64_t>(n);
  return n;
}

void TIdMemoryStream::Write(const void* data, size_t count) {
  if (count == 0) {
    return;
  }
  const int64_t end = m_position + static_cast<int64_t>(count);
  if (end > m_capacity) {
    Reserve(GrownCapacity(end));
  }
  if (m_position > m_size) {
    std::memset(m_data + m_size, 0, static_cast<size_t>(m_position - m_size));
  }
  std::memcpy(m_data + m_position, data, count);
  m_position = end;
  m_size = std::max(m_size, end);
}

void TIdMemoryStream::Clear() {
  Release();
  m_size = m_position = 0;
}

TIdFileStream::TIdFileStream(const std::string& path, TMode mode) : m_path(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TMode::fmCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case TMode::fmOpenRead:
      flags |= O_RDONLY;
      break;
    case TMode::fmOpenReadWrite:
      flags |= O_RDWR;
      break;
  }
  m_fd = ::open(path.c_str(), flags, 0644);
  if (m_fd < 0) {
    Fail(mode == TMode::fmCreate ? "Cannot create file" : "Cannot open file");
  }
}

TIdFileStream::~TIdFileStream() {
  if (m_fd >= 0) {
    ::close(m_fd);
  }
}

void TIdFileStream::Fail(const char* what) const {
  throw EIdStreamError(std::string(what) + " \"" + m_path + "\": " + std::strerror(errno));
}

int64_t TIdFileStream::Size() const {
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) {
    Fail("Cannot read the size of");
  }
  return st.st_size;
}

void TIdFileStream::SetSize(int64_t size) {
  if (::ftruncate(m_fd, std::max<int64_t>(size, 0)) != 0) {
    Fail("Cannot resize file");
  }
  m_position = std::min(m_position, std::max<int64_t>(size, 0));
}

void TIdFileStream::SetPosition(int64_t position) {
  m_position = std::max<int64_t>(position, 0);
}

size_t TIdFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::pread(m_fd, out + done, count - done, m_position);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      Fail("Cannot read file");
    }
    if (n == 0) {
      break;
    }
    done += static_cast<size_t>(n);
    m_position += n;
  }
  return done;
}

void TIdFileStream::Write(const void* data, size_t count) {
  const auto* in = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(m_fd, in + done, count - done, m_position);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      Fail("Cannot write file");
    }
    done += static_cast<size_t>(n);
    m_position += n;
  }
}

void TIdFileStream::Flush() {
  if (::fsync(m_fd) != 0) {
    Fail("Cannot flush file");
  }
}

}  // namespace kv::net
