// Resource identifiers shared by corvix.rc and the program.
#pragma once

// The program's icon: the first icon resource, so also the file's icon.
#define IDI_CORVIX 1

// The form is the dialog resource named frmMain; its one control that the program addresses:
#define IDC_PROGRESSBAR1 103
