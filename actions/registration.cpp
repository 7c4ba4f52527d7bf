#include "actions/registration.h"

#include <windows.h>
#include <oleauto.h>

#include "archive/format.h"
#include "core/format.h"
#include "core/win32/dynamic_library.h"
#include "core/win32/registry.h"
#include "core/win32/system_error.h"
#include "runtime/extraction_lists.h"
#include "runtime/run_state.h"

namespace {

// The longest path handed to the type-library functions, in characters.
constexpr int kMaxWidePath = 260;

// A count as stored: REG_DWORD, or a decimal text; 0 when absent. Read
// unsigned so that a huge stored count is never mistaken for a negative one.
uint32_t ReadCount(RegistryKey& key, const char* path) { return (uint32_t)key.ReadNumber(path, 0); }

// The reference counts are best-effort: a count that cannot be written
// leaves the file counted as before, which at worst keeps it at uninstall.
void ReleaseSharedFile(RegistryKey& key, const char* path) {
  uint32_t count = ReadCount(key, path);
  if (count <= 1)
    key.DeleteValue(path);
  else
    (void)key.WriteNumber(path, count - 1);
}

void AddSharedFileReference(RegistryKey& key, const char* path) {
  uint32_t count = ReadCount(key, path);
  if (count != 0xFFFFFFFFu) ++count;  // saturates instead of wrapping to 0
  (void)key.WriteNumber(path, count);
}

// path in UTF-16 through the ANSI code page into out (kMaxWidePath + 1
// characters). False, with the last error set, when it does not fit.
bool WidePath(const char* path, wchar_t* out) {
  int n = MultiByteToWideChar(CP_ACP, 0, path ? path : "", -1, out, kMaxWidePath + 1);
  if (n <= 0) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

bool Succeeded(HRESULT hr) {
  if (SUCCEEDED(hr)) return true;
  SetLastError((DWORD)hr);
  return false;
}

// The type library at path, loaded; null with the last error set.
ITypeLib* LoadTypeLibrary(const char* path, wchar_t* widePath) {
  const SystemFunctions& ole = SystemApi(kLibOleAut32);
  if (!ole.LoadTypeLib) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (!WidePath(path, widePath)) return nullptr;
  ITypeLib* library = nullptr;
  if (!Succeeded(ole.LoadTypeLib(widePath, &library))) return nullptr;
  return library;
}

}  // namespace

bool TakeSharedFilesEntry(String& text, String& entry) {
  while (text.StartsWithChar(';')) text.DeleteFirst(1);
  entry.Clear();
  if (!text.StartsWithChar('"')) return false;
  text.ExtractQuoted(entry, '"', 0);
  while (text.StartsWithChar(';')) text.DeleteFirst(1);
  return !entry.IsEmpty();
}

uint32_t StripSharedFileMarkers(String& entry) {
  uint32_t found = 0;
  if (entry.StripLastChar(kSharedComServerMarker)) found |= kMarkedComServer;
  if (entry.StripLastChar(kSharedPermanentMarker)) found |= kMarkedPermanent;
  if (entry.StripLastChar(kSharedTypeLibraryMarker)) found |= kMarkedTypeLibrary;
  return found;
}

void RegisterSharedFiles(Run& run, bool reinstall, const Array<String>& sharedFileList, String& sharedFilesText) {
  // Without an uninstaller nobody would ever give the references back.
  if (!ProductFlag(run, kFlagUninstaller)) return;
  RegistryKey key;
  if (key.OpenSoftware(false, kSharedDllsPath) == kRegistryOpenFailed) {
    run.texts.errors.Append("Registry error: unable to increment shared file reference counts.\r\n\r\n");
    return;
  }
  if (reinstall) {
    // The previous installation of this product is being replaced: its
    // references are given back before the new ones are taken, and its
    // entries leave the text with them.
    String previous = sharedFilesText;
    String entry;
    while (TakeSharedFilesEntry(previous, entry)) {
      StripSharedFileMarkers(entry);
      ReleaseSharedFile(key, entry.CStr());
    }
    sharedFilesText.Clear();
  }
  for (int32_t i = 0; i < sharedFileList.Count(); ++i) {
    const String& listed = sharedFileList[i];
    String path = listed;
    StripSharedFileMarkers(path);
    if (path.IsEmpty()) continue;
    AddSharedFileReference(key, path.CStr());
    if (!sharedFilesText.IsEmpty()) sharedFilesText.AppendChar(';');
    sharedFilesText.AppendChar('"');
    sharedFilesText.Append(listed);
    sharedFilesText.AppendChar('"');
  }
}

void RegisterComServers(String& log, const Array<String>& comServerList) {
  for (int32_t i = 0; i < comServerList.Count(); ++i) {
    const char* path = comServerList[i].CStr();
    AppendFormat(log, "Registering COM File \"%s\"...", path);
    switch (CallServerExport(path, "DllRegisterServer")) {
      case ServerCall::kCalled: log.Append("OK\r\n"); break;
      case ServerCall::kNotLoaded: log.Append("LoadLibrary() Failed\r\n"); break;
      case ServerCall::kNoExport: log.Append("GetProcAddress(\"DllRegisterServer\") Failed\r\n"); break;
    }
  }
}

ServerCall CallServerExport(const char* path, const char* exportName) {
  HMODULE module = LoadProductLibrary(path);
  if (!module) return ServerCall::kNotLoaded;
  typedef HRESULT(STDAPICALLTYPE * ServerFunction)();
  const auto function = reinterpret_cast<ServerFunction>(reinterpret_cast<void*>(GetProcAddress(module, exportName)));
  if (function) function();
  FreeLibrary(module);
  return function ? ServerCall::kCalled : ServerCall::kNoExport;
}

void RegisterTypeLibraries(String& log, const Array<String>& typeLibraryList) {
  for (int32_t i = 0; i < typeLibraryList.Count(); ++i) {
    const char* path = typeLibraryList[i].CStr();
    AppendFormat(log, "Registering Type Library \"%s\"...", path);
    if (RegisterTypeLibrary(path)) {
      log.Append("OK\r\n");
      continue;
    }
    const String reason = LastErrorText();
    log.Append("FAILED\r\n");
    log.Append(reason);
    if (!reason.EndsWithChar('\n')) log.Append("\r\n");
  }
}

bool RegisterTypeLibrary(const char* path) {
  wchar_t widePath[kMaxWidePath + 1];
  ITypeLib* library = LoadTypeLibrary(path, widePath);
  if (!library) return false;
  const SystemFunctions& ole = SystemApi(kLibOleAut32);
  bool ok = false;
  if (!ole.RegisterTypeLib)
    SetLastError(ERROR_PROC_NOT_FOUND);
  else
    ok = Succeeded(ole.RegisterTypeLib(library, widePath, nullptr));
  library->Release();
  return ok;
}

bool UnregisterTypeLibrary(const char* path) {
  wchar_t widePath[kMaxWidePath + 1];
  ITypeLib* library = LoadTypeLibrary(path, widePath);
  if (!library) return false;
  const SystemFunctions& ole = SystemApi(kLibOleAut32);
  bool ok = false;
  TLIBATTR* attributes = nullptr;
  if (!ole.UnRegisterTypeLib) {
    SetLastError(ERROR_PROC_NOT_FOUND);
  } else if (Succeeded(library->GetLibAttr(&attributes))) {
    ok = Succeeded(ole.UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                         attributes->lcid, attributes->syskind));
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  return ok;
}
