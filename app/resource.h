// SPDX-License-Identifier: MIT
#pragma once
// Identifiers of the dialog, its icon and its controls. Each control's
// objectName is the name of its identifier ("IDC_RANGE_START").

namespace glitchwerk {

enum : int {
    IDC_STATIC = -1, // texts and frames the program never addresses
    IDCANCEL = 2,    // the Exit button: like Esc and the close box, it ends the run

    IDD_GLITCHWERK_DIALOG = 102,
    IDI_MAIN_ICON = 128,

    IDC_FILE_PATH = 1000,
    IDC_FILE_SIZE = 1001,
    IDC_RANGE_START = 1002,
    IDC_RANGE_END = 1003,
    IDC_SEARCH_SPECIFIC = 1005,
    IDC_SEARCH_VALUE = 1006,
    IDC_SEARCH_RANGE = 1007,
    IDC_SEARCH_LOW = 1008,
    IDC_SEARCH_HIGH = 1009,
    IDC_SEARCH_ALL = 1010,
    IDC_REPLACE_SPECIFIC = 1011,
    IDC_REPLACE_INCREASE = 1012,
    IDC_REPLACE_DECREASE = 1013,
    IDC_REPLACE_RANDOM = 1014,
    IDC_REPLACE_VALUE = 1015,
    IDC_TOTAL_BYTES = 1016,
    IDC_RESTORE = 1017,
    IDC_STEP_VALUE = 1018,
    IDC_CORRUPT = 1019,
    IDC_FIRST_BYTE = 1020,
    IDC_LAST_BYTE = 1021,
    IDC_RECORRUPT = 1022,
};

} // namespace glitchwerk
