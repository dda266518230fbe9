#pragma once

#include <memory>
#include <string>

#include "http/TIdAuthentication.h"

namespace kv::http {

// "NTLM" without the platform's integrated security layer. Answering the server's challenge
// needs the full NTLM message exchange, which this client does not implement: the scheme asks
// the program for a user name like the others, and once it has one it gives up (wnFail), so
// the 401 reaches the caller instead of a request that could never succeed.
class TIdNTLMAuthentication : public TIdAuthentication {
 public:
  static std::unique_ptr<TIdAuthentication> Create();

  std::string SchemeName() const override { return "NTLM"; }
  // Nothing is ever sent.
  std::string Authentication() override { return {}; }
  int Steps() const override { return 3; }

 protected:
  TIdAuthWhatsNext DoNext() override;
};

}  // namespace kv::http
