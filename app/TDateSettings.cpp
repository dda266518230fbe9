#include "app/TDateSettings.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kv::app {

namespace {

// ---------------------------------------------------------------------------------------------
// strftime formats

// One piece of a strftime format: literal text, or a conversion with its padding flag.
struct TStrftimeToken {
  bool IsConversion = false;
  char Conversion = 0;  // the conversion character, E and O modifiers removed
  char Flag = 0;        // '-', '_', '0', '^', '#' or 0
  std::string Literal;
};

// Conversions that stand for a date field in the picture language.
bool IsDateConversion(char c) {
  switch (c) {
    case 'd':
    case 'e':
    case 'm':
    case 'y':
    case 'Y':
    case 'G':
    case 'g':
    case 'b':
    case 'h':
    case 'B':
    case 'a':
    case 'A':
      return true;
    default:
      return false;
  }
}

void AppendLiteral(std::vector<TStrftimeToken>& tokens, const std::string& text) {
  if (!tokens.empty() && !tokens.back().IsConversion) {
    tokens.back().Literal += text;
  } else {
    TStrftimeToken token;
    token.Literal = text;
    tokens.push_back(std::move(token));
  }
}

// Splits a format into literal runs and conversions; %D and %F are expanded to their parts and
// %%, %n and %t become literal text, so later steps see only date fields and text.
void Tokenize(const std::string& format, std::vector<TStrftimeToken>& tokens) {
  size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      AppendLiteral(tokens, std::string(1, format[i]));
      ++i;
      continue;
    }
    size_t j = i + 1;
    char flag = 0;
    if (format[j] == '-' || format[j] == '_' || format[j] == '0' || format[j] == '^' ||
        format[j] == '#') {
      flag = format[j++];
    }
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
      ++j;  // a field width changes nothing the picture language can express
    }
    if (j < format.size() && (format[j] == 'E' || format[j] == 'O')) {
      ++j;
    }
    if (j >= format.size()) {
      AppendLiteral(tokens, format.substr(i));
      break;
    }
    const char c = format[j];
    i = j + 1;
    switch (c) {
      case '%':
        AppendLiteral(tokens, "%");
        break;
      case 'n':
        AppendLiteral(tokens, "\n");
        break;
      case 't':
        AppendLiteral(tokens, "\t");
        break;
      case 'D':
        Tokenize("%m/%d/%y", tokens);
        break;
      case 'F':
        Tokenize("%Y-%m-%d", tokens);
        break;
      default:
        if (IsDateConversion(c)) {
          TStrftimeToken token;
          token.IsConversion = true;
          token.Conversion = c;
          token.Flag = flag;
          tokens.push_back(std::move(token));
        }
        // Anything else (times, zones, week numbers, the century) has no picture letter.
        break;
    }
  }
}

std::vector<TStrftimeToken> Tokenize(const std::string& format) {
  std::vector<TStrftimeToken> tokens;
  Tokenize(format, tokens);
  return tokens;
}

