#pragma once
// Resource and control ids of the Windows dialogs, shared by the resource script and the code. Plain
// #defines: the resource compiler reads this file too.

#define VELMORA_IDD_ABOUT 100
#define VELMORA_IDD_UPDATER 103
#define VELMORA_IDI_APP 128

// The string table.
#define VELMORA_IDS_ABOUT_MENU 101
#define VELMORA_IDS_TIME_OUT_1 102
#define VELMORA_IDS_TIME_OUT_2 103
#define VELMORA_IDS_TIME_OUT_3 104
#define VELMORA_IDS_ILLEGAL_DEVICE 105
#define VELMORA_IDS_SET_UPDATE_MODE 106
#define VELMORA_IDS_TRANSFER_ERROR 107
#define VELMORA_IDS_COMPLETED 108
#define VELMORA_IDS_IN_PROGRESS 109
#define VELMORA_IDS_CANT_OPEN_IN 110
#define VELMORA_IDS_ERROR_CAPTION 111
#define VELMORA_IDS_CANT_OPEN_OUT 113
#define VELMORA_IDS_ERASING 114
#define VELMORA_IDS_DATA_TRANSMIT 115

// Controls. Execute and Exit are the dialog's own OK (1) and Cancel (2) commands.
#define VELMORA_IDC_EXECUTE 1
#define VELMORA_IDC_EXIT 2
#define VELMORA_IDC_MIDI_IN 1000
#define VELMORA_IDC_MIDI_OUT 1001
#define VELMORA_IDC_PROGRESS 1002
#define VELMORA_IDC_STATUS 1003
#define VELMORA_IDC_RESCAN 1004
#define VELMORA_IDC_STEP 1006
#define VELMORA_IDC_MIDI_IN_LABEL 1007
#define VELMORA_IDC_MIDI_OUT_LABEL 1008
// The About box's read-only title field and its OK button.
#define VELMORA_IDC_ABOUT_TITLE 1003
#define VELMORA_IDC_ABOUT_OK 1
#define VELMORA_IDC_ABOUT_LINE 1004
#define VELMORA_IDC_ABOUT_VERSION 1005

// Labels and the About box's icon: controls the code never addresses.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The window-menu command of the About box; the system keeps the lowest four bits of a command for itself.
#define VELMORA_IDM_ABOUT 0x0010
