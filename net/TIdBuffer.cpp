#include "net/TIdBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "net/IdExceptions.h"
#include "net/TIdStream.h"
#include "net/TIdTextEncoding.h"

namespace kv::net {

namespace {

// Arrays up to this size are kept when the buffer empties, so a connection that receives block
// after block reuses one array instead of allocating one per receive.
constexpr int kRetainedCapacity = 128 * 1024;

}  // namespace

TIdBuffer::TIdBuffer() : m_encoding(&TIdTextEncoding::ASCII()) {}

TIdBuffer::~TIdBuffer() {
  std::free(m_data);
}

void TIdBuffer::SetCapacity(int capacity) {
  if (capacity == 0) {
    std::free(m_data);
    m_data = nullptr;
    m_capacity = 0;
    return;
  }
  // realloc lets the C library remap large blocks instead of copying them.
  auto* resized = static_cast<uint8_t*>(std::realloc(m_data, static_cast<size_t>(capacity)));
  if (resized == nullptr) {
    throw std::bad_alloc();
  }
  m_data = resized;
  m_capacity = capacity;
}

void TIdBuffer::Compact() {
  if (m_head == 0) {
    return;
  }
  if (m_size > 0) {
    std::memmove(m_data, m_data + m_head, static_cast<size_t>(m_size));
  }
  m_head = 0;
}

void TIdBuffer::EnsureTail(int length) {
  const int64_t free = static_cast<int64_t>(m_capacity) - m_head - m_size;
  if (free >= length) {
    return;
  }
  Compact();
  if (static_cast<int64_t>(m_capacity) - m_size >= length) {
    return;
  }
  // Growing by half again at least keeps the copying proportional to the bytes buffered even
  // when a large count is collected receive by receive.
  const int64_t needed = static_cast<int64_t>(m_size) + length + m_growthFactor;
  const int64_t grown = std::max(needed, static_cast<int64_t>(m_capacity) + m_capacity / 2);
  SetCapacity(static_cast<int>(std::min<int64_t>(grown, kMaxSize)));
}

void TIdBuffer::Write(const uint8_t* data, int length) {
  if (length <= 0) {
    return;
  }
  uint8_t* tail = ReserveTail(length);
  std::memcpy(tail, data, static_cast<size_t>(length));
  CommitTail(length);
}

void TIdBuffer::Write(const std::string& text, const TIdTextEncoding* encoding) {
  Write((encoding != nullptr ? *encoding : *m_encoding).GetBytes(text));
}

uint8_t* TIdBuffer::ReserveTail(int length) {
  if (length < 0 || length > kMaxSize - m_size) {
    throw EIdTooMuchDataInBuffer();
  }
  EnsureTail(length);
  return m_data + m_head + m_size;
}

void TIdBuffer::CommitTail(int count) {
  m_size += std::max(count, 0);
}

void TIdBuffer::CheckCount(int count) const {
  if (count > m_size) {
    throw EIdNotEnoughDataInBuffer();
  }
}

void TIdBuffer::ExtractToBytes(std::vector<uint8_t>& target, int count, bool append) {
  if (count < 0) {
    count = m_size;
  }
  CheckCount(count);
  if (append) {
    target.insert(target.end(), Data(), Data() + count);
  } else {
    if (target.size() < static_cast<size_t>(count)) {
      target.resize(static_cast<size_t>(count));
    }
    if (count > 0) {
      std::memcpy(target.data(), Data(), static_cast<size_t>(count));
    }
  }
  Remove(count);
}

std::string TIdBuffer::ExtractToString(int count, const TIdTextEncoding* encoding) {
  if (count < 0) {
    count = m_size;
  }
  std::string text = PeekString(count, encoding);
  Remove(count);
  return text;
}

void TIdBuffer::ExtractToStream(TIdStream* stream, int count) {
  if (count < 0) {
    count = m_size;
  }
  CheckCount(count);
  if (stream != nullptr && count > 0) {
    stream->Write(Data(), static_cast<size_t>(count));
  }
  Remove(count);
}

std::string TIdBuffer::PeekString(int count, const TIdTextEncoding* encoding) const {
  CheckCount(count);
  if (count <= 0) {
    return {};
  }
  return (encoding != nullptr ? *encoding : *m_encoding)
      .GetString(Data(), static_cast<size_t>(count));
}

void TIdBuffer::Remove(int count) {
  if (count <= 0) {
    return;
  }
  int removed = count;
  if (count >= m_size) {
    // Only the bytes that were there count as removed.
    removed = m_size;
    Clear();
  } else {
    m_head += count;
    m_size -= count;
    // Reclaim the space before the head only once it outweighs the bytes to move, so taking a
    // buffer apart in small pieces costs each byte a bounded number of moves.
    if (m_head > m_growthFactor && m_head >= m_size) {
      Compact();
      if (m_capacity > kRetainedCapacity && m_capacity - m_size > m_capacity / 2) {
        SetCapacity(m_size + m_growthFactor);
      }
    }
  }
  if (OnBytesRemoved && removed > 0) {
    OnBytesRemoved(*this, removed);
  }
}

void TIdBuffer::Clear() {
  m_head = 0;
  m_size = 0;
  if (m_capacity > kRetainedCapacity) {
    SetCapacity(0);
  }
}

int TIdBuffer::IndexOf(const std::vector<uint8_t>& bytes, int start) const {
  if (bytes.empty()) {
    throw EIdException("Buffer terminator must be specified.");
  }
  if (m_size == 0) {
    return -1;
  }
  if (start < 0 || start >= m_size) {
    throw EIdException("Buffer start position is invalid.");
  }
  const uint8_t* from = Data() + start;
  const auto length = static_cast<size_t>(m_size - start);
  const void* found = bytes.size() == 1 ? std::memchr(from, bytes[0], length)
                                        : memmem(from, length, bytes.data(), bytes.size());
  if (found == nullptr) {
    return -1;
  }
  return static_cast<int>(static_cast<const uint8_t*>(found) - Data());
}

}  // namespace kv::net
