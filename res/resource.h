// Identifiers of the program's resources, shared by the .rc file and the code.
#pragma once

// Dialog templates
#define IDD_MORVANE_DIALOG 102
#define IDD_PASSWORD 132

// Icons: the application's and the notification area's (and its warning
// form, while the ceiling is not held), each in the sizes display scaling
// asks for (see make-icons.py)
#define IDI_MAIN 128
#define IDI_TRAY 129
#define IDI_TRAY_WARNING 130

// Controls of the main dialog
#define IDC_CHECK_LOCK 1011
#define IDC_SLIDER 1012
#define IDC_BUTTON_PASSWORD 1013
#define IDC_STATIC_VALUE 1014

// Controls of the password dialog (the label shares its number with the
// main dialog's value display; each lives in its own template)
#define IDC_STATIC_LABEL 1014
#define IDC_EDIT_PASSWORD 1015
