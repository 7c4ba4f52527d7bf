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
#include "runtime/current_run.h"
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

ArchiveSettings& Settings() { return CurrentRun().archive.settings; }

// The error report of a message with one text argument.
void ReportMessage(int32_t n, const char* types, const char* argument) {
  String text;
  FormatMessageText(CurrentRun(), text, n, types, argument);
  ErrorBox(CurrentRun(), "%s", text.CStr());
}

bool ReadUninstallKey(const String& name, RegistryKey& key) {
  return key.Open(HKEY_LOCAL_MACHINE, UninstallKeyPath(name.CStr()).CStr(), kRegistryExisting) !=
         kRegistryOpenFailed;
}

// ---- step 1: the checks ----------------------------------------------------

void CheckSystemAndRights() {
  const ArchiveSettings& s = Settings();
  if (s.excludedSystems & OsClass()) {
    String name;
    OsName(name, false);
    String text;
    FormatMessageText(CurrentRun(), text, kMsgExcludedSystem, "s", name.CStr());
    ErrorBox(CurrentRun(), "%s", text.CStr());
    EndProcess(CurrentRun());
  }
  if (s.adminRequirement == kAdminRequired && !IsUserAdministrator(true)) {
    ShowErrorBox(CurrentRun(), MessageText(CurrentRun(), kMsgAdminRequired));
    EndProcess(CurrentRun());
  }
  if (s.adminRequirement == kAdminRecommended && !IsUserAdministrator(true)) {
    if (ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), MessageText(CurrentRun(), kMsgAdminRecommended), MessageText(CurrentRun(), kMsgQuestionCaption),
                       MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL)
      EndProcess(CurrentRun(), kRunCancelled);
  }
}

// An add-on needs its master product; "<master>" as the default directory
// becomes the master's directory.
void CheckMasterProduct() {
  ArchiveSettings& s = Settings();
  if (!ProductFlag(CurrentRun(), kFlagAddOn)) return;
  const String master = s.masterProductName.IsEmpty() ? CurrentRun().options.DisplayName : s.masterProductName;
  RegistryKey key(false);
  RegistryValue value;
  const bool installed = ReadUninstallKey(master, key) &&
                         (key.ReadValue("UninstallString", value) || key.ReadValue("QuietUninstallString", value));
  if (!installed) {
    ReportMessage(kMsgMasterMissing, "s", master.CStr());
    EndProcess(CurrentRun());
  }
  if (s.defaultInstallDir.CompareNoCase("<master>") == 0) s.defaultInstallDir = key.ReadText("InstallLocation");
}

void ReadPreviousInstallation(PreviousInstallation& previous) {
  if (!Settings().Flag(kFlagUninstaller)) return;
  RegistryKey key(false);
  if (ReadUninstallKey(CurrentRun().options.uninstallName, key)) {
    previous.location = key.ReadText("InstallLocation");
    previous.version = key.ReadText("DisplayVersion");
    previous.sharedFiles = key.ReadText("SharedFiles");
  }
  previous.found = !previous.location.IsEmpty() && IsDirectory(previous.location.CStr());
}

// ---- steps 3 to 5: questions and pages -------------------------------------

void AskStartQuestion() {
  if (CurrentRun().options.automaticMode || ProductFlag(CurrentRun(), kFlagNoStartQuestion)) return;
  if (ShowMessageBox(CurrentRun(), CurrentRun().windows.background, MessageText(CurrentRun(), kMsgStartQuestion), MessageText(CurrentRun(), kMsgStartCaption),
                     MB_YESNO | MB_ICONINFORMATION) != IDYES)
    EndProcess(CurrentRun(), kRunCancelled);
}

String PageText(const char* text) {
  String page(text);
  page.ReplaceAll("<product>", CurrentRun().options.DisplayName, kFindIgnoreCase);
  page.ReplaceAll("<os>", WindowsDir(), kFindIgnoreCase);
  return page;
}

// The message in front, then the archive's texts; empty ones are skipped.
void ShowPages(int32_t frontMessage, const Array<String>& texts, int (*page)(Run&, const String&)) {
  for (int32_t i = -1; i < texts.Count(); ++i) {
    const String text = PageText(i < 0 ? MessageText(CurrentRun(), frontMessage) : texts[i].CStr());
    if (text.IsEmpty()) continue;
    if (page(CurrentRun(), text) != kPageAccepted) EndProcess(CurrentRun(), kRunCancelled);
  }
}

// ---- step 6: the directory -------------------------------------------------

