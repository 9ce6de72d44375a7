// SPDX-License-Identifier: MIT
#pragma once
// The program's one dialog, apart from any toolkit: the start of a run (file
// choice and backup), the two rule selectors, the commands Corrupt, Restore
// and Re-Corrupt with their messages and results, and the exit prompt. A face
// builds the window from the control table, passes every click on a button
// to OnCommand, and shows what the view interface asks.

#include "dialog/dialog_view.h"
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

    // The rule selectors: check exactly one button of the group and enable
    // only the fields that mode reads.
    void SetSearchMode(SearchMode mode);
    void SetReplaceMode(ReplaceMode mode);

    void OnCorrupt();
    void OnRestore();
    void OnReCorrupt();

    // Reads the form from the view: the fields' texts and the checked modes.
    Form ReadForm() const;

    // What the faces may read of the run: the edited file's path and length,
    // the kept file, and whether the last restore failed.
    const BackupStore& Backup() const { return m_backup; }

  private:
    bool Restore();
    void ResetResults();
    void Message(const std::string& text);
    void TellKeptLeftover();

    DialogView& m_view;
    BackupStore m_backup;
    std::optional<std::filesystem::path> m_fileToOpen;
};

// The rule the form describes: the fields of its two modes, read as bytes.
ByteRule RuleOf(const Form& form);

// "%X": upper-case hexadecimal without prefix or leading zeros.
std::string HexText(std::uint32_t value);

// A path as UTF-8 text for the view (on POSIX, the name's own bytes).
std::string PathText(const std::filesystem::path& path);

} // namespace glitchwerk
