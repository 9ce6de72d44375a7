// SPDX-License-Identifier: MIT
#pragma once
// The one description of the dialog's layout that every face builds its
// window from: each control's identifier, kind, caption and place in dialog
// units, in tab order, and the names assistive technology gives the controls
// whose caption is elsewhere.

#include "dialog/resource.h"

#include <cstddef>
#include <utility>

namespace glitchwerk {

enum class ControlKind { Edit, Radio, Button, DefaultButton, Text, RightText, Frame };

// One control of the form. Places are in dialog units: a quarter of the
// average character width across, an eighth of the character height down.
struct ControlTemplate {
    int id;
    const char* name; // the identifier's name, "IDC_RANGE_START"
    ControlKind kind;
    const char* caption;
    int x, y, width, height;
};

inline constexpr char kDialogCaption[] = "Glitchwerk";
inline constexpr int kDialogWidth = 222;
inline constexpr int kDialogHeight = 173;

// An identifier and its name.
#define GLITCHWERK_ID(identifier) identifier, #identifier

// The form, in tab order.
inline constexpr ControlTemplate kControls[] = {
    {GLITCHWERK_ID(IDC_RANGE_START), ControlKind::Edit, "", 11, 63, 40, 12},
    {GLITCHWERK_ID(IDC_RANGE_END), ControlKind::Edit, "", 63, 63, 40, 12},
    {GLITCHWERK_ID(IDC_SEARCH_SPECIFIC), ControlKind::Radio, "Specific Byte:", 12, 94, 66, 8},
    {GLITCHWERK_ID(IDC_SEARCH_RANGE), ControlKind::Radio, "Range of Bytes:", 12, 108, 76, 8},
    {GLITCHWERK_ID(IDC_SEARCH_ALL), ControlKind::Radio, "All Bytes", 12, 135, 52, 8},
    {GLITCHWERK_ID(IDC_REPLACE_SPECIFIC), ControlKind::Radio, "Specific Byte:", 119, 94, 68, 8},
    {GLITCHWERK_ID(IDC_REPLACE_INCREASE), ControlKind::Radio, "Increase by:", 119, 108, 58, 8},
    {GLITCHWERK_ID(IDC_REPLACE_DECREASE), ControlKind::Radio, "Decrease by:", 119, 117, 58, 8},
    {GLITCHWERK_ID(IDC_REPLACE_RANDOM), ControlKind::Radio, "Random Byte", 119, 135, 58, 8},
    {GLITCHWERK_ID(IDC_SEARCH_VALUE), ControlKind::Edit, "", 80, 92, 19, 12},
    {GLITCHWERK_ID(IDC_SEARCH_LOW), ControlKind::Edit, "", 21, 119, 19, 12},
    {GLITCHWERK_ID(IDC_SEARCH_HIGH), ControlKind::Edit, "", 52, 119, 19, 12},
    {GLITCHWERK_ID(IDC_REPLACE_VALUE), ControlKind::Edit, "", 189, 92, 19, 12},
    {GLITCHWERK_ID(IDC_STEP_VALUE), ControlKind::Edit, "", 180, 111, 19, 12},
    {GLITCHWERK_ID(IDC_RECORRUPT), ControlKind::DefaultButton, "Re-Corrupt", 7, 152, 51, 14},
    {GLITCHWERK_ID(IDC_CORRUPT), ControlKind::Button, "Corrupt", 59, 152, 51, 14},
    {GLITCHWERK_ID(IDC_RESTORE), ControlKind::Button, "Restore", 112, 152, 51, 14},
    {GLITCHWERK_ID(IDCANCEL), ControlKind::Button, "Exit", 164, 152, 51, 14},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Text, "Editing file:", 7, 7, 53, 8},
    {GLITCHWERK_ID(IDC_FILE_PATH), ControlKind::Text, "", 7, 18, 208, 24},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Text, "File Size:", 7, 44, 41, 8},
    {GLITCHWERK_ID(IDC_FILE_SIZE), ControlKind::Text, "", 49, 44, 59, 8},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Frame, "Range of Corruption:", 7, 54, 101, 27},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Text, "to", 53, 66, 9, 8},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Frame, "Search For:", 7, 84, 101, 63},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Text, "to", 42, 122, 9, 8},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Frame, "Replace With:", 114, 84, 101, 63},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::Frame, "Results:", 114, 43, 101, 39},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::RightText, "Last byte:", 117, 69, 48, 8},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::RightText, "First byte:", 117, 60, 48, 8},
    {GLITCHWERK_ID(IDC_STATIC), ControlKind::RightText, "Total bytes:", 117, 51, 48, 8},
    {GLITCHWERK_ID(IDC_TOTAL_BYTES), ControlKind::Text, "", 166, 51, 46, 8},
    {GLITCHWERK_ID(IDC_FIRST_BYTE), ControlKind::Text, "", 166, 60, 46, 8},
    {GLITCHWERK_ID(IDC_LAST_BYTE), ControlKind::Text, "", 166, 69, 46, 8},
};

#undef GLITCHWERK_ID

// What assistive technology calls the controls whose caption is elsewhere.
// A face that shows a value in a text adds it to the name ("Total bytes: 12").
inline constexpr std::pair<int, const char*> kAccessibleNames[] = {
    {IDC_RANGE_START, "Range of Corruption: start"},
    {IDC_RANGE_END, "Range of Corruption: end"},
    {IDC_SEARCH_VALUE, "Search For: Specific Byte"},
    {IDC_SEARCH_LOW, "Search For: Range of Bytes, from"},
    {IDC_SEARCH_HIGH, "Search For: Range of Bytes, to"},
    {IDC_REPLACE_VALUE, "Replace With: Specific Byte"},
    {IDC_STEP_VALUE, "Replace With: Increase or Decrease by"},
    {IDC_FILE_PATH, "Editing file"},
    {IDC_FILE_SIZE, "File Size"},
    {IDC_TOTAL_BYTES, "Total bytes"},
    {IDC_FIRST_BYTE, "First byte"},
    {IDC_LAST_BYTE, "Last byte"},
};

// The file dialog's two filters: NES ROM images first, then every file.
inline constexpr const char* kFileFilters[][2] = {
    {"NES ROM files (*.nes)", "*.nes"},
    {"All Files (*.*)", "*.*"},
};

} // namespace glitchwerk
