#pragma once

#include "http/Forward.h"

namespace kv::http {

// The read limit of a download: a server that stops sending fails the download instead of
// blocking the window for ever.
inline constexpr int kKavoraDownloadReadTimeoutMs = 30000;

// Applies the download window's stored client settings: Accept "text/html, */*", the KAVORA
// user agent, no content length, no basic authentication, ranges in bytes with none set, no
// proxy, and the read limit above. The window and the command-line tool both use it, so both
// send the same request.
void ApplyKavoraDownloadSettings(TIdHTTP& http);

}  // namespace kv::http
