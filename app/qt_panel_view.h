// SPDX-License-Identifier: MIT
#pragma once
// The panel in Qt: a tool window of its own beside the dialog, built from the
// panel's control table, with the clipboard, a save-file dialog and the data
// folder that the panel's logic asks for.

#include "dialog/panel_view.h"

#include <QWidget>

#include <array>
#include <cstddef>

class QListWidget;

namespace glitchwerk {

class CGlitchwerkDlg;

class QtPanelView : public QWidget, public PanelView {
  public:
    QtPanelView(CGlitchwerkDlg& logic, QWidget* dialog);

    // Opens the panel beside the dialog, or raises it.
    void Open();

    bool IsOpen() const override;
    std::string FieldText(int id) const override;
    void SetFieldText(int id, const std::string& text) override;
    void ShowText(int id, const std::string& text) override;
    bool IsChecked(int id) const override;
    void SetChecked(int id, bool checked) override;
    void SetEnabled(int id, bool enabled) override;
    void ShowHistory(const std::vector<std::string>& rows, int selected) override;
    int SelectedRow() const override;
    void SetClipboardText(const std::string& text) override;
    std::optional<std::filesystem::path> AskForSaveName(const std::filesystem::path& suggested,
                                                        bool& replace) override;
    std::filesystem::path DataFolder() const override;

  private:
    template <typename T> T* Control(int id) const;

    static constexpr std::size_t kControlCount = std::size(kPanelControls);
    std::array<QWidget*, kControlCount> m_controls{};
    CGlitchwerkDlg& m_logic;
    QWidget* m_dialog;
};

} // namespace glitchwerk
