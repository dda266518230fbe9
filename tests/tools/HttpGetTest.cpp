// httpget end to end: the built program as a child process, against nginx and the scripted
// loopback server.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/NginxServer.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestFiles.h"

extern char** environ;

namespace kv::tools {
namespace {

using kv::test::ReadFile;
using kv::test::TempFolder;
using kv::test::VariedBytes;
using kv::test::WriteFile;

const char* const kUsageLine = "usage: httpget [--trace] URL FILE [URL FILE ...]\n";

struct TRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs httpget with args and collects both output streams until it exits.
TRun RunHttpGet(const std::vector<std::string>& args) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  std::vector<std::string> argvText = {HTTPGET_PATH};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, HTTPGET_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  TRun run;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << HTTPGET_PATH << ": " << std::strerror(spawned);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return run;
  }
  // Both pipes at once, so a child filling one while we wait on the other cannot stall.
  std::array<pollfd, 2> fds{pollfd{outPipe[0], POLLIN, 0}, pollfd{errPipe[0], POLLIN, 0}};
  std::array<std::string*, 2> targets{&run.out, &run.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) {
        continue;
      }
      char buffer[65536];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        targets[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// ---- Usage -----------------------------------------------------------------------------------

struct TUsageCase {
  const char* name;
  std::vector<std::string> args;
};

class HttpGetUsage : public ::testing::TestWithParam<TUsageCase> {};

TEST_P(HttpGetUsage, PrintsTheUsageLineAndExits2) {
  const TRun run = RunHttpGet(GetParam().args);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, kUsageLine);
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, HttpGetUsage,
    ::testing::Values(TUsageCase{"NoArguments", {}}, TUsageCase{"TraceOnly", {"--trace"}},
                      TUsageCase{"UrlWithoutFile", {"http://127.0.0.1:1/x"}},
                      TUsageCase{"ThirdWithoutFile", {"http://127.0.0.1:1/a", "a", "http://b"}},
                      TUsageCase{"UnknownOption", {"--verbose", "http://127.0.0.1:1/a", "a"}},
                      TUsageCase{"TraceTwice", {"--trace", "--trace", "http://127.0.0.1:1/a"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Against nginx ---------------------------------------------------------------------------

class HttpGetNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_nginx.Available()) {
      GTEST_SKIP() << m_nginx.SkipReason();
    }
    m_nginx.AddFile("/big.exe", m_big);
    m_nginx.AddFile("/small.txt", "small body\n");
    m_nginx.AddFile("/folder/index.html", "<html></html>");
    ASSERT_TRUE(m_nginx.Start()) << m_nginx.LastError();
  }

  const std::string m_big = VariedBytes(5 * 1024 * 1024 + 3, 99);
  kv::test::NginxServer m_nginx;
  TempFolder m_folder{"kavora-httpget"};
};

TEST_F(HttpGetNginx, FetchesEveryPairIntoItsFile) {
  WriteFile(m_folder / "small.txt", "an older version that is longer than the new one");
  const TRun run = RunHttpGet({m_nginx.Url("/big.exe"), m_folder / "big.exe",
                               m_nginx.Url("/small.txt"), m_folder / "small.txt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "done 200 " + std::to_string(m_big.size()) + "\ndone 200 11\n");
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(ReadFile(m_folder / "big.exe") == m_big) << "big.exe differs";
  EXPECT_EQ(ReadFile(m_folder / "small.txt"), "small body\n");
  EXPECT_EQ(m_folder.Names(), (std::vector<std::string>{"big.exe", "small.txt"}));
}

TEST_F(HttpGetNginx, DashWritesTheBodyToStandardOutput) {
  const TRun run = RunHttpGet({m_nginx.Url("/small.txt"), "-", m_nginx.Url("/big.exe"), "-"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "done 200 11\ndone 200 " + std::to_string(m_big.size()) + "\n");
  EXPECT_TRUE(run.out == "small body\n" + m_big) << "standard output differs";
}

TEST_F(HttpGetNginx, AnErrorStatusLeavesFileAloneAndSkipsTheRest) {
  WriteFile(m_folder / "missing.exe", "previous download");
  const TRun run =
      RunHttpGet({m_nginx.Url("/small.txt"), m_folder / "first.txt", m_nginx.Url("/missing.exe"),
                  m_folder / "missing.exe", m_nginx.Url("/small.txt"), m_folder / "never.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "done 200 11\n"
            "error EIdHTTPProtocolException 404 HTTP/1.1 404 Not Found\n");
  EXPECT_EQ(ReadFile(m_folder / "first.txt"), "small body\n");
  EXPECT_EQ(ReadFile(m_folder / "missing.exe"), "previous download");
  EXPECT_EQ(m_folder.Names(), (std::vector<std::string>{"first.txt", "missing.exe"}))
      << "no temporary file stays behind, and the third pair was not fetched";
}

TEST_F(HttpGetNginx, TraceFollowsALargeBodyBlockByBlock) {
  const TRun run = RunHttpGet({"--trace", m_nginx.Url("/big.exe"), m_folder / "big.exe"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines;
  std::istringstream err(run.err);
  for (std::string line; std::getline(err, line);) {
    lines.push_back(line);
  }
  const std::string size = std::to_string(m_big.size());
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "status hsConnecting Connecting to 127.0.0.1.");
  EXPECT_EQ(lines[1], "status hsConnected Connected.");
  EXPECT_EQ(lines[2], "work-begin read " + size);
  EXPECT_EQ(lines[lines.size() - 3], "work read " + size);
  EXPECT_EQ(lines[lines.size() - 2], "work-end read");
  EXPECT_EQ(lines.back(), "done 200 " + size);
  // In between only growing counts: the body arrives in many blocks, each reported once.
  int64_t previous = 0;
  for (size_t i = 3; i + 2 < lines.size(); ++i) {
    ASSERT_EQ(lines[i].rfind("work read ", 0), 0u) << lines[i];
    const int64_t count = std::stoll(lines[i].substr(10));
    EXPECT_GT(count, previous) << lines[i];
    previous = count;
  }
  EXPECT_GT(lines.size(), 10u) << "a body of several MiB is not one block";
}

TEST_F(HttpGetNginx, ARedirectIsAnErrorAtTheWindowsSettings) {
  const TRun run = RunHttpGet({m_nginx.Url("/folder"), "-"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error EIdHTTPProtocolException 301 HTTP/1.1 301 Moved Permanently\n");
  EXPECT_EQ(run.out, "");
}

// ---- Failures below HTTP -----------------------------------------------------------------------

TEST(HttpGet, ARefusedConnectionReportsTheSocketError) {
  TempFolder folder("kavora-httpget");
  const uint16_t port = kv::test::UnusedLoopbackPort();
  const TRun run = RunHttpGet({"http://127.0.0.1:" + std::to_string(port) + "/x", folder / "x"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error EIdSocketError 10061 Socket Error # 10061\\r\\nConnection refused.\n");
  EXPECT_TRUE(folder.Names().empty());
}

TEST(HttpGet, AnUnknownSchemeFailsBeforeConnecting) {
  const TRun run = RunHttpGet({"ftp://127.0.0.1/x", "-"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error EIdUnknownProtocol 0 Unknown Protocol\n");
}

TEST(HttpGet, AMissingFolderFailsBeforeTheRequest) {
  kv::test::ScriptedServer server(
      kv::test::Script().ReadRequestHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"));
  TempFolder folder("kavora-httpget");
  const std::string file = folder / "no-such-folder/x";
  const TRun run = RunHttpGet({server.BaseUrl() + "/x", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error EIdStreamError 0 Cannot create a temporary file beside \"" + file +
                         "\": No such file or directory\n");
  EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST(HttpGet, ABodyCutShortRemovesTheTemporaryFile) {
  // 100 bytes announced, 10 sent, then the server closes.
  kv::test::ScriptedServer server(
      kv::test::Script()
          .ReadRequestHead()
          .Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789")
          .CloseGracefully());
  TempFolder folder("kavora-httpget");
  WriteFile(folder / "f.bin", "keep me");
  const TRun run = RunHttpGet({server.BaseUrl() + "/f.bin", folder / "f.bin"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error EIdConnClosedGracefully 0 Connection Closed Gracefully.\n");
  EXPECT_EQ(ReadFile(folder / "f.bin"), "keep me");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"f.bin"});
}

TEST(HttpGet, TraceShowsStatusAndWorkNotifications) {
  kv::test::ScriptedServer server(
      kv::test::Script()
          .ReadRequestHead()
          .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")
          .ReadRequestHead()
          .Send("HTTP/1.1 500 Oops\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbad\n")
          // Left for the client to close, so it decides by the Connection line alone.
          .KeepOpenUntilPeerCloses());
  const TRun run =
      RunHttpGet({"--trace", server.BaseUrl() + "/a", "-", server.BaseUrl() + "/b", "-"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "hello");
  // An address needs no name lookup, so there is no hsResolving.
  EXPECT_EQ(run.err,
            "status hsConnecting Connecting to 127.0.0.1.\n"
            "status hsConnected Connected.\n"
            "work-begin read 5\n"
            "work read 5\n"
            "work-end read\n"
            "done 200 5\n"
            "work-begin read 4\n"
            "work read 4\n"
            "work-end read\n"
            "status hsDisconnecting Disconnecting.\n"
            "status hsDisconnected Disconnected.\n"
            "error EIdHTTPProtocolException 500 HTTP/1.1 500 Oops\n");
}

}  // namespace
}  // namespace kv::tools
