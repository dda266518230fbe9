#include "tests/support/ChunkedIOHandler.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "net/IdExceptions.h"

namespace kv::test {

using kv::net::EIdConnClosedGracefully;
using kv::net::TIdStatus;

ChunkedIOHandler::ChunkedIOHandler(std::vector<std::string> chunks, TEnd end)
    : m_chunks(std::move(chunks)), m_end(end) {}

void ChunkedIOHandler::FailReceiveAt(int call, std::function<void()> fail) {
  m_failReceiveAt = call;
  m_failReceive = std::move(fail);
}

void ChunkedIOHandler::FailSendAt(int call, std::function<void()> fail) {
  m_failSendAt = call;
  m_failSend = std::move(fail);
}

void ChunkedIOHandler::Open() {
  TIdIOHandler::Open();
  m_sourceOpen = true;
}

bool ChunkedIOHandler::Connected() {
  FillInputBuffer(false, 0, false);
  return (m_sourceOpen && TIdIOHandler::Connected()) || !InputBufferIsEmpty();
}

void ChunkedIOHandler::CheckForDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) {
  bool disconnected = !m_sourceOpen;
  if (ClosedGracefully()) {
    if (m_sourceOpen) {
      m_sourceOpen = false;
      DoStatus(TIdStatus::hsDisconnected);
    }
    disconnected = true;
  }
  if (disconnected && raiseIfDisconnected && (ignoreBuffer || InputBufferIsEmpty())) {
    throw EIdConnClosedGracefully();
  }
}

bool ChunkedIOHandler::Readable(int msec) {
  m_waits.push_back(msec);
  if (m_next < m_chunks.size() || m_end == TEnd::PeerCloses) {
    return true;
  }
  if (msec < 0) {
    // A real socket would wait here for ever.
    throw std::logic_error("a read without time limit would wait for ever");
  }
  return false;
}

int ChunkedIOHandler::ReceiveData(uint8_t* buffer, int length) {
  ++m_receiveCalls;
  if (m_receiveCalls == m_failReceiveAt && m_failReceive) {
    m_failReceive();
  }
  if (m_next >= m_chunks.size()) {
    return 0;
  }
  std::string& chunk = m_chunks[m_next];
  const int count = std::min(length, static_cast<int>(chunk.size()));
  std::memcpy(buffer, chunk.data(), static_cast<size_t>(count));
  if (count < static_cast<int>(chunk.size())) {
    // A chunk larger than one receive arrives over several, as from a socket.
    chunk.erase(0, static_cast<size_t>(count));
  } else {
    ++m_next;
  }
  return count;
}

int ChunkedIOHandler::SendData(const uint8_t* data, int length) {
  ++m_sendCalls;
  if (m_sendCalls == m_failSendAt && m_failSend) {
    m_failSend();
  }
  const int count = m_sendLimit > 0 ? std::min(length, m_sendLimit) : length;
  m_sends.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
  return count;
}

std::string ChunkedIOHandler::Sent() const {
  std::string all;
  for (const std::string& send : m_sends) {
    all += send;
  }
  return all;
}

}  // namespace kv::test
