#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/TIdBuffer.h"
#include "net/TIdComponent.h"

namespace kv::net {

class TIdStream;
class TIdTextEncoding;

// What ReadLn does with a line longer than MaxLineLength.
enum class TIdMaxLineAction { maException, maSplit };

// Buffered reading and writing over a byte source. The base class knows nothing of sockets: it
// reads and writes through the hooks ReceiveData, SendData, SourceAvailable and Readable, which
// a socket handler (or a test's in-memory handler) implements. Every removal of bytes from the
// input buffer and every send is reported as work (counted only while a unit of work is open).
class TIdIOHandler : public TIdComponent {
 public:
  static constexpr int kMaxLineLengthDefault = 16384;
  static constexpr int kRecvBufferSizeDefault = 32768;
  static constexpr int kSendBufferSizeDefault = 32768;
  // Time-outs: -1 and 0 mean no limit for ReadTimeout; kInfinite is "wait without limit".
  static constexpr int kUseReadTimeout = -1;
  static constexpr int kInfinite = -2;

  TIdIOHandler();
  ~TIdIOHandler() override;

  // --- Settings -----------------------------------------------------------------------------
  bool LargeStream() const { return m_largeStream; }
  void SetLargeStream(bool value) { m_largeStream = value; }
  int ConnectTimeout() const { return m_connectTimeout; }
  void SetConnectTimeout(int value) { m_connectTimeout = value; }
  // "host:port" in one text; setting it splits it into Host and Port.
  virtual std::string Destination() const;
  virtual void SetDestination(const std::string& value);
  const std::string& Host() const { return m_host; }
  virtual void SetHost(const std::string& value) { m_host = value; }
  int Port() const { return m_port; }
  virtual void SetPort(int value) { m_port = value; }
  // The port a destination without a usable port falls back to.
  uint16_t DefaultPort() const { return m_defaultPort; }
  void SetDefaultPort(uint16_t value) { m_defaultPort = value; }
  TIdMaxLineAction MaxLineAction() const { return m_maxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction value) { m_maxLineAction = value; }
  int MaxLineLength() const { return m_maxLineLength; }
  void SetMaxLineLength(int value) { m_maxLineLength = value; }
  // Milliseconds a read waits for data; -1 and 0 mean no limit.
  int ReadTimeout() const { return m_readTimeout; }
  void SetReadTimeout(int value) { m_readTimeout = value; }
  int RecvBufferSize() const { return m_recvBufferSize; }
  void SetRecvBufferSize(int value) { m_recvBufferSize = value; }
  int SendBufferSize() const { return m_sendBufferSize; }
  void SetSendBufferSize(int value) { m_sendBufferSize = value; }
  int WriteBufferThreshold() const { return m_writeBufferThreshold; }
  // Text without an explicit encoding uses this one (borrowed; ASCII by default).
  const TIdTextEncoding& DefStringEncoding() const { return *m_defStringEncoding; }
  void SetDefStringEncoding(const TIdTextEncoding& encoding) { m_defStringEncoding = &encoding; }

  // --- State ----------------------------------------------------------------------------------
  bool Opened() const { return m_opened; }
  // The peer has closed: a receive returned 0.
  bool ClosedGracefully() const { return m_closedGracefully; }
  bool ReadLnSplit() const { return m_readLnSplit; }
  bool ReadLnTimedout() const { return m_readLnTimedout; }
  TIdBuffer& InputBuffer() { return m_inputBuffer; }
  const TIdBuffer& InputBuffer() const { return m_inputBuffer; }
  bool InputBufferIsEmpty() const { return m_inputBuffer.Size() == 0; }

  // --- Life cycle -----------------------------------------------------------------------------
  // Clears both buffers and the closed flag, then counts as opened.
  virtual void Open();
  // Counts as closed and drops the write buffer; received bytes stay readable.
  virtual void Close();
  // True while bytes are buffered or the source is open; may receive pending bytes.
  virtual bool Connected();
  // Releases the source once the peer has closed, and raises EIdConnClosedGracefully when
  // raiseIfDisconnected and nothing is left to read (or ignoreBuffer). The base does nothing.
  virtual void CheckForDisconnect(bool raiseIfDisconnected = true, bool ignoreBuffer = false);
  // Whether data arrived within timeoutMs (receiving it into the input buffer).
  virtual bool CheckForDataOnSource(int timeoutMs = 0);
  // Whether the source has data (or an end) to receive within msec; -1/kInfinite: no limit.
  virtual bool Readable(int msec = kInfinite);

