// Control and dialog identifiers shared by the resource script and the code.
#pragma once

#define IDC_LANGUAGE_LIST 1017
#define IDC_DIALOG_OK 1001
#define IDC_DIALOG_CANCEL 1003
#define IDC_PROGRESS_PLACEHOLDER 1007
#define IDC_DIALOG_HEADING 1009
#define IDC_STATUS_LINE 1011
#define IDC_PAGE_TEXT 1005
#define IDC_DIALOG_LABEL 1009
#define IDC_BROWSE 1013
#define IDC_DIRECTORY 1015
#define IDC_PASSWORD 1019
