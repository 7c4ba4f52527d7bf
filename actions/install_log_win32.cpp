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

namespace {

void OpenLog(const String& path) {
  if (OpenDocument(path.CStr(), nullptr, InstallerDir().CStr(), nullptr)) return;
  String commandLine("notepad.exe ");
  commandLine.Append(path);
  RunProcess(commandLine.CStr(), 0, nullptr);
}

}  // namespace

String InstallLogPath(const RunDirectories& directories) {
  return JoinPath(directories.uninstall.CStr(), kInstallLogFileName);
}

void FinishInstallLog(Run& run, bool reinstall, bool showFinalMessage, String& errorText) {
  const String path = InstallLogPath(run.directories);
  const bool hadErrors = !errorText.IsEmpty();
  bool openLog = false;
  if (showFinalMessage) {
    if (!hadErrors) {
      if (!run.options.automaticMode && !ProductFlag(run, kFlagNoFinalMessage))
        ShowMessageBox(run, MessageOwner(run), MessageText(run, kMsgFinal), MessageText(run, kMsgFinalCaption),
                       MB_OK | MB_ICONINFORMATION);
      errorText = MessageText(run, kMsgFinalCaption);
      errorText.Append("\r\n\r\n");
    } else if (!run.options.automaticMode) {
      String question;
      FormatMessageText(run, question, kMsgInstallErrors, "s", path.CStr());
      openLog = ShowMessageBox(run, MessageOwner(run), question.CStr(), MessageText(run, kMsgInstallErrorsCaption),
                               MB_YESNO | MB_ICONINFORMATION) == IDYES;
    }
  }
  if (!ProductFlag(run, kFlagAlwaysWriteLog) && !hadErrors) return;

  InstallLogBlock b;
  b.productName = run.options.DisplayName;
  DateTime::Now().Format(b.date, kInstallLogDatePattern);
  b.withInstallType = ProductFlag(run, kFlagUninstaller);
  b.reinstall = reinstall;
  b.installDir = run.directories.installation;
  b.productVersion = run.directories.productVersion;
  b.logText = run.texts.installLog;
  b.errorText = errorText;
  String block;
  BuildInstallLogBlock(block, b);
  if (!AppendTextToFile(path.CStr(), block.CStr(), 0)) return;
  if (openLog) OpenLog(path);
}
