#include "net/TIdStackLinux.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>

namespace kv::net {

namespace {

struct TCodePair {
  int from;
  int to;
};

// errno -> Windows Sockets code.
constexpr TCodePair kErrnoCodes[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EPERM, 10013},  // a connect refused by a local firewall rule
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    // On Linux EPIPE is what a send gets once the peer has closed or reset the connection;
    // Windows reports that case as a reset. (We never send after shutting our own side down,
    // which is the case 10058 describes.)
    {EPIPE, 10054},
    {ENOBUFS, 10055},
    {ENOMEM, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
};

// getaddrinfo result -> Windows Sockets code (EAI_SYSTEM is handled apart).
constexpr TCodePair kAddrInfoCodes[] = {
    {EAI_NONAME, 11001},
#ifdef EAI_NODATA
    // The name exists but has no address: for the user as much "not found" as a missing name.
    {EAI_NODATA, 11001},
#endif
    {EAI_AGAIN, 11002},
    {EAI_FAIL, 11003},
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, 11004},
#endif
    {EAI_FAMILY, 10047},
    {EAI_SOCKTYPE, 10044},
    {EAI_SERVICE, 10109},
    {EAI_BADFLAGS, 10022},
    {EAI_MEMORY, 8},
};

constexpr int kWSANoData = 11004;
constexpr int kWSAEProtoNoSupport = 10043;
constexpr int kWSAEProtoOpt = 10042;
constexpr int kWSAESockTNoSupport = 10044;
constexpr int kIPv6Groups = 8;

int Lookup(const TCodePair* begin, const TCodePair* end, int from, int otherwise) {
  for (const TCodePair* entry = begin; entry != end; ++entry) {
    if (entry->from == from) {
      return entry->to;
    }
  }
  return otherwise;
}

int AddressFamily(TIdIPVersion ipVersion) {
  switch (ipVersion) {
    case TIdIPVersion::Id_IPv4:
      return AF_INET;
    case TIdIPVersion::Id_IPv6:
      return AF_INET6;
  }
  throw EIdIPVersionUnsupported();
}

std::mutex g_resolverLock;
TIdStackLinux::TResolverFunctions g_resolver;

// Eight upper-case groups without leading zeros, no "::" shortening.
std::string IPv6Text(const in6_addr& address) {
  std::string text;
  for (int group = 0; group < kIPv6Groups; ++group) {
    unsigned value =
        (static_cast<unsigned>(address.s6_addr[2 * group]) << 8) | address.s6_addr[2 * group + 1];
    char part[8];
    std::snprintf(part, sizeof part, group == 0 ? "%X" : ":%X", value);
    text += part;
  }
  return text;
}

std::string IPv4Text(const in_addr& address) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&address.s_addr);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace

std::unique_ptr<TIdStack> NewPlatformStack() {
  return std::make_unique<TIdStackLinux>();
}

int TIdStackLinux::ErrnoToWSAError(int errnoValue) {
  return Lookup(std::begin(kErrnoCodes), std::end(kErrnoCodes), errnoValue, errnoValue);
}

int TIdStackLinux::AddrInfoErrorToWSAError(int result, int errnoValue) {
  if (result == EAI_SYSTEM) {
    return ErrnoToWSAError(errnoValue);
  }
  return Lookup(std::begin(kAddrInfoCodes), std::end(kAddrInfoCodes), result, kWSANoData);
}

TIdStackLinux::TResolverFunctions TIdStackLinux::SetResolverFunctions(
    TResolverFunctions functions) {
  std::lock_guard<std::mutex> lock(g_resolverLock);
  return std::exchange(g_resolver, std::move(functions));
}

int TIdStackLinux::WSGetLastError() {
  return ErrnoToWSAError(errno);
}

std::string TIdStackLinux::MakeCanonicalIPv6Address(const std::string& text) const {
  in6_addr address{};
  if (inet_pton(AF_INET6, text.c_str(), &address) != 1) {
    return {};
  }
  return IPv6Text(address);
}

std::string TIdStackLinux::HostByName(const std::string& host, TIdIPVersion ipVersion) {
  addrinfo hints{};
  hints.ai_family = AddressFamily(ipVersion);
  hints.ai_socktype = SOCK_STREAM;
  TResolverFunctions resolver;
  {
    std::lock_guard<std::mutex> lock(g_resolverLock);
    resolver = g_resolver;
  }
  addrinfo* result = nullptr;
  errno = 0;
  int answer = resolver.getAddrInfo ? resolver.getAddrInfo(host.c_str(), nullptr, &hints, &result)
                                    : getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (answer != 0) {
    RaiseSocketError(AddrInfoErrorToWSAError(answer, errno));
  }
  auto release = [&] {
    if (resolver.freeAddrInfo) {
      resolver.freeAddrInfo(result);
    } else {
      freeaddrinfo(result);
    }
  };
  // Only the first address is ever used.
  std::string text;
  if (result != nullptr && result->ai_addr != nullptr) {
    if (result->ai_family == AF_INET) {
      text = IPv4Text(reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr);
    } else if (result->ai_family == AF_INET6) {
      text = IPv6Text(reinterpret_cast<const sockaddr_in6*>(result->ai_addr)->sin6_addr);
    }
  }
  release();
  if (text.empty()) {
    RaiseSocketError(kWSANoData);  // an answer without a usable address
  }
  return text;
}

