#pragma once

#include "http/Forward.h"

namespace kv::http {

// Receives the authentications that completed all their steps when the client's connection
// closes, so a caller can keep the credentials that worked for a URL.
class TIdAuthenticationManager {
 public:
  virtual ~TIdAuthenticationManager() = default;
  virtual void AddAuthentication(const TIdAuthentication& authentication, const TIdURI& uri) = 0;
};

}  // namespace kv::http