  // One receive into the input buffer, after waiting up to timeoutMs (-1: ReadTimeout,
  // kInfinite: no limit, 0: no wait). Returns the bytes received, 0 when the source is closed
  // or absent, -1 on time-out (or raises EIdReadTimeout when raiseOnTimeout).
  int FillInputBuffer(bool raiseIfDisconnected, int timeoutMs, bool raiseOnTimeout);

  // --- Reading --------------------------------------------------------------------------------
  // A line ended by LF (a CR before the LF is dropped), decoded.
  std::string ReadLn(const TIdTextEncoding* encoding = nullptr);
  std::string ReadLn(const std::string& terminator, const TIdTextEncoding* encoding = nullptr);
  // timeoutMs -1: ReadTimeout; maxLineLength below 0: MaxLineLength, 0: no limit. On a time-out
  // the answer is empty and ReadLnTimedout() is true.
  std::string ReadLn(const std::string& terminator, int timeoutMs, int maxLineLength,
                     const TIdTextEncoding* encoding = nullptr);
  // count bytes into stream (null: dropped); count -1 with readUntilDisconnect false reads a
  // size prefix first; a negative count or readUntilDisconnect reads until the peer closes.
  void ReadStream(TIdStream* stream, int64_t count = -1, bool readUntilDisconnect = false);
  // count bytes (negative: whatever is buffered or arrives next) into target.
  void ReadBytes(std::vector<uint8_t>& target, int count, bool append = true);
  // count bytes decoded.
  std::string ReadString(int count, const TIdTextEncoding* encoding = nullptr);
  void Discard(int64_t count);
  // Drops everything until the peer closes.
  void DiscardAll();

  // --- Writing --------------------------------------------------------------------------------
  void Write(const uint8_t* data, int length);
  void Write(const std::vector<uint8_t>& bytes, int length = -1, int offset = 0);
  void Write(const std::string& text, const TIdTextEncoding* encoding = nullptr);
  // text followed by CR LF.
  void WriteLn(const std::string& text = {}, const TIdTextEncoding* encoding = nullptr);
  // Sends size bytes of stream (0: all from position 0; negative: from the position to the
  // end), optionally preceded by the size in network byte order.
  void Write(TIdStream& stream, int64_t size = 0, bool writeByteCount = false);
  // Sends at once, bypassing the write buffer.
  virtual void WriteDirect(const uint8_t* data, int length);

  // Write buffering: writes collect until WriteBufferClose (or, with a positive threshold,
  // whenever that many bytes are collected).
  void WriteBufferOpen(int threshold = -1);
  void WriteBufferClose();
  // Drops what was collected and ends buffering: nothing is sent.
  void WriteBufferCancel();
  // Sends count collected bytes (-1: all).
  void WriteBufferFlush(int count = -1);
  void WriteBufferClear();
  bool WriteBufferingActive() const { return m_writeBuffer != nullptr; }

 protected:
  // The source hooks. ReceiveData makes one receive (0: the peer closed); SendData one send.
  // The base class has no source.
  virtual int ReceiveData(uint8_t* buffer, int length);
  virtual int SendData(const uint8_t* data, int length);
  virtual bool SourceAvailable() const { return false; }

  // Marks the source as closed by the peer (a receive or send returned 0).
  void SetClosedGracefully() { m_closedGracefully = true; }
  // Moves up to count buffered bytes (negative: all) to the stream; returns the count moved.
  int MoveBufferedToStream(TIdStream* stream, int64_t count);

 private:
  // Effective wait of a read for a given time-out argument.
  int EffectiveTimeout(int timeoutMs) const;
  void ReadSizePrefix(int64_t& count);
  // Receives until count bytes are buffered; raises EIdConnClosedGracefully when the peer
  // closes first (the bytes that came stay buffered).
  void FillUntil(int count);
  void WriteByteCount(int64_t size);

  bool m_largeStream = false;
  bool m_closedGracefully = false;
  int m_connectTimeout = 0;
  std::string m_host;
  int m_port = 0;
  uint16_t m_defaultPort = 0;
  TIdBuffer m_inputBuffer;
  TIdMaxLineAction m_maxLineAction = TIdMaxLineAction::maException;
  int m_maxLineLength = kMaxLineLengthDefault;
  bool m_opened = false;
  bool m_readLnSplit = false;
  bool m_readLnTimedout = false;
  int m_readTimeout = kUseReadTimeout;
  int m_recvBufferSize = kRecvBufferSizeDefault;
  int m_sendBufferSize = kSendBufferSizeDefault;
  std::unique_ptr<TIdBuffer> m_writeBuffer;
  int m_writeBufferThreshold = 0;
  const TIdTextEncoding* m_defStringEncoding;
};

}  // namespace kv::net
