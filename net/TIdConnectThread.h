#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kv::net {

// Runs one blocking connect on its own thread so the caller can wait for it with a limit. An
// exception of the connect is caught on the thread and kept for the caller to raise again.
class TIdConnectThread {
 public:
  // Starts the thread at once.
  explicit TIdConnectThread(std::function<void()> connect);
  // Waits for the thread to end.
  ~TIdConnectThread();
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  // Waits up to timeoutMs for the connect to finish; true when it has.
  bool WaitFor(int timeoutMs);
  // Waits without limit for the thread to end.
  void Join();
  // What the connect raised, or nullptr.
  std::exception_ptr Exception() const;

 private:
  void Execute(const std::function<void()>& connect);

  mutable std::mutex m_lock;
  std::condition_variable m_finishedChanged;
  bool m_finished = false;
  std::exception_ptr m_exception;
  std::thread m_thread;
};

}  // namespace kv::net
