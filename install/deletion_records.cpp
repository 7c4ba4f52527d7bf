#include "install/deletion_records.h"

#include <windows.h>

#include "core/format.h"
#include "core/win32/file_list.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/system_error.h"
#include "install/file_writer.h"
#include "runtime/current_run.h"
#include "runtime/installer_archive.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"

namespace {

constexpr uint32_t kClearBeforeDelete = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

String LastErrorText() {
  const DWORD code = GetLastError();
  return code ? SystemErrorText(code) : String();
}

void DeleteListedFile(const String& path, const FileDeletion& record) {
  ClearAttributes(path.CStr(), kClearBeforeDelete);
  if (RemoveFile(path.CStr(), 0)) {
    AppendFormat(CurrentRun().texts.installLog, "Deleted file: %s\r\n", path.CStr());
    return;
  }
  const String reason = LastErrorText();
  if (!(record.options & kDeletionScheduleOnFailure)) {
    AppendFormat(CurrentRun().texts.installLog, "Failed to delete file '%s': %s\r\n", path.CStr(), reason.CStr());
    return;
  }
  AppendFormat(CurrentRun().texts.installLog, "File '%s' will be deleted after rebooting: %s\r\n", path.CStr(), reason.CStr());
  if (RemoveFile(path.CStr(), kRemoveAtReboot)) {
    SetRebootRequired();
  } else {
    AppendFormat(CurrentRun().texts.errors, "Failed to register '%s' for deletion: %s\r\n", path.CStr(), LastErrorText().CStr());
  }
}

void ApplyRecord(FileDeletion& record) {
  ExpandPathVariables(record.specification, CurrentRun().directories);
  Array<String> files;
  FileSpecOptions options;
  options.defaultDirectory = CurrentRun().directories.installation.CStr();
  ExpandFileSpecs(record.specification.CStr(), files, options);

  DateTime when;
  // Every date was checked before anything was deleted (corrupt archive 65).
  if (IsDateCondition(record.condition)) (void)ParseDeletionDate(record.argument.CStr(), when);
  const int32_t n = DeletionSizeArgument(record.argument.CStr());
  for (const String& path : files) {
    FileInfo info;
    if (!ReadFileInfo(path.CStr(), info)) continue;  // gone since the listing
    if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!MeetsDeletionCondition(record.condition, info.lastWrite, info.size, when, n)) continue;
    DeleteListedFile(path, record);
  }
}

}  // namespace

void ApplyDeletionRecords() {
  Array<FileDeletion>& records = CurrentRun().archive.settings.deletions;
  // A corrupt record list is refused before anything is deleted.
  for (const FileDeletion& record : records) {
    DateTime when;
    if (IsDateCondition(record.condition) && !ParseDeletionDate(record.argument.CStr(), when))
      ReportCorruptArchive(CurrentRun(), kErrDeletionDate);
  }
  for (FileDeletion& record : records) ApplyRecord(record);
}
