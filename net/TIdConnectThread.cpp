#include "net/TIdConnectThread.h"

#include <chrono>

namespace kv::net {

TIdConnectThread::TIdConnectThread(std::function<void()> connect)
    : m_thread([this, connect = std::move(connect)] { Execute(connect); }) {}

TIdConnectThread::~TIdConnectThread() {
  Join();
}

void TIdConnectThread::Execute(const std::function<void()>& connect) {
  std::exception_ptr failure;
  try {
    connect();
  } catch (...) {
    // Nothing may escape a thread; the caller raises it again on its own thread.
    failure = std::current_exception();
  }
  std::lock_guard<std::mutex> lock(m_lock);
  m_exception = failure;
  m_finished = true;
  m_finishedChanged.notify_all();
}

bool TIdConnectThread::WaitFor(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  return m_finishedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this] { return m_finished; });
}

void TIdConnectThread::Join() {
  if (m_thread.joinable()) {
    m_thread.join();
  }
}

std::exception_ptr TIdConnectThread::Exception() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_exception;
}

}  // namespace kv::net
