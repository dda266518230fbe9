#pragma once

#include <bitset>
#include <cstddef>
#include <initializer_list>

// Small value types shared by the HTTP client's classes.
namespace kv::http {

enum class TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// The version text on the request line, indexed by the protocol version.
inline const char* ProtocolVersionText(TIdHTTPProtocolVersion version) {
  return version == TIdHTTPProtocolVersion::pv1_0 ? "1.0" : "1.1";
}

// How the request reaches its server: directly or through a proxy, plain or with TLS.
enum class TIdHTTPConnectionType { ctNormal, ctSSL, ctProxy, ctSSLProxy };

inline bool IsProxyConnection(TIdHTTPConnectionType type) {
  return type == TIdHTTPConnectionType::ctProxy || type == TIdHTTPConnectionType::ctSSLProxy;
}

// What the exchange loop does after a response has been handled.
enum class TIdHTTPWhatsNext { wnGoToURL, wnJustExit, wnDontKnow, wnReadAndGo, wnAuthRequest };

enum class TIdHTTPOption {
  hoInProcessAuth,
  hoKeepOrigProtocol,
  hoForceEncodeParams,
  hoNonSSLProxyUseConnectVerb,
  hoNoParseMetaHTTPEquiv,
  hoWaitForUnexpectedData,
  hoTreat302Like303,
  hoNoProtocolErrorException,
  hoNoReadMultipartMIME,
  hoNoParseXmlCharset,
  hoWantProtocolErrorContent,
  hoNoReadChunked,
};

// A set of client options.
class TIdHTTPOptions {
 public:
  TIdHTTPOptions() = default;
  TIdHTTPOptions(std::initializer_list<TIdHTTPOption> options) {
    for (TIdHTTPOption option : options) {
      Include(option);
    }
  }

  bool Contains(TIdHTTPOption option) const { return m_bits.test(Index(option)); }
  void Include(TIdHTTPOption option) { m_bits.set(Index(option)); }
  void Exclude(TIdHTTPOption option) { m_bits.reset(Index(option)); }
  bool Empty() const { return m_bits.none(); }

  friend bool operator==(const TIdHTTPOptions&, const TIdHTTPOptions&) = default;

 private:
  static constexpr std::size_t kOptionCount =
      static_cast<std::size_t>(TIdHTTPOption::hoNoReadChunked) + 1;
  static std::size_t Index(TIdHTTPOption option) { return static_cast<std::size_t>(option); }

  std::bitset<kOptionCount> m_bits;
};

}  // namespace kv::http
