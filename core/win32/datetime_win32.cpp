// The clock, the time zone and file times through the Windows API.
#include <windows.h>

#include "core/datetime.h"

namespace {

DateTime FromSystemRecord(const SYSTEMTIME& st) {
  DateTime t;
  t.Set(st.wMonth, st.wDay, st.wYear);
  t.SetTime(st.wHour, st.wMinute, st.wSecond);
  return t;
}

}  // namespace

int32_t LocalUtcOffsetMinutes() {
  TIME_ZONE_INFORMATION zone;
  const DWORD mode = GetTimeZoneInformation(&zone);
  if (mode == TIME_ZONE_ID_INVALID) return 0;
  if (mode == TIME_ZONE_ID_DAYLIGHT) return -(int32_t)(zone.Bias + zone.DaylightBias);
  return -(int32_t)(zone.Bias + zone.StandardBias);
}

LocalClock ReadLocalClock() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalClock{st.wYear, LocalUtcOffsetMinutes()};
}

Date Date::Today() { return DateTime::Now(); }

DateTime DateTime::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemRecord(st);
}

bool DateTime::ToFileTime(uint64_t& fileTime) const {
  fileTime = 0;
  SystemTimeRecord record;
  if (!ToSystemTime(record)) return false;
  SYSTEMTIME st = {record.year, record.month, 0, record.day, record.hour, record.minute, record.second, 0};
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
  fileTime = ((uint64_t)utc.dwHighDateTime << 32) | utc.dwLowDateTime;
  return true;
}

bool DateTime::FromFileTime(uint64_t fileTime) {
  Clear();
  FILETIME utc = {(DWORD)fileTime, (DWORD)(fileTime >> 32)};
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return false;
  *this = FromSystemRecord(st);
  if (IsValid() && IsTimeValid()) return true;
  Clear();
  return false;
}
