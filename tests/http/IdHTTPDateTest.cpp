#include "http/IdHTTPDate.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kv::http {
namespace {

// Zone rules written out, so the tests need no time-zone database.
constexpr const char* kUTC = "UTC0";
constexpr const char* kCopenhagen = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* kKolkata = "IST-5:30";

// Sets TZ for the lifetime of the object and puts the previous value back afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* previous = getenv("TZ")) {
      m_previous = previous;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (m_previous) {
      setenv("TZ", m_previous->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> m_previous;
};

struct DateParts {
  int Year, Month, Day, Hour, Minute, Second;
  TDateTime Value() const { return EncodeDateTime(Year, Month, Day, Hour, Minute, Second); }
};

// ---- calendar arithmetic ----

TEST(HTTPDateCalendarTest, EncodesDaysSince18991230) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(1970, 1, 1), 25569.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1994, 11, 6, 8, 49, 37),
                   34644.0 + (8 * 3600 + 49 * 60 + 37) / 86400.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 18), -0.25);
}

TEST(HTTPDateCalendarTest, DecodeRoundsToMillisecondsAndChecksRange) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  ASSERT_TRUE(DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999), y, mo, d, h, mi, s, ms));
  EXPECT_EQ(std::vector<int>({y, mo, d, h, mi, s, ms}),
            std::vector<int>({2024, 2, 29, 23, 59, 59, 999}));
  ASSERT_TRUE(DecodeDateTime(-0.25, y, mo, d, h, mi, s, ms));
  EXPECT_EQ(std::vector<int>({y, mo, d, h}), std::vector<int>({1899, 12, 29, 18}));
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, -1e300,
                     EncodeDateTime(9999, 12, 31) + 1.0, EncodeDateTime(1, 1, 1) - 1.0}) {
    EXPECT_FALSE(DecodeDateTime(bad, y, mo, d, h, mi, s, ms)) << bad;
  }
}

