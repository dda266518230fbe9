#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::http {

// One requested byte range; -1 marks a bound that is not set.
class TIdEntityRange {
 public:
  TIdEntityRange() = default;
  TIdEntityRange(int64_t startPos, int64_t endPos, int64_t suffixLength = -1)
      : m_startPos(startPos), m_endPos(endPos), m_suffixLength(suffixLength) {}

  int64_t StartPos() const { return m_startPos; }
  void SetStartPos(int64_t value) { m_startPos = value; }
  int64_t EndPos() const { return m_endPos; }
  void SetEndPos(int64_t value) { m_endPos = value; }
  int64_t SuffixLength() const { return m_suffixLength; }
  void SetSuffixLength(int64_t value) { m_suffixLength = value; }

  // "start-end", "start-", "-suffix", or empty when nothing is set.
  std::string Text() const;

 private:
  int64_t m_startPos = -1;
  int64_t m_endPos = -1;
  int64_t m_suffixLength = -1;
};

// The ranges of a Range header with their unit.
class TIdEntityRanges {
 public:
  static constexpr const char* kDefaultUnits = "bytes";

  const std::string& Units() const { return m_units; }
  // An empty unit falls back to "bytes".
  void SetUnits(const std::string& units) { m_units = units.empty() ? kDefaultUnits : units; }

  int Count() const { return static_cast<int>(m_items.size()); }
  TIdEntityRange& Add() { return m_items.emplace_back(); }
  TIdEntityRange& Add(const TIdEntityRange& range) { return m_items.emplace_back(range); }
  TIdEntityRange& operator[](int index) { return m_items.at(static_cast<size_t>(index)); }
  const TIdEntityRange& operator[](int index) const {
    return m_items.at(static_cast<size_t>(index));
  }
  void Clear() { m_items.clear(); }

  // The header value: Units + "=" + the non-empty ranges joined by ","; empty without any.
  std::string Text() const;

 private:
  std::string m_units = kDefaultUnits;
  std::vector<TIdEntityRange> m_items;
};

}  // namespace kv::http
