#include "runtime/installer_archive.h"

#include <windows.h>
#include <string.h>

#include "core/path.h"
#include "core/win32/system_dirs.h"
#include "runtime/messages.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"
#include "runtime/settings_steps.h"

namespace {

const char kCorruptArchiveText[] =
    "This installation program is corrupt.  This is usually caused by a faulty download, but it can also be "
    "caused by a virus on your computer.  The installation cannot proceed.\r\n\r\nDelete the corrupted "
    "installer (to prevent caching), then re-download it.  If the problem persists, check your system for "
    "viruses.\r\n\r\nError code: %d";

const char kNoArchiveText[] =
    "This program performs installations and uninstallations.\r\nThere is no installation archive present.\r\n"
    "No Uninstallation parameters were specified.\r\n\r\nYou should not delete this program or execute it "
    "directly.";

constexpr uint32_t kOpenOwnFile = kOpenReadShared;

// The program's path as its command line names it: the first token (quoted
// or up to the first space), with ".EXE" added when it has no extension;
// the module file name when the command line is empty.
String OwnPathFromCommandLine() {
  String line(GetCommandLineA());
  line.TrimLeft();
  if (line.IsEmpty()) return ModulePath();
  String path;
  if (line.StartsWithChar('"')) {
    line.ExtractQuoted(path, '"', 0);
  } else {
    int32_t space = line.FindChar(' ');
    line.Mid(path, 0, space < 0 ? kWholeText : space);
  }
  if (FileNameOf(path.CStr()).FindChar('.') < 0) path.Append(".EXE");
  return path;
}

bool ReadOwnFileAt(void* context, int64_t offset, void* out, int32_t n) {
  DiskFile* file = static_cast<DiskFile*>(context);
  if (offset < 0 || offset > 0x7FFFFFFF) return false;
  return file->ReadAt((int32_t)offset, out, n);
}

}  // namespace

void ReportCorruptArchive(Run& run, int32_t code) {
  // The archive's own text may leave the code out; the log always has it.
  RunLogLine(run, "Corrupt archive: error code %d", (int)code);
  const char* text = MessageText(run, kMsgCorruptArchive);
  FatalError(*text ? text : kCorruptArchiveText, code);
}

void LocateArchive(Run& run) {
  InstallerArchive& a = run.archive;
  String path = OwnPathFromCommandLine();
  int32_t result = a.ownFile.OpenRequired(path.CStr(), kOpenOwnFile);
  if (result != kOpenOk) {
    path = ModulePath();
    result = a.ownFile.OpenRequired(path.CStr(), kOpenOwnFile);
  }
  if (result != kOpenOk)
    FatalError("Error code 1: The self-extracting archive could not open itself.\r\nFilename: %s\r\nError #%d: %s",
               path.CStr(), result, a.ownFile.LastError().CStr());
  a.ownFileSize = a.ownFile.Size();

  int32_t found = FindArchiveSection(ReadOwnFileAt, &a.ownFile, a.layout);
  if (found == kNoArchiveSection) FatalMessage(kNoArchiveText);
  if (found != kArchiveOk) ReportCorruptArchive(run, found);
  if (!a.ownFile.SeekTo((int32_t)a.layout.sectionFileOffset)) ReportCorruptArchive(run, kErrSectionSeek);

  // The cursor never reads beyond what the loader mapped for the section.
  a.base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr)) + a.layout.sectionVirtualAddress;
  a.cursor = ArchiveCursor(a.base, a.base + MappedSectionSize(a.layout));
}

void ReadInstallerHeader(Run& run) {
  InstallerArchive& a = run.archive;
  ArchiveVersionProblem problem;
  ArchiveError error = ReadArchiveHeader(a.cursor, a.header, problem);
  if (problem.tooNew)
    FatalError(
        "The installer version (%.1f) does not match the version of TRUX (%.1f).  Close all applications and "
        "reinstall TRUX.",
        kArchiveFormatVersionValue, problem.version);
  if (error != kArchiveOk) ReportCorruptArchive(run, error);
  const int64_t mapped = a.cursor.Offset() + a.cursor.Left();
  if (CheckSectionArchiveSize(a.header, mapped) != SectionArchiveSizeCheck::kFits)
    ReportCorruptArchive(run, kErrArchiveTruncated);
}

String LoadInstallerSettingsBlock(Run& run) {
  String settings;
  ArchiveError error = LoadSettingsBlock(run.archive.cursor, run.archive.header, settings);
  if (error != kArchiveOk) ReportCorruptArchive(run, error);
  return settings;
}

void ReadInstallerSettings(Run& run, const String& stream, RuntimeSettingsSteps& steps) {
  SettingsReadOptions options;
  options.expectedChecksum = run.archive.header.header.settingsChecksum;
  options.ownFileSize = run.archive.ownFileSize;
  options.steps = &steps;
  ArchiveSettings& s = run.archive.settings;
  ArchiveError error = ReadSettings(stream.CStr(), stream.Length(), options, s);
  if (error != kArchiveOk) ReportCorruptArchive(run, error);

  if (s.uninstallName.IsBlank()) s.uninstallName = run.options.DisplayName;
  run.options.uninstallName = s.uninstallName;
  int32_t languages = s.LanguageCount();
  run.messages.Set(languages, s.messages);
  run.messages.SetCurrent(s.englishLanguage);
}

void BuildUninstallerImage(Run& run) {
  InstallerArchive& a = run.archive;
  UninstallerInputs inputs;
  inputs.checkStub = ProductFlag(run, kFlagCheckStub);
  inputs.stubChecksum = a.header.header.stubChecksum;
  inputs.patchOffset = a.settings.patchOffset;
  inputs.patch = &a.settings.patchBytes;
  int32_t error = DeriveUninstallerImage(ReadOwnFileAt, &a.ownFile, a.ownFileSize, a.layout, inputs, a.uninstallerImage);
  if (error != kArchiveOk) ReportCorruptArchive(run, error);
}
