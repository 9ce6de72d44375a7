// SPDX-License-Identifier: MIT
#pragma once
// The program's one window in Qt: the controls of the control table, the file
// dialog, message boxes and progress view that the dialog's logic asks for.

#include "app/qt_panel_view.h"
#include "dialog/dialog_view.h"
#include "dialog/glitchwerk_dlg.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <array>
#include <cstddef>
#include <memory>

namespace glitchwerk {

class QtDialogView : public QDialog, public DialogView {
  public:
    explicit QtDialogView(QWidget* parent = nullptr);

    CGlitchwerkDlg& Logic() { return m_logic; }
    // The panel beside the dialog; opened once the window is up, again with F2
    // or "Show panel" on the dialog's background.
    QtPanelView& Panel() { return *m_panel; }

    // Start-up; once it succeeded, tells about a leftover as soon as the
    // window is up. False when the run ended before the window appears.
    bool Start();
    // Starts the run and, when a file was backed up, shows the window until
    // the user exits. Returns QDialog::Rejected.
    int DoModal();
    // Esc and the close box: the exit prompt.
    void reject() override;

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
    // The control with identifier `id` (from resource.h), of kind T.
    template <typename T> T* Control(int id) const;
    void BuildControls();

    static constexpr std::size_t kControlCount = 34;
    std::array<QWidget*, kControlCount> m_controls{}; // in the order of the control table
    QIcon m_hIcon;
    QTimer m_rangeTyped; // restarted by each key in a range field
    CGlitchwerkDlg m_logic{*this};
    std::unique_ptr<QtPanelView> m_panel; // a window of its own, no child of the dialog
};

} // namespace glitchwerk
