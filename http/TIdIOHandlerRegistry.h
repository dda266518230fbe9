#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/TIdIOHandlerStack.h"

namespace kv::http {

// Base of a socket handler that can speak TLS. PassThrough switches the encryption off (a
// plain connection, or a proxy before its tunnel is up); URIToCheck names the URL whose host the
// server's certificate must match.
class TIdSSLIOHandlerSocketBase : public kv::net::TIdIOHandlerStack {
 public:
  bool PassThrough() const { return m_passThrough; }
  virtual void SetPassThrough(bool value) { m_passThrough = value; }
  const std::string& URIToCheck() const { return m_uriToCheck; }
  virtual void SetURIToCheck(const std::string& value) { m_uriToCheck = value; }

 private:
  bool m_passThrough = true;
  std::string m_uriToCheck;
};

// The TLS-capable handler classes the client may create for an https URL. This program
// registers none, so an https URL fails before any connection is made.
class TIdIOHandlerRegistry {
 public:
  using TFactory = std::function<std::unique_ptr<TIdSSLIOHandlerSocketBase>()>;

  static TIdIOHandlerRegistry& Instance();

  // Returns a token for Unregister.
  int Register(TFactory factory);
  void Unregister(int token);
  // An instance of the newest registered class, or nullptr when there is none.
  std::unique_ptr<TIdSSLIOHandlerSocketBase> TryMakeIOHandler() const;

 private:
  struct TEntry {
    int token;
    TFactory factory;
  };

  mutable std::mutex m_lock;
  std::vector<TEntry> m_entries;  // guarded by m_lock, oldest first
  int m_nextToken = 1;            // guarded by m_lock
};

}  // namespace kv::http
