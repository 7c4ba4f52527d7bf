// DiskFile: the library's file object.
//
// A Win32 file handle with the path that was opened, the text of the last
// failure, a stack of saved positions, an optional in-memory copy of the
// whole file (memory mode), and the fixed table of open-result codes.
//
// Guarantees:
//  - Every operation reports failure by its result (false, -1 or an
//    open-result code) and leaves the failure's text in LastError(); only
//    OpenRequired with kOpenRequired ends the process.
//  - Positions and sizes are 32-bit: a file of 2 GiB or more cannot be
//    positioned in (Position/Size give -1 with "File too large").
//  - Reads never write past the caller's buffer and report a short read as
//    "Read past end of file". Whole-file reads take their size from the file
//    and allocate with String::TrySetLength: a file too large for memory is a
//    failure, never the fatal path.
//  - Writes go out in pieces of at most 1 MiB.
//  - In memory mode changes are written back once, on Close (or before a
//    file time is set, so that the write-back does not overwrite it).
//
// OpenResultText is portable; the rest is Windows only.
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/datetime.h"
#include "core/string.h"

// Open-result codes (0 is success).
enum OpenResult : int32_t {
  kOpenOk = 0,
  kOpenUnknownError = 1,
  kOpenInvalidName = 2,
  kOpenNotFound = 3,
  kOpenNoDirectory = 4,
  kOpenLocked = 5,
  kOpenReadFailed = 6,
  kOpenWriteFailed = 7,
  kOpenTooManyFiles = 8,
  kOpenInvalidParameter = 9,
  kOpenExists = 10,
  kOpenTooManyIndexed = 11,
  kOpenAccessDenied = 12,
  kOpenReadOnly = 13,
  kOpenCorrupted = 14,
  kOpenDeleteFailed = 15,
};

// The message of an open-result code; any code outside the table (1
// included) gives "An unknown error occurred.".
const char* OpenResultText(int32_t code);

// The open-result code of a failed open from the system's error code: file
// not found 3, path not found 4, too many open files 8, access denied 13 when
// write access was requested and the file has the read-only attribute (else
// 12), sharing violation 5, file exists 10, invalid parameter 9, invalid
// name or a name longer than the system accepts 2, anything else 1.
int32_t OpenResultForError(uint32_t systemError, bool writeRequested, bool readOnlyAttribute);

// Open flags.
enum OpenFlag : uint32_t {
  kOpenCreationMask = 0x3,   // 0 open or create, 1 existing, 2 new only, 3 create or truncate
  kOpenAlways = 0,
  kOpenExisting = 1,
  kOpenCreateNew = 2,
  kOpenCreateAlways = 3,
  kOpenNoRead = 0x8,
  kOpenNoWrite = 0x10,
  kOpenRequired = 0x20,      // OpenRequired: a failure is fatal
  kOpenRetryOnce = 0x40,     // retry a failed first attempt once after 150 ms
  kOpenToMemory = 0x80,      // load the whole file (memory mode)
  kOpenShareRead = 0x100,    // without write access also shares write
  kOpenShareWrite = 0x200,   // without read access also shares read
  kOpenAtEnd = 0x400,        // move to the end after opening
  kOpenCloseAgain = 0x800,   // close at once after a successful open
  kOpenNoShareRetry = 0x1000,  // no retries after a sharing violation
  // The temporary modes create a new file "VKTxxxxxxxx.tmp" (eight
  // unpredictable hexadecimal digits) exclusively: never a file or link that
  // was there before; the object then holds the handle that created it.
  kOpenNameModeMask = 0xE0000000,
  kOpenTempInTempDir = 0x20000000,   // new temporary file in the temporary directory
  kOpenTempInPath = 0x40000000,      // new temporary file in the directory given as path
  kOpenTempInPathDir = 0x80000000,   // new temporary file in the directory part of path
  kOpenJoinTempDir = 0xC0000000,     // path joined onto the temporary directory
};

// The flag values the installer uses.
constexpr uint32_t kOpenWriteNew = 0x3;         // create or truncate, read and write, no sharing
constexpr uint32_t kOpenReadShared = 0x111;     // existing, read only, shared
constexpr uint32_t kOpenUpdateShared = 0x301;   // existing, read and write, shared
constexpr uint32_t kOpenExistenceTest = 0xB19;  // no access, shared, closed at once
constexpr uint32_t kFileAttributeNormal = 128;

// Position returned by PopPosition when nothing was saved.
constexpr int32_t kNoSavedPosition = (int32_t)0x80000000;

// Writes go to the system in pieces of this size at most.
constexpr int32_t kWritePieceSize = 0x100000;

// The largest file that whole-file reads and memory mode accept: the largest
// String the library can hold.
constexpr int32_t kMaxFileInMemory = kMaxStringBlock - 4096;

