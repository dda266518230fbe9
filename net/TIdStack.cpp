#include "net/TIdStack.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace kv::net {

namespace {

// The process-wide state behind IncUsage/DecUsage. Never destroyed, so a usage counted by a
// static object that outlives this file's statics still finds it.
struct TStackState {
  std::mutex lock;
  std::unique_ptr<TIdStack> stack;
  int usageCount = 0;
  int64_t instancesCreated = 0;
  TIdStack::TStackFactory factory;
};

TStackState& State() {
  static TStackState* state = new TStackState;
  return *state;
}

struct TErrorText {
  int code;
  const char* text;
};

constexpr TErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

constexpr int kMaxIPv4Part = 255;

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// Leading and trailing blanks and control characters removed.
std::string Trimmed(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) {
    ++first;
  }
  while (last > first && IsBlank(text[last - 1])) {
    --last;
  }
  return text.substr(first, last - first);
}

// One part of an IPv4 literal: its decimal value, or -1 when it is not a number from 0 to 255.
int IPv4Part(const std::string& part) {
  std::string digits = Trimmed(part);
  if (digits.empty()) {
    return -1;
  }
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') {
      return -1;
    }
    value = value * 10 + (c - '0');
    if (value > kMaxIPv4Part) {
      return -1;
    }
  }
  return value;
}

bool EqualsIgnoringCase(const std::string& text, const char* upper) {
  size_t i = 0;
  for (; i < text.size() && upper[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
    if (c != upper[i]) {
      return false;
    }
  }
  return i == text.size() && upper[i] == '\0';
}

}  // namespace

TIdStack::~TIdStack() = default;

void TIdStack::IncUsage() {
  TStackState& state = State();
  std::lock_guard<std::mutex> lock(state.lock);
  if (state.usageCount == 0) {
    // A failure here leaves no stack object and the count at 0.
    state.stack = state.factory ? state.factory() : NewPlatformStack();
    ++state.instancesCreated;
  }
  ++state.usageCount;
}

void TIdStack::DecUsage() {
  TStackState& state = State();
  std::unique_ptr<TIdStack> released;
  {
    std::lock_guard<std::mutex> lock(state.lock);
    if (state.usageCount == 0) {
      return;  // an unbalanced release must not free a stack someone else is about to create
    }
    if (--state.usageCount == 0) {
      released = std::move(state.stack);
    }
  }
}

TIdStack* TIdStack::Instance() {
  TStackState& state = State();
  std::lock_guard<std::mutex> lock(state.lock);
  return state.stack.get();
}

int TIdStack::UsageCount() {
  TStackState& state = State();
  std::lock_guard<std::mutex> lock(state.lock);
  return state.usageCount;
}

int64_t TIdStack::InstancesCreated() {
  TStackState& state = State();
  std::lock_guard<std::mutex> lock(state.lock);
  return state.instancesCreated;
}

TIdStack::TStackFactory TIdStack::SetStackClass(TStackFactory factory) {
  TStackState& state = State();
  std::lock_guard<std::mutex> lock(state.lock);
  return std::exchange(state.factory, std::move(factory));
}

TIdStack& GStack() {
  TIdStack* stack = TIdStack::Instance();
  if (stack == nullptr) {
    throw EIdStackError("The socket layer is not in use.");
  }
  return *stack;
}

std::string TIdStack::ResolveHost(const std::string& host, TIdIPVersion ipVersion) {
  switch (ipVersion) {
    case TIdIPVersion::Id_IPv4:
      if (EqualsIgnoringCase(host, "LOCALHOST")) {
        return "127.0.0.1";
      }
      if (IsIP(host)) {
        return host;
      }
      return HostByName(host, ipVersion);
    case TIdIPVersion::Id_IPv6: {
      if (EqualsIgnoringCase(host, "LOCALHOST")) {
        return "::1";
      }
      std::string canonical = MakeCanonicalIPv6Address(host);
      if (!canonical.empty()) {
        return canonical;
      }
      return HostByName(host, ipVersion);
    }
  }
  throw EIdIPVersionUnsupported();
}

bool TIdStack::IPv4ToBytes(const std::string& text, std::array<uint8_t, 4>& bytes) {
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    // The last part runs to the end, so anything after a fourth part spoils it.
    size_t dot = i + 1 < bytes.size() ? text.find('.', start) : std::string::npos;
    if (dot == std::string::npos && i + 1 < bytes.size()) {
      return false;
    }
    int value =
        IPv4Part(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (value < 0) {
      return false;
    }
    bytes[i] = static_cast<uint8_t>(value);
    start = dot + 1;
  }
  return true;
}

bool TIdStack::IsIP(const std::string& text) {
  std::array<uint8_t, 4> bytes{};
  return IPv4ToBytes(text, bytes);
}

int TIdStack::Receive(TIdStackSocketHandle handle, std::vector<uint8_t>& buffer) {
  return Receive(handle, buffer.data(), static_cast<int>(buffer.size()));
}

std::string TIdStack::WSTranslateSocketErrorMsg(int errorCode) {
  const char* text = "";
  for (const TErrorText& entry : kErrorTexts) {
    if (entry.code == errorCode) {
      text = entry.text;
      break;
    }
  }
  std::string message(64 + std::char_traits<char>::length(text), '\0');
  int length =
      std::snprintf(message.data(), message.size(), "Socket Error # %d\r\n%s", errorCode, text);
  message.resize(static_cast<size_t>(length));
  return message;
}

void TIdStack::RaiseSocketError(int errorCode) {
  if (errorCode == Id_WSAENOTSOCK) {
    throw EIdNotASocket(errorCode, WSTranslateSocketErrorMsg(errorCode));
  }
  throw EIdSocketError(errorCode, WSTranslateSocketErrorMsg(errorCode));
}

void TIdStack::RaiseLastSocketError() {
  int code = WSGetLastError();
  RaiseSocketError(code);
  // Only an override that forgets to raise gets here; the failure must not pass as success.
  throw EIdSocketError(code, WSTranslateSocketErrorMsg(code));
}

int TIdStack::CheckForSocketError(int result) {
  if (result == Id_SOCKET_ERROR) {
    RaiseLastSocketError();
  }
  return result;
}

}  // namespace kv::net