namespace {

// The socket address for ip and port; an empty ip is the wildcard address. Text that is not an
// address of the version raises 10022.
socklen_t BuildAddress(TIdStack& stack, const std::string& ip, uint16_t port,
                       TIdIPVersion ipVersion, sockaddr_storage& address) {
  std::memset(&address, 0, sizeof address);
  switch (ipVersion) {
    case TIdIPVersion::Id_IPv4: {
      auto& in4 = reinterpret_cast<sockaddr_in&>(address);
      in4.sin_family = AF_INET;
      in4.sin_port = htons(port);
      if (!ip.empty()) {
        std::array<uint8_t, 4> bytes{};
        if (!TIdStack::IPv4ToBytes(ip, bytes)) {
          stack.RaiseSocketError(Id_WSAEINVAL);
        }
        std::memcpy(&in4.sin_addr.s_addr, bytes.data(), bytes.size());
      }
      return sizeof in4;
    }
    case TIdIPVersion::Id_IPv6: {
      auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
      in6.sin6_family = AF_INET6;
      in6.sin6_port = htons(port);
      if (!ip.empty() && inet_pton(AF_INET6, ip.c_str(), &in6.sin6_addr) != 1) {
        stack.RaiseSocketError(Id_WSAEINVAL);
      }
      return sizeof in6;
    }
  }
  throw EIdIPVersionUnsupported();
}

void ReadAddress(const sockaddr_storage& address, std::string& ip, uint16_t& port,
                 TIdIPVersion& ipVersion) {
  if (address.ss_family == AF_INET) {
    const auto& in4 = reinterpret_cast<const sockaddr_in&>(address);
    ip = IPv4Text(in4.sin_addr);
    port = ntohs(in4.sin_port);
    ipVersion = TIdIPVersion::Id_IPv4;
  } else if (address.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    ip = IPv6Text(in6.sin6_addr);
    port = ntohs(in6.sin6_port);
    ipVersion = TIdIPVersion::Id_IPv6;
  } else {
    throw EIdIPVersionUnsupported();
  }
}

// Our socket type numbering -> the platform's; -1 for a type we do not know.
int PlatformSocketType(int socketType) {
  switch (socketType) {
    case Id_SOCK_STREAM:
      return SOCK_STREAM;
    case Id_SOCK_DGRAM:
      return SOCK_DGRAM;
    default:
      return -1;
  }
}

// Our (level, option) numbering -> the platform's; false for a pair we do not know.
bool PlatformOption(int level, int option, int& platformLevel, int& platformOption) {
  if (level == Id_SOL_SOCKET && option == Id_SO_REUSEADDR) {
    platformLevel = SOL_SOCKET;
    platformOption = SO_REUSEADDR;
  } else if (level == Id_SOL_SOCKET && option == Id_SO_TYPE) {
    platformLevel = SOL_SOCKET;
    platformOption = SO_TYPE;
  } else if (level == Id_IPPROTO_TCP && option == Id_TCP_NODELAY) {
    platformLevel = IPPROTO_TCP;
    platformOption = TCP_NODELAY;
  } else {
    return false;
  }
  return true;
}

}  // namespace

TIdStackSocketHandle TIdStackLinux::NewSocketHandle(int socketType, int protocol,
                                                    TIdIPVersion ipVersion) {
  int type = PlatformSocketType(socketType);
  if (type < 0) {
    RaiseSocketError(kWSAESockTNoSupport);
  }
  if (protocol < 0) {
    RaiseSocketError(kWSAEProtoNoSupport);
  }
  // Close-on-exec from the start: a started installer must not inherit our connection.
  return CheckForSocketError(socket(AddressFamily(ipVersion), type | SOCK_CLOEXEC, protocol));
}

void TIdStackLinux::Bind(TIdStackSocketHandle handle, const std::string& ip, uint16_t port,
                         TIdIPVersion ipVersion) {
  sockaddr_storage address;
  socklen_t length = BuildAddress(*this, ip, port, ipVersion, address);
  CheckForSocketError(bind(handle, reinterpret_cast<const sockaddr*>(&address), length));
}

