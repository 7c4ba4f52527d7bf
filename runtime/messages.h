// The message table and the ways the runtime talks to the user about
// problems, the message pump, the stage pause and the one exit path.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "archive/format.h"
#include "core/containers.h"
#include "core/fatal.h"
#include "core/string.h"

// Takes over the table: rows x languages texts in row-major order (row r,
// language l at r * languages + l). Replaces any previous table.
void SetMessageTable(int32_t languages, Array<String>& texts);
void SetCurrentLanguage(int32_t language);
int32_t CurrentLanguage();

// Message n in the current language with "<product>" and "<os>" filled in
// (ignoring case), never null; "" for a missing row or language. The stored
// entry itself is filled in on first lookup.
const char* MessageText(int32_t n);

void ShowErrorBox(const char* text);  // nothing for a blank text
// printf-formatted ShowErrorBox; silent in automatic mode unless flag bit 35.
void ErrorBox(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Appends message 31, ' ', subject, CR LF, the system's text for the calling
// thread's last error, CR LF.
void AppendErrorLine(String& errors, const char* subject);
// Asks message 28 (caption message 20); Yes ends the process, No returns.
void ConfirmCancel();

[[noreturn]] void EndProcess();
HWND MessageOwner();
// Handles every pending message through the one pump (the current modeless
// dialog's keys through the dialog manager), stopping after a WM_DESTROY,
// WM_CLOSE or WM_QUIT; true when it stopped so.
bool PumpMessages();
void MarkTime();
void PauseSinceMark(uint32_t ms);
