#include "http/IdHTTPDate.h"

#include <time.h>

#include <array>
#include <cmath>
#include <cstdio>

#include "http/IdGlobalProtocols.h"

namespace kv::http {

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kSecondsPerDay = 86400;
// Days from 1899-12-30 (day 0 of TDateTime) to 1970-01-01 (day 0 of time_t).
constexpr int64_t kUnixEpochDays = 25569;
constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
// Two-digit years below this pivot belong to the 2000s, the others to the 1900s.
constexpr int kTwoDigitYearPivot = 50;
// The longest word the date reader accepts ("September", "Wednesday"); longer runs of letters
// are not dates, and reading stops there instead of copying arbitrary amounts of text.
constexpr std::size_t kMaxWordLength = 9;

constexpr std::array<const char*, 7> kShortWeekdays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kLongWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                      "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kShortMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kLongMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t quotient = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? quotient - 1 : quotient;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = FloorDiv(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
  const int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The date of a day count since 1970-01-01.
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

// Seconds since 1970-01-01 00:00 of a TDateTime read as UTC (milliseconds dropped).
bool ToUnixSeconds(TDateTime value, int64_t& seconds, int& millisecond) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!DecodeDateTime(value, year, month, day, hour, minute, second, millisecond)) {
    return false;
  }
  seconds = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return true;
}

bool FromUnixSeconds(int64_t seconds, int millisecond, TDateTime& value) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t secondOfDay = seconds - days * kSecondsPerDay;
  int64_t year = 0;
  int month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  if (year < kMinYear || year > kMaxYear) {
    return false;
  }
  return TryEncodeDateTime(static_cast<int>(year), month, day, static_cast<int>(secondOfDay / 3600),
                           static_cast<int>(secondOfDay / 60 % 60),
                           static_cast<int>(secondOfDay % 60), millisecond, value);
}

bool FromLocalTm(const struct tm& local, int millisecond, TDateTime& value) {
  const int64_t year = static_cast<int64_t>(local.tm_year) + 1900;
  if (year < kMinYear || year > kMaxYear) {
    return false;
  }
  // A leap second reads as the last second of its minute.
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return TryEncodeDateTime(static_cast<int>(year), local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, second, millisecond, value);
}

