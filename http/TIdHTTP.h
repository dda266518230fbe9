#pragma once

#include "http/TIdCustomHTTP.h"

namespace kv::http {

// The HTTP client component the program uses.
class TIdHTTP : public TIdCustomHTTP {
 public:
  TIdHTTP();
};

}  // namespace kv::http
