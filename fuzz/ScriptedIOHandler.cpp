#include "fuzz/ScriptedIOHandler.h"

#include <algorithm>
#include <cstring>

#include "net/IdExceptions.h"

namespace kv::fuzz {

using kv::net::EIdConnClosedGracefully;
using kv::net::TIdStatus;

ScriptedIOHandler::ScriptedIOHandler(std::vector<int> receiveSizes, TEnd end)
    : m_receiveSizes(std::move(receiveSizes)), m_end(end) {}

void ScriptedIOHandler::UnlockNextTurn() {
  if (!HasReadable() && !m_turns.empty()) {
    m_current = std::move(m_turns.front());
    m_turns.pop_front();
    m_offset = 0;
  }
}

void ScriptedIOHandler::Open() {
  TIdIOHandler::Open();
  m_sourceOpen = true;
}

void ScriptedIOHandler::Close() {
  TIdIOHandler::Close();
  m_sourceOpen = false;
  m_current.clear();
  m_offset = 0;
}

bool ScriptedIOHandler::Connected() {
  FillInputBuffer(false, 0, false);
  return (m_sourceOpen && TIdIOHandler::Connected()) || !InputBufferIsEmpty();
}

void ScriptedIOHandler::CheckForDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) {
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

bool ScriptedIOHandler::Readable(int msec) {
  if (HasReadable()) {
    return true;
  }
  const bool waiting = !m_turns.empty() || m_end == TEnd::Silent;
  if (!waiting) {
    return true;  // the next receive reports the close
  }
  if (msec < 0) {
    throw EScriptStalled();
  }
  return false;
}

int ScriptedIOHandler::NextReceiveSize(int length) {
  if (m_receiveSizes.empty()) {
    return length;
  }
  const int size = m_receiveSizes[m_nextSize];
  m_nextSize = (m_nextSize + 1) % m_receiveSizes.size();
  return size > 0 ? std::min(size, length) : length;
}

int ScriptedIOHandler::ReceiveData(uint8_t* buffer, int length) {
  ++m_receiveCalls;
  if (!HasReadable() || length <= 0) {
    return 0;
  }
  const size_t left = m_current.size() - m_offset;
  const int count = static_cast<int>(std::min<size_t>(left, NextReceiveSize(length)));
  std::memcpy(buffer, m_current.data() + m_offset, static_cast<size_t>(count));
  m_offset += static_cast<size_t>(count);
  return count;
}

int ScriptedIOHandler::SendData(const uint8_t* /*data*/, int length) {
  m_bytesSent += length;
  UnlockNextTurn();
  return length;
}

}  // namespace kv::fuzz