// Index of word in either name table ignoring case, or -1.
template <std::size_t N>
int IndexOfName(std::string_view word, const std::array<const char*, N>& shortNames,
                const std::array<const char*, N>& longNames) {
  for (std::size_t i = 0; i < N; ++i) {
    if (TextIsSame(word, shortNames[i]) || TextIsSame(word, longNames[i])) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A cursor over the date text; every read checks the end first.
class TDateScanner {
 public:
  explicit TDateScanner(std::string_view text) : m_text(text) {}

  bool AtEnd() const { return m_pos >= m_text.size(); }
  char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }
  bool Accept(char c) {
    if (Peek() == c && !AtEnd()) {
      ++m_pos;
      return true;
    }
    return false;
  }
  // Skips blanks; true when there was at least one.
  bool SkipBlanks() {
    const std::size_t start = m_pos;
    while (!AtEnd() && IsBlank(m_text[m_pos])) {
      ++m_pos;
    }
    return m_pos > start;
  }
  // A run of letters of at most kMaxWordLength; false for an empty or longer run.
  bool ReadWord(std::string_view& word) {
    const std::size_t start = m_pos;
    while (!AtEnd() && IsAsciiLetter(m_text[m_pos])) {
      ++m_pos;
    }
    word = m_text.substr(start, m_pos - start);
    return !word.empty() && word.size() <= kMaxWordLength;
  }
  // A run of minDigits to maxDigits decimal digits; a longer run fails rather than overflows.
  bool ReadNumber(int minDigits, int maxDigits, int& value, int& digits) {
    value = 0;
    digits = 0;
    while (!AtEnd() && IsAsciiDigit(m_text[m_pos])) {
      if (digits == maxDigits) {
        return false;
      }
      value = value * 10 + (m_text[m_pos] - '0');
      ++digits;
      ++m_pos;
    }
    return digits >= minDigits;
  }

 private:
  std::string_view m_text;
  std::size_t m_pos = 0;
};

struct TDateParts {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int ZoneMinutes = 0;  // offset of the written time from GMT
};

bool ReadMonth(TDateScanner& scanner, int& month) {
  std::string_view word;
  if (!scanner.ReadWord(word)) {
    return false;
  }
  month = IndexOfName(word, kShortMonths, kLongMonths) + 1;
  return month > 0;
}

// Two digits (00-49 -> 20xx, 50-99 -> 19xx) or four.
bool ReadYear(TDateScanner& scanner, int& year) {
  int digits = 0;
  if (!scanner.ReadNumber(2, 4, year, digits) || digits == 3) {
    return false;
  }
  if (digits == 2) {
    year += year < kTwoDigitYearPivot ? 2000 : 1900;
  }
  return true;
}

// hh:mm:ss, one or two digits each.
bool ReadTime(TDateScanner& scanner, TDateParts& parts) {
  int digits = 0;
  return scanner.ReadNumber(1, 2, parts.Hour, digits) && scanner.Accept(':') &&
         scanner.ReadNumber(1, 2, parts.Minute, digits) && scanner.Accept(':') &&
         scanner.ReadNumber(1, 2, parts.Second, digits);
}

// An optional zone ("GMT", "UTC", "UT" or "+hhmm"/"-hhmm") and nothing after it.
bool ReadZoneAndEnd(TDateScanner& scanner, TDateParts& parts) {
  scanner.SkipBlanks();
  if (scanner.AtEnd()) {
    return true;
  }
  const char sign = scanner.Peek();
  if (sign == '+' || sign == '-') {
    scanner.Accept(sign);
    int value = 0, digits = 0;
    if (!scanner.ReadNumber(4, 4, value, digits) || value / 100 > 23 || value % 100 > 59) {
      return false;
    }
    parts.ZoneMinutes = (value / 100 * 60 + value % 100) * (sign == '-' ? -1 : 1);
  } else {
    std::string_view zone;
    if (!scanner.ReadWord(zone) ||
        !(TextIsSame(zone, "GMT") || TextIsSame(zone, "UTC") || TextIsSame(zone, "UT"))) {
      return false;
    }
  }
  scanner.SkipBlanks();
  return scanner.AtEnd();
}

// "06 Nov 1994 08:49:37 GMT" or "06-Nov-94 08:49:37 GMT", after the weekday.
bool ReadDayMonthYearForm(TDateScanner& scanner, TDateParts& parts) {
  int digits = 0;
  if (!scanner.ReadNumber(1, 2, parts.Day, digits)) {
    return false;
  }
  if (scanner.Accept('-')) {
    if (!ReadMonth(scanner, parts.Month) || !scanner.Accept('-')) {
      return false;
    }
  } else if (!scanner.SkipBlanks() || !ReadMonth(scanner, parts.Month) || !scanner.SkipBlanks()) {
    return false;
  }
  return ReadYear(scanner, parts.Year) && scanner.SkipBlanks() && ReadTime(scanner, parts) &&
         ReadZoneAndEnd(scanner, parts);
}

// " 6 08:49:37 1994", after weekday and month.
bool ReadAsctimeRest(TDateScanner& scanner, TDateParts& parts) {
  int digits = 0;
  return scanner.SkipBlanks() && scanner.ReadNumber(1, 2, parts.Day, digits) &&
         scanner.SkipBlanks() && ReadTime(scanner, parts) && scanner.SkipBlanks() &&
         ReadYear(scanner, parts.Year) && ReadZoneAndEnd(scanner, parts);
}

bool ReadDateParts(std::string_view text, TDateParts& parts) {
  TDateScanner scanner(text);
  scanner.SkipBlanks();
  if (IsAsciiDigit(scanner.Peek())) {
    return ReadDayMonthYearForm(scanner, parts);
  }
  std::string_view word;
  if (!scanner.ReadWord(word)) {
    return false;
  }
  if (IndexOfName(word, kShortMonths, kLongMonths) >= 0) {
    parts.Month = IndexOfName(word, kShortMonths, kLongMonths) + 1;
    return ReadAsctimeRest(scanner, parts);
  }
  if (IndexOfName(word, kShortWeekdays, kLongWeekdays) < 0) {
    return false;
  }
  scanner.Accept(',');
  scanner.SkipBlanks();
  if (IsAsciiDigit(scanner.Peek())) {
    return ReadDayMonthYearForm(scanner, parts);
  }
  return ReadMonth(scanner, parts.Month) && ReadAsctimeRest(scanner, parts);
}

}  // namespace

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond, TDateTime& result) {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || millisecond < 0 || millisecond > 999) {
    return false;
  }
  const int64_t days = DaysFromCivil(year, month, day) + kUnixEpochDays;
  const int64_t msOfDay =
      ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  result = static_cast<double>(days) + static_cast<double>(msOfDay) / kMsPerDay;
  return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  TDateTime result = 0;
  if (!TryEncodeDateTime(year, month, day, hour, minute, second, millisecond, result)) {
    throw EIdHTTPDateError();
  }
  return result;
}

