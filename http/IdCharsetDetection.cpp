#include "http/IdCharsetDetection.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "http/IdTextDecoding.h"
#include "http/TIdHeaderList.h"
#include "net/TIdStream.h"

namespace kv::http {

namespace {

// ---------------------------------------------------------------------------------------------
// Shared helpers

// White space of the markup: NUL, tab, LF, CR and space.
bool IsWhite(char c) {
  return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Characters of tag and attribute names: ASCII letters, digits and - _ : .
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == ':' || c == '.';
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return UpperAscii(x) == UpperAscii(y);
         });
}

// The whole stream as bytes and the position left at its end. A memory stream is read in place;
// any other stream is copied into storage.
std::string_view WholeStream(kv::net::TIdStream& stream, std::string& storage) {
  if (auto* memory = dynamic_cast<kv::net::TIdMemoryStream*>(&stream)) {
    memory->SetPosition(memory->Size());
    return {reinterpret_cast<const char*>(memory->Memory()),
            static_cast<std::size_t>(memory->Size())};
  }
  stream.SetPosition(0);
  storage = ReadStreamToEnd(stream);
  return storage;
}

// ---------------------------------------------------------------------------------------------
// HTML meta scan

constexpr std::string_view kTagHtml = "HTML";
constexpr std::string_view kTagTitle = "TITLE";
constexpr std::string_view kTagHead = "HEAD";
constexpr std::string_view kTagBody = "BODY";
constexpr std::string_view kTagMeta = "META";
constexpr std::string_view kTagScript = "SCRIPT";
constexpr std::string_view kTagLink = "LINK";
constexpr std::string_view kAttributeHttpEquiv = "HTTP-EQUIV";
constexpr std::string_view kAttributeCharset = "charset";
constexpr std::string_view kAttributeContent = "CONTENT";

// One pass over the page text. Every step moves forward or ends the walk, so the scan is linear
// in the length of the page and always ends.
class TMetaScanner {
 public:
  TMetaScanner(std::string_view text, TIdHeaderList* headers, std::string& charset)
      : m_text(text), m_headers(headers), m_charset(charset) {}

  void Run() {
    TState state = TState::start;
    while (FindNext('<')) {
      ++m_pos;
      const TMarkup markup = SkipMarkupStart();
      if (markup == TMarkup::unterminated) {
        return;
      }
      if (markup == TMarkup::comment) {
        continue;
      }
      SkipWhite();
      const std::string_view name = ReadName();
      switch (state) {
        case TState::start:
          SkipTo('>');
          if (SameIgnoringCase(name, kTagHtml)) {
            state = TState::html;
          }
          break;
        case TState::html:
          SkipTo('>');
          if (SameIgnoringCase(name, kTagTitle)) {
            state = TState::title;
          } else if (SameIgnoringCase(name, kTagHead)) {
            state = TState::head;
          } else if (SameIgnoringCase(name, kTagBody)) {
            return;
          }
          break;
        case TState::title:
          // A title before the head: the page declares nothing we look at.
          return;
        case TState::head:
          HeadTag(name);
          break;
      }
    }
  }

 private:
  enum class TState { start, html, title, head };

  bool AtEnd() const { return m_pos >= m_text.size(); }
  // The character ahead positions from here, or -1 past the end.
  int Peek(std::size_t ahead = 0) const {
    return m_pos + ahead < m_text.size() ? static_cast<unsigned char>(m_text[m_pos + ahead]) : -1;
  }
  bool Is(char c, std::size_t ahead = 0) const {
    return Peek(ahead) == static_cast<unsigned char>(c);
  }
  void EndWalk() { m_pos = m_text.size(); }

  // Moves to the next c and reports whether there was one; otherwise to the end.
  bool FindNext(char c) {
    const std::size_t found =
        m_pos < m_text.size() ? m_text.find(c, m_pos) : std::string_view::npos;
    m_pos = found == std::string_view::npos ? m_text.size() : found;
    return found != std::string_view::npos;
  }
  void SkipTo(char c) { FindNext(c); }
  void SkipPast(char c) {
    if (FindNext(c)) {
      ++m_pos;
    }
  }
  void SkipWhite() {
    while (!AtEnd() && IsWhite(m_text[m_pos])) {
      ++m_pos;
    }
  }
  std::string_view ReadName() {
    const std::size_t start = m_pos;
    while (!AtEnd() && IsNameChar(m_text[m_pos])) {
      ++m_pos;
    }
    return m_text.substr(start, m_pos - start);
  }

  enum class TMarkup { tag, comment, unterminated };

  // Just after a "<": steps over the "?" of a processing instruction, the "!" of a declaration,
  // or a whole comment.
  TMarkup SkipMarkupStart() {
    if (Is('?')) {
      ++m_pos;
    } else if (Is('!')) {
      ++m_pos;
      if (Is('-') && Is('-', 1)) {
        m_pos += 2;
        return SkipCommentBody() ? TMarkup::comment : TMarkup::unterminated;
      }
    }
    return TMarkup::tag;
  }

