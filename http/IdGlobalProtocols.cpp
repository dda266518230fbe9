#include "http/IdGlobalProtocols.h"

#include <limits>

namespace kv::http {

namespace {

constexpr char kDel = 0x7F;

// The separators of each quoting rule besides the control characters, space and DEL.
std::string_view SeparatorsOf(TIdHeaderQuotingType quoteType) {
  switch (quoteType) {
    case TIdHeaderQuotingType::QuotePlain:
      return ";";
    case TIdHeaderQuotingType::QuoteRFC822:
      return "()<>@,;:\\\".[]";
    case TIdHeaderQuotingType::QuoteMIME:
      return "()<>@,;:\\\"/[]?=";
    case TIdHeaderQuotingType::QuoteHTTP:
      return "()<>@,;:\\\"/[]?={} \t";
  }
  return ";";
}

bool IsControlOrSpace(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= static_cast<unsigned char>(' ') || c == kDel;
}

// True when c ends an unquoted parameter value under the quoting type.
bool EndsUnquotedValue(char c, TIdHeaderQuotingType quoteType) {
  return IsControlOrSpace(c) || SeparatorsOf(quoteType).find(c) != std::string_view::npos;
}

bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = ToLowerAscii(c);
  }
  return result;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = ToUpperAscii(c);
  }
  return result;
}

bool TextIsSame(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) {
      return false;
    }
  }
  return true;
}

bool TextStartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && TextIsSame(text.substr(0, prefix.size()), prefix);
}

bool TextEndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         TextIsSame(text.substr(text.size() - suffix.size()), suffix);
}

std::size_t TextPos(std::string_view text, std::string_view sub, std::size_t start) {
  if (start > text.size() || sub.size() > text.size() - start) {
    return std::string::npos;
  }
  for (std::size_t i = start; i + sub.size() <= text.size(); ++i) {
    if (TextIsSame(text.substr(i, sub.size()), sub)) {
      return i;
    }
  }
  return std::string::npos;
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= static_cast<unsigned char>(' ');
}

std::string TrimLeft(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) {
    ++first;
  }
  return std::string(text.substr(first));
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) {
    --end;
  }
  return std::string(text.substr(0, end));
}

std::string Trim(std::string_view text) {
  return TrimLeft(TrimRight(text));
}

std::string Fetch(std::string& text, std::string_view delimiter, bool deleteDelimiter,
                  bool caseSensitive) {
  const std::size_t pos = delimiter.empty() ? std::string::npos
                          : caseSensitive   ? text.find(delimiter)
                                            : TextPos(text, delimiter);
  if (pos == std::string::npos) {
    std::string result;
    result.swap(text);
    return result;
  }
  std::string result = text.substr(0, pos);
  text.erase(0, deleteDelimiter ? pos + delimiter.size() : pos);
  return result;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos == text.size()) {
    return false;
  }
  // Accumulate as a negative number so INT64_MIN fits; overflow is detected before it happens.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t accumulated = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') {
      return false;
    }
    const int digit = c - '0';
    if (accumulated < (kMin + digit) / 10) {
      return false;
    }
    accumulated = accumulated * 10 - digit;
  }
  if (!negative) {
    if (accumulated == kMin) {
      return false;
    }
    accumulated = -accumulated;
  }
  value = accumulated;
  return true;
}

int64_t StrToInt64Def(std::string_view text, int64_t defaultValue) {
  int64_t value = 0;
  return TryStrToInt64(text, value) ? value : defaultValue;
}

int32_t StrToIntDef(std::string_view text, int32_t defaultValue) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    return defaultValue;
  }
  return static_cast<int32_t>(value);
}

std::string ExtractHeaderItem(std::string_view headerValue) {
  return Trim(headerValue.substr(0, headerValue.find(';')));
}

std::string MediaTypeOf(std::string_view headerValue) {
  const std::string item = ExtractHeaderItem(headerValue);
  return Trim(std::string_view(item).substr(0, item.find('/')));
}

std::string MediaSubTypeOf(std::string_view headerValue) {
  const std::string item = ExtractHeaderItem(headerValue);
  const std::size_t slash = item.find('/');
  return slash == std::string::npos ? std::string()
                                    : Trim(std::string_view(item).substr(slash + 1));
}

bool IsHeaderMediaType(std::string_view headerValue, std::string_view mediaType) {
  if (mediaType.find('/') == std::string_view::npos) {
    return TextIsSame(MediaTypeOf(headerValue), mediaType);
  }
  return TextIsSame(MediaTypeOf(headerValue) + "/" + MediaSubTypeOf(headerValue), mediaType);
}

