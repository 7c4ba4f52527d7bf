#include "install/deletion_records.h"

#include <windows.h>

#include "core/format.h"
#include "core/win32/file_list.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/system_error.h"
#include "install/file_writer.h"
#include "runtime/run_state.h"

namespace {

constexpr uint32_t kClearBeforeDelete = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

void DeleteListedFile(Run& run, const String& path, const FileDeletion& record) {
  const char* name = path.CStr();
  ClearAttributes(name, kClearBeforeDelete);
  if (RemoveFile(name, 0)) {
    AppendFormat(run.texts.installLog, "Deleted file: %s\r\n", name);
    return;
  }
  const String reason = LastErrorText();
  if (!(record.options & kDeletionScheduleOnFailure)) {
    AppendFormat(run.texts.installLog, "Failed to delete file '%s': %s\r\n", name, reason.CStr());
    return;
  }
  AppendFormat(run.texts.installLog, "File '%s' will be deleted after rebooting: %s\r\n", name,
               reason.CStr());
  if (RemoveFile(name, kRemoveAtReboot)) {
    SetRebootRequired(run);
  } else {
    AppendFormat(run.texts.errors, "Failed to register '%s' for deletion: %s\r\n", name,
                 LastErrorText().CStr());
  }
}

void ApplyRecord(Run& run, FileDeletion& record) {
  ExpandPathVariables(record.specification, run.directories);
  Array<String> files;
  FileSpecOptions options;
  options.defaultDirectory = run.directories.installation.CStr();
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
    DeleteListedFile(run, path, record);
  }
}

}  // namespace

void ApplyDeletionRecords(Run& run) {
  Array<FileDeletion>& records = run.archive.settings.deletions;
  // A corrupt record list is refused before anything is deleted.
  for (const FileDeletion& record : records) {
    DateTime when;
    if (IsDateCondition(record.condition) && !ParseDeletionDate(record.argument.CStr(), when))
      ReportCorruptArchive(run, kErrDeletionDate);
  }
  for (FileDeletion& record : records) ApplyRecord(run, record);
}
