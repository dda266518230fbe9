#pragma once

// HTTP dates: reading the three forms a server may send and writing the one a client sends.
//
//   RFC 1123   "Sun, 06 Nov 1994 08:49:37 GMT"
//   RFC 850    "Sunday, 06-Nov-94 08:49:37 GMT"
//   asctime    "Sun Nov  6 08:49:37 1994"
//
// Reading is tolerant of surrounding blanks, of letter case, of a missing weekday, of one or
// two digit days and hours, of a two- or four-digit year in any form (two digits: 00-49 mean
// 20xx, 50-99 mean 19xx), and of "UTC"/"UT" or a numeric "+hhmm"/"-hhmm" zone in place of "GMT"
// (a missing zone counts as GMT). A weekday name, when present, must be a real one but need not
// match the date. Anything else, and any date or time out of range (Feb 30, 24:00:00, year 0),
// is not a date. Trailing text after the date is not accepted.
//
// Which inputs fail: a text that is empty or only blanks is "absent" and reads as 0 everywhere;
// every other text that is not a date fails - TryParseHTTPDate returns false, GMTToLocalDateTime
// returns 0 and ParseHTTPDate raises EIdHTTPDateError "Invalid HTTP date". So "Date" and
// "Last-Modified" use GMTToLocalDateTime (0 for non-dates), and "Expires" uses ParseHTTPDate and
// catches EIdHTTPDateError to mean "already expired".
//
// Conversions between GMT and local time use the C library's time-zone information (TZ,
// localtime_r, mktime).

#include <cstdint>
#include <string>
#include <string_view>

#include "net/EIdException.h"

namespace kv::http {

// Days since 1899-12-30 00:00, local time, the fraction being the time of day; 0 = absent.
// Values before that day are plain negative numbers (days + fraction of a day).
using TDateTime = double;

using kv::net::EIdException;
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdHTTPDateError, EIdException, "Invalid HTTP date");

inline constexpr double kOneSecond = 1.0 / 86400.0;

// ---- calendar arithmetic (no time zone involved) ----
// False for a date or time out of range (month 1-12, the month's days, hour 0-23, minute and
// second 0-59, millisecond 0-999, year 1-9999).
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond, TDateTime& result);
// Raises EIdHTTPDateError for a date or time out of range.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
// The parts of value, rounded to the millisecond. False when value is not finite or lies
// outside the years 1-9999.
bool DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& millisecond);

// ---- time zone ----
// The current local time.
TDateTime Now();
// A GMT date-time in local time, and back. False when the C library cannot convert it.
bool TryGMTToLocal(TDateTime gmt, TDateTime& local);
bool TryLocalToGMT(TDateTime local, TDateTime& gmt);

// ---- reading ----
// Parses an HTTP date into its GMT date-time, without time-zone conversion.
bool TryParseHTTPDateGMT(std::string_view text, TDateTime& gmt);
// Parses an HTTP date and converts it to local time. False for blank text and for non-dates.
bool TryParseHTTPDate(std::string_view text, TDateTime& local);
// Local time of an HTTP date; 0 when the text is blank or not a date. Never raises.
TDateTime GMTToLocalDateTime(std::string_view httpDate);
// Local time of an HTTP date; 0 for blank text; raises EIdHTTPDateError for anything else that
// is not a date.
TDateTime ParseHTTPDate(std::string_view httpDate);

// ---- writing ----
// "Sun, 06 Nov 1994 08:49:37 GMT" for a local date-time (format "%s, %.2d %s %.4d %s %s").
// Empty when the value cannot be converted (not finite, outside the years 1-9999).
std::string LocalDateTimeToGMT(TDateTime local);

}  // namespace kv::http
