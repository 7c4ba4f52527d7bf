// The two report texts of an installation run, process-wide for the whole
// run:
//  - the error text: every per-item failure of the installing steps appends
//    one complete message to it; it is shown and logged at the end;
//  - the install log text: report lines ("name -> path", "Deleted file: ...")
//    that become the body of the block appended to the installation log.
// Both start empty and are only ever appended to until the end of the run.
#pragma once
#include "core/string.h"
#include "core/win32/path_variables.h"

String& ErrorText();
String& InstallLogText();

// The run's directories and product version, as the path variables read them.
RunDirectories& Directories();
inline String& InstallationDirectory() { return Directories().installation; }
inline String& SharedDirectory() { return Directories().shared; }
inline String& UninstallDirectory() { return Directories().uninstall; }
inline String& ProductVersion() { return Directories().productVersion; }
