#pragma once

#include <memory>
#include <string>
#include <vector>

#include "http/Forward.h"

namespace kv::http {

// What an authentication scheme wants after one step.
enum class TIdAuthWhatsNext { wnAskTheProgram, wnDoRequest, wnFail };

// A scheme answering a server's (or proxy's) challenge. The client copies the user name and
// password in, hands over the challenge lines (AuthParams), calls Next until the scheme wants
// the request sent, and puts Authentication() into the Authorization line of that request.
class TIdAuthentication {
 public:
  TIdAuthentication();
  virtual ~TIdAuthentication();
  TIdAuthentication(const TIdAuthentication&) = delete;
  TIdAuthentication& operator=(const TIdAuthentication&) = delete;

  // The scheme name as it appears in a challenge ("Basic", "Digest", "NTLM").
  virtual std::string SchemeName() const = 0;

  const std::string& Username() const { return m_username; }
  void SetUsername(const std::string& username) { m_username = username; }
  const std::string& Password() const { return m_password; }
  void SetPassword(const std::string& password) { m_password = password; }

  // Free parameters of the scheme, looked up ignoring case; the client keeps the current
  // credential value here under "Authorization".
  TIdHeaderList& Params() { return *m_params; }
  const TIdHeaderList& Params() const { return *m_params; }
  // The challenge values of the last response (each "Scheme param=value, ..."), one per line.
  TIdHeaderList& AuthParams() { return *m_authParams; }
  const TIdHeaderList& AuthParams() const { return *m_authParams; }
  void SetAuthParams(const TIdHeaderList& challenges);
  void SetAuthParams(const std::vector<std::string>& challenges);

  // The request that the credential value is for; the client sets them before it composes the
  // request head (Digest signs both).
  void SetRequest(const std::string& method, const std::string& uri);
  const std::string& Method() const { return m_method; }
  const std::string& Uri() const { return m_uri; }

  // The credential value for the Authorization line ("Basic dXNlcjpwdw=="); empty when the
  // scheme has nothing to send yet.
  virtual std::string Authentication() = 0;
  // One step of the scheme.
  TIdAuthWhatsNext Next() { return DoNext(); }
  // Back to the first step, as if no challenge had been seen.
  virtual void Reset();

  // Steps the scheme needs to finish (0 when it cannot tell) and the steps taken so far; the
  // client hands a finished scheme on when the connection closes. A step counts as taken once
  // its answer has been produced for a request, not when Next decides to send it: a connection
  // that closes between the challenge and the retry must not end the exchange.
  virtual int Steps() const { return 0; }
  int CurrentStep() const { return m_currentStep; }
  bool AllStepsDone() const { return Steps() > 0 && m_currentStep >= Steps(); }

 protected:
  virtual TIdAuthWhatsNext DoNext() = 0;
  // The challenge of this scheme among AuthParams: the text after "Scheme ", or the empty text
  // when the line is just the scheme name; found reports whether there was one at all.
  std::string FindChallenge(bool& found) const;

  int m_currentStep = 0;
  // Set when Next answered wnDoRequest; the next credential value produced then completes the
  // step.
  bool m_answerReady = false;

 private:
  std::string m_username;
  std::string m_password;
  std::string m_method;
  std::string m_uri;
  std::unique_ptr<TIdHeaderList> m_params;
  std::unique_ptr<TIdHeaderList> m_authParams;
};

// A scheme class: makes a fresh scheme object. Comparable and nullable, so a hook can swap it.
using TIdAuthenticationClass = std::unique_ptr<TIdAuthentication> (*)();

// The process-wide scheme registry; names are looked up ignoring case. "Basic", "Digest" and
// "NTLM" are registered from the start; this platform has no integrated scheme, so there is no
// "Negotiate". A later registration of a name replaces the earlier one.
void RegisterAuthenticationMethod(const std::string& methodName, TIdAuthenticationClass authClass);
void UnregisterAuthenticationMethod(const std::string& methodName);
// nullptr when no scheme of that name is registered.
TIdAuthenticationClass FindAuthClass(const std::string& authName);

}  // namespace kv::http
