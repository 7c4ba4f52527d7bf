// The installation archive: the one description of its bytes, shared by the
// runtime's reader and the authoring tool's writer. All integers are
// little-endian; texts are 8-bit and NUL-terminated unless said otherwise.
//
// Where the archive lives: in a PE section named ".trux" of the installer,
// added as the last section. Map of the section:
//
//   +0                 ArchiveHeader (36 bytes)
//   +36                u32 entrySizes[entryCount]
//   +36 + 4N           packed settings block: a compressed block (block_format.h)
//                      XOR-scrambled with settingsChecksum (the checksum of the
//                      unpacked block), settingsPackedSize bytes
//   +dataRegionOffset  data region, dataRegionSize bytes, as far as the
//                      section holds it (sectionArchiveSize counts the archive
//                      bytes the mapped section holds); the rest follows the
//                      section in the file (setting "data outside the image")
//                      or continues in volume files.
//
// dataRegionOffset = 36 + 4 * entryCount + settingsPackedSize.
//
// Data region: entryCount entry records one after another (see
// "Entry record" below), or, with flag bit 5, one compressed block whose
// decoded bytes are those records. dataRegionChecksum covers the region as
// stored (packed).
//
// Volume file k (k = 2, 3, ...), named "%s%d.XAV" with the volume base name,
// next to the installer: u32 volume identifier (setting 41 for volume 2, one
// more for each further volume), then the next bytes of the data region.
#pragma once
#include <stdint.h>

// ------------------------------------------------------------------ section

constexpr char kArchiveSectionName[] = ".trux";  // compared case-sensitively
constexpr uint32_t kArchiveMagic = 0xA4F23DE5u;
constexpr int32_t kArchiveFormatVersion = 1720;  // 17.2, in hundredths
constexpr double kArchiveFormatVersionValue = 17.2;
constexpr int32_t kMaxSettingsPackedSize = 0x31FFFFF;  // 52,428,799
constexpr uint32_t kMaxEntrySize = 0x40000000u;
constexpr uint32_t kSettingsEndMarker = 0xD3E82B97u;
constexpr char kVolumeNameFormat[] = "%s%d.XAV";
constexpr int32_t kVolumeIdentifierSize = 4;  // a volume file must be larger than this
constexpr int32_t kFirstVolumeNumber = 2;     // the installer itself is volume 1

// The archive header at the start of the section, followed by the entry sizes.
struct ArchiveHeader {
  uint32_t magic;               // kArchiveMagic (else error 20)
  int32_t formatVersion;        // version x 100; above 17.2 + 0.01 is refused
  int32_t settingsPackedSize;   // 1 .. kMaxSettingsPackedSize (else 22)
  uint32_t settingsChecksum;    // checksum of the unpacked settings (25); scramble key
  uint32_t stubChecksum;        // checksum of the file bytes before the section (40, flag bit 32)
  int32_t sectionArchiveSize;   // archive bytes the mapped section holds; >= 0 (45)
  int32_t entryCount;           // >= 0 (27)
  int32_t dataRegionSize;       // >= 0 (29)
  uint32_t dataRegionChecksum;  // checksum of the stored data region (55)
};
static_assert(sizeof(ArchiveHeader) == 36, "the header is nine 32-bit fields");
constexpr int32_t kArchiveHeaderSize = 36;

// ------------------------------------------------------------ error codes

// The numbered corrupt-archive codes. Every one ends an installation with the
// corrupt-archive message naming the code. Codes are fixed: never renumbered
// or reused.
enum ArchiveError : int32_t {
  kArchiveOk = 0,
  kErrNegativeFileSize = 5,
  kErrSectionFileOffsetZero = 9,
  kErrSectionSeek = 10,
  kErrStagePause = 19,
  kErrMagic = 20,
  kErrVolumeBaseNameBlank = 21,
  kErrSettingsPackedSize = 22,
  kErrPatchOffset = 23,
  kErrLicenseCount = 24,
  kErrSettingsChecksum = 25,
  kErrReadmeCount = 26,
  kErrEntryCount = 27,
  kErrEntrySize = 28,
  kErrDataRegionSize = 29,
  kErrLanguageCount = 30,
  kErrMessageCount = 31,
  kErrEndMarker = 32,
  kErrStubRead = 35,
  kErrAssociationCount = 36,
  kErrUninstallValueCount = 37,
  kErrDeletionCount = 38,
  kErrBitmapSize = 39,
  kErrStubChecksum = 40,
  kErrTrailingRead = 42,
  kErrPeHeaderOffset = 43,
  kErrSectionCount = 44,
  kErrSectionArchiveSize = 45,
  // The header or the entry-size table reaches past the bytes the section
  // really holds (the mapped section, or the assembled region buffer), so
  // reading it would leave the archive. Taken from the numbers no other code
  // uses.
  kErrArchiveTruncated = 46,
  kErrSettingsUnpack = 47,
  kErrShortcutCount = 48,
  kErrVolumeRead = 50,
  kErrDataRegionChecksum = 55,
  kErrDataRegionUnpack = 60,
  kErrDeletionDate = 65,
  kErrEntryNameEmpty = 70,
  kErrEntrySizeNegative = 71,
  kErrEntrySizeTooLarge = 72,
  kErrEntryChecksum = 100,
  kErrEntryKind = 110,
};