bool IsHeaderMediaTypes(std::string_view headerValue, const std::vector<std::string>& mediaTypes) {
  for (const std::string& mediaType : mediaTypes) {
    if (IsHeaderMediaType(headerValue, mediaType)) {
      return true;
    }
  }
  return false;
}

std::vector<THeaderSubItem> SplitHeaderSubItems(std::string_view headerValue,
                                                TIdHeaderQuotingType quoteType) {
  std::vector<THeaderSubItem> items;
  const std::size_t firstSemicolon = headerValue.find(';');
  if (firstSemicolon == std::string_view::npos) {
    return items;
  }
  const std::string_view text = headerValue.substr(firstSemicolon + 1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsBlank(text[pos])) {
      ++pos;
    }
    // The name runs to "=", or to ";" for an item without a value.
    const std::size_t nameEnd = text.find_first_of("=;", pos);
    THeaderSubItem item;
    item.Name =
        Trim(text.substr(pos, nameEnd == std::string_view::npos ? text.npos : nameEnd - pos));
    if (nameEnd == std::string_view::npos || text[nameEnd] == ';') {
      pos = nameEnd == std::string_view::npos ? text.size() : nameEnd + 1;
      continue;  // no value: dropped
    }
    pos = nameEnd + 1;
    while (pos < text.size() && IsSpaceOrTab(text[pos])) {
      ++pos;
    }
    if (pos < text.size() && text[pos] == '"') {
      item.Quoted = true;
      ++pos;
      while (pos < text.size() && text[pos] != '"') {
        if (text[pos] == '\\') {
          ++pos;  // the backslash removes itself; one at the very end keeps nothing
          if (pos == text.size()) {
            break;
          }
        }
        item.Value += text[pos];
        ++pos;
      }
      if (pos < text.size()) {
        ++pos;  // closing quote
      }
    } else {
      const std::size_t start = pos;
      while (pos < text.size() && !EndsUnquotedValue(text[pos], quoteType)) {
        ++pos;
      }
      item.Value = std::string(text.substr(start, pos - start));
    }
    // Whatever follows the value up to the next ";" is not part of it.
    const std::size_t next = text.find(';', pos);
    pos = next == std::string_view::npos ? text.size() : next + 1;
    if (item.Name.empty() || (!item.Quoted && item.Value.empty())) {
      continue;
    }
    items.push_back(std::move(item));
  }
  return items;
}

std::string ExtractHeaderSubItem(std::string_view headerValue, std::string_view subItem,
                                 TIdHeaderQuotingType quoteType) {
  for (THeaderSubItem& item : SplitHeaderSubItems(headerValue, quoteType)) {
    if (TextIsSame(item.Name, subItem)) {
      return std::move(item.Value);
    }
  }
  return {};
}

bool HeaderSubItemNeedsQuotes(std::string_view value, TIdHeaderQuotingType quoteType) {
  if (value.empty()) {
    return true;
  }
  for (char c : value) {
    // A double quote or backslash always needs the quoted form, whatever the rule.
    if (EndsUnquotedValue(c, quoteType) || c == '"' || c == '\\') {
      return true;
    }
  }
  return false;
}

std::string QuoteHeaderSubItemValue(std::string_view value, TIdHeaderQuotingType quoteType,
                                    bool forceQuotes) {
  if (!forceQuotes && !HeaderSubItemNeedsQuotes(value, quoteType)) {
    return std::string(value);
  }
  std::string result = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') {
      result += '\\';
    }
    result += c;
  }
  result += '"';
  return result;
}

std::string ReplaceHeaderSubItem(std::string_view headerValue, std::string_view subItem,
                                 std::string_view value, TIdHeaderQuotingType quoteType) {
  std::vector<THeaderSubItem> items = SplitHeaderSubItems(headerValue, quoteType);
  std::string result = ExtractHeaderItem(headerValue);
  bool replaced = false;
  for (const THeaderSubItem& item : items) {
    if (TextIsSame(item.Name, subItem)) {
      if (!replaced && !value.empty()) {
        result += "; " + std::string(subItem) + "=" + QuoteHeaderSubItemValue(value, quoteType);
      }
      replaced = true;
      continue;
    }
    result += "; " + item.Name + "=" + QuoteHeaderSubItemValue(item.Value, quoteType);
  }
  if (!replaced && !value.empty()) {
    result += "; " + std::string(subItem) + "=" + QuoteHeaderSubItemValue(value, quoteType);
  }
  return result;
}

}  // namespace kv::http
