// The header store: raw lines in, look-ups, parameters, extraction, folding and the writers.
//
// Input: a settings byte, a fold width byte, then LF-separated fields: the header name to work
// on, a parameter name, a value, and the rest as the raw header block.
//   settings bits 0-1: quoting type, bit 2: unfold on reading, bit 3: fold on writing,
//            bits 4-5: separator (": ", ":", "=", " : ").

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"
#include "http/IdGlobalProtocols.h"
#include "http/TIdHeaderList.h"

namespace {

using kv::fuzz::TFuzzInput;
using kv::http::TIdHeaderList;
using kv::http::TIdHeaderQuotingType;

const TIdHeaderQuotingType kQuoteTypes[] = {
    TIdHeaderQuotingType::QuotePlain, TIdHeaderQuotingType::QuoteRFC822,
    TIdHeaderQuotingType::QuoteMIME, TIdHeaderQuotingType::QuoteHTTP};
const char* const kSeparators[] = {": ", ":", "=", " : "};

// A header name without blanks, separators or control characters.
bool IsToken(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F || c == ':' || c == '=') {
      return false;
    }
  }
  return true;
}

// A non-empty printable ASCII value without blanks at its ends.
bool IsPlainValue(const std::string& text) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ') {
    return false;
  }
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F) {
      return false;
    }
  }
  return true;
}

bool IsAlphanumeric(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  for (unsigned char c : text) {
    if (!std::isalnum(c)) {
      return false;
    }
  }
  return true;
}

void ReadEverything(const TIdHeaderList& list, const std::string& name, const std::string& param) {
  for (int i = 0; i < list.Count(); ++i) {
    (void)list.GetName(i);
  }
  (void)list.IndexOfName(name);
  (void)list.GetValue(name);
  (void)list.GetParam(name, param);
  (void)list.GetAllParams(name);
  (void)list.Extract(name);
  TIdHeaderList extracted(list.QuoteType());
  list.Extract(name, &extracted);
  list.Extract(name, static_cast<TIdHeaderList*>(nullptr));
  std::vector<std::string> values;
  list.ConvertToStdValues(values);
  (void)list.Text();
  try {
    (void)list.Strings(list.Count());
    FUZZ_CHECK(false);
  } catch (const kv::http::EIdHeaderListIndexError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t settings = input.Byte();
  const int32_t foldWidth = static_cast<int8_t>(input.Byte());
  const std::string name = input.Field();
  const std::string param = input.Field();
  const std::string value = input.Field();
  const std::string block = input.Rest();

  const TIdHeaderQuotingType quoteType = kQuoteTypes[settings & 3];
  TIdHeaderList list(quoteType);
  list.SetUnfoldLines((settings & 4) != 0);
  list.SetFoldLines((settings & 8) != 0);
  list.SetNameValueSeparator(kSeparators[(settings >> 4) & 3]);
  list.SetFoldLinesLength(foldWidth);
  list.SetText(block);

  ReadEverything(list, name, param);
  for (int i = 0; i < list.Count() && i < 8; ++i) {
    const std::string lineName = kv::http::Trim(list.GetName(i));
    ReadEverything(list, lineName, param);
  }

  // The writers, each followed by the look-ups again.
  TIdHeaderList copy(quoteType);
  copy.AddStrings(list);
  FUZZ_CHECK(copy.Lines() == list.Lines());
  list.SetParam(name, param, value);
  ReadEverything(list, name, param);
  // A parameter written reads back as written, whatever the quoting needed.
  if (!list.FoldLines() && IsToken(name) && IsAlphanumeric(param) && IsPlainValue(value)) {
    FUZZ_CHECK(list.GetParam(name, param) == value);
  }
  list.SetAllParams(name, value);
  list.AddValue(name, value);
  ReadEverything(list, name, param);
  list.SetValue(name, value);
  ReadEverything(list, name, param);
  // A plain header written unfolded reads back as written.
  if (!list.FoldLines() && IsToken(name) && IsPlainValue(value)) {
    FUZZ_CHECK(list.GetValue(name) == value);
  }
  list.SetValue(name, {});
  ReadEverything(list, name, param);
  std::vector<std::string> std;
  copy.ConvertToStdValues(std);
  TIdHeaderList rebuilt(quoteType);
  rebuilt.AddStdValues(std);
  rebuilt.AddStrings(std);
  ReadEverything(rebuilt, name, param);

  for (int32_t width : {foldWidth, 0, 1, TIdHeaderList::kDefaultFoldLinesLength}) {
    const std::vector<std::string> folded = kv::http::FoldHeaderLine(block, width);
    for (size_t i = 1; i < folded.size(); ++i) {
      FUZZ_CHECK(!folded[i].empty() && folded[i][0] == ' ');
    }
  }

  // The free helpers on the value as a header value.
  (void)kv::http::ExtractHeaderItem(value);
  (void)kv::http::MediaTypeOf(value);
  (void)kv::http::MediaSubTypeOf(value);
  (void)kv::http::IsHeaderMediaType(value, "multipart");
  (void)kv::http::SplitHeaderSubItems(value, quoteType);
  (void)kv::http::ExtractHeaderSubItem(value, param, quoteType);
  (void)kv::http::ReplaceHeaderSubItem(value, param, name, quoteType);
  (void)kv::http::QuoteHeaderSubItemValue(value, quoteType);
  return 0;
}
