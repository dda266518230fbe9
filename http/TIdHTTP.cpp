#include "http/TIdHTTP.h"

namespace kv::http {

TIdHTTP::TIdHTTP() = default;

}  // namespace kv::http
