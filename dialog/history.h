// SPDX-License-Identifier: MIT
#pragma once
// The history: one row a try, starred and named at will, applied again, put
// back into the form, and kept for the next runs on the same original.

#include "dialog/kept_store.h"
#include "dialog/panel_context.h"
#include "play/play_client.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glitchwerk {

class CHistory {
  public:
    // `corrupted` runs after each successful Apply, as after a Corrupt.
    CHistory(PanelContext& context, KeptStore& store, std::function<void()> corrupted)
        : m_context(context), m_store(store), m_corrupted(std::move(corrupted)) {}

    // The rows anew; the selection kept where it is still a row.
    void ShowRows();
    // A row was selected: its name and star are shown.
    void OnSelect();
    void Rename();
    void Star();
    // Puts the selected row's last step into the dialog's form, and gives it.
    std::optional<CorruptionStep> UseForm();
    void ApplyAgain();
    // Applies `chain` to the pristine file as the try `index`, or as a new
    // row, which is selected; told as a Corrupt is.
    void Apply(const Chain& chain, std::optional<std::size_t> index);

    // The kept history of this original: loaded (with what it could not
    // read told), then each change added to it; or no longer kept, and gone.
    void Keep(bool loadFirst);
    void Forget();
    bool Keeping() const { return m_keeping; }
    // The settings an earlier version kept in this history, if any.
    const std::optional<Settings>& OlderSettings() const { return m_olderSettings; }
    // A try was added or grew: it goes to the kept history.
    void TryChanged(std::size_t index);
    // The try `id` was played: its outcome is kept, its thumbnail shown.
    void Played(const std::string& id, const std::string& outcome, play::Frame thumbnail);

  private:
    std::vector<HistoryRow> Rows() const;
    // The original's CRC-32 and length name its kept history.
    bool Identify(std::uint32_t& crc, std::uint64_t& length);

    PanelContext& m_context;
    KeptStore& m_store;
    std::function<void()> m_corrupted;
    bool m_keeping = false;
    bool m_loaded = false;                        // the kept history joined the run's tries
    std::map<std::string, std::size_t> m_written; // steps kept of each try, by id
    std::optional<Settings> m_olderSettings;
    std::map<std::string, play::Frame> m_thumbnails; // by try id, of this run
};

// A history row's two columns.
HistoryRow RowOf(const Try& made);

} // namespace glitchwerk
