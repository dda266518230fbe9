#pragma once

#include <memory>
#include <string>

#include "http/TIdAuthentication.h"

namespace kv::http {

// "Basic": the user name and password, joined by ":" and Base64-encoded, in every request.
class TIdBasicAuthentication : public TIdAuthentication {
 public:
  static std::unique_ptr<TIdAuthentication> Create();

  std::string SchemeName() const override { return "Basic"; }
  // "Basic " + Base64(user ":" password).
  std::string Authentication() override;
  int Steps() const override { return 1; }

 protected:
  // First step: without a user name the program must supply one; with one, send the request.
  // A challenge after the credentials were sent means they were refused: ask the program again.
  TIdAuthWhatsNext DoNext() override;
};

}  // namespace kv::http
