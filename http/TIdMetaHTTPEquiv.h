#pragma once

#include "http/TIdEntityHeaderInfo.h"
#include "net/Forward.h"

namespace kv::http {

// The header fields an HTML body declares in its meta http-equiv tags, and its meta charset.
class TIdMetaHTTPEquiv : public TIdEntityHeaderInfo {
 public:
  TIdMetaHTTPEquiv() = default;

  // Scans the stream (from its start) into RawHeaders and parses them; a meta charset found
  // by the scan replaces CharSet.
  void ProcessMetaHTTPEquiv(kv::net::TIdStream* stream);
};

}  // namespace kv::http
