#include "http/TIdAuthentication.h"

#include <map>
#include <mutex>
#include <utility>

#include "http/IdGlobalProtocols.h"
#include "http/TIdBasicAuthentication.h"
#include "http/TIdDigestAuthentication.h"
#include "http/TIdHeaderList.h"
#include "http/TIdNTLMAuthentication.h"

namespace kv::http {

TIdAuthentication::TIdAuthentication()
    : m_params(std::make_unique<TIdHeaderList>(TIdHeaderQuotingType::QuoteHTTP)),
      m_authParams(std::make_unique<TIdHeaderList>(TIdHeaderQuotingType::QuoteHTTP)) {}

TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::SetAuthParams(const TIdHeaderList& challenges) {
  if (&challenges == m_authParams.get()) {
    return;
  }
  SetAuthParams(challenges.Lines());
}

void TIdAuthentication::SetAuthParams(const std::vector<std::string>& challenges) {
  m_authParams->Clear();
  for (const std::string& line : challenges) {
    m_authParams->Add(line);
  }
}

void TIdAuthentication::SetRequest(const std::string& method, const std::string& uri) {
  m_method = method;
  m_uri = uri;
}

void TIdAuthentication::Reset() {
  m_currentStep = 0;
}

std::string TIdAuthentication::FindChallenge(bool& found) const {
  const std::string scheme = SchemeName();
  for (const std::string& line : m_authParams->Lines()) {
    const std::string challenge = Trim(line);
    const size_t space = challenge.find(' ');
    const std::string name = challenge.substr(0, space);
    if (TextIsSame(name, scheme)) {
      found = true;
      return space == std::string::npos ? std::string() : Trim(challenge.substr(space + 1));
    }
  }
  found = false;
  return {};
}

namespace {

// Case-insensitive ordering, so the registry finds "basic" under "Basic".
struct TCaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return LowerCase(a) < LowerCase(b);
  }
};

struct TRegistry {
  TRegistry() {
    classes["Basic"] = &TIdBasicAuthentication::Create;
    classes["Digest"] = &TIdDigestAuthentication::Create;
    classes["NTLM"] = &TIdNTLMAuthentication::Create;
  }

  std::mutex lock;
  std::map<std::string, TIdAuthenticationClass, TCaseInsensitiveLess> classes;
};

// Built on first use, with the schemes this client always has, so the registry is complete
// whatever order static objects are initialised in.
TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

void RegisterAuthenticationMethod(const std::string& methodName, TIdAuthenticationClass authClass) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  if (authClass == nullptr) {
    registry.classes.erase(methodName);
    return;
  }
  registry.classes.insert_or_assign(methodName, authClass);
}

void UnregisterAuthenticationMethod(const std::string& methodName) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  registry.classes.erase(methodName);
}

TIdAuthenticationClass FindAuthClass(const std::string& authName) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  const auto found = registry.classes.find(authName);
  return found == registry.classes.end() ? nullptr : found->second;
}

}  // namespace kv::http
