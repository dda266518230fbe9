#include "http/TIdEntityHeaderInfo.h"

#include <string>
#include <vector>

#include "http/IdGlobalProtocols.h"

namespace kv::http {

namespace {

constexpr TIdHeaderQuotingType kQuoting = TIdHeaderQuotingType::QuoteHTTP;

// The charset a text type without a charset parameter is read in.
std::string DefaultTextCharSet(const std::string& contentType) {
  const std::string subType = MediaSubTypeOf(contentType);
  if (TextIsSame(subType, "xml") || TextIsSame(subType, "xml-external-parsed-entity") ||
      TextEndsWith(subType, "+xml")) {
    return "us-ascii";
  }
  return "ISO-8859-1";
}

void SetDateIfPresent(TIdHeaderList& headers, const char* name, TDateTime value) {
  if (value > 0) {
    SetHeaderIfPresent(headers, name, LocalDateTimeToGMT(value));
  }
}

}  // namespace

void SetHeaderIfPresent(TIdHeaderList& headers, const char* name, const std::string& value) {
  if (!value.empty()) {
    headers.SetValue(name, value);
  }
}

int64_t ParseHeaderInt64(const std::string& text) {
  return StrToInt64Def(Trim(text), -1);
}

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
  // Composed header lines are never wrapped.
  m_rawHeaders.SetFoldLinesLength(TIdHeaderList::kHTTPFoldLinesLength);
  m_customHeaders.SetFoldLinesLength(TIdHeaderList::kHTTPFoldLinesLength);
}

void TIdEntityHeaderInfo::SetContentLength(int64_t value) {
  m_contentLength = value;
  m_hasContentLength = value >= 0;
}

void TIdEntityHeaderInfo::SetContentType(const std::string& value) {
  if (value.empty()) {
    m_contentType.clear();
    m_charSet.clear();
    return;
  }
  std::string charSet;
  bool hasCharSet = false;
  std::string rest;
  for (const THeaderSubItem& item : SplitHeaderSubItems(value, kQuoting)) {
    if (!hasCharSet && TextIsSame(item.Name, "charset")) {
      charSet = item.Value;
      hasCharSet = true;
      continue;
    }
    rest += "; " + item.Name + "=" + QuoteHeaderSubItemValue(item.Value, kQuoting, item.Quoted);
  }
  m_contentType = hasCharSet ? ExtractHeaderItem(value) + rest : value;
  if (!hasCharSet && m_charSet.empty() && TextIsSame(MediaTypeOf(m_contentType), "text")) {
    charSet = DefaultTextCharSet(m_contentType);
    hasCharSet = true;
  }
  if (hasCharSet) {
    m_charSet = charSet;
  }
}

void TIdEntityHeaderInfo::Clear() {
  m_rawHeaders.Clear();
  m_cacheControl.clear();
  m_charSet.clear();
  m_connection.clear();
  m_contentVersion.clear();
  m_contentDisposition.clear();
  m_contentEncoding.clear();
  m_contentLanguage.clear();
  m_contentType.clear();
  m_contentRangeUnits.clear();
  m_eTag.clear();
  m_contentLength = -1;
  m_contentRangeStart = -1;
  m_contentRangeEnd = -1;
  m_contentRangeInstanceLength = -1;
  m_date = 0;
  m_expires = 0;
  m_lastModified = 0;
}