// ------------------------------------------------------------------ flags

// Bits of the settings' 64-bit Flags word with a meaning fixed by the format.
// Bits not listed are stored and carried to the uninstaller unchanged.
enum ArchiveFlagBit : int {
  kFlagRefuseReinstall = 0,              // a previous installation ends the run (message 9)
  kFlagUninstallStartMenuShortcut = 1,   // uninstaller shortcut in the start-menu folder
  kFlagUninstaller = 2,
  kFlagUninstallAskFonts = 4,            // uninstaller asks before removing each font
  kFlagCompressedRegion = 5,
  kFlagAlwaysWriteLog = 6,               // Install.LOG also after a clean installation
  kFlagChooseDirectory = 7,              // show the directory dialog
  kFlagAutomatic = 8,
  kFlagUninstallAutomatic = 9,           // the uninstaller runs in automatic mode
  kFlagUninstallRemoveInstallDir = 10,   // the uninstaller deletes the whole install directory
  kFlagRescueNewFiles = 11,              // reboot-time replacement also for new files
  kFlagAddToPath = 12,                   // install directory added to the autoexec.bat PATH
  kFlagRestartNeeded = 14,
  kFlagKeepBackgroundBitmap = 15,        // bitmap kept for the uninstaller's background
  kFlagAddOn = 16,
  kFlagUninstallAskSharedFiles = 17,     // uninstaller asks before deleting unused shared files
  kFlagVerifyWrittenFiles = 18,          // compare each written file with its data
  kFlagClearAttributesOnRetry = 19,      // clear read-only/hidden/system after a failed write
  kFlagVerboseLog = 20,                  // every written file and shortcut in the install log
  kFlagNoCancel = 21,
  kFlagNoFinalMessage = 22,
  kFlagHideBatch1 = 23,
  kFlagHideBatch2 = 24,
  kFlagHideBatch3 = 25,
  kFlagHideUninstallBatch1 = 26,
  kFlagHideUninstallBatch2 = 27,
  kFlagNoReinstallQuestion = 28,
  kFlagNoBackground = 29,
  kFlagConfirmDirectory = 31,            // ask before using the chosen directory
  kFlagCheckStub = 32,
  kFlagUninstallShortcut = 33,
  kFlagErrorBoxesInAutomatic = 35,
  kFlagCompareVersions = 36,             // the reinstall question names older/same/newer
  kFlagRefuseDoubleBackslash = 37,
  kFlagUninstallShortcutInUninstallDir = 38,
  kFlagMaximizedBackground = 40,
  kFlagAutoRestart = 41,
  kFlagKeepTitle = 42,                   // the language step leaves DisplayTitle alone
  kFlagNoStartQuestion = 43,
  kFlagMinimumVersion = 44,
  kFlagUninstallRestart = 45,
  kFlagKeepReadmeFiles = 46,             // readme texts written to the install directory
  kFlagKeepLicenseFiles = 47,            // licence texts written to the install directory
  kFlag64Bit = 48,
  kFlagNoFileStatus = 49,                // no "name -> path" status line per file
  kFlagGrantUsersAccess = 50,
};

// --------------------------------------------------------------- messages

