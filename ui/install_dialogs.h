// The installation's modal dialogs after the language choice: the licence
// and readme pages, the installation directory and the password. Each is
// owned by the background window (none when there is none), centred on the
// screen, and labelled from the message table in the current language.
#pragma once
#include "core/string.h"

struct Run;

constexpr int kPageAccepted = 1001;  // OK / accept
constexpr int kPageDeclined = 1003;  // Cancel / decline

// "LicenseDlg" showing text: 1001 (accepted) or 1003.
int LicensePage(Run& run, const String& text);
// "ReadmeDlg" showing text: 1001 (OK) or 1003.
int ReadmePage(Run& run, const String& text);

// "ChooseDirDlg": the edit starts with the run's install directory (at most
// 259 characters); OK makes the edit's text the install directory and
// returns true; Cancel returns false. The browse button picks a folder under My
// Computer.
bool ChooseDirectoryDialog(Run& run);

// "EnterPassword": OK is enabled exactly while the typed text equals
// password byte for byte (letter case counts). True for OK, false for
// Cancel.
bool PasswordDialog(Run& run, const String& password);
