#include <windows.h>

#include "core/win32/message_pump.h"

namespace {
constexpr int32_t kMaxPumpedMessages = 100;
}

int32_t PumpSomeMessages() {
  int32_t dispatched = 0;
  MSG msg;
  while (dispatched < kMaxPumpedMessages && !IsQuitting() && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++dispatched;
  }
  return dispatched;
}
