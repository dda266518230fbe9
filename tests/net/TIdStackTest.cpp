#include "net/TIdStack.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/TIdStackLinux.h"

namespace kv::net {
namespace {

// --- Error texts -------------------------------------------------------------------------------

struct MessageCase {
  const char* name;
  int code;
  const char* text;  // the second line of the message
};

class SocketErrorMessageTest : public ::testing::TestWithParam<MessageCase> {
 protected:
  TIdStackUsage m_usage;
};

TEST_P(SocketErrorMessageTest, IsTheCodeAndTheTextOnTwoLines) {
  const MessageCase& c = GetParam();
  EXPECT_EQ(GStack().WSTranslateSocketErrorMsg(c.code),
            "Socket Error # " + std::to_string(c.code) + "\r\n" + c.text);
}

const MessageCase kMessageCases[] = {
    {"EINTR", 10004, "Interrupted system call."},
    {"EBADF", 10009, "Bad file number."},
    {"EACCES", 10013, "Access denied."},
    {"EFAULT", 10014, "Buffer fault."},
    {"EINVAL", 10022, "Invalid argument."},
    {"EMFILE", 10024, "Too many open files."},
    {"EWOULDBLOCK", 10035, "Operation would block."},
    {"EINPROGRESS", 10036, "Operation now in progress."},
    {"EALREADY", 10037, "Operation already in progress."},
    {"ENOTSOCK", 10038, "Socket operation on non-socket."},
    {"EDESTADDRREQ", 10039, "Destination address required."},
    {"EMSGSIZE", 10040, "Message too long."},
    {"EPROTOTYPE", 10041, "Protocol wrong type for socket."},
    {"ENOPROTOOPT", 10042, "Bad protocol option."},
    {"EPROTONOSUPPORT", 10043, "Protocol not supported."},
    {"ESOCKTNOSUPPORT", 10044, "Socket type not supported."},
    {"EOPNOTSUPP", 10045, "Operation not supported on socket."},
    {"EPFNOSUPPORT", 10046, "Protocol family not supported."},
    {"EAFNOSUPPORT", 10047, "Address family not supported by protocol family."},
    {"EADDRINUSE", 10048, "Address already in use."},
    {"EADDRNOTAVAIL", 10049, "Cannot assign requested address."},
    {"ENETDOWN", 10050, "Network is down."},
    {"ENETUNREACH", 10051, "Network is unreachable."},
    {"ENETRESET", 10052, "Net dropped connection or reset."},
    {"ECONNABORTED", 10053, "Software caused connection abort."},
    {"ECONNRESET", 10054, "Connection reset by peer."},
    {"ENOBUFS", 10055, "No buffer space available."},
    {"EISCONN", 10056, "Socket is already connected."},
    {"ENOTCONN", 10057, "Socket is not connected."},
    {"ESHUTDOWN", 10058, "Cannot send or receive after socket is closed."},
    {"ETOOMANYREFS", 10059, "Too many references, cannot splice."},
    {"ETIMEDOUT", 10060, "Connection timed out."},
    {"ECONNREFUSED", 10061, "Connection refused."},
    {"ELOOP", 10062, "Too many levels of symbolic links."},
    {"ENAMETOOLONG", 10063, "File name too long."},
    {"EHOSTDOWN", 10064, "Host is down."},
    {"EHOSTUNREACH", 10065, "No route to host."},
    {"ENOTEMPTY", 10066, "Directory not empty"},
    {"HostNotFound", 11001, "Host not found."},
    // Codes without a text: the message ends with the line break.
    {"UnlistedTryAgain", 11002, ""},
    {"UnlistedNoRecovery", 11003, ""},
    {"UnlistedNoData", 11004, ""},
    {"UnlistedZero", 0, ""},
    {"UnlistedNegative", -1, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, SocketErrorMessageTest, ::testing::ValuesIn(kMessageCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SocketErrorTest, UnlistedCodeEndsWithTheLineBreak) {
  TIdStackUsage usage;
  EXPECT_EQ(GStack().WSTranslateSocketErrorMsg(11004), "Socket Error # 11004\r\n");
}

TEST(SocketErrorTest, NotASocketIsStillASocketError) {
  TIdStackUsage usage;
  try {
    GStack().RaiseSocketError(10038);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_NE(dynamic_cast<const EIdNotASocket*>(&e), nullptr);
    EXPECT_STREQ(e.ClassName(), "EIdNotASocket");
    EXPECT_EQ(e.LastError(), 10038);
    EXPECT_EQ(e.Message(), "Socket Error # 10038\r\nSocket operation on non-socket.");
  }
}

TEST(SocketErrorTest, OtherCodesRaiseThePlainSocketError) {
  TIdStackUsage usage;
  try {
    GStack().RaiseSocketError(10054);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(dynamic_cast<const EIdNotASocket*>(&e), nullptr);
    EXPECT_STREQ(e.ClassName(), "EIdSocketError");
    EXPECT_EQ(e.LastError(), 10054);
    EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
}

TEST(SocketErrorTest, ACallOnSomethingThatIsNoSocketRaisesNotASocket) {
  TIdStackUsage usage;
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  try {
    GStack().GetSocketOption(pipeEnds[0], Id_SOL_SOCKET, Id_SO_TYPE);
    ADD_FAILURE() << "no exception";
  } catch (const EIdNotASocket& e) {
    EXPECT_EQ(e.LastError(), 10038);
    EXPECT_EQ(e.Message(), "Socket Error # 10038\r\nSocket operation on non-socket.");
  }
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

TEST(SocketErrorTest, CheckForSocketErrorPassesEverythingButMinusOne) {
  TIdStackUsage usage;
  EXPECT_EQ(GStack().CheckForSocketError(0), 0);
  EXPECT_EQ(GStack().CheckForSocketError(17), 17);
  EXPECT_EQ(GStack().CheckForSocketError(-2), -2);
  errno = ECONNREFUSED;
  try {
    GStack().CheckForSocketError(-1);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
}

// --- errno and resolver codes ------------------------------------------------------------------

struct CodeCase {
  const char* name;
  int platformCode;
  int wsaCode;
};

class ErrnoMappingTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ErrnoMappingTest, GivesTheWindowsSocketsCode) {
  EXPECT_EQ(TIdStackLinux::ErrnoToWSAError(GetParam().platformCode), GetParam().wsaCode);
}

const CodeCase kErrnoCases[] = {
    {"EINTR", EINTR, 10004},
    {"EBADF", EBADF, 10009},
    {"EACCES", EACCES, 10013},
    {"EFAULT", EFAULT, 10014},
    {"EINVAL", EINVAL, 10022},
    {"EMFILE", EMFILE, 10024},
    {"EWOULDBLOCK", EWOULDBLOCK, 10035},
    {"EAGAIN", EAGAIN, 10035},
    {"EINPROGRESS", EINPROGRESS, 10036},
    {"EALREADY", EALREADY, 10037},
    {"ENOTSOCK", ENOTSOCK, 10038},
    {"EDESTADDRREQ", EDESTADDRREQ, 10039},
    {"EMSGSIZE", EMSGSIZE, 10040},
    {"EPROTOTYPE", EPROTOTYPE, 10041},
    {"ENOPROTOOPT", ENOPROTOOPT, 10042},
    {"EPROTONOSUPPORT", EPROTONOSUPPORT, 10043},
    {"ESOCKTNOSUPPORT", ESOCKTNOSUPPORT, 10044},
    {"EOPNOTSUPP", EOPNOTSUPP, 10045},
    {"EPFNOSUPPORT", EPFNOSUPPORT, 10046},
    {"EAFNOSUPPORT", EAFNOSUPPORT, 10047},
    {"EADDRINUSE", EADDRINUSE, 10048},
    {"EADDRNOTAVAIL", EADDRNOTAVAIL, 10049},
    {"ENETDOWN", ENETDOWN, 10050},
    {"ENETUNREACH", ENETUNREACH, 10051},
    {"ENETRESET", ENETRESET, 10052},
    {"ECONNABORTED", ECONNABORTED, 10053},
    {"ECONNRESET", ECONNRESET, 10054},
    {"EPIPE", EPIPE, 10054},
    {"ENOBUFS", ENOBUFS, 10055},
    {"EISCONN", EISCONN, 10056},
    {"ENOTCONN", ENOTCONN, 10057},
    {"ESHUTDOWN", ESHUTDOWN, 10058},
    {"ETOOMANYREFS", ETOOMANYREFS, 10059},
    {"ETIMEDOUT", ETIMEDOUT, 10060},
    {"ECONNREFUSED", ECONNREFUSED, 10061},
    {"ELOOP", ELOOP, 10062},
    {"ENAMETOOLONG", ENAMETOOLONG, 10063},
    {"EHOSTDOWN", EHOSTDOWN, 10064},
    {"EHOSTUNREACH", EHOSTUNREACH, 10065},
    {"ENOTEMPTY", ENOTEMPTY, 10066},
    {"UnlistedPassesUnchanged", ENOENT, ENOENT},
};

INSTANTIATE_TEST_SUITE_P(Table, ErrnoMappingTest, ::testing::ValuesIn(kErrnoCases),
                         [](const auto& info) { return std::string(info.param.name); });

class AddrInfoMappingTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(AddrInfoMappingTest, GivesTheWindowsSocketsCode) {
  EXPECT_EQ(TIdStackLinux::AddrInfoErrorToWSAError(GetParam().platformCode, ETIMEDOUT),
            GetParam().wsaCode);
}

const CodeCase kAddrInfoCases[] = {
    {"NoName", EAI_NONAME, 11001},
    {"NoData", EAI_NODATA, 11001},
    {"Again", EAI_AGAIN, 11002},
    {"Fail", EAI_FAIL, 11003},
    {"AddrFamily", EAI_ADDRFAMILY, 11004},
    {"Family", EAI_FAMILY, 10047},
    {"SockType", EAI_SOCKTYPE, 10044},
    {"Service", EAI_SERVICE, 10109},
    {"BadFlags", EAI_BADFLAGS, 10022},
    {"Memory", EAI_MEMORY, 8},
    {"SystemUsesErrno", EAI_SYSTEM, 10060},
    {"UnknownIsNoData", -12345, 11004},
};

INSTANTIATE_TEST_SUITE_P(Table, AddrInfoMappingTest, ::testing::ValuesIn(kAddrInfoCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- IPv4 literals -----------------------------------------------------------------------------

struct IsIPCase {
  const char* name;
  const char* text;
  bool isIP;
};

class IsIPTest : public ::testing::TestWithParam<IsIPCase> {};

TEST_P(IsIPTest, AcceptsOnlyFourPartsFrom0To255) {
  EXPECT_EQ(TIdStack::IsIP(GetParam().text), GetParam().isIP) << '"' << GetParam().text << '"';
}

const IsIPCase kIsIPCases[] = {
    {"Plain", "192.168.1.20", true},
    {"AllZero", "0.0.0.0", true},
    {"AllMax", "255.255.255.255", true},
    {"SpacesTrimmed", " 10 . 0.0 .1 ", true},
    {"LeadingZeros", "010.001.000.009", true},
    {"PartAbove255", "10.0.256.1", false},
    {"HugePart", "10.0.99999999999999999999.1", false},
    {"ThreePartsOnly", "10.0.1", false},
    {"FiveParts", "10.0.0.1.5", false},
    {"TrailingText", "10.0.0.1abc", false},
    {"TrailingDot", "10.0.0.1.", false},
    {"EmptyPart", "10..0.1", false},
    {"Empty", "", false},
    {"Negative", "-1.0.0.1", false},
    {"Name", "localhost", false},
    {"HexPart", "0x7f.0.0.1", false},
    {"IPv6", "::1", false},
};

INSTANTIATE_TEST_SUITE_P(Table, IsIPTest, ::testing::ValuesIn(kIsIPCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Name resolution ---------------------------------------------------------------------------

// Replaces the resolver for one test and restores the previous one afterwards. Counts calls
// and can answer with an error code or a fixed list of addresses.
class FakeResolver {
 public:
  FakeResolver() {
    m_previous = TIdStackLinux::SetResolverFunctions(
        {[this](const char* node, const char*, const addrinfo* hints, addrinfo** result) {
           ++m_calls;
           m_lastNode = node;
           m_lastHints = *hints;
           if (m_answer != 0) {
             return m_answer;
           }
           *result = m_list.empty() ? nullptr : &m_list[0];
           return 0;
         },
         [this](addrinfo* list) {
           ++m_frees;
           EXPECT_EQ(list, m_list.empty() ? nullptr : &m_list[0]);
         }});
  }
  ~FakeResolver() { TIdStackLinux::SetResolverFunctions(std::move(m_previous)); }

  void AnswerError(int code) { m_answer = code; }
  void AnswerIPv4(std::vector<uint32_t> hostOrderAddresses) {
    m_in4.resize(hostOrderAddresses.size());
    for (size_t i = 0; i < hostOrderAddresses.size(); ++i) {
      m_in4[i] = sockaddr_in{};
      m_in4[i].sin_family = AF_INET;
      m_in4[i].sin_addr.s_addr = htonl(hostOrderAddresses[i]);
    }
    Link(
        AF_INET, [&](size_t i) { return reinterpret_cast<sockaddr*>(&m_in4[i]); },
        sizeof(sockaddr_in), hostOrderAddresses.size());
  }
  void AnswerIPv6(std::vector<in6_addr> addresses) {
    m_in6.resize(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
      m_in6[i] = sockaddr_in6{};
      m_in6[i].sin6_family = AF_INET6;
      m_in6[i].sin6_addr = addresses[i];
    }
    Link(
        AF_INET6, [&](size_t i) { return reinterpret_cast<sockaddr*>(&m_in6[i]); },
        sizeof(sockaddr_in6), addresses.size());
  }

  int Calls() const { return m_calls; }
  int Frees() const { return m_frees; }
  const std::string& LastNode() const { return m_lastNode; }
  const addrinfo& LastHints() const { return m_lastHints; }

 private:
  template <typename AddressOf>
  void Link(int family, AddressOf addressOf, socklen_t length, size_t count) {
    m_list.assign(count, addrinfo{});
    for (size_t i = 0; i < count; ++i) {
      m_list[i].ai_family = family;
      m_list[i].ai_socktype = SOCK_STREAM;
      m_list[i].ai_addr = addressOf(i);
      m_list[i].ai_addrlen = length;
      m_list[i].ai_next = i + 1 < count ? &m_list[i + 1] : nullptr;
    }
  }

  TIdStackLinux::TResolverFunctions m_previous;
  int m_answer = 0;
  int m_calls = 0;
  int m_frees = 0;
  std::string m_lastNode;
  addrinfo m_lastHints{};
  std::vector<addrinfo> m_list;
  std::vector<sockaddr_in> m_in4;
  std::vector<sockaddr_in6> m_in6;
};

class ResolveHostTest : public ::testing::Test {
 protected:
  TIdStackUsage m_usage;
  FakeResolver m_resolver;
};

TEST_F(ResolveHostTest, LocalhostInAnyCaseNeedsNoLookup) {
  for (const char* host : {"LOCALHOST", "localhost", "LocalHost"}) {
    EXPECT_EQ(GStack().ResolveHost(host, TIdIPVersion::Id_IPv4), "127.0.0.1") << host;
    EXPECT_EQ(GStack().ResolveHost(host, TIdIPVersion::Id_IPv6), "::1") << host;
  }
  EXPECT_EQ(m_resolver.Calls(), 0);
}

TEST_F(ResolveHostTest, AnIPv4LiteralIsItsOwnAddress) {
  EXPECT_EQ(GStack().ResolveHost("192.0.2.10", TIdIPVersion::Id_IPv4), "192.0.2.10");
  EXPECT_EQ(m_resolver.Calls(), 0);
}

TEST_F(ResolveHostTest, AnIPv6LiteralGivesItsCanonicalText) {
  struct {
    const char* literal;
    const char* canonical;
  } cases[] = {
      {"::1", "0:0:0:0:0:0:0:1"},
      {"fe80::1:abcd", "FE80:0:0:0:0:0:1:ABCD"},
      {"2001:0db8:0000:0000:0000:ff00:0042:8329", "2001:DB8:0:0:0:FF00:42:8329"},
      {"::", "0:0:0:0:0:0:0:0"},
      {"::ffff:192.0.2.1", "0:0:0:0:0:FFFF:C000:201"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GStack().ResolveHost(c.literal, TIdIPVersion::Id_IPv6), c.canonical) << c.literal;
    EXPECT_TRUE(GStack().IsIPv6(c.literal)) << c.literal;
  }
  EXPECT_EQ(m_resolver.Calls(), 0);
  EXPECT_EQ(GStack().MakeCanonicalIPv6Address("1.2.3.4"), "");
  EXPECT_EQ(GStack().MakeCanonicalIPv6Address("[::1]"), "");
}

TEST_F(ResolveHostTest, NonLiteralsGoToTheLookupWithTheFamilyAndStreamSockets) {
  m_resolver.AnswerIPv4({0xC0000207});
  for (const char* host : {"10.0.256.1", "10.0.1", "10.0.0.1abc", "server.example"}) {
    EXPECT_EQ(GStack().ResolveHost(host, TIdIPVersion::Id_IPv4), "192.0.2.7") << host;
    EXPECT_EQ(m_resolver.LastNode(), host);
  }
  EXPECT_EQ(m_resolver.Calls(), 4);
  EXPECT_EQ(m_resolver.Frees(), 4);
  const addrinfo& hints = m_resolver.LastHints();
  EXPECT_EQ(hints.ai_family, AF_INET);
  EXPECT_EQ(hints.ai_socktype, SOCK_STREAM);
  EXPECT_EQ(hints.ai_protocol, 0);
  EXPECT_EQ(hints.ai_flags, 0);
}

TEST_F(ResolveHostTest, OnlyTheFirstAddressIsUsed) {
  m_resolver.AnswerIPv4({0x0A000001, 0x7F000001});
  EXPECT_EQ(GStack().ResolveHost("two.example", TIdIPVersion::Id_IPv4), "10.0.0.1");
  EXPECT_EQ(m_resolver.Frees(), 1);
}

TEST_F(ResolveHostTest, AnIPv6AnswerIsEightUpperCaseGroups) {
  in6_addr first{};
  first.s6_addr[0] = 0x20;
  first.s6_addr[1] = 0x01;
  first.s6_addr[2] = 0x0d;
  first.s6_addr[3] = 0xb8;
  first.s6_addr[15] = 0xab;
  m_resolver.AnswerIPv6({first, in6addr_loopback});
  EXPECT_EQ(GStack().ResolveHost("six.example", TIdIPVersion::Id_IPv6), "2001:DB8:0:0:0:0:0:AB");
  EXPECT_EQ(m_resolver.LastHints().ai_family, AF_INET6);
}

struct LookupFailureCase {
  const char* name;
  int answer;
  int code;
  const char* message;
};

class LookupFailureTest : public ::testing::TestWithParam<LookupFailureCase> {
 protected:
  TIdStackUsage m_usage;
  FakeResolver m_resolver;
};

TEST_P(LookupFailureTest, RaisesTheSocketErrorOfTheCode) {
  m_resolver.AnswerError(GetParam().answer);
  try {
    GStack().ResolveHost("server.example", TIdIPVersion::Id_IPv4);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_STREQ(e.ClassName(), "EIdSocketError");
    EXPECT_EQ(e.LastError(), GetParam().code);
    EXPECT_EQ(e.Message(), GetParam().message);
  }
  EXPECT_EQ(m_resolver.Frees(), 0);  // nothing to release after a failure
}

const LookupFailureCase kLookupFailures[] = {
    {"NotFound", EAI_NONAME, 11001, "Socket Error # 11001\r\nHost not found."},
    {"TryAgain", EAI_AGAIN, 11002, "Socket Error # 11002\r\n"},
    {"NonRecoverable", EAI_FAIL, 11003, "Socket Error # 11003\r\n"},
    {"NoAddressOfTheFamily", EAI_ADDRFAMILY, 11004, "Socket Error # 11004\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Codes, LookupFailureTest, ::testing::ValuesIn(kLookupFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResolveHostTest, AnAnswerWithoutAddressesIsNoData) {
  m_resolver.AnswerIPv4({});
  try {
    GStack().ResolveHost("empty.example", TIdIPVersion::Id_IPv4);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11004);
    EXPECT_EQ(e.Message(), "Socket Error # 11004\r\n");
  }
}

// The C library rejects a name with "!" before it asks any server, so this runs the real
// resolver without a DNS query.
TEST(ResolveHostRealTest, AnInvalidNameIsHostNotFound) {
  TIdStackUsage usage;
  for (TIdIPVersion version : {TIdIPVersion::Id_IPv4, TIdIPVersion::Id_IPv6}) {
    try {
      GStack().ResolveHost("no!such!host", version);
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_STREQ(e.ClassName(), "EIdSocketError");
      EXPECT_EQ(e.LastError(), 11001);
      EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
  }
}

TEST(ResolveHostRealTest, AnUnknownIPVersionIsUnsupported) {
  TIdStackUsage usage;
  try {
    GStack().ResolveHost("localhost", static_cast<TIdIPVersion>(7));
    FAIL() << "no exception";
  } catch (const EIdIPVersionUnsupported& e) {
    EXPECT_STREQ(e.ClassName(), "EIdIPVersionUnsupported");
    EXPECT_EQ(e.Message(), "The requested IPVersion / Address family is not supported.");
    EXPECT_NE(dynamic_cast<const EIdStackError*>(&e), nullptr);
  }
}

// --- Usage count and the stack object ----------------------------------------------------------

TEST(StackUsageTest, TheLastReleaseFreesTheStackAndTheNextUseCreatesANewOne) {
  ASSERT_EQ(TIdStack::UsageCount(), 0) << "a previous test kept a usage";
  ASSERT_EQ(TIdStack::Instance(), nullptr);
  int64_t created = TIdStack::InstancesCreated();
  {
    TIdStackUsage first;
    TIdStack* stack = TIdStack::Instance();
    ASSERT_NE(stack, nullptr);
    EXPECT_NE(dynamic_cast<TIdStackLinux*>(stack), nullptr);
    EXPECT_NE(dynamic_cast<TIdStackBSDBase*>(stack), nullptr);
    {
      TIdStackUsage second;
      EXPECT_EQ(TIdStack::UsageCount(), 2);
      EXPECT_EQ(TIdStack::Instance(), stack);  // shared, not created again
    }
    EXPECT_EQ(TIdStack::Instance(), stack);
    EXPECT_EQ(TIdStack::InstancesCreated(), created + 1);
  }
  EXPECT_EQ(TIdStack::UsageCount(), 0);
  EXPECT_EQ(TIdStack::Instance(), nullptr);
  EXPECT_THROW(GStack(), EIdStackError);
  {
    TIdStackUsage again;
    EXPECT_NE(TIdStack::Instance(), nullptr);
    EXPECT_EQ(TIdStack::InstancesCreated(), created + 2);
  }
  EXPECT_EQ(TIdStack::Instance(), nullptr);
}

TEST(StackUsageTest, AnUnbalancedReleaseDoesNotGoBelowZero) {
  ASSERT_EQ(TIdStack::UsageCount(), 0);
  TIdStack::DecUsage();
  EXPECT_EQ(TIdStack::UsageCount(), 0);
  TIdStackUsage usage;
  EXPECT_EQ(TIdStack::UsageCount(), 1);
  EXPECT_NE(TIdStack::Instance(), nullptr);
}

TEST(StackUsageTest, AFailingCreationLeavesNoStackAndTheCountUnchanged) {
  ASSERT_EQ(TIdStack::UsageCount(), 0);
  auto previous = TIdStack::SetStackClass([]() -> std::unique_ptr<TIdStack> {
    throw EIdWinsockStubError(126, "The specified module could not be found.",
                              "Error on loading Winsock2 library (WS2_32.DLL)");
  });
  try {
    TIdStack::IncUsage();
    ADD_FAILURE() << "no exception";
  } catch (const EIdWinsockStubError& e) {
    EXPECT_STREQ(e.ClassName(), "EIdWinsockStubError");
    EXPECT_EQ(e.Win32Error(), 126u);
    EXPECT_EQ(e.Title(), "Error on loading Winsock2 library (WS2_32.DLL)");
    EXPECT_EQ(e.Message(),
              "Error on loading Winsock2 library (WS2_32.DLL): The specified module could not "
              "be found.");
  }
  EXPECT_EQ(TIdStack::UsageCount(), 0);
  EXPECT_EQ(TIdStack::Instance(), nullptr);
  TIdStack::SetStackClass(std::move(previous));
  TIdStackUsage usage;  // the platform's stack again
  EXPECT_NE(dynamic_cast<TIdStackLinux*>(TIdStack::Instance()), nullptr);
}

TEST(StackUsageTest, StubErrorWithoutCodeIsTheTitleAlone) {
  EIdWinsockStubError e(0, "", "Error on call to Winsock2 library function send");
  EXPECT_EQ(e.Message(), "Error on call to Winsock2 library function send");
}

}  // namespace
}  // namespace kv::net
