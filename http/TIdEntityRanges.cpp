#include "http/TIdEntityRanges.h"

namespace kv::http {

std::string TIdEntityRange::Text() const {
  if (m_startPos >= 0) {
    std::string text = std::to_string(m_startPos) + "-";
    if (m_endPos >= 0) {
      text += std::to_string(m_endPos);
    }
    return text;
  }
  if (m_suffixLength >= 0) {
    return '-' + std::to_string(m_suffixLength);
  }
  return {};
}

std::string TIdEntityRanges::Text() const {
  std::string ranges;
  for (const TIdEntityRange& range : m_items) {
    const std::string text = range.Text();
    if (text.empty()) {
      continue;
    }
    if (!ranges.empty()) {
      ranges += ',';
    }
    ranges += text;
  }
  return ranges.empty() ? std::string() : m_units + "=" + ranges;
}

}  // namespace kv::http
