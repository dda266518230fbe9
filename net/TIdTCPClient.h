#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/TIdIPVersion.h"
#include "net/TIdSocketHandle.h"
#include "net/TIdTCPConnection.h"

namespace kv::net {

// A TCP client: Connect opens a connection to Host and Port through the assigned I/O handler,
// or through a TIdIOHandlerStack it creates and manages itself. Its settings are passed on to
// the handler whenever one is assigned.
class TIdTCPClientCustom : public TIdTCPConnection {
 public:
  TIdTCPClientCustom();
  ~TIdTCPClientCustom() override;

  TNotifyEvent OnConnected;
  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

  // Opens the connection. Raises EIdAlreadyConnected, EIdHostRequired, EIdPortRequired, or
  // whatever the connect raised (after closing the socket and releasing an implicit handler).
  virtual void Connect();
  void Connect(const std::string& host);
  void Connect(const std::string& host, uint16_t port);

  void SetIOHandler(TIdIOHandler* handler) override;

  const std::string& BoundIP() const { return m_boundIP; }
  void SetBoundIP(const std::string& value);
  uint16_t BoundPort() const { return m_boundPort; }
  void SetBoundPort(uint16_t value);
  uint16_t BoundPortMin() const { return m_boundPortMin; }
  void SetBoundPortMin(uint16_t value);
  uint16_t BoundPortMax() const { return m_boundPortMax; }
  void SetBoundPortMax(uint16_t value);
  // Milliseconds; 0 and -1 mean no limit.
  int ConnectTimeout() const { return m_connectTimeout; }
  void SetConnectTimeout(int value);
  // "host:port"; when set, Connect hands it to the handler before Host and Port.
  const std::string& Destination() const { return m_destination; }
  void SetDestination(const std::string& value) { m_destination = value; }
  const std::string& Host() const { return m_host; }
  virtual void SetHost(const std::string& value);
  uint16_t Port() const { return m_port; }
  virtual void SetPort(uint16_t value);
  TIdIPVersion IPVersion() const { return m_ipVersion; }
  virtual void SetIPVersion(TIdIPVersion value);
  const std::string& Username() const { return m_username; }
  void SetUsername(const std::string& value) { m_username = value; }
  const std::string& Password() const { return m_password; }
  void SetPassword(const std::string& value) { m_password = value; }
  // Milliseconds a read waits; -1 and 0 mean no limit. The handler's value when one exists.
  int ReadTimeout() const;
  void SetReadTimeout(int value);
  // The socket handler's values when one exists.
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket value);
  bool UseNagle() const;
  void SetUseNagle(bool value);

 protected:
  // Fires OnConnected.
  virtual void DoOnConnected();
  // The handler Connect creates when none is assigned.
  virtual std::unique_ptr<TIdIOHandler> MakeImplicitClientHandler();

 private:
  // Copies every setting to the handler.
  void CopySettingsTo(TIdIOHandler& handler);
  void CopySocketSettingsTo(TIdIOHandlerSocket& socket);
  void OpenHandler();

  std::string m_boundIP;
  uint16_t m_boundPort = 0;
  uint16_t m_boundPortMax = 0;
  uint16_t m_boundPortMin = 0;
  int m_connectTimeout = 0;
  std::string m_destination;
  std::string m_host;
  TIdIPVersion m_ipVersion = TIdIPVersion::Id_IPv4;
  std::string m_password;
  std::string m_username;
  uint16_t m_port = 0;
  int m_readTimeout = -1;
  TIdReuseSocket m_reuseSocket = TIdReuseSocket::rsOSDependent;
  bool m_useNagle = true;
};

// The TCP client with its settings published.
class TIdTCPClient : public TIdTCPClientCustom {
 public:
  TIdTCPClient() = default;
};

}  // namespace kv::net
