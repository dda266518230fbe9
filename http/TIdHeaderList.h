#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/Forward.h"
#include "http/IdGlobalProtocols.h"
#include "net/EIdException.h"

namespace kv::http {

// An index outside the list; the message is "List index out of bounds (%d)".
using kv::net::EIdException;
KV_DECLARE_EXCEPTION(EIdHeaderListIndexError, EIdException);

// The ordered store of raw header lines. Each item is one physical line exactly as received or
// composed (terminator removed); a folded header occupies several items. Names compare ignoring
// case (ASCII). No operation fails on a malformed line: a line without the separator has an
// empty name and is never found by name; an absent header reads as an empty value.
//
// A plain name=value list (AddStdValues, ConvertToStdValues) is a std::vector of "name=value".
class TIdHeaderList {
 public:
  static constexpr int32_t kDefaultFoldLinesLength = 78;
  static constexpr int32_t kHTTPFoldLinesLength = 2147483647;

  explicit TIdHeaderList(TIdHeaderQuotingType quoteType);

  // ---- the list of lines ----
  int Count() const { return static_cast<int>(m_lines.size()); }
  // Index access raises EIdHeaderListIndexError outside 0..Count()-1.
  const std::string& operator[](int index) const { return Strings(index); }
  const std::string& Strings(int index) const;
  void SetStrings(int index, const std::string& line);
  const std::vector<std::string>& Lines() const { return m_lines; }
  void Add(const std::string& line);
  // index may be Count() (append).
  void Insert(int index, const std::string& line);
  void Delete(int index);
  void Clear() { m_lines.clear(); }
  // Every line followed by CR LF.
  std::string Text() const;
  // Replaces the lines by text split at LF (a CR in front of it is dropped); a final line
  // without terminator counts, a final terminator adds no empty line.
  void SetText(std::string_view text);

  // ---- settings ----
  const std::string& NameValueSeparator() const { return m_nameValueSeparator; }
  void SetNameValueSeparator(const std::string& separator) { m_nameValueSeparator = separator; }
  bool UnfoldLines() const { return m_unfoldLines; }
  void SetUnfoldLines(bool value) { m_unfoldLines = value; }
  bool FoldLines() const { return m_foldLines; }
  void SetFoldLines(bool value) { m_foldLines = value; }
  int32_t FoldLinesLength() const { return m_foldLinesLength; }
  void SetFoldLinesLength(int32_t value) { m_foldLinesLength = value; }
  TIdHeaderQuotingType QuoteType() const { return m_quoteType; }
  void SetQuoteType(TIdHeaderQuotingType value) { m_quoteType = value; }

  // ---- look-ups ----
  // Text of the line in front of the first separator (":" for ": "), not trimmed; empty when
  // the line has none.
  std::string GetName(int index) const;
  std::string Names(int index) const { return GetName(index); }
  // First line whose name equals name ignoring case, -1 when none (an empty name never matches).
  int IndexOfName(std::string_view name) const;
  // Value of the first header of that name, unfolded and trimmed; empty when absent.
  std::string GetValue(std::string_view name) const;
  std::string Values(std::string_view name) const { return GetValue(name); }
  // Appends the value of every header of that name, in order, as a line of destination.
  // Nothing happens when destination is null.
  void Extract(std::string_view name, TIdHeaderList* destination) const;
  void Extract(std::string_view name, std::vector<std::string>* destination) const;
  std::vector<std::string> Extract(std::string_view name) const;
  // One parameter of the header's value (empty when absent), with the quoting-type rule.
  std::string GetParam(std::string_view name, std::string_view param) const;
  // The value with everything up to its first ";" removed, trimmed.
  std::string GetAllParams(std::string_view name) const;
  // Each logical header becomes one "name=value" item of destination (unfolded value).
  void ConvertToStdValues(std::vector<std::string>& destination) const;

  // ---- writers ----
  // Appends name + separator + value (folded, right-trimmed) when both are non-empty.
  void AddValue(std::string_view name, std::string_view value);
  // Replaces the first header of that name in place (with its continuation lines), appends it
  // when absent, deletes it (with its continuation lines) when value is empty.
  void SetValue(std::string_view name, std::string_view value);
  // Replaces, adds or (empty value) removes one parameter of the header's value. When the header
  // is absent and value is not empty, the header is added as "; param=value".
  void SetParam(std::string_view name, std::string_view param, std::string_view value);
  // Keeps the value in front of its first ";" and appends "; " + params when params is not
  // empty. Does nothing when the header is absent.
  void SetAllParams(std::string_view name, std::string_view params);
  // Adds each "name=value" item as a header through AddValue; an item without "=" is skipped.
  void AddStdValues(const std::vector<std::string>& source);
  // Copies the lines of a header list unchanged; a plain list goes through AddStdValues.
  void AddStrings(const TIdHeaderList& source);
  void AddStrings(const std::vector<std::string>& source);

 private:
  // The separator searched on reading: the right-trimmed NameValueSeparator.
  std::string LookupSeparator() const;
  bool IsContinuationLine(int index) const;
  // Value of the logical header that starts at index; index then stands after its last
  // continuation line.
  std::string ReadLogicalValue(int& index) const;
  // Number of continuation lines that follow index (only when lines unfold on reading).
  int ContinuationCount(int index) const;
  // name + separator + value, split into right-trimmed lines when folding is on.
  std::vector<std::string> ComposeLines(std::string_view name, std::string_view value) const;
  // The quoting rule used for the parameters of the named header.
  TIdHeaderQuotingType ParamQuoteType(std::string_view name) const;
  void CheckIndex(int index, int limit) const;

  std::vector<std::string> m_lines;
  std::string m_nameValueSeparator = ": ";
  bool m_unfoldLines = true;
  bool m_foldLines = true;
  int32_t m_foldLinesLength = kDefaultFoldLinesLength;
  TIdHeaderQuotingType m_quoteType = TIdHeaderQuotingType::QuoteHTTP;
};

// Splits line into right-trimmed lines of at most width characters where possible, breaking at
// a tab, space or comma (a comma stays on the line in front); every continuation line starts
// with a space. A part without a break point stays whole.
std::vector<std::string> FoldHeaderLine(std::string_view line, int32_t width);

}  // namespace kv::http
