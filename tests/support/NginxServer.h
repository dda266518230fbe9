#pragma once

// A real web server for integration tests: nginx, started as the current user on a free
// loopback port, with a configuration generated into a temporary folder (pid, error log and
// every temporary path inside it, no access log) and serving files the test writes there.
// It runs in the foreground as a single process, so the fixture knows its PID; the destructor
// stops it by that PID and removes the folder.
//
//   kv::test::NginxServer nginx;
//   if (!nginx.Available()) GTEST_SKIP() << nginx.SkipReason();
//   nginx.AddFile("/a.bin", bytes);
//   ASSERT_TRUE(nginx.Start()) << nginx.LastError();
//   http.Get(nginx.Url("/a.bin"), stream);
//
// Every response carries "X-Connection" (nginx's number of the connection that served it) and
// "X-Connection-Requests" (the requests that connection has served), so tests can see whether a
// client reused its connection.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kv::test {

class NginxServer {
 public:
  // Where Debian installs the server.
  static constexpr const char* kDefaultBinary = "/usr/sbin/nginx";

  NginxServer();
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // False when the nginx program is missing (tests then skip with SkipReason()).
  bool Available() const;
  std::string SkipReason() const;

  // Writes a file below the document root (path starts with "/"; folders are created).
  void AddFile(const std::string& path, const std::string& content);
  void AddFolder(const std::string& path);
  // Writes a file into the server's folder, outside the document root (a password file).
  void AddConfigFile(const std::string& name, const std::string& content);
  // Extra directives for the server block, for the next Start().
  void AddServerDirectives(const std::string& directives) { m_extraDirectives += directives; }

  // Starts the server and waits until it accepts connections; false (see LastError) otherwise.
  bool Start();
  // Stops the server by its PID and waits for it; safe to call when it is not running.
  void Stop();
  bool Running() const { return m_pid > 0; }

  uint16_t Port() const { return m_port; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;
  const std::string& Folder() const { return m_folder; }
  const std::string& DocumentRoot() const { return m_root; }
  const std::string& LastError() const { return m_lastError; }

 private:
  bool StartOnce(bool& portTaken);
  void WriteConfiguration() const;
  bool WaitUntilAccepting(bool& portTaken);
  std::string ErrorLog() const;

  std::string m_binary = kDefaultBinary;
  std::string m_folder;
  std::string m_root;
  std::string m_extraDirectives;
  std::string m_lastError;
  uint16_t m_port = 0;
  pid_t m_pid = -1;
};

}  // namespace kv::test
