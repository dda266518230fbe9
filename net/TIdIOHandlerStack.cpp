#include "net/TIdIOHandlerStack.h"

#include "net/IdExceptions.h"
#include "net/TIdConnectThread.h"
#include "net/TIdStack.h"

namespace kv::net {

bool TIdIOHandlerStack::Connected() {
  try {
    // A poll that does not wait: it takes pending bytes and notices a close.
    FillInputBuffer(false, 0, false);
  } catch (const EIdSocketError&) {
    // A broken connection (reset by the peer) is not connected; asking must not fail.
    if (Binding() != nullptr) {
      Binding()->CloseSocket();
    }
  }
  return (BindingAllocated() && TIdIOHandler::Connected()) || !InputBufferIsEmpty();
}

void TIdIOHandlerStack::CheckForDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) {
  bool disconnected = false;
  if (ClosedGracefully()) {
    // The peer has closed: release the socket now, once; the handler stays opened until Close.
    if (BindingAllocated()) {
      Binding()->CloseSocket();
      DoStatus(TIdStatus::hsDisconnected);
    }
    disconnected = true;
  } else {
    disconnected = !BindingAllocated();
  }
  if (disconnected && raiseIfDisconnected && (ignoreBuffer || InputBufferIsEmpty())) {
    throw EIdConnClosedGracefully();
  }
}

bool TIdIOHandlerStack::Readable(int msec) {
  if (Binding() == nullptr) {
    throw EIdConnClosedGracefully();
  }
  return Binding()->Readable(msec < 0 ? -1 : msec);
}

int TIdIOHandlerStack::ReceiveData(uint8_t* buffer, int length) {
  return Binding()->Receive(buffer, length);
}

int TIdIOHandlerStack::SendData(const uint8_t* data, int length) {
  return Binding()->Send(data, length);
}

void TIdIOHandlerStack::ConnectBinding() {
  Binding()->Connect();
}

void TIdIOHandlerStack::ConnectSocket() {
  TIdIOHandlerSocket::ConnectSocket();

  const std::string& host = Host();
  std::string address;
  if (IPVersion() == TIdIPVersion::Id_IPv4) {
    if (TIdStack::IsIP(host)) {
      address = host;
    }
  } else {
    address = GStack().MakeCanonicalIPv6Address(host);
  }
  if (address.empty()) {
    DoStatus(TIdStatus::hsResolving, host);
    address = GStack().ResolveHost(host, IPVersion());
  }
  Binding()->SetPeer(address, static_cast<uint16_t>(Port()), IPVersion());
  DoStatus(TIdStatus::hsConnecting, Binding()->PeerIP());

  // Zero and negative limits mean none: the connect blocks on the caller's thread.
  const int timeout = ConnectTimeout();
  if (timeout <= 0) {
    ConnectBinding();
  } else {
    ConnectWithTimeout(timeout);
  }
}

void TIdIOHandlerStack::ConnectWithTimeout(int timeoutMs) {
  TIdConnectThread thread([this] { ConnectBinding(); });
  if (!thread.WaitFor(timeoutMs)) {
    // Closing the socket ends the blocking connect; then the thread can be waited for.
    Close();
    thread.Join();
    throw EIdConnectTimeout();
  }
  thread.Join();
  if (std::exception_ptr failure = thread.Exception()) {
    std::rethrow_exception(failure);
  }
}

}  // namespace kv::net
