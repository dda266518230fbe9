#pragma once

#include <exception>
#include <iosfwd>
#include <string>
#include <vector>

#include "http/Forward.h"
#include "net/TIdComponent.h"

namespace kv::tools {

// The command-line download tool: fetches each URL into its FILE over one HTTP client with the
// window's settings. A body goes to a temporary file beside FILE and is renamed into place only
// when the transfer succeeded, so FILE is never left half written (a body shorter than its
// announced length counts as failed). Diagnostics go to the error stream, one line each.
class THttpGetCommand {
 public:
  static constexpr int kExitSuccess = 0;
  static constexpr int kExitFailure = 1;
  static constexpr int kExitUsage = 2;
  static constexpr const char* kUsage = "usage: httpget [--trace] URL FILE [URL FILE ...]";
  // The FILE that means standard output.
  static constexpr const char* kStandardOutput = "-";

  // out receives bodies fetched to "-"; err every diagnostic line. Both are borrowed.
  THttpGetCommand(std::ostream& out, std::ostream& err);

  // args without the program name. Returns the exit status.
  int Run(const std::vector<std::string>& args);

  // "error <class> <code> <message>" for a failure; the code is the socket error code, the HTTP
  // status of a protocol error, else 0.
  static std::string ErrorLine(const std::exception& error);
  // text with CR and LF written as \r and \n, so a message stays on one line.
  static std::string EscapeLine(const std::string& text);
  static const char* StatusName(kv::net::TIdStatus status);
  static const char* WorkModeName(kv::net::TWorkMode mode);

 private:
  struct TPair {
    std::string Url;
    std::string File;
  };

  // False (after writing the usage line) when the arguments do not form pairs.
  bool ParseArguments(const std::vector<std::string>& args);
  void AttachTrace(kv::http::TIdHTTP& http);
  // Fetches one pair; the number of body bytes it got.
  int64_t FetchToFile(kv::http::TIdHTTP& http, const TPair& pair);
  int64_t FetchToStandardOutput(kv::http::TIdHTTP& http, const TPair& pair);
  // Raises EIdConnClosedGracefully when fewer bytes arrived than the response announced.
  static void CheckComplete(kv::http::TIdHTTP& http, int64_t bytes);
  void Line(const std::string& text);

  std::ostream& m_out;
  std::ostream& m_err;
  bool m_trace = false;
  std::vector<TPair> m_pairs;
};

}  // namespace kv::tools
