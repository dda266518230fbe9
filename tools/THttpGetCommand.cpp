#include "tools/THttpGetCommand.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <typeinfo>

#include "http/EIdHTTPException.h"
#include "http/KavoraDownloadSettings.h"
#include "http/TIdHTTP.h"
#include "http/TIdHTTPResponse.h"
#include "net/EIdException.h"
#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"
#include "net/TIdStream.h"

namespace kv::tools {

using kv::net::TIdStatus;
using kv::net::TWorkMode;

namespace {

constexpr int kTemporaryNameAttempts = 100;

std::string Decimal(int64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
  return buffer;
}

[[noreturn]] void FailFile(const std::string& what, int error) {
  throw kv::net::EIdStreamError(what + ": " + std::strerror(error));
}

// Creates a new, empty file with a name of its own in the folder of file (a hidden name made
// from file's name), so the download never touches file until it is complete.
std::string CreateTemporaryBeside(const std::string& file) {
  const std::filesystem::path target(file);
  const std::filesystem::path folder = target.parent_path();
  std::random_device random;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    const std::string name = '.' + target.filename().string() + ".httpget-" + suffix;
    const std::string path = (folder / name).string();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) {
      FailFile("Cannot create a temporary file beside \"" + file + "\"", errno);
    }
  }
  FailFile("Cannot create a temporary file beside \"" + file + "\"", EEXIST);
}

// Removes the temporary file unless the download was moved into place.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(std::string path) : m_path(std::move(path)) {}
  ~TTemporaryFile() {
    if (!m_path.empty()) {
      ::unlink(m_path.c_str());
    }
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  const std::string& Path() const { return m_path; }
  void MoveTo(const std::string& file) {
    if (std::rename(m_path.c_str(), file.c_str()) != 0) {
      FailFile("Cannot rename file \"" + m_path + "\" to \"" + file + "\"", errno);
    }
    m_path.clear();
  }

 private:
  std::string m_path;
};

std::string TypeName(const std::exception& error) {
  const char* mangled = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? demangled.get() : mangled;
}

}  // namespace

THttpGetCommand::THttpGetCommand(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

void THttpGetCommand::Line(const std::string& text) {
  m_err << text << '\n' << std::flush;
}

std::string THttpGetCommand::EscapeLine(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

const char* THttpGetCommand::StatusName(TIdStatus status) {
  switch (status) {
    case TIdStatus::hsResolving:
      return "hsResolving";
    case TIdStatus::hsConnecting:
      return "hsConnecting";
    case TIdStatus::hsConnected:
      return "hsConnected";
    case TIdStatus::hsDisconnecting:
      return "hsDisconnecting";
    case TIdStatus::hsDisconnected:
      return "hsDisconnected";
    case TIdStatus::hsStatusText:
      return "hsStatusText";
    case TIdStatus::ftpTransfer:
      return "ftpTransfer";
    case TIdStatus::ftpReady:
      return "ftpReady";
    case TIdStatus::ftpAborted:
      return "ftpAborted";
  }
  return "unknown";
}

const char* THttpGetCommand::WorkModeName(TWorkMode mode) {
  return mode == TWorkMode::wmRead ? "read" : "write";
}

std::string THttpGetCommand::ErrorLine(const std::exception& error) {
  std::string className;
  int64_t code = 0;
  if (const auto* id = dynamic_cast<const kv::net::EIdException*>(&error)) {
    className = id->ClassName();
  } else {
    className = TypeName(error);
  }
  if (const auto* socket = dynamic_cast<const kv::net::EIdSocketError*>(&error)) {
    code = socket->LastError();
  } else if (const auto* reply = dynamic_cast<const kv::http::EIdReplyRFCError*>(&error)) {
    code = reply->ErrorCode();
  }
  return "error " + className + " " + Decimal(code) + " " + EscapeLine(error.what());
}

bool THttpGetCommand::ParseArguments(const std::vector<std::string>& args) {
  size_t first = 0;
  if (!args.empty() && args[0] == "--trace") {
    m_trace = true;
    first = 1;
  }
  const size_t count = args.size() - first;
  // An option anywhere else would be taken for a URL; refuse anything that looks like one
  // in the first place, so a mistyped option is not fetched.
  const bool looksLikeOption =
      first < args.size() && args[first].size() > 1 && args[first][0] == '-';
  if (count == 0 || count % 2 != 0 || looksLikeOption) {
    Line(kUsage);
    return false;
  }
  for (size_t i = first; i < args.size(); i += 2) {
    m_pairs.push_back({args[i], args[i + 1]});
  }
  return true;
}

void THttpGetCommand::AttachTrace(kv::http::TIdHTTP& http) {
  http.OnWorkBegin = [this](kv::net::TIdComponent&, TWorkMode mode, int64_t countMax) {
    Line(std::string("work-begin ") + WorkModeName(mode) + " " + Decimal(countMax));
  };
  http.OnWork = [this](kv::net::TIdComponent&, TWorkMode mode, int64_t count) {
    Line(std::string("work ") + WorkModeName(mode) + " " + Decimal(count));
  };
  http.OnWorkEnd = [this](kv::net::TIdComponent&, TWorkMode mode) {
    Line(std::string("work-end ") + WorkModeName(mode));
  };
  http.OnStatus = [this](kv::net::TIdComponent&, TIdStatus status, const std::string& text) {
    Line(std::string("status ") + StatusName(status) + " " + EscapeLine(text));
  };
}

void THttpGetCommand::CheckComplete(kv::http::TIdHTTP& http, int64_t bytes) {
  // The client returns normally when the server closes before the announced length; a file
  // that short is not the file that was asked for.
  kv::http::TIdHTTPResponse& response = http.Response();
  if (response.HasContentLength() && bytes < response.ContentLength()) {
    throw kv::net::EIdConnClosedGracefully();
  }
}

int64_t THttpGetCommand::FetchToFile(kv::http::TIdHTTP& http, const TPair& pair) {
  TTemporaryFile temporary(CreateTemporaryBeside(pair.File));
  int64_t size = 0;
  {
    kv::net::TIdFileStream stream(temporary.Path(), kv::net::TIdFileStream::TMode::fmCreate);
    http.Get(pair.Url, stream);
    size = stream.Size();
    CheckComplete(http, size);
    stream.Flush();
  }
  temporary.MoveTo(pair.File);
  return size;
}

int64_t THttpGetCommand::FetchToStandardOutput(kv::http::TIdHTTP& http, const TPair& pair) {
  kv::net::TIdMemoryStream stream;
  http.Get(pair.Url, stream);
  CheckComplete(http, stream.Size());
  m_out.write(reinterpret_cast<const char*>(stream.Memory()), stream.Size());
  m_out.flush();
  if (!m_out) {
    throw kv::net::EIdStreamError("Cannot write to standard output");
  }
  return stream.Size();
}

int THttpGetCommand::Run(const std::vector<std::string>& args) {
  if (!ParseArguments(args)) {
    return kExitUsage;
  }
  try {
    kv::http::TIdHTTP http;
    kv::http::ApplyKavoraDownloadSettings(http);
    if (m_trace) {
      AttachTrace(http);
    }
    for (const TPair& pair : m_pairs) {
      const int64_t bytes = pair.File == kStandardOutput ? FetchToStandardOutput(http, pair)
                                                         : FetchToFile(http, pair);
      Line("done " + Decimal(http.ResponseCode()) + " " + Decimal(bytes));
    }
  } catch (const std::exception& error) {
    Line(ErrorLine(error));
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace kv::tools
