// SPDX-License-Identifier: MIT
#pragma once
// The panel's logic: the spread of the next corruption, the history of the
// run's chains with Apply again, Save copy as and Copy recipe, the kept
// settings, the program run after a corruption, and quiet results.

#include "dialog/dialog_view.h"
#include "dialog/panel_view.h"

namespace glitchwerk {

class CGlitchwerkDlg;

class CPanel {
  public:
    CPanel(CGlitchwerkDlg& dialog, DialogView& dialogView);

    void Attach(PanelView& view) { m_view = &view; }
    bool IsOpen() const { return m_view && m_view->IsOpen(); }
    void OnCommand(int id);
    void Show();

  private:
    CGlitchwerkDlg& m_dialog;
    DialogView& m_dialogView;
    PanelView* m_view = nullptr;
};

} // namespace glitchwerk
