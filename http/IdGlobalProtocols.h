#pragma once

// Small text helpers shared by the HTTP client's classes. Everything here is ASCII-only: header
// names, keywords and media types are ASCII, and bytes above 127 are ordinary characters that
// no helper changes or treats as white space. Every helper is total: any input, including an
// empty one, yields a result and never reads outside the text.
//
// At a glance:
//   TextIsSame, TextStartsWith, TextEndsWith, TextPos  - ASCII case-insensitive comparisons
//   Trim, TrimLeft, TrimRight                           - drop white space and control characters
//                                                         (every byte <= ' ')
//   Fetch                                               - cut the text in front of a delimiter
//   StrToInt64Def, StrToIntDef, TryStrToInt64           - strict signed decimal numbers
//   ExtractHeaderItem, MediaTypeOf, MediaSubTypeOf,     - the part of a header value in front
//   IsHeaderMediaType, IsHeaderMediaTypes                 of its parameters and media types
//   ExtractHeaderSubItem, ReplaceHeaderSubItem,         - header parameters (name=value after
//   SplitHeaderSubItems, QuoteHeaderSubItemValue          ";"), with the quoting rules below

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::http {

// The rule by which parameter values of a header are delimited and quoted. The separators of
// each rule: QuotePlain only ";"; QuoteRFC822 ( ) < > @ , ; : \ " . [ ]; QuoteMIME
// ( ) < > @ , ; : \ " / [ ] ? =; QuoteHTTP ( ) < > @ , ; : \ " / [ ] ? = { } space and tab.
// Control characters, space and DEL always end an unquoted value.
enum class TIdHeaderQuotingType { QuotePlain, QuoteRFC822, QuoteMIME, QuoteHTTP };

// ---- comparisons (ASCII case-insensitive) ----
char ToLowerAscii(char c);
char ToUpperAscii(char c);
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool TextIsSame(std::string_view a, std::string_view b);
bool TextStartsWith(std::string_view text, std::string_view prefix);
bool TextEndsWith(std::string_view text, std::string_view suffix);
// Position of the first occurrence of sub in text ignoring case, or std::string::npos.
std::size_t TextPos(std::string_view text, std::string_view sub, std::size_t start = 0);

// ---- trimming: every byte <= ' ' counts as white space ----
bool IsBlank(char c);
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// Cuts text at the first delimiter and returns what was in front of it; text keeps what
// follows the delimiter (deleteDelimiter) or starts at it. Without a delimiter the whole text is
// returned and text is emptied. An empty delimiter returns the whole text.
std::string Fetch(std::string& text, std::string_view delimiter = " ", bool deleteDelimiter = true,
                  bool caseSensitive = true);

// ---- numbers: optional sign and decimal digits only, no blanks (trim first), no overflow ----
bool TryStrToInt64(std::string_view text, int64_t& value);
int64_t StrToInt64Def(std::string_view text, int64_t defaultValue);
int32_t StrToIntDef(std::string_view text, int32_t defaultValue);

// ---- header values: "item; name=value; name2="quoted value"" ----
// The trimmed text in front of the first ";".
std::string ExtractHeaderItem(std::string_view headerValue);
// The type ("text" of "text/html; charset=x") and the subtype ("html"), trimmed, case kept.
std::string MediaTypeOf(std::string_view headerValue);
std::string MediaSubTypeOf(std::string_view headerValue);
// True when the header's media type matches mediaType ignoring case. A mediaType without "/"
// ("multipart") compares the type part only; one with "/" ("text/html") the whole type/subtype.
bool IsHeaderMediaType(std::string_view headerValue, std::string_view mediaType);
bool IsHeaderMediaTypes(std::string_view headerValue, const std::vector<std::string>& mediaTypes);

// One parameter of a header value. Quoted tells whether the value was written in double quotes.
struct THeaderSubItem {
  std::string Name;
  std::string Value;
  bool Quoted = false;
};

// The parameters after the first ";" of headerValue, in order. Leading blanks are skipped; the
// name is the trimmed text before "="; a value starting with a double quote runs to the next
// unescaped double quote (a backslash removes itself and keeps the next character; an unclosed
// quote runs to the end); otherwise the value runs up to the first control character, space,
// DEL or separator of the quoting type. Items with an empty name, or with an empty unquoted
// value, are dropped.
std::vector<THeaderSubItem> SplitHeaderSubItems(std::string_view headerValue,
                                                TIdHeaderQuotingType quoteType);
// The value of the first parameter named subItem (ignoring case), empty when there is none.
std::string ExtractHeaderSubItem(std::string_view headerValue, std::string_view subItem,
                                 TIdHeaderQuotingType quoteType);
// True when value must be written in double quotes under the quoting type (empty, or holds a
// control character, space, DEL or a separator).
bool HeaderSubItemNeedsQuotes(std::string_view value, TIdHeaderQuotingType quoteType);
// value as it is written after "name=": in double quotes, with its double quotes and
// backslashes escaped, when it needs quotes or forceQuotes is set; otherwise unchanged.
std::string QuoteHeaderSubItemValue(std::string_view value, TIdHeaderQuotingType quoteType,
                                    bool forceQuotes = false);
// headerValue with the parameter subItem replaced (first occurrence, later duplicates
// dropped), appended when absent, or removed when value is empty. The result is the item
// followed by "; name=value" per remaining parameter, quoted where needed.
std::string ReplaceHeaderSubItem(std::string_view headerValue, std::string_view subItem,
                                 std::string_view value, TIdHeaderQuotingType quoteType);

}  // namespace kv::http
