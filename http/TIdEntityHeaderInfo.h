#pragma once

#include <cstdint>
#include <string>

#include "http/IdHTTPDate.h"
#include "http/TIdHeaderList.h"

namespace kv::http {

// The header fields that describe a message body, shared by requests, responses and the
// header fields found in an HTML body. RawHeaders holds the lines as received or composed; the
// typed fields are parsed from it (ParseRawHeaders) or written into it (ComposeRawHeaders).
class TIdEntityHeaderInfo {
 public:
  TIdEntityHeaderInfo();
  virtual ~TIdEntityHeaderInfo() = default;
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

  // Fills the typed fields from RawHeaders.
  virtual void ParseRawHeaders();
  // Rebuilds RawHeaders from the typed fields (empty ones left out), then CustomHeaders.
  virtual void ComposeRawHeaders();
  // Empties RawHeaders and the fields; Pragma, TransferEncoding, HasContentLength and
  // CustomHeaders stay as they are.
  virtual void Clear();

  const std::string& CacheControl() const { return m_cacheControl; }
  void SetCacheControl(const std::string& value) { m_cacheControl = value; }
  TIdHeaderList& RawHeaders() { return m_rawHeaders; }
  const TIdHeaderList& RawHeaders() const { return m_rawHeaders; }
  const std::string& CharSet() const { return m_charSet; }
  void SetCharSet(const std::string& value) { m_charSet = value; }
  const std::string& Connection() const { return m_connection; }
  void SetConnection(const std::string& value) { m_connection = value; }
  const std::string& ContentDisposition() const { return m_contentDisposition; }
  void SetContentDisposition(const std::string& value) { m_contentDisposition = value; }
  const std::string& ContentEncoding() const { return m_contentEncoding; }
  void SetContentEncoding(const std::string& value) { m_contentEncoding = value; }
  const std::string& ContentLanguage() const { return m_contentLanguage; }
  void SetContentLanguage(const std::string& value) { m_contentLanguage = value; }
  int64_t ContentLength() const { return m_contentLength; }
  // Also decides HasContentLength: a length of 0 or more counts as declared.
  void SetContentLength(int64_t value);
  int64_t ContentRangeEnd() const { return m_contentRangeEnd; }
  void SetContentRangeEnd(int64_t value) { m_contentRangeEnd = value; }
  int64_t ContentRangeStart() const { return m_contentRangeStart; }
  void SetContentRangeStart(int64_t value) { m_contentRangeStart = value; }
  int64_t ContentRangeInstanceLength() const { return m_contentRangeInstanceLength; }
  void SetContentRangeInstanceLength(int64_t value) { m_contentRangeInstanceLength = value; }
  const std::string& ContentRangeUnits() const { return m_contentRangeUnits; }
  void SetContentRangeUnits(const std::string& value) { m_contentRangeUnits = value; }
  const std::string& ContentType() const { return m_contentType; }
  // Applies the content-type rule: a charset parameter moves to CharSet, and a text type
  // without one gets its default charset.
  void SetContentType(const std::string& value);
  const std::string& ContentVersion() const { return m_contentVersion; }
  void SetContentVersion(const std::string& value) { m_contentVersion = value; }
  TIdHeaderList& CustomHeaders() { return m_customHeaders; }
  const TIdHeaderList& CustomHeaders() const { return m_customHeaders; }
  TDateTime Date() const { return m_date; }
  void SetDate(TDateTime value) { m_date = value; }
  TDateTime Expires() const { return m_expires; }
  void SetExpires(TDateTime value) { m_expires = value; }
  const std::string& ETag() const { return m_eTag; }
  void SetETag(const std::string& value) { m_eTag = value; }
  TDateTime LastModified() const { return m_lastModified; }
  void SetLastModified(TDateTime value) { m_lastModified = value; }
  const std::string& Pragma() const { return m_pragma; }
  void SetPragma(const std::string& value) { m_pragma = value; }
  bool HasContentLength() const { return m_hasContentLength; }
  const std::string& TransferEncoding() const { return m_transferEncoding; }
  void SetTransferEncoding(const std::string& value) { m_transferEncoding = value; }

 protected:
  // Copies every field (not the lists' owners) from another header object.
  void AssignEntity(const TIdEntityHeaderInfo& source);

 private:
  std::string m_cacheControl;
  TIdHeaderList m_rawHeaders{TIdHeaderQuotingType::QuoteHTTP};
  std::string m_charSet;
  std::string m_connection;
  std::string m_contentDisposition;
  std::string m_contentEncoding;
  std::string m_contentLanguage;
  int64_t m_contentLength = -1;
  int64_t m_contentRangeEnd = -1;
  int64_t m_contentRangeStart = -1;
  int64_t m_contentRangeInstanceLength = -1;
  std::string m_contentRangeUnits;
  std::string m_contentType;
  std::string m_contentVersion;
  TIdHeaderList m_customHeaders{TIdHeaderQuotingType::QuoteHTTP};
  TDateTime m_date = 0;
  TDateTime m_expires = 0;
  std::string m_eTag;
  TDateTime m_lastModified = 0;
  std::string m_pragma;
  bool m_hasContentLength = false;
  std::string m_transferEncoding;
};

// Header field parsing that needs no object, kept apart so it can be exercised on any input.
// Parses a trimmed signed 64-bit decimal number; -1 when the text is not one.
int64_t ParseHeaderInt64(const std::string& text);
// Sets a header line when the value is not empty; composing a head leaves out empty fields.
void SetHeaderIfPresent(TIdHeaderList& headers, const char* name, const std::string& value);

}  // namespace kv::http