  // A comment ends at the first ">" that follows two or more dashes of the comment itself.
  bool SkipCommentBody() {
    int dashes = 0;
    for (; !AtEnd(); ++m_pos) {
      const char c = m_text[m_pos];
      if (c == '>' && dashes >= 2) {
        ++m_pos;
        return true;
      }
      dashes = c == '-' ? dashes + 1 : 0;
    }
    return false;
  }

  void HeadTag(std::string_view name) {
    if (SameIgnoringCase(name, kTagMeta)) {
      MetaTag();
    } else if (SameIgnoringCase(name, kTagTitle)) {
      SkipElement(kTagTitle);
    } else if (SameIgnoringCase(name, kTagScript)) {
      SkipElement(kTagScript);
    } else if (SameIgnoringCase(name, kTagLink)) {
      SkipTo('>');
    }
    // Any other tag: the walk goes on from inside it.
  }

  // Skips from tag to tag until the closing tag of that name, and past its ">".
  void SkipElement(std::string_view name) {
    while (FindNext('<')) {
      ++m_pos;
      if (Is('/')) {
        ++m_pos;
        if (SameIgnoringCase(ReadName(), name)) {
          SkipPast('>');
          return;
        }
      }
    }
  }

  void MetaTag() {
    SkipWhite();
    const std::string_view attribute = ReadName();
    if (SameIgnoringCase(attribute, kAttributeHttpEquiv)) {
      MetaHttpEquiv();
    } else if (SameIgnoringCase(attribute, kAttributeCharset)) {
      MetaCharset();
    } else {
      SkipTo('>');
    }
  }

  // A value in single or double quotes, or else a run of name characters. False (and the walk
  // ended) when a quote is never closed.
  bool ReadValue(std::string_view& value) {
    if (Is('"') || Is('\'')) {
      return ReadQuoted(value);
    }
    value = ReadName();
    return true;
  }

  // What follows an attribute name: "=" and a value as ReadValue reads it. False without the
  // "=", or when the value's quote is never closed.
  bool ReadAssignedValue(std::string_view& value) {
    SkipWhite();
    if (!Is('=')) {
      return false;
    }
    ++m_pos;
    SkipWhite();
    return ReadValue(value);
  }

  // The text from the quote at the position up to the next same quote, then past that one.
  bool ReadQuoted(std::string_view& value) {
    const char quote = m_text[m_pos];
    return ReadUpTo(quote, m_pos + 1, value);
  }

  bool ReadUpTo(char quote, std::size_t from, std::string_view& value) {
    const std::size_t close = m_text.find(quote, from);
    if (close == std::string_view::npos) {
      EndWalk();
      return false;
    }
    value = m_text.substr(from, close - from);
    m_pos = close + 1;
    return true;
  }

  // An unquoted content value runs up to the next space or ">".
  std::string_view ReadUnquoted() {
    const std::size_t start = m_pos;
    while (!AtEnd() && m_text[m_pos] != ' ' && m_text[m_pos] != '>') {
      ++m_pos;
    }
    return m_text.substr(start, m_pos - start);
  }

  void MetaHttpEquiv() {
    std::string_view name;
    if (!ReadAssignedValue(name)) {
      return;
    }
    std::string line = DecodeLatin1(name) + ":";
    while (!AtEnd() && !Is('>')) {
      SkipWhite();
      if (Is('/')) {
        ++m_pos;
      }
      const std::size_t start = m_pos;
      const std::string_view attribute = ReadName();
      if (Is('=')) {
        ++m_pos;
        SkipWhite();
        const bool complete = SameIgnoringCase(attribute, kAttributeContent) ? AppendContent(line)
                                                                             : SkipAttributeValue();
        if (!complete) {
          return;
        }
      } else if (m_pos == start && !AtEnd() && !Is('>')) {
        // A character that starts no attribute: step over it so the walk keeps moving.
        ++m_pos;
      }
    }
    if (m_headers != nullptr) {
      m_headers->Add(line);
    }
  }

  // line + " " + the content value. Text glued to a closing quote (content="a; charset="x")
  // belongs to the value too, up to the next same quote.
  bool AppendContent(std::string& line) {
    std::string_view value;
    if (!(Is('"') || Is('\''))) {
      line += ' ';
      line += DecodeLatin1(ReadUnquoted());
      return true;
    }
    const char quote = m_text[m_pos];
    if (!ReadQuoted(value)) {
      return false;
    }
    line += ' ';
    line += DecodeLatin1(value);
    if (!AtEnd() && !IsWhite(m_text[m_pos]) && !Is('/') && !Is('>')) {
      if (!ReadUpTo(quote, m_pos, value)) {
        return false;
      }
      line += DecodeLatin1(value);
    }
    return true;
  }

