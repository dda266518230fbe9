#include "http/TIdBasicAuthentication.h"

#include "http/IdBase64.h"

namespace kv::http {

std::unique_ptr<TIdAuthentication> TIdBasicAuthentication::Create() {
  return std::make_unique<TIdBasicAuthentication>();
}

std::string TIdBasicAuthentication::Authentication() {
  if (m_answerReady) {
    m_answerReady = false;
    m_currentStep = 1;
  }
  return "Basic " + EncodeBase64(Username() + ":" + Password());
}

TIdAuthWhatsNext TIdBasicAuthentication::DoNext() {
  if (m_currentStep >= Steps()) {
    // Challenged again after sending credentials: they were refused. Start over, so that the
    // program is asked for others and the next answer sends them.
    Reset();
    return TIdAuthWhatsNext::wnAskTheProgram;
  }
  if (Username().empty()) {
    return TIdAuthWhatsNext::wnAskTheProgram;
  }
  m_answerReady = true;
  return TIdAuthWhatsNext::wnDoRequest;
}

}  // namespace kv::http
