// Registration of what the extraction installed: reference counts of shared
// files, COM servers and type libraries.
//
// Shared-file counts live under HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows\CurrentVersion\SharedDLLs": one REG_DWORD per
// file, named by its full path, holding how many installed products use it.
// A count is never written as 0: a release that reaches 0 deletes the value.
//
// The SharedFiles text carries this installation's shared files to the
// uninstaller (the Uninstall key value "SharedFiles"): every entry of the
// shared-file list, double-quoted with its marker character kept inside the
// quotes, entries separated by ';':
//   "C:\WINDOWS\SYSTEM\A.DLL";"C:\WINDOWS\SYSTEM\B.DLL^";"C:\X\T.TLB\xA9"
// Marker (the last character inside the quotes, at most one):
//   ' '  (0x20) permanent: the file is never deleted
//   '^'  (0x5E) COM server: DllUnregisterServer before the file is deleted
//   0xA9        type library: unregistered before the file is deleted
//   none        plain shared file
// The uninstaller reads it back with TakeSharedFilesEntry and
// StripSharedFileMarkers, decreases each count and removes the files whose
// count reached 0.
//
// Outcomes go to the run's texts: a SharedDLLs key that cannot be opened to
// the error text; COM and type-library results, successes and failures, to
// the install log text only.
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"

struct Run;

// Marker bits found by StripSharedFileMarkers (the marker characters are
// those of the extraction's shared-file list, runtime/extraction_lists.h).
enum SharedFileMarkerBit : uint32_t {
  kMarkedComServer = 0x1,
  kMarkedPermanent = 0x2,
  kMarkedTypeLibrary = 0x4,
};

// Takes the double-quoted entry at the start of text (after any leading ';')
// into entry and removes it, with the ';' that follows it, from text.
// False, with text unchanged apart from leading ';', when text does not
// start with a double quote or the entry is empty: the walk ends there.
bool TakeSharedFilesEntry(String& text, String& entry);

// Strips from the end of entry an optional '^', then an optional ' ', then an
// optional 0xA9 (that order, each at most once); entry becomes the path.
// Returns the kMarked* bits of what was stripped.
uint32_t StripSharedFileMarkers(String& entry);

// Only with flag bit 2 (uninstaller created): raises the shared-file counts
// of sharedFileList (entries with their
// markers) and appends the entries to sharedFilesText, which holds the
// previous installation's text on entry.
// With reinstall, the previous installation's entries are released first
// (their counts lowered by one, a count of 1 or less deleted) and the text
// then starts empty, so a file shared again is counted once, not twice.
// When the SharedDLLs key cannot be opened, the run's error text gets one
// message and neither the counts nor sharedFilesText change.
void RegisterSharedFiles(Run& run, bool reinstall, const Array<String>& sharedFileList, String& sharedFilesText);

// Calls the DllRegisterServer export of each COM server in its own process
// and logs "Registering COM File "path"..." with "OK", "LoadLibrary() Failed"
// or "GetProcAddress("DllRegisterServer") Failed". The export's result is
// not examined. The lines go to log (the run's install log text).
void RegisterComServers(String& log, const Array<String>& comServerList);

// The outcome of CallServerExport.
enum class ServerCall { kCalled, kNotLoaded, kNoExport };

// Loads the COM server at path (a full path) with LoadProductLibrary, so
// that its dependencies come only from its own folder and the system
// directory, calls its exportName export (DllRegisterServer or
// DllUnregisterServer, result not examined) when it has one, and frees it.
ServerCall CallServerExport(const char* path, const char* exportName);

// Registers each type library and logs "Registering Type Library "path"..."
// with "OK", or "FAILED" and the system's text for the failure, to log.
void RegisterTypeLibraries(String& log, const Array<String>& typeLibraryList);

// LoadTypeLib + RegisterTypeLib (no help directory) through oleaut32.dll
// looked up at run time. True when both succeed. On failure the thread's
// last error holds the failing HRESULT (ERROR_PROC_NOT_FOUND when oleaut32
// lacks a function, ERROR_FILENAME_EXCED_RANGE for a path longer than 260
// characters).
[[nodiscard]] bool RegisterTypeLibrary(const char* path);
// LoadTypeLib, then UnRegisterTypeLib with the library's GUID, version,
// locale and system kind. True when the unregistration succeeds; the last
// error as for RegisterTypeLibrary.
bool UnregisterTypeLibrary(const char* path);
