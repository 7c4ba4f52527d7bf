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
#include "runtime/run_steps.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"
#include "runtime/settings_steps.h"
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

// ---- the flow's context ---------------------------------------------------

// What the installation's steps hand on to each other.
struct InstallFlow {
  explicit InstallFlow(Run& r) : run(r), progress(r) {}
  Run& run;
  ProgressDialog progress;  // created by the progress step, closed before the end
  PreviousInstallation previous;
  String sharedFilesText;   // the SharedFiles value the registration step leaves for the uninstall data
  bool reinstall = false;   // the previous installation's directory is reused
  bool desktopChanged = false;
};

// Asks a question with message texts; true when the answer is proceed.
bool Answered(Run& run, HWND owner, const char* text, int32_t caption, UINT style, int proceed) {
  return ShowMessageBox(run, owner, text, MessageText(run, caption), style) == proceed;
}

// Shows message n in an error box; the flow then ends as failed.
RunOutcome RefuseWith(Run& run, int32_t n) {
  ShowErrorBox(run, MessageText(run, n));
  return kRunFailed;
}

// ---- step 1: the checks ----------------------------------------------------

RunOutcome CheckExcludedSystem(InstallFlow& flow) {
  Run& run = flow.run;
  if (!(run.archive.settings.excludedSystems & OsClass())) return kRunCompleted;
  String name;
  OsName(name, false);
  ReportMessage(run, kMsgExcludedSystem, "s", name.CStr());
  return kRunFailed;
}

