#include "http/TIdURI.h"

#include "http/IdGlobalProtocols.h"

namespace kv::http {

namespace {

constexpr std::size_t npos = std::string::npos;

// The port a scheme uses when the URL names none; such a port is left out when rebuilding.
bool IsDefaultPort(const std::string& protocol, const std::string& port) {
  return (TextIsSame(protocol, "HTTP") && port == "80") ||
         (TextIsSame(protocol, "HTTPS") && port == "443") ||
         (TextIsSame(protocol, "FTP") && port == "21");
}

// Splits the query and the fragment off rest. The fragment starts at the first "#" unless a "?"
// comes before it; a "?" inside the fragment is part of the fragment.
void SplitParamsAndBookmark(std::string& rest, std::string& params, std::string& bookmark) {
  const std::size_t question = rest.find('?');
  const std::size_t hash = rest.find('#');
  if (question != npos && (hash == npos || question < hash)) {
    params = rest.substr(question + 1);
    rest.erase(question);
    const std::size_t paramsHash = params.find('#');
    if (paramsHash != npos) {
      bookmark = params.substr(paramsHash + 1);
      params.erase(paramsHash);
    }
  } else if (hash != npos) {
    bookmark = rest.substr(hash + 1);
    rest.erase(hash);
  }
}

}  // namespace

TIdURI::TIdURI(const std::string& uri) {
  if (!uri.empty()) {
    SetURI(uri);
  }
}

void TIdURI::NormalizePath(std::string& uri) {
  // Only the part in front of the query and the fragment is a path; the scheme in front of the
  // first ":" is left alone, and a ":" inside the query is no scheme.
  std::size_t end = uri.find_first_of("?#");
  if (end == npos) {
    end = uri.size();
  }
  const std::size_t colon = uri.find(':');
  const std::size_t start = (colon != npos && colon < end) ? colon + 1 : 0;
  for (std::size_t i = start; i < end; ++i) {
    if (uri[i] == '\\') {
      uri[i] = '/';
    }
  }
}

void TIdURI::SetURI(const std::string& uri) {
  m_uri = uri;
  m_protocol.clear();
  m_username.clear();
  m_password.clear();
  m_host.clear();
  m_port.clear();
  m_path.clear();
  m_document.clear();
  m_params.clear();
  m_bookmark.clear();
  m_ipVersion = kv::net::TIdIPVersion::Id_IPv4;

  std::string rest = uri;
  NormalizePath(rest);
  const std::size_t schemeEnd = rest.find("://");
  if (schemeEnd == npos) {
    SplitParamsAndBookmark(rest, m_params, m_bookmark);
    const std::size_t lastSlash = rest.rfind('/');
    if (lastSlash != npos) {
      m_path = rest.substr(0, lastSlash + 1);
      rest.erase(0, lastSlash + 1);
    }
    m_document = rest;
    return;
  }

  m_protocol = rest.substr(0, schemeEnd);
  rest.erase(0, schemeEnd + 3);
  SplitParamsAndBookmark(rest, m_params, m_bookmark);

  std::string authority;
  const std::size_t slash = rest.find('/');
  if (slash == npos) {
    authority.swap(rest);
  } else {
    authority = rest.substr(0, slash);
    rest.erase(0, slash + 1);
  }

  const std::size_t at = authority.rfind('@');
  if (at != npos) {
    const std::string userInfo = authority.substr(0, at);
    authority.erase(0, at + 1);
    const std::size_t colon = userInfo.find(':');
    m_username = userInfo.substr(0, colon);
    m_password = colon == npos ? std::string() : userInfo.substr(colon + 1);
    if (m_username.empty()) {
      m_password.clear();
    }
  }

  const std::size_t open = authority.find('[');
  const std::size_t close = open == npos ? npos : authority.find(']', open + 1);
  std::size_t portColon = npos;
  if (close != npos) {
    m_host = authority.substr(open + 1, close - open - 1);
    m_ipVersion = kv::net::TIdIPVersion::Id_IPv6;
    portColon = authority.find(':', close + 1);
  } else {
    portColon = authority.find(':');
    m_host = authority.substr(0, portColon);
  }
  m_port = portColon == npos ? std::string() : authority.substr(portColon + 1);

  const std::size_t lastSlash = rest.rfind('/');
  if (lastSlash != npos) {
    m_path = '/' + rest.substr(0, lastSlash + 1);
    rest.erase(0, lastSlash + 1);
  } else {
    m_path.assign(1, '/');
  }
  m_document = rest;
}

std::string TIdURI::URI() {
  m_uri = GetFullURI({TIdURIOptionalFields::ofAuthInfo, TIdURIOptionalFields::ofBookmark});
  return GetFullURI({});
}

std::string TIdURI::GetFullURI(TIdURIOptionalFieldsSet optionalFields) const {
  if (m_protocol.empty()) {
    throw EIdURIException("Protocol field is empty");
  }
  if (m_host.empty()) {
    throw EIdURIException("Host field is empty");
  }
  std::string result = m_protocol + "://";
  if (optionalFields.Contains(TIdURIOptionalFields::ofAuthInfo) && !m_username.empty()) {
    result += m_username;
    if (!m_password.empty()) {
      result += ":" + m_password;
    }
    result += "@";
  }
  if (m_ipVersion == kv::net::TIdIPVersion::Id_IPv6) {
    result += "[" + m_host + "]";
  } else {
    result += m_host;
  }
  if (!m_port.empty() && !IsDefaultPort(m_protocol, m_port)) {
    result += ":" + m_port;
  }
  result += GetPathAndParams();
  if (optionalFields.Contains(TIdURIOptionalFields::ofBookmark) && !m_bookmark.empty()) {
    result += "#" + m_bookmark;
  }
  return result;
}

std::string TIdURI::GetPathAndParams() const {
  std::string result = m_path + m_document;
  if (!m_params.empty()) {
    result += "?" + m_params;
  }
  return result;
}

std::string TIdURI::MergePath(const std::string& base, const std::string& path) {
  if (!path.empty() && path[0] == '/') {
    return path;
  }
  const bool keepTrailing = path.empty() || path.back() == '/';
  std::string work = base;
  if (!work.empty() && work.back() != '/') {
    work += '/';
  }
  work += path;

  std::string result;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const char c = work[i];
    if (c == '/') {
      if (i == 0) {
        result.assign(1, '/');
      } else if (result.empty() || result.back() != '/') {
        result += '/';  // runs of "/" collapse
      }
      continue;
    }
    // ".." as a whole segment goes up one directory; "..name" is an ordinary file name.
    const bool parentSegment = c == '.' && !result.empty() && result.back() == '/' &&
                               i + 1 < work.size() && work[i + 1] == '.' &&
                               (i + 2 == work.size() || work[i + 2] == '/');
    if (parentSegment) {
      // Going up from the root stays at the root rather than leaving an empty path.
      const bool absolute = result[0] == '/';
      result.pop_back();
      while (!result.empty() && result.back() != '/') {
        result.pop_back();
      }
      if (result.empty() && absolute) {
        result.assign(1, '/');
      }
      ++i;
      continue;
    }
    result += c;
  }
  if (result != "/" && !result.empty() && result.back() == '/' && !keepTrailing) {
    result.pop_back();
  }
  return result;
}

}  // namespace kv::http
