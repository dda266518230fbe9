#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/TIdIOHandler.h"
#include "net/TIdIPVersion.h"
#include "net/TIdSocketHandle.h"

namespace kv::net {

// An I/O handler over one socket (its Binding). Open creates or resets the binding and, when
// Host and Port are set, connects; Close closes the socket.
class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  TIdIOHandlerSocket();
  ~TIdIOHandlerSocket() override;

  using TNotifyEvent = std::function<void(TIdComponent& ASender)>;
  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

  // The socket, created by the first Open (nullptr before).
  TIdSocketHandle* Binding() const { return m_binding.get(); }
  // The binding exists and holds a socket.
  bool BindingAllocated() const;

  const std::string& BoundIP() const { return m_boundIP; }
  void SetBoundIP(const std::string& value) { m_boundIP = value; }
  uint16_t BoundPort() const { return m_boundPort; }
  void SetBoundPort(uint16_t value) { m_boundPort = value; }
  uint16_t BoundPortMin() const { return m_boundPortMin; }
  void SetBoundPortMin(uint16_t value) { m_boundPortMin = value; }
  uint16_t BoundPortMax() const { return m_boundPortMax; }
  void SetBoundPortMax(uint16_t value) { m_boundPortMax = value; }
  bool UseNagle() const { return m_useNagle; }
  void SetUseNagle(bool value) { m_useNagle = value; }
  TIdReuseSocket ReuseSocket() const { return m_reuseSocket; }
  void SetReuseSocket(TIdReuseSocket value) { m_reuseSocket = value; }
  TIdIPVersion IPVersion() const { return m_ipVersion; }
  void SetIPVersion(TIdIPVersion value) { m_ipVersion = value; }

  // Base Open, then the binding (created or reset), then ConnectSocket when Host and Port are
  // set.
  void Open() override;
  // Closes the socket, then base Close.
  void Close() override;
  // Allocates and binds the socket. Subclasses add the connect itself.
  virtual void ConnectSocket();

 protected:
  bool SourceAvailable() const override { return BindingAllocated(); }
  void DoBeforeBind();
  void DoAfterBind();
  void DoSocketAllocated();

 private:
  std::unique_ptr<TIdSocketHandle> m_binding;
  std::string m_boundIP;
  uint16_t m_boundPort = 0;
  uint16_t m_boundPortMin = 0;
  uint16_t m_boundPortMax = 0;
  bool m_useNagle = true;
  TIdReuseSocket m_reuseSocket = TIdReuseSocket::rsOSDependent;
  TIdIPVersion m_ipVersion = TIdIPVersion::Id_IPv4;
};

}  // namespace kv::net
