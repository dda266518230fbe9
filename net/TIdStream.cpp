#include "net/TIdStream.h"

#include <fcntl.h>
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

}  // namespace

TIdMemoryStream::~TIdMemoryStream() { std::free(m_data); }

void TIdMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= m_capacity) {
    return;
  }
  // realloc lets the C library move large blocks by remapping pages instead of copying them.
  auto* grown = static_cast<uint8_t*>(std::realloc(m_data, static_cast<size_t>(capacity)));
  if (grown == nullptr) {
    throw std::bad_alloc();
  }
  m_data = grown;
  m_capacity = capacity;
}

void TIdMemoryStream::SetSize(int64_t size) {
  size = std::max<int64_t>(size, 0);
  Reserve(size);
  m_size = size;
  m_position = std::min(m_position, m_size);
}

void TIdMemoryStream::SetPosition(int64_t position) { m_position = std::max<int64_t>(position, 0); }

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
    // Half again per step keeps the spare room (and the copy work) proportional to the body.
    Reserve(std::max({end, m_capacity + m_capacity / 2, kMinimumGrowth}));
  }
  if (m_position > m_size) {
    std::memset(m_data + m_size, 0, static_cast<size_t>(m_position - m_size));
  }
  std::memcpy(m_data + m_position, data, count);
  m_position = end;
  m_size = std::max(m_size, end);
}

void TIdMemoryStream::Clear() {
  std::free(m_data);
  m_data = nullptr;
  m_size = m_capacity = m_position = 0;
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

void TIdFileStream::SetPosition(int64_t position) { m_position = std::max<int64_t>(position, 0); }

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
