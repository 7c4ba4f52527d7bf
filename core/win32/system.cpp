#include "core/win32/system.h"

#include "core/cformat.h"

uint32_t OsClassOf(const OsVersion& v) {
  switch (v.platform) {
    case kPlatformWin32s:
      return kOsWin32s;
    case kPlatformWindows:
      if (v.major != 4) return kOsOther;
      if (v.minor < 10) return kOsWin95;
      return v.minor < 90 ? kOsWin98 : kOsWinMe;
    case kPlatformNt:
      if (v.major <= 3) return kOsNt3;
      if (v.major == 4) return kOsNt4;
      if (v.major == 5) return v.minor == 0 ? kOsWin2000 : v.minor == 1 ? kOsWinXp : v.minor == 2 ? kOsWin2003 : kOsOther;
      return v.major == 6 ? kOsVista : kOsOther;
    default:
      return kOsOther;
  }
}

void OsNameOf(String& out, const OsVersion& v, bool withoutServicePack) {
  char number[32];
  BoundedFormat(number, sizeof number, "%lu.%lu", (unsigned long)v.major, (unsigned long)v.minor);
  out = "Windows ";
  if (v.platform == kPlatformWin32s) {
    out.Append(number);
  } else if (v.platform == kPlatformWindows) {
    if (v.major == 4) {
      out.Append(v.minor <= 9 ? "95" : v.minor < 90 ? "98" : "ME");
    } else {
      out.Append("9x ");
      out.Append(number);
    }
  } else if (v.major == 5 && v.minor <= 2) {
    out.Append(v.minor == 0 ? "2000" : v.minor == 1 ? "XP" : "2003");
  } else if (v.major == 6) {
    out.Append("Vista");
  } else {
    out.Append("NT ");
    out.Append(number);
  }
  const char* servicePack = v.servicePack ? v.servicePack : "";
  if (!withoutServicePack && *servicePack) {
    if (*servicePack != ' ') out.AppendChar(' ');
    out.Append(servicePack);
  }
  out.TrimRight();
}

uint32_t ExitWindowsFlags(int32_t mode, bool force) {
  // EWX_LOGOFF 0, EWX_SHUTDOWN 1, EWX_REBOOT 2, EWX_FORCE 4, EWX_POWEROFF 8,
  // EWX_FORCEIFHUNG 16.
  uint32_t action = mode == kExitPowerOff ? 8u : mode == kExitRestart ? 2u : mode == kExitLogOff ? 0u : 1u;
  return action | (force ? 4u : 16u);
}

const char* FontsKeyPathFor(bool ntPlatform) {
  return ntPlatform ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
                    : "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
}
