#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/TIdStack.h"

namespace kv::net {

class TIdStream;
class TIdTextEncoding;

// A byte queue between the socket and the reader. Bytes are appended at the tail and taken from
// the head; the space of taken bytes is reclaimed lazily, so taking a few bytes at a time does
// not move the rest each time.
class TIdBuffer {
 public:
  // The most bytes a buffer holds.
  static constexpr int kMaxSize = 2147483647;
  static constexpr int kDefaultGrowthFactor = 2048;

  TIdBuffer();
  ~TIdBuffer();
  TIdBuffer(const TIdBuffer&) = delete;
  TIdBuffer& operator=(const TIdBuffer&) = delete;

  // Called after every Remove (also through the Extract operations) with the count removed.
  std::function<void(TIdBuffer& ASender, int ACount)> OnBytesRemoved;

  int Size() const { return m_size; }
  int Capacity() const { return m_capacity; }
  int GrowthFactor() const { return m_growthFactor; }
  void SetGrowthFactor(int growthFactor) { m_growthFactor = growthFactor; }
  // Text operations without an explicit encoding use this one (borrowed; ASCII by default).
  const TIdTextEncoding& Encoding() const { return *m_encoding; }
  void SetEncoding(const TIdTextEncoding& encoding) { m_encoding = &encoding; }

  // Appends bytes. Raises EIdTooMuchDataInBuffer when the buffer would pass kMaxSize.
  void Write(const uint8_t* data, int length);
  void Write(const std::vector<uint8_t>& bytes) {
    Write(bytes.data(), static_cast<int>(bytes.size()));
  }
  void Write(const std::string& text, const TIdTextEncoding* encoding = nullptr);

  // Moves count bytes (-1: all) from the head into target, appended or over its start.
  // Raises EIdNotEnoughDataInBuffer when fewer bytes are buffered.
  void ExtractToBytes(std::vector<uint8_t>& target, int count = -1, bool append = true);
  // ExtractToBytes, decoded (with the buffer's own encoding when none is given).
  std::string ExtractToString(int count = -1, const TIdTextEncoding* encoding = nullptr);
  // Writes count bytes (-1: all) straight from the buffer to the stream at its position, then
  // removes them. A null stream drops the bytes (still reported as removed).
  void ExtractToStream(TIdStream* stream, int count = -1);

  // Drops count bytes from the head (all when count is at least Size).
  void Remove(int count);
  // Drops everything without reporting it as removed.
  void Clear();

  // Receiving straight into the buffer: room for at least length bytes behind the unread ones
  // (valid until the next change), then CommitTail with the count actually placed there.
  uint8_t* ReserveTail(int length);
  void CommitTail(int count);

  // Offset from the head of the first occurrence of bytes at or after start, or -1.
  // Empty bytes or a start outside 0 .. Size-1 raise EIdException.
  int IndexOf(const std::vector<uint8_t>& bytes, int start = 0) const;
  // The unread bytes in place (valid until the next change), and one of them.
  const uint8_t* Data() const { return m_data + m_head; }
  uint8_t PeekByte(int index) const { return m_data[m_head + index]; }
  // A copy of count bytes from the head, decoded, without removing them.
  std::string PeekString(int count, const TIdTextEncoding* encoding = nullptr) const;

 private:
  // Moves the unread bytes to the start of the array.
  void Compact();
  // Makes room for length more bytes behind the unread ones.
  void EnsureTail(int length);
  void SetCapacity(int capacity);
  void CheckCount(int count) const;

  TIdStackUsage m_stackUsage;
  uint8_t* m_data = nullptr;
  int m_capacity = 0;
  int m_head = 0;
  int m_size = 0;
  int m_growthFactor = kDefaultGrowthFactor;
  const TIdTextEncoding* m_encoding;
};

}  // namespace kv::net
