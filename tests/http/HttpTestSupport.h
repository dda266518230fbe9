#pragma once

// Helpers shared by the HTTP client's tests: a recorder of work notifications, a few
// shorthands for building responses, and the error of a Get that must fail.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "http/EIdHTTPException.h"
#include "http/TIdCustomHTTP.h"
#include "net/TIdComponent.h"

namespace kv::http::test {

// Records the read work notifications of a component as "begin N", "work N" and "end".
class WorkLog {
 public:
  void Attach(kv::net::TIdComponent& component) {
    using kv::net::TIdComponent;
    using kv::net::TWorkMode;
    component.OnWorkBegin = [this](TIdComponent&, TWorkMode mode, int64_t max) {
      Add(mode, "begin " + std::to_string(max));
    };
    component.OnWork = [this](TIdComponent&, TWorkMode mode, int64_t count) {
      Add(mode, "work " + std::to_string(count));
    };
    component.OnWorkEnd = [this](TIdComponent&, TWorkMode mode) { Add(mode, "end"); };
  }

  const std::vector<std::string>& Read() const { return m_read; }
  const std::vector<std::string>& Write() const { return m_write; }

 private:
  void Add(kv::net::TWorkMode mode, std::string event) {
    (mode == kv::net::TWorkMode::wmRead ? m_read : m_write).push_back(std::move(event));
  }

  std::vector<std::string> m_read;
  std::vector<std::string> m_write;
};

// "HTTP/1.1 200 OK" + CR LF + each header + CR LF + CR LF + body.
inline std::string Response(const std::string& statusLine, const std::vector<std::string>& headers,
                            const std::string& body = {}) {
  std::string text = statusLine + "\r\n";
  for (const std::string& header : headers) {
    text += header + "\r\n";
  }
  return text + "\r\n" + body;
}

// The request lines (CR LF removed) of a request head.
inline std::vector<std::string> HeadLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = bytes.find("\r\n"); end != std::string::npos; end = bytes.find("\r\n", start)) {
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
    if (lines.back().empty()) {
      break;
    }
  }
  return lines;
}

// The EIdHTTPProtocolException a Get raises. A Get that returns fails the calling test and gives
// nothing; any other exception passes through.
inline std::optional<EIdHTTPProtocolException> GetProtocolError(TIdCustomHTTP& http,
                                                                const std::string& url,
                                                                kv::net::TIdStream& stream) {
  try {
    http.Get(url, stream);
    ADD_FAILURE() << "expected EIdHTTPProtocolException";
  } catch (const EIdHTTPProtocolException& e) {
    return e;
  }
  return std::nullopt;
}

}  // namespace kv::http::test