bool IsAsciiLetterOrDigit(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A quote would open quoted text in the picture, so it never serves as the separator.
bool CanBeSeparator(unsigned char c) {
  return c < 0x80 && !IsAsciiLetterOrDigit(c) && c != '\'' && c != '"';
}

// The picture letters of one date conversion.
std::string PictureOf(const TStrftimeToken& token) {
  const bool unpadded = token.Flag == '-' || token.Flag == '_';
  switch (token.Conversion) {
    case 'd':
      return unpadded ? "d" : "dd";
    case 'e':
      return token.Flag == '0' ? "dd" : "d";
    case 'm':
      return unpadded ? "M" : "MM";
    case 'y':
    case 'g':
      return "yy";
    case 'Y':
    case 'G':
      return "yyyy";
    case 'b':
    case 'h':
      return "MMM";
    case 'B':
      return "MMMM";
    case 'a':
      return "ddd";
    case 'A':
      return "dddd";
    default:
      return {};
  }
}

bool IsPictureLetter(unsigned char c) {
  switch (c) {
    case 'd':
    case 'D':
    case 'm':
    case 'M':
    case 'y':
    case 'Y':
      return true;
    default:
      return false;
  }
}

// Literal text that would otherwise be read as picture letters, quotes or the separator mark.
bool NeedsQuotes(const std::string& text, const std::string& separator) {
  for (unsigned char c : text) {
    if (IsPictureLetter(c) || c == '\'' || c == '"' || (c == '/' && separator != "/")) {
      return true;
    }
  }
  return false;
}

void AppendQuoted(std::string& picture, const std::string& text, const std::string& separator) {
  if (!NeedsQuotes(text, separator)) {
    picture += text;
    return;
  }
  // Single quotes, except around a single quote itself, which only double quotes can hold.
  std::string run;
  auto flush = [&] {
    if (!run.empty()) {
      picture += '\'' + run + '\'';
      run.clear();
    }
  };
  for (char c : text) {
    if (c == '\'') {
      flush();
      picture += "\"'\"";
    } else {
      run += c;
    }
  }
  flush();
}

// Separator characters stay outside quotes, so that reading the picture maps them to "/" and
// they render as the separator again; the text between them is quoted as needed.
void AppendLiteralText(std::string& picture, const std::string& text,
                       const std::string& separator) {
  std::string piece;
  for (char c : text) {
    if (!separator.empty() && c == separator[0]) {
      AppendQuoted(picture, piece, separator);
      piece.clear();
      picture += c;
    } else {
      piece += c;
    }
  }
  AppendQuoted(picture, piece, separator);
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Conversions that belong to the time of day or the zone; a word holding one is not part of a
// long date.
bool IsTimeConversion(char c) {
  switch (c) {
    case 'H':
    case 'I':
    case 'k':
    case 'l':
    case 'M':
    case 'S':
    case 'p':
    case 'P':
    case 'r':
    case 'R':
    case 'T':
    case 'X':
    case 'Z':
    case 'z':
    case 's':
    case 'c':
    case '+':
      return true;
    default:
      return false;
  }
}

// The conversion characters of a word, flags, widths and modifiers skipped.
std::string ConversionsOf(const std::string& word) {
  std::string result;
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      continue;
    }
    size_t j = i + 1;
    while (j < word.size() && (word[j] == '-' || word[j] == '_' || word[j] == '0' ||
                               word[j] == '^' || word[j] == '#' || word[j] == 'E' ||
                               word[j] == 'O' || (word[j] >= '1' && word[j] <= '9'))) {
      ++j;
    }
    if (j < word.size()) {
      result += word[j];
    }
    i = j;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Reading a locale

// Owns a locale object of the C library.
class TLocaleHandle {
 public:
  explicit TLocaleHandle(locale_t handle) : m_handle(handle) {}
  ~TLocaleHandle() {
    if (m_handle != locale_t{}) {
      freelocale(m_handle);
    }
  }
  TLocaleHandle(const TLocaleHandle&) = delete;
  TLocaleHandle& operator=(const TLocaleHandle&) = delete;
  locale_t Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != locale_t{}; }

 private:
  locale_t m_handle;
};

// Converts the locale's texts to UTF-8 when its files are in another character set.
class TToUtf8 {
 public:
  explicit TToUtf8(const std::string& codeset) {
    if (!codeset.empty() && codeset != "UTF-8" && codeset != "utf8" &&
        codeset != "ANSI_X3.4-1968") {
      m_cd = iconv_open("UTF-8", codeset.c_str());
    }
  }
  ~TToUtf8() {
    if (m_cd != kNone) {
      iconv_close(m_cd);
    }
  }
  TToUtf8(const TToUtf8&) = delete;
  TToUtf8& operator=(const TToUtf8&) = delete;

  std::string operator()(const char* text) const {
    std::string in = text != nullptr ? text : "";
    if (m_cd == kNone || in.empty()) {
      return in;
    }
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      return in;  // better the raw bytes than nothing
    }
    out.resize(out.size() - outLeft);
    return out;
  }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  iconv_t m_cd = kNone;
};

