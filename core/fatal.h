// The fatal path as the core library sees it.
//
// FatalMessage is supplied by the program: the runtime shows the task-modal
// "FATAL ERROR" box and ends the process with exit code 1; host programs and
// tests print the text to stderr and exit with code 1. None of these return.
#pragma once

[[noreturn]] void FatalMessage(const char* text);

// Formats with the printf rules (texts above 1 MB are cut) and
// calls FatalMessage.
[[noreturn]] void FatalError(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// "Internal Fatal Error\r\nModule: %s\r\nLine: %d": an internal consistency
// check of the core library failed (an index out of range, a pop of an empty
// stack). module is the library's module name, "vk_core".
[[noreturn]] void InternalFatalError(const char* module, int line);
