#include "http/TIdMetaHTTPEquiv.h"

#include <string>

#include "http/IdCharsetDetection.h"

namespace kv::http {

void TIdMetaHTTPEquiv::ProcessMetaHTTPEquiv(kv::net::TIdStream* stream) {
  std::string charSet;
  ScanMetaHttpEquiv(stream, &RawHeaders(), charSet);
  if (RawHeaders().Count() > 0) {
    ParseRawHeaders();
  }
  if (!charSet.empty()) {
    SetCharSet(charSet);
  }
}

}  // namespace kv::http
