#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/TIdAuthentication.h"
#include "net/EIdException.h"

namespace kv::http {

using kv::net::EIdException;

KV_DECLARE_EXCEPTION_WITH_TEXT(
    EIdInvalidAlgorithm, EIdException,
    "Unsupported hash algorithm. This implementation supports only MD5 encoding.");

// "Digest" with MD5 or MD5-sess, quality of protection "auth" (or none, for servers that
// offer none). The password never travels; each request carries a hash over the credentials,
// the server's nonce, our client nonce, a request counter, the method and the request target.
class TIdDigestAuthentication : public TIdAuthentication {
 public:
  static std::unique_ptr<TIdAuthentication> Create();

  std::string SchemeName() const override { return "Digest"; }
  // The Digest credential value for Method() and Uri(); empty before a challenge was read.
  // Each call counts one request under the current nonce.
  std::string Authentication() override;
  void Reset() override;
  int Steps() const override { return 1; }

  // The client nonce; a random one is made when none is set (a test fixes it).
  const std::string& CNonce() const { return m_cnonce; }
  void SetCNonce(const std::string& cnonce) { m_cnonce = cnonce; }

  // What the last challenge said.
  const std::string& Realm() const { return m_realm; }
  const std::string& Nonce() const { return m_nonce; }
  const std::string& Opaque() const { return m_opaque; }
  const std::string& Algorithm() const { return m_algorithm; }
  const std::string& Qop() const { return m_qop; }
  uint32_t NonceCount() const { return m_nonceCount; }

 protected:
  // Reads the challenge (EIdInvalidAlgorithm for a hash other than MD5), then: without a user
  // name the program must supply one; with one, send the request. A later challenge marked
  // stale is answered again with the new nonce; any other means the credentials were refused.
  TIdAuthWhatsNext DoNext() override;

 private:
  // False when there is no usable Digest challenge.
  bool ReadChallenge();

  std::string m_realm;
  std::string m_nonce;
  std::string m_opaque;
  std::string m_algorithm;
  std::string m_qop;  // "auth", or empty when the server offered no quality of protection
  bool m_stale = false;
  std::string m_cnonce;
  uint32_t m_nonceCount = 0;
};

}  // namespace kv::http
