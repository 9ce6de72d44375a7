// SPDX-License-Identifier: MIT
#include "dialog/panel.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"

#include <algorithm>
#include <charconv>

namespace glitchwerk {
namespace {

std::optional<std::uint32_t> Decimal(const std::string& text, std::uint32_t low,
                                     std::uint32_t high) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

constexpr int kSpreads[] = {IDC_SPREAD_EVERY, IDC_SPREAD_NTH, IDC_SPREAD_PICK};

} // namespace

CPanel::CPanel(CGlitchwerkDlg& dialog, CRun& run, DialogView& dialogView)
    : m_context{dialog, run, dialogView}, m_history(m_context, m_store, [this] { Corrupted(); }) {
    run.Watch(*this);
}

void CPanel::OnCommand(int id) {
    if (!m_context.view)
        return;
    ClearStatus();
    switch (id) {
    case IDC_APPLY_AGAIN:
        return m_history.ApplyAgain();
    case IDC_SAVE_COPY:
        return m_saves.SaveCopyAs();
    case IDC_SAVE_TRY:
        return m_saves.SaveTry();
    case IDC_COPY_RECIPE:
        return m_recipes.CopyRecipe();
    case IDC_OPEN_RECIPE:
        return m_recipes.OpenRecipe();
    case IDC_PASTE_RECIPE:
        return m_recipes.PasteRecipe();
    case IDC_USE_FORM:
        return UseForm();
    case IDC_RULE:
        return m_rules.OnChoose();
    case IDC_PANEL_CORRUPT:
    case IDC_PANEL_RECORRUPT:
        return CorruptByRule(id == IDC_PANEL_RECORRUPT);
    case IDC_PARTS_KEEP:
        return KeepPart();
    case IDC_TRY_NAME:
        return m_history.Rename();
    case IDC_STAR:
        return m_history.Star();
    case IDC_HISTORY:
        return m_history.OnSelect();
    case IDC_SPREAD_EVERY:
    case IDC_SPREAD_NTH:
    case IDC_SPREAD_PICK:
        ChooseSpread(id);
        return SaveSettings();
    case IDC_SPREAD_N: // Enter in a spread's field, as in the dialog's
    case IDC_SPREAD_K:
        return m_context.dialog.OnReCorrupt();
    case IDC_QUIET_RESULTS:
    case IDC_RUN_AFTER: // Enter: the line is taken
        return SaveSettings();
    case IDC_PARTS:
        return ChoosePart();
    case IDC_KEEP_HISTORY:
        return KeptTicked();
    case IDC_CORE:
        m_play.OnChooseCore();
        return SaveSettings();
    case IDC_PLAY_AFTER:
        m_play.OnPlayAfter();
        return SaveSettings();
    default:
        return;
    }
}

void CPanel::ChooseSpread(int id) const {
    for (const int each : kSpreads)
        m_context.view->SetChecked(each, each == id);
    m_context.view->SetEnabled(IDC_SPREAD_N, id == IDC_SPREAD_NTH);
    m_context.view->SetEnabled(IDC_SPREAD_K, id == IDC_SPREAD_PICK);
}

void CPanel::Show() {
    PanelView* view = m_context.view;
    if (!view)
        return;
    if (view->FieldText(IDC_SPREAD_N).empty())
        view->SetFieldText(IDC_SPREAD_N, "2");
    if (view->FieldText(IDC_SPREAD_K).empty())
        view->SetFieldText(IDC_SPREAD_K, "16");
    if (!view->IsChecked(IDC_SPREAD_NTH) && !view->IsChecked(IDC_SPREAD_PICK))
        ChooseSpread(IDC_SPREAD_EVERY);
    m_context.run.ReadOriginal();
    if (!m_loaded) {
        m_rules.Show();
        LoadSettings();
    }
    m_play.Show();
    m_history.ShowRows();
    ShowParts();
    m_preview.Draw();
}

Settings CPanel::Current() const {
    const PanelView& view = *m_context.view;
    Settings settings{view.IsChecked(IDC_KEEP_HISTORY),
                      view.IsChecked(IDC_SPREAD_NTH)    ? 1
                      : view.IsChecked(IDC_SPREAD_PICK) ? 2
                                                        : 0,
                      view.FieldText(IDC_SPREAD_N),
                      view.FieldText(IDC_SPREAD_K),
                      view.IsChecked(IDC_QUIET_RESULTS),
                      view.FieldText(IDC_RUN_AFTER),
                      {},
                      {}};
    m_play.Store(settings);
    return settings;
}

void CPanel::LoadSettings() {
    m_loaded = true;
    PanelView& view = *m_context.view;
    m_store.SetFolder(view.DataFolder());
    switch (m_store.Check()) {
    case KeptStore::Trust::None:
        return;
    case KeptStore::Trust::NotOurs:
        return m_context.Status(messages::HistoryNotYours(PathText(m_store.Folder())));
    case KeptStore::Trust::Ours:
        break;
    }
    bool notOurs = false, damaged = false;
    std::optional<Settings> settings = m_store.LoadSettings(notOurs, damaged);
    if (notOurs)
        return m_context.Status(messages::HistoryNotYours(PathText(m_store.Folder())));
    if (damaged)
        m_context.Status(messages::SettingsSetAside(PathText(m_store.Folder())));
    const Original* original = m_context.run.OriginalIfRead();
    std::error_code error;
    const bool olderHistory =
        !settings && original &&
        std::filesystem::exists(
            m_store.HistoryFile(original->crc32, m_context.run.Backup().romLength), error);
    if (!settings && !olderHistory)
        return;
    const auto apply = [&](const Settings& kept) {
        for (const auto& [id, text] : {std::pair{IDC_SPREAD_N, &kept.n},
                                       {IDC_SPREAD_K, &kept.k},
                                       {IDC_RUN_AFTER, &kept.runAfter}})
            view.SetFieldText(id, *text);
        ChooseSpread(kSpreads[kept.spread]);
        view.SetChecked(IDC_QUIET_RESULTS, kept.quiet);
        view.SetChecked(IDC_KEEP_HISTORY, kept.keep);
        m_play.Apply(kept);
    };
    Settings older; // an earlier version kept its history only while the box was ticked
    older.keep = true;
    apply(settings.value_or(older));
    m_settingsKept = true;
    if (view.IsChecked(IDC_KEEP_HISTORY)) {
        m_history.Keep(true);
        // Neither read nor written when it is not the user's alone.
        m_settingsKept = m_history.Keeping();
        // An earlier version kept the settings in the history.
        if (!settings && m_history.OlderSettings())
            apply(*m_history.OlderSettings());
    }
    m_saved = settings;
    SaveSettings();
}

void CPanel::SaveSettings() {
    if (!m_context.view || !m_settingsKept)
        return;
    const Settings now = Current();
    if (m_saved == now)
        return;
    if (!m_store.SaveSettings(now))
        return m_context.Status(messages::kHistoryNotKept);
    m_saved = now;
}

void CPanel::KeptTicked() {
    PanelView& view = *m_context.view;
    if (view.IsChecked(IDC_KEEP_HISTORY)) {
        if (m_store.Folder().empty())
            m_store.SetFolder(view.DataFolder());
        if (m_store.Check() != KeptStore::Trust::Ours) {
            view.SetChecked(IDC_KEEP_HISTORY, false);
            return m_context.Status(messages::HistoryNotYours(PathText(m_store.Folder())));
        }
        m_settingsKept = true;
        SaveSettings();
        return m_history.Keep(true);
    }
    m_history.Forget();
    if (m_context.Ask(messages::kForgetSettings)) {
        m_store.ForgetSettings();
        m_settingsKept = false;
        m_saved.reset();
        return;
    }
    SaveSettings();
}

void CPanel::ShowParts() const {
    const Original* original = m_context.run.OriginalIfRead();
    std::vector<std::string> rows;
    std::vector<bool> kept;
    if (original) {
        for (const FilePart& part : original->parts.parts) {
            rows.push_back(part.name + "  " + HexText(static_cast<std::uint32_t>(part.start)) +
                           ":" + HexText(static_cast<std::uint32_t>(part.end)));
            kept.push_back(std::ranges::count(m_kept, part.name) != 0);
        }
    }
    m_context.view->ShowParts(rows, kept);
}

void CPanel::KeepPart() {
    const Original* original = m_context.run.OriginalIfRead();
    const int row = m_context.view->SelectedPart();
    if (!original || row < 0 || row >= static_cast<int>(original->parts.parts.size()))
        return;
    const std::string& name = original->parts.parts[static_cast<std::size_t>(row)].name;
    std::erase(m_kept, name);
    if (m_context.view->PartKept(row))
        m_kept.push_back(name);
    // In the order of the file, as a recipe gives them.
    std::vector<std::string> ordered;
    for (const FilePart& part : original->parts.parts) {
        if (std::ranges::count(m_kept, part.name))
            ordered.push_back(part.name);
    }
    m_kept = std::move(ordered);
}

TryOptions CPanel::Options() const {
    if (!IsOpen())
        return {};
    return {m_kept, m_context.view->IsChecked(IDC_MEND)};
}

void CPanel::UseForm() {
    if (const std::optional<CorruptionStep> step = m_history.UseForm())
        m_rules.Choose(*step);
}

void CPanel::CorruptByRule(bool reCorrupt) {
    std::optional<CorruptionStep> step = m_context.dialog.FormStep();
    if (step)
        step = m_rules.Apply(*step);
    if (step)
        m_context.dialog.CorruptBy(*step, reCorrupt);
}

void CPanel::ChoosePart() {
    const Original* original = m_context.run.OriginalIfRead();
    const int row = m_context.view->SelectedPart();
    if (!original || row < 0 || row >= static_cast<int>(original->parts.parts.size()))
        return;
    const FilePart& part = original->parts.parts[static_cast<std::size_t>(row)];
    Form form = m_context.dialog.ReadForm();
    form.rangeStart = HexText(static_cast<std::uint32_t>(part.start));
    form.rangeEnd = HexText(static_cast<std::uint32_t>(part.end));
    m_context.dialog.SetForm(form);
    m_preview.Draw();
}

std::optional<Spread> CPanel::ReadSpread() {
    PanelView* view = m_context.view;
    if (!IsOpen() || view->IsChecked(IDC_SPREAD_EVERY))
        return Spread{};
    if (view->IsChecked(IDC_SPREAD_NTH)) {
        if (const auto n = Decimal(view->FieldText(IDC_SPREAD_N), 1, 0xFFFFFFFF))
            return Spread{SpreadKind::EveryNth, *n};
        m_context.Message(messages::kBadEvery);
        return std::nullopt;
    }
    if (view->IsChecked(IDC_SPREAD_PICK)) {
        if (const auto k = Decimal(view->FieldText(IDC_SPREAD_K), 1, kMostPicked))
            return Spread{SpreadKind::Pick, *k};
        m_context.Message(messages::kBadPick);
        return std::nullopt;
    }
    return Spread{};
}

void CPanel::Corrupted() {
    SaveSettings();
    m_runAfter.Start();
    m_play.Start();
}

void CPanel::BeforeWrite() {
    m_runAfter.Stop();
    m_play.Stop();
    m_preview.Drop();
}

void CPanel::TryChanged(std::size_t index) {
    m_history.TryChanged(index);
    m_history.ShowRows();
}

} // namespace glitchwerk