RunOutcome CheckAdministrator(InstallFlow& flow) {
  Run& run = flow.run;
  const uint8_t requirement = run.archive.settings.adminRequirement;
  if ((requirement != kAdminRequired && requirement != kAdminRecommended) || IsUserAdministrator(true))
    return kRunCompleted;
  if (requirement == kAdminRequired) return RefuseWith(run, kMsgAdminRequired);
  // Only Cancel ends the run: OK, and whatever else the box gives, goes on.
  return ShowMessageBox(run, MessageOwner(run), MessageText(run, kMsgAdminRecommended),
                        MessageText(run, kMsgQuestionCaption), MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL
             ? kRunCancelled
             : kRunCompleted;
}

// An add-on needs its master product; "<master>" as the default directory
// becomes the master's directory.
RunOutcome CheckMasterProduct(InstallFlow& flow) {
  Run& run = flow.run;
  ArchiveSettings& s = run.archive.settings;
  const String master = s.masterProductName.IsEmpty() ? run.options.DisplayName : s.masterProductName;
  RegistryKey key(false);
  RegistryValue value;
  const bool installed = ReadUninstallKey(master, key) &&
                         (key.ReadValue("UninstallString", value) || key.ReadValue("QuietUninstallString", value));
  if (!installed) {
    ReportMessage(run, kMsgMasterMissing, "s", master.CStr());
    return kRunFailed;
  }
  if (s.defaultInstallDir.CompareNoCase("<master>") == 0) s.defaultInstallDir = key.ReadText("InstallLocation");
  return kRunCompleted;
}

// ---- step 2: the previous installation -------------------------------------

RunOutcome ReadPreviousInstallation(InstallFlow& flow) {
  PreviousInstallation& previous = flow.previous;
  RegistryKey key(false);
  if (ReadUninstallKey(flow.run.options.uninstallName, key)) {
    previous.location = key.ReadText("InstallLocation");
    previous.version = key.ReadText("DisplayVersion");
    previous.sharedFiles = key.ReadText("SharedFiles");
  }
  previous.found = !previous.location.IsEmpty() && IsDirectory(previous.location.CStr());
  return kRunCompleted;
}

// ---- steps 3 to 5: questions and pages -------------------------------------

RunOutcome AskStartQuestion(InstallFlow& flow) {
  Run& run = flow.run;
  return Answered(run, run.windows.background, MessageText(run, kMsgStartQuestion), kMsgStartCaption,
                  MB_YESNO | MB_ICONINFORMATION, IDYES)
             ? kRunCompleted
             : kRunCancelled;
}

RunOutcome AskPassword(InstallFlow& flow) {
  const String& password = flow.run.archive.settings.password;
  return password.IsEmpty() || PasswordDialog(flow.run, password) ? kRunCompleted : kRunCancelled;
}

String PageText(const Run& run, const char* text) {
  String page(text);
  page.ReplaceAll("<product>", run.options.DisplayName, kFindIgnoreCase);
  page.ReplaceAll("<os>", WindowsDir(), kFindIgnoreCase);
  return page;
}

// The message in front, then the archive's texts; empty ones are skipped.
RunOutcome ShowPages(Run& run, int32_t frontMessage, const Array<String>& texts, int (*page)(Run&, const String&)) {
  for (int32_t i = -1; i < texts.Count(); ++i) {
    const String text = PageText(run, i < 0 ? MessageText(run, frontMessage) : texts[i].CStr());
    if (text.IsEmpty()) continue;
    if (page(run, text) != kPageAccepted) return kRunCancelled;
  }
  return kRunCompleted;
}

RunOutcome ShowLicensePages(InstallFlow& flow) {
  return ShowPages(flow.run, kMsgLicenseFront, flow.run.archive.settings.licenseTexts, LicensePage);
}

RunOutcome ShowReadmePages(InstallFlow& flow) {
  return ShowPages(flow.run, kMsgReadmeFront, flow.run.archive.settings.readmeTexts, ReadmePage);
}

// ---- step 6: the directory -------------------------------------------------

RunOutcome ReadDirectoryFromRegistry(Run& run, const String& source) {
  String& dir = run.directories.installation;
  HKEY root = source.CompareNoCase("HKLM\\", true, 5) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  RegistryKey key(false);
  dir = key.ReadPathValue(root, source.CStr() + 5, "", kRegistryExisting);
  if (dir.IsEmpty()) {
    ErrorBox(run, "Failed to obtain installation directory from \"%s\"", source.CStr());
    return kRunFailed;
  }
  if (!IsDirectory(dir.CStr())) {
    ErrorBox(run, "Installation directory \"%s\" obtained from \"%s\" does not exist.", dir.CStr(), source.CStr());
    return kRunFailed;
  }
  return kRunCompleted;
}

RunOutcome ConfirmReinstall(Run& run, const PreviousInstallation& previous) {
  const ArchiveSettings& s = run.archive.settings;
  if (ProductFlag(run, kFlagRefuseReinstall)) {
    // A refusal, not a choice: the product must be removed first, so the
    // run ends as failed.
    run.options.automaticMode = false;
    return RefuseWith(run, kMsgRefuseReinstall);
  }
  if (run.options.automaticMode || ProductFlag(run, kFlagNoReinstallQuestion)) return kRunCompleted;
  String question(MessageText(run, 
      ReinstallQuestionMessage(ProductFlag(run, kFlagCompareVersions), previous.version, s.DisplayVersion)));
  question.Append("\r\n");
  question.Append(previous.location);
  question.Append("\r\n\r\n");
  question.Append(MessageText(run, kMsgReinstallEnd));
  if (!Answered(run, MessageOwner(run), question.CStr(), kMsgReinstallCaption, MB_YESNO | MB_ICONQUESTION, IDYES))
    return kRunCancelled;
  if (ProductFlag(run, kFlagMinimumVersion) && !previous.version.IsEmpty() &&
      (s.minimumVersion.IsEmpty() || CompareVersions(previous.version.CStr(), s.minimumVersion.CStr()) < 0) &&
      !Answered(run, MessageOwner(run), MessageText(run, kMsgMinimumVersion), kMsgQuestionCaption,
                MB_OKCANCEL | MB_ICONQUESTION, IDOK))
    return kRunCancelled;
  return kRunCompleted;
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
  FormatMessageText(run, question, kMsgLowSpace, "scs", needText.CStr(), (int)drive, freeText.CStr());
  return Answered(run, MessageOwner(run), question.CStr(), kMsgQuestionCaption, MB_YESNO | MB_ICONHAND, IDYES);
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
    if (!Answered(run, MessageOwner(run), question.CStr(), kMsgDirectoryCaption, MB_YESNO | MB_ICONQUESTION, IDYES))
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

// The directory loop: shows the directory dialog until the user gives a
// usable directory (true) or cancels (false).
bool RunDirectoryLoop(Run& run) {
  String& dir = run.directories.installation;
  for (;;) {
    if (!ChooseDirectoryDialog(run)) return false;
    dir.Trim();
    if (dir.IsEmpty()) continue;
    if (AcceptDirectory(run, dir)) return true;
  }
}

// Settles the install directory: from a registry value, the previous
// installation's directory, the command line or default, or the directory
// loop.
RunOutcome ChooseInstallDirectory(InstallFlow& flow) {
  Run& run = flow.run;
  const String& source = run.archive.settings.defaultInstallDir;
  if (NamesRegistryValue(source)) return ReadDirectoryFromRegistry(run, source);
  String& dir = run.directories.installation;
  if (flow.previous.found && ProductFlag(run, kFlagUninstaller)) {
    const RunOutcome confirmed = ConfirmReinstall(run, flow.previous);
    if (confirmed != kRunCompleted) return confirmed;
    dir = flow.previous.location;
    flow.reinstall = true;
    return kRunCompleted;
  }
  if (dir.IsEmpty()) dir = source;
  if (run.options.automaticMode || !ProductFlag(run, kFlagChooseDirectory)) {
    // Not asked for: a directory that cannot be created shows in the first
    // file that cannot be written there.
    (void)CreateDirectoryTree(dir.CStr());
    return kRunCompleted;
  }
  return RunDirectoryLoop(run) ? kRunCompleted : kRunCancelled;
}

RunOutcome LogInstallDirectory(InstallFlow& flow) {
  RunLogLine(flow.run, "Installation directory: %s", flow.run.directories.installation.CStr());
  return kRunCompleted;
}

// ---- steps 7 to 13: up to the files ----------------------------------------

RunOutcome GrantInstallDirectoryAccess(InstallFlow& flow) {
  GrantUsersAccess(flow.run.texts.installLog, flow.run.directories.installation.CStr());
  return kRunCompleted;
}

RunOutcome SetUninstallDirectory(InstallFlow& flow) {
  Run& run = flow.run;
  run.texts.errors.Clear();
  run.directories.uninstall = JoinPath(run.directories.installation.CStr(), run.archive.settings.UninstallSubdir.CStr());
  return kRunCompleted;
}

void RunBatchGroup(Run& run, int32_t group, int hiddenFlag) {
  const String commands = JoinBatchTexts(run.archive.settings.batches[group], run.options.batchAdditions[group]);
  RunBatch(run, run.directories.installation.CStr(), ProductFlag(run, hiddenFlag), commands);
}

RunOutcome RunPreInstallBatch(InstallFlow& flow) {
  RunBatchGroup(flow.run, 0, kFlagHideBatch1);
  return kRunCompleted;
}

RunOutcome OpenProgress(InstallFlow& flow) {
  flow.progress.Create();
  flow.progress.SetStage(kMsgPreparing, 2);
  return kRunCompleted;
}

RunOutcome AssembleData(InstallFlow& flow) {
  AssembleDataRegion(flow.run, flow.progress);
  return kRunCompleted;
}

// A directory that cannot be created is reported by the files and the
// uninstall data written into it.
RunOutcome CreateRunDirectories(InstallFlow& flow) {
  Run& run = flow.run;
  const ArchiveSettings& s = run.archive.settings;
  if (!s.UninstallSubdir.IsEmpty()) (void)CreateDirectoryTree(run.directories.uninstall.CStr());
  if (!s.SharedPath.IsEmpty()) {
    (void)CreateDirectoryTree(run.directories.shared.CStr());
    if (ProductFlag(run, kFlagGrantUsersAccess)) GrantUsersAccess(run.texts.installLog, run.directories.shared.CStr());
  }
  return kRunCompleted;
}

RunOutcome ApplyDeletions(InstallFlow& flow) {
  ApplyDeletionRecords(flow.run);
  return kRunCompleted;
}

RunOutcome ExtractFiles(InstallFlow& flow) {
  ExtractEntries(flow.run, flow.progress);
  return kRunCompleted;
}

// ---- step 14: what follows the files ---------------------------------------

RunOutcome RegisterFiles(InstallFlow& flow) {
  Run& run = flow.run;
  flow.sharedFilesText = flow.previous.sharedFiles;
  RegisterSharedFiles(run, flow.reinstall, run.extraction.sharedFiles, flow.sharedFilesText);
  RegisterComServers(run.texts.installLog, run.extraction.comServers);
  RegisterTypeLibraries(run.texts.installLog, run.extraction.typeLibraries);
  return kRunCompleted;
}

RunOutcome MakeShortcuts(InstallFlow& flow) {
  Run& run = flow.run;
  WaitStagePause(run);
  flow.progress.SetStage(kMsgShortcutsStage, 90);
  flow.desktopChanged = CreateShortcuts(run, run.archive.settings, run.extraction.shortcuts);
  flow.progress.SetProgress(95);
  WaitStagePause(run);
  return kRunCompleted;
}

RunOutcome WriteKeysAndAssociations(InstallFlow& flow) {
  Run& run = flow.run;
  const ArchiveSettings& s = run.archive.settings;
  WriteKeptFiles(run, s);
  CreateProductKeys(run.texts, s.ProductRegistry.CStr());
  const String* language = s.languageNames.TryAt(run.messages.Current());
  AssociateFileTypes(run, s.associations, language ? language->CStr() : "", run.options.DisplayName.CStr());
  return kRunCompleted;
}

RunOutcome AddToAutoexecPath(InstallFlow& flow) {
  flow.run.texts.errors.Append(EditAutoexecPath(flow.run.directories.installation, true));
  return kRunCompleted;
}

RunOutcome RegisterUninstaller(InstallFlow& flow) {
  RegisterUninstall(flow.run, flow.progress, flow.sharedFilesText);
  return kRunCompleted;
}

RunOutcome RunPostInstallBatch(InstallFlow& flow) {
  RunBatchGroup(flow.run, 1, kFlagHideBatch2);
  return kRunCompleted;
}

// The progress dialog goes before the final message: from here on the boxes
// belong to the background window again.
RunOutcome CloseProgress(InstallFlow& flow) {
  if (flow.desktopChanged) RefreshDesktop(flow.run.archive.settings.ShortcutMode == kShortcutModeAllUsers);
  flow.progress.Close();
  return kRunCompleted;
}

// ---- the end of the installation ------------------------------------------

// The final message and install log, the restart question, the last batch,
// the empty directories, then the restart or the program to launch; the
// process ends here.
[[noreturn]] RunOutcome EndInstallation(InstallFlow& flow) {
  Run& run = flow.run;
  const String& program = run.options.runAfterProgram;
  if (!program.IsEmpty()) AppendFormat(run.texts.installLog, "Launch on exit: %s\r\n", program.CStr());
  // Whether the installation went wrong is decided before the final message
  // puts its own completion text into the error text.
  const bool succeeded = run.texts.errors.IsEmpty();
  FinishInstallLog(run, flow.reinstall, true, run.texts.errors);

  bool restart = false;
  if (IsRebootRequired(run)) {
    restart = (run.options.automaticMode && !ProductFlag(run, kFlagAutoRestart)) ||
              Answered(run, MessageOwner(run), MessageText(run, kMsgRestart), kMsgQuestionCaption,
                       MB_YESNO | MB_ICONQUESTION, IDYES);
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

// The installation in its fixed order, from the checks to the end.
constexpr RunStep<InstallFlow> kInstallSteps[] = {
    {CheckExcludedSystem, kStepAlways, 0},
    {CheckAdministrator, kStepAlways, 0},
    {CheckMasterProduct, kStepIfFlag, kFlagAddOn},
    {ReadPreviousInstallation, kStepIfFlag, kFlagUninstaller},
    {AskStartQuestion, kStepUnlessAutomatic | kStepUnlessFlag, kFlagNoStartQuestion},
    {AskPassword, kStepAlways, 0},
    {ShowLicensePages, kStepUnlessAutomatic, 0},
    {ShowReadmePages, kStepUnlessAutomatic, 0},
    {ChooseInstallDirectory, kStepAlways, 0},
    {LogInstallDirectory, kStepAlways, 0},
    {GrantInstallDirectoryAccess, kStepIfFlag, kFlagGrantUsersAccess},
    {SetUninstallDirectory, kStepAlways, 0},
    {RunPreInstallBatch, kStepAlways, 0},
    {OpenProgress, kStepAlways, 0},
    {AssembleData, kStepAlways, 0},
    {CreateRunDirectories, kStepAlways, 0},
    {ApplyDeletions, kStepAlways, 0},
    {ExtractFiles, kStepAlways, 0},
    {RegisterFiles, kStepAlways, 0},
    {MakeShortcuts, kStepAlways, 0},
    {WriteKeysAndAssociations, kStepAlways, 0},
    {AddToAutoexecPath, kStepIfFlag, kFlagAddToPath},
    {RegisterUninstaller, kStepIfFlag, kFlagUninstaller},
    {RunPostInstallBatch, kStepAlways, 0},
    {CloseProgress, kStepAlways, 0},
    {EndInstallation, kStepAlways, 0},
};

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

void RunInstallFlow(Run& run) {
  run.directories.installation = run.options.InstallDir;  // /d:, or empty
  InstallFlow flow(run);
  // Every step that ends the installation early gives its outcome; the last
  // step ends the process itself.
  EndProcess(run, RunSteps(kInstallSteps, run, flow));
}
