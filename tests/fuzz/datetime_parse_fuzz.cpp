// Feeds arbitrary text to the date and time parsers and uses it as a
// formatting pattern. Checks that a parse either succeeds with a valid result
// inside the text or leaves the documented cleared state.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "core/datetime.h"
#include "core/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool dayFirst = data[0] & 1;
  const LocalClock clock = {1900 + (int32_t)(data[0] >> 1), (int32_t)(data[0] & 0x3F) * 15 - 480};
  // An exact-size copy, so any read past the NUL is caught.
  char* text = static_cast<char*>(MemAlloc(size));
  memcpy(text, data + 1, size - 1);
  text[size - 1] = '\0';

  Date date;
  const char* rest = date.Parse(text, dayFirst, clock.year);
  if (rest) {
    if (rest < text || rest > text + strlen(text) || !date.IsValid()) abort();
  } else if (date.dayNumber || date.month || date.day || date.year || date.weekday) {
    abort();
  }

  DateTime moment;
  if (moment.Parse(text, dayFirst, clock)) {
    if (!moment.IsTimeValid()) abort();
  } else if (moment.hours != -1 || moment.minutes != -1 || moment.seconds != -1) {
    abort();
  }

  String out;
  moment.Format(out, text, clock.utcOffsetMinutes);
  date.Format(out, text);
  MemFree(text);
  return 0;
}