void ReadDirectoryFromRegistry(const String& source) {
  String& dir = CurrentRun().directories.installation;
  HKEY root = source.CompareNoCase("HKLM\\", true, 5) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  RegistryKey key(false);
  dir = key.ReadPathValue(root, source.CStr() + 5, "", kRegistryExisting);
  if (dir.IsEmpty()) {
    ErrorBox(CurrentRun(), "Failed to obtain installation directory from \"%s\"", source.CStr());
    EndProcess(CurrentRun());
  }
  if (!IsDirectory(dir.CStr())) {
    ErrorBox(CurrentRun(), "Installation directory \"%s\" obtained from \"%s\" does not exist.", dir.CStr(), source.CStr());
    EndProcess(CurrentRun());
  }
}

void ConfirmReinstall(const PreviousInstallation& previous) {
  const ArchiveSettings& s = Settings();
  if (ProductFlag(CurrentRun(), kFlagRefuseReinstall)) {
    // A refusal, not a choice: the product must be removed first, so the
    // run ends as failed.
    CurrentRun().options.automaticMode = false;
    ShowErrorBox(CurrentRun(), MessageText(CurrentRun(), kMsgRefuseReinstall));
    EndProcess(CurrentRun(), kRunFailed);
  }
  if (CurrentRun().options.automaticMode || ProductFlag(CurrentRun(), kFlagNoReinstallQuestion)) return;
  String question(MessageText(CurrentRun(), 
      ReinstallQuestionMessage(ProductFlag(CurrentRun(), kFlagCompareVersions), previous.version, s.DisplayVersion)));
  question.Append("\r\n");
  question.Append(previous.location);
  question.Append("\r\n\r\n");
  question.Append(MessageText(CurrentRun(), kMsgReinstallEnd));
  if (ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), question.CStr(), MessageText(CurrentRun(), kMsgReinstallCaption),
                     MB_YESNO | MB_ICONQUESTION) != IDYES)
    EndProcess(CurrentRun(), kRunCancelled);
  if (ProductFlag(CurrentRun(), kFlagMinimumVersion) && !previous.version.IsEmpty() &&
      (s.minimumVersion.IsEmpty() || CompareVersions(previous.version.CStr(), s.minimumVersion.CStr()) < 0)) {
    if (ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), MessageText(CurrentRun(), kMsgMinimumVersion), MessageText(CurrentRun(), kMsgQuestionCaption),
                       MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
      EndProcess(CurrentRun(), kRunCancelled);
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
bool AcceptFreeSpace(const String& dir, char drive) {
  const Vector<uint32_t>& sizes = CurrentRun().archive.header.entrySizes;
  const uint64_t need = SpaceNeeded(sizes.Count() ? &sizes[0] : nullptr, sizes.Count(), ClusterSizeOf(drive));
  const int64_t free = FreeSpace(dir.CStr());
  if ((int64_t)need < free) return true;
  String needText, freeText, question;
  FormatByteSize(needText, (int64_t)need);
  FormatByteSize(freeText, free);
  const char* message = MessageText(CurrentRun(), kMsgLowSpace);
  if (FormatFitsArguments(message, "scs"))
    Format(question, message, needText.CStr(), (int)drive, freeText.CStr());
  else
    question = message;
  return ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), question.CStr(), MessageText(CurrentRun(), kMsgQuestionCaption),
                        MB_YESNO | MB_ICONHAND) == IDYES;
}

