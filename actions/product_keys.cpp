#include "actions/product_keys.h"

#include <windows.h>

#include "core/format.h"
#include "core/win32/path_variables.h"
#include "core/win32/registry.h"
#include "core/win32/system.h"
#include "runtime/run_state.h"

namespace {

// Writes text as the current key's default value, keeping the old default in
// the backup value when it is not blank and differs from text.
bool BackupAndWrite(RegistryKey& key, const String& text, const String& backupName) {
  String old = key.ReadText("");
  // A backup that cannot be written only loses the restore at uninstall time.
  if (!old.IsBlank() && old.CompareNoCase(text.CStr()) != 0) (void)key.WriteText(backupName.CStr(), old);
  return key.WriteText("", text);
}

// One record; returns after appending its outcome to the run's texts.
void Associate(Run& run, const FileAssociation& record, const String& backupName) {
  String extension = record.texts[kAssocExtension];
  String fileType = record.texts[kAssocFileType];
  const String& verb = record.texts[kAssocVerb];
  bool useExisting = fileType.IsEmpty() || fileType.StartsWithChar('!');
  extension.EnsureFirstChar('.');
  const char* dotted = extension.CStr();
  if (verb.IsEmpty()) {
    // An empty verb would name the shell key itself and replace its default
    // without a backup; the record is refused before any key is touched.
    AppendFormat(run.texts.errors, "Failed to associate file type:  \"%s\".\r\n\r\n", dotted);
    return;
  }

  RegistryKey key;
  if (key.Open(HKEY_CLASSES_ROOT, dotted, fileType.IsEmpty() ? (uint32_t)kRegistryExisting : 0u) !=
      kRegistryOpenFailed) {
    if (useExisting) {
      String current = key.ReadText("");
      if (!current.IsEmpty()) {
        fileType = current;
      } else if (fileType.IsEmpty()) {
        AppendFormat(run.texts.errors, "Association failed/no label:  \"%s\".\r\n\r\n", dotted);
        return;
      } else {
        fileType.DeleteFirst(1);
        useExisting = false;
      }
    }
    if (!useExisting) BackupAndWrite(key, fileType, backupName);
    key.Close();
  } else if (useExisting) {
    AppendFormat(run.texts.errors, "Association failed/key inaccessible:  \"%s\".\r\n\r\n", dotted);
    return;
  }

  bool associated = false;
  if (key.Open(HKEY_CLASSES_ROOT, fileType.CStr()) != kRegistryOpenFailed) {
    if (!useExisting && !record.texts[kAssocDescription].IsBlank())
      BackupAndWrite(key, record.texts[kAssocDescription], backupName);
    if (!record.texts[kAssocIcon].IsBlank() && key.OpenChild("DefaultIcon") != kRegistryOpenFailed) {
      String icon = record.texts[kAssocIcon];
      ExpandPathVariables(icon, run.directories);
      BackupAndWrite(key, icon, backupName);
      key.Close();
    }
    if (key.OpenChild("shell") != kRegistryOpenFailed) {
      if (record.number & kAssocDefaultVerb) BackupAndWrite(key, verb, backupName);
      if (key.OpenChild(verb.CStr()) != kRegistryOpenFailed) {
        (void)key.WriteText("", record.texts[kAssocVerbCaption]);  // a caption only; the command below matters
        if (key.OpenChild("command") != kRegistryOpenFailed) {
          String command = record.texts[kAssocCommand];
          ExpandPathVariables(command, run.directories);
          associated = BackupAndWrite(key, command, backupName);
        }
      }
    }
    key.CloseAll();
  }
  run.uninstall.AddAssociation(dotted, fileType.CStr(), verb.CStr());
  if (!associated)
    AppendFormat(run.texts.errors, "Failed to associate file type:  \"%s\".\r\n\r\n", dotted);
}

}  // namespace

void CreateProductKeys(RunTexts& texts, const char* productRegistry) {
  if (!productRegistry || !*productRegistry) return;
  bool created = true;
  for (int perUser = 0; perUser < 2; ++perUser) {
    RegistryKey key;
    if (key.OpenSoftware(perUser != 0, productRegistry) == kRegistryOpenFailed) created = false;
  }
  if (!created) AppendFormat(texts.errors, "Error creating registry keys:\r\n%s\r\n\r\n", productRegistry);
}

void AssociateFileTypes(Run& run, const Array<FileAssociation>& records, const char* languageName,
                        const char* productName) {
  if (records.Count() == 0) return;
  const String backupName = BackupValueName(productName);
  for (int32_t i = 0; i < records.Count(); ++i) {
    const FileAssociation& record = records[i];
    if (record.texts[kAssocExtension].IsEmpty()) continue;
    const String& language = record.texts[kAssocLanguage];
    if (!language.IsEmpty() && language.Compare(languageName ? languageName : "") != 0) continue;
    Associate(run, record, backupName);
  }
  NotifyAssociationsChanged();
}
