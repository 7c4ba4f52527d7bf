// The product's own registry key and its file associations.
//
// CreateProductKeys makes "Software\<ProductRegistry>" under
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER; the uninstaller deletes both.
//
// AssociateFileTypes makes each association so that it can be undone. All
// keys are under HKEY_CLASSES_ROOT, all values REG_SZ:
//   .ext                     default = file type
//   <file type>              default = description
//   <file type>\DefaultIcon  default = icon (path variables expanded)
//   <file type>\shell        default = verb (only with record flag bit 0)
//   <file type>\shell\<verb> default = verb caption
//   <file type>\shell\<verb>\command  default = command (path variables expanded)
// Before a default value is replaced, its old text is kept in the value
// BackupValueName(product name) of the same key, unless it is blank or
// equal to the new text (ASCII case folded) - so installing twice never
// backs up the product's own value over the original one. Each association
// made adds the line "ext~!~file type~!~verb" to the run's association log;
// the uninstaller restores the backups and deletes the keys from it.
//
// Failures append one message to the run's error text and the step goes on:
//   "Error creating registry keys:\r\n<path>\r\n\r\n"
//   "Association failed/no label:  \"<ext>\".\r\n\r\n"
//   "Association failed/key inaccessible:  \"<ext>\".\r\n\r\n"
//   "Failed to associate file type:  \"<ext>\".\r\n\r\n"
#pragma once
#include "archive/record_rules.h"
#include "archive/settings.h"
#include "core/containers.h"
#include "core/string.h"

// Indices of FileAssociation::texts.
enum AssociationText : int32_t {
  kAssocExtension = 0,
  kAssocFileType = 1,
  kAssocDescription = 2,
  kAssocVerb = 3,
  kAssocVerbCaption = 4,
  kAssocCommand = 5,
  kAssocLanguage = 6,
  kAssocIcon = 7,
};
// Bit of FileAssociation::number: the verb becomes the file type's default action.
constexpr uint32_t kAssocDefaultVerb = 0x1;

struct Run;
struct RunTexts;

// Nothing when productRegistry is empty.
void CreateProductKeys(RunTexts& texts, const char* productRegistry);

// Makes every record in order, skipping those with an empty extension or a
// language other than languageName (compared exactly), then tells the shell
// that associations changed.
void AssociateFileTypes(Run& run, const Array<FileAssociation>& records, const char* languageName,
                        const char* productName);
