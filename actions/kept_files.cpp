#include "actions/kept_files.h"

#include "archive/format.h"
#include "core/bmp_file.h"
#include "core/format.h"
#include "core/path.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "runtime/current_run.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"
#include "runtime/uninstall_list.h"

namespace {

void WriteAndRecord(const String& path, const char* data, int32_t size) {
  if (WriteStringToFile(path.CStr(), data, size) == 0) CurrentRun().uninstall.Add(path.CStr(), kUninstallFile);
}

void WriteTexts(const Array<String>& texts, const char* base) {
  int32_t count = 0;
  for (int32_t i = 0; i < texts.Count(); ++i)
    if (!texts[i].IsEmpty()) ++count;
  int32_t number = 0;
  for (int32_t i = 0; i < texts.Count(); ++i) {
    if (texts[i].IsEmpty()) continue;
    String name = KeptTextFileName(base, ++number, count);
    WriteAndRecord(JoinPath(CurrentRun().directories.installation.CStr(), name.CStr()), texts[i].CStr(), texts[i].Length());
  }
}

}  // namespace

String KeptTextFileName(const char* base, int32_t number, int32_t count) {
  return count == 1 ? Formatted("%s.txt", base) : Formatted("%s%d.txt", base, (int)number);
}

void WriteKeptFiles(const ArchiveSettings& settings) {
  if (!settings.backgroundBitmap.IsEmpty() && ProductFlag(CurrentRun(), kFlagKeepBackgroundBitmap)) {
    String bmp;
    if (BmpFileFromPackedDib(settings.backgroundBitmap.CStr(), settings.backgroundBitmap.Length(), bmp))
      WriteAndRecord(JoinPath(CurrentRun().directories.uninstall.CStr(), kKeptBackgroundName), bmp.CStr(), bmp.Length());
  }
  if (ProductFlag(CurrentRun(), kFlagKeepReadmeFiles)) WriteTexts(settings.readmeTexts, "readme");
  if (ProductFlag(CurrentRun(), kFlagKeepLicenseFiles)) WriteTexts(settings.licenseTexts, "eula");
}
