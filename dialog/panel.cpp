// SPDX-License-Identifier: MIT
#include "dialog/panel.h"

#include "dialog/glitchwerk_dlg.h"

namespace glitchwerk {

CPanel::CPanel(CGlitchwerkDlg& dialog, DialogView& dialogView)
    : m_dialog(dialog), m_dialogView(dialogView) {}

void CPanel::OnCommand(int /*id*/) {}

void CPanel::Show() {}

} // namespace glitchwerk
