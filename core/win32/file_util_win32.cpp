#include <windows.h>

#include <string.h>

#include "core/format.h"
#include "core/memory.h"
#include "core/path.h"
#include "core/string_chars.h"
#include "core/win32/disk_file.h"
#include "core/win32/dynamic_library.h"
#include "core/win32/file_util.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"

using string_chars::IsAsciiLetter;

namespace {

// The written file is read back in heap chunks: a chunk on the stack would
// make the frame reach a page, which the runtime's code must not (it is
// built without stack probes).
constexpr int32_t kCompareChunk = 64 * 1024;
constexpr int32_t kAppendAttempts = 10;
constexpr DWORD kAppendRetryDelayMs = 100;
constexpr int32_t kPrivateDirectoryAttempts = 16;

// "X:\" for a path starting with a drive letter; false otherwise.
bool DriveRoot(const char* path, char root[4]) {
  if (!path || !IsAsciiLetter(path[0])) return false;
  root[0] = path[0];
  root[1] = ':';
  root[2] = '\\';
  root[3] = '\0';
  return true;
}

}  // namespace

int32_t ReadFileToString(const char* path, String& out) {
  if (!path || !*path) {
    out.Clear();
    return kOpenInvalidName;
  }
  DiskFile file;
  const int32_t code = file.OpenRequired(path, kOpenReadShared);
  if (code != kOpenOk) return code;
  if (!file.ReadAll(out)) {
    out.Clear();
    return kOpenReadFailed;
  }
  return kOpenOk;
}

int32_t WriteStringToFile(const char* path, const void* data, int32_t size) {
  if (!path || !*path) return kOpenInvalidName;
  if (size == kWholeText) size = data ? (int32_t)strlen((const char*)data) : 0;
  // Refused before the file is opened: a bad size or a missing buffer must
  // not truncate an existing file and then fail.
  if (size < 0 || (size > 0 && !data)) return kOpenWriteFailed;
  DiskFile file;
  const int32_t code = file.OpenRequired(path, kOpenWriteNew);
  if (code != kOpenOk) return code;
  if (!file.WriteBlock(data, size)) return kOpenWriteFailed;
  return kOpenOk;
}

bool WriteTempFile(const void* data, int32_t size, String& name) {
  name.Clear();
  DiskFile file;
  if (file.OpenRequired(nullptr, kOpenTempInTempDir) != kOpenOk) return false;
  name = file.Path();
  return file.WriteBlock(data, size);
}

bool FileMatches(const char* path, const void* data, int32_t size) {
  if (size < 0 || (size > 0 && !data)) return false;
  DiskFile file;
  if (file.OpenRequired(path, kOpenReadShared) != kOpenOk) return false;
  if (file.Size() != size) return false;
  if (size == 0) return true;
  const char* expected = (const char*)data;
  const int32_t chunkSize = size < kCompareChunk ? size : kCompareChunk;
  char* chunk = (char*)MemAlloc((size_t)chunkSize);
  bool same = true;
  for (int32_t done = 0; same && done < size;) {
    const int32_t n = size - done < chunkSize ? size - done : chunkSize;
    same = file.ReadBlock(chunk, n) && memcmp(chunk, expected + done, (size_t)n) == 0;
    done += n;
  }
  MemFree(chunk);
  return same;
}

bool FileExists(const char* path) {
  DiskFile file;
  const int32_t code = file.OpenRequired(path, kOpenExistenceTest);
  return code == kOpenOk || code == kOpenLocked;
}

bool AppendTextToFile(const char* path, const char* text, uint32_t flags) {
  const uint32_t openFlags = ((flags & kAppendExistingOnly) ? kOpenExisting : kOpenAlways) | kOpenAtEnd;
  const int32_t length = text ? (int32_t)strlen(text) : 0;
  for (int32_t attempt = 1;; ++attempt) {
    DiskFile file;
    if (file.OpenRequired(path, openFlags) != kOpenOk) return false;
    if ((!(flags & kAppendEndLineFirst) || file.EndLine()) && file.WriteBlock(text, length)) return true;
    file.Close();
    if ((flags & kAppendNoRetry) || attempt >= kAppendAttempts) return false;
    Sleep(kAppendRetryDelayMs);
  }
}

