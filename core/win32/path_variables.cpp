#include "core/win32/path_variables.h"

namespace {
String g_installationDirectory;
String g_sharedDirectory;
String g_uninstallDirectory;
String g_productVersion;
}  // namespace

String& InstallationDirectory() { return g_installationDirectory; }
String& SharedDirectory() { return g_sharedDirectory; }
String& UninstallDirectory() { return g_uninstallDirectory; }
String& ProductVersion() { return g_productVersion; }
