#pragma once

#include "net/Forward.h"

namespace kv::http {

// A body decompressor the client may be given. None ships with the program; with none
// attached, compressed bodies are stored as they arrive.
class TIdZLibCompressorBase {
 public:
  virtual ~TIdZLibCompressorBase() = default;
  virtual bool IsReady() const = 0;
  virtual void DecompressDeflateStream(kv::net::TIdStream& source,
                                       kv::net::TIdStream& destination) = 0;
  virtual void DecompressGZipStream(kv::net::TIdStream& source,
                                    kv::net::TIdStream& destination) = 0;
};

}  // namespace kv::http
