// SPDX-License-Identifier: MIT
#pragma once
// The panel's logic: its controls' commands, handed to its features (the
// history, the preview, the program run after a corruption, saving copies and
// recipes), the spread of the next corruption, quiet results, the parts of the
// original and the user's kept settings. Apart from the history, which is
// only a record, everything it sets acts only while the panel is open.

#include "dialog/dialog_view.h"
#include "dialog/history.h"
#include "dialog/kept_store.h"
#include "dialog/panel_context.h"
#include "dialog/panel_view.h"
#include "dialog/play_view.h"
#include "dialog/preview.h"
#include "dialog/recipes.h"
#include "dialog/rule_choice.h"
#include "dialog/run.h"
#include "dialog/run_after.h"
#include "dialog/save_copies.h"
#include "engine/corruption_pass.h"

#include <cstdint>
#include <optional>
#include <string>

namespace glitchwerk {

class CGlitchwerkDlg;

class CPanel : public RunWatcher {
  public:
    CPanel(CGlitchwerkDlg& dialog, CRun& run, DialogView& dialogView);
    CPanel(const CPanel&) = delete;
    CPanel& operator=(const CPanel&) = delete;

    void Attach(PanelView& view) { m_context.view = &view; }
    // The view goes: the game with it.
    void Detach() {
        m_play.Detach();
        m_context.view = nullptr;
    }
    bool IsOpen() const { return m_context.IsOpen(); }
    void OnCommand(int id);
    void Show();

    // For the dialog's commands. The spread the panel sets (every byte when
    // closed); nothing when its field is out of bounds (told already).
    std::optional<Spread> ReadSpread();
    // The parts kept and whether checksums are mended, for a new try (none
    // while the panel is closed).
    TryOptions Options() const;
    void Tell(const std::string& text) { m_context.Tell(text); }
    void Status(const std::string& text) { m_context.Status(text); }
    void ClearStatus() { m_context.Status(""); }
    // After a successful Corrupt, Re-Corrupt or Apply: the program to run.
    void Corrupted();
    void OnRangeTyped() { m_preview.Draw(); }
    // The run ends: what it started is closed.
    void OnExit() {
        m_runAfter.Stop();
        m_play.Stop();
    }
    void OnPlayKeys(std::uint16_t joypad) { m_play.SetKeys(joypad); }

    void BeforeWrite() override;
    void FileChanged() override { m_preview.Draw(); }
    void TryChanged(std::size_t index) override;

  private:
    void ChooseSpread(int id) const;
    void ShowParts() const;
    void ChoosePart();
    void KeepPart();
    void UseForm();
    // The panel's own Corrupt and Re-Corrupt: the form's step with its rule.
    void CorruptByRule(bool reCorrupt);
    void LoadSettings();
    // The settings as the controls hold them, kept when they are kept and
    // changed.
    Settings Current() const;
    void SaveSettings();
    void KeptTicked();

    PanelContext m_context;
    KeptStore m_store;
    CHistory m_history;
    CPreview m_preview{m_context};
    CRunAfter m_runAfter{m_context};
    CSaveCopies m_saves{m_context};
    CRecipes m_recipes{m_context, m_history};
    CRuleChoice m_rules{m_context};
    std::vector<std::string> m_kept; // the parts whose Keep box is ticked
    bool m_loaded = false;           // the kept settings were looked for
    bool m_settingsKept = false;     // settings.json is the user's to write
    std::optional<Settings> m_saved;
    CPlay m_play{m_context, m_history}; // its workers post to the others: it goes first
};

} // namespace glitchwerk
