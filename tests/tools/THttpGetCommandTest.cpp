#include "tools/THttpGetCommand.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "http/EIdHTTPException.h"
#include "net/IdExceptions.h"
#include "net/IdStackExceptions.h"

namespace kv::tools {
namespace {

struct TErrorCase {
  const char* name;
  std::shared_ptr<std::exception> error;
  const char* line;
};

class ErrorLine : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(ErrorLine, NamesClassCodeAndMessageOnOneLine) {
  EXPECT_EQ(THttpGetCommand::ErrorLine(*GetParam().error), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, ErrorLine,
    ::testing::Values(
        TErrorCase{"SocketError",
                   std::make_shared<kv::net::EIdSocketError>(
                       10061, "Socket Error # 10061\r\nConnection refused."),
                   "error EIdSocketError 10061 Socket Error # 10061\\r\\nConnection refused."},
        TErrorCase{"DerivedSocketError",
                   std::make_shared<kv::net::EIdNotASocket>(10038, "Socket Error # 10038"),
                   "error EIdNotASocket 10038 Socket Error # 10038"},
        TErrorCase{
            "ProtocolError",
            std::make_shared<kv::http::EIdHTTPProtocolException>(404, "HTTP/1.1 404 Not Found",
                                                                 "<html>\r\nbody\r\n</html>"),
            "error EIdHTTPProtocolException 404 HTTP/1.1 404 Not Found"},
        TErrorCase{"UnparsableStatus",
                   std::make_shared<kv::http::EIdHTTPProtocolException>(-1, "HTTP/1.1 abc", ""),
                   "error EIdHTTPProtocolException -1 HTTP/1.1 abc"},
        TErrorCase{"OtherFailure", std::make_shared<kv::net::EIdReadTimeout>(),
                   "error EIdReadTimeout 0 Read timed out."},
        TErrorCase{"LoneLineFeed", std::make_shared<kv::net::EIdException>("a\nb\rc"),
                   "error EIdException 0 a\\nb\\rc"},
        TErrorCase{"StandardLibrary", std::make_shared<std::runtime_error>("boom"),
                   "error std::runtime_error 0 boom"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(THttpGetCommand, RefusesArgumentsThatAreNotPairsBeforeDoingAnything) {
  std::ostringstream out;
  std::ostringstream err;
  THttpGetCommand command(out, err);
  EXPECT_EQ(command.Run({"--trace", "http://127.0.0.1:1/a"}), THttpGetCommand::kExitUsage);
  EXPECT_EQ(err.str(), std::string(THttpGetCommand::kUsage) + "\n");
  EXPECT_EQ(out.str(), "");
}

TEST(THttpGetCommand, NamesEveryStatus) {
  using kv::net::TIdStatus;
  EXPECT_STREQ(THttpGetCommand::StatusName(TIdStatus::hsResolving), "hsResolving");
  EXPECT_STREQ(THttpGetCommand::StatusName(TIdStatus::hsDisconnected), "hsDisconnected");
  EXPECT_STREQ(THttpGetCommand::StatusName(TIdStatus::hsStatusText), "hsStatusText");
  EXPECT_STREQ(THttpGetCommand::WorkModeName(kv::net::TWorkMode::wmWrite), "write");
}

}  // namespace
}  // namespace kv::tools
