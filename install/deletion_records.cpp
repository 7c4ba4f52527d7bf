#include "install/deletion_records.h"

#include <windows.h>

#include "core/format.h"
#include "core/win32/file_list.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/system_error.h"
#include "install/file_writer.h"
#include "runtime/installer_archive.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"

namespace {

constexpr uint32_t kClearBeforeDelete = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

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
  Array<FileDeletion>& records = g_archive.settings.deletions;
  // A corrupt record list is refused before anything is deleted.
  for (const FileDeletion& record : records) {
    DateTime when;
    if (IsDateCondition(record.condition) && !ParseDeletionDate(record.argument.CStr(), when))
      ReportCorruptArchive(kErrDeletionDate);
  }
  for (FileDeletion& record : records) ApplyRecord(record);
}