// glibc pads some abbreviated names (" 1月") so that they line up in tables.
std::string TrimBlanks(std::string text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    return {};
  }
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string LanguageOf(const std::string& localeName) {
  std::string language;
  for (char c : localeName) {
    if (c == '_' || c == '.' || c == '@') {
      break;
    }
    language += AsciiLower(c);
  }
  return language;
}

void ReadNames(TRegionalDateInfo& info, locale_t loc, const TToUtf8& toUtf8) {
  static constexpr nl_item kAbDay[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                        ABDAY_5, ABDAY_6, ABDAY_7};
  static constexpr nl_item kDay[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static constexpr nl_item kAbMon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                         ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static constexpr nl_item kMon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                       MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  for (int i = 0; i < 7; ++i) {
    info.ShortDayNames[i] = TrimBlanks(toUtf8(nl_langinfo_l(kAbDay[i], loc)));
    info.LongDayNames[i] = TrimBlanks(toUtf8(nl_langinfo_l(kDay[i], loc)));
  }
  for (int i = 0; i < 12; ++i) {
    info.ShortMonthNames[i] = TrimBlanks(toUtf8(nl_langinfo_l(kAbMon[i], loc)));
    info.LongMonthNames[i] = TrimBlanks(toUtf8(nl_langinfo_l(kMon[i], loc)));
  }
}

// The name of the locale that the time category resolved to ("da_DK.UTF-8" for "" when LC_TIME
// says so).
std::string TimeLocaleName(locale_t loc, const std::string& requested) {
#ifdef _NL_LOCALE_NAME
  const char* name = nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), loc);
  if (name != nullptr && *name != '\0') {
    return name;
  }
#else
  (void)loc;
#endif
  return requested;
}

void AppendNumber(std::string& out, const char* format, int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  out += buffer;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::string DateSeparatorOfStrftime(const std::string& format) {
  const std::vector<TStrftimeToken> tokens = Tokenize(format);
  bool afterField = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].IsConversion) {
      afterField = true;
      continue;
    }
    if (!afterField || i + 1 >= tokens.size()) {
      continue;  // text before the first or after the last field separates nothing
    }
    for (unsigned char c : tokens[i].Literal) {
      if (CanBeSeparator(c)) {
        return std::string(1, static_cast<char>(c));
      }
    }
  }
  return {};
}

std::string StrftimeToPicture(const std::string& format, const std::string& dateSeparator) {
  std::string picture;
  for (const TStrftimeToken& token : Tokenize(format)) {
    if (!token.IsConversion) {
      AppendLiteralText(picture, token.Literal, dateSeparator);
      continue;
    }
    const std::string letters = PictureOf(token);
    // Two fields of the same letter side by side would merge into one longer run ("%d%d" is
    // not "dddd", the day name); an empty quote keeps them apart.
    if (!picture.empty() && AsciiLower(picture.back()) == AsciiLower(letters.front())) {
      picture += "''";
    }
    picture += letters;
  }
  return picture;
}

std::string LongDateStrftimeOf(const std::string& dateTimeFormat) {
  std::string result;
  bool hasDate = false;
  size_t i = 0;
  while (i < dateTimeFormat.size()) {
    const size_t start = dateTimeFormat.find_first_not_of(" \t", i);
    if (start == std::string::npos) {
      break;
    }
    size_t end = dateTimeFormat.find_first_of(" \t", start);
    if (end == std::string::npos) {
      end = dateTimeFormat.size();
    }
    std::string word = dateTimeFormat.substr(start, end - start);
    i = end;
    const std::string conversions = ConversionsOf(word);
    bool isTime = false;
    for (char c : conversions) {
      isTime = isTime || IsTimeConversion(c);
      hasDate = hasDate || IsDateConversion(c);
    }
    if (isTime) {
      continue;
    }
    // A long date spells the names out.
    for (size_t k = 0; k + 1 < word.size(); ++k) {
      if (word[k] == '%') {
        char& c = word[k + 1];
        c = (c == 'a') ? 'A' : (c == 'b' || c == 'h') ? 'B' : c;
        ++k;
      }
    }
    if (!result.empty()) {
      result += ' ';
    }
    result += word;
  }
  return hasDate ? result : std::string();
}

