#include "core/win32/disk_file.h"

#include <stdint.h>

#include "core/win32/file_util.h"

const char* OpenResultText(int32_t code) {
  static const char* const kTexts[] = {
      "The file was successfully opened.",          // 0
      "An unknown error occurred.",                 // 1
      "The filename is invalid.",                   // 2
      "The file was not found.",                    // 3
      "The directory does not exist.",              // 4
      "The file is locked by another application.", // 5
      "Failed to read the file into memory.",       // 6
      "Failed to write data to the file.",          // 7
      "Too many files are already open.",           // 8
      "An invalid parameter was used.",             // 9
      "The file already exists.",                   // 10
      "Too many indexed files exist.",              // 11
      "Access denied.",                             // 12
      "The file's Read-Only attribute is set.",     // 13
      "The file's contents are corrupted.",         // 14
      "Deletion failed.",                           // 15
  };
  if (code < 0 || code >= (int32_t)(sizeof kTexts / sizeof kTexts[0])) return kTexts[1];
  return kTexts[code];
}

int32_t OpenResultForError(uint32_t systemError, bool writeRequested, bool readOnlyAttribute) {
  // The system's error numbers (winerror.h), kept here so that the mapping
  // is the same on every platform that builds this file.
  switch (systemError) {
    case 2: return kOpenNotFound;          // ERROR_FILE_NOT_FOUND
    case 3: return kOpenNoDirectory;       // ERROR_PATH_NOT_FOUND
    case 4: return kOpenTooManyFiles;      // ERROR_TOO_MANY_OPEN_FILES
    case 5:                                // ERROR_ACCESS_DENIED
      return (writeRequested && readOnlyAttribute) ? kOpenReadOnly : kOpenAccessDenied;
    case 32: return kOpenLocked;           // ERROR_SHARING_VIOLATION
    case 80: return kOpenExists;           // ERROR_FILE_EXISTS
    case 87: return kOpenInvalidParameter; // ERROR_INVALID_PARAMETER
    case 123:                              // ERROR_INVALID_NAME
    case 206:                              // ERROR_FILENAME_EXCED_RANGE
      return kOpenInvalidName;
    default: return kOpenUnknownError;
  }
}

uint64_t ClusterBytes(uint32_t sectorsPerCluster, uint32_t bytesPerSector, uint32_t clusters) {
  // Saturates instead of wrapping for values no disk reports.
  uint64_t bytes = 0;
  if (__builtin_mul_overflow((uint64_t)sectorsPerCluster * bytesPerSector, (uint64_t)clusters, &bytes))
    return UINT64_MAX;
  return bytes;
}
