// SPDX-License-Identifier: MIT
#pragma once
// The program's one dialog, apart from any toolkit: the start of a run (file
// choice and backup), the two rule selectors, the commands Corrupt, Restore
// and Re-Corrupt with their messages and results, and the exit prompt. A face
// builds the window from the control table, passes every click on a button
// to OnCommand, and shows what the view interface asks.

#include "dialog/dialog_view.h"
#include "dialog/panel.h"
#include "dialog/run.h"
#include "engine/backup_store.h"
#include "engine/byte_rules.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace glitchwerk {

// The form as plain data: the entry fields' texts and the two modes.
struct Form {
    std::string rangeStart, rangeEnd;
    std::string searchValue, searchLow, searchHigh;
    std::string replaceValue, stepValue;
    SearchMode searchMode = SearchMode::SearchSpecificByte;
    ReplaceMode replaceMode = ReplaceMode::ReplaceSpecificByte;
};

class CGlitchwerkDlg {
  public:
    explicit CGlitchwerkDlg(DialogView& view);

    // A file chosen already (named on the command line): start-up edits it
    // without asking.
    void OpenAtStart(std::filesystem::path file) { m_fileToOpen = std::move(file); }

    // Start-up, before the window is first shown: asks for the file and backs
    // it up. Returns false when the run ends here (the view's EndDialog has
    // been called); the window never appears.
    bool OnInitDialog();
    // Once the window is up: tells about a leftover data file that was kept.
    void OnShown();

    // A click on the button `id`: a rule selector, a command, or Exit.
    void OnCommand(int id);
    // The exit prompt. The Exit button, the Esc key and the close box all
    // come here; the view's EndDialog is what ends the dialog.
    void OnCancel();
    // The range fields were typed in, and typing has paused.
    void OnRangeTyped() { m_panel.OnRangeTyped(); }

    // The rule selectors: check exactly one button of the group and enable
    // only the fields that mode reads.
    void SetSearchMode(SearchMode mode);
    void SetReplaceMode(ReplaceMode mode);

    void OnCorrupt();
    void OnRestore();
    void OnReCorrupt();
    // The step the form describes, with the panel's spread; nothing when the
    // spread's field is out of bounds (told already).
    std::optional<CorruptionStep> FormStep();
    // Corrupts the file by `step` (the panel's own buttons), with the
    // dialog's results and messages; with `reCorrupt`, from the pristine file.
    void CorruptBy(const CorruptionStep& step, bool reCorrupt);
    // "Error\nUnable to  restore file", and what the data file lost if it did.
    void TellRestoreFailed();

    // Reads the form from the view: the fields' texts and the checked modes.
    Form ReadForm() const;
    // Puts a form into the fields and the rule selectors.
    void SetForm(const Form& form);

    // The panel beside the dialog: the face gives its view once, then every
    // click on a button, check box, radio button or history row in it. While
    // the panel is closed, the dialog acts as if there were none.
    void AttachPanel(PanelView& view) { m_panel.Attach(view); }
    void OnPanelCommand(int id) { m_panel.OnCommand(id); }
    // The panel was opened (again): it shows the run's state.
    void OnPanelShown() { m_panel.Show(); }
    // The panel's view goes (before the logic does).
    void DetachPanel() { m_panel.Detach(); }
    // The joypad state the keys held in the play view make.
    void OnPlayKeys(std::uint16_t joypad) { m_panel.OnPlayKeys(joypad); }

    // What the faces may read of the run: the edited file's path and length,
    // the kept file, and whether the last restore failed.
    const BackupStore& Backup() const { return m_run.Backup(); }

  private:
    void Corrupt();
    void RunStep(const CorruptionStep& step);
    void ResetResults();
    void Message(const std::string& text);
    void TellKeptLeftover();
    // After a failed restore or at exit: whether the data file still holds
    // the whole original, told when it does not.
    bool DataFileWhole(BackupCheck& check);

    DialogView& m_view;
    CRun m_run;
    std::optional<std::filesystem::path> m_fileToOpen;
    CPanel m_panel{*this, m_run, m_view};
};

// The form a step fills in: its range, search and (for the dialog's four
// rules) replacement.
Form FormOf(const CorruptionStep& step);

// The rule the form describes: the fields of its two modes, read as bytes.
ByteRule RuleOf(const Form& form);

// "%X": upper-case hexadecimal without prefix or leading zeros.
std::string HexText(std::uint32_t value);

// A path as UTF-8 text for the view (on POSIX, the name's own bytes).
std::string PathText(const std::filesystem::path& path);

} // namespace glitchwerk
