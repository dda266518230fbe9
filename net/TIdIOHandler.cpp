#include "net/TIdIOHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>

#include "net/IdExceptions.h"
#include "net/TIdStream.h"
#include "net/TIdTextEncoding.h"

namespace kv::net {

namespace {

constexpr uint8_t kCR = 13;
constexpr uint8_t kLF = 10;
constexpr char kEOL[] = "\r\n";
constexpr int kMaxPortTextLength = 255;
constexpr int kMaxPort = 65535;
// The most a counted read sizes its stream for before the bytes arrive. The count is the peer's
// word (a declared body length, a chunk size); beyond this the stream grows as bytes come in,
// so a claimed length of many gigabytes cannot exhaust memory before a single byte is read.
constexpr int64_t kMaxStreamPresize = int64_t{64} * 1024 * 1024;

int64_t TickCountMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Big-endian (network order) integers for the size prefix of streams.
int64_t DecodeNetworkOrder(const std::vector<uint8_t>& bytes) {
  uint64_t value = 0;
  for (uint8_t byte : bytes) {
    value = (value << 8) | byte;
  }
  if (bytes.size() == 4) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  return static_cast<int64_t>(value);
}

std::vector<uint8_t> EncodeNetworkOrder(uint64_t value, int width) {
  std::vector<uint8_t> bytes(static_cast<size_t>(width));
  for (int i = width - 1; i >= 0; --i) {
    bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value & 0xFF);
    value >>= 8;
  }
  return bytes;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

TIdIOHandler::TIdIOHandler() : m_defStringEncoding(&TIdTextEncoding::ASCII()) {
  // Every byte taken from the input buffer is work done, whoever takes it.
  m_inputBuffer.OnBytesRemoved = [this](TIdBuffer&, int count) {
    DoWork(TWorkMode::wmRead, count);
  };
}

TIdIOHandler::~TIdIOHandler() = default;

// --- Settings -------------------------------------------------------------------------------

std::string TIdIOHandler::Destination() const {
  return m_host + ":" + std::to_string(m_port);
}

void TIdIOHandler::SetDestination(const std::string& value) {
  const auto colon = value.rfind(':');
  if (colon == std::string::npos) {
    return;
  }
  SetHost(value.substr(0, colon));
  const std::string portText = Trim(value.substr(colon + 1, kMaxPortTextLength));
  char* end = nullptr;
  const long port = portText.empty() ? -1 : std::strtol(portText.c_str(), &end, 10);
  const bool valid = !portText.empty() && *end == '\0' && port >= 0 && port <= kMaxPort;
  SetPort(valid ? static_cast<int>(port) : m_defaultPort);
}

// --- Life cycle -----------------------------------------------------------------------------

void TIdIOHandler::Open() {
  m_opened = false;
  m_closedGracefully = false;
  WriteBufferClear();
  m_inputBuffer.Clear();
  m_opened = true;
}

void TIdIOHandler::Close() {
  m_opened = false;
  WriteBufferClear();
}

bool TIdIOHandler::Connected() {
  CheckForDisconnect(false, false);
  return (!m_closedGracefully || !InputBufferIsEmpty()) && m_opened;
}

void TIdIOHandler::CheckForDisconnect(bool, bool) {}

bool TIdIOHandler::Readable(int) {
  return false;
}

int TIdIOHandler::ReceiveData(uint8_t*, int) {
  return 0;
}

int TIdIOHandler::SendData(const uint8_t*, int) {
  return 0;
}

bool TIdIOHandler::CheckForDataOnSource(int timeoutMs) {
  const int before = m_inputBuffer.Size();
  if (!Connected()) {
    return false;
  }
  // The Connected poll may already have received something.
  if (m_inputBuffer.Size() > before) {
    return true;
  }
  return FillInputBuffer(false, timeoutMs, false) > 0;
}

int TIdIOHandler::EffectiveTimeout(int timeoutMs) const {
  if (timeoutMs == kUseReadTimeout) {
    return m_readTimeout > 0 ? m_readTimeout : kInfinite;
  }
  return timeoutMs < 0 ? kInfinite : timeoutMs;
}

int TIdIOHandler::FillInputBuffer(bool raiseIfDisconnected, int timeoutMs, bool raiseOnTimeout) {
  const int timeout = EffectiveTimeout(timeoutMs);
  CheckForDisconnect(raiseIfDisconnected, false);
  if (!SourceAvailable()) {
    if (raiseIfDisconnected) {
      throw EIdNotConnected();
    }
    return 0;
  }
  do {
    if (!Readable(timeout)) {
      if (raiseOnTimeout) {
        throw EIdReadTimeout();
      }
      return -1;
    }
    int received = 0;
    if (m_opened) {
      if (SourceAvailable()) {
        // Receive straight into the tail of the input buffer: one copy less per block.
        uint8_t* tail = m_inputBuffer.ReserveTail(m_recvBufferSize);
        received = ReceiveData(tail, m_recvBufferSize);
        m_inputBuffer.CommitTail(received);
      } else if (raiseIfDisconnected) {
        throw EIdClosedSocket();
      }
    } else if (raiseIfDisconnected) {
      throw EIdNotConnected();
    }
    if (received == 0) {
      m_closedGracefully = true;
    }
    CheckForDisconnect(raiseIfDisconnected, false);
    if (received != 0) {
      return received;
    }
  } while (SourceAvailable());
  return 0;
}

// --- Reading --------------------------------------------------------------------------------

std::string TIdIOHandler::ReadLn(const TIdTextEncoding* encoding) {
  return ReadLn(std::string(1, static_cast<char>(kLF)), kUseReadTimeout, -1, encoding);
}

std::string TIdIOHandler::ReadLn(const std::string& terminator, const TIdTextEncoding* encoding) {
  return ReadLn(terminator, kUseReadTimeout, -1, encoding);
}

std::string TIdIOHandler::ReadLn(const std::string& terminator, int timeoutMs, int maxLineLength,
                                 const TIdTextEncoding* encoding) {
  const TIdTextEncoding& textEncoding = encoding != nullptr ? *encoding : *m_defStringEncoding;
  if (maxLineLength < 0) {
    maxLineLength = m_maxLineLength;
  }
  const std::vector<uint8_t> terminatorBytes =
      terminator.empty() ? std::vector<uint8_t>{kLF} : textEncoding.GetBytes(terminator);
  const bool terminatorIsLF = terminatorBytes.size() == 1 && terminatorBytes[0] == kLF;
  const int terminatorLength = static_cast<int>(terminatorBytes.size());

  m_readLnSplit = false;
  m_readLnTimedout = false;
  int found = -1;
  // Where the next search starts: bytes already searched are not searched again, except for
  // the last few that could begin a terminator split across receives.
  int searchStart = 0;
  const int64_t startTime = TickCountMs();
  for (;;) {
    if (!InputBufferIsEmpty()) {
      const int size = m_inputBuffer.Size();
      found = searchStart < size ? m_inputBuffer.IndexOf(terminatorBytes, searchStart) : -1;
      searchStart = std::max(size - terminatorLength + 1, 0);
    }
    if (maxLineLength > 0 &&
        (found > maxLineLength || (found == -1 && searchStart > maxLineLength))) {
      if (m_maxLineAction == TIdMaxLineAction::maException) {
        throw EIdReadLnMaxLineLengthExceeded();
      }
      m_readLnSplit = true;
      return m_inputBuffer.ExtractToString(maxLineLength, &textEncoding);
    }
    if (found != -1) {
      break;
    }
    // A closed connection ends the wait even with a partial line buffered: that line has no
    // end and is never returned.
    CheckForDisconnect(true, true);
    m_readLnTimedout = FillInputBuffer(true, timeoutMs, false) == -1;
    if (!m_readLnTimedout && timeoutMs >= 0) {
      m_readLnTimedout = TickCountMs() - startTime >= timeoutMs;
    }
    if (m_readLnTimedout) {
      return {};
    }
  }
  int lineLength = found;
  if (terminatorIsLF && found > 0 && m_inputBuffer.PeekByte(found - 1) == kCR) {
    --lineLength;
  }
  std::string line = m_inputBuffer.PeekString(lineLength, &textEncoding);
  m_inputBuffer.Remove(found + terminatorLength);
  return line;
}

int TIdIOHandler::MoveBufferedToStream(TIdStream* stream, int64_t count) {
  const int available = m_inputBuffer.Size();
  const int moved = count < 0 ? available : static_cast<int>(std::min<int64_t>(available, count));
  if (moved > 0) {
    m_inputBuffer.ExtractToStream(stream, moved);
  }
  return moved;
}

void TIdIOHandler::ReadSizePrefix(int64_t& count) {
  std::vector<uint8_t> prefix;
  ReadBytes(prefix, m_largeStream ? 8 : 4, false);
  count = DecodeNetworkOrder(prefix);
}

void TIdIOHandler::ReadStream(TIdStream* stream, int64_t count, bool readUntilDisconnect) {
  if (count == -1 && !readUntilDisconnect) {
    ReadSizePrefix(count);
  }
  if (stream != nullptr && count >= 0) {
    // Size the stream once for the whole count, so it is not grown block by block.
    const int64_t position = stream->Position();
    if (position > std::numeric_limits<int64_t>::max() - count) {
      throw EIdIOHandlerStreamDataTooLarge();
    }
    stream->SetSize(position + std::min(count, kMaxStreamPresize));
    if (stream->Position() != position) {
      stream->SetPosition(position);
    }
  }
  if (count < 0) {
    readUntilDisconnect = true;
  }

  // Cuts a stream sized for the full count back to what was written.
  const auto cutStream = [stream] {
    if (stream != nullptr && stream->Size() > stream->Position()) {
      stream->SetSize(stream->Position());
    }
  };
  const auto finish = [&] {
    try {
      EndWork(TWorkMode::wmRead);
    } catch (...) {
      cutStream();
      throw;
    }
    cutStream();
  };

  BeginWork(TWorkMode::wmRead, readUntilDisconnect ? 0 : count);
  int64_t remaining = count;
  const auto moveBuffered = [&] {
    const int moved = MoveBufferedToStream(stream, readUntilDisconnect ? -1 : remaining);
    if (!readUntilDisconnect) {
      remaining -= moved;
    }
  };
  try {
    moveBuffered();
    while (readUntilDisconnect || remaining > 0) {
      int received = 0;
      try {
        received = FillInputBuffer(!readUntilDisconnect, kUseReadTimeout, true);
      } catch (...) {
        // What arrived before the failure still belongs in the stream.
        moveBuffered();
        throw;
      }
      if (received < 1) {
        CheckForDisconnect(false, false);
        moveBuffered();
        break;
      }
      moveBuffered();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TIdIOHandler::FillUntil(int count) {
  while (m_inputBuffer.Size() < count) {
    const int received = FillInputBuffer(false, kUseReadTimeout, true);
    if (received > 0) {
      continue;
    }
    // Nothing more will come: report the close (the partial bytes stay buffered).
    CheckForDisconnect(true, true);
    throw EIdConnClosedGracefully();
  }
}

void TIdIOHandler::ReadBytes(std::vector<uint8_t>& target, int count, bool append) {
  if (count > 0) {
    FillUntil(count);
    m_inputBuffer.ExtractToBytes(target, count, append);
  } else if (count < 0) {
    if (InputBufferIsEmpty()) {
      FillInputBuffer(false, kUseReadTimeout, false);
      CheckForDisconnect(true, true);
    }
    m_inputBuffer.ExtractToBytes(target, -1, append);
  }
}

std::string TIdIOHandler::ReadString(int count, const TIdTextEncoding* encoding) {
  if (count <= 0) {
    return {};
  }
  FillUntil(count);
  return m_inputBuffer.ExtractToString(count, encoding != nullptr ? encoding : m_defStringEncoding);
}

void TIdIOHandler::Discard(int64_t count) {
  if (count <= 0) {
    return;
  }
  BeginWork(TWorkMode::wmRead, count);
  try {
    for (;;) {
      const int removed = static_cast<int>(
          std::min<int64_t>({count, std::numeric_limits<int>::max(), m_inputBuffer.Size()}));
      m_inputBuffer.Remove(removed);
      count -= removed;
      if (count < 1) {
        break;
      }
      if (FillInputBuffer(false, kUseReadTimeout, true) < 1) {
        CheckForDisconnect(true, true);
        throw EIdConnClosedGracefully();
      }
    }
  } catch (...) {
    EndWork(TWorkMode::wmRead);
    throw;
  }
  EndWork(TWorkMode::wmRead);
}

void TIdIOHandler::DiscardAll() {
  BeginWork(TWorkMode::wmRead, 0);
  try {
    m_inputBuffer.Clear();
    for (;;) {
      if (FillInputBuffer(false, kUseReadTimeout, true) > 0) {
        m_inputBuffer.Clear();
        continue;
      }
      CheckForDisconnect(true, true);
      break;
    }
  } catch (const EIdConnClosedGracefully&) {
    // The peer closing is the expected end.
    m_inputBuffer.Clear();
  } catch (...) {
    m_inputBuffer.Clear();
    EndWork(TWorkMode::wmRead);
    throw;
  }
  EndWork(TWorkMode::wmRead);
}

// --- Writing --------------------------------------------------------------------------------

void TIdIOHandler::Write(const uint8_t* data, int length) {
  if (length < 1) {
    return;
  }
  if (m_writeBuffer != nullptr) {
    m_writeBuffer->Write(data, length);
    while (m_writeBufferThreshold > 0 && m_writeBuffer != nullptr &&
           m_writeBuffer->Size() >= m_writeBufferThreshold) {
      WriteBufferFlush(m_writeBufferThreshold);
    }
    return;
  }
  WriteDirect(data, length);
}

void TIdIOHandler::Write(const std::vector<uint8_t>& bytes, int length, int offset) {
  const int size = static_cast<int>(bytes.size());
  if (offset < 0 || offset >= size) {
    return;
  }
  if (length < 0 || length > size - offset) {
    length = size - offset;
  }
  Write(bytes.data() + offset, length);
}

void TIdIOHandler::Write(const std::string& text, const TIdTextEncoding* encoding) {
  if (text.empty()) {
    return;
  }
  const std::vector<uint8_t> bytes =
      (encoding != nullptr ? *encoding : *m_defStringEncoding).GetBytes(text);
  Write(bytes.data(), static_cast<int>(bytes.size()));
}

void TIdIOHandler::WriteLn(const std::string& text, const TIdTextEncoding* encoding) {
  // One write for the text and its line end, so an unbuffered line leaves in one send.
  Write(text + kEOL, encoding);
}

void TIdIOHandler::WriteByteCount(int64_t size) {
  if (m_largeStream) {
    Write(EncodeNetworkOrder(static_cast<uint64_t>(size), 8));
    return;
  }
  if (size > std::numeric_limits<int32_t>::max()) {
    throw EIdIOHandlerRequiresLargeStream();
  }
  Write(EncodeNetworkOrder(static_cast<uint64_t>(size), 4));
}

void TIdIOHandler::Write(TIdStream& stream, int64_t size, bool writeByteCount) {
  if (size == 0) {
    stream.SetPosition(0);
    size = stream.Size();
  } else if (size < 0) {
    size = std::max<int64_t>(stream.Size() - stream.Position(), 0);
  }
  if (writeByteCount) {
    WriteByteCount(size);
  }
  BeginWork(TWorkMode::wmWrite, size);
  try {
    std::vector<uint8_t> block(
        static_cast<size_t>(std::max<int64_t>(std::min<int64_t>(size, m_sendBufferSize), 1)));
    while (size > 0) {
      const auto wanted = static_cast<size_t>(std::min<int64_t>(size, m_sendBufferSize));
      const size_t read = stream.Read(block.data(), wanted);
      if (read == 0) {
        throw EIdNoDataToRead();
      }
      Write(block.data(), static_cast<int>(read));
      size -= static_cast<int64_t>(read);
    }
  } catch (...) {
    EndWork(TWorkMode::wmWrite);
    throw;
  }
  EndWork(TWorkMode::wmWrite);
}

void TIdIOHandler::WriteDirect(const uint8_t* data, int length) {
  // A peer that has closed gets nothing more, even while unread bytes of it are buffered.
  CheckForDisconnect(true, true);
  int offset = 0;
  while (offset < length) {
    const int sent = SendData(data + offset, length - offset);
    if (sent <= 0) {
      m_closedGracefully = true;
    }
    CheckForDisconnect(true, false);
    if (sent <= 0) {
      // No progress is possible any more; never spin on a dead connection.
      throw EIdConnClosedGracefully();
    }
    DoWork(TWorkMode::wmWrite, sent);
    offset += sent;
  }
}

void TIdIOHandler::WriteBufferOpen(int threshold) {
  if (m_writeBuffer != nullptr) {
    m_writeBuffer->Clear();
  } else {
    m_writeBuffer = std::make_unique<TIdBuffer>();
  }
  m_writeBufferThreshold = threshold;
}

void TIdIOHandler::WriteBufferFlush(int count) {
  if (m_writeBuffer == nullptr) {
    return;
  }
  if (count < 0 || count > m_writeBuffer->Size()) {
    count = m_writeBuffer->Size();
  }
  if (count > 0) {
    WriteDirect(m_writeBuffer->Data(), count);
    m_writeBuffer->Remove(count);
  }
}

void TIdIOHandler::WriteBufferClose() {
  try {
    WriteBufferFlush(-1);
  } catch (...) {
    m_writeBuffer.reset();
    throw;
  }
  m_writeBuffer.reset();
}

void TIdIOHandler::WriteBufferClear() {
  if (m_writeBuffer != nullptr) {
    m_writeBuffer->Clear();
  }
}

void TIdIOHandler::WriteBufferCancel() {
  WriteBufferClear();
  WriteBufferClose();
}

}  // namespace kv::net