// Rows of the settings' message table (field 52) with a fixed role, one name
// per number for the runtime, the uninstaller and the authoring tool's
// built-in English table. A project may leave a row empty; the runtime then
// shows "" or, where it says so, a built-in text.
enum MessageNumber : int32_t {
  kMsgDisplayTitle = 0,              // title on the background window
  kMsgStartQuestion = 1,
  kMsgReinstallCaption = 2,
  kMsgReinstallInstalled = 3,        // reinstall question: the installed directory
  kMsgReinstallSame = 4,             //   ... same version (flag 36)
  kMsgReinstallOlder = 5,            //   ... older version installed
  kMsgReinstallNewer = 6,            //   ... newer version installed
  kMsgReinstallEnd = 7,              // the question's last line
  kMsgPreparing = 8,                 // status at the start
  kMsgRefuseReinstall = 9,           // flag 0
  kMsgUninstallErrors = 10,          // "%s": the uninstaller's error text
  kMsgChooseDirText = 11,            // directory dialog text and browse title
  kMsgMasterMissing = 12,            // "%s": the master product (flag 16)
  kMsgCorruptArchive = 13,           // "%d": the corrupt-archive code
  kMsgInvalidDirectory = 14,
  kMsgUninstallDoneCaption = 15,
  kMsgNoDrive = 16,                  // "%c": the drive letter
  kMsgDriveRoot = 17,
  kMsgProgramsFolder = 18,           // "%s": the Program Files folder
  kMsgLowSpace = 19,
  kMsgQuestionCaption = 20,          // caption of questions and warnings
  kMsgErrorCaption = 21,             // caption of error boxes; empty: "Error"
  kMsgDirectoryExists = 22,          // "%s", flag 31
  kMsgDirectoryCreated = 23,         // "%s", flag 31
  kMsgDirectoryCaption = 24,         // caption of the directory dialog and questions
  kMsgDirectoryNotCreated = 25,
  kMsgInsertVolume = 26,             // "%d" volume number, "%c" drive letter
  kMsgInsertVolumeCaption = 27,
  kMsgConfirmCancel = 28,
  kMsgUnpacking = 29,
  kMsgWrongVolume = 30,
  kMsgErrorLineStart = 31,           // first words of every error-report line
  kMsgShortcutsStage = 32,
  kMsgUninstallerShortcutName = 33,
  kMsgUninstallDone = 34,
  kMsgSharedFileCaption = 35,
  kMsgFinishing = 36,                // status at 100 percent
  kMsgRestart = 37,
  kMsgMissingLinkName = 38,          // "%s": a shortcut without a name
  kMsgInstallHeading = 39,           // progress dialog text
  kMsgInstallErrors = 40,            // "%s": the install log's path
  kMsgInstallErrorsCaption = 41,
  kMsgFinal = 42,
  kMsgFinalCaption = 43,
  kMsgLicenseCaption = 44,
  kMsgLicenseAccept = 45,
  kMsgLicenseDecline = 46,
  kMsgLicenseText = 47,
  kMsgOk = 48,                       // OK / next button
  kMsgCancel = 49,                   // Cancel button
  kMsgReadmeCaption = 50,
  kMsgReadmeText = 51,
  kMsgBrowse = 52,
  kMsgUninstallConfirm = 53,
  kMsgInstalling = 54,               // progress caption and extraction status
  kMsgUninstallCaption = 55,         // uninstall progress caption and question caption
  kMsgFontQuestion = 56,             // "%s": the font's name
  kMsgFontCaption = 57,
  kMsgRemoveFailed = 58,             // first words of an uninstall error line
  kMsgSharedFileQuestion = 59,       // "%s": the shared file
  kMsgUnused = 60,                   // no role: the runtime shows it nowhere
  kMsgExcludedSystem = 61,           // "%s": the running system's name
  kMsgVerifying = 62,
  kMsgLicenseFront = 63,             // licence page before the archive's licence texts
  kMsgReadmeFront = 64,              // readme page before the archive's readme texts
  kMsgStartCaption = 65,
  kMsgDoubleBackslash = 66,          // flag 37
  kMsgStatusFonts = 67,              // uninstaller stages
  kMsgStatusCleanup = 68,
  kMsgStatusKeys = 69,
  kMsgStatusAssociations = 70,
  kMsgUninstallHeading = 71,         // uninstall progress dialog text
  kMsgMinimumVersion = 72,           // flag 44
  kMsgNotWritable = 73,              // "%s": the directory
  kMsgUninstallRestart = 74,
  kMsgPasswordCaption = 75,
  kMsgPasswordText = 76,
  kMsgAdminRequired = 77,
  kMsgAdminRecommended = 78,
};
// Rows 0 .. kMessageRowCount - 1 carry every role above.
constexpr int32_t kMessageRowCount = kMsgAdminRecommended + 1;

// -------------------------------------------------------------- settings

