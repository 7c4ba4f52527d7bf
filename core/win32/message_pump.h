// The process-wide quitting flag and the one message pump of the program.
//
// The installer sets the quitting flag when it is closing; long waits of the
// library (RunProcess while keeping the user interface alive) then stop
// dispatching messages. The pump hands the keys of the current modeless
// dialog (Tab, Enter, Escape, arrows) to the dialog manager, so a modeless
// dialog behaves like a modal one.
#pragma once
#include <stdint.h>

void SetQuitting(bool quitting);
bool IsQuitting();

#if defined(_WIN32)
// The modeless dialog whose messages go through IsDialogMessage (a HWND; null
// for none). A handle that is no longer a window is ignored.
void SetPumpDialog(void* dialog);

enum PumpStop : uint32_t {
  kPumpStopAtClose = 0x1,        // after a WM_DESTROY, WM_CLOSE or WM_QUIT went through
  kPumpStopWhenQuitting = 0x2,   // before each message, when the quitting flag is set
};
constexpr int32_t kPumpNoLimit = 0x7FFFFFFF;

struct PumpResult {
  int32_t handled = 0;    // messages removed from the queue and handled
  bool sawClose = false;  // a WM_DESTROY, WM_CLOSE or WM_QUIT was among them
};

// Removes and handles pending messages of the calling thread (the pump
// dialog's through IsDialogMessage, the others translated and dispatched)
// until the queue is empty, limit messages were handled, or a stop of stops
// applies. Never waits for a message.
PumpResult PumpPending(int32_t limit, uint32_t stops);

// The library's short pump: at most 100 messages, stopping when the quitting
// flag is set. Returns the number handled.
int32_t PumpSomeMessages();
#endif
