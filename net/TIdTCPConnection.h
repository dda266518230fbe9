#pragma once

#include <functional>
#include <memory>

#include "net/Forward.h"
#include "net/TIdComponent.h"

namespace kv::net {

// A connection over an I/O handler. The handler is either borrowed (SetIOHandler with a plain
// pointer) or managed (SetManagedIOHandler: created for the connection and freed by it). The
// handler's work notifications surface as this component's events.
class TIdTCPConnection : public TIdComponent {
 public:
  TIdTCPConnection();
  // Closes the handler, then lets go of it (freeing a managed one) without OnDisconnected.
  ~TIdTCPConnection() override;

  using TNotifyEvent = std::function<void(TIdComponent& ASender)>;
  // Raised inside Disconnect after the handler is closed.
  TNotifyEvent OnDisconnected;

  TIdIOHandler* IOHandler() const { return m_ioHandler; }
  // Uses a borrowed handler (nullptr: none); a managed handler in use is freed first.
  virtual void SetIOHandler(TIdIOHandler* handler);
  // Uses a handler this connection owns from now on.
  void SetManagedIOHandler(std::unique_ptr<TIdIOHandler> handler);
  bool ManagedIOHandler() const { return m_managedIOHandler != nullptr; }
  // The handler when it is a socket handler, else nullptr.
  TIdIOHandlerSocket* Socket() const { return m_socket; }

  // The handler's answer; false without a handler.
  virtual bool Connected();
  // Closes an opened handler, with hsDisconnecting, the disconnected hook and hsDisconnected
  // around the close. Does nothing when the handler is not opened.
  virtual void Disconnect(bool notifyPeer = true);
  // The handler's CheckForDisconnect(raiseIfDisconnected, false); without a handler raises
  // EIdNotConnected when asked to.
  virtual void CheckForGracefulDisconnect(bool raiseIfDisconnected = true);

 protected:
  // The disconnected notification: runs inside Disconnect after the handler has been closed and
  // fires OnDisconnected. Subclasses extend it (calling this one).
  virtual void DoOnDisconnected();
  // Lets the peer know before a disconnect; nothing here.
  virtual void DisconnectNotifyPeer() {}
  void Notification(TIdComponent& destroyed) override;

 private:
  TIdIOHandler* m_ioHandler = nullptr;
  TIdIOHandlerSocket* m_socket = nullptr;
  std::unique_ptr<TIdIOHandler> m_managedIOHandler;
};

}  // namespace kv::net