TEST(HTTPDateCalendarTest, EncodeRejectsImpossibleDates) {
  TDateTime value = 0;
  EXPECT_FALSE(TryEncodeDateTime(2023, 2, 29, 0, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeDateTime(1900, 2, 29, 0, 0, 0, 0, value));
  EXPECT_TRUE(TryEncodeDateTime(2000, 2, 29, 0, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeDateTime(0, 1, 1, 0, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeDateTime(10000, 1, 1, 0, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeDateTime(2000, 1, 1, 24, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeDateTime(2000, 1, 1, 0, 0, 0, 1000, value));
  try {
    EncodeDateTime(2000, 13, 1);
    ADD_FAILURE() << "no exception";
  } catch (const EIdHTTPDateError& e) {
    EXPECT_STREQ(e.ClassName(), "EIdHTTPDateError");
    EXPECT_EQ(e.Message(), "Invalid HTTP date");
  }
}

// ---- reading ----

struct ParseCase {
  const char* Name;
  std::string Text;
  DateParts Expected;
};

class HTTPDateParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(HTTPDateParseTest, ReadsGMT) {
  TDateTime gmt = 0;
  ASSERT_TRUE(TryParseHTTPDateGMT(GetParam().Text, gmt));
  EXPECT_EQ(gmt, GetParam().Expected.Value());
}

TEST_P(HTTPDateParseTest, ReadsLocalTimeInUTCZone) {
  ScopedTimeZone zone(kUTC);
  EXPECT_EQ(GMTToLocalDateTime(GetParam().Text), GetParam().Expected.Value());
  EXPECT_EQ(ParseHTTPDate(GetParam().Text), GetParam().Expected.Value());
}

// clang-format off
const ParseCase kParseCases[] = {
  {"Rfc1123", "Sun, 06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"Rfc850", "Sunday, 06-Nov-94 08:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"Asctime", "Sun Nov  6 08:49:37 1994", {1994, 11, 6, 8, 49, 37}},
  {"AsctimeTwoDigitDay", "Wed Nov 16 08:49:37 1994", {1994, 11, 16, 8, 49, 37}},
  {"BlanksAndCase", "  \tsUN, 06 nOV 1994 08:49:37 gmt \r\n", {1994, 11, 6, 8, 49, 37}},
  {"Rfc850BlanksAndCase", " SUNDAY, 06-nov-94 08:49:37 Gmt ", {1994, 11, 6, 8, 49, 37}},
  {"AsctimeBlanksAndCase", "\tsun NOV  6 08:49:37 1994  ", {1994, 11, 6, 8, 49, 37}},
  {"WithoutWeekday", "06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"AsctimeWithoutWeekday", "Nov  6 08:49:37 1994", {1994, 11, 6, 8, 49, 37}},
  {"CommaWithoutSpace", "Sun,06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"SingleDigitDayAndHour", "Sun, 6 Nov 1994 8:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"WeekdayNeedNotMatch", "Mon, 06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"FullMonthName", "Sunday, 06-November-94 08:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"TwoDigitYear2037", "Thursday, 01-Jan-37 00:00:00 GMT", {2037, 1, 1, 0, 0, 0}},
  {"TwoDigitYear1999", "Friday, 31-Dec-99 23:59:59 GMT", {1999, 12, 31, 23, 59, 59}},
  {"TwoDigitYearIn1123Form", "Sun, 06 Nov 94 08:49:37 GMT", {1994, 11, 6, 8, 49, 37}},
  {"UTCZone", "Sun, 06 Nov 1994 08:49:37 UTC", {1994, 11, 6, 8, 49, 37}},
  {"MissingZone", "Sun, 06 Nov 1994 08:49:37", {1994, 11, 6, 8, 49, 37}},
  {"NumericZone", "Sun, 06 Nov 1994 09:49:37 +0100", {1994, 11, 6, 8, 49, 37}},
  {"NegativeZoneCrossesDay", "Sat, 05 Nov 1994 23:49:37 -0900", {1994, 11, 6, 8, 49, 37}},
  {"LeapDay", "Thu, 29 Feb 2024 12:00:00 GMT", {2024, 2, 29, 12, 0, 0}},
  {"LeapSecondReadsAs59", "Sat, 31 Dec 2016 23:59:60 GMT", {2016, 12, 31, 23, 59, 59}},
  {"LastYear", "Fri, 31 Dec 9999 23:59:59 GMT", {9999, 12, 31, 23, 59, 59}},
  {"BeforeUnixEpoch", "Thu, 05 May 1960 05:05:05 GMT", {1960, 5, 5, 5, 5, 5}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Forms, HTTPDateParseTest, testing::ValuesIn(kParseCases),
                         [](const testing::TestParamInfo<ParseCase>& info) {
                           return std::string(info.param.Name);
                         });

struct InvalidCase {
  const char* Name;
  std::string Text;
};

class HTTPDateInvalidTest : public testing::TestWithParam<InvalidCase> {};

TEST_P(HTTPDateInvalidTest, IsNotADate) {
  ScopedTimeZone zone(kCopenhagen);
  const std::string& text = GetParam().Text;
  TDateTime value = 12345;
  EXPECT_FALSE(TryParseHTTPDateGMT(text, value));
  EXPECT_FALSE(TryParseHTTPDate(text, value));
  EXPECT_EQ(GMTToLocalDateTime(text), 0.0);
  try {
    ParseHTTPDate(text);
    ADD_FAILURE() << "no exception";
  } catch (const EIdHTTPDateError& e) {
    EXPECT_STREQ(e.ClassName(), "EIdHTTPDateError");
    EXPECT_EQ(e.Message(), "Invalid HTTP date");
  }
}

// clang-format off
const InvalidCase kInvalidCases[] = {
  {"Word", "garbage"},
  {"Number", "12345"},
  {"Comma", ","},
  {"WeekdayOnly", "Sunday"},
  {"UnknownWeekday", "Funday, 06 Nov 1994 08:49:37 GMT"},
  {"UnknownMonth", "Sun, 06 Foo 1994 08:49:37 GMT"},
  {"February30", "Sun, 30 Feb 1994 08:49:37 GMT"},
  {"February29OfNonLeapCentury", "Thu, 29 Feb 1900 00:00:00 GMT"},
  {"DayZero", "Sun, 00 Nov 1994 08:49:37 GMT"},
  {"ThreeDigitDay", "Sun, 006 Nov 1994 08:49:37 GMT"},
  {"Hour24", "Sun, 06 Nov 1994 24:00:00 GMT"},
  {"Minute60", "Sun, 06 Nov 1994 08:60:00 GMT"},
  {"Second61", "Sun, 06 Nov 1994 08:49:61 GMT"},
  {"NoSeconds", "Sun, 06 Nov 1994 08:49 GMT"},
  {"YearZero", "Sun, 06 Nov 0000 08:49:37 GMT"},
  {"ThreeDigitYear", "Sun, 06 Nov 199 08:49:37 GMT"},
  {"FiveDigitYear", "Sun, 06 Nov 19940 08:49:37 GMT"},
  {"HugeNumbers", "Sun, 99999999999999999999 Nov 1994 99999999999999999999:49:37 GMT"},
  {"MixedSeparators", "Sun, 06-Nov 1994 08:49:37 GMT"},
  {"UnknownZone", "Sun, 06 Nov 1994 08:49:37 EST"},
  {"ShortNumericZone", "Sun, 06 Nov 1994 08:49:37 +01"},
  {"ZoneMinutes60", "Sun, 06 Nov 1994 08:49:37 +0160"},
  {"TrailingText", "Sun, 06 Nov 1994 08:49:37 GMT GMT"},
  {"AsctimeWithoutYear", "Sun Nov  6 08:49:37"},
  {"LongWord", "Sundayyyyyyyyyyyyyyyyyyyyyy, 06 Nov 1994 08:49:37 GMT"},
  {"NonAscii", "S\xc3\xbcn, 06 Nov 1994 08:49:37 GMT"},
  {"NonAsciiZone", "Sun, 06 Nov 1994 08:49:37 G\xc3\x9cT"},
  {"EmbeddedNul", std::string("Sun, 06 Nov 1994 08:49:37 GMT\0x", 31)},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Texts, HTTPDateInvalidTest, testing::ValuesIn(kInvalidCases),
                         [](const testing::TestParamInfo<InvalidCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(HTTPDateTest, DateWhoseLocalTimeIsBeyondTheYear9999FailsToConvert) {
  // Valid in GMT, but one hour east of it already in the year 10000.
  ScopedTimeZone zone(kCopenhagen);
  const std::string text = "Fri, 31 Dec 9999 23:59:59 GMT";
  TDateTime value = 0;
  EXPECT_TRUE(TryParseHTTPDateGMT(text, value));
  EXPECT_FALSE(TryParseHTTPDate(text, value));
  EXPECT_EQ(GMTToLocalDateTime(text), 0.0);
  EXPECT_THROW(ParseHTTPDate(text), EIdHTTPDateError);
}

TEST(HTTPDateTest, BlankTextIsAbsentNotAnError) {
  for (const char* text : {"", "   ", " \t\r\n"}) {
    TDateTime value = 0;
    EXPECT_FALSE(TryParseHTTPDate(text, value));
    EXPECT_EQ(GMTToLocalDateTime(text), 0.0);
    EXPECT_EQ(ParseHTTPDate(text), 0.0);
  }
}

struct ZoneCase {
  const char* Name;
  const char* Zone;
  std::string Text;
  DateParts Local;
};

class HTTPDateZoneTest : public testing::TestWithParam<ZoneCase> {};

TEST_P(HTTPDateZoneTest, ConvertsGMTToLocal) {
  ScopedTimeZone zone(GetParam().Zone);
  EXPECT_EQ(GMTToLocalDateTime(GetParam().Text), GetParam().Local.Value());
}

// clang-format off
const ZoneCase kZoneCases[] = {
  {"CopenhagenWinter", kCopenhagen, "Sun, 06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 9, 49, 37}},
  {"CopenhagenSummer", kCopenhagen, "Wed, 01 Jul 2020 12:00:00 GMT", {2020, 7, 1, 14, 0, 0}},
  {"CopenhagenNewYear", kCopenhagen, "Tue, 31 Dec 2019 23:30:00 GMT", {2020, 1, 1, 0, 30, 0}},
  {"NewYorkWinterCrossesDay", kNewYork, "Sat, 15 Jan 2022 03:49:37 GMT", {2022, 1, 14, 22, 49, 37}},
  {"NewYorkSummer", kNewYork, "Wed, 01 Jul 2020 12:00:00 GMT", {2020, 7, 1, 8, 0, 0}},
  {"KolkataHalfHour", kKolkata, "Sun, 06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 14, 19, 37}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Zones, HTTPDateZoneTest, testing::ValuesIn(kZoneCases),
                         [](const testing::TestParamInfo<ZoneCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(HTTPDateTest, TimeZoneIsRestoredAfterTheTest) {
  const char* before = getenv("TZ");
  const std::optional<std::string> saved =
      before ? std::optional<std::string>(before) : std::nullopt;
  { ScopedTimeZone zone(kNewYork); }
  const char* after = getenv("TZ");
  EXPECT_EQ(after ? std::optional<std::string>(after) : std::nullopt, saved);
}

// ---- writing ----

struct WriteCase {
  const char* Name;
  const char* Zone;
  DateParts Local;
  std::string Expected;
};

class HTTPDateWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(HTTPDateWriteTest, WritesRfc1123InGMT) {
  ScopedTimeZone zone(GetParam().Zone);
  EXPECT_EQ(LocalDateTimeToGMT(GetParam().Local.Value()), GetParam().Expected);
}

// clang-format off
const WriteCase kWriteCases[] = {
  {"CopenhagenWinter", kCopenhagen, {1994, 11, 6, 9, 49, 37}, "Sun, 06 Nov 1994 08:49:37 GMT"},
  {"CopenhagenSummer", kCopenhagen, {2020, 7, 1, 14, 0, 0}, "Wed, 01 Jul 2020 12:00:00 GMT"},
  {"CopenhagenNewYear", kCopenhagen, {2020, 1, 1, 0, 30, 0}, "Tue, 31 Dec 2019 23:30:00 GMT"},
  {"NewYorkCrossesDay", kNewYork, {2022, 1, 14, 22, 49, 37}, "Sat, 15 Jan 2022 03:49:37 GMT"},
  {"KolkataHalfHour", kKolkata, {1994, 11, 6, 14, 19, 37}, "Sun, 06 Nov 1994 08:49:37 GMT"},
  {"YearPaddedToFourDigits", kUTC, {999, 1, 1, 12, 0, 0}, "Tue, 01 Jan 0999 12:00:00 GMT"},
  {"BeforeUnixEpoch", kUTC, {1960, 5, 5, 5, 5, 5}, "Thu, 05 May 1960 05:05:05 GMT"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Dates, HTTPDateWriteTest, testing::ValuesIn(kWriteCases),
                         [](const testing::TestParamInfo<WriteCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(HTTPDateWriteTest, MillisecondsAreDroppedNotRounded) {
  ScopedTimeZone zone(kUTC);
  EXPECT_EQ(LocalDateTimeToGMT(EncodeDateTime(1994, 11, 6, 8, 49, 37, 999)),
            "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(HTTPDateWriteTest, UnconvertibleValuesWriteNothing) {
  ScopedTimeZone zone(kCopenhagen);
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e9, -1e9}) {
    EXPECT_EQ(LocalDateTimeToGMT(bad), "") << bad;
  }
}

class HTTPDateRoundTripTest : public testing::TestWithParam<const char*> {};

TEST_P(HTTPDateRoundTripTest, WriterOutputReadsBackAsTheSameLocalTime) {
  ScopedTimeZone zone(GetParam());
  // Whole seconds, none inside a summer-time gap or overlap.
  const std::vector<DateParts> times = {
      {1994, 11, 6, 9, 49, 37}, {2020, 7, 1, 14, 0, 0},  {2000, 2, 29, 0, 0, 0},
      {1970, 1, 1, 0, 0, 0},    {1960, 5, 5, 5, 5, 5},   {2100, 12, 31, 23, 59, 59},
      {1899, 12, 30, 12, 0, 0}, {1800, 1, 1, 6, 30, 15}, {2038, 1, 19, 3, 14, 8}};
  for (const DateParts& parts : times) {
    const TDateTime local = parts.Value();
    const std::string text = LocalDateTimeToGMT(local);
    EXPECT_EQ(GMTToLocalDateTime(text), local) << text;
  }
}

const char* const kRoundTripZoneNames[] = {"UTC", "Copenhagen", "NewYork", "Kolkata"};

INSTANTIATE_TEST_SUITE_P(Zones, HTTPDateRoundTripTest,
                         testing::Values(kUTC, kCopenhagen, kNewYork, kKolkata),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(kRoundTripZoneNames[info.index]);
                         });

TEST(HTTPDateTest, NowIsTheCurrentLocalTime) {
  ScopedTimeZone zone(kKolkata);
  const auto localOf = [](time_t seconds) {
    TDateTime local = 0;
    EXPECT_TRUE(TryGMTToLocal(25569.0 + static_cast<double>(seconds) / 86400.0, local));
    return local;
  };
  const time_t before = time(nullptr);
  const TDateTime now = Now();
  const time_t after = time(nullptr) + 1;
  EXPECT_GE(now, localOf(before));
  EXPECT_LE(now, localOf(after));
}

}  // namespace
}  // namespace kv::http
