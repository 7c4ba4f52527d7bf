#include "runtime/run_texts.h"

namespace {
String g_errorText;
String g_installLogText;
RunDirectories g_directories;
}  // namespace

String& ErrorText() { return g_errorText; }
String& InstallLogText() { return g_installLogText; }
RunDirectories& Directories() { return g_directories; }
