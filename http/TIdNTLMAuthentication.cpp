#include "http/TIdNTLMAuthentication.h"

namespace kv::http {

std::unique_ptr<TIdAuthentication> TIdNTLMAuthentication::Create() {
  return std::make_unique<TIdNTLMAuthentication>();
}

TIdAuthWhatsNext TIdNTLMAuthentication::DoNext() {
  if (Username().empty()) {
    return TIdAuthWhatsNext::wnAskTheProgram;
  }
  // The message exchange is not implemented; a request now would only be refused again.
  return TIdAuthWhatsNext::wnFail;
}

}  // namespace kv::http
