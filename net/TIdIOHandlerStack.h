#pragma once

#include "net/TIdIOHandlerSocket.h"

namespace kv::net {

// The socket handler the TCP client creates when none is assigned: receives, sends and waits
// through its binding, resolves the host and connects, optionally with a time limit.
class TIdIOHandlerStack : public TIdIOHandlerSocket {
 public:
  TIdIOHandlerStack() = default;

  bool Connected() override;
  void CheckForDisconnect(bool raiseIfDisconnected = true, bool ignoreBuffer = false) override;
  bool Readable(int msec = kInfinite) override;
  // Allocates and binds (base), resolves Host, then connects: directly when ConnectTimeout is
  // 0, -1 or -2, else on a connect thread that is given ConnectTimeout milliseconds.
  void ConnectSocket() override;

 protected:
  int ReceiveData(uint8_t* buffer, int length) override;
  int SendData(const uint8_t* data, int length) override;
  // The blocking connect of the binding; runs on the connect thread when a limit is set. A seam
  // for tests that need a connect which does not finish.
  virtual void ConnectBinding();

 private:
  void ConnectWithTimeout(int timeoutMs);
};

}  // namespace kv::net