void TIdStackLinux::Connect(TIdStackSocketHandle handle, const std::string& ip, uint16_t port,
                            TIdIPVersion ipVersion) {
  sockaddr_storage address;
  socklen_t length = BuildAddress(*this, ip, port, ipVersion, address);
  int result = connect(handle, reinterpret_cast<const sockaddr*>(&address), length);
  if (result != 0 && errno == EINTR) {
    // The connect goes on in the background after a signal; wait for its outcome instead of
    // starting it again (a second connect would answer "already in progress").
    pollfd ready{handle, POLLOUT, 0};
    while (poll(&ready, 1, -1) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t size = sizeof error;
    CheckForSocketError(getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size));
    if (error != 0) {
      RaiseSocketError(ErrnoToWSAError(error));
    }
    return;
  }
  CheckForSocketError(result);
}

void TIdStackLinux::Disconnect(TIdStackSocketHandle handle) {
  WSShutdown(handle, Id_SD_Send);
  WSCloseSocket(handle);
}

void TIdStackLinux::GetPeerName(TIdStackSocketHandle handle, std::string& ip, uint16_t& port,
                                TIdIPVersion& ipVersion) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  CheckForSocketError(getpeername(handle, reinterpret_cast<sockaddr*>(&address), &length));
  ReadAddress(address, ip, port, ipVersion);
}

void TIdStackLinux::GetSocketName(TIdStackSocketHandle handle, std::string& ip, uint16_t& port,
                                  TIdIPVersion& ipVersion) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  CheckForSocketError(getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length));
  ReadAddress(address, ip, port, ipVersion);
}

int TIdStackLinux::Receive(TIdStackSocketHandle handle, uint8_t* buffer, int length) {
  if (length < 0) {
    RaiseSocketError(Id_WSAEINVAL);
  }
  for (;;) {
    ssize_t received = recv(handle, buffer, static_cast<size_t>(length), 0);
    if (received < 0 && errno == EINTR) {
      continue;
    }
    return CheckForSocketError(static_cast<int>(received));
  }
}

int TIdStackLinux::Send(TIdStackSocketHandle handle, const uint8_t* bytes, int length, int offset) {
  if (length < 0 || offset < 0) {
    RaiseSocketError(Id_WSAEINVAL);
  }
  if (length == 0) {
    return 0;
  }
  for (;;) {
    // MSG_NOSIGNAL: a peer that has gone gives an error here, never SIGPIPE.
    ssize_t sent = send(handle, bytes + offset, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    return CheckForSocketError(static_cast<int>(sent));
  }
}

int TIdStackLinux::GetSocketOption(TIdStackSocketHandle handle, int level, int option) {
  int platformLevel = 0;
  int platformOption = 0;
  if (!PlatformOption(level, option, platformLevel, platformOption)) {
    RaiseSocketError(kWSAEProtoOpt);
  }
  int value = 0;
  socklen_t length = sizeof value;
  CheckForSocketError(getsockopt(handle, platformLevel, platformOption, &value, &length));
  if (level == Id_SOL_SOCKET && option == Id_SO_TYPE) {
    // Back into our numbering.
    value = value == SOCK_STREAM ? Id_SOCK_STREAM : value == SOCK_DGRAM ? Id_SOCK_DGRAM : value;
  }
  return value;
}

void TIdStackLinux::SetSocketOption(TIdStackSocketHandle handle, int level, int option, int value) {
  int platformLevel = 0;
  int platformOption = 0;
  if (!PlatformOption(level, option, platformLevel, platformOption)) {
    RaiseSocketError(kWSAEProtoOpt);
  }
  CheckForSocketError(setsockopt(handle, platformLevel, platformOption, &value, sizeof value));
}

bool TIdStackLinux::WaitForReadable(TIdStackSocketHandle handle, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool unlimited = timeoutMs < 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  int remaining = unlimited ? -1 : timeoutMs;
  for (;;) {
    pollfd wanted{handle, POLLIN, 0};
    int ready = poll(&wanted, 1, remaining);
    if (ready < 0 && errno == EINTR) {
      if (!unlimited) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        remaining = left.count() > 0 ? static_cast<int>(left.count()) : 0;
      }
      continue;
    }
    CheckForSocketError(ready);
    if (ready > 0 && (wanted.revents & POLLNVAL) != 0) {
      RaiseSocketError(Id_WSAENOTSOCK);  // what a wait on a closed socket reports on Windows
    }
    // An end of stream or a pending error counts as readable: the next receive reports it.
    return ready > 0;
  }
}

void TIdStackLinux::WSCloseSocket(TIdStackSocketHandle handle) {
  close(handle);
}

void TIdStackLinux::WSShutdown(TIdStackSocketHandle handle, int how) {
  shutdown(handle, how == Id_SD_Send ? SHUT_WR : how == 0 ? SHUT_RD : SHUT_RDWR);
}

}  // namespace kv::net
