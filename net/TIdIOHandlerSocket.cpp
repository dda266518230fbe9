#include "net/TIdIOHandlerSocket.h"

namespace kv::net {

TIdIOHandlerSocket::TIdIOHandlerSocket() = default;

// The binding closes a socket it still holds when it goes.
TIdIOHandlerSocket::~TIdIOHandlerSocket() = default;

bool TIdIOHandlerSocket::BindingAllocated() const {
  return m_binding != nullptr && m_binding->HandleAllocated();
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  if (m_binding != nullptr) {
    m_binding->Reset();
  } else {
    m_binding = std::make_unique<TIdSocketHandle>();
  }
  m_binding->SetClientPortMin(m_boundPortMin);
  m_binding->SetClientPortMax(m_boundPortMax);
  if (!Host().empty() && Port() > 0) {
    ConnectSocket();
  }
}

void TIdIOHandlerSocket::Close() {
  if (m_binding != nullptr) {
    m_binding->CloseSocket();
  }
  TIdIOHandler::Close();
}

void TIdIOHandlerSocket::ConnectSocket() {
  if (m_binding == nullptr) {
    m_binding = std::make_unique<TIdSocketHandle>();
  }
  DoBeforeBind();
  m_binding->SetIPVersion(m_ipVersion);
  m_binding->AllocateSocket(Id_SOCK_STREAM, 0);
  DoSocketAllocated();
  if (!m_boundIP.empty()) {
    m_binding->SetIP(m_boundIP);
  }
  m_binding->SetPort(m_boundPort);
  m_binding->SetClientPortMin(m_boundPortMin);
  m_binding->SetClientPortMax(m_boundPortMax);
  m_binding->SetReuseSocket(m_reuseSocket);
  m_binding->Bind();
  m_binding->SetUseNagle(m_useNagle);
  DoAfterBind();
}

void TIdIOHandlerSocket::DoBeforeBind() {
  if (OnBeforeBind) {
    OnBeforeBind(*this);
  }
}

void TIdIOHandlerSocket::DoAfterBind() {
  if (OnAfterBind) {
    OnAfterBind(*this);
  }
}

void TIdIOHandlerSocket::DoSocketAllocated() {
  if (OnSocketAllocated) {
    OnSocketAllocated(*this);
  }
}

}  // namespace kv::net
