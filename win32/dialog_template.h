// SPDX-License-Identifier: MIT
#pragma once
// The dialog's and the panel's templates, built in memory from their control
// tables, for DialogBoxIndirectParamW and CreateDialogIndirectParamW.

#include <windows.h>

#include <string>
#include <vector>

namespace glitchwerk {

// A DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records, in `points` of `font`.
std::vector<WORD> BuildDialogTemplate(const std::wstring& font, WORD points);
// The panel's, from its own control table: a tool window, hidden at first.
std::vector<WORD> BuildPanelTemplate(const std::wstring& font, WORD points);

// Consolas where it is installed, else Courier New: both scalable, so that
// the dialog grows with the monitor's DPI.
std::wstring DialogFontName();

} // namespace glitchwerk
