#pragma once

// An in-memory I/O handler for tests of the reading and writing logic: each receive delivers
// exactly the next of a list of chunks, so a test decides how input is split across receives.
// After the last chunk the source either reports the peer's close (a receive of 0 bytes) or
// stays silent (a wait then times out; a wait without limit fails the test instead of hanging).
// Failures can be injected at the Nth receive or send. Sends are recorded one by one.
//
//   kv::test::ChunkedIOHandler io({"HTTP/1.1 200 OK\r\n", "Content-Length: 3\r\n"});
//   io.Open();
//   EXPECT_EQ(io.ReadLn(), "HTTP/1.1 200 OK");
//
// Closed-connection detection behaves as in the socket handler: once a receive returned 0 the
// next check releases the source, and Connected stays true while unread bytes are buffered.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/TIdIOHandler.h"

namespace kv::test {

class ChunkedIOHandler : public kv::net::TIdIOHandler {
 public:
  enum class TEnd { PeerCloses, Silent };

  explicit ChunkedIOHandler(std::vector<std::string> chunks = {}, TEnd end = TEnd::PeerCloses);

  // More input, delivered after the chunks already queued.
  void AddChunk(std::string chunk) { m_chunks.push_back(std::move(chunk)); }
  void SetEnd(TEnd end) { m_end = end; }
  // The Nth receive (or send), counted from 1, raises what fail() throws instead.
  void FailReceiveAt(int call, std::function<void()> fail);
  void FailSendAt(int call, std::function<void()> fail);
  // Sends take at most this many bytes each (0: all).
  void SetSendLimit(int bytes) { m_sendLimit = bytes; }

  void Open() override;
  bool Connected() override;
  void CheckForDisconnect(bool raiseIfDisconnected = true, bool ignoreBuffer = false) override;
  bool Readable(int msec = kInfinite) override;

  // What was sent, joined and per send.
  std::string Sent() const;
  const std::vector<std::string>& Sends() const { return m_sends; }
  int ReceiveCalls() const { return m_receiveCalls; }
  // The time-out of each wait, as Readable was given it.
  const std::vector<int>& Waits() const { return m_waits; }
  // The source is open (not yet released after the peer's close).
  bool SourceOpen() const { return m_sourceOpen; }
  // Chunks not yet delivered.
  size_t PendingChunks() const { return m_chunks.size() - m_next; }

 protected:
  int ReceiveData(uint8_t* buffer, int length) override;
  int SendData(const uint8_t* data, int length) override;
  bool SourceAvailable() const override { return m_sourceOpen; }

 private:
  std::vector<std::string> m_chunks;
  size_t m_next = 0;
  TEnd m_end;
  bool m_sourceOpen = false;
  int m_receiveCalls = 0;
  int m_sendCalls = 0;
  int m_failReceiveAt = 0;
  int m_failSendAt = 0;
  std::function<void()> m_failReceive;
  std::function<void()> m_failSend;
  int m_sendLimit = 0;
  std::vector<std::string> m_sends;
  std::vector<int> m_waits;
};

}  // namespace kv::test
