// SPDX-License-Identifier: MIT
#pragma once
// The dialog's template, built in memory from the control table, for
// DialogBoxIndirectParamW.

#include <windows.h>

#include <string>
#include <vector>

namespace glitchwerk {

// A DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records, in `points` of `font`.
std::vector<WORD> BuildDialogTemplate(const std::wstring& font, WORD points);

// Consolas where it is installed, else Courier New: both scalable, so that
// the dialog grows with the monitor's DPI.
std::wstring DialogFontName();

} // namespace glitchwerk
