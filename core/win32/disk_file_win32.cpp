#include <windows.h>

#include <string.h>

#include "core/cformat.h"
#include "core/fatal.h"
#include "core/path.h"
#include "core/win32/disk_file.h"
#include "core/win32/file_util.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"

namespace {

constexpr int32_t kMaxOpenAttempts = 6;
constexpr DWORD kRetryOnceDelayMs = 150;
constexpr DWORD kSharingRetryDelayMs = 100;
// Names a temporary file creation tries before it gives up.
constexpr int32_t kTempNameAttempts = 16;
// "\VKT", eight hexadecimal digits and ".tmp" after the directory.
constexpr int32_t kTempNameLength = 16;

HANDLE ToHandle(void* h) { return (HANDLE)h; }

DWORD CreationDisposition(uint32_t flags) {
  switch (flags & kOpenCreationMask) {
    case kOpenExisting: return OPEN_EXISTING;
    case kOpenCreateNew: return CREATE_NEW;
    case kOpenCreateAlways: return CREATE_ALWAYS;
    default: return OPEN_ALWAYS;
  }
}

DWORD ShareMode(uint32_t flags) {
  const bool read = !(flags & kOpenNoRead);
  const bool write = !(flags & kOpenNoWrite);
  DWORD share = 0;
  if (flags & kOpenShareRead) share |= write ? FILE_SHARE_READ : (FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (flags & kOpenShareWrite) share |= read ? FILE_SHARE_WRITE : (FILE_SHARE_READ | FILE_SHARE_WRITE);
  return share;
}

bool HasReadOnlyAttribute(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

static_assert(ERROR_FILE_NOT_FOUND == 2 && ERROR_PATH_NOT_FOUND == 3 && ERROR_TOO_MANY_OPEN_FILES == 4 &&
                  ERROR_ACCESS_DENIED == 5 && ERROR_SHARING_VIOLATION == 32 && ERROR_FILE_EXISTS == 80 &&
                  ERROR_INVALID_PARAMETER == 87 && ERROR_INVALID_NAME == 123 && ERROR_FILENAME_EXCED_RANGE == 206,
              "OpenResultForError uses the system's error numbers");

int32_t MapOpenError(DWORD error, bool wantsWrite, const char* path) {
  // The attribute is read only when it decides the result.
  const bool readOnly = error == ERROR_ACCESS_DENIED && wantsWrite && HasReadOnlyAttribute(path);
  return OpenResultForError(error, wantsWrite, readOnly);
}

// The directory a temporary-file mode creates its file in.
String TemporaryDirectory(uint32_t mode, const char* path) {
  switch (mode) {
    case kOpenTempInTempDir: return TempDir();
    case kOpenTempInPath: return String(path);
    default: return DirectoryOf(path);
  }
}

// Creates a new file in directory under an unpredictable name, exclusively:
// nothing that stood under the name beforehand (a file or a link another
// user put there) is ever opened, and the caller writes through the handle
// that created the file, so nobody can swap it for another before that. A
// name already taken only makes the creation try the next one.
HANDLE CreateTemporaryFile(const String& directory, DWORD access, DWORD share, DWORD attributes, String& path) {
  // The old temporary-name call wrote into a MAX_PATH buffer; names that
  // would not have fitted there are refused as before.
  if (directory.Length() > MAX_PATH - kTempNameLength) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  for (int32_t attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    char name[16];
    BoundedFormat(name, sizeof name, "VKT%08lX.tmp", (unsigned long)(UnpredictableBits() & 0xFFFFFFFFu));
    path = JoinPath(directory.CStr(), name);
    HANDLE h = CreateFileA(path.CStr(), access, share, nullptr, CREATE_NEW, attributes, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  path.Clear();
  return INVALID_HANDLE_VALUE;
}

bool IsTemporaryMode(uint32_t mode) {
  return mode == kOpenTempInTempDir || mode == kOpenTempInPath || mode == kOpenTempInPathDir;
}

// A 64-bit file offset as a 32-bit position, or -1 when it does not fit.
int32_t ToPosition(DWORD low, LONG high) {
  if (high != 0 || low > 0x7FFFFFFF) return -1;
  return (int32_t)low;
}

}  // namespace

int32_t DiskFile::Fail(int32_t code) {
  lastError_ = OpenResultText(code);
  return code;
}

bool DiskFile::FailWith(const char* text) {
  lastError_ = text;
  return false;
}

bool DiskFile::FailWithSystemError() {
  lastError_ = SystemErrorText(GetLastError());
  return false;
}

int32_t DiskFile::Open(const char* path, uint32_t flags, uint32_t attributes) {
  Close();
  path_.Clear();
  const uint32_t mode = flags & kOpenNameModeMask;
  if ((!path || !*path) && mode != kOpenTempInTempDir) return Fail(kOpenInvalidName);

  const bool wantsRead = !(flags & kOpenNoRead);
  const bool wantsWrite = !(flags & kOpenNoWrite);
  const DWORD access = (wantsRead ? GENERIC_READ : 0) | (wantsWrite ? GENERIC_WRITE : 0);
  const DWORD creation = CreationDisposition(flags);
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  if (IsTemporaryMode(mode)) {
    h = CreateTemporaryFile(TemporaryDirectory(mode, path), access, ShareMode(flags), attributes, path_);
    if (h == INVALID_HANDLE_VALUE) return Fail(MapOpenError(GetLastError(), wantsWrite, ""));
  } else if (mode == kOpenJoinTempDir) {
    path_ = JoinPath(TempDir().CStr(), path);
  } else {
    path_ = path;
  }

  // The counter allows six attempts; the one retry of kOpenRetryOnce costs
  // one extra step of it.
  for (int32_t attempt = 1; h == INVALID_HANDLE_VALUE && attempt <= kMaxOpenAttempts; ++attempt) {
    h = CreateFileA(path_.CStr(), access, ShareMode(flags), nullptr, creation, attributes, nullptr);
    if (h != INVALID_HANDLE_VALUE) break;
    error = GetLastError();
    if (attempt == 1 && (flags & kOpenRetryOnce)) {
      Sleep(kRetryOnceDelayMs);
      ++attempt;
      continue;
    }
    if (error != ERROR_SHARING_VIOLATION || (flags & kOpenNoShareRetry)) break;
    if (attempt < kMaxOpenAttempts) Sleep(kSharingRetryDelayMs);
  }
  if (h == INVALID_HANDLE_VALUE) {
    handle_ = nullptr;
    return Fail(MapOpenError(error, wantsWrite, path_.CStr()));
  }

  handle_ = h;
  readable_ = wantsRead;
  writable_ = wantsWrite;
  if ((flags & kOpenToMemory) && !LoadIntoMemory()) {
    Close();
    return Fail(kOpenReadFailed);
  }
  if ((flags & kOpenAtEnd) && !SeekFromEnd(0)) {
    const String reason = lastError_;
    Close();
    lastError_ = reason;
    return kOpenUnknownError;
  }
  if (flags & kOpenCloseAgain) Close();
  lastError_.Clear();
  return kOpenOk;
}

int32_t DiskFile::OpenRequired(const char* path, uint32_t flags, uint32_t attributes) {
  const int32_t code = Open(path, flags, attributes);
  if (code == kOpenOk) return code;
  lastError_ = OpenResultText(code);
  if (flags & kOpenRequired) {
    const char* shown = path_.IsEmpty() ? (path ? path : "") : path_.CStr();
    FatalError("Failed to open required file:\r\n%s\r\n\r\n%s", shown, lastError_.CStr());
  }
  return code;
}

bool DiskFile::LoadIntoMemory() {
  const int32_t size = Size();
  if (size < 0 || size > kMaxFileInMemory) return false;
  String copy;
  if (size > 0 && !copy.TrySetLength(size)) return false;
  if (size > 0 && !ReadAt(0, copy.Buffer(), size)) return false;
  memory_ = static_cast<String&&>(copy);
  memoryCursor_ = 0;
  inMemory_ = true;
  memoryChanged_ = false;
  return true;
}

bool DiskFile::WriteBackMemoryCopy() {
  if (!inMemory_ || !memoryChanged_) return true;
  inMemory_ = false;  // the disk operations below must not see memory mode
  bool ok = SeekTo(0) && WriteToDisk(memory_.Buffer(), memory_.Length());
  if (ok && !SetEndOfFile(ToHandle(handle_))) ok = FailWithSystemError();
  inMemory_ = true;
  if (ok) memoryChanged_ = false;
  return ok;
}

void DiskFile::Close() {
  if (!handle_) return;
  WriteBackMemoryCopy();
  for (const LockedRange& range : locks_)
    UnlockFile(ToHandle(handle_), (DWORD)range.offset, 0, (DWORD)range.count, 0);
  locks_.Clear();
  CloseHandle(ToHandle(handle_));
  handle_ = nullptr;
  memory_.Clear();
  memoryCursor_ = 0;
  positions_.Clear();
  inMemory_ = false;
  memoryChanged_ = false;
  flushAfterWrite_ = false;
  readable_ = false;
  writable_ = false;
}

bool DiskFile::ReadFromDisk(void* buffer, int32_t size) {
  DWORD got = 0;
  if (!ReadFile(ToHandle(handle_), buffer, (DWORD)size, &got, nullptr)) return FailWithSystemError();
  if (got != (DWORD)size) return FailWith("Read past end of file");
  return true;
}

bool DiskFile::ReadBlock(void* buffer, int32_t size) {
  if (size == 0) return true;
  if (size < 0) {
    char text[48];
    BoundedFormat(text, sizeof text, "Illegal block size %d", (int)size);
    return FailWith(text);
  }
  if (!buffer) return FailWith("NULL block pointer");
  if (!handle_) return FailWith("File not open");
  if (!readable_) return FailWith("Read access denied");
  if (inMemory_) {
    if (size > memory_.Length() - memoryCursor_) return FailWith("Read past end of file");
    memcpy(buffer, memory_.Buffer() + memoryCursor_, (size_t)size);
    memoryCursor_ += size;
    return true;
  }
  return ReadFromDisk(buffer, size);
}

bool DiskFile::ReadByte(uint8_t& byte) { return ReadBlock(&byte, 1); }

bool DiskFile::PeekByte(uint8_t& byte) {
  const int32_t at = Position();
  if (at < 0) return handle_ ? false : FailWith("File not open");
  if (!ReadBlock(&byte, 1)) return false;
  return SeekTo(at);
}

bool DiskFile::WriteToDisk(const void* buffer, int32_t size) {
  const char* p = (const char*)buffer;
  int32_t left = size;
  while (left > 0) {
    const int32_t piece = left < kWritePieceSize ? left : kWritePieceSize;
    DWORD written = 0;
    if (!WriteFile(ToHandle(handle_), p, (DWORD)piece, &written, nullptr)) return FailWithSystemError();
    if (written != (DWORD)piece) return FailWith("Not all data could be written");
    p += piece;
    left -= piece;
  }
  if (flushAfterWrite_ && !FlushFileBuffers(ToHandle(handle_))) return FailWithSystemError();
  return true;
}

bool DiskFile::WriteBlock(const void* buffer, int32_t size) {
  if (size == 0) return true;
  if (!handle_) return false;
  if (size < 0) return FailWith("Illegal block size");
  if (!buffer) return FailWith("NULL block pointer");
  if (!writable_) return FailWith("Write access denied");
  if (inMemory_) {
    if (size > kMaxFileInMemory - memoryCursor_) return FailWith("File too large for memory");
    const int32_t end = memoryCursor_ + size;
    if (end > memory_.Length() && !memory_.TrySetLength(end)) return FailWith("Not enough memory");
    memcpy(memory_.Buffer() + memoryCursor_, buffer, (size_t)size);
    memoryCursor_ = end;
    memoryChanged_ = true;
    return true;
  }
  return WriteToDisk(buffer, size);
}

int32_t DiskFile::Position() {
  if (!handle_) return -1;
  if (inMemory_) return memoryCursor_;
  LONG high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(ToHandle(handle_), 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    FailWithSystemError();
    return -1;
  }
  const int32_t position = ToPosition(low, high);
  if (position < 0) FailWith("File too large");
  return position;
}

bool DiskFile::SeekTo(int32_t position) {
  if (!handle_ || position < 0) return false;
  if (inMemory_) {
    if (position > memory_.Length()) return false;
    memoryCursor_ = position;
    return true;
  }
  LONG high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(ToHandle(handle_), position, &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return FailWithSystemError();
  return true;
}

bool DiskFile::SeekFromEnd(int32_t distance) {
  if (!handle_ || distance < 0) return false;
  if (inMemory_) {
    if (distance > memory_.Length()) return false;
    memoryCursor_ = memory_.Length() - distance;
    return true;
  }
  LONG high = distance ? -1 : 0;  // the 64-bit offset -distance
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(ToHandle(handle_), -distance, &high, FILE_END);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return FailWithSystemError();
  return true;
}

void DiskFile::PushPosition() { positions_.Push(Position()); }

int32_t DiskFile::PopPosition() {
  if (positions_.IsEmpty()) return kNoSavedPosition;
  const int32_t position = positions_.Pop();
  if (position >= 0) (void)SeekTo(position);  // a failed seek shows in the next read or write
  return position;
}

int32_t DiskFile::Size() {
  if (!handle_) return -1;
  if (inMemory_) return memory_.Length();
  PushPosition();
  int32_t size = -1;
  if (SeekFromEnd(0)) size = Position();
  PopPosition();
  return size;
}

bool DiskFile::ReadAt(int32_t position, void* buffer, int32_t size) {
  if (!handle_) return FailWith("File not open");
  PushPosition();
  bool ok = SeekTo(position);
  if (ok) {
    ok = ReadBlock(buffer, size);
  } else if (position < 0 || inMemory_) {
    FailWith("Read past end of file");  // a system failure has set its own text
  }
  PopPosition();
  return ok;
}

bool DiskFile::ReadRange(String& out, int32_t start, int32_t count) {
  if (!handle_) return FailWith("File not open");
  const int32_t size = Size();
  if (start < 0 || count < 0 || size < 0 || start > size || count > size - start)
    return FailWith("Read past end of file");
  if (count > kMaxFileInMemory) return FailWith("File too large for memory");
  if (count == 0) {
    out.Clear();
    return true;
  }
  String data;
  if (!data.TrySetLength(count)) return FailWith("Not enough memory");
  if (!ReadAt(start, data.Buffer(), count)) return false;
  out = static_cast<String&&>(data);
  return true;
}

bool DiskFile::ReadAll(String& out) {
  if (!handle_) return FailWith("File not open");
  const int32_t size = Size();
  if (size < 0) return false;
  return ReadRange(out, 0, size);
}

bool DiskFile::ReadTail(void* buffer, int32_t size) {
  if (!handle_) return FailWith("File not open");
  const int32_t fileSize = Size();
  if (fileSize < 0) return false;
  if (size < 0) return ReadBlock(buffer, size);  // the "Illegal block size" report
  if (size > fileSize) return FailWith("Read past end of file");
  return ReadAt(fileSize - size, buffer, size);
}

bool DiskFile::ReadCString(String& out) {
  out.Clear();
  char chunk[256];
  int32_t used = 0;
  bool terminated = false;
  uint8_t byte = 0;
  while (ReadByte(byte)) {
    if (byte == 0) {
      terminated = true;
      break;
    }
    chunk[used++] = (char)byte;
    if (used == (int32_t)sizeof chunk) {
      out.Append(chunk, used);
      used = 0;
    }
  }
  out.Append(chunk, used);
  return terminated;
}

bool DiskFile::EndLine() {
  const int32_t size = Size();
  if (size < 0) return handle_ ? false : FailWith("File not open");
  if (size == 0) return true;
  uint8_t last = 0;
  if (!ReadAt(size - 1, &last, 1)) return false;
  if (last == '\r' || last == '\n') return true;
  const int32_t position = Position();
  if (position == size) return WriteBlock("\r\n", 2);
  PushPosition();
  const bool ok = SeekFromEnd(0) && WriteBlock("\r\n", 2);
  PopPosition();
  return ok;
}

bool DiskFile::Truncate() {
  if (!handle_) return FailWith("File not open");
  if (inMemory_) {
    if (memoryCursor_ < memory_.Length()) {
      memory_.Truncate(memoryCursor_);
      memoryChanged_ = true;
    }
    return true;
  }
  if (!SetEndOfFile(ToHandle(handle_))) return FailWithSystemError();
  return true;
}

bool DiskFile::Flush() {
  if (!handle_) return FailWith("File not open");
  if (!FlushFileBuffers(ToHandle(handle_))) return FailWithSystemError();
  return true;
}

bool DiskFile::LockRange(int32_t offset, int32_t count) {
  if (!handle_) return FailWith("File not open");
  if (offset < 0 || count <= 0) return FailWith("An invalid parameter was used.");
  if (!LockFile(ToHandle(handle_), (DWORD)offset, 0, (DWORD)count, 0)) return FailWithSystemError();
  locks_.Append(LockedRange{offset, count});
  return true;
}

bool DiskFile::UnlockRange(int32_t offset, int32_t count) {
  if (!handle_) return FailWith("File not open");
  for (int32_t i = 0; i < locks_.Count(); ++i) {
    if (locks_[i].offset != offset || locks_[i].count != count) continue;
    if (!UnlockFile(ToHandle(handle_), (DWORD)offset, 0, (DWORD)count, 0)) return FailWithSystemError();
    locks_.RemoveAt(i);
    return true;
  }
  return FailWith("An invalid parameter was used.");
}

bool DiskFile::SetFileTimes(const SystemTimeRecord& localTime, bool creation) {
  if (!handle_) return FailWith("File not open");
  // A pending memory copy goes out first: written later, it would move the
  // last-write time again.
  if (!WriteBackMemoryCopy()) return false;
  SYSTEMTIME st;
  st.wYear = localTime.year;
  st.wMonth = localTime.month;
  st.wDayOfWeek = localTime.dayOfWeek;
  st.wDay = localTime.day;
  st.wHour = localTime.hour;
  st.wMinute = localTime.minute;
  st.wSecond = localTime.second;
  st.wMilliseconds = localTime.milliseconds;
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return FailWithSystemError();
  if (!FlushFileBuffers(ToHandle(handle_)) && writable_) return FailWithSystemError();
  const BOOL ok = creation ? SetFileTime(ToHandle(handle_), &utc, nullptr, nullptr)
                           : SetFileTime(ToHandle(handle_), nullptr, nullptr, &utc);
  if (!ok) return FailWithSystemError();
  return true;
}

bool DiskFile::SetWriteTime(const SystemTimeRecord& localTime) { return SetFileTimes(localTime, false); }
bool DiskFile::SetCreationTime(const SystemTimeRecord& localTime) { return SetFileTimes(localTime, true); }

bool DiskFile::SetWriteTime(const DateTime& localTime) {
  SystemTimeRecord record;
  if (!localTime.ToSystemTime(record)) return FailWith("An invalid parameter was used.");
  return SetFileTimes(record, false);
}

bool DiskFile::SetCreationTime(const DateTime& localTime) {
  SystemTimeRecord record;
  if (!localTime.ToSystemTime(record)) return FailWith("An invalid parameter was used.");
  return SetFileTimes(record, true);
}
