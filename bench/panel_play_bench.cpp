// SPDX-License-Identifier: MIT
// The panel's own path from the end of a Corrupt to the first frame its play
// view shows: the game before stopped, the file read, a fresh glitchwerk-play
// started, the ROM loaded, one frame run and handed to the window's thread.

#include "bench/figures.h"

#include "dialog/glitchwerk_dlg.h"
#include "tests/temp_dir.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace glitchwerk::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

template <class View> struct Controls : View {
    mutable std::map<int, std::string> texts;
    mutable std::map<int, bool> checked;
    std::string FieldText(int id) const override { return texts[id]; }
    void SetFieldText(int id, const std::string& text) override { texts[id] = text; }
    void ShowText(int id, const std::string& text) override { texts[id] = text; }
    bool IsChecked(int id) const override { return checked[id]; }
    void SetChecked(int id, bool on) override { checked[id] = on; }
    void SetEnabled(int, bool) override {}
};

// The dialog and the panel as a user who answers nothing and a window
// whose thread runs what the workers post.
struct Window : Controls<DialogView> {
    fs::path file;
    Clock::time_point written;
    std::optional<fs::path> AskForFile() override { return file; }
    Answer ShowMessage(const std::string&, MessageButtons) override { return Answer::Yes; }
    void RunWithProgress(const std::string&,
                         const std::function<void(const Progress&)>& work) override {
        work([](std::uint64_t, std::uint64_t) {});
        written = Clock::now();
    }
    void EndDialog() override {}
};

struct Panel : Controls<PanelView> {
    PlaySetup setup;
    std::vector<HistoryRow> rows;
    std::map<int, std::vector<std::string>> choices;
    std::map<int, int> chosen;
    std::optional<Clock::time_point> shown;
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<std::function<void()>> tasks;

    bool IsOpen() const override { return true; }
    void ShowHistory(const std::vector<HistoryRow>& shownRows, int) override { rows = shownRows; }
    int SelectedRow() const override { return -1; }
    void SetClipboardText(const std::string&) override {}
    std::optional<std::string> ClipboardText() const override { return std::nullopt; }
    std::optional<fs::path> AskForSaveName(const std::string&, const fs::path&,
                                           const std::vector<FileType>&) override {
        return std::nullopt;
    }
    std::optional<fs::path> AskForOpenName(const std::string&, const fs::path&,
                                           const std::vector<FileType>&) override {
        return std::nullopt;
    }
    fs::path DataFolder() const override { return {}; }
    void ShowParts(const std::vector<std::string>&, const std::vector<bool>&) override {}
    int SelectedPart() const override { return -1; }
    bool PartKept(int) const override { return false; }
    void ShowChoices(int id, const std::vector<std::string>& items, int selected) override {
        choices[id] = items;
        chosen[id] = selected;
    }
    int SelectedChoice(int id) const override { return chosen.at(id); }
    ImageDecoder PreviewDecoder() const override { return {}; }
    void ShowPreview(const PreviewPicture&) override {}
    void RunInBackground(std::function<void()>, std::function<void()>) override {}
    PlaySetup Playing() const override { return setup; }
    void ShowPlayView(bool) override {}
    void ShowFrame(const play::Frame&) override {
        if (!shown)
            shown = Clock::now();
    }
    void ShowPlayState(const std::string&) override {}
    void Post(std::function<void()> task) override {
        const std::lock_guard lock(mutex);
        tasks.push_back(std::move(task));
        posted.notify_one();
    }
    // The window's thread: what is posted runs until `done` holds.
    bool RunUntil(const std::function<bool()>& done) {
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (!done()) {
            std::vector<std::function<void()>> now;
            {
                std::unique_lock lock(mutex);
                if (!posted.wait_until(lock, until, [&] { return !tasks.empty(); }))
                    return false;
                now.swap(tasks);
            }
            for (const auto& task : now)
                task();
        }
        return true;
    }
};

void PanelCorruptToFrame(benchmark::State& state, const PlayedRom& rom) {
    const testing::TempDir dir(true); // the run's data file goes here
    Window window;
    window.file = dir / rom.file.filename().string();
    fs::copy_file(rom.file, window.file);
    Panel panel;
    panel.setup.cores = {rom.core.parent_path(), rom.core.parent_path()};
    CGlitchwerkDlg dialog(window);
    if (!dialog.OnInitDialog()) {
        state.SkipWithError("the run did not start");
        return;
    }
    dialog.AttachPanel(panel);
    dialog.OnPanelShown();
    // The core by its name, as the user chooses it; K bytes by the seed, at random.
    const auto& cores = panel.choices[IDC_CORE];
    const auto core = std::ranges::find(cores, play::CoreName(rom.core));
    panel.chosen[IDC_CORE] = static_cast<int>(core - cores.begin());
    dialog.OnPanelCommand(IDC_CORE);
    dialog.SetForm({HexText(static_cast<std::uint32_t>(rom.from)),
                    HexText(static_cast<std::uint32_t>(fs::file_size(rom.file) - 1)), "0", "0", "0",
                    "0", "1", SearchMode::SearchAllBytes, ReplaceMode::ReplaceRandomByte});
    panel.texts.insert_or_assign(IDC_SPREAD_K, std::string(1, '4'));
    dialog.OnPanelCommand(IDC_SPREAD_PICK);
    if (core == cores.end() || !panel.checked[IDC_PLAY_AFTER]) {
        state.SkipWithError("the core is not offered");
        return;
    }
    for (auto _ : state) {
        panel.shown.reset();
        dialog.OnPanelCommand(IDC_PANEL_RECORRUPT);
        const std::size_t rows = panel.rows.size();
        if (!panel.RunUntil([&] { return panel.shown.has_value(); })) {
            state.SkipWithError("no frame was shown");
            break;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(*panel.shown - window.written).count());
        // Its thumbnail too, before the next try.
        if (!panel.RunUntil(
                [&] { return !panel.rows.empty() && !panel.rows.back().thumbnail.rgb.empty(); }) ||
            panel.rows.size() != rows) {
            state.SkipWithError("no thumbnail");
            break;
        }
    }
    dialog.DetachPanel();
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(rom.file)));
}

} // namespace

void AddPanelPlayBenchmarks(const std::vector<PlayedRom>& roms) {
    for (const PlayedRom& rom : roms) {
        AddFigure("Panel's Corrupt to frame shown, " + rom.name, "bare host, " + rom.name,
                  Target::WithinHalfAgain,
                  [rom](benchmark::State& state) { PanelCorruptToFrame(state, rom); })
            ->UseManualTime()
            ->Repetitions(9);
    }
}

} // namespace glitchwerk::bench
