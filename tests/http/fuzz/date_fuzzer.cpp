// Internet dates in the three shapes servers send: reading never raises,
// gives 0 or a date of the calendar and leaves only what followed the date,
// and a date written by the formatter reads back to the same second.

#include <cmath>
#include <cstdint>
#include <string>

#include "framework/date_time.h"
#include "http/protocol_utils.h"
#include "tests/support/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  const std::string input(reinterpret_cast<const char*>(data), size);
  static const TDateTime lowest = EncodeDate(1, 1, 1);
  static const TDateTime highest = EncodeDate(9999, 12, 31) + 1;

  std::string rest = input;
  const TDateTime value = ParseInternetDate(rest);
  AH_FUZZ_CHECK(value == 0 || (value >= lowest && value < highest));
  AH_FUZZ_CHECK(rest.size() <= input.size());

  // The formatter writes the year unpadded, and years below 100 read back
  // as two-digit years.
  int year = 0, month, day;
  if (value != 0) DecodeDate(value, year, month, day);
  if (year >= 100) {
    const std::string written = FormatInternetDate(value, true);
    std::string again = written;
    const TDateTime back = ParseInternetDate(again);
    // The formatter writes whole seconds.
    const TDateTime second = 1.0 / SecsPerDay;
    AH_FUZZ_CHECK(std::fabs(back - value) < second);
  }

  InternetDateToLocal(input);
  AH_FUZZ_CHECK(std::fabs(ParseZoneOffset(input)) < 1);
  return 0;
}
