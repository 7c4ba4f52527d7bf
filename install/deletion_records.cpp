#include "install/deletion_records.h"

#include <windows.h>

#include "app/archive_run.h"
#include "app/run_state.h"
#include "core/file_list.h"
#include "core/file_util.h"
#include "core/format.h"
#include "core/path_variables.h"
#include "core/system_error.h"
#include "install/file_writer.h"
#include "runtime/run_texts.h"

namespace {

constexpr uint32_t kClearBeforeDelete = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool IsDateCondition(uint8_t condition) { return condition >= kDeleteOnDate && condition <= kDeleteUntilDate; }

String LastErrorText() {
  const DWORD code = GetLastError();
  return code ? SystemErrorText(code) : String();
}

// Date, then (when the argument has a valid time) the time of day.
int CompareWithArgument(const DateTime& file, const DateTime& when) {
  const int dates = file.Date::Compare(when);
  if (dates != 0 || !when.IsTimeValid()) return dates;
  if (file.hours != when.hours) return file.hours < when.hours ? -1 : 1;
  if (file.minutes != when.minutes) return file.minutes < when.minutes ? -1 : 1;
  if (file.seconds != when.seconds) return file.seconds < when.seconds ? -1 : 1;
  return 0;
}

// The number of a size condition: the integer at the argument's first digit,
// sign or point (0 without one), held within 32 bits.
int32_t SizeArgument(const String& argument) {
  const double value = ParseNumberAnywhere(argument);
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return (int32_t)value;
}

void DeleteListedFile(const String& path, const FileDeletion& record) {
  ClearAttributes(path.CStr(), kClearBeforeDelete);
  if (RemoveFile(path.CStr(), 0)) {
    AppendFormat(InstallLogText(), "Deleted file: %s\r\n", path.CStr());
    return;
  }
  const String reason = LastErrorText();
  if (!(record.options & kDeletionScheduleOnFailure)) {
    AppendFormat(InstallLogText(), "Failed to delete file '%s': %s\r\n", path.CStr(), reason.CStr());
    return;
  }
  AppendFormat(InstallLogText(), "File '%s' will be deleted after rebooting: %s\r\n", path.CStr(), reason.CStr());
  if (RemoveFile(path.CStr(), kRemoveAtReboot)) {
    SetRebootRequired();
  } else {
    AppendFormat(ErrorText(), "Failed to register '%s' for deletion: %s\r\n", path.CStr(), LastErrorText().CStr());
  }
}

void ApplyRecord(FileDeletion& record) {
  ExpandPathVariables(record.specification);
  Array<String> files;
  FileSpecOptions options;
  options.defaultDirectory = InstallationDirectory().CStr();
  ExpandFileSpecs(record.specification.CStr(), files, options);

  DateTime when;
  if (IsDateCondition(record.condition)) ParseDeletionDate(record.argument, when);  // checked beforehand
  const int32_t n = SizeArgument(record.argument);
  for (const String& path : files) {
    FileInfo info;
    if (!ReadFileInfo(path.CStr(), info)) continue;  // gone since the listing
    if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!MeetsDeletionCondition(record.condition, info.lastWrite, info.size, when, n)) continue;
    DeleteListedFile(path, record);
  }
}

}  // namespace

bool ParseDeletionDate(const String& argument, DateTime& when) {
  when.Clear();
  when.Parse(argument.CStr(), false);
  return when.IsValid();
}

bool MeetsDeletionCondition(uint8_t condition, const DateTime& lastWrite, uint64_t size, const DateTime& when,
                            int32_t n) {
  // N is compared after sign extension, so a negative N is below every size.
  const int64_t limit = n;
  const bool sizeFits = size <= (uint64_t)INT64_MAX;
  const int64_t s = sizeFits ? (int64_t)size : INT64_MAX;
  switch (condition) {
    case kDeleteOnDate: return CompareWithArgument(lastWrite, when) == 0;
    case kDeleteFromDate: return CompareWithArgument(lastWrite, when) >= 0;
    case kDeleteUntilDate: return CompareWithArgument(lastWrite, when) <= 0;
    case kDeleteSizeEquals: return s == limit;
    case kDeleteSizeAtLeast: return s >= limit;
    case kDeleteSizeAtMost: return s <= limit;
    default: return true;
  }
}

void ApplyDeletionRecords() {
  Array<FileDeletion>& records = g_archive.settings.deletions;
  // A corrupt record list is refused before anything is deleted.
  for (const FileDeletion& record : records) {
    DateTime when;
    if (IsDateCondition(record.condition) && !ParseDeletionDate(record.argument, when))
      ReportCorruptArchive(kErrDeletionDate);
  }
  for (FileDeletion& record : records) ApplyRecord(record);
}