  bool SkipAttributeValue() {
    std::string_view ignored;
    if (Is('"') || Is('\'')) {
      return ReadQuoted(ignored);
    }
    ReadUnquoted();
    return true;
  }

  void MetaCharset() {
    std::string_view value;
    if (!ReadAssignedValue(value)) {
      return;
    }
    m_charset = DecodeLatin1(value);
    SkipTo('>');
  }

  std::string_view m_text;
  TIdHeaderList* m_headers;
  std::string& m_charset;
  std::size_t m_pos = 0;
};

// ---------------------------------------------------------------------------------------------
// XML charset sniff

constexpr char kDefaultXmlCharset[] = "UTF-8";
constexpr std::size_t kSignatureLength = 4;
// Fewer bytes than this carry neither a mark nor a prolog.
constexpr std::size_t kMinimumSignatureLength = 3;

struct TByteOrderMark {
  const char* Charset;
  int Length;
  uint32_t Mark;
  uint32_t Mask;
};

// Tested in this order against the first four bytes read as a big-endian number. The UCS-4
// marks of the unusual byte orders name no charset.
constexpr TByteOrderMark kByteOrderMarks[] = {
    {"UCS-4BE", 4, 0x0000FEFF, 0xFFFFFFFF},  {"", 4, 0x0000FFFE, 0xFFFFFFFF},
    {"UCS-4LE", 4, 0xFFFE0000, 0xFFFFFFFF},  {"", 4, 0xFEFF0000, 0xFFFFFFFF},
    {"UTF-16BE", 2, 0xFEFF0000, 0xFFFF0000}, {"UTF-16LE", 2, 0xFFFE0000, 0xFFFF0000},
    {"UTF-8", 3, 0xEFBBBF00, 0xFFFFFF00},
};

// How the prolog's bytes become text.
enum class TPrologForm { ucs4, utf16be, utf16le, utf8, ebcdic };

struct TXmlProlog {
  std::size_t UnitLength;
  uint32_t Start;
  std::array<uint8_t, 4> EndUnit;  // the unit that holds ">", UnitLength bytes of it
  TPrologForm Form;
  std::size_t CharacterByte;  // for UCS-4: the byte of each unit that holds the character
};

constexpr TXmlProlog kXmlPrologs[] = {
    {4, 0x0000003C, {0x00, 0x00, 0x00, 0x3E}, TPrologForm::ucs4, 3},
    {4, 0x00003C00, {0x00, 0x00, 0x3E, 0x00}, TPrologForm::ucs4, 2},
    {4, 0x3C000000, {0x3E, 0x00, 0x00, 0x00}, TPrologForm::ucs4, 0},
    {4, 0x003C0000, {0x00, 0x3E, 0x00, 0x00}, TPrologForm::ucs4, 1},
    {2, 0x003C003F, {0x00, 0x3E}, TPrologForm::utf16be, 0},
    {2, 0x3C003F00, {0x3E, 0x00}, TPrologForm::utf16le, 0},
    {1, 0x3C3F786D, {0x3E}, TPrologForm::utf8, 0},
    {1, 0x4C6FA794, {0x6E}, TPrologForm::ebcdic, 0},
};

// Code page 037 for the characters a prolog is written in; every other byte reads as U+0001.
constexpr std::array<char, 256> MakeEbcdicTable() {
  std::array<char, 256> table{};
  for (char& c : table) {
    c = '\x01';
  }
  constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz";
  constexpr uint8_t kLowerCodes[] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
                                     0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
                                     0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9};
  for (std::size_t i = 0; i < kLower.size(); ++i) {
    table[kLowerCodes[i]] = kLower[i];
    // Upper-case letters sit 0x40 above their lower-case partners.
    table[kLowerCodes[i] + 0x40] = static_cast<char>(kLower[i] - 'a' + 'A');
  }
  for (int digit = 0; digit < 10; ++digit) {
    table[0xF0 + digit] = static_cast<char>('0' + digit);
  }
  constexpr std::pair<uint8_t, char> kOthers[] = {
      {0x40, ' '}, {0x05, '\t'}, {0x0D, '\r'}, {0x25, '\n'}, {0x4B, '.'}, {0x4C, '<'}, {0x60, '-'},
      {0x6D, '_'}, {0x6E, '>'},  {0x6F, '?'},  {0x7D, '\''}, {0x7E, '='}, {0x7F, '"'},
  };
  for (const auto& [code, c] : kOthers) {
    table[code] = c;
  }
  return table;
}

constexpr std::array<char, 256> kEbcdicTable = MakeEbcdicTable();

