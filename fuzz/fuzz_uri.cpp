// URL parsing, rebuilding and path merging, and the client's resolution of a request URL into
// its target, Host line and endpoint, also for relative URLs against the previous request.
//
// Input: one flags byte, then URLs separated by LF. The first URL is parsed, rebuilt and merged
// with the second; with the client flag every URL is fetched in turn by one client over the
// scripted handler (each answered "204 No Content").
//   flags bit 0: GetFullURI with the user info, bit 1: with the bookmark,
//         bit 2: drive the client, bits 3-4: the request method.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/ScriptedIOHandler.h"
#include "http/TIdHTTP.h"
#include "http/TIdURI.h"
#include "net/TIdStream.h"

namespace {

using kv::fuzz::ScriptedIOHandler;
using kv::fuzz::TFuzzInput;
using kv::http::TIdURI;
using kv::http::TIdURIOptionalFields;
using kv::http::TIdURIOptionalFieldsSet;

constexpr size_t kMaxUrls = 4;
const char* const kMethods[] = {"GET", "HEAD", "OPTIONS", "POST"};

// What MergePath promises for a relative path merged into an absolute base: runs of "/"
// collapse and every ".." segment is resolved. (An absolute path is returned as given, and a
// single "." is an ordinary segment.)
void CheckMergedPath(const std::string& base, const std::string& path) {
  const std::string merged = TIdURI::MergePath(base, path);
  if (base.empty() || base[0] != '/' || (!path.empty() && path[0] == '/')) {
    return;
  }
  FUZZ_CHECK(!merged.empty() && merged[0] == '/');
  FUZZ_CHECK(merged.find("//") == std::string::npos);
  for (const std::string& segment : kv::fuzz::SplitAll(merged, "/")) {
    FUZZ_CHECK(segment != "..");
  }
}

void ExerciseUri(const std::string& text, const std::string& other, uint8_t flags) {
  TIdURI uri(text);
  TIdURIOptionalFieldsSet fields;
  if (flags & 1) {
    fields.Include(TIdURIOptionalFields::ofAuthInfo);
  }
  if (flags & 2) {
    fields.Include(TIdURIOptionalFields::ofBookmark);
  }
  try {
    const std::string full = uri.GetFullURI(fields);
    // A rebuilt URL parses again to the same host.
    FUZZ_CHECK(TIdURI(full).Host() == uri.Host() ||
               uri.Host().find_first_of("/?#@\\") != std::string::npos);
  } catch (const kv::http::EIdURIException&) {
  }
  try {
    (void)uri.URI();
  } catch (const kv::http::EIdURIException&) {
  }
  (void)uri.GetPathAndParams();
  std::string normalized = text;
  TIdURI::NormalizePath(normalized);
  FUZZ_CHECK(normalized.size() == text.size());

  CheckMergedPath(text, other);
  CheckMergedPath(uri.Path(), TIdURI(other).Path());
}

void ExerciseClient(const std::vector<std::string>& urls, uint8_t flags) {
  ScriptedIOHandler io;
  kv::http::TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetReadTimeout(60000);
  kv::net::TIdMemoryStream stream;
  const char* method = kMethods[(flags >> 3) & 3];
  for (const std::string& url : urls) {
    io.AddTurn("HTTP/1.1 204 No Content\r\n\r\n");
    try {
      http.ExecuteRequest(method, url, nullptr, &stream, {});
    } catch (const kv::net::EIdException&) {
      // Unknown protocols, no TLS handler, empty hosts: expected refusals.
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t flags = input.Byte();
  std::vector<std::string> urls;
  while (!input.Empty() && urls.size() < kMaxUrls) {
    urls.push_back(input.Field("\n"));
  }
  if (urls.empty()) {
    urls.emplace_back();
  }
  ExerciseUri(urls[0], urls.size() > 1 ? urls[1] : std::string(), flags);
  if (flags & 4) {
    ExerciseClient(urls, flags);
  }
  return 0;
}
