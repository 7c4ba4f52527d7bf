#include "app/install_flow.h"

#include <windows.h>

#include "actions/batch.h"
#include "actions/batch_text.h"
#include "actions/install_log.h"
#include "actions/kept_files.h"
#include "actions/product_keys.h"
#include "actions/registration.h"
#include "actions/shortcuts.h"
#include "app/archive_run.h"
#include "archive/format.h"
#include "core/format.h"
#include "core/path.h"
#include "core/path_check.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/process.h"
#include "core/win32/registry.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "core/win32/version_info.h"
#include "install/data_region.h"
#include "install/deletion_records.h"
#include "install/extraction.h"
#include "install/file_writer.h"
#include "runtime/message_format.h"
#include "runtime/messages.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"
#include "ui/install_dialogs.h"
#include "ui/progress_dialog.h"
#include "uninstall/uninstall_registration.h"

namespace {

constexpr uint8_t kAdminRequired = 1;
constexpr uint8_t kAdminRecommended = 2;

// The error report of a message with one text argument.
void ReportMessage(Run& run, int32_t n, const char* types, const char* argument) {
  String text;
  FormatMessageText(run, text, n, types, argument);
  ErrorBox(run, "%s", text.CStr());
}

bool ReadUninstallKey(const String& name, RegistryKey& key) {
  return key.Open(HKEY_LOCAL_MACHINE, UninstallKeyPath(name.CStr()).CStr(), kRegistryExisting) !=
         kRegistryOpenFailed;
}

// ---- step 1: the checks ----------------------------------------------------

void CheckSystemAndRights(Run& run) {
  const ArchiveSettings& s = run.archive.settings;
  if (s.excludedSystems & OsClass()) {
    String name;
    OsName(name, false);
    String text;
    FormatMessageText(run, text, kMsgExcludedSystem, "s", name.CStr());
    ErrorBox(run, "%s", text.CStr());
    EndProcess(run);
  }
  if (s.adminRequirement == kAdminRequired && !IsUserAdministrator(true)) {
    ShowErrorBox(run, MessageText(run, kMsgAdminRequired));
    EndProcess(run);
  }
  if (s.adminRequirement == kAdminRecommended && !IsUserAdministrator(true)) {
    if (ShowMessageBox(run, MessageOwner(run), MessageText(run, kMsgAdminRecommended), MessageText(run, kMsgQuestionCaption),
                       MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL)
      EndProcess(run, kRunCancelled);
  }
}

// An add-on needs its master product; "<master>" as the default directory
// becomes the master's directory.
void CheckMasterProduct(Run& run) {
  ArchiveSettings& s = run.archive.settings;
  if (!ProductFlag(run, kFlagAddOn)) return;
  const String master = s.masterProductName.IsEmpty() ? run.options.DisplayName : s.masterProductName;
  RegistryKey key(false);
  RegistryValue value;
  const bool installed = ReadUninstallKey(master, key) &&
                         (key.ReadValue("UninstallString", value) || key.ReadValue("QuietUninstallString", value));
  if (!installed) {
    ReportMessage(run, kMsgMasterMissing, "s", master.CStr());
    EndProcess(run);
  }
  if (s.defaultInstallDir.CompareNoCase("<master>") == 0) s.defaultInstallDir = key.ReadText("InstallLocation");
}

void ReadPreviousInstallation(Run& run, PreviousInstallation& previous) {
  if (!run.archive.settings.Flag(kFlagUninstaller)) return;
  RegistryKey key(false);
  if (ReadUninstallKey(run.options.uninstallName, key)) {
    previous.location = key.ReadText("InstallLocation");
    previous.version = key.ReadText("DisplayVersion");
    previous.sharedFiles = key.ReadText("SharedFiles");
  }
  previous.found = !previous.location.IsEmpty() && IsDirectory(previous.location.CStr());
}

// ---- steps 3 to 5: questions and pages -------------------------------------

void AskStartQuestion(Run& run) {
  if (run.options.automaticMode || ProductFlag(run, kFlagNoStartQuestion)) return;
  if (ShowMessageBox(run, run.windows.background, MessageText(run, kMsgStartQuestion), MessageText(run, kMsgStartCaption),
                     MB_YESNO | MB_ICONINFORMATION) != IDYES)
    EndProcess(run, kRunCancelled);
}

String PageText(const Run& run, const char* text) {
  String page(text);
  page.ReplaceAll("<product>", run.options.DisplayName, kFindIgnoreCase);
  page.ReplaceAll("<os>", WindowsDir(), kFindIgnoreCase);
  return page;
}

// The message in front, then the archive's texts; empty ones are skipped.
void ShowPages(Run& run, int32_t frontMessage, const Array<String>& texts, int (*page)(Run&, const String&)) {
  for (int32_t i = -1; i < texts.Count(); ++i) {
    const String text = PageText(run, i < 0 ? MessageText(run, frontMessage) : texts[i].CStr());
    if (text.IsEmpty()) continue;
    if (page(run, text) != kPageAccepted) EndProcess(run, kRunCancelled);
  }
}

// ---- step 6: the directory -------------------------------------------------

void ReadDirectoryFromRegistry(Run& run, const String& source) {
  String& dir = run.directories.installation;
  HKEY root = source.CompareNoCase("HKLM\\", true, 5) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  RegistryKey key(false);
  dir = key.ReadPathValue(root, source.CStr() + 5, "", kRegistryExisting);
  if (dir.IsEmpty()) {
    ErrorBox(run, "Failed to obtain installation directory from \"%s\"", source.CStr());
    EndProcess(run);
  }
  if (!IsDirectory(dir.CStr())) {
    ErrorBox(run, "Installation directory \"%s\" obtained from \"%s\" does not exist.", dir.CStr(), source.CStr());
    EndProcess(run);
  }
}

void ConfirmReinstall(Run& run, const PreviousInstallation& previous) {
  const ArchiveSettings& s = run.archive.settings;
  if (ProductFlag(run, kFlagRefuseReinstall)) {
    // A refusal, not a choice: the product must be removed first, so the
    // run ends as failed.
    run.options.automaticMode = false;
    ShowErrorBox(run, MessageText(run, kMsgRefuseReinstall));
    EndProcess(run, kRunFailed);
  }
  if (run.options.automaticMode || ProductFlag(run, kFlagNoReinstallQuestion)) return;
  String question(MessageText(run, 
      ReinstallQuestionMessage(ProductFlag(run, kFlagCompareVersions), previous.version, s.DisplayVersion)));
  question.Append("\r\n");
  question.Append(previous.location);
  question.Append("\r\n\r\n");
  question.Append(MessageText(run, kMsgReinstallEnd));
  if (ShowMessageBox(run, MessageOwner(run), question.CStr(), MessageText(run, kMsgReinstallCaption),
                     MB_YESNO | MB_ICONQUESTION) != IDYES)
    EndProcess(run, kRunCancelled);
  if (ProductFlag(run, kFlagMinimumVersion) && !previous.version.IsEmpty() &&
      (s.minimumVersion.IsEmpty() || CompareVersions(previous.version.CStr(), s.minimumVersion.CStr()) < 0)) {
    if (ShowMessageBox(run, MessageOwner(run), MessageText(run, kMsgMinimumVersion), MessageText(run, kMsgQuestionCaption),
                       MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
      EndProcess(run, kRunCancelled);
  }
}

String WithTrailingBackslash(const String& path) {
  String out(path);
  if (!out.EndsWithChar('\\')) out.AppendChar('\\');
  return out;
}

uint64_t ClusterSizeOf(char drive) {
  char root[4] = {drive, ':', '\\', 0};
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) return 0;
  return (uint64_t)sectorsPerCluster * bytesPerSector;
}

// The free-space question; false when the user does not want to go on.
bool AcceptFreeSpace(Run& run, const String& dir, char drive) {
  const Vector<uint32_t>& sizes = run.archive.header.entrySizes;
  const uint64_t need = SpaceNeeded(sizes.Count() ? &sizes[0] : nullptr, sizes.Count(), ClusterSizeOf(drive));
  const int64_t free = FreeSpace(dir.CStr());
  if ((int64_t)need < free) return true;
  String needText, freeText, question;
  FormatByteSize(needText, (int64_t)need);
  FormatByteSize(freeText, free);
  const char* message = MessageText(run, kMsgLowSpace);
  if (FormatFitsArguments(message, "scs"))
    Format(question, message, needText.CStr(), (int)drive, freeText.CStr());
  else
    question = message;
  return ShowMessageBox(run, MessageOwner(run), question.CStr(), MessageText(run, kMsgQuestionCaption),
                        MB_YESNO | MB_ICONHAND) == IDYES;
}

// One pass of the loop over a text the user gave; true when it is final.
bool AcceptDirectory(Run& run, const String& dir) {
  if (!IsValidPathText(dir.CStr(), 0) || !IsAbsolutePath(dir.CStr())) {
    ErrorBox(run, "%s\r\n%s", MessageText(run, kMsgInvalidDirectory), dir.CStr());
    return false;
  }
  if (ProductFlag(run, kFlagRefuseDoubleBackslash) && dir.Find("\\\\") >= 0) {
    ShowErrorBox(run, MessageText(run, kMsgDoubleBackslash));
    return false;
  }
  const char drive = DriveOf(dir.CStr());
  if (drive && !DriveExists(dir.CStr())) {
    String text;
    FormatMessageText(run, text, kMsgNoDrive, "c", (int)drive);
    ErrorBox(run, "%s", text.CStr());
    return false;
  }
  if (dir.Length() <= 3) {
    ShowErrorBox(run, MessageText(run, kMsgDriveRoot));
    return false;
  }
  const String programs = ProgramsDir();
  if (WithTrailingBackslash(dir).CompareNoCase(WithTrailingBackslash(programs).CStr()) == 0) {
    ReportMessage(run, kMsgProgramsFolder, "s", programs.CStr());
    return false;
  }
  if (!run.options.automaticMode && drive && !AcceptFreeSpace(run, dir, drive)) return false;

  HCURSOR previousCursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  const bool exists = IsDirectory(dir.CStr());
  SetCursor(previousCursor);
  if (ProductFlag(run, kFlagConfirmDirectory)) {
    String question;
    FormatMessageText(run, question, exists ? kMsgDirectoryExists : kMsgDirectoryCreated, "s", dir.CStr());
    if (ShowMessageBox(run, MessageOwner(run), question.CStr(), MessageText(run, kMsgDirectoryCaption),
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
      return false;
  }
  if (!exists && !CreateDirectoryTree(dir.CStr())) {
    String systemText = SystemErrorText(GetLastError());
    systemText.TrimRight();
    String text(MessageText(run, kMsgDirectoryNotCreated));
    text.Append("\r\n");
    text.Append(dir);
    text.Append("\r\n\r\n");
    text.Append(systemText);
    ShowErrorBox(run, text.CStr());
    return false;
  }
  const String probe = CreateTempFile(dir.CStr());
  if (probe.IsEmpty()) {
    ReportMessage(run, kMsgNotWritable, "s", dir.CStr());
    return false;
  }
  (void)RemoveFile(probe.CStr(), 0);  // the directory is writable; an empty probe left there harms nothing
  return true;
}

// ---- the end of the installation ------------------------------------------

void RunBatchGroup(Run& run, int32_t group, int hiddenFlag) {
  const String commands = JoinBatchTexts(run.archive.settings.batches[group], run.options.batchAdditions[group]);
  RunBatch(run, run.directories.installation.CStr(), ProductFlag(run, hiddenFlag), commands);
}

[[noreturn]] void EndInstallation(Run& run, bool reinstall) {
  const String& program = run.options.runAfterProgram;
  if (!program.IsEmpty()) AppendFormat(run.texts.installLog, "Launch on exit: %s\r\n", program.CStr());
  // Whether the installation went wrong is decided before the final message
  // puts its own completion text into the error text.
  const bool succeeded = run.texts.errors.IsEmpty();
  FinishInstallLog(run, reinstall, true, run.texts.errors);

  bool restart = false;
  if (IsRebootRequired(run)) {
    if (run.options.automaticMode && !ProductFlag(run, kFlagAutoRestart)) {
      restart = true;
    } else {
      restart = ShowMessageBox(run, MessageOwner(run), MessageText(run, kMsgRestart), MessageText(run, kMsgQuestionCaption),
                               MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
  }
  RunBatchGroup(run, 2, kFlagHideBatch3);
  RemoveDirectoryIfEmpty(run.directories.shared.CStr());
  RemoveDirectoryIfEmpty(run.directories.uninstall.CStr());
  RemoveDirectoryIfEmpty(run.directories.installation.CStr());
  // The file-system redirection of a 64-bit product is per thread and dies
  // with the process; nothing started from here inherits it.
  bool restarted = false;
  if (restart) {
    restarted = ExitWindows(kExitRestart, false);  // refused or not: the process ends next
  } else if (succeeded && !program.IsEmpty()) {
    RunProcess(program.CStr(), 0, nullptr);
  }
  if (!succeeded) EndProcess(run, kRunFailed);
  EndProcess(run, IsRebootRequired(run) && !restarted ? kRunRestartNeeded : kRunCompleted);
}

}  // namespace

uint64_t SpaceNeeded(const uint32_t* sizes, int32_t count, uint64_t clusterBytes) {
  uint64_t need = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint64_t size = sizes[i];
    if (clusterBytes >= 2) size = (size + clusterBytes - 1) / clusterBytes * clusterBytes;
    need += size;
  }
  return need;
}

int32_t ReinstallQuestionMessage(bool compareVersions, const String& previous, const String& archive) {
  if (!compareVersions || previous.IsEmpty() || archive.IsEmpty()) return kMsgReinstallInstalled;
  const int order = CompareVersions(previous.CStr(), archive.CStr());
  return order == 0 ? kMsgReinstallSame : order < 0 ? kMsgReinstallOlder : kMsgReinstallNewer;
}

bool RunDirectoryLoop(Run& run) {
  String& dir = run.directories.installation;
  for (;;) {
    if (!ChooseDirectoryDialog(run)) return false;
    dir.Trim();
    if (dir.IsEmpty()) continue;
    if (AcceptDirectory(run, dir)) return true;
  }
}

void ChooseInstallDirectory(Run& run, const PreviousInstallation& previous, bool& reinstall) {
  const ArchiveSettings& s = run.archive.settings;
  const String& source = s.defaultInstallDir;
  if (source.CompareNoCase("HKLM\\", true, 5) == 0 || source.CompareNoCase("HKCU\\", true, 5) == 0) {
    ReadDirectoryFromRegistry(run, source);
    return;
  }
  String& dir = run.directories.installation;
  if (previous.found && ProductFlag(run, kFlagUninstaller)) {
    ConfirmReinstall(run, previous);
    dir = previous.location;
    reinstall = true;
    return;
  }
  if (dir.IsEmpty()) dir = source;
  if (run.options.automaticMode || !ProductFlag(run, kFlagChooseDirectory)) {
    // Not asked for: a directory that cannot be created shows in the first
    // file that cannot be written there.
    (void)CreateDirectoryTree(dir.CStr());
    return;
  }
  if (!RunDirectoryLoop(run)) EndProcess(run, kRunCancelled);
}

void RunInstallFlow(Run& run) {
  ArchiveSettings& s = run.archive.settings;
  run.directories.installation = run.options.InstallDir;  // /d:, or empty
  CheckSystemAndRights(run);
  CheckMasterProduct(run);
  PreviousInstallation previous;
  ReadPreviousInstallation(run, previous);
  AskStartQuestion(run);
  if (!s.password.IsEmpty() && !PasswordDialog(run, s.password)) EndProcess(run, kRunCancelled);
  if (!run.options.automaticMode) {
    ShowPages(run, kMsgLicenseFront, s.licenseTexts, LicensePage);
    ShowPages(run, kMsgReadmeFront, s.readmeTexts, ReadmePage);
  }
  bool reinstall = false;
  ChooseInstallDirectory(run, previous, reinstall);
  RunLogLine(run, "Installation directory: %s", run.directories.installation.CStr());

  const String& installDir = run.directories.installation;
  if (ProductFlag(run, kFlagGrantUsersAccess)) GrantUsersAccess(run.texts.installLog, installDir.CStr());
  run.texts.errors.Clear();
  run.directories.uninstall = JoinPath(installDir.CStr(), s.UninstallSubdir.CStr());
  RunBatchGroup(run, 0, kFlagHideBatch1);

  ProgressDialog progress(run);
  progress.Create();
  progress.SetStage(kMsgPreparing, 2);
  AssembleDataRegion(run, progress);
  // A directory that cannot be created is reported by the files and the
  // uninstall data written into it.
  if (!s.UninstallSubdir.IsEmpty()) (void)CreateDirectoryTree(run.directories.uninstall.CStr());
  if (!s.SharedPath.IsEmpty()) {
    (void)CreateDirectoryTree(run.directories.shared.CStr());
    if (ProductFlag(run, kFlagGrantUsersAccess)) GrantUsersAccess(run.texts.installLog, run.directories.shared.CStr());
  }
  ApplyDeletionRecords(run);
  ExtractEntries(run, progress);

  // What follows the files, in its fixed order.
  String sharedFilesText = previous.sharedFiles;
  RegisterSharedFiles(run, reinstall, run.extraction.sharedFiles, sharedFilesText);
  RegisterComServers(run.texts.installLog, run.extraction.comServers);
  RegisterTypeLibraries(run.texts.installLog, run.extraction.typeLibraries);
  WaitStagePause(run);
  progress.SetStage(kMsgShortcutsStage, 90);
  const bool desktopChanged = CreateShortcuts(run, s, run.extraction.shortcuts);
  progress.SetProgress(95);
  WaitStagePause(run);
  WriteKeptFiles(run, s);
  CreateProductKeys(run.texts, s.ProductRegistry.CStr());
  const String* language = s.languageNames.TryAt(run.messages.Current());
  AssociateFileTypes(run, s.associations, language ? language->CStr() : "", run.options.DisplayName.CStr());
  if (ProductFlag(run, kFlagAddToPath)) run.texts.errors.Append(EditAutoexecPath(run.directories.installation, true));
  if (ProductFlag(run, kFlagUninstaller)) RegisterUninstall(run, progress, sharedFilesText);
  RunBatchGroup(run, 1, kFlagHideBatch2);
  if (desktopChanged) RefreshDesktop(s.ShortcutMode == kShortcutModeAllUsers);
  // The progress dialog goes before the final message: from here on the
  // boxes belong to the background window again.
  progress.Close();
  EndInstallation(run, reinstall);
}
