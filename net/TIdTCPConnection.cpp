#include "net/TIdTCPConnection.h"

#include "net/IdExceptions.h"
#include "net/TIdIOHandler.h"
#include "net/TIdIOHandlerSocket.h"

namespace kv::net {

TIdTCPConnection::TIdTCPConnection() = default;

TIdTCPConnection::~TIdTCPConnection() {
  if (m_ioHandler != nullptr) {
    try {
      m_ioHandler->Close();
    } catch (...) {
      // Nothing can be reported from a destructor; the socket is closed regardless.
    }
  }
  TIdTCPConnection::SetIOHandler(nullptr);
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  if (handler == m_ioHandler) {
    return;
  }
  // Let go of the old handler: stop watching it, take back its work reports, free it when it
  // was ours (at the end of this scope).
  std::unique_ptr<TIdIOHandler> released = std::move(m_managedIOHandler);
  if (m_ioHandler != nullptr) {
    RemoveFreeNotification(*m_ioHandler);
    if (m_ioHandler->WorkTarget() == this) {
      m_ioHandler->SetWorkTarget(nullptr);
    }
  }
  m_socket = nullptr;
  m_ioHandler = handler;
  if (handler != nullptr) {
    FreeNotification(*handler);
    handler->SetWorkTarget(this);
    m_socket = dynamic_cast<TIdIOHandlerSocket*>(handler);
  }
}

void TIdTCPConnection::SetManagedIOHandler(std::unique_ptr<TIdIOHandler> handler) {
  SetIOHandler(handler.get());
  m_managedIOHandler = std::move(handler);
}

void TIdTCPConnection::Notification(TIdComponent& destroyed) {
  TIdComponent::Notification(destroyed);
  if (m_ioHandler != nullptr && static_cast<TIdComponent*>(m_ioHandler) == &destroyed) {
    // Destroyed elsewhere: it is gone, so there is nothing left to free.
    static_cast<void>(m_managedIOHandler.release());
    m_ioHandler = nullptr;
    m_socket = nullptr;
  }
}

bool TIdTCPConnection::Connected() {
  return m_ioHandler != nullptr && m_ioHandler->Connected();
}

void TIdTCPConnection::Disconnect(bool notifyPeer) {
  if (notifyPeer) {
    try {
      if (Connected()) {
        DisconnectNotifyPeer();
      }
    } catch (...) {
      // Telling the peer is a courtesy; the close below happens anyway.
    }
  }
  if (m_ioHandler != nullptr && m_ioHandler->Opened()) {
    DoStatus(TIdStatus::hsDisconnecting);
    m_ioHandler->Close();
    DoOnDisconnected();
    DoStatus(TIdStatus::hsDisconnected);
  }
}

void TIdTCPConnection::DoOnDisconnected() {
  if (OnDisconnected) {
    OnDisconnected(*this);
  }
}

void TIdTCPConnection::CheckForGracefulDisconnect(bool raiseIfDisconnected) {
  if (m_ioHandler != nullptr) {
    m_ioHandler->CheckForDisconnect(raiseIfDisconnected, false);
  } else if (raiseIfDisconnected) {
    throw EIdNotConnected();
  }
}

}  // namespace kv::net
