// SPDX-License-Identifier: MIT
#pragma once
// The Windows face: the dialog from the control table's template, run
// modally, showing what the dialog's logic asks through the W calls.

#include "dialog/dialog_view.h"
#include "dialog/glitchwerk_dlg.h"
#include "win32/win32_panel.h"

#include <windows.h>

#include <memory>

namespace glitchwerk {

class Win32Dialog final : public DialogView {
  public:
    Win32Dialog();
    ~Win32Dialog() override;
    Win32Dialog(const Win32Dialog&) = delete;
    Win32Dialog& operator=(const Win32Dialog&) = delete;

    CGlitchwerkDlg& Logic() { return m_logic; }
    // Runs the dialog until the logic ends it. The panel opens beside it once
    // it is up, and again with F2, "Show panel" on the dialog's background or
    // in its system menu.
    void DoModal();

    std::string FieldText(int id) const override;
    void SetFieldText(int id, const std::string& text) override;
    void ShowText(int id, const std::string& text) override;
    bool IsChecked(int id) const override;
    void SetChecked(int id, bool checked) override;
    void SetEnabled(int id, bool enabled) override;
    std::optional<std::filesystem::path> AskForFile() override;
    Answer ShowMessage(const std::string& text, MessageButtons buttons) override;
    void RunWithProgress(const std::string& title,
                         const std::function<void(const Progress&)>& work) override;
    void EndDialog() override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Messages of the dialog's modal loop, before the dialog sees them: F2,
    // and the panel's keys (Tab, Esc), which that loop knows nothing of.
    static LRESULT CALLBACK FilterProc(int code, WPARAM wParam, LPARAM lParam);
    bool Filter(MSG& message);
    bool IsOurs(HWND window) const;
    // The window that boxes are modal over: the dialog once it is on screen.
    HWND Owner() const;

    CGlitchwerkDlg m_logic;
    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    bool m_busy = false;
    std::unique_ptr<Win32Panel> m_panel;
    HHOOK m_filter = nullptr;
};

} // namespace glitchwerk