bool DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& millisecond) {
  // The years 1-9999 span these day numbers; the check also keeps the conversion below in range.
  constexpr double kFirstDay = -693594.0;     // 0001-01-01
  constexpr double kPastLastDay = 2958466.0;  // 10000-01-01
  if (!std::isfinite(value) || value < kFirstDay || value >= kPastLastDay) {
    return false;
  }
  const int64_t totalMs = std::llround(value * static_cast<double>(kMsPerDay));
  const int64_t days = FloorDiv(totalMs, kMsPerDay);
  const int64_t msOfDay = totalMs - days * kMsPerDay;
  int64_t longYear = 0;
  CivilFromDays(days - kUnixEpochDays, longYear, month, day);
  if (longYear < kMinYear || longYear > kMaxYear) {
    return false;
  }
  year = static_cast<int>(longYear);
  hour = static_cast<int>(msOfDay / 3600000);
  minute = static_cast<int>(msOfDay / 60000 % 60);
  second = static_cast<int>(msOfDay / 1000 % 60);
  millisecond = static_cast<int>(msOfDay % 1000);
  return true;
}

TDateTime Now() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  TDateTime result = 0;
  if (localtime_r(&now.tv_sec, &local) == nullptr ||
      !FromLocalTm(local, static_cast<int>(now.tv_nsec / 1000000), result)) {
    return 0;
  }
  return result;
}

bool TryGMTToLocal(TDateTime gmt, TDateTime& local) {
  int64_t seconds = 0;
  int millisecond = 0;
  if (!ToUnixSeconds(gmt, seconds, millisecond)) {
    return false;
  }
  const time_t time = static_cast<time_t>(seconds);
  struct tm parts {};
  if (localtime_r(&time, &parts) == nullptr) {
    return false;
  }
  return FromLocalTm(parts, millisecond, local);
}

bool TryLocalToGMT(TDateTime local, TDateTime& gmt) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  if (!DecodeDateTime(local, year, month, day, hour, minute, second, millisecond)) {
    return false;
  }
  struct tm parts {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;  // let the zone rules decide whether summer time applies
  parts.tm_wday = -1;   // mktime sets it on success; -1 can be a valid result
  const time_t time = mktime(&parts);
  if (parts.tm_wday == -1) {
    return false;
  }
  return FromUnixSeconds(static_cast<int64_t>(time), millisecond, gmt);
}

bool TryParseHTTPDateGMT(std::string_view text, TDateTime& gmt) {
  TDateParts parts;
  if (!ReadDateParts(text, parts)) {
    return false;
  }
  // A leap second reads as the last second of its minute.
  const int second = parts.Second == 60 ? 59 : parts.Second;
  TDateTime written = 0;
  if (!TryEncodeDateTime(parts.Year, parts.Month, parts.Day, parts.Hour, parts.Minute, second, 0,
                         written)) {
    return false;
  }
  int64_t seconds = 0;
  int millisecond = 0;
  return ToUnixSeconds(written, seconds, millisecond) &&
         FromUnixSeconds(seconds - static_cast<int64_t>(parts.ZoneMinutes) * 60, 0, gmt);
}

bool TryParseHTTPDate(std::string_view text, TDateTime& local) {
  TDateTime gmt = 0;
  return TryParseHTTPDateGMT(text, gmt) && TryGMTToLocal(gmt, local);
}

TDateTime GMTToLocalDateTime(std::string_view httpDate) {
  TDateTime local = 0;
  return TryParseHTTPDate(httpDate, local) ? local : 0;
}

TDateTime ParseHTTPDate(std::string_view httpDate) {
  if (Trim(httpDate).empty()) {
    return 0;
  }
  TDateTime local = 0;
  if (!TryParseHTTPDate(httpDate, local)) {
    throw EIdHTTPDateError();
  }
  return local;
}

std::string LocalDateTimeToGMT(TDateTime local) {
  TDateTime gmt = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  if (!TryLocalToGMT(local, gmt) ||
      !DecodeDateTime(gmt, year, month, day, hour, minute, second, millisecond)) {
    return {};
  }
  // 1970-01-01 was a Thursday.
  const int64_t weekday = (DaysFromCivil(year, month, day) % 7 + 7 + 4) % 7;
  char time[16];
  std::snprintf(time, sizeof time, "%.2d:%.2d:%.2d", hour, minute, second);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %.2d %s %.4d %s %s",
                kShortWeekdays[static_cast<std::size_t>(weekday)], day,
                kShortMonths[static_cast<std::size_t>(month - 1)], year, time, "GMT");
  return text;
}

}  // namespace kv::http
