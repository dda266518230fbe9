#pragma once

#include <initializer_list>
#include <string>

#include "http/Forward.h"
#include "net/EIdException.h"
#include "net/TIdIPVersion.h"

namespace kv::http {

// Rebuilding a URL without protocol ("Protocol field is empty") or host ("Host field is empty").
using kv::net::EIdException;
KV_DECLARE_EXCEPTION(EIdURIException, EIdException);

// The optional parts GetFullURI may include.
enum class TIdURIOptionalFields { ofAuthInfo, ofBookmark };

// A small set of TIdURIOptionalFields.
class TIdURIOptionalFieldsSet {
 public:
  constexpr TIdURIOptionalFieldsSet() = default;
  constexpr TIdURIOptionalFieldsSet(std::initializer_list<TIdURIOptionalFields> fields) {
    for (TIdURIOptionalFields field : fields) {
      Include(field);
    }
  }
  constexpr bool Contains(TIdURIOptionalFields field) const { return (m_bits & Bit(field)) != 0; }
  constexpr void Include(TIdURIOptionalFields field) { m_bits |= Bit(field); }
  constexpr void Exclude(TIdURIOptionalFields field) { m_bits &= ~Bit(field); }
  constexpr bool Empty() const { return m_bits == 0; }
  friend constexpr bool operator==(TIdURIOptionalFieldsSet, TIdURIOptionalFieldsSet) = default;

 private:
  static constexpr unsigned Bit(TIdURIOptionalFields field) {
    return 1u << static_cast<unsigned>(field);
  }
  unsigned m_bits = 0;
};

// A URL split into text fields. Nothing is converted to numbers and nothing is decoded or
// encoded; parsing never fails. It is a plain text utility: no connection, no request.
class TIdURI {
 public:
  TIdURI() = default;
  // Parses uri when it is not empty (same as SetURI).
  explicit TIdURI(const std::string& uri);

  const std::string& Protocol() const { return m_protocol; }
  void SetProtocol(const std::string& value) { m_protocol = value; }
  const std::string& Host() const { return m_host; }
  void SetHost(const std::string& value) { m_host = value; }
  const std::string& Port() const { return m_port; }
  void SetPort(const std::string& value) { m_port = value; }
  const std::string& Path() const { return m_path; }
  void SetPath(const std::string& value) { m_path = value; }
  const std::string& Document() const { return m_document; }
  void SetDocument(const std::string& value) { m_document = value; }
  const std::string& Params() const { return m_params; }
  void SetParams(const std::string& value) { m_params = value; }
  const std::string& Bookmark() const { return m_bookmark; }
  void SetBookmark(const std::string& value) { m_bookmark = value; }
  const std::string& Username() const { return m_username; }
  void SetUsername(const std::string& value) { m_username = value; }
  const std::string& Password() const { return m_password; }
  void SetPassword(const std::string& value) { m_password = value; }
  kv::net::TIdIPVersion IPVersion() const { return m_ipVersion; }
  void SetIPVersion(kv::net::TIdIPVersion value) { m_ipVersion = value; }

  // Rebuilds the URL: stores GetFullURI({ofAuthInfo, ofBookmark}) as the URI text and returns
  // GetFullURI({}). Raises EIdURIException when protocol or host is empty.
  std::string URI();
  // Clears every field and parses uri (after NormalizePath).
  void SetURI(const std::string& uri);
  // The URI text as last set or rebuilt, without rebuilding.
  const std::string& URIText() const { return m_uri; }

  // The URL rebuilt from the fields, with the optional parts asked for. A scheme's default port
  // ("80" for HTTP, "443" for HTTPS, "21" for FTP) is left out. Raises EIdURIException
  // "Protocol field is empty" / "Host field is empty".
  std::string GetFullURI(TIdURIOptionalFieldsSet optionalFields = {
                             TIdURIOptionalFields::ofAuthInfo,
                             TIdURIOptionalFields::ofBookmark}) const;
  // Path + Document, then "?" + Params when Params is not empty.
  std::string GetPathAndParams() const;

  // Turns backslashes into slashes between the scheme's ":" (or the start) and the first "?" or
  // "#"; a backslash in the query or fragment stays.
  static void NormalizePath(std::string& uri);
  // path resolved against base ("/" delimited): an absolute path wins, "." and ".." segments of
  // the joined text are resolved, runs of "/" collapse.
  static std::string MergePath(const std::string& base, const std::string& path);

 private:
  std::string m_uri;
  std::string m_protocol;
  std::string m_username;
  std::string m_password;
  std::string m_host;
  std::string m_port;
  std::string m_path;
  std::string m_document;
  std::string m_params;
  std::string m_bookmark;
  kv::net::TIdIPVersion m_ipVersion = kv::net::TIdIPVersion::Id_IPv4;
};

}  // namespace kv::http