void TIdEntityHeaderInfo::ParseRawHeaders() {
  const TIdHeaderList& headers = m_rawHeaders;
  m_cacheControl = headers.GetValue("Cache-control");
  m_connection = headers.GetValue("Connection");
  m_contentVersion = headers.GetValue("Content-Version");
  m_contentDisposition = headers.GetValue("Content-Disposition");
  m_contentEncoding = headers.GetValue("Content-Encoding");
  m_contentLanguage = headers.GetValue("Content-Language");
  SetContentType(headers.GetValue("Content-Type"));
  SetContentLength(ParseHeaderInt64(headers.GetValue("Content-Length")));

  // "bytes 0-99/200": units, then the range, then the instance length.
  m_contentRangeStart = -1;
  m_contentRangeEnd = -1;
  m_contentRangeInstanceLength = -1;
  m_contentRangeUnits.clear();
  std::string range = headers.GetValue("Content-Range");
  if (!range.empty()) {
    m_contentRangeUnits = Fetch(range, " ");
    std::string positions = Fetch(range, "/");
    m_contentRangeInstanceLength = ParseHeaderInt64(Fetch(range, " "));
    m_contentRangeStart = ParseHeaderInt64(Fetch(positions, "-"));
    m_contentRangeEnd = ParseHeaderInt64(positions);
  }

  // A response without a Date header is taken as made now.
  m_date = headers.IndexOfName("Date") < 0 ? Now() : GMTToLocalDateTime(headers.GetValue("Date"));
  m_lastModified = GMTToLocalDateTime(headers.GetValue("Last-Modified"));

  // Expires may be a count of seconds from now; a date that is not a date means "expired".
  const std::string expires = Trim(headers.GetValue("Expires"));
  int64_t seconds = 0;
  if (TryStrToInt64(expires, seconds)) {
    m_expires = seconds < 0 ? 0 : Now() + static_cast<double>(seconds) / 86400.0;
  } else {
    try {
      m_expires = ParseHTTPDate(expires);
    } catch (const EIdHTTPDateError&) {
      m_expires = Now() - kOneSecond;
    }
  }

  m_eTag = headers.GetValue("ETag");
  m_pragma = headers.GetValue("Pragma");
  m_transferEncoding = headers.GetValue("Transfer-Encoding");
}

void TIdEntityHeaderInfo::ComposeRawHeaders() {
  TIdHeaderList& headers = m_rawHeaders;
  headers.Clear();
  SetHeaderIfPresent(headers, "Connection", m_connection);
  SetHeaderIfPresent(headers, "Content-Version", m_contentVersion);
  SetHeaderIfPresent(headers, "Content-Disposition", m_contentDisposition);
  SetHeaderIfPresent(headers, "Content-Encoding", m_contentEncoding);
  SetHeaderIfPresent(headers, "Content-Language", m_contentLanguage);
  if (!m_contentType.empty()) {
    headers.SetValue("Content-Type", m_contentType);
    if (!m_charSet.empty()) {
      headers.SetParam("Content-Type", "charset", m_charSet);
    }
  }
  if (m_contentLength >= 0) {
    headers.SetValue("Content-Length", std::to_string(m_contentLength));
  }
  SetHeaderIfPresent(headers, "Cache-control", m_cacheControl);
  SetDateIfPresent(headers, "Date", m_date);
  SetHeaderIfPresent(headers, "ETag", m_eTag);
  SetDateIfPresent(headers, "Expires", m_expires);
  SetHeaderIfPresent(headers, "Pragma", m_pragma);
  SetHeaderIfPresent(headers, "Transfer-Encoding", m_transferEncoding);
  for (const std::string& line : m_customHeaders.Lines()) {
    headers.Add(line);
  }
}

void TIdEntityHeaderInfo::AssignEntity(const TIdEntityHeaderInfo& source) {
  m_cacheControl = source.m_cacheControl;
  m_rawHeaders = source.m_rawHeaders;
  m_charSet = source.m_charSet;
  m_connection = source.m_connection;
  m_contentDisposition = source.m_contentDisposition;
  m_contentEncoding = source.m_contentEncoding;
  m_contentLanguage = source.m_contentLanguage;
  m_contentLength = source.m_contentLength;
  m_contentRangeEnd = source.m_contentRangeEnd;
  m_contentRangeStart = source.m_contentRangeStart;
  m_contentRangeInstanceLength = source.m_contentRangeInstanceLength;
  m_contentRangeUnits = source.m_contentRangeUnits;
  m_contentType = source.m_contentType;
  m_contentVersion = source.m_contentVersion;
  m_customHeaders = source.m_customHeaders;
  m_date = source.m_date;
  m_expires = source.m_expires;
  m_eTag = source.m_eTag;
  m_lastModified = source.m_lastModified;
  m_pragma = source.m_pragma;
  m_hasContentLength = source.m_hasContentLength;
  m_transferEncoding = source.m_transferEncoding;
}

}  // namespace kv::http
