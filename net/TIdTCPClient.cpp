#include "net/TIdTCPClient.h"

#include "net/IdExceptions.h"
#include "net/TIdIOHandler.h"
#include "net/TIdIOHandlerStack.h"

namespace kv::net {

TIdTCPClientCustom::TIdTCPClientCustom() = default;

TIdTCPClientCustom::~TIdTCPClientCustom() = default;

void TIdTCPClientCustom::Connect(const std::string& host) {
  SetHost(host);
  Connect();
}

void TIdTCPClientCustom::Connect(const std::string& host, uint16_t port) {
  SetHost(host);
  SetPort(port);
  Connect();
}

void TIdTCPClientCustom::Connect() {
  if (Connected()) {
    throw EIdAlreadyConnected();
  }
  if (m_host.empty()) {
    throw EIdHostRequired();
  }
  if (m_port == 0) {
    throw EIdPortRequired();
  }
  if (IOHandler() == nullptr) {
    std::unique_ptr<TIdIOHandler> handler = MakeImplicitClientHandler();
    TIdIOHandler* created = handler.get();
    SetManagedIOHandler(std::move(handler));
    created->OnStatus = OnStatus;
  }
  try {
    OpenHandler();
  } catch (...) {
    // Leave nothing half open: close the socket and drop an implicit handler, so the next
    // Connect starts afresh.
    if (IOHandler() != nullptr) {
      try {
        IOHandler()->Close();
      } catch (...) {
        // The original failure is the one to report.
      }
      if (ManagedIOHandler()) {
        SetIOHandler(nullptr);
      }
    }
    throw;
  }
}

void TIdTCPClientCustom::OpenHandler() {
  TIdIOHandler& handler = *IOHandler();
  if (!m_destination.empty()) {
    handler.SetDestination(m_destination);
  }
  // The client's own settings always win over the destination.
  handler.SetPort(m_port);
  handler.SetHost(m_host);
  handler.SetConnectTimeout(m_connectTimeout);
  handler.SetReadTimeout(m_readTimeout);
  if (TIdIOHandlerSocket* socket = Socket()) {
    CopySocketSettingsTo(*socket);
  }
  handler.Open();
  DoStatus(TIdStatus::hsConnected, m_host);
  DoOnConnected();
}

void TIdTCPClientCustom::DoOnConnected() {
  if (OnConnected) {
    OnConnected(*this);
  }
}

std::unique_ptr<TIdIOHandler> TIdTCPClientCustom::MakeImplicitClientHandler() {
  return std::make_unique<TIdIOHandlerStack>();
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* handler) {
  TIdTCPConnection::SetIOHandler(handler);
  if (handler != nullptr) {
    CopySettingsTo(*handler);
  }
}

void TIdTCPClientCustom::CopySettingsTo(TIdIOHandler& handler) {
  handler.SetHost(m_host);
  handler.SetPort(m_port);
  handler.SetConnectTimeout(m_connectTimeout);
  handler.SetReadTimeout(m_readTimeout);
  if (TIdIOHandlerSocket* socket = Socket()) {
    CopySocketSettingsTo(*socket);
  }
}

void TIdTCPClientCustom::CopySocketSettingsTo(TIdIOHandlerSocket& socket) {
  socket.SetBoundIP(m_boundIP);
  socket.SetBoundPort(m_boundPort);
  socket.SetBoundPortMin(m_boundPortMin);
  socket.SetBoundPortMax(m_boundPortMax);
  socket.SetIPVersion(m_ipVersion);
  socket.SetReuseSocket(m_reuseSocket);
  socket.SetUseNagle(m_useNagle);
  socket.OnBeforeBind = OnBeforeBind;
  socket.OnAfterBind = OnAfterBind;
  socket.OnSocketAllocated = OnSocketAllocated;
}

// --- Settings passed on to the handler ---------------------------------------------------------

void TIdTCPClientCustom::SetBoundIP(const std::string& value) {
  m_boundIP = value;
  if (Socket() != nullptr) {
    Socket()->SetBoundIP(value);
  }
}

void TIdTCPClientCustom::SetBoundPort(uint16_t value) {
  m_boundPort = value;
  if (Socket() != nullptr) {
    Socket()->SetBoundPort(value);
  }
}

void TIdTCPClientCustom::SetBoundPortMin(uint16_t value) {
  m_boundPortMin = value;
  if (Socket() != nullptr) {
    Socket()->SetBoundPortMin(value);
  }
}

void TIdTCPClientCustom::SetBoundPortMax(uint16_t value) {
  m_boundPortMax = value;
  if (Socket() != nullptr) {
    Socket()->SetBoundPortMax(value);
  }
}

void TIdTCPClientCustom::SetConnectTimeout(int value) {
  m_connectTimeout = value;
  if (IOHandler() != nullptr) {
    IOHandler()->SetConnectTimeout(value);
  }
}

void TIdTCPClientCustom::SetHost(const std::string& value) {
  m_host = value;
  if (IOHandler() != nullptr) {
    IOHandler()->SetHost(value);
  }
}

void TIdTCPClientCustom::SetPort(uint16_t value) {
  m_port = value;
  if (IOHandler() != nullptr) {
    IOHandler()->SetPort(value);
  }
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion value) {
  m_ipVersion = value;
  if (Socket() != nullptr) {
    Socket()->SetIPVersion(value);
  }
}

int TIdTCPClientCustom::ReadTimeout() const {
  return IOHandler() != nullptr ? IOHandler()->ReadTimeout() : m_readTimeout;
}

void TIdTCPClientCustom::SetReadTimeout(int value) {
  m_readTimeout = value;
  if (IOHandler() != nullptr) {
    IOHandler()->SetReadTimeout(value);
  }
}

TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const {
  return Socket() != nullptr ? Socket()->ReuseSocket() : m_reuseSocket;
}

void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket value) {
  m_reuseSocket = value;
  if (Socket() != nullptr) {
    Socket()->SetReuseSocket(value);
  }
}

bool TIdTCPClientCustom::UseNagle() const {
  return Socket() != nullptr ? Socket()->UseNagle() : m_useNagle;
}

void TIdTCPClientCustom::SetUseNagle(bool value) {
  m_useNagle = value;
  if (Socket() != nullptr) {
    Socket()->SetUseNagle(value);
  }
}

}  // namespace kv::net
