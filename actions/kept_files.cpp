#include "actions/kept_files.h"

#include "archive/format.h"
#include "core/bmp_file.h"
#include "core/format.h"
#include "core/path.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "runtime/run_state.h"

namespace {

void WriteAndRecord(UninstallRecord& record, const String& path, const char* data, int32_t size) {
  if (WriteStringToFile(path.CStr(), data, size) == 0) record.Add(path.CStr(), kUninstallFile);
}

void WriteTexts(Run& run, const Array<String>& texts, const char* base) {
  int32_t count = 0;
  for (int32_t i = 0; i < texts.Count(); ++i)
    if (!texts[i].IsEmpty()) ++count;
  int32_t number = 0;
  for (int32_t i = 0; i < texts.Count(); ++i) {
    if (texts[i].IsEmpty()) continue;
    String name = KeptTextFileName(base, ++number, count);
    WriteAndRecord(run.uninstall, JoinPath(run.directories.installation.CStr(), name.CStr()), texts[i].CStr(),
                   texts[i].Length());
  }
}

}  // namespace

String KeptTextFileName(const char* base, int32_t number, int32_t count) {
  return count == 1 ? Formatted("%s.txt", base) : Formatted("%s%d.txt", base, (int)number);
}

void WriteKeptFiles(Run& run, const ArchiveSettings& settings) {
  if (!settings.backgroundBitmap.IsEmpty() && ProductFlag(run, kFlagKeepBackgroundBitmap)) {
    String bmp;
    if (BmpFileFromPackedDib(settings.backgroundBitmap.CStr(), settings.backgroundBitmap.Length(), bmp))
      WriteAndRecord(run.uninstall, JoinPath(run.directories.uninstall.CStr(), kKeptBackgroundName), bmp.CStr(),
                     bmp.Length());
  }
  if (ProductFlag(run, kFlagKeepReadmeFiles)) WriteTexts(run, settings.readmeTexts, "readme");
  if (ProductFlag(run, kFlagKeepLicenseFiles)) WriteTexts(run, settings.licenseTexts, "eula");
}
