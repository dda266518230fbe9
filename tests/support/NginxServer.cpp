#include "tests/support/NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/TestFiles.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// Generous limits that only guard against a hang; every wait ends as soon as its condition holds.
constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr auto kStopLimit = std::chrono::seconds(10);
constexpr auto kPollInterval = std::chrono::milliseconds(5);
// Another process may take the free port between our look and nginx's bind.
constexpr int kStartAttempts = 5;

// A port that was free a moment ago: bind to port 0 and read what the kernel chose.
uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return 0;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

void WriteWholeFile(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + file.string());
  }
}

}  // namespace

NginxServer::NginxServer() {
  std::string pattern = (fs::temp_directory_path() / "kavora-nginx-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a folder for nginx: " +
                             std::string(std::strerror(errno)));
  }
  m_folder = pattern;
  m_root = m_folder + "/www";
  fs::create_directories(m_root);
  fs::create_directories(m_folder + "/temp");
  // Readable by everyone, in case the server gives up root rights for an unprivileged user.
  fs::permissions(m_folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
}

NginxServer::~NginxServer() {
  Stop();
  std::error_code ignored;
  fs::remove_all(m_folder, ignored);
}

bool NginxServer::Available() const {
  return ::access(m_binary.c_str(), X_OK) == 0;
}

std::string NginxServer::SkipReason() const {
  return "nginx is not installed at " + m_binary +
         " (scripts/setup-debian.sh installs it); the tests against a real web server are skipped";
}

void NginxServer::AddFolder(const std::string& path) {
  fs::create_directories(m_root + path);
}

void NginxServer::AddFile(const std::string& path, const std::string& content) {
  WriteWholeFile(m_root + path, content);
}

void NginxServer::AddConfigFile(const std::string& name, const std::string& content) {
  WriteWholeFile(m_folder + "/" + name, content);
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::string NginxServer::ErrorLog() const {
  return m_folder + "/error.log";
}

void NginxServer::WriteConfiguration() const {
  const std::string temp = m_folder + "/temp";
  std::ofstream conf(m_folder + "/nginx.conf", std::ios::trunc);
  conf << "daemon off;\n"
       << "master_process off;\n"
       << "worker_processes 1;\n"
       << "pid " << m_folder << "/nginx.pid;\n"
       << "error_log " << ErrorLog() << " warn;\n"
       << "events { worker_connections 64; }\n"
       << "http {\n"
       << "  access_log off;\n"
       << "  client_body_temp_path " << temp << "/body;\n"
       << "  proxy_temp_path " << temp << "/proxy;\n"
       << "  fastcgi_temp_path " << temp << "/fastcgi;\n"
       << "  uwsgi_temp_path " << temp << "/uwsgi;\n"
       << "  scgi_temp_path " << temp << "/scgi;\n"
       << "  types { text/html html; text/plain txt; application/octet-stream bin exe; }\n"
       << "  default_type application/octet-stream;\n"
       << "  keepalive_timeout 60s;\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << m_port << ";\n"
       << "    server_name localhost;\n"
       << "    root " << m_root << ";\n"
       << "    add_header X-Connection $connection always;\n"
       << "    add_header X-Connection-Requests $connection_requests always;\n"
       << m_extraDirectives << "  }\n"
       << "}\n";
}

bool NginxServer::Start() {
  if (!Available()) {
    m_lastError = SkipReason();
    return false;
  }
  Stop();
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    bool portTaken = false;
    if (StartOnce(portTaken)) {
      return true;
    }
    if (!portTaken) {
      return false;
    }
  }
  return false;
}

bool NginxServer::StartOnce(bool& portTaken) {
  m_port = FreeLoopbackPort();
  if (m_port == 0) {
    m_lastError = "no free loopback port";
    return false;
  }
  WriteConfiguration();
  std::error_code ignored;
  fs::remove(ErrorLog(), ignored);

  const std::string prefix = m_folder + "/";
  const std::string conf = m_folder + "/nginx.conf";
  const std::string errorLog = ErrorLog();
  const pid_t pid = ::fork();
  if (pid < 0) {
    m_lastError = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    // The server's own output goes to its error log; the test's output stays clean.
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      ::dup2(devNull, STDIN_FILENO);
      ::dup2(devNull, STDOUT_FILENO);
      ::dup2(devNull, STDERR_FILENO);
    }
    ::execl(m_binary.c_str(), m_binary.c_str(), "-p", prefix.c_str(), "-c", conf.c_str(), "-e",
            errorLog.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  m_pid = pid;
  return WaitUntilAccepting(portTaken);
}

bool NginxServer::WaitUntilAccepting(bool& portTaken) {
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      const std::string log = ReadFile(ErrorLog());
      portTaken = log.find("Address already in use") != std::string::npos;
      m_lastError = "nginx exited at start-up: " + log;
      return false;
    }
    if (Accepts(m_port)) {
      return true;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  m_lastError = "nginx did not accept connections in time: " + ReadFile(ErrorLog());
  Stop();
  return false;
}

void NginxServer::Stop() {
  if (m_pid <= 0) {
    return;
  }
  ::kill(m_pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  int status = 0;
  while (::waitpid(m_pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  m_pid = -1;
}

}  // namespace kv::test
