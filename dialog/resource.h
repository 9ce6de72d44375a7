// SPDX-License-Identifier: MIT
#pragma once
// Identifiers of the dialog, its icon and its controls, as plain constants so
// that a resource script can use them too. Where the platform defines IDOK and
// IDCANCEL, its values are used (they are the same).

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2 // the Exit button: like Esc and the close box, it ends the run
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1) // texts and frames the program never addresses
#endif

#define IDD_GLITCHWERK_DIALOG 102
#define IDI_MAIN_ICON 128

#define IDC_FILE_PATH 1000
#define IDC_FILE_SIZE 1001
#define IDC_RANGE_START 1002
#define IDC_RANGE_END 1003
#define IDC_SEARCH_SPECIFIC 1005
#define IDC_SEARCH_VALUE 1006
#define IDC_SEARCH_RANGE 1007
#define IDC_SEARCH_LOW 1008
#define IDC_SEARCH_HIGH 1009
#define IDC_SEARCH_ALL 1010
#define IDC_REPLACE_SPECIFIC 1011
#define IDC_REPLACE_INCREASE 1012
#define IDC_REPLACE_DECREASE 1013
#define IDC_REPLACE_RANDOM 1014
#define IDC_REPLACE_VALUE 1015
#define IDC_TOTAL_BYTES 1016
#define IDC_RESTORE 1017
#define IDC_STEP_VALUE 1018
#define IDC_CORRUPT 1019
#define IDC_FIRST_BYTE 1020
#define IDC_LAST_BYTE 1021
#define IDC_RECORRUPT 1022

// The panel: a tool window beside the dialog.
#define IDD_GLITCHWERK_PANEL 103
#define IDC_SPREAD_EVERY 1100
#define IDC_SPREAD_NTH 1101
#define IDC_SPREAD_PICK 1102
#define IDC_SPREAD_N 1103
#define IDC_SPREAD_K 1104
#define IDC_HISTORY 1105
#define IDC_APPLY_AGAIN 1106
#define IDC_SAVE_COPY 1107
#define IDC_COPY_RECIPE 1108
#define IDC_KEEP_HISTORY 1109
#define IDC_QUIET_RESULTS 1110
#define IDC_RUN_AFTER 1111
#define IDC_PANEL_STATUS 1112
#define IDC_PARTS 1113
#define IDC_PREVIEW 1114
#define IDC_TRY_NAME 1115
#define IDC_STAR 1116
#define IDC_USE_FORM 1117
#define IDC_SAVE_TRY 1118
#define IDC_OPEN_RECIPE 1119
#define IDC_PASTE_RECIPE 1120
#define IDC_RULE 1121
#define IDC_RULE_VALUE 1122
#define IDC_PANEL_CORRUPT 1123
#define IDC_PANEL_RECORRUPT 1124
#define IDC_MEND 1125
#define IDC_PLAY_AFTER 1126
#define IDC_CORE 1127
#define IDC_PLAY_VIEW 1128
#define IDC_PLAY_KEYS 1129
#define IDC_PARTS_KEEP 1130 // a part's Keep box ticked or cleared, as a command
// "Show panel" in the dialog's system menu (a multiple of 16, below 0xF000).
#define IDM_SHOW_PANEL 0x0110
