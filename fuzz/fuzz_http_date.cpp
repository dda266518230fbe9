// The HTTP date parser (three forms, blanks, zones, two-digit years) and the writer.
//
// Input: a flags byte, 8 bytes of a date-time value for the writer, then the date text.
// flags bits 0-1: the time zone (UTC, Copenhagen, New York, Kolkata).

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"
#include "http/IdHTTPDate.h"

namespace {

using kv::fuzz::TFuzzInput;
using kv::http::TDateTime;

const char* const kZones[] = {"UTC0", "Europe/Copenhagen", "America/New_York", "Asia/Kolkata"};
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void SetZone(const char* zone) {
  static const char* current = nullptr;
  if (current != zone) {
    setenv("TZ", zone, 1);
    tzset();
    current = zone;
  }
}

// A parsed date is a real calendar date, and written in the RFC 1123 form it reads back as the
// same date-time.
void CheckParsedDate(TDateTime gmt) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  FUZZ_CHECK(kv::http::DecodeDateTime(gmt, year, month, day, hour, minute, second, millisecond));
  FUZZ_CHECK(year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31);
  FUZZ_CHECK(hour <= 23 && minute <= 59 && second <= 59 && millisecond == 0);
  char text[64];
  std::snprintf(text, sizeof text, "%.2d %s %.4d %.2d:%.2d:%.2d GMT", day, kMonths[month - 1], year,
                hour, minute, second);
  TDateTime again = 0;
  FUZZ_CHECK(kv::http::TryParseHTTPDateGMT(text, again));
  FUZZ_CHECK(std::fabs(again - gmt) < kv::http::kOneSecond / 2);
  (void)kDays;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t flags = input.Byte();
  double value = 0;
  const std::string raw = input.Take(sizeof value);
  std::memcpy(&value, raw.data(), raw.size());
  const std::string text = input.Rest();
  SetZone(kZones[flags & 3]);

  TDateTime gmt = 0;
  if (kv::http::TryParseHTTPDateGMT(text, gmt)) {
    CheckParsedDate(gmt);
  }
  TDateTime local = 0;
  const bool parsed = kv::http::TryParseHTTPDate(text, local);
  const TDateTime converted = kv::http::GMTToLocalDateTime(text);
  FUZZ_CHECK(parsed ? converted == local : converted == 0);
  try {
    FUZZ_CHECK(kv::http::ParseHTTPDate(text) == converted);
  } catch (const kv::http::EIdHTTPDateError&) {
    FUZZ_CHECK(!parsed);
  }
  if (parsed) {
    const std::string written = kv::http::LocalDateTimeToGMT(local);
    TDateTime back = 0;
    FUZZ_CHECK(written.empty() || kv::http::TryParseHTTPDateGMT(written, back));
  }

  // The writer and the calendar on any number, finite or not.
  (void)kv::http::LocalDateTimeToGMT(value);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  if (kv::http::DecodeDateTime(value, year, month, day, hour, minute, second, millisecond)) {
    TDateTime encoded = 0;
    FUZZ_CHECK(
        kv::http::TryEncodeDateTime(year, month, day, hour, minute, second, millisecond, encoded));
  }
  TDateTime converted2 = 0;
  (void)kv::http::TryGMTToLocal(value, converted2);
  (void)kv::http::TryLocalToGMT(value, converted2);
  return 0;
}
