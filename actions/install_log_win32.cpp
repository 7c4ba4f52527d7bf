#include "actions/install_log.h"

#include <windows.h>

#include "actions/install_log_text.h"
#include "archive/format.h"
#include "core/datetime.h"
#include "core/path.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/process.h"
#include "runtime/current_run.h"
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

String InstallLogPath() { return JoinPath(CurrentRun().directories.uninstall.CStr(), kInstallLogFileName); }

void FinishInstallLog(bool reinstall, bool showFinalMessage, String& errorText) {
  const String path = InstallLogPath();
  const bool hadErrors = !errorText.IsEmpty();
  bool openLog = false;
  if (showFinalMessage) {
    if (!hadErrors) {
      if (!CurrentRun().options.automaticMode && !ProductFlag(CurrentRun(), kFlagNoFinalMessage))
        ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), MessageText(CurrentRun(), kMsgFinal), MessageText(CurrentRun(), kMsgFinalCaption),
                       MB_OK | MB_ICONINFORMATION);
      errorText = MessageText(CurrentRun(), kMsgFinalCaption);
      errorText.Append("\r\n\r\n");
    } else if (!CurrentRun().options.automaticMode) {
      String question;
      FormatMessageText(CurrentRun(), question, kMsgInstallErrors, "s", path.CStr());
      openLog = ShowMessageBox(CurrentRun(), MessageOwner(CurrentRun()), question.CStr(), MessageText(CurrentRun(), kMsgInstallErrorsCaption),
                               MB_YESNO | MB_ICONINFORMATION) == IDYES;
    }
  }
  if (!ProductFlag(CurrentRun(), kFlagAlwaysWriteLog) && !hadErrors) return;

  InstallLogBlock b;
  b.productName = CurrentRun().options.DisplayName;
  DateTime::Now().Format(b.date, kInstallLogDatePattern);
  b.withInstallType = ProductFlag(CurrentRun(), kFlagUninstaller);
  b.reinstall = reinstall;
  b.installDir = CurrentRun().directories.installation;
  b.productVersion = CurrentRun().directories.productVersion;
  b.logText = CurrentRun().texts.installLog;
  b.errorText = errorText;
  String block;
  BuildInstallLogBlock(block, b);
  if (!AppendTextToFile(path.CStr(), block.CStr(), 0)) return;
  if (openLog) OpenLog(path);
}
