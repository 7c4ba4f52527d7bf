// The system's own description of an error code (Windows only).
#pragma once
#include <stdint.h>

#include "core/string.h"

#if defined(_WIN32)
// The system's message text for a last-error code, without its trailing line
// break; "Error <code>" when the system has no text for it.
String SystemErrorText(uint32_t code);

// SystemErrorText of the calling thread's last error; "" when it is 0 (the
// failed call did not say why). Read it right after the call that failed.
String LastErrorText();
#endif