// One pass of the loop over a text the user gave; true when it is final.
bool AcceptDirectory(const String& dir) {
  if (!IsValidPathText(dir.CStr(), 0) || !IsAbsolutePath(dir.CStr())) {
    ErrorBox(CurrentRun(), "%s\r\n%s", MessageText(CurrentRun(), kMsgInvalidDirectory), dir.CStr());
    return false;
  }
  if (ProductFlag(CurrentRun(), kFlagRefuseDoubleBackslash) && dir.Find("\\\\") >= 0) {
    ShowErrorBox(CurrentRun(), MessageText(CurrentRun(), kMsgDoubleBackslash));
    return false;
  }
  const char drive = DriveOf(dir.CStr());
  if (drive && !DriveExists(dir.CStr())) {
    String text;
    FormatMessageText(CurrentRun(), text, kMsgNoDrive, "c", (int)drive);
    ErrorBox(CurrentRun(), "%s", text.CStr());
    return false;
  }
  if (dir.Length() <= 3) {
    ShowErrorBox(CurrentRun(), MessageText(CurrentRun(), kMsgDriveRoot));
    return false;
  }
  const String programs = ProgramsDir();
  if (WithTrailingBackslash(dir).CompareNoCase(WithTrailingBackslash(programs).CStr()) == 0) {
    ReportMessage(kMsgProgramsFolder, "s", programs.CStr());
    return false;
  }
  if (!CurrentRun().options.automaticMode && drive && !AcceptFreeSpace(dir, drive)) return false;

  HCURSOR previousCursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  const bool exists = IsDirectory(dir.CStr());
  SetCursor(previousCursor);
  if (ProductFlag(CurrentRun(), kFlagConfirmDirectory)) {
    String question;
    FormatMessageText(CurrentRun(), question, exists ? kMsgDirectoryExists : kMsgDirectoryCreated, "s", dir.CStr());
    if (ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), question.CStr(), MessageText(CurrentRun(), kMsgDirectoryCaption),
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
      return false;
  }
  if (!exists && !CreateDirectoryTree(dir.CStr())) {
    String systemText = SystemErrorText(GetLastError());
    systemText.TrimRight();
    String text(MessageText(CurrentRun(), kMsgDirectoryNotCreated));
    text.Append("\r\n");
    text.Append(dir);
    text.Append("\r\n\r\n");
    text.Append(systemText);
    ShowErrorBox(CurrentRun(), text.CStr());
    return false;
  }
  const String probe = CreateTempFile(dir.CStr());
  if (probe.IsEmpty()) {
    ReportMessage(kMsgNotWritable, "s", dir.CStr());
    return false;
  }
  (void)RemoveFile(probe.CStr(), 0);  // the directory is writable; an empty probe left there harms nothing
  return true;
}

// ---- the end of the installation ------------------------------------------

void RunBatchGroup(int32_t group, int hiddenFlag) {
  const String commands = JoinBatchTexts(Settings().batches[group], CurrentRun().options.batchAdditions[group]);
  RunBatch(CurrentRun(), CurrentRun().directories.installation.CStr(), ProductFlag(CurrentRun(), hiddenFlag), commands);
}

