// The process-wide quitting flag and the library's short message pump.
//
// The installer sets the quitting flag when it is closing; long waits of the
// library (RunProcess while keeping the user interface alive) then stop
// dispatching messages.
#pragma once
#include <stdint.h>

void SetQuitting(bool quitting);
bool IsQuitting();

#if defined(_WIN32)
// Dispatches at most 100 pending messages of the calling thread, stopping
// early when the queue is empty or the quitting flag is set. Returns the
// number dispatched.
int32_t PumpSomeMessages();
#endif
