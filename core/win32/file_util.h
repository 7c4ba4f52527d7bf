// Whole-file helpers, directories, temporary files, attributes and disk
// space (Windows only). Each helper opens and closes its own DiskFile; none
// keeps a handle.
#pragma once
#include <stdint.h>

#include "core/string.h"

#if defined(_WIN32)
// path's whole content into out; returns an open-result code (6 when the
// read failed or the file is too large for memory: out is then empty).
[[nodiscard]] int32_t ReadFileToString(const char* path, String& out);
// Creates or truncates path and writes size bytes of data (kWholeText: the
// C-string length); returns an open-result code (7 when the write failed,
// and before anything is opened for a negative size or a null buffer).
[[nodiscard]] int32_t WriteStringToFile(const char* path, const void* data, int32_t size);
// Writes data to a new temporary file in the temporary directory; its name
// goes to name. False when the file could not be created or written.
[[nodiscard]] bool WriteTempFile(const void* data, int32_t size, String& name);
// True when path can be read and its content is exactly data[0, size).
bool FileMatches(const char* path, const void* data, int32_t size);
// True when path exists, also when another process holds it locked.
bool FileExists(const char* path);

enum AppendTextFlag : uint32_t {
  kAppendEndLineFirst = 0x1,  // end an unfinished last line first
  kAppendNoRetry = 0x2,       // a failed write is not retried
  kAppendExistingOnly = 0x4,  // do not create the file
};
// Appends text (null: nothing) at the end of path. A failed write is retried
// after 100 ms, 10 attempts in all, unless kAppendNoRetry.
[[nodiscard]] bool AppendTextToFile(const char* path, const char* text, uint32_t flags);

// Outcomes of AppendWithoutLinks.
enum class LinkSafeAppend : int32_t {
  kAppended,
  kRefusedLink,  // path is a link, a directory or a file with more than one name
  kFailed,       // the file could not be created, opened or written
};
// Appends size bytes of data at the end of the file path names itself, for
// a file another user may have prepared: an absent file is created
// exclusively (a link left dangling in its place counts as present), and an
// existing one is written only when it is a plain file with no other name -
// never through a symbolic link, junction or hard link to somewhere the
// caller did not name. The system is asked for the file's own entry, not a
// link's target, and the handle it gives is checked before anything is
// written: no link or directory attribute, one name only, and (where the
// system can tell) opened under the last name path gives. The directories
// on the way to the file are the caller's choice and are not checked. The
// file is shared for reading and appending while open; the write is one
// append at the end. On failure the thread's last error tells why
// (ERROR_CANT_ACCESS_FILE for a refused link).
[[nodiscard]] LinkSafeAppend AppendWithoutLinks(const char* path, const void* data, int32_t size);

// The current directory ("" when the system cannot say).
String CurrentDirectory();
// True when path names a directory: it can be made the current directory
// (the previous current directory is restored).
bool IsDirectory(const char* path);
// Creates path and every missing parent; true when path is a directory
// afterwards (also when it already was).
[[nodiscard]] bool CreateDirectoryTree(const char* path);
// Removes the directory path (one trailing '\' dropped) when it is empty.
// Paths of 3 characters or fewer (a drive root) are left alone.
bool RemoveDirectoryIfEmpty(const char* path);

// Creates a new empty file "VKTxxxxxxxx.tmp" (see kOpenTempInPath) in
// directory ("" or null: TempDir()) and returns its name; "" on failure
// (also for a directory too long for a 260-character name). Only for a
// probe: data goes through the handle of a DiskFile temporary mode, never
// through a name reopened later.
String CreateTempFile(const char* directory);
// Creates a new directory of the run's own in the temporary directory,
// exclusively and under an unpredictable name ("trux-" and 16 hexadecimal
// digits), so nobody can have prepared it or its contents; its path goes to
// directory. False (directory "") when no such directory could be made.
[[nodiscard]] bool CreatePrivateDirectory(String& directory);
// The short form of path; path itself when the system has none.
String ShortPathOf(const char* path);

// Attribute helpers; all false for a missing file. The attributes are
// written only when they change.
bool IsReadOnly(const char* path);
bool SetReadOnly(const char* path, bool on);
bool ClearAttributes(const char* path, uint32_t mask);
bool SetAttributeBits(const char* path, uint32_t values, uint32_t mask);

// True when path starts with a drive letter whose root directory exists.
bool DriveExists(const char* path);
// Free and total bytes of the drive of path (its letter's root). False for a
// path without a drive letter or when the system cannot tell.
[[nodiscard]] bool DiskSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes);
// Free bytes of the drive of path, or -1.
int64_t FreeSpace(const char* path);
#endif

// sectors per cluster x bytes per sector x clusters, in 64 bits (the old
// disk-space call reports full cluster counts on large disks).
// Saturates at UINT64_MAX.
uint64_t ClusterBytes(uint32_t sectorsPerCluster, uint32_t bytesPerSector, uint32_t clusters);
