// The archive settings: the unpacked settings block read into one record.
//
// Portable: the runtime reads its own archive with it, and the authoring tool
// uses it to list and verify installers. The reader follows the stream order
// of format.h and stops at the first broken count, limit, checksum or marker
// with its archive error code. Reads past the end of the stream give zero
// bytes and empty texts, so a truncated stream never makes the reader leave
// its buffer; it then fails on the end marker (32).
//
// The steps that need the running system (automatic mode, the background
// window, the 64-bit check, the directory derivations) are hooks the caller
// supplies; they run at their place in the stream order.
#pragma once
#include <stdint.h>

#include "archive/format.h"
#include "core/containers.h"
#include "core/string.h"

struct FileDeletion {
  String specification;
  uint8_t condition = 0;
  String argument;
  uint32_t options = 0;
};

struct FileAssociation {
  uint32_t number = 0;  // the record's leading 32-bit field
  String texts[8];
};

struct ShortcutRecord {
  String target, name, iconFile, arguments, workingDirectory;
  uint8_t desktop = 0, startMenu = 0, startup = 0, permanent = 0;
  bool expandTarget = false;  // records read from the archive expand path variables in target
};

struct UninstallValue {
  String name;
  uint8_t type = 0;
  String value;
};

struct ArchiveSettings {
  uint64_t Flags = 0;                     // 1
  String TaskbarText;                     // 2
  uint32_t DialogPosition = 0;            // 3
  uint16_t StagePause = 0;                // 4
  uint8_t ShortcutMode = 0;               // 5
  ArchiveDateTime UninstallerFileTime{};  // 6
  String Publisher;                       // 7
  String productName;                     // 8
  String SharedPath;                      // 9
  String ProductStartMenu;                // 10
  String DisplayVersion;                  // 11
  String defaultInstallDir;               // 12
  String ProductRegistry;                 // 13
  uint32_t BitmapSize = 0;                // 14
  uint32_t StretchMode = 0;               // 15
  Array<String> licenseTexts;             // 16
  Array<String> readmeTexts;              // 17
  String UninstallSubdir;                 // 18
  String volumeBaseName;                  // 19
  String uninstallerFileName;             // 20
  String uninstallName;                   // 21
  uint32_t TitleColor = 0;                // 22
  uint8_t TitleShadow = 0;                // 23
  uint8_t TitlePosition = 0;              // 24
  String TitleFont;                       // 25
  uint32_t TopColor = 0;                  // 26
  uint32_t BottomColor = 0;               // 27
  String backgroundBitmap;                // 28
  String masterProductName;               // 29 (flag bit 16 only)
  String desktopShortcutName;             // 30
  String desktopShortcutIcon;             // 31
  String batches[3];                      // 32, 33, 34
  String UninstallBatch1;                 // 35
  String UninstallBatch2;                 // 36
  uint8_t reservedDate[kReservedDateRecordSize] = {};  // 37
  uint32_t excludedSystems = 0;           // 38
  uint8_t dataOutsideImage = 0;           // 39
  uint8_t adminRequirement = 0;           // 40
  uint32_t volumeIdentifier = 0;          // 41
  String minimumVersion;                  // 42
  String password;                        // 43
  int32_t patchOffset = 0;                // 44 (flag bit 2 only)
  String patchBytes;                      // 44
  Array<FileDeletion> deletions;          // 45
  Array<FileAssociation> associations;    // 46
  Array<ShortcutRecord> shortcuts;        // 47
  Array<UninstallValue> uninstallValues;  // 48
  Array<String> languageNames;            // 49, 51
  int32_t messageCount = 0;               // 50
  Array<String> messages;                 // 52: row-major, message * languages + language
  int32_t englishLanguage = 0;            // index of the last "English", else 0

  bool Flag(int bit) const { return (Flags >> bit) & 1u; }
  int32_t LanguageCount() const { return languageNames.Count(); }
  bool MonoColor() const { return TopColor == BottomColor; }
};

// The steps of a settings read that belong to the running program. Each hook
// may end the process; the defaults do nothing.
class SettingsSteps {
 public:
  virtual ~SettingsSteps() = default;
  // After fields 1 to 3, before the checksum test.
  virtual void AfterFlags(ArchiveSettings&) {}
  // After fields 4 to 8.
  virtual void AfterProductName(ArchiveSettings&) {}
  // After fields 9 to 12: the directory derivations.
  virtual void AfterDirectories(ArchiveSettings&) {}
};

struct SettingsReadOptions {
  uint32_t expectedChecksum = 0;  // the header's settingsChecksum
  int64_t ownFileSize = 0;        // the uninstaller patch offset must lie within it
  SettingsSteps* steps = nullptr;
};

// Reads the whole stream into settings. Returns kArchiveOk, or the code of
// the first broken rule (the reading stops there).
[[nodiscard]] ArchiveError ReadSettings(const char* data, int32_t size, const SettingsReadOptions& options,
                          ArchiveSettings& settings);

// The sequential reader over the unpacked bytes. Reads past the end give
// zeros and empty values and leave the position at the end.
class SettingsStream {
 public:
  SettingsStream(const char* data, int32_t size) : data_(data), size_(size > 0 ? size : 0) {}
  bool Read(void* out, int32_t n);
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  uint64_t U64();
  // A NUL-terminated text (the rest of the stream when there is no NUL; ""
  // at its end). The form with out reads into an existing String, which
  // spares the caller a temporary.
  String Text();
  void Text(String& out);
  // A 32-bit length, then that many bytes. A negative length reads nothing
  // more and gives an empty value; a length beyond the stream gives the bytes
  // that are left (the stream is then broken and fails on its end marker).
  String Counted();
  String Bytes(uint32_t n);
  int32_t Position() const { return position_; }
  bool AtEnd() const { return position_ >= size_; }

 private:
  const char* data_;
  int32_t size_;
  int32_t position_ = 0;
};
