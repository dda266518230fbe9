#include "http/TIdBasicAuthentication.h"

#include "http/IdBase64.h"

namespace kv::http {

std::unique_ptr<TIdAuthentication> TIdBasicAuthentication::Create() {
  return std::make_unique<TIdBasicAuthentication>();
}

std::string TIdBasicAuthentication::Authentication() {
  return "Basic " + EncodeBase64(Username() + ":" + Password());
}

TIdAuthWhatsNext TIdBasicAuthentication::DoNext() {
  if (m_currentStep >= Steps()) {
    // Challenged again after sending credentials: they were refused. Start over, so that the
    // program is asked for others and the next answer sends them.
    m_currentStep = 0;
    return TIdAuthWhatsNext::wnAskTheProgram;
  }
  if (Username().empty()) {
    return TIdAuthWhatsNext::wnAskTheProgram;
  }
  m_currentStep = 1;
  return TIdAuthWhatsNext::wnDoRequest;
}

}  // namespace kv::http