// The unpacked settings block is one stream, read in this order (numbers are
// the field numbers that error messages and the authoring tool's docs use):
//
//   1  u64     Flags                    28 u32 n + n bytes  background bitmap
//   2  text    TaskbarText              29 text  master product name (flag 16 only)
//   3  u32     DialogPosition           30 text  desktop shortcut name
//   4  u16     StagePause (<= 9999, 19) 31 u32 n + n bytes  desktop shortcut icon
//   5  u8      ShortcutMode             32 text  Pre-Installation Batch
//   6  6 x i32 UninstallerFileTime      33 text  Post-Installation Batch
//   7  text    Publisher                34 text  Installation-Exit Batch
//   8  text    product name             35 text  UninstallBatch1
//   9  text    SharedPath               36 text  UninstallBatch2
//  10  text    ProductStartMenu         37 20 bytes  reserved date record
//  11  text    DisplayVersion           38 u32   excluded systems
//  12  text    default installation dir 39 u8    data outside the image
//  13  text    ProductRegistry          40 u8    administrator requirement
//  14  u32     BitmapSize (<= 100, 39)  41 u32   volume identifier
//  15  u32     StretchMode              42 text  minimum previous version
//  16  u32 n + n texts  licence (<= 20, 24)   43 text  installation password
//  17  u32 n + n texts  readme (<= 20, 26)    44 (flag 2 only) u32 patch offset;
//  18  text    UninstallSubdir                   when > 0, u32 n + n patch bytes
//  19  text    volume base name (not blank, 21)
//  20  text    uninstaller file name    45 deletion records until "~~THE END~~" (<= 1001, 38)
//  21  text    uninstallName            46 u32 n + n association records (<= 10000, 36)
//  22  u32     TitleColor               47 u32 n + n shortcut records (<= 10000, 48)
//  23  u8      TitleShadow              48 u32 n + n uninstall values (<= 10000, 37)
//  24  u8      TitlePosition            49 u8 L  language count (1..100, 30)
//  25  text    TitleFont                50 u32 M message count (1..10000, 31)
//  26  u32     TopColor                 51 L texts  language names
//  27  u32     BottomColor              52 M x L texts  messages, row by row
//                                       53 u32 end marker kSettingsEndMarker (32)
//
// Records:
//   deletion      text specification, u8 condition, text argument, u32 options
//   association   u32, then 8 texts
//   shortcut      5 texts (target, name, icon file, arguments, working
//                 directory), then 4 x u8 (desktop, start menu, startup, permanent)
//   uninstall     text name, u8 type, text value

constexpr int32_t kMaxStagePause = 9999;
constexpr int32_t kMaxBitmapSize = 100;
constexpr int32_t kMaxLicenseTexts = 20;
constexpr int32_t kMaxReadmeTexts = 20;
constexpr int32_t kMaxDeletionRecords = 1001;
constexpr int32_t kMaxRecordListCount = 10000;
constexpr int32_t kMaxLanguages = 100;
constexpr int32_t kMaxMessages = 10000;
constexpr char kDeletionListEnd[] = "~~THE END~~";  // compared case-sensitively

// Setting 5, ShortcutMode: this value puts the shortcuts into the folders of
// all users, any other into the current user's.
constexpr uint8_t kShortcutModeAllUsers = 1;

// Setting 15, StretchMode: how the background picture fills its area (the
// window's BitmapSize percent, centred). Any other value stretches it over
// the whole area.
constexpr uint32_t kStretchFit = 1;          // as large as fits, proportions kept
constexpr uint32_t kStretchWholeFactor = 2;  // enlarged by the largest whole factor that fits; else fitted
constexpr uint32_t kStretchTile = 3;         // repeated over the whole window

// A date and time as six signed 32-bit fields: year, month, day, hour,
// minute, second (local time). Month 0 marks a missing date, a negative hour
// a missing time. Used by setting 6 and by every entry record.
struct ArchiveDateTime {
  int32_t year, month, day, hour, minute, second;
};
static_assert(sizeof(ArchiveDateTime) == 24, "six 32-bit fields");

constexpr int32_t kReservedDateRecordSize = 20;

// ---------------------------------------------------------- entry record

// Entry record, in the data region, fields in order:
//   text        name (relative subpath allowed; not empty, 70)
//   i32         kind (ArchiveEntryKind; others are 110)
//   u32         entry flags (ArchiveEntryFlag)
//   u32         attributes (0xFFFFFFFF: leave alone)
//   size bytes  data; size from the header's entrySizes table
//   u32         checksum of the data (100)
//   6 x i32     date-time of the file (ArchiveDateTime)
//   text        text 1: version text (kinds 6-9), font name (kind 4), shortcut name
//   text        text 2: only with entry flag 0x1 or 0x2: shortcut icon file
//   text        text 3: shortcut arguments
//   text        text 4: destination override
//   text        text 5: shortcut working directory
enum ArchiveEntryKind : int32_t {
  kKindInstallDir = 0,
  kKindSharedDir = 1,
  kKindFont = 4,
  kKindStartup = 5,
  kKindSystemPermanent = 6,
  kKindComServer = 7,
  kKindTypeLibrary = 8,
  kKindVersioned = 9,
};

inline bool IsValidEntryKind(int32_t kind) { return kind == 0 || kind == 1 || (kind >= 4 && kind <= 9); }

enum ArchiveEntryFlag : uint32_t {
  kEntryDesktopShortcut = 0x1,
  kEntryStartMenuShortcut = 0x2,
  kEntryOverwriteMask = 0xC,
  kEntryOverwriteNormal = 0x0,
  kEntryNeverExtract = 0x4,
  kEntryReplaceOnly = 0x8,
  kEntryKeepExisting = 0xC,
  kEntryPermanent = 0x20,
  kEntryToUninstallDir = 0x40,
};

constexpr uint32_t kKeepAttributes = 0xFFFFFFFFu;
