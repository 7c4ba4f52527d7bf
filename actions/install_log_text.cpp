#include "actions/install_log_text.h"

#include "archive/format.h"
#include "core/format.h"

void BuildInstallLogBlock(String& out, const InstallLogBlock& b) {
  out.Clear();
  AppendFormat(out, "\r\nInstallation log for: %s\r\n", b.productName.CStr());
  AppendFormat(out, "Install date: %s\r\n", b.date.CStr());
  if (b.withInstallType) AppendFormat(out, "Install type: %s\r\n", b.reinstall ? "Reinstall" : "New");
  AppendFormat(out, "Install location: %s\r\n", b.installDir.CStr());
  AppendFormat(out, "Installer version: %.1f\r\n", kArchiveFormatVersionValue);
  if (!b.productVersion.IsBlank()) AppendFormat(out, "Product version: %s\r\n", b.productVersion.CStr());
  out.Append("\r\n");
  if (!b.logText.IsBlank()) {
    out.Append(b.logText);
    out.Append("\r\n");
  }
  out.Append(b.errorText);
}
