#include "actions/install_log.h"

#include <windows.h>

#include "actions/install_log_text.h"
#include "archive/format.h"
#include "core/datetime.h"
#include "core/path.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/process.h"
#include "runtime/message_format.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"

namespace {

void OpenLog(const String& path) {
  if (OpenDocument(path.CStr(), nullptr, InstallerDir().CStr(), nullptr)) return;
  String commandLine("notepad.exe ");
  commandLine.Append(path);
  RunProcess(commandLine.CStr(), 0, nullptr);
}

}  // namespace

String InstallLogPath() { return JoinPath(UninstallDirectory().CStr(), kInstallLogFileName); }

void FinishInstallLog(bool reinstall, bool showFinalMessage, String& errorText) {
  const String path = InstallLogPath();
  const bool hadErrors = !errorText.IsEmpty();
  bool openLog = false;
  if (showFinalMessage) {
    if (!hadErrors) {
      if (!g_options.automaticMode && !ProductFlag(kFlagNoFinalMessage))
        ShowMessageBox(MessageOwner(), MessageText(kMsgFinal), MessageText(kMsgFinalCaption),
                       MB_OK | MB_ICONINFORMATION);
      errorText = MessageText(kMsgFinalCaption);
      errorText.Append("\r\n\r\n");
    } else if (!g_options.automaticMode) {
      String question;
      FormatMessageText(question, kMsgInstallErrors, "s", path.CStr());
      openLog = ShowMessageBox(MessageOwner(), question.CStr(), MessageText(kMsgInstallErrorsCaption),
                               MB_YESNO | MB_ICONINFORMATION) == IDYES;
    }
  }
  if (!ProductFlag(kFlagAlwaysWriteLog) && !hadErrors) return;

  InstallLogBlock b;
  b.productName = g_options.DisplayName;
  DateTime::Now().Format(b.date, kInstallLogDatePattern);
  b.withInstallType = ProductFlag(kFlagUninstaller);
  b.reinstall = reinstall;
  b.installDir = InstallationDirectory();
  b.productVersion = ProductVersion();
  b.logText = InstallLogText();
  b.errorText = errorText;
  String block;
  BuildInstallLogBlock(block, b);
  if (!AppendTextToFile(path.CStr(), block.CStr(), 0)) return;
  if (openLog) OpenLog(path);
}
