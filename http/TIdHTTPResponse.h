#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/IdHTTPTypes.h"
#include "http/TIdMetaHTTPEquiv.h"
#include "http/TIdResponseHeaderInfo.h"
#include "net/Forward.h"

namespace kv::http {

// What a response needs to know of the client it belongs to for the keep-alive decision.
// The client plugs itself in; tests give a fake.
class TIdHTTPResponseOwner {
 public:
  virtual ~TIdHTTPResponseOwner() = default;
  // Whether the connection is open, after letting the I/O layer notice a close by the peer.
  // Never raises.
  virtual bool CheckConnected() = 0;
  // The Connection and Proxy-Connection values of the request, and how it travels.
  virtual std::string RequestConnection() const = 0;
  virtual std::string RequestProxyConnection() const = 0;
  virtual TIdHTTPConnectionType RequestUseProxy() const = 0;
  // The client's protocol version, which selects the keep-alive rule.
  virtual TIdHTTPProtocolVersion ClientProtocolVersion() const = 0;
};

// The status code of a status line: the first word after the first space, without a decimal
// part; -1 when it is not a number. Works on any text.
int32_t ParseResponseCode(const std::string& statusLine);
// The version named by the digits after "HTTP/": 1.1, or 1.0 for anything else.
TIdHTTPProtocolVersion ParseResponseVersion(const std::string& statusLine);

// A response: its status line, head fields, keep-alive decision and the body's destination.
class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  explicit TIdHTTPResponse(TIdHTTPResponseOwner& owner);
  ~TIdHTTPResponse() override;

  // Also clears the header fields found in an HTML body; the status line, keep-alive state and
  // content stream stay.
  void Clear() override;

  // The whole status line. Writing it resets the code (parsed again on the next read) and the
  // version.
  const std::string& ResponseText() const { return m_responseText; }
  void SetResponseText(const std::string& value);
  // The status code, parsed from the status line on the first read after each write.
  int32_t ResponseCode() const;
  void SetResponseCode(int32_t value) { m_responseCode = value; }
  TIdHTTPProtocolVersion ResponseVersion() const { return m_responseVersion; }

  // Decides anew on every read whether the connection may stay open, and stores the answer.
  bool KeepAlive();
  // Stores a value until the next read.
  void SetKeepAlive(bool value) { m_keepAlive = value; }

  // Whether the last head read ended with its empty line. It did not when the server closed the
  // connection inside the head, or when the head had more lines than the client stores (the
  // lines left unread then arrive as the body). Either way what follows is not the body.
  bool HeadComplete() const { return m_headComplete; }
  void SetHeadComplete(bool value) { m_headComplete = value; }

  // Whether the last body read reached the end its framing defines: every declared byte, the
  // last chunk, the closing multipart delimiter, or the close of a body framed by it. A server
  // closing early and a chunk-size line that is no number end the read without an error but
  // leave this false.
  bool BodyComplete() const { return m_bodyComplete; }
  void SetBodyComplete(bool value) { m_bodyComplete = value; }

  // Where the body goes; borrowed, may be none.
  kv::net::TIdStream* ContentStream() const { return m_contentStream; }
  void SetContentStream(kv::net::TIdStream* value) { m_contentStream = value; }

  TIdMetaHTTPEquiv& MetaHTTPEquiv() { return *m_metaHTTPEquiv; }
  const TIdMetaHTTPEquiv& MetaHTTPEquiv() const { return *m_metaHTTPEquiv; }

 private:
  TIdHTTPResponseOwner& m_owner;
  mutable int32_t m_responseCode = -1;
  std::string m_responseText;
  bool m_keepAlive = false;
  bool m_headComplete = false;
  bool m_bodyComplete = false;
  kv::net::TIdStream* m_contentStream = nullptr;
  TIdHTTPProtocolVersion m_responseVersion = TIdHTTPProtocolVersion::pv1_0;
  std::unique_ptr<TIdMetaHTTPEquiv> m_metaHTTPEquiv;
};

}  // namespace kv::http
