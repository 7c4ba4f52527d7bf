#include <windows.h>

#include "core/byte_order.h"
#include "core/cformat.h"
#include "core/win32/dynamic_library.h"
#include "core/win32/version_info.h"

bool ReadVersionInfo(const char* path, String& block) {
  block.Clear();
  const SystemFunctions& version = SystemApi(kLibVersion);
  if (!version.GetFileVersionInfoSizeA || !version.GetFileVersionInfoA || !version.VerQueryValueA) return false;
  DWORD handle = 0;
  DWORD size = path ? version.GetFileVersionInfoSizeA(path, &handle) : 0;
  if (size == 0 || size > (DWORD)kMaxStringBlock - 1) return false;
  if (!block.TrySetLength((int32_t)size)) return false;
  if (!version.GetFileVersionInfoA(path, 0, size, block.Buffer())) {
    block.Clear();
    return false;
  }
  return true;
}

bool QueryVersionValue(String& block, const char* subBlock, String& out) {
  out.Clear();
  const auto verQueryValue = SystemApi(kLibVersion).VerQueryValueA;
  if (block.IsEmpty() || !subBlock || !verQueryValue) return false;
  void* value = nullptr;
  UINT length = 0;
  if (!verQueryValue(block.Buffer(), subBlock, &value, &length) || !value) return false;
  // The value lies inside the block; never copy past the block's end.
  const char* begin = static_cast<const char*>(value);
  const char* blockEnd = block.Buffer() + block.Length();
  if (begin < block.Buffer() || begin > blockEnd) return false;
  if (length > (UINT)(blockEnd - begin)) length = (UINT)(blockEnd - begin);
  out.Assign(begin, (int32_t)length);
  return true;
}

String VersionTranslation(String& block) {
  WORD language = 0x0409, codePage = 0x04E4;
  String pair;
  if (QueryVersionValue(block, "\\VarFileInfo\\Translation", pair) && pair.Length() >= 4) {
    language = (WORD)LoadLe16(pair.CStr());
    codePage = (WORD)LoadLe16(pair.CStr() + 2);
  }
  char text[16];
  BoundedFormat(text, sizeof text, "%04X%04X", (unsigned)language, (unsigned)codePage);
  return String(text);
}

void FileVersionText(String& out, const char* path, bool padded) {
  out.Clear();
  String block;
  if (!ReadVersionInfo(path, block)) return;
  String subBlock("\\StringFileInfo\\");
  subBlock.Append(VersionTranslation(block));
  subBlock.Append("\\FileVersion");
  if (!QueryVersionValue(block, subBlock.CStr(), out)) return;
  CleanVersionText(out);
  if (padded) PadVersionText(out);
}
