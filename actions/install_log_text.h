// The block one installation appends to "Install.LOG". Portable: the block's
// bytes are tested anywhere.
#pragma once
#include "core/string.h"

constexpr char kInstallLogFileName[] = "Install.LOG";
constexpr char kInstallLogDatePattern[] = "d-M-yy h:ii:ssap";

struct InstallLogBlock {
  String productName;
  String date;            // already formatted with kInstallLogDatePattern
  bool withInstallType;   // the installation made an uninstaller
  bool reinstall;
  String installDir;
  String productVersion;  // no line when blank
  String logText;         // no part when blank
  String errorText;       // the last part as it is
};

// "\r\nInstallation log for: ...", the date, the install type, the location,
// "Installer version: 17.2", the product version, a blank line, the log text
// with a line break after it, then the error text.
void BuildInstallLogBlock(String& out, const InstallLogBlock& block);
