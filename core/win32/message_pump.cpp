#include "core/win32/message_pump.h"

namespace {
bool g_quitting = false;
}

void SetQuitting(bool quitting) { g_quitting = quitting; }
bool IsQuitting() { return g_quitting; }
