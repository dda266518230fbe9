// The date picture renderer of the window (pictures such as "dd-MM-yyyy", names, nested short
// and long pictures, quotes), the reading rules that turn regional settings into a picture,
// and the conversion of strftime formats into pictures.
//
// Input: year, month and day (32 bits each), a language byte, then LF-separated fields: the
// picture, the short date format, the date separator, the long date format, and the rest as
// twelve month names separated by LF.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/TDateSettings.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSupport.h"

namespace {

using kv::app::TDate;
using kv::app::TDateSettings;
using kv::app::TRegionalDateInfo;
using kv::fuzz::TFuzzInput;

const char* const kLanguages[] = {"en", "da", "ja", "zh", "ko", "de", "", "x"};

const TRegionalDateInfo& CNames() {
  static const TRegionalDateInfo info = kv::app::ReadRegionalDateInfo("C");
  return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  TDate date;
  date.Year = input.Int32();
  date.Month = input.Int32();
  date.Day = input.Int32();
  const uint8_t language = input.Byte();
  const std::string picture = input.Field();

  TRegionalDateInfo info = CNames();
  info.Language = kLanguages[language & 7];
  info.ShortDateFormat = input.Field();
  info.DateSeparator = input.Field();
  info.LongDateFormat = input.Field();
  for (std::string& name : info.LongMonthNames) {
    if (input.Empty()) {
      break;
    }
    name = input.Field();
  }

  const TDateSettings settings = TDateSettings::FromRegionalInfo(info);
  const std::string rendered = settings.FormatDate(picture, date);
  (void)settings.DateToStr(date);
  (void)settings.FormatDate(settings.LongDateFormat(), date);
  (void)kv::app::DateTextPassesCheck(rendered);
  (void)kv::app::Utf8Length(rendered);
  const int weekday = kv::app::DayOfWeek(date);
  FUZZ_CHECK(weekday >= 0 && weekday <= 6);

  // The strftime side: the picture text read as a strftime format.
  const std::string separator = kv::app::DateSeparatorOfStrftime(picture);
  FUZZ_CHECK(separator.size() <= 1);
  const std::string converted = kv::app::StrftimeToPicture(picture, separator);
  (void)kv::app::LongDateStrftimeOf(picture);
  (void)settings.FormatDate(converted, date);
  return 0;
}