// A source of bytes: a block, one byte, or one byte left in place.
class ByteSource {
 public:
  [[nodiscard]] virtual bool ReadBlock(void* buffer, int32_t size) = 0;
  [[nodiscard]] virtual bool ReadByte(uint8_t& byte) = 0;
  [[nodiscard]] virtual bool PeekByte(uint8_t& byte) = 0;  // reads one byte and steps back

 protected:
  ~ByteSource() = default;
};

// A sink of bytes.
class ByteSink {
 public:
  [[nodiscard]] virtual bool WriteBlock(const void* buffer, int32_t size) = 0;

 protected:
  ~ByteSink() = default;
};

#if defined(_WIN32)
class DiskFile : public ByteSource, public ByteSink {
 public:
  DiskFile() = default;
  ~DiskFile() { Close(); }
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  // Opens path as flags say (see OpenFlag) with the given attributes for a
  // created file; returns an open-result code and, on failure, sets
  // LastError() to its text. An open object is closed first.
  [[nodiscard]] int32_t Open(const char* path, uint32_t flags, uint32_t attributes = kFileAttributeNormal);
  // Open; on failure with kOpenRequired the fatal report "Failed to open
  // required file:\r\n<path>\r\n\r\n<message>" ends the process.
  int32_t OpenRequired(const char* path, uint32_t flags, uint32_t attributes = kFileAttributeNormal);
  // Writes back a changed memory copy, unlocks every locked range, closes
  // the handle. Closing a closed object does nothing.
  void Close();

  bool IsOpen() const { return handle_ != nullptr; }
  bool InMemory() const { return inMemory_; }
  const String& Path() const { return path_; }
  const String& LastError() const { return lastError_; }
  void SetFlushAfterWrite(bool on) { flushAfterWrite_ = on; }

  [[nodiscard]] bool ReadBlock(void* buffer, int32_t size) override;
  [[nodiscard]] bool ReadByte(uint8_t& byte) override;
  [[nodiscard]] bool PeekByte(uint8_t& byte) override;
  [[nodiscard]] bool WriteBlock(const void* buffer, int32_t size) override;

  // The current position (the memory cursor in memory mode); -1 when closed.
  int32_t Position();
  [[nodiscard]] bool SeekTo(int32_t position);
  // Moves to distance bytes before the end (0: the end).
  [[nodiscard]] bool SeekFromEnd(int32_t distance);
  void PushPosition();
  // Restores and returns the last saved position; kNoSavedPosition when
  // nothing was saved (the position stays).
  int32_t PopPosition();
  // The size in bytes, the position unchanged; -1 when closed.
  int32_t Size();

  [[nodiscard]] bool ReadAt(int32_t position, void* buffer, int32_t size);
  // out becomes the whole content (an empty file: an empty string).
  [[nodiscard]] bool ReadAll(String& out);
  [[nodiscard]] bool ReadRange(String& out, int32_t start, int32_t count);
  // The last size bytes.
  [[nodiscard]] bool ReadTail(void* buffer, int32_t size);
  // Bytes up to a NUL (not included); true when a NUL ended them, false when
  // the end of the file or a failed read did.
  bool ReadCString(String& out);

  // Appends "\r\n" when the file is not empty and does not end with CR or LF.
  [[nodiscard]] bool EndLine();
  // Ends the file at the current position.
  [[nodiscard]] bool Truncate();
  [[nodiscard]] bool Flush();

  // Locks count bytes from offset until UnlockRange or Close.
  [[nodiscard]] bool LockRange(int32_t offset, int32_t count);
  [[nodiscard]] bool UnlockRange(int32_t offset, int32_t count);

  // Sets the last-write / creation time from a local date and time.
  [[nodiscard]] bool SetWriteTime(const SystemTimeRecord& localTime);
  [[nodiscard]] bool SetWriteTime(const DateTime& localTime);
  [[nodiscard]] bool SetCreationTime(const SystemTimeRecord& localTime);
  [[nodiscard]] bool SetCreationTime(const DateTime& localTime);

 private:
  struct LockedRange {
    int32_t offset;
    int32_t count;
  };

  int32_t Fail(int32_t code);
  bool FailWith(const char* text);
  bool FailWithSystemError();
  bool LoadIntoMemory();
  bool WriteBackMemoryCopy();
  bool WriteToDisk(const void* buffer, int32_t size);
  bool ReadFromDisk(void* buffer, int32_t size);
  bool SetFileTimes(const SystemTimeRecord& localTime, bool creation);

  void* handle_ = nullptr;
  String path_;
  Stack<int32_t> positions_;
  String memory_;             // the memory copy; its length is the file's
  int32_t memoryCursor_ = 0;
  String lastError_;
  Vector<LockedRange> locks_;
  bool inMemory_ = false;
  bool memoryChanged_ = false;
  bool flushAfterWrite_ = false;
  bool readable_ = false;
  bool writable_ = false;
};
#endif
