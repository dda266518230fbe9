#include "http/TIdHeaderList.h"

#include <algorithm>
#include <cstdio>

namespace kv::http {

namespace {

bool IsFoldBreak(char c) {
  return c == ' ' || c == '\t' || c == ',';
}

// A line that begins with a space or a tab continues the header above it.
bool StartsWithSpaceOrTab(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

}  // namespace

std::vector<std::string> FoldHeaderLine(std::string_view line, int32_t width) {
  // A width below 1 would leave no room for text; fold at every break point instead.
  const std::size_t limit = width < 1 ? 1 : static_cast<std::size_t>(width);
  std::vector<std::string> result;
  std::string rest = TrimRight(line);
  while (rest.size() > limit) {
    // Break only behind the first visible character, so no part is left empty.
    std::size_t firstVisible = 0;
    while (firstVisible < rest.size() && IsBlank(rest[firstVisible])) {
      ++firstVisible;
    }
    std::size_t breakAt = std::string::npos;
    for (std::size_t i = std::min(limit, rest.size() - 1); i > firstVisible; --i) {
      // The part in front must fit: up to the space, or up to and including the comma.
      const bool fits = rest[i] != ',' || i + 1 <= limit;
      if (IsFoldBreak(rest[i]) && fits) {
        breakAt = i;
        break;
      }
    }
    if (breakAt == std::string::npos) {
      // Nothing to break at within the width: break at the first point beyond it, if any.
      for (std::size_t i = std::max(limit, firstVisible + 1); i < rest.size(); ++i) {
        if (IsFoldBreak(rest[i])) {
          breakAt = i;
          break;
        }
      }
      if (breakAt == std::string::npos) {
        break;
      }
    }
    // A comma stays on the line in front; a space or tab starts the continuation.
    const std::size_t cut = rest[breakAt] == ',' ? breakAt + 1 : breakAt;
    std::string head = TrimRight(std::string_view(rest).substr(0, cut));
    std::string tail = TrimLeft(std::string_view(rest).substr(cut));
    result.push_back(std::move(head));
    if (tail.empty()) {
      rest.clear();
      return result;
    }
    rest = " " + tail;
  }
  result.push_back(std::move(rest));
  return result;
}

TIdHeaderList::TIdHeaderList(TIdHeaderQuotingType quoteType)
    : m_foldLinesLength(quoteType == TIdHeaderQuotingType::QuoteHTTP ? kHTTPFoldLinesLength
                                                                     : kDefaultFoldLinesLength),
      m_quoteType(quoteType) {}

void TIdHeaderList::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) {
    char text[64];
    std::snprintf(text, sizeof text, "List index out of bounds (%d)", index);
    throw EIdHeaderListIndexError(text);
  }
}

const std::string& TIdHeaderList::Strings(int index) const {
  CheckIndex(index, Count());
  return m_lines[static_cast<std::size_t>(index)];
}

void TIdHeaderList::SetStrings(int index, const std::string& line) {
  CheckIndex(index, Count());
  m_lines[static_cast<std::size_t>(index)] = line;
}

void TIdHeaderList::Add(const std::string& line) {
  m_lines.push_back(line);
}

void TIdHeaderList::Insert(int index, const std::string& line) {
  CheckIndex(index, Count() + 1);
  m_lines.insert(m_lines.begin() + index, line);
}

void TIdHeaderList::Delete(int index) {
  CheckIndex(index, Count());
  m_lines.erase(m_lines.begin() + index);
}