int DayOfWeek(TDate date) {
  // Days from 1970-01-01 (a Thursday) by the civil-calendar formula. The arithmetic is 64-bit:
  // with 32 bits the year before the first and the month offset overflow at the ends of int.
  const int64_t y = int64_t{date.Year} - (date.Month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (int64_t{date.Month} + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + date.Day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  const int64_t dow = (days + 4) % 7;
  return static_cast<int>(dow < 0 ? dow + 7 : dow);
}

size_t Utf8Length(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) {
      ++count;
    }
  }
  return count;
}

bool DateTextPassesCheck(const std::string& text) {
  // "DD-MM-YYYY": ten characters, hyphens at the third and the sixth (zero-based 2 and 5).
  constexpr size_t kCheckedLength = 10;
  constexpr size_t kFirstHyphen = 2;
  constexpr size_t kSecondHyphen = 5;
  if (Utf8Length(text) != kCheckedLength) {
    return false;
  }
  // Characters, not bytes: a name in the picture may be several bytes long.
  size_t index = 0;
  bool first = false;
  bool second = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
      continue;
    }
    if (index == kFirstHyphen) {
      first = text[i] == '-';
    } else if (index == kSecondHyphen) {
      second = text[i] == '-';
    }
    ++index;
  }
  return first && second;
}

TRegionalDateInfo ReadRegionalDateInfo(const std::string& localeName) {
  TRegionalDateInfo info;
  TLocaleHandle loc(newlocale(LC_TIME_MASK, localeName.c_str(), locale_t{}));
  if (!loc) {
    // No such locale here: the names of "C", and no format, so the defaults apply.
    TLocaleHandle c(newlocale(LC_TIME_MASK, "C", locale_t{}));
    if (c) {
      ReadNames(info, c.Get(), TToUtf8(""));
    }
    return info;
  }
  const std::string name = TimeLocaleName(loc.Get(), localeName);
  info.Language = LanguageOf(name);

  // The texts of a time locale are in the character set of the same locale's LC_CTYPE.
  std::string codeset;
  TLocaleHandle ctype(newlocale(LC_CTYPE_MASK, name.c_str(), locale_t{}));
  if (ctype) {
    codeset = nl_langinfo_l(CODESET, ctype.Get());
  }
  const TToUtf8 toUtf8(codeset);

  const std::string shortFormat = toUtf8(nl_langinfo_l(D_FMT, loc.Get()));
  info.DateSeparator = DateSeparatorOfStrftime(shortFormat);
  info.ShortDateFormat = StrftimeToPicture(shortFormat, info.DateSeparator);
#ifdef _DATE_FMT
  const std::string longFormat = LongDateStrftimeOf(toUtf8(nl_langinfo_l(_DATE_FMT, loc.Get())));
#else
  const std::string longFormat = LongDateStrftimeOf(toUtf8(nl_langinfo_l(D_T_FMT, loc.Get())));
#endif
  if (!longFormat.empty()) {
    info.LongDateFormat = StrftimeToPicture(longFormat, info.DateSeparator);
  }
  ReadNames(info, loc.Get(), toUtf8);
  return info;
}

// ---------------------------------------------------------------------------------------------

TDateSettings::TDateSettings() : TDateSettings(FromRegionalInfo(ReadRegionalDateInfo("C"))) {}

