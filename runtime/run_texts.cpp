#include "runtime/run_texts.h"

namespace {
String g_errorText;
String g_installLogText;
}  // namespace

String& ErrorText() { return g_errorText; }
String& InstallLogText() { return g_installLogText; }