namespace {

bool IsLinkOrDirectory(DWORD attributes) {
  return (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

constexpr DWORD kPathBuffer = 1024;

// The name path's last component has on the disk: its full form (trailing
// dots and blanks dropped, as the system drops them when it opens), then its
// long form where the system can give one.
String DiskNameOf(const char* path) {
  char full[kPathBuffer];
  const DWORD n = GetFullPathNameA(path, kPathBuffer, full, nullptr);
  if (n == 0 || n >= kPathBuffer) return FileNameOf(path);
  const auto longPathName = SystemApi(kLibKernel32).GetLongPathNameA;
  char longer[kPathBuffer];
  const DWORD m = longPathName ? longPathName(full, longer, kPathBuffer) : 0;
  return FileNameOf(m > 0 && m < kPathBuffer ? longer : full);
}

// False when the file open behind handle has another last name than path:
// a link the system followed without saying so (Wine shows a Unix symbolic
// link to a file as that file, and only the final path tells). True when
// the system cannot say (before Windows Vista, which has no file links).
bool OpenedUnderItsOwnName(HANDLE file, const char* path) {
  const auto finalPathName = SystemApi(kLibKernel32).GetFinalPathNameByHandleA;
  char opened[kPathBuffer];
  const DWORD n = finalPathName ? finalPathName(file, opened, kPathBuffer, 0) : 0;
  if (n == 0 || n >= kPathBuffer) return true;
  return FileNameOf(opened).CompareNoCase(DiskNameOf(path).CStr()) == 0;
}

// Opens path for appending: created exclusively when absent, else its own
// entry (FILE_FLAG_OPEN_REPARSE_POINT: a link is opened as itself, not
// followed), checked through the handle so that nothing swapped in between
// the look and the open is written.
HANDLE OpenForLinkSafeAppend(const char* path, LinkSafeAppend& refusal) {
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  refusal = LinkSafeAppend::kFailed;
  // A link in the way (even one whose target is missing) is opened as itself
  // and so already exists: nothing is created at its target.
  HANDLE file = CreateFileA(path, kAccess, kShare, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file != INVALID_HANDLE_VALUE) return file;
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || IsLinkOrDirectory(attributes)) {
    // Present but unreadable as a file: a dangling link, or a link to a
    // directory.
    refusal = LinkSafeAppend::kRefusedLink;
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  file = CreateFileA(path, kAccess, kShare, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) {
    const DWORD failure = GetLastError();
    CloseHandle(file);
    SetLastError(failure);
    return INVALID_HANDLE_VALUE;
  }
  if (IsLinkOrDirectory(info.dwFileAttributes) || info.nNumberOfLinks != 1 || !OpenedUnderItsOwnName(file, path)) {
    CloseHandle(file);
    refusal = LinkSafeAppend::kRefusedLink;
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

LinkSafeAppend AppendWithoutLinks(const char* path, const void* data, int32_t size) {
  if (!path || !*path || size < 0 || (size > 0 && !data)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return LinkSafeAppend::kFailed;
  }
  LinkSafeAppend refusal;
  HANDLE file = OpenForLinkSafeAppend(path, refusal);
  if (file == INVALID_HANDLE_VALUE) return refusal;
  // Append access alone writes at the end; the explicit move keeps it so on
  // systems that treat the access as plain write access.
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  const bool ok = size == 0 || (WriteFile(file, data, (DWORD)size, &written, nullptr) && written == (DWORD)size);
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(ok ? 0 : error);
  return ok ? LinkSafeAppend::kAppended : LinkSafeAppend::kFailed;
}

String CurrentDirectory() {
  String directory;
  char small[100];
  DWORD n = GetCurrentDirectoryA(sizeof small, small);
  if (n > 0 && n < sizeof small) return String(small, (int32_t)n);
  // The reported size counts the NUL; the directory may change in between,
  // so the second answer is checked again.
  if (n == 0 || n > (DWORD)kMaxFileInMemory) return directory;
  if (!directory.TrySetLength((int32_t)n)) return String();
  const DWORD m = GetCurrentDirectoryA(n, directory.Buffer());
  if (m == 0 || m >= n) return String();
  directory.SetLength((int32_t)m);
  return directory;
}

bool IsDirectory(const char* path) {
  if (!path || !*path) return false;
  const String previous = CurrentDirectory();
  if (!SetCurrentDirectoryA(path)) return false;
  if (!previous.IsEmpty()) SetCurrentDirectoryA(previous.CStr());
  return true;
}

bool CreateDirectoryTree(const char* path) {
  if (!path || !*path) return false;
  if (IsDirectory(path)) return true;
  // DirectoryOf gives either the path itself or a strictly shorter prefix,
  // so the recursion ends; parents of fewer than 4 characters ("C:\") are
  // roots and are not created.
  const String parent = DirectoryOf(path);
  if (strcmp(parent.CStr(), path) != 0 && parent.Length() >= 4 && !CreateDirectoryTree(parent.CStr()))
    return false;
  CreateDirectoryA(path, nullptr);
  return IsDirectory(path);
}

bool RemoveDirectoryIfEmpty(const char* path) {
  String directory(path);
  if (directory.Length() <= 3) return false;
  directory.StripLastChar('\\');
  return RemoveDirectoryA(directory.CStr()) != FALSE;
}

String CreateTempFile(const char* directory) {
  const bool inTempDir = !directory || !*directory;
  DiskFile file;
  if (file.Open(directory, inTempDir ? kOpenTempInTempDir : kOpenTempInPath) != kOpenOk) return String();
  return file.Path();
}

bool CreatePrivateDirectory(String& directory) {
  const String temp = TempDir();
  for (int32_t attempt = 0; attempt < kPrivateDirectoryAttempts; ++attempt) {
    const uint64_t bits = UnpredictableBits();
    String name;
    Format(name, "trux-%08lx%08lx", (unsigned long)(bits >> 32), (unsigned long)(bits & 0xFFFFFFFFu));
    directory = JoinPath(temp.CStr(), name.CStr());
    if (CreateDirectoryA(directory.CStr(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  directory.Clear();
  return false;
}

String ShortPathOf(const char* path) {
  const int32_t length = path ? (int32_t)strlen(path) : 0;
  if (length == 0) return String();
  const int32_t size = length > 130 ? 2 * length : 260;
  String shortPath;
  if (length > kMaxFileInMemory / 2 || !shortPath.TrySetLength(size)) return String(path);
  const DWORD n = GetShortPathNameA(path, shortPath.Buffer(), (DWORD)size);
  if (n == 0 || n >= (DWORD)size) return String(path);
  shortPath.SetLength((int32_t)n);
  return shortPath;
}

bool IsReadOnly(const char* path) {
  const DWORD attributes = GetFileAttributesA(path ? path : "");
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool SetAttributeBits(const char* path, uint32_t values, uint32_t mask) {
  const DWORD attributes = GetFileAttributesA(path ? path : "");
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // FILE_ATTRIBUTE_NORMAL means "no other bit" and the directory bit cannot
  // be written: both are left out of the comparison and the new value.
  const DWORD fixed = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_DIRECTORY;
  const DWORD current = attributes & ~fixed;
  const DWORD wanted = ((current & ~mask) | (values & mask)) & ~fixed;
  if (wanted == current) return true;
  return SetFileAttributesA(path, wanted ? wanted : FILE_ATTRIBUTE_NORMAL) != FALSE;
}

bool SetReadOnly(const char* path, bool on) {
  return SetAttributeBits(path, on ? FILE_ATTRIBUTE_READONLY : 0, FILE_ATTRIBUTE_READONLY);
}

bool ClearAttributes(const char* path, uint32_t mask) { return SetAttributeBits(path, 0, mask); }

bool DriveExists(const char* path) {
  char root[4];
  if (!DriveRoot(path, root)) return false;
  return GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR;
}

bool DiskSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes) {
  char root[4];
  if (!DriveRoot(path, root)) return false;
  const auto freeSpaceEx = SystemApi(kLibKernel32).GetDiskFreeSpaceExA;
  if (freeSpaceEx) {
    ULARGE_INTEGER available, total, totalFree;
    if (freeSpaceEx(root, &available, &total, &totalFree)) {
      if (freeBytes) *freeBytes = totalFree.QuadPart;
      if (totalBytes) *totalBytes = total.QuadPart;
      return true;
    }
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) return false;
  if (freeBytes) *freeBytes = ClusterBytes(sectorsPerCluster, bytesPerSector, freeClusters);
  if (totalBytes) *totalBytes = ClusterBytes(sectorsPerCluster, bytesPerSector, clusters);
  return true;
}

int64_t FreeSpace(const char* path) {
  uint64_t bytes = 0;
  if (!DiskSpace(path, &bytes, nullptr)) return -1;
  return bytes > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)bytes;
}
