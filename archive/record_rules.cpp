#include "archive/record_rules.h"

#include <string.h>

#include "core/format.h"

namespace {

// Date first; on equal dates the time of day when the argument has one.
int CompareWithArgument(const DateTime& file, const DateTime& when) {
  const int dates = file.Date::Compare(when);
  if (dates != 0 || !when.IsTimeValid()) return dates;
  if (file.hours != when.hours) return file.hours < when.hours ? -1 : 1;
  if (file.minutes != when.minutes) return file.minutes < when.minutes ? -1 : 1;
  if (file.seconds != when.seconds) return file.seconds < when.seconds ? -1 : 1;
  return 0;
}

}  // namespace

bool IsUsableEntryName(const char* name) {
  if (!name || !*name || *name == '\\' || *name == '/' || strchr(name, ':')) return false;
  for (const char* part = name;;) {
    const size_t length = strcspn(part, "\\/");
    if (length == 2 && part[0] == '.' && part[1] == '.') return false;
    if (!part[length]) return true;
    part += length + 1;
  }
}

bool ParseDeletionDate(const char* argument, DateTime& when) {
  when.Clear();
  when.Parse(argument ? argument : "", false);
  return when.IsValid();
}

int32_t DeletionSizeArgument(const char* argument) {
  const double value = ParseNumberAnywhere(argument ? argument : "");
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return (int32_t)value;
}

bool MeetsDeletionCondition(uint8_t condition, const DateTime& lastWrite, uint64_t size, const DateTime& when,
                            int32_t n) {
  const int64_t s = size <= (uint64_t)INT64_MAX ? (int64_t)size : INT64_MAX;
  switch (condition) {
    case kDeleteOnDate: return CompareWithArgument(lastWrite, when) == 0;
    case kDeleteFromDate: return CompareWithArgument(lastWrite, when) >= 0;
    case kDeleteUntilDate: return CompareWithArgument(lastWrite, when) <= 0;
    case kDeleteSizeEquals: return s == n;
    case kDeleteSizeAtLeast: return s >= n;
    case kDeleteSizeAtMost: return s <= n;
    default: return true;
  }
}

String BackupValueName(const char* productName) {
  String name = productName;
  name.Append(" Backup");
  name.RemoveChar('\\');
  name.RemoveChar('\r');
  name.RemoveChar('\n');
  name.RemoveChar('\t');
  return name;
}
