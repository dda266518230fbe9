#include "http/TIdDigestAuthentication.h"

#include <cstdio>
#include <random>
#include <utility>
#include <vector>

#include "http/IdGlobalProtocols.h"
#include "http/TIdHashMessageDigest5.h"

namespace kv::http {
namespace {

constexpr size_t kClientNonceBytes = 16;

struct TAuthParam {
  std::string Name;
  std::string Value;
};

// Splits the parameters of a challenge: name=token or name="quoted string" items separated by
// commas, with blanks around them. A backslash in a quoted string keeps the next character.
std::vector<TAuthParam> SplitAuthParams(const std::string& text) {
  std::vector<TAuthParam> params;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    while (i < n && (IsBlank(text[i]) || text[i] == ',')) {
      ++i;
    }
    const size_t nameStart = i;
    while (i < n && text[i] != '=' && text[i] != ',') {
      ++i;
    }
    TAuthParam param{Trim(text.substr(nameStart, i - nameStart)), {}};
    if (i < n && text[i] == '=') {
      ++i;
      while (i < n && IsBlank(text[i])) {
        ++i;
      }
      if (i < n && text[i] == '"') {
        for (++i; i < n && text[i] != '"'; ++i) {
          if (text[i] == '\\' && i + 1 < n) {
            ++i;
          }
          param.Value += text[i];
        }
        ++i;  // the closing quote
        while (i < n && text[i] != ',') {
          ++i;
        }
      } else {
        const size_t valueStart = i;
        while (i < n && text[i] != ',') {
          ++i;
        }
        param.Value = Trim(text.substr(valueStart, i - valueStart));
      }
    }
    if (!param.Name.empty()) {
      params.push_back(std::move(param));
    }
  }
  return params;
}

// value in double quotes, with its quotes and backslashes escaped.
std::string Quoted(const std::string& value) {
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
    }
    quoted += c;
  }
  return quoted + "\"";
}

bool ListContains(const std::string& commaList, const std::string& item) {
  std::string rest = commaList;
  while (!rest.empty()) {
    if (TextIsSame(Trim(Fetch(rest, ",")), item)) {
      return true;
    }
  }
  return false;
}

std::string RandomHex(size_t bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::random_device random;
  std::string hex;
  for (size_t i = 0; i < bytes; ++i) {
    const unsigned byte = random() & 0xff;
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0f];
  }
  return hex;
}

std::string Md5Hex(const std::string& text) {
  return TIdHashMessageDigest5::HashStringAsHex(text);
}

}  // namespace

std::unique_ptr<TIdAuthentication> TIdDigestAuthentication::Create() {
  return std::make_unique<TIdDigestAuthentication>();
}

void TIdDigestAuthentication::Reset() {
  TIdAuthentication::Reset();
  m_realm.clear();
  m_nonce.clear();
  m_opaque.clear();
  m_algorithm.clear();
  m_qop.clear();
  m_stale = false;
  m_nonceCount = 0;
}

bool TIdDigestAuthentication::ReadChallenge() {
  bool found = false;
  const std::string challenge = FindChallenge(found);
  if (!found) {
    return false;
  }
  std::string realm, nonce, opaque, algorithm, qopOptions;
  bool hasQop = false;
  bool stale = false;
  for (const TAuthParam& param : SplitAuthParams(challenge)) {
    if (TextIsSame(param.Name, "realm")) {
      realm = param.Value;
    } else if (TextIsSame(param.Name, "nonce")) {
      nonce = param.Value;
    } else if (TextIsSame(param.Name, "opaque")) {
      opaque = param.Value;
    } else if (TextIsSame(param.Name, "algorithm")) {
      algorithm = param.Value;
    } else if (TextIsSame(param.Name, "qop")) {
      qopOptions = param.Value;
      hasQop = true;
    } else if (TextIsSame(param.Name, "stale")) {
      stale = TextIsSame(param.Value, "true");
    }
  }
  if (!algorithm.empty() && !TextIsSame(algorithm, "MD5") && !TextIsSame(algorithm, "MD5-sess")) {
    throw EIdInvalidAlgorithm();
  }
  // Without a nonce there is nothing to answer; "auth-int" alone would need the request body.
  if (nonce.empty() || (hasQop && !ListContains(qopOptions, "auth"))) {
    return false;
  }
  if (nonce != m_nonce) {
    m_nonceCount = 0;
  }
  m_realm = realm;
  m_nonce = nonce;
  m_opaque = opaque;
  m_algorithm = algorithm;
  m_qop = hasQop ? "auth" : "";
  m_stale = stale;
  return true;
}

TIdAuthWhatsNext TIdDigestAuthentication::DoNext() {
  if (!ReadChallenge()) {
    return TIdAuthWhatsNext::wnFail;
  }
  if (m_currentStep >= Steps()) {
    // Challenged after an answer: a stale nonce only needs the answer again with the new
    // nonce; otherwise the credentials were refused, so start over and ask the program.
    m_currentStep = 0;
    if (m_stale) {
      m_answerReady = true;
      return TIdAuthWhatsNext::wnDoRequest;
    }
    m_answerReady = false;
    return TIdAuthWhatsNext::wnAskTheProgram;
  }
  if (Username().empty()) {
    return TIdAuthWhatsNext::wnAskTheProgram;
  }
  m_answerReady = true;
  return TIdAuthWhatsNext::wnDoRequest;
}

std::string TIdDigestAuthentication::Authentication() {
  if (m_nonce.empty()) {
    return {};
  }
  if (m_answerReady) {
    m_answerReady = false;
    m_currentStep = 1;
  }
  if (m_cnonce.empty()) {
    m_cnonce = RandomHex(kClientNonceBytes);
  }
  std::string ha1 = Md5Hex(Username() + ":" + m_realm + ":" + Password());
  if (TextIsSame(m_algorithm, "MD5-sess")) {
    ha1 = Md5Hex(ha1 + ":" + m_nonce + ":" + m_cnonce);
  }
  const std::string ha2 = Md5Hex(Method() + ":" + Uri());

  std::string nc;
  std::string response;
  if (m_qop.empty()) {
    response = Md5Hex(ha1 + ":" + m_nonce + ":" + ha2);
  } else {
    ++m_nonceCount;
    char buffer[9];
    std::snprintf(buffer, sizeof buffer, "%08x", m_nonceCount);
    nc = buffer;
    response = Md5Hex(ha1 + ":" + m_nonce + ":" + nc + ":" + m_cnonce + ":" + m_qop + ":" + ha2);
  }

  std::string value = "Digest username=" + Quoted(Username()) + ", realm=" + Quoted(m_realm) +
                      ", nonce=" + Quoted(m_nonce) + ", uri=" + Quoted(Uri());
  if (!m_algorithm.empty()) {
    value += ", algorithm=" + m_algorithm;
  }
  value += ", response=" + Quoted(response);
  if (!m_opaque.empty()) {
    value += ", opaque=" + Quoted(m_opaque);
  }
  if (!m_qop.empty()) {
    value += ", qop=" + m_qop + ", nc=" + nc + ", cnonce=" + Quoted(m_cnonce);
  }
  return value;
}

}  // namespace kv::http
