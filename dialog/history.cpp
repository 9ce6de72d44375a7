// SPDX-License-Identifier: MIT
#include "dialog/history.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace glitchwerk {

HistoryRow RowOf(const Try& made) {
    HistoryRow row;
    row.summary = made.when + (made.starred ? "  \xE2\x98\x85" : "") +
                  (made.name.empty() ? "" : "  " + made.name) + "  " + std::to_string(made.hits) +
                  (made.hits == 1 ? " hit" : " hits") + (made.complete ? "" : " (incomplete)") +
                  (made.played.empty() ? "" : ", " + made.played);
    for (const CorruptionStep& step : made.chain.steps) {
        // The recipe's words, shorter: no dashes, no search of all bytes.
        std::string words = StepText(step).substr(std::string("--range ").size());
        for (const std::string_view gone : {" --search-all", "--"}) {
            for (std::size_t at; (at = words.find(gone)) != std::string::npos;)
                words.erase(at, gone.size());
        }
        row.steps += (row.steps.empty() ? "" : " | ") + words;
    }
    return row;
}

std::vector<HistoryRow> CHistory::Rows() const {
    std::vector<HistoryRow> rows;
    for (const Try& made : m_context.run.Tries()) {
        rows.push_back(RowOf(made));
        if (const auto thumbnail = m_thumbnails.find(made.id); thumbnail != m_thumbnails.end())
            rows.back().thumbnail = thumbnail->second;
    }
    return rows;
}

void CHistory::ShowRows() {
    if (!m_context.view)
        return;
    const std::vector<HistoryRow> rows = Rows();
    int selected = m_context.view->SelectedRow();
    if (selected >= static_cast<int>(rows.size()))
        selected = -1;
    m_context.view->ShowHistory(rows, selected);
    OnSelect();
}

void CHistory::OnSelect() {
    if (!m_context.view)
        return;
    const std::optional<std::size_t> index = m_context.SelectedTry();
    const Try* made = index ? &m_context.run.Tries()[*index] : nullptr;
    PanelView& view = *m_context.view;
    view.SetFieldText(IDC_TRY_NAME, made ? made->name : "");
    view.SetChecked(IDC_STAR, made && made->starred);
    const bool replayable = made && made->complete;
    for (const int id : {IDC_APPLY_AGAIN, IDC_COPY_RECIPE, IDC_SAVE_TRY})
        view.SetEnabled(id, replayable);
    for (const int id : {IDC_USE_FORM, IDC_TRY_NAME, IDC_STAR})
        view.SetEnabled(id, made != nullptr);
}

void CHistory::Rename() {
    const std::optional<std::size_t> index = m_context.SelectedTry();
    if (!index)
        return;
    m_context.run.SetName(*index, m_context.view->FieldText(IDC_TRY_NAME));
    TryChanged(*index);
    ShowRows();
}

void CHistory::Star() {
    const std::optional<std::size_t> index = m_context.SelectedTry();
    if (!index)
        return;
    m_context.run.SetStar(*index, m_context.view->IsChecked(IDC_STAR));
    TryChanged(*index);
    ShowRows();
}

std::optional<CorruptionStep> CHistory::UseForm() {
    const std::optional<std::size_t> index = m_context.SelectedTry();
    if (!index || m_context.run.Tries()[*index].chain.steps.empty())
        return std::nullopt;
    const CorruptionStep step = m_context.run.Tries()[*index].chain.steps.back();
    m_context.dialog.SetForm(FormOf(step));
    return step;
}

void CHistory::ApplyAgain() {
    const std::optional<std::size_t> index = m_context.SelectedTry();
    if (!index || !m_context.run.Tries()[*index].complete)
        return;
    const Chain chain = m_context.run.Tries()[*index].chain;
    Apply(chain, index);
}

void CHistory::Apply(const Chain& chain, std::optional<std::size_t> index) {
    std::vector<CorruptionResult> results;
    const std::optional<PassOutcome> outcome =
        m_context.run.Apply(chain, index, m_context.Runner(messages::kCorrupting), results);
    if (!outcome)
        return m_context.dialog.TellRestoreFailed();
    if (*outcome == PassOutcome::NotOpened)
        return m_context.Message(messages::kCorruptNotOpened);
    if (*outcome == PassOutcome::Incomplete)
        return m_context.Message(messages::kCorruptIncomplete);
    const std::size_t row = index.value_or(m_context.run.Tries().size() - 1);
    m_context.view->ShowHistory(Rows(), static_cast<int>(row));
    OnSelect();
    m_context.Tell(messages::kCorrupted);
    m_corrupted();
}

bool CHistory::Identify(std::uint32_t& crc, std::uint64_t& length) {
    const Original* original = m_context.run.ReadOriginal();
    if (!original)
        return false;
    crc = original->crc32;
    length = m_context.run.Backup().romLength;
    return true;
}

void CHistory::Keep(bool loadFirst) {
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    if (!Identify(crc, length))
        return m_context.Status(messages::kHistoryNotKept);
    if (loadFirst && !m_loaded) {
        m_loaded = true;
        bool notOurs = false;
        std::optional<KeptStore::History> kept = m_store.LoadHistory(crc, length, notOurs);
        if (!kept) {
            m_context.view->SetChecked(IDC_KEEP_HISTORY, false);
            return m_context.Status(notOurs ? messages::HistoryNotYours(PathText(m_store.Folder()))
                                            : messages::kHistoryNotKept);
        }
        m_olderSettings = kept->settings;
        for (const Try& made : kept->tries)
            m_written[made.id] = made.chain.steps.size();
        m_context.run.AddKept(std::move(kept->tries));
        if (kept->damaged > 0) {
            m_context.Status(kept->setAside ? messages::HistoryLinesSetAside(kept->damaged,
                                                                             PathText(kept->aside))
                                            : messages::HistoryLinesSkipped(kept->damaged));
        }
    }
    m_keeping = true;
    // This run's tries so far join it.
    for (std::size_t i = 0; i < m_context.run.Tries().size(); ++i) {
        if (!m_written.contains(m_context.run.Tries()[i].id))
            TryChanged(i);
    }
    ShowRows();
}

void CHistory::Forget() {
    m_keeping = false;
    m_written.clear();
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    if (Identify(crc, length))
        m_store.ForgetHistory(crc, length);
}

void CHistory::TryChanged(std::size_t index) {
    if (!m_keeping)
        return;
    const Try& made = m_context.run.Tries().at(index);
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    auto [written, fresh] = m_written.try_emplace(made.id, 0);
    const bool marks = !fresh && written->second == made.chain.steps.size();
    if (!Identify(crc, length) || !m_store.Append(crc, length, made, written->second, marks)) {
        m_context.Status(messages::kHistoryNotKept);
        return;
    }
    written->second = made.chain.steps.size();
}

} // namespace glitchwerk

namespace glitchwerk {

void CHistory::Played(const std::string& id, const std::string& outcome, play::Frame thumbnail) {
    const std::vector<Try>& tries = m_context.run.Tries();
    const auto made = std::ranges::find(tries, id, &Try::id);
    if (made == tries.end())
        return;
    const auto index = static_cast<std::size_t>(made - tries.begin());
    if (thumbnail.rgb.empty())
        m_thumbnails.erase(id);
    else
        m_thumbnails[id] = std::move(thumbnail);
    if (made->played != outcome) {
        m_context.run.SetPlayed(index, outcome);
        TryChanged(index);
    }
    ShowRows();
}

} // namespace glitchwerk
