// Processes and the command interpreter (Windows only).
#pragma once
#include "core/string.h"

#if defined(_WIN32)
// The command processor for batches, worked out on the first call and reused:
// "%comspec%" expanded from the environment, else the Windows directory
// joined with "command.com"; enclosed in double quotes when it contains white
// space.
const String& CommandInterpreter();
#endif