std::string TIdHeaderList::Text() const {
  std::string text;
  for (const std::string& line : m_lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TIdHeaderList::SetText(std::string_view text) {
  m_lines.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const bool terminated = end != std::string_view::npos;
    if (!terminated) {
      end = text.size();
    }
    std::string_view line = text.substr(start, end - start);
    if (terminated && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    m_lines.emplace_back(line);
    start = end + 1;
  }
}

std::string TIdHeaderList::LookupSeparator() const {
  std::string separator = TrimRight(m_nameValueSeparator);
  return separator.empty() ? m_nameValueSeparator : separator;
}

std::string TIdHeaderList::GetName(int index) const {
  const std::string& line = Strings(index);
  const std::string separator = LookupSeparator();
  const std::size_t pos = separator.empty() ? std::string::npos : line.find(separator);
  return pos == std::string::npos ? std::string() : line.substr(0, pos);
}

int TIdHeaderList::IndexOfName(std::string_view name) const {
  if (name.empty()) {
    return -1;
  }
  const std::string separator = LookupSeparator();
  if (separator.empty()) {
    return -1;
  }
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = m_lines[static_cast<std::size_t>(i)];
    const std::size_t pos = line.find(separator);
    if (pos != std::string::npos && TextIsSame(std::string_view(line).substr(0, pos), name)) {
      return i;
    }
  }
  return -1;
}

bool TIdHeaderList::IsContinuationLine(int index) const {
  return m_unfoldLines && index >= 0 && index < Count() &&
         StartsWithSpaceOrTab(m_lines[static_cast<std::size_t>(index)]);
}

int TIdHeaderList::ContinuationCount(int index) const {
  int count = 0;
  while (IsContinuationLine(index + 1 + count)) {
    ++count;
  }
  return count;
}

std::string TIdHeaderList::ReadLogicalValue(int& index) const {
  const std::string& line = m_lines[static_cast<std::size_t>(index)];
  const std::string separator = LookupSeparator();
  const std::size_t pos = separator.empty() ? std::string::npos : line.find(separator);
  std::string value = pos == std::string::npos
                          ? line
                          : TrimLeft(std::string_view(line).substr(pos + separator.size()));
  ++index;
  while (IsContinuationLine(index)) {
    value = Trim(value) + " " + Trim(m_lines[static_cast<std::size_t>(index)]);
    ++index;
  }
  return Trim(value);
}

std::string TIdHeaderList::GetValue(std::string_view name) const {
  int index = IndexOfName(name);
  return index < 0 ? std::string() : ReadLogicalValue(index);
}

void TIdHeaderList::Extract(std::string_view name, std::vector<std::string>* destination) const {
  if (destination == nullptr || name.empty()) {
    return;
  }
  const std::string separator = LookupSeparator();
  int index = 0;
  while (index < Count()) {
    const std::string& line = m_lines[static_cast<std::size_t>(index)];
    const std::size_t pos = separator.empty() ? std::string::npos : line.find(separator);
    if (pos != std::string::npos && TextIsSame(std::string_view(line).substr(0, pos), name)) {
      destination->push_back(ReadLogicalValue(index));
    } else {
      index += 1 + ContinuationCount(index);
    }
  }
}

void TIdHeaderList::Extract(std::string_view name, TIdHeaderList* destination) const {
  if (destination == nullptr) {
    return;
  }
  for (const std::string& value : Extract(name)) {
    destination->Add(value);
  }
}

std::vector<std::string> TIdHeaderList::Extract(std::string_view name) const {
  std::vector<std::string> values;
  Extract(name, &values);
  return values;
}

TIdHeaderQuotingType TIdHeaderList::ParamQuoteType(std::string_view name) const {
  // Content-Type and Content-Disposition of a mail message follow MIME's quoting, every other
  // mail header RFC 822's.
  const bool mimeHeader =
      TextIsSame(name, "Content-Type") || TextIsSame(name, "Content-Disposition");
  if (m_quoteType == TIdHeaderQuotingType::QuoteRFC822 && mimeHeader) {
    return TIdHeaderQuotingType::QuoteMIME;
  }
  if (m_quoteType == TIdHeaderQuotingType::QuoteMIME && !mimeHeader) {
    return TIdHeaderQuotingType::QuoteRFC822;
  }
  return m_quoteType;
}

std::string TIdHeaderList::GetParam(std::string_view name, std::string_view param) const {
  return ExtractHeaderSubItem(GetValue(name), param, ParamQuoteType(name));
}

std::string TIdHeaderList::GetAllParams(std::string_view name) const {
  const std::string value = GetValue(name);
  const std::size_t pos = value.find(';');
  return pos == std::string::npos ? std::string() : Trim(std::string_view(value).substr(pos + 1));
}

void TIdHeaderList::ConvertToStdValues(std::vector<std::string>& destination) const {
  int index = 0;
  while (index < Count()) {
    std::string name = GetName(index);
    destination.push_back(name + "=" + ReadLogicalValue(index));
  }
}

std::vector<std::string> TIdHeaderList::ComposeLines(std::string_view name,
                                                     std::string_view value) const {
  std::string line = std::string(name) + m_nameValueSeparator + std::string(value);
  if (m_foldLines) {
    return FoldHeaderLine(line, m_foldLinesLength);
  }
  return {TrimRight(line)};
}

void TIdHeaderList::AddValue(std::string_view name, std::string_view value) {
  if (name.empty() || value.empty()) {
    return;
  }
  for (std::string& line : ComposeLines(name, value)) {
    m_lines.push_back(std::move(line));
  }
}

void TIdHeaderList::SetValue(std::string_view name, std::string_view value) {
  int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) {
      const auto first = m_lines.begin() + index;
      m_lines.erase(first, first + 1 + ContinuationCount(index));
    }
    return;
  }
  if (index < 0) {
    m_lines.emplace_back();
    index = Count() - 1;
  }
  // The old continuation lines belong to the old value: left in place they would be read back
  // as part of the new one.
  const auto first = m_lines.begin() + index;
  m_lines.erase(first, first + 1 + ContinuationCount(index));
  std::vector<std::string> lines = ComposeLines(name, value);
  m_lines.insert(m_lines.begin() + index, lines.begin(), lines.end());
}

void TIdHeaderList::SetParam(std::string_view name, std::string_view param,
                             std::string_view value) {
  SetValue(name, ReplaceHeaderSubItem(GetValue(name), param, value, ParamQuoteType(name)));
}

void TIdHeaderList::SetAllParams(std::string_view name, std::string_view params) {
  if (IndexOfName(name) < 0) {
    return;
  }
  std::string value = ExtractHeaderItem(GetValue(name));
  const std::string trimmedParams = Trim(params);
  if (!trimmedParams.empty()) {
    value += "; " + trimmedParams;
  }
  SetValue(name, value);
}

void TIdHeaderList::AddStdValues(const std::vector<std::string>& source) {
  for (const std::string& item : source) {
    const std::size_t pos = item.find('=');
    if (pos != std::string::npos) {
      AddValue(std::string_view(item).substr(0, pos), std::string_view(item).substr(pos + 1));
    }
  }
}

void TIdHeaderList::AddStrings(const TIdHeaderList& source) {
  // Copy first: source may be this list.
  const std::vector<std::string> lines = source.m_lines;
  m_lines.insert(m_lines.end(), lines.begin(), lines.end());
}

void TIdHeaderList::AddStrings(const std::vector<std::string>& source) {
  AddStdValues(source);
}

}  // namespace kv::http
