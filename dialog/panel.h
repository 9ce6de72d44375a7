// SPDX-License-Identifier: MIT
#pragma once
// The panel's logic: the spread of the next corruption, the history of the
// run's chains with Apply again, Save copy as and Copy recipe, the program run
// after a corruption, and quiet results. Apart from the history, which is
// only a record, everything it sets acts only while the panel is open.

#include "dialog/dialog_view.h"
#include "dialog/panel_view.h"
#include "engine/corruption_pass.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace glitchwerk {

class CGlitchwerkDlg;

// One row of the history: steps applied in order to the pristine file, along
// one stream of `seed` from `draw` on.
struct Chain {
    std::string when; // "HH:MM:SS"
    std::uint32_t seed = 0;
    std::uint64_t draw = 0;
    std::vector<CorruptionStep> steps; // those that processed a byte
    std::uint64_t hits = 0;
    RandomStream next; // where the chain's stream is after its last step
    bool complete = true;
};

// A command line split as a shell splits words (blanks, quotes, backslashes),
// without running one; `file` replaces each %f, inside one argument.
std::vector<std::string> SplitCommand(const std::string& line, const std::string& file = "%f");

// The glitchwerk-cli command that makes the chain's bytes from the original
// `input` (of CRC-32 `crc`) into `output`.
std::string RecipeOf(const Chain& chain, const std::string& input, const std::string& output,
                     std::uint32_t crc);

class CPanel {
  public:
    CPanel(CGlitchwerkDlg& dialog, DialogView& dialogView);

    void Attach(PanelView& view) { m_view = &view; }
    bool IsOpen() const { return m_view && m_view->IsOpen(); }
    void OnCommand(int id);
    void Show();

    // For the dialog's commands. The spread the panel sets (every byte when
    // closed); nothing when its field is out of bounds (told already).
    std::optional<Spread> ReadSpread();
    // Before a corruption writes: the program started last is closed.
    void BeforeWrite();
    // A Corrupt ran `step` on stream `stream` (moved on by the pass).
    RandomStream& StreamFor(RandomStream& runStream);
    void Record(const CorruptionStep& step, PassOutcome outcome, const CorruptionResult& result,
                std::uint32_t fileLength);
    void EndChain() { m_chainOpen = false; }
    // The outcome of a command: in the status line when quiet, else in a box.
    void Tell(const std::string& text);
    // After a successful Corrupt or Re-Corrupt: the command the panel holds.
    void RunAfterCorrupt();
    void CloseProgram() { StopProgram(m_program, 2000); }

  private:
    void ApplyAgain();
    void SaveCopy();
    void CopyRecipe();
    void ShowRows();
    const Chain* Selected() const;
    std::optional<std::uint32_t> OriginalCrc();
    // The kept history and settings: this file's, in the user's data folder.
    std::filesystem::path KeptFile();
    void LoadKept();
    void SaveKept();

    CGlitchwerkDlg& m_dialog;
    DialogView& m_dialogView;
    PanelView* m_view = nullptr;
    std::vector<Chain> m_chains;
    bool m_chainOpen = false;
    RandomStream m_chainStream; // where the open chain's stream is
    RandomStream m_chainBegin;  // where it began
    StartedProgram m_program;
    std::string m_failedCommand; // told once
    std::optional<std::uint32_t> m_crc;
    bool m_loaded = false; // the kept history was looked for
};

} // namespace glitchwerk