[[noreturn]] void EndInstallation(bool reinstall) {
  const String& program = CurrentRun().options.runAfterProgram;
  if (!program.IsEmpty()) AppendFormat(CurrentRun().texts.installLog, "Launch on exit: %s\r\n", program.CStr());
  // Whether the installation went wrong is decided before the final message
  // puts its own completion text into the error text.
  const bool succeeded = CurrentRun().texts.errors.IsEmpty();
  FinishInstallLog(CurrentRun(), reinstall, true, CurrentRun().texts.errors);

  bool restart = false;
  if (IsRebootRequired(CurrentRun())) {
    if (CurrentRun().options.automaticMode && !ProductFlag(CurrentRun(), kFlagAutoRestart)) {
      restart = true;
    } else {
      restart = ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), MessageText(CurrentRun(), kMsgRestart), MessageText(CurrentRun(), kMsgQuestionCaption),
                               MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
  }
  RunBatchGroup(2, kFlagHideBatch3);
  RemoveDirectoryIfEmpty(CurrentRun().directories.shared.CStr());
  RemoveDirectoryIfEmpty(CurrentRun().directories.uninstall.CStr());
  RemoveDirectoryIfEmpty(CurrentRun().directories.installation.CStr());
  // The file-system redirection of a 64-bit product is per thread and dies
  // with the process; nothing started from here inherits it.
  bool restarted = false;
  if (restart) {
    restarted = ExitWindows(kExitRestart, false);  // refused or not: the process ends next
  } else if (succeeded && !program.IsEmpty()) {
    RunProcess(program.CStr(), 0, nullptr);
  }
  if (!succeeded) EndProcess(CurrentRun(), kRunFailed);
  EndProcess(CurrentRun(), IsRebootRequired(CurrentRun()) && !restarted ? kRunRestartNeeded : kRunCompleted);
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

bool RunDirectoryLoop() {
  String& dir = CurrentRun().directories.installation;
  for (;;) {
    if (!ChooseDirectoryDialog(CurrentRun())) return false;
    dir.Trim();
    if (dir.IsEmpty()) continue;
    if (AcceptDirectory(dir)) return true;
  }
}

void ChooseInstallDirectory(const PreviousInstallation& previous, bool& reinstall) {
  const ArchiveSettings& s = Settings();
  const String& source = s.defaultInstallDir;
  if (source.CompareNoCase("HKLM\\", true, 5) == 0 || source.CompareNoCase("HKCU\\", true, 5) == 0) {
    ReadDirectoryFromRegistry(source);
    return;
  }
  String& dir = CurrentRun().directories.installation;
  if (previous.found && ProductFlag(CurrentRun(), kFlagUninstaller)) {
    ConfirmReinstall(previous);
    dir = previous.location;
    reinstall = true;
    return;
  }
  if (dir.IsEmpty()) dir = source;
  if (CurrentRun().options.automaticMode || !ProductFlag(CurrentRun(), kFlagChooseDirectory)) {
    // Not asked for: a directory that cannot be created shows in the first
    // file that cannot be written there.
    (void)CreateDirectoryTree(dir.CStr());
    return;
  }
  if (!RunDirectoryLoop()) EndProcess(CurrentRun(), kRunCancelled);
}

void RunInstallFlow() {
  ArchiveSettings& s = Settings();
  CurrentRun().directories.installation = CurrentRun().options.InstallDir;  // /d:, or empty
  CheckSystemAndRights();
  CheckMasterProduct();
  PreviousInstallation previous;
  ReadPreviousInstallation(previous);
  AskStartQuestion();
  if (!s.password.IsEmpty() && !PasswordDialog(CurrentRun(), s.password)) EndProcess(CurrentRun(), kRunCancelled);
  if (!CurrentRun().options.automaticMode) {
    ShowPages(kMsgLicenseFront, s.licenseTexts, LicensePage);
    ShowPages(kMsgReadmeFront, s.readmeTexts, ReadmePage);
  }
  bool reinstall = false;
  ChooseInstallDirectory(previous, reinstall);
  RunLogLine(CurrentRun(), "Installation directory: %s", CurrentRun().directories.installation.CStr());

  const String& installDir = CurrentRun().directories.installation;
  if (ProductFlag(CurrentRun(), kFlagGrantUsersAccess)) GrantUsersAccess(CurrentRun().texts.installLog, installDir.CStr());
  CurrentRun().texts.errors.Clear();
  CurrentRun().directories.uninstall = JoinPath(installDir.CStr(), s.UninstallSubdir.CStr());
  RunBatchGroup(0, kFlagHideBatch1);

  ProgressDialog progress(CurrentRun());
  progress.Create();
  progress.SetStage(kMsgPreparing, 2);
  AssembleDataRegion(CurrentRun(), progress);
  // A directory that cannot be created is reported by the files and the
  // uninstall data written into it.
  if (!s.UninstallSubdir.IsEmpty()) (void)CreateDirectoryTree(CurrentRun().directories.uninstall.CStr());
  if (!s.SharedPath.IsEmpty()) {
    (void)CreateDirectoryTree(CurrentRun().directories.shared.CStr());
    if (ProductFlag(CurrentRun(), kFlagGrantUsersAccess)) GrantUsersAccess(CurrentRun().texts.installLog, CurrentRun().directories.shared.CStr());
  }
  ApplyDeletionRecords(CurrentRun());
  ExtractEntries(CurrentRun(), progress);

  // What follows the files, in its fixed order.
  String sharedFilesText = previous.sharedFiles;
  RegisterSharedFiles(CurrentRun(), reinstall, CurrentRun().extraction.sharedFiles, sharedFilesText);
  RegisterComServers(CurrentRun().texts.installLog, CurrentRun().extraction.comServers);
  RegisterTypeLibraries(CurrentRun().texts.installLog, CurrentRun().extraction.typeLibraries);
  WaitStagePause(CurrentRun());
  progress.SetStage(kMsgShortcutsStage, 90);
  const bool desktopChanged = CreateShortcuts(CurrentRun(), s, CurrentRun().extraction.shortcuts);
  progress.SetProgress(95);
  WaitStagePause(CurrentRun());
  WriteKeptFiles(CurrentRun(), s);
  CreateProductKeys(CurrentRun().texts, s.ProductRegistry.CStr());
  const String* language = s.languageNames.TryAt(CurrentRun().messages.Current());
  AssociateFileTypes(CurrentRun(), s.associations, language ? language->CStr() : "", CurrentRun().options.DisplayName.CStr());
  if (ProductFlag(CurrentRun(), kFlagAddToPath)) CurrentRun().texts.errors.Append(EditAutoexecPath(CurrentRun().directories.installation, true));
  if (ProductFlag(CurrentRun(), kFlagUninstaller)) RegisterUninstall(CurrentRun(), progress, sharedFilesText);
  RunBatchGroup(1, kFlagHideBatch2);
  if (desktopChanged) RefreshDesktop(s.ShortcutMode == kShortcutModeAllUsers);
  // The progress dialog goes before the final message: from here on the
  // boxes belong to the background window again.
  progress.Close();
  EndInstallation(reinstall);
}
