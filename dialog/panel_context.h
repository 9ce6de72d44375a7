// SPDX-License-Identifier: MIT
#pragma once
// What each of the panel's features works with: the run, the dialog (its
// form and commands), the dialog's view (message boxes, progress) and the
// panel's own view.

#include "dialog/dialog_view.h"
#include "dialog/panel_view.h"
#include "dialog/run.h"

#include <optional>
#include <string>

namespace glitchwerk {

class CGlitchwerkDlg;

struct PanelContext {
    CGlitchwerkDlg& dialog;
    CRun& run;
    DialogView& dialogView;
    PanelView* view = nullptr;

    bool IsOpen() const { return view && view->IsOpen(); }
    // One line in the panel's status, until the next command.
    void Status(const std::string& text) const {
        if (view)
            view->ShowText(IDC_PANEL_STATUS, text);
    }
    void Message(const std::string& text) const {
        dialogView.ShowMessage(text, MessageButtons::Ok);
    }
    // The outcome of a command: in the status line when results are quiet,
    // else in a box.
    void Tell(const std::string& text) const {
        if (IsOpen() && view->IsChecked(IDC_QUIET_RESULTS))
            Status(text);
        else
            Message(text);
    }
    bool Ask(const std::string& question) const {
        return dialogView.ShowMessage(question, MessageButtons::YesNo) == Answer::Yes;
    }
    // Long work beside the window, with the progress view titled `title`.
    WorkRunner Runner(const char* title) const {
        return [this, title](const std::function<void(const Progress&)>& work) {
            dialogView.RunWithProgress(title, work);
        };
    }
    // The try of the selected history row, if any.
    std::optional<std::size_t> SelectedTry() const {
        const int row = view ? view->SelectedRow() : -1;
        if (row < 0 || static_cast<std::size_t>(row) >= run.Tries().size())
            return std::nullopt;
        return static_cast<std::size_t>(row);
    }
};

} // namespace glitchwerk
