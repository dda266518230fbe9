#pragma once

// An in-memory I/O handler that plays the server's side of a conversation from a byte script,
// for the fuzz targets (which cannot use the test fixtures built on GoogleTest).
//
// The script is a list of turns. The first turn becomes readable with the first send (a
// request) or at once through UnlockNextTurn; each later turn becomes readable with the first
// send after the previous turn was read completely. Receives hand the readable bytes out in
// sizes taken in turn from a list, so the fuzzer decides where lines, chunk sizes and
// delimiters are split across receives.
//
// When nothing is readable:
// - while turns are still locked the server waits for a request: a wait with a time limit
//   times out at once, and a wait without limit raises EScriptStalled (a socket would wait for
//   ever there, which is the configured behaviour, not a fault of the reader);
// - once every turn is played, the end decides: the peer closes (a receive returns 0), or it
//   stays silent (as above).
//
// Closing the handler drops what is left of the current turn, as a closed socket loses the
// bytes in flight; a later Open plays the next turns as the next connection.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "net/EIdException.h"
#include "net/TIdIOHandler.h"

namespace kv::fuzz {

using kv::net::EIdException;
KV_DECLARE_EXCEPTION_WITH_TEXT(EScriptStalled, EIdException,
                               "The script is played out and a read without time limit waits");

class ScriptedIOHandler : public kv::net::TIdIOHandler {
 public:
  enum class TEnd { PeerCloses, Silent };

  // Receive sizes of 0 mean "as much as the receive asks for"; an empty list is all zeros.
  explicit ScriptedIOHandler(std::vector<int> receiveSizes = {}, TEnd end = TEnd::PeerCloses);

  void AddTurn(std::string bytes) { m_turns.push_back(std::move(bytes)); }
  // Makes the next turn readable without waiting for a send (when the current one is read).
  void UnlockNextTurn();
  void SetEnd(TEnd end) { m_end = end; }

  void Open() override;
  void Close() override;
  bool Connected() override;
  void CheckForDisconnect(bool raiseIfDisconnected = true, bool ignoreBuffer = false) override;
  bool Readable(int msec = kInfinite) override;

  int64_t BytesSent() const { return m_bytesSent; }
  int ReceiveCalls() const { return m_receiveCalls; }

 protected:
  int ReceiveData(uint8_t* buffer, int length) override;
  int SendData(const uint8_t* data, int length) override;
  bool SourceAvailable() const override { return m_sourceOpen; }

 private:
  bool HasReadable() const { return m_offset < m_current.size(); }
  int NextReceiveSize(int length);

  std::vector<int> m_receiveSizes;
  size_t m_nextSize = 0;
  TEnd m_end;
  std::deque<std::string> m_turns;
  std::string m_current;
  size_t m_offset = 0;
  bool m_sourceOpen = false;
  int64_t m_bytesSent = 0;
  int m_receiveCalls = 0;
};

}  // namespace kv::fuzz