TDateSettings TDateSettings::FromRegionalInfo(const TRegionalDateInfo& info) {
  TDateSettings settings{TEmpty{}};
  settings.m_dateSeparator =
      info.DateSeparator.empty() ? kDefaultDateSeparator : info.DateSeparator;
  std::string picture =
      info.ShortDateFormat.empty() ? kDefaultShortDateFormat : info.ShortDateFormat;
  if (info.Language == "zh" || info.Language == "ja" || info.Language == "ko") {
    std::string kept;
    for (char c : picture) {
      if (c != 'g' && c != 'G') {
        kept += c;
      }
    }
    picture = kept;
  }
  // The separator is written as "/" so that rendering puts the separator of the moment there.
  std::string mapped;
  bool quoted = false;
  for (size_t i = 0; i < picture.size(); ++i) {
    if (picture[i] == '\'') {
      quoted = !quoted;
    }
    if (!quoted &&
        picture.compare(i, settings.m_dateSeparator.size(), settings.m_dateSeparator) == 0) {
      mapped += '/';
      i += settings.m_dateSeparator.size() - 1;
    } else {
      mapped += picture[i];
    }
  }
  settings.m_shortDateFormat = mapped;
  settings.m_longDateFormat =
      info.LongDateFormat.empty() ? kDefaultLongDateFormat : info.LongDateFormat;
  settings.m_shortDayNames = info.ShortDayNames;
  settings.m_longDayNames = info.LongDayNames;
  settings.m_shortMonthNames = info.ShortMonthNames;
  settings.m_longMonthNames = info.LongMonthNames;
  return settings;
}

TDateSettings TDateSettings::FromLocale(const std::string& localeName) {
  return FromRegionalInfo(ReadRegionalDateInfo(localeName));
}

std::string TDateSettings::FormatDate(const std::string& picture, TDate date) const {
  std::string out;
  AppendFormatted(out, picture, date, 0);
  return out;
}

void TDateSettings::AppendFormatted(std::string& out, const std::string& picture, TDate date,
                                    int depth) const {
  // The short and long pictures may be rendered inside a picture, but not inside themselves.
  constexpr int kMaxNesting = 2;
  const int month = (date.Month >= 1 && date.Month <= 12) ? date.Month : 1;
  size_t i = 0;
  while (i < picture.size()) {
    const char c = picture[i];
    if (c == '\'' || c == '"') {
      size_t close = picture.find(c, i + 1);
      if (close == std::string::npos) {
        close = picture.size();
      }
      out.append(picture, i + 1, close - i - 1);
      i = close + 1;
      continue;
    }
    const char lower = AsciiLower(c);
    if (lower != 'd' && lower != 'm' && lower != 'y') {
      out += (c == '/') ? m_dateSeparator : std::string(1, c);
      ++i;
      continue;
    }
    size_t run = 0;
    while (i + run < picture.size() && AsciiLower(picture[i + run]) == lower) {
      ++run;
    }
    i += run;
    if (lower == 'd') {
      if (run == 1) {
        AppendNumber(out, "%d", date.Day);
      } else if (run == 2) {
        AppendNumber(out, "%.2d", date.Day);
      } else if (run == 3) {
        out += m_shortDayNames[DayOfWeek(date)];
      } else if (run == 4) {
        out += m_longDayNames[DayOfWeek(date)];
      } else if (depth < kMaxNesting) {
        AppendFormatted(out, run == 5 ? m_shortDateFormat : m_longDateFormat, date, depth + 1);
      }
    } else if (lower == 'm') {
      if (run == 1) {
        AppendNumber(out, "%d", date.Month);
      } else if (run == 2) {
        AppendNumber(out, "%.2d", date.Month);
      } else if (run == 3) {
        out += m_shortMonthNames[month - 1];
      } else {
        out += m_longMonthNames[month - 1];
      }
    } else if (run <= 2) {
      AppendNumber(out, "%.2d", date.Year % 100);
    } else {
      AppendNumber(out, "%.4d", date.Year);
    }
  }
}

}  // namespace kv::app
