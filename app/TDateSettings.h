#pragma once

#include <array>
#include <string>

#include "app/TMainView.h"

namespace kv::app {

// What the user's regional settings say about dates, as the C library's time locale (LC_TIME)
// gives it, before the reading rules are applied. All texts are UTF-8.
struct TRegionalDateInfo {
  // Short date format in the picture language (letters d, M, y, g and literal text); empty when
  // the locale gives none.
  std::string ShortDateFormat;
  // One character; empty when the locale gives none.
  std::string DateSeparator;
  // Long date format in the picture language; empty when the locale gives none.
  std::string LongDateFormat;
  // Primary language of the locale, lower case ("da", "ja", ...).
  std::string Language;
  // Index 0 is Sunday, 0 is January.
  std::array<std::string, 7> ShortDayNames;
  std::array<std::string, 7> LongDayNames;
  std::array<std::string, 12> ShortMonthNames;
  std::array<std::string, 12> LongMonthNames;
};

// Reads the regional date information of a time locale. An empty name means the user's locale
// from the environment (LC_ALL, LC_TIME, LANG). A locale that cannot be opened gives the "C"
// locale's names and no format, so that the defaults apply.
TRegionalDateInfo ReadRegionalDateInfo(const std::string& localeName = {});

// Turns a strftime date format ("%d-%m-%Y") into the picture language ("dd-MM-yyyy"). Literal
// text that holds picture letters, quotes, or a "/" that is not the date separator is quoted.
// Conversions without a date meaning (times, zones, week numbers) are dropped; the E and O
// modifiers are ignored.
std::string StrftimeToPicture(const std::string& format, const std::string& dateSeparator);

// The date separator of a strftime date format: the first character between two conversions
// that is neither a letter nor a digit; empty when there is none. Every non-ASCII character
// counts as a letter, so the ideographs of "%Y年%m月%d日" are text, not separators.
std::string DateSeparatorOfStrftime(const std::string& format);

// The long date format of a locale in strftime terms, derived from the format the date command
// uses (which mixes in the time): the words that hold a time or zone conversion are dropped and
// abbreviated names become full names. Empty when nothing of a date remains.
std::string LongDateStrftimeOf(const std::string& dateTimeFormat);

// Day of the week of a date, 0 = Sunday (proleptic Gregorian calendar).
int DayOfWeek(TDate date);

// The date settings the window renders dates with: the short date picture with the separator
// already replaced by "/", the separator, the long date picture and the names. Replaced as a
// whole when the regional settings are read again.
class TDateSettings {
 public:
  // Used when the locale gives no short date format or no separator.
  static constexpr const char* kDefaultShortDateFormat = "m/d/yy";
  static constexpr const char* kDefaultDateSeparator = "/";
  // Used when the locale gives no long date format.
  static constexpr const char* kDefaultLongDateFormat = "dddd d MMMM yyyy";

  // The "C" locale's settings.
  TDateSettings();

  // Applies the reading rules: defaults for missing values; for Chinese, Japanese and Korean
  // every "g" or "G" is removed; every date separator outside single quotes becomes "/".
  // Era-counting calendars are not a setting of the C library's locales, so the era rule for
  // them never applies here.
  static TDateSettings FromRegionalInfo(const TRegionalDateInfo& info);

  // Reads the settings of a time locale (empty: the user's locale).
  static TDateSettings FromLocale(const std::string& localeName = {});

  const std::string& ShortDateFormat() const { return m_shortDateFormat; }
  const std::string& DateSeparator() const { return m_dateSeparator; }
  const std::string& LongDateFormat() const { return m_longDateFormat; }
  const std::array<std::string, 7>& ShortDayNames() const { return m_shortDayNames; }
  const std::array<std::string, 7>& LongDayNames() const { return m_longDayNames; }
  const std::array<std::string, 12>& ShortMonthNames() const { return m_shortMonthNames; }
  const std::array<std::string, 12>& LongMonthNames() const { return m_longMonthNames; }

  // Renders a date with a picture.
  std::string FormatDate(const std::string& picture, TDate date) const;
  // Renders a date with the short date picture.
  std::string DateToStr(TDate date) const { return FormatDate(m_shortDateFormat, date); }

 private:
  struct TEmpty {};
  explicit TDateSettings(TEmpty) {}

  // depth counts nested renderings of the short and long pictures, so that a picture that
  // names itself cannot recurse without end.
  void AppendFormatted(std::string& out, const std::string& picture, TDate date, int depth) const;

  std::string m_shortDateFormat;
  std::string m_dateSeparator;
  std::string m_longDateFormat;
  std::array<std::string, 7> m_shortDayNames;
  std::array<std::string, 7> m_longDayNames;
  std::array<std::string, 12> m_shortMonthNames;
  std::array<std::string, 12> m_longMonthNames;
};

// Number of characters (code points) of a UTF-8 text.
size_t Utf8Length(const std::string& text);

// True when a rendered date has the form DD-MM-YYYY as far as the date check looks: ten
// characters with "-" as the third and the sixth. Nothing else of the text is examined.
bool DateTextPassesCheck(const std::string& text);

}  // namespace kv::app
