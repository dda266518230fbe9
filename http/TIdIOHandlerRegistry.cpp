#include "http/TIdIOHandlerRegistry.h"

#include <algorithm>
#include <utility>

namespace kv::http {

TIdIOHandlerRegistry& TIdIOHandlerRegistry::Instance() {
  static TIdIOHandlerRegistry registry;
  return registry;
}

int TIdIOHandlerRegistry::Register(TFactory factory) {
  std::lock_guard<std::mutex> lock(m_lock);
  const int token = m_nextToken++;
  m_entries.push_back({token, std::move(factory)});
  return token;
}

void TIdIOHandlerRegistry::Unregister(int token) {
  std::lock_guard<std::mutex> lock(m_lock);
  std::erase_if(m_entries, [token](const TEntry& entry) { return entry.token == token; });
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdIOHandlerRegistry::TryMakeIOHandler() const {
  TFactory factory;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_entries.empty()) {
      return nullptr;
    }
    factory = m_entries.back().factory;
  }
  return factory ? factory() : nullptr;
}

}  // namespace kv::http
