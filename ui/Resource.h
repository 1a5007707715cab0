#ifndef FLASH_UI_RESOURCE_H
#define FLASH_UI_RESOURCE_H

/* Resource and control ids of the main window. Read by the resource compiler
   (plain C preprocessor) and by the dialog code; the control ids match
   ControlId in flash/OperatorFeedback.h. */
#define IDD_FLASHUPGRADE 102
#define IDI_APPICON 128

#define IDC_DEVICEBOX 1000
#define IDC_PROGRESSBAR 1001
#define IDC_PATHFIELD 1002
#define IDC_STATUSLINE 1004
#define IDC_SAVEBUTTON 1009
#define IDC_UPGRADEBUTTON 1010
#define IDC_EXITBUTTON 1011
#define IDC_BROWSEBUTTON 1014

#endif
