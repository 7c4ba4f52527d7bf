// Control and dialog identifiers shared by the resource script and the code.
#pragma once

#define IDC_LANGUAGE_LIST 1017
#define IDC_DIALOG_OK 1001
#define IDC_DIALOG_CANCEL 1003
