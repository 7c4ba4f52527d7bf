#include "uninstall/uninstaller.h"

#include <windows.h>
#include <shlobj.h>

#include "actions/batch.h"
#include "archive/record_rules.h"
#include "actions/registration.h"
#include "core/format.h"
#include "core/path.h"
#include "core/path_check.h"
#include "core/scale.h"
#include "core/sha256.h"
#include "core/win32/disk_file.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/registry.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "install/file_writer.h"
#include "runtime/message_format.h"
#include "runtime/messages.h"
#include "runtime/run_log.h"
#include "runtime/run_steps.h"
#include "runtime/run_state.h"
#include "ui/background_window.h"
#include "ui/progress_dialog.h"
#include "uninstall/uninstall_data.h"
#include "uninstall/uninstall_registration.h"
#include "uninstall/uninstall_rules.h"

namespace {

// Walks up at most this many levels when removing a directory's empty
// parents, so a damaged path can never keep the loop going.
constexpr int32_t kMaxParentLevels = 64;
// The start-menu folder and the product keys climb at most this far.
constexpr int32_t kMaxStartMenuLevels = 20;
constexpr int32_t kMaxProductKeyLevels = 20;
constexpr uint32_t kHoldMs = 500;

constexpr char kBackgroundFileName[] = "Installer Background.BMP";

// What the uninstaller reads from the product's Uninstall key.
struct ProductValues {
  String displayName;
  String installLocation;
  String uninstallDir;
  String sharedPath;
  String productFonts;
  String sharedFiles;
  String startMenu;
  String productRegistry;
  String batch1;
  String batch2;
  int32_t shortcutMode = 0;
};

bool Automatic(const Run& run) { return run.options.automaticMode; }

// The reports before the flags are known: a box unless in automatic mode,
// the run log always.
void Report(Run& run, const char* text) {
  if (!Automatic(run))
    ShowErrorBox(run, text);
  else
    RunLogText(run, "Error report (not shown in automatic mode):", text);
}

// A refusal before the flags are known: the report of format with its one
// text argument; false.
bool Refuse(Run& run, const char* format, const char* argument) {
  String text;
  Format(text, format, argument);
  Report(run, text.CStr());
  return false;
}

// The product's key path under HKEY_LOCAL_MACHINE; "" for a name that cannot
// be one key's name (empty, or with a backslash that would reach another key).
String ProductKeyPath(const String& name) {
  if (name.IsBlank() || name.FindChar('\\') >= 0) return String();
  return UninstallKeyPath(name.CStr());
}

int32_t Ask(Run& run, int32_t message, int32_t caption, UINT style) {
  return ShowMessageBox(run, MessageOwner(run), MessageText(run, message), MessageText(run, caption), style);
}

int32_t AskWith(Run& run, int32_t message, const char* argument, int32_t caption, UINT style) {
  String text;
  FormatMessageText(run, text, message, "s", argument);
  return ShowMessageBox(run, MessageOwner(run), text.CStr(), MessageText(run, caption), style);
}

void Hold(const Run& run) {
  PauseSinceMark(run, kHoldMs);
}

// --- presentation ---

// Reads the look the installation stored and, unless bit 29, shows the
// background window.
void ShowBackground(Run& run, BackgroundWindow& background, RegistryKey& key, const ProductValues& product) {
  BackgroundLook& look = background.look;
  look.TitleColor = (uint32_t)key.ReadNumber("TitleColor", (int32_t)GetSysColor(COLOR_WINDOWTEXT));
  look.TitleShadow = (uint8_t)key.ReadNumber("TitleShadow", 1);
  look.TopColor = (uint32_t)key.ReadNumber("TopColor", (int32_t)GetSysColor(COLOR_WINDOW));
  look.BottomColor = (uint32_t)key.ReadNumber("BottomColor", 0);
  look.MonoColor = key.ReadNumber("MonoColor", 1) != 0;
  look.TitlePosition = (uint8_t)key.ReadNumber("TitlePosition", 0);
  RegistryValue value;
  if (key.ReadValue("TitleFont", value)) look.TitleFont = key.ReadText("TitleFont");
  run.displayTitle = key.ReadText("DisplayTitle");
  const String taskbarText = key.ReadText("TaskbarText");
  if (ProductFlag(run, kFlagKeepBackgroundBitmap)) {
    look.StretchMode = (uint32_t)key.ReadNumber("StretchMode", 0);
    look.BitmapSize = (uint32_t)key.ReadNumber("BitmapSize", 0);
    // The kept file is a .BMP. A missing or unreadable file leaves the
    // picture empty: the plain background.
    String& bytes = background.pictureBytes;
    (void)ReadFileToString(JoinPath(product.uninstallDir.CStr(), kBackgroundFileName).CStr(), bytes);
    SetBackgroundBmpFile(look, bytes.CStr(), bytes.Length());
  }
  if (!ProductFlag(run, kFlagNoBackground))
    background.Create(taskbarText.CStr(), ProductFlag(run, kFlagMaximizedBackground));
}

// The messages of "Uninstall.DAT" become the only language; its association
// records go back into the association log, so that a rewritten data file
// carries them again.
void InstallMessages(Run& run, const UninstallDataContents& data) {
  Array<String> texts;
  for (int32_t n = 0; n <= kMaxUninstallMessage; ++n) texts.Append(String(data.Message(n)));
  run.messages.Set(1, texts);
  run.messages.SetCurrent(0);
  for (const UninstallAssociation& a : data.associations)
    run.uninstall.AddAssociation(a.extension.CStr(), a.fileType.CStr(), a.verb.CStr());
}

// --- associations ---

// When key holds a non-empty backup value, it becomes the default value
// again and the backup goes. True when the key held a backup: it was
// restored, or, when the default cannot be written, the backup stays in place
// (the key is kept either way, so the old value is never lost).
bool RestoreDefault(RegistryKey& key, const char* backupName) {
  String backup = key.ReadText(backupName);
  if (backup.IsEmpty()) return false;
  if (key.WriteText("", backup)) key.DeleteValue(backupName);
  return true;
}

// True when the current key has no subkeys, or only a "DefaultIcon" one.
bool OnlyDefaultIconLeft(RegistryKey& key) {
  Array<String> names;
  key.EnumerateSubkeys(names);
  if (names.Count() == 0) return true;
  return names.Count() == 1 && names[0].CompareNoCase("DefaultIcon") == 0;
}

void RestoreAssociation(const UninstallAssociation& a, const char* backupName) {
  RegistryKey key(false);
  // The extension: a restored default keeps the key, otherwise it is the
  // installation's and goes with its file type.
  bool deleteExtension = false;
  if (key.Open(HKEY_CLASSES_ROOT, a.extension.CStr()) != kRegistryOpenFailed) {
    deleteExtension = !RestoreDefault(key, backupName);
    key.Close();
  }
  bool typeRestored = false;
  if (key.Open(HKEY_CLASSES_ROOT, a.fileType.CStr()) != kRegistryOpenFailed) {
    typeRestored = RestoreDefault(key, backupName);
    if (key.OpenChild("DefaultIcon") != kRegistryOpenFailed) {
      typeRestored |= RestoreDefault(key, backupName);
      key.Close();
    }
    if (key.OpenChild("shell") != kRegistryOpenFailed) {
      typeRestored |= RestoreDefault(key, backupName);
      bool verbRestored = false;
      String command("");
      command.Append(a.verb);
      command.Append("\\command");
      if (key.OpenChild(command.CStr()) != kRegistryOpenFailed) {
        verbRestored = RestoreDefault(key, backupName);
        key.Close();
      }
      if (verbRestored)
        typeRestored = true;
      else
        key.DeleteKey(a.verb.CStr());
      const bool shellEmpty = key.SubkeyCount() == 0;
      key.Close();
      if (shellEmpty) key.DeleteKey("shell");
    }
    // A file type whose own values were never backed up is the
    // installation's: it goes when nothing but its icon key is left.
    bool deleteType = typeRestored ? key.SubkeyCount() == 0 : OnlyDefaultIconLeft(key);
    key.Close();
    if (deleteType) {
      RegistryKey root(false);
      root.DeletePathKey(HKEY_CLASSES_ROOT, a.fileType.CStr());
    } else {
      deleteExtension = false;
    }
  }
  if (deleteExtension && key.Open(HKEY_CLASSES_ROOT, a.extension.CStr()) != kRegistryOpenFailed) {
    // Subkeys under the extension belong to other programs: the key stays.
    const bool bare = key.SubkeyCount() == 0;
    key.Close();
    if (bare) key.DeletePathKey(HKEY_CLASSES_ROOT, a.extension.CStr());
  }
}

void RestoreAssociations(Run& run, ProgressDialog& progress, const UninstallDataContents& data, const String& displayName) {
  if (data.associations.IsEmpty()) return;
  progress.SetStage(kMsgStatusAssociations, 1);
  const String backupName = BackupValueName(displayName.CStr());
  for (const UninstallAssociation& a : data.associations) {
    // A record must name keys below the root, never the root itself.
    if (!IsDeletableClassKey(a.extension.CStr()) || !IsDeletableClassKey(a.fileType.CStr()) ||
        !IsDeletableClassKey(a.verb.CStr()))
      continue;
    RestoreAssociation(a, backupName.CStr());
  }
  NotifyAssociationsChanged();
  Hold(run);
}

// --- fonts ---

void RemoveFonts(Run& run, ProgressDialog& progress, RegistryKey& key, const String& fonts) {
  if (fonts.IsEmpty()) return;
  progress.SetStage(kMsgStatusFonts, 5);
  const String fontDir = FontDir();
  bool removed = false;
  int32_t position = 0;
  String name, file;
  while (NextFontPair(fonts, &position, name, file)) {
    if (ProductFlag(run, kFlagUninstallAskFonts) && !Automatic(run) &&
        AskWith(run, kMsgFontQuestion, name.CStr(), kMsgFontCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
      continue;
    (void)DeleteFontValue(name.CStr());  // an entry already gone is what is wanted
    if (!IsPlainFileName(file.CStr())) continue;  // never outside the fonts directory
    RemoveFontResourceA(file.CStr());
    // A font file in use stays in the fonts directory; its entry is gone,
    // so nothing loads it again.
    (void)RemoveFile(JoinPath(fontDir.CStr(), file.CStr()).CStr(), 0);
    removed = true;
  }
  key.DeleteValue("ProductFonts");
  if (removed) PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
  Hold(run);
}

// --- files and directories ---

// With /s nobody can close the program that holds a file and run the
// uninstaller again: a file that cannot be deleted now is deleted at the
// next restart instead, and the run ends as done with a restart needed.
// True when the deletion was scheduled.
bool ScheduleSilentRemoval(Run& run, const String& path) {
  if (!run.options.silentMode) return false;
  const DWORD reason = GetLastError();
  if (!RemoveFile(path.CStr(), kRemoveAtReboot)) return false;
  SetRebootRequired(run);
  AppendFormat(run.texts.installLog, "File '%s' will be deleted after rebooting: %s\r\n", path.CStr(),
               SystemErrorText(reason).CStr());
  return true;
}

void RemoveListedFiles(Run& run, ProgressDialog& dialog, const UninstallDataContents& data, Array<String>& directories) {
  run.uninstall.Clear();
  const int32_t count = data.bodyLines.Count();
  ItemProgress progress(dialog);
  for (int32_t i = 0; i < count; ++i) {
    String path;
    const UninstallLineKind kind = ClassifyUninstallLine(data.bodyLines[i], path);
    if (kind == kUninstallLineDirectory) {
      if (IsAbsolutePath(path.CStr())) directories.Append(path);
    } else if (kind == kUninstallLineClassKey) {
      // Only a key of the installation's own associations goes; any other
      // ("CLSID", another program's file type) is reported and kept.
      if (IsAssociationClassKey(path.CStr(), data.associations)) {
        RegistryKey root(false);
        root.DeletePathKey(HKEY_CLASSES_ROOT, path.CStr());
      } else {
        AppendFormat(run.texts.errors,
                     "The registry key HKEY_CLASSES_ROOT\\%s was not removed: the installation did not create "
                     "it.\r\n\r\n",
                     path.CStr());
      }
    } else if (kind == kUninstallLineFile && IsAbsolutePath(path.CStr())) {
      // A relative line was never written by an installation; it would name
      // a file in whatever the current directory is, so it is left alone.
      progress.Advance(10 + (int32_t)ScaleDown((uint32_t)i, 80, 0, (uint32_t)count));
      progress.Status(path);
      if (!FileExists(path.CStr())) continue;
      ClearAttributes(path.CStr(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      if (!RemoveFile(path.CStr(), 0) && !ScheduleSilentRemoval(run, path)) {
        String& errors = run.texts.errors;
        errors.Append(MessageText(run, kMsgRemoveFailed));
        errors.AppendChar(' ');
        errors.Append(path);
        errors.Append("\r\n");
        run.uninstall.Add(path.CStr(), kUninstallFile);
      }
    }
  }
  progress.Finish();
}

int LongestFirst(const String* a, const String* b) { return b->Length() - a->Length(); }

// A directory the walks up the parents may remove: not the system's or the
// user's own folders (an emptied Desktop or Programs folder stays), nothing
// that holds one of them, no root.
bool MayRemoveDirectory(const String& directory, const Array<String>& protectedFolders) {
  return CheckTreeRemoval(directory.CStr(), protectedFolders) == kTreeRemovalAllowed;
}

// Removes directory if it is empty, then its parents while they are empty,
// stopping at stop (not removed), at a protected folder, or at a root.
void RemoveEmptyDirectoryAndParents(const String& directory, const char* stop, const Array<String>& protectedFolders,
                                    int32_t maxLevels) {
  String current(directory);
  for (int32_t level = 0; level < maxLevels; ++level) {
    if (SamePath(current.CStr(), stop) || !MayRemoveDirectory(current, protectedFolders)) break;
    if (!RemoveDirectoryIfEmpty(current.CStr())) break;
    String parent;
    if (!ParentDirectory(current, parent)) break;
    current = parent;
  }
}

// Each recorded directory goes, then its parents while they are empty, up
// to (not including) the install location.
void RemoveDirectories(Run& run, ProgressDialog& progress, Array<String>& directories, const String& installLocation,
                       const Array<String>& protectedFolders) {
  directories.Sort(&LongestFirst);
  for (const String& directory : directories) {
    progress.SetStatus("%s", directory.CStr());
    RemoveEmptyDirectoryAndParents(directory, installLocation.CStr(), protectedFolders, kMaxParentLevels);
  }
  Hold(run);
}

// The product's start-menu folder and its empty parents, never the Programs
// folder itself or anything above it.
void RemoveStartMenuFolder(const ProductValues& product, const Array<String>& protectedFolders) {
  if (product.startMenu.IsBlank()) return;
  String relative(product.startMenu);
  relative.Trim();
  relative.Trim("\\");
  // The folder must lie inside the Programs folder.
  if (relative.IsEmpty() || relative.FindChar(':') >= 0 || relative.Find("..") >= 0) return;
  const String programs = product.shortcutMode == kShortcutModeAllUsers ? SMProgramsAllDir() : SMProgramsDir();
  if (programs.IsEmpty()) return;
  RemoveEmptyDirectoryAndParents(JoinPath(programs.CStr(), relative.CStr()), programs.CStr(), protectedFolders,
                                 kMaxStartMenuLevels);
}

// --- shared files ---

// Gives back one reference of path; the last one unregisters what the
// markers say and deletes the file (after the question when bit 17 asks).
void ReleaseSharedFile(Run& run, RegistryKey& counts, const String& path, uint32_t markers) {
  RegistryValue value;
  if (!counts.ReadValue(path.CStr(), value)) return;
  int32_t count = counts.ReadNumber(path.CStr(), 0);
  if (count > 0) {
    --count;
    if (count > 0)
      (void)counts.WriteNumber(path.CStr(), (uint32_t)count);  // best-effort: at worst the file stays counted
    else
      counts.DeleteValue(path.CStr());
    if (count > 0) return;
  }
  if (markers & kMarkedPermanent) return;
  // A server that cannot be loaded or lacks the export is released all the same.
  if (markers & kMarkedComServer) CallServerExport(path.CStr(), "DllUnregisterServer");
  if (markers & kMarkedTypeLibrary) UnregisterTypeLibrary(path.CStr());
  if (!FileExists(path.CStr())) return;
  if (ProductFlag(run, kFlagUninstallAskSharedFiles) && !Automatic(run) &&
      AskWith(run, kMsgSharedFileQuestion, path.CStr(), kMsgSharedFileCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  (void)RemoveFile(path.CStr(), 0);  // a shared file still in use stays for the programs that use it
}

void ReleaseSharedFiles(Run& run, RegistryKey& key, const String& sharedFiles) {
  if (sharedFiles.IsEmpty()) return;
  RegistryKey counts;
  if (counts.OpenSoftware(false, kSharedDllsPath) == kRegistryOpenFailed) {
    run.texts.errors.Append("REGISTRY ERROR:  Unable to adjust shared file reference counts.\r\n\r\n");
    return;
  }
  String rest(sharedFiles), entry;
  while (TakeSharedFilesEntry(rest, entry)) {
    const uint32_t markers = StripSharedFileMarkers(entry);
    if (!entry.IsEmpty()) ReleaseSharedFile(run, counts, entry, markers);
  }
  counts.Close();
  // The references are given back once: a second run after a partial
  // failure must not count them down again.
  key.DeleteValue("SharedFiles");
}

// --- product keys ---

void RemoveProductKeys(Run& run, ProgressDialog& progress, RegistryKey& key, const String& productRegistry) {
  progress.SetStage(kMsgStatusKeys, 95);
  String path(productRegistry);
  path.Trim();
  path.Trim("\\");
  if (!path.IsEmpty() && IsDeletableClassKey(path.CStr())) {
    const HKEY roots[2] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (HKEY root : roots) {
      RegistryKey keys(false);
      String current("Software\\");
      current.Append(path);
      if (keys.DeletePathKey(root, current.CStr()) != kRegistryDeleted) continue;
      // The parents go while they are empty, never "Software" itself.
      for (int32_t level = 1; level < kMaxProductKeyLevels; ++level) {
        const int32_t slash = current.FindLastChar('\\');
        if (slash <= 8) break;  // "Software" is what is left
        current.Truncate(slash);
        if (keys.DeletePathKey(root, current.CStr(), kRegistryOnlyIfEmpty) != kRegistryDeleted) break;
      }
    }
  }
  if (!productRegistry.IsEmpty()) key.DeleteValue("ProductRegistry");
  Hold(run);
}

// --- whole install directory ---

const char* RefusalText(TreeRemovalRefusal refusal) {
  switch (refusal) {
    case kTreeRemovalNotAbsolute: return "it is not a full path";
    case kTreeRemovalDotComponent: return "its path holds \".\" or \"..\"";
    case kTreeRemovalRoot: return "it is the root of a drive or share";
    case kTreeRemovalSystemFolder: return "it is, or holds, a system or user folder";
    default: return "";
  }
}

// The folders that must never go as a whole: the system's, the Program
// Files folders, the user's profile and every special folder a path
// variable names (except the run's own directories and the installer's).
void CollectProtectedFolders(Array<String>& folders) {
  folders.Append(WindowsDir());
  folders.Append(SystemDir());
  folders.Append(ProgramsDir());
  folders.Append(TempDir());
  folders.Append(SpecialFolderPath(CSIDL_PROFILE));
  folders.Append(SpecialFolderPath(CSIDL_FONTS));
  folders.Append(SpecialFolderPath(CSIDL_PROGRAM_FILES));
  folders.Append(SpecialFolderPath(CSIDL_COMMON_APPDATA));
  folders.Append(SpecialFolderPath(CSIDL_LOCAL_APPDATA));
  char profile[MAX_PATH + 1];
  const DWORD n = GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
  if (n > 0 && n < sizeof profile) folders.Append(String(profile));
  int32_t count = 0;
  const PathVariable* variables = PathVariables(&count);
  const RunDirectories none;  // the rows that read the run's own values are skipped
  for (int32_t i = 0; i < count; ++i) {
    const String name(variables[i].name);
    if (name.Find("%Install", kWholeText, 0, kFindIgnoreCase) == 0 || name.CompareNoCase("%SharedDir%") == 0 ||
        name.CompareNoCase("%UninstallDir%") == 0 || name.CompareNoCase("%Version%") == 0)
      continue;
    folders.Append(variables[i].Value(none));
  }
}

void RemoveWholeInstallDirectory(Run& run, const String& installLocation, const Array<String>& folders) {
  const TreeRemovalRefusal refusal = CheckTreeRemoval(installLocation.CStr(), folders);
  if (refusal == kTreeRemovalAllowed) {
    // Runs only once every recorded file went; a file that cannot be
    // removed (opened meanwhile) stays, and its directories with it. A link
    // in place of the directory, or inside it, goes as the link.
    (void)RemoveDirectoryTree(installLocation.CStr(), 0);
    return;
  }
  AppendFormat(run.texts.errors,
               "The directory \"%s\" was not removed with everything in it: %s.  Only the files the "
               "installation recorded were removed.\r\n\r\n",
               installLocation.CStr(), RefusalText(refusal));
}

// --- batches ---

// Runs an uninstall batch read from the key (nothing for an empty one) in
// directory, then deletes its value: a batch runs once.
void RunBatchValue(Run& run, RegistryKey& key, const char* directory, const String& commands, int hiddenFlag,
                   const char* valueName) {
  if (commands.IsEmpty()) return;
  RunBatch(run, directory, ProductFlag(run, hiddenFlag), commands);
  key.DeleteValue(valueName);
}

// Reads "Uninstall.DAT" once, checks the bytes read against the digest the
// installation stored in the key and parses those same bytes. A file that
// differs is refused: nothing is deleted or changed, the report goes to the
// error text and, unless in automatic mode, into a box; false. Without a
// stored digest (an installation made before there was one) the file is
// taken as it is; a missing or unreadable file gives no entries, as before.
bool ReadCheckedUninstallData(Run& run, RegistryKey& key, const ProductValues& product, UninstallDataContents& data) {
  const String path = JoinPath(product.uninstallDir.CStr(), kUninstallDataFileName);
  String text;
  const bool read = ReadFileToString(path.CStr(), text) == kOpenOk;
  if (!read) text.Clear();
  RegistryValue stored;
  if (read && key.ReadValue(kUninstallDataHashValue, stored)) {
    const String expected = key.ReadText(kUninstallDataHashValue);
    if (Sha256Text(text).CompareNoCase(expected.CStr()) != 0) {
      String report;
      Format(report,
             "The uninstall information for %s has been changed since the installation:\r\n%s\r\n\r\nThe "
             "uninstallation cannot be performed.",
             product.displayName.CStr(), path.CStr());
      run.texts.errors.Append(report);
      run.texts.errors.Append("\r\n\r\n");
      Report(run, report.CStr());
      return false;
    }
  }
  ParseUninstallData(text, data);
  return true;
}

// Rewrites "Uninstall.DAT" with what is left and stores its new digest.
void RewriteUninstallData(Run& run, RegistryKey& key) {
  String digest;
  if (!WriteUninstallData(run, digest)) return;
  if (!key.WriteText(kUninstallDataHashValue, digest)) run.texts.errors.Append(kUninstallRegistryFailure);
}

// The texts of the key the removal reads, each with its field.
struct ProductText {
  const char* name;
  String ProductValues::*field;
};
constexpr ProductText kProductTexts[] = {
    {"SharedPath", &ProductValues::sharedPath},
    {"ProductFonts", &ProductValues::productFonts},
    {"SharedFiles", &ProductValues::sharedFiles},
    {"ProductStartMenu", &ProductValues::startMenu},
    {"ProductRegistry", &ProductValues::productRegistry},
    {"UninstallBatch1", &ProductValues::batch1},
    {"UninstallBatch2", &ProductValues::batch2},
};

void ReadProductValues(Run& run, RegistryKey& key, ProductValues& product) {
  for (const ProductText& text : kProductTexts) product.*text.field = key.ReadText(text.name);
  product.shortcutMode = key.ReadNumber("ShortcutMode", 0);
  product.uninstallDir = JoinPath(product.installLocation.CStr(), key.ReadText("UninstallSubdir").CStr());
  // The run values the batches and the data file are written with.
  run.directories.installation = product.installLocation;
  run.directories.uninstall = product.uninstallDir;
  run.directories.shared = product.sharedPath;
  run.directories.productVersion = key.ReadText("DisplayVersion");
}

// Opens the product's key and reads what the run needs before anything else:
// the display name, the install location and the flags word (the
// installation's restart state dropped: only a deletion this run schedules
// makes a restart needed). False, reported, when no such product is
// installed or its key is unusable.
bool ReadProduct(Run& run, const String& name, RegistryKey& key, ProductValues& product) {
  const String keyPath = ProductKeyPath(name);
  if (keyPath.IsEmpty() || !RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, keyPath.CStr())) {
    return Refuse(run, "No product named '%s' is installed.", name.CStr());
  }
  if (key.Open(HKEY_LOCAL_MACHINE, keyPath.CStr(), kRegistryExisting) == kRegistryOpenFailed) {
    return Refuse(run, "Unable to access the uninstall information for:\r\n%s\r\n\r\nThe uninstallation cannot be performed.",
                  run.options.DisplayName.CStr());
  }
  product.displayName = key.ReadText("DisplayName");
  if (product.displayName.IsBlank()) product.displayName = name;
  if (run.options.DisplayName.IsEmpty()) run.options.DisplayName = product.displayName;
  product.installLocation = key.ReadText("InstallLocation");
  product.installLocation.Trim();
  if (product.installLocation.IsEmpty()) {
    return Refuse(run, "The uninstall information for %s is corrupt.\r\n\r\nThe uninstallation cannot be performed.",
                  product.displayName.CStr());
  }
  run.productFlags = ParseProductFlags(key.ReadText("ProductFlags").CStr()) & ~(1ull << kFlagRestartNeeded);
  if (ProductFlag(run, kFlagUninstallAutomatic)) run.options.automaticMode = true;
  return true;
}

// --- the removal as a table of steps ---

// What the uninstallation's steps hand on to each other.
struct Removal {
  Removal(Run& r, BackgroundWindow& b, const String& n) : run(r), background(b), name(n), key(false), progress(r) {}
  Run& run;
  BackgroundWindow& background;
  const String& name;  // the product's name from the command line
  RegistryKey key;     // the product's Uninstall key, open from the first step to the clean end
  ProductValues product;
  UninstallDataContents data;
  ProgressDialog progress;
  Array<String> protectedFolders;  // never removed by the walks up the parents
  Array<String> directories;       // the recorded directories
  void* redirection = nullptr;
  bool redirected = false;  // a 64-bit product's file-system redirection is off
};

RunOutcome ReadProductStep(Removal& r) {
  return ReadProduct(r.run, r.name, r.key, r.product) ? kRunCompleted : kRunFailed;
}

// A 64-bit product's files are reached without the file-system redirection
// until the removal is done.
RunOutcome TurnOffRedirection(Removal& r) {
  r.redirected = DisableWow64Redirection(&r.redirection);
  if (!r.redirected) r.run.productFlags &= ~(1ull << kFlag64Bit);
  return kRunCompleted;
}

void RestoreRedirection(Removal& r) {
  if (r.redirected) RevertWow64Redirection(r.redirection);
  r.redirected = false;
}

RunOutcome ReadValuesStep(Removal& r) {
  Run& run = r.run;
  ReadProductValues(run, r.key, r.product);
  const String& version = run.directories.productVersion;
  RunLogLine(run, "Product: %s%s%s", r.product.displayName.CStr(), version.IsBlank() ? "" : ", version ",
             version.CStr());
  return kRunCompleted;
}

RunOutcome ShowBackgroundStep(Removal& r) {
  ShowBackground(r.run, r.background, r.key, r.product);
  return kRunCompleted;
}

RunOutcome ReadDataStep(Removal& r) {
  if (!ReadCheckedUninstallData(r.run, r.key, r.product, r.data)) return kRunFailed;
  InstallMessages(r.run, r.data);
  return kRunCompleted;
}

// Declining ends the process at once as cancelled, with nothing changed (the
// uninstaller stays).
RunOutcome Confirm(Removal& r) {
  if (Ask(r.run, kMsgUninstallConfirm, kMsgUninstallCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
    EndProcess(r.run, kRunCancelled);
  return kRunCompleted;
}

RunOutcome OpenProgress(Removal& r) {
  r.progress.Create();
  return kRunCompleted;
}

RunOutcome RunFirstBatch(Removal& r) {
  RunBatchValue(r.run, r.key, r.product.installLocation.CStr(), r.product.batch1, kFlagHideUninstallBatch1,
                "UninstallBatch1");
  return kRunCompleted;
}

RunOutcome RestoreAssociationsStep(Removal& r) {
  RestoreAssociations(r.run, r.progress, r.data, r.product.displayName);
  return kRunCompleted;
}

RunOutcome RemoveFontsStep(Removal& r) {
  RemoveFonts(r.run, r.progress, r.key, r.product.productFonts);
  return kRunCompleted;
}

RunOutcome RemoveFilesStep(Removal& r) {
  CollectProtectedFolders(r.protectedFolders);
  RemoveListedFiles(r.run, r.progress, r.data, r.directories);
  return kRunCompleted;
}

RunOutcome RemoveDirectoriesStep(Removal& r) {
  RemoveDirectories(r.run, r.progress, r.directories, r.product.installLocation, r.protectedFolders);
  return kRunCompleted;
}

RunOutcome CleanUp(Removal& r) {
  r.progress.SetStage(kMsgStatusCleanup, 90);
  (void)RemoveFile(JoinPath(r.product.uninstallDir.CStr(), "Install.LOG").CStr(), 0);  // a log held open stays
  // A failed write keeps the previous data file and its digest, which name
  // everything still left and files already gone, which the next run skips.
  RewriteUninstallData(r.run, r.key);
  r.run.uninstall.Clear();
  return kRunCompleted;
}

RunOutcome RemoveStartMenuStep(Removal& r) {
  RemoveStartMenuFolder(r.product, r.protectedFolders);
  return kRunCompleted;
}

RunOutcome ReleaseSharedFilesStep(Removal& r) {
  ReleaseSharedFiles(r.run, r.key, r.product.sharedFiles);
  if (!r.product.sharedPath.IsBlank()) RemoveDirectoryIfEmpty(r.product.sharedPath.CStr());
  return kRunCompleted;
}

RunOutcome RemoveProductKeysStep(Removal& r) {
  RemoveProductKeys(r.run, r.progress, r.key, r.product.productRegistry);
  return kRunCompleted;
}

// After a failure the directory keeps the data file and the uninstaller for
// the next run, which removes it as a whole once everything else went.
RunOutcome RemoveInstallDirectoryStep(Removal& r) {
  if (r.run.texts.errors.IsEmpty()) RemoveWholeInstallDirectory(r.run, r.product.installLocation, r.protectedFolders);
  return kRunCompleted;
}

// Only a clean removal (nothing in the error text) ends with the data file,
// the PATH edit, the second batch and the product's key.
RunOutcome FinishCleanRun(Removal& r) {
  Run& run = r.run;
  const bool clean = run.texts.errors.IsEmpty();
  if (clean) {
    // A data file that stays names only files that are gone, which a later run skips.
    (void)RemoveFile(JoinPath(r.product.uninstallDir.CStr(), kUninstallDataFileName).CStr(), 0);
    if (ProductFlag(run, kFlagAddToPath)) {
      const String message = EditAutoexecPath(run.directories.installation, false);
      if (!Automatic(run) && !message.IsEmpty()) ShowErrorBox(run, message.CStr());
    }
    RunBatchValue(run, r.key, InstallDriveRoot(r.product.installLocation.CStr()).CStr(), r.product.batch2,
                  kFlagHideUninstallBatch2, "UninstallBatch2");
  }
  r.key.CloseAll();
  if (clean) {
    RegistryKey list(false);
    list.DeleteSoftwareKey(false, kUninstallPath, r.name.CStr());
  }
  return kRunCompleted;
}

RunOutcome CloseProgress(Removal& r) {
  RestoreRedirection(r);
  r.progress.Close();
  return kRunCompleted;
}

// The end of the run: the report of what was left, or the completion
// message and the restart the product asks for.
RunOutcome FinishUninstall(Removal& r) {
  Run& run = r.run;
  if (!run.texts.errors.IsEmpty()) {
    if (!Automatic(run))
      AskWith(run, kMsgUninstallErrors, run.texts.errors.CStr(), kMsgQuestionCaption, MB_OK | MB_ICONEXCLAMATION);
    return kRunFailed;
  }
  if (!Automatic(run)) Ask(run, kMsgUninstallDone, kMsgUninstallDoneCaption, MB_OK | MB_ICONINFORMATION);
  bool restarted = false;
  if (ProductFlag(run, kFlagUninstallRestart)) {
    if (Automatic(run) || Ask(run, kMsgUninstallRestart, kMsgQuestionCaption, MB_YESNO | MB_ICONQUESTION) == IDYES)
      restarted = ExitWindows(kExitRestart, false);  // refused or not: the uninstaller ends next
  }
  return IsRebootRequired(run) && !restarted ? kRunRestartNeeded : kRunCompleted;
}

// The uninstallation in its fixed order. The steps up to the confirmation
// change nothing; from there on a failure for one item is recorded in the
// error text and the removal goes on.
constexpr RunStep<Removal> kUninstallSteps[] = {
    {ReadProductStep, kStepAlways, 0},
    {TurnOffRedirection, kStepIfFlag, kFlag64Bit},
    {ReadValuesStep, kStepAlways, 0},
    {ShowBackgroundStep, kStepAlways, 0},
    {ReadDataStep, kStepAlways, 0},
    {Confirm, kStepUnlessAutomatic, 0},
    {OpenProgress, kStepAlways, 0},
    {RunFirstBatch, kStepAlways, 0},
    {RestoreAssociationsStep, kStepAlways, 0},
    {RemoveFontsStep, kStepAlways, 0},
    {RemoveFilesStep, kStepAlways, 0},
    {RemoveDirectoriesStep, kStepAlways, 0},
    {CleanUp, kStepAlways, 0},
    {RemoveStartMenuStep, kStepAlways, 0},
    {ReleaseSharedFilesStep, kStepAlways, 0},
    {RemoveProductKeysStep, kStepAlways, 0},
    {RemoveInstallDirectoryStep, kStepIfFlag, kFlagUninstallRemoveInstallDir},
    {FinishCleanRun, kStepAlways, 0},
    {CloseProgress, kStepAlways, 0},
    {FinishUninstall, kStepAlways, 0},
};

}  // namespace

RunOutcome Uninstall(Run& run, BackgroundWindow& background, const String& name) {
  Removal removal(run, background, name);
  const RunOutcome outcome = RunSteps(kUninstallSteps, run, removal);
  RestoreRedirection(removal);  // a run that ended before the removal
  return outcome;
}