// Reads up to count bytes, however the stream splits them.
std::size_t ReadUpTo(kv::net::TIdStream& stream, uint8_t* buffer, std::size_t count) {
  std::size_t total = 0;
  while (total < count) {
    const std::size_t n = stream.Read(buffer + total, count - total);
    if (n == 0) {
      break;
    }
    total += n;
  }
  return total;
}

// The offset just past the unit that holds ">", searched from the fifth byte on in whole units;
// 0 when no whole unit holds it.
std::size_t FindPrologEnd(std::string_view bytes, const TXmlProlog& prolog) {
  for (std::size_t at = kSignatureLength; bytes.size() - at >= prolog.UnitLength;
       at += prolog.UnitLength) {
    if (std::memcmp(bytes.data() + at, prolog.EndUnit.data(), prolog.UnitLength) == 0) {
      return at + prolog.UnitLength;
    }
  }
  return 0;
}

std::string PrologText(std::string_view bytes, const TXmlProlog& prolog) {
  switch (prolog.Form) {
    case TPrologForm::utf16be:
      return DecodeUTF16BE(bytes);
    case TPrologForm::utf16le:
      return DecodeUTF16LE(bytes);
    case TPrologForm::utf8:
      return DecodeUTF8(bytes);
    case TPrologForm::ebcdic: {
      std::string text;
      text.reserve(bytes.size());
      for (const char b : bytes) {
        text += kEbcdicTable[static_cast<uint8_t>(b)];
      }
      return text;
    }
    case TPrologForm::ucs4:
      break;
  }
  std::string characters;
  for (std::size_t at = 0; at + prolog.UnitLength <= bytes.size(); at += prolog.UnitLength) {
    characters += bytes[at + prolog.CharacterByte];
  }
  return DecodeLatin1(characters);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
    text.remove_suffix(1);
  }
  return text;
}

// The quoted value after the first "encoding" of the prolog text, trimmed; empty when there is
// none (an unquoted value counts as none).
std::string EncodingDeclaration(std::string_view text) {
  constexpr std::string_view kEncoding = "encoding";
  std::size_t at = text.find(kEncoding);
  if (at == std::string_view::npos) {
    return {};
  }
  at += kEncoding.size();
  const auto skipWhite = [&] {
    while (at < text.size() && IsWhite(text[at])) {
      ++at;
    }
  };
  skipWhite();
  if (at < text.size() && text[at] == '=') {
    ++at;
    skipWhite();
  }
  if (at >= text.size() || (text[at] != '"' && text[at] != '\'')) {
    return {};
  }
  const std::size_t close = text.find(text[at], at + 1);
  if (close == std::string_view::npos) {
    return {};
  }
  return std::string(TrimBlanks(text.substr(at + 1, close - at - 1)));
}

// The declared encoding of a prolog that starts as the entry says, or empty.
std::string PrologEncoding(kv::net::TIdStream& stream, const TXmlProlog& prolog) {
  std::string storage;
  const std::string_view bytes = WholeStream(stream, storage);
  const std::size_t end = FindPrologEnd(bytes, prolog);
  if (end == 0) {
    return {};
  }
  return EncodingDeclaration(PrologText(bytes.substr(0, end), prolog));
}

}  // namespace

void ScanMetaHttpEquiv(kv::net::TIdStream* stream, TIdHeaderList* headers, std::string& charset) {
  charset.clear();
  if (stream == nullptr) {
    return;
  }
  std::string storage;
  TMetaScanner(WholeStream(*stream, storage), headers, charset).Run();
}

std::string SniffXmlCharset(kv::net::TIdStream* stream) {
  std::string result = kDefaultXmlCharset;
  if (stream == nullptr) {
    return result;
  }
  const int64_t remembered = stream->Position();
  int64_t restore = remembered;
  stream->SetPosition(0);
  uint8_t head[kSignatureLength] = {};
  const std::size_t count = ReadUpTo(*stream, head, kSignatureLength);
  if (count >= kMinimumSignatureLength) {
    const uint32_t signature = (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) |
                               (uint32_t{head[2]} << 8) | uint32_t{head[3]};
    bool marked = false;
    for (const TByteOrderMark& mark : kByteOrderMarks) {
      if ((signature & mark.Mask) == mark.Mark) {
        result = mark.Charset;
        // The text starts after the mark; a position at the end stays there rather than move
        // past it, where a later write would leave a gap of zero bytes.
        restore = std::max(remembered, std::min(remembered + mark.Length, stream->Size()));
        marked = true;
        break;
      }
    }
    if (!marked && count == kSignatureLength) {
      for (const TXmlProlog& prolog : kXmlPrologs) {
        if (signature == prolog.Start) {
          std::string declared = PrologEncoding(*stream, prolog);
          if (!declared.empty()) {
            result = std::move(declared);
          }
          break;
        }
      }
    }
  }
  stream->SetPosition(restore);
  return result;
}

}  // namespace kv::http
