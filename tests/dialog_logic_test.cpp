// SPDX-License-Identifier: MIT
#include "dialog/control_table.h"
#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "dialog/play_view.h"
#include "engine/tiles.h"
#include "tests/temp_dir.h"
#ifdef GLITCHWERK_HAS_CLI
#include "cli/cli.h"
#endif

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace glitchwerk {
namespace {

using namespace testing; // the temporary folder and file helpers
using namespace messages;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;
using namespace std::chrono_literals;

const Bytes kOriginal = CountingBytes(0x300);

// A window's controls as the test keeps them: the texts set and shown, and each box's state.
template <class View> struct Controls : View {
    mutable std::map<int, std::string> texts;
    mutable std::map<int, bool> checked, enabled;
    std::string FieldText(int id) const override { return texts[id]; }
    void SetFieldText(int id, const std::string& text) override { texts[id] = text; }
    void ShowText(int id, const std::string& text) override { texts[id] = text; }
    bool IsChecked(int id) const override { return checked[id]; }
    void SetChecked(int id, bool on) override { checked[id] = on; }
    void SetEnabled(int id, bool on) override { enabled[id] = on; }
};

// One run of the dialog on a file of 0x300 counting bytes, in a fresh current directory, through a
// view the test answers in place of a window and a user (its work on a worker thread, as a face's).
struct Session : Controls<DialogView> {
    TempDir dir{true};
    const fs::path rom = dir / "game.nes";
    std::optional<fs::path> file = rom; // the file dialog's answer; none cancels
    Answer answer = Answer::Cancel;     // to the questions
    Texts messages;                     // every text shown, questions included
    std::function<void()> whileShown;   // runs while each message is up
    Texts progress;                     // the titles of the work, in order
    bool ended = false;
    CGlitchwerkDlg dialog{*this};

    std::optional<fs::path> AskForFile() override { return file; }
    void EndDialog() override { ended = true; }
    Answer ShowMessage(const std::string& text, MessageButtons buttons) override {
        messages.push_back(text);
        if (whileShown)
            whileShown();
        return buttons == MessageButtons::Ok ? Answer::Ok : answer;
    }
    std::function<void()> whileWorking; // runs as each work begins
    void RunWithProgress(const std::string& title,
                         const std::function<void(const Progress&)>& work) override {
        progress.push_back(title);
        if (whileWorking)
            whileWorking();
        std::thread([&] { work([](std::uint64_t, std::uint64_t) {}); }).join();
    }

    Session() { WriteFile(rom, kOriginal); }
    void Start() {
        ASSERT_TRUE(dialog.OnInitDialog());
        dialog.OnShown();
    }
    // "NAME" clicks IDC_NAME (or IDCANCEL); "NAME=text" types the text into it.
    void Do(const std::string& step) {
        const std::string name = step.substr(0, step.find('='));
        for (const ControlTemplate& control : kControls) {
            if (name != control.name + (name == "IDCANCEL" ? 0 : 4))
                continue;
            if (name.size() == step.size())
                return dialog.OnCommand(control.id);
            texts[control.id] = step.substr(name.size() + 1);
        }
    }
    // The controls of one kind for which `state` holds, in tab order.
    std::string Which(ControlKind kind, std::map<int, bool>& state) {
        std::string names;
        for (const ControlTemplate& control : kControls) {
            if (control.kind == kind && state[control.id])
                names.append(names.empty() ? "" : " ").append(control.name + 4);
        }
        return names;
    }
    Texts Results() {
        return {texts[IDC_TOTAL_BYTES], texts[IDC_FIRST_BYTE], texts[IDC_LAST_BYTE]};
    }
    // The bytes of the file that the last message names, being `message` of that file.
    Bytes Kept(std::string (*message)(const std::string&)) {
        const std::string& text = messages.back();
        const std::string file = text.substr(text.rfind(' ') + 1, text.npos);
        EXPECT_EQ(text, message(file.substr(0, file.size() - 1)));
        return ReadFile(fs::path(std::u8string(file.begin(), file.end() - 1)));
    }
};

TEST(DialogLogic, StartUpFailuresEndTheRunBeforeTheWindowAppears) {
    const std::pair<std::function<std::optional<fs::path>(Session&)>, const char*> cases[] = {
        {[](Session&) { return std::nullopt; }, nullptr},
        {[](Session& r) { return fs::create_directory(kDataFileName), r.rom; },
         kDataFileNotCreated},
        {[](Session& r) { return r.dir / "typed.nes"; }, kFileNotOpened},
#ifndef _WIN32
        {[](Session& r) { return fs::create_symlink(r.rom, kDataFileName), r.rom; },
         kDataFileUnsafe},
#endif
    };
    for (const auto& [choose, message] : cases) {
        SCOPED_TRACE(message ? message : "cancelled");
        Session run;
        run.file = choose(run);
        EXPECT_FALSE(run.dialog.OnInitDialog());
        EXPECT_TRUE(run.ended);
        EXPECT_EQ(run.messages, message ? Texts{message} : Texts{});
        EXPECT_EQ(fs::exists(kDataFileName), message != nullptr);
        EXPECT_EQ(ReadFile(run.rom), kOriginal);
    }
}

TEST(DialogLogic, StartUpShowsTheFileThenSelectorsKeepOneChoicePerGroup) {
    Session run;
    const fs::path odd = run.rom.parent_path() / u8"\u00E4 &b.nes";
    WriteFile(odd, kOriginal);
    run.file.reset();
    run.dialog.OpenAtStart(odd);         // as `glitchwerk FILE` does: no file dialog
    WriteFile(kDataFileName, {1, 2, 3}); // left by a run that was killed
    ASSERT_TRUE(run.dialog.OnInitDialog());
    EXPECT_EQ(run.texts[IDC_FILE_SIZE], "300");
    EXPECT_TRUE(run.texts[IDC_FILE_PATH].ends_with("\xC3\xA4 &b.nes"));
    EXPECT_EQ(run.progress, Texts{kCopying});
    EXPECT_EQ(ReadFile(kDataFileName), kOriginal);
    EXPECT_TRUE(run.messages.empty()); // the leftover is told once the window is up
    run.dialog.OnShown();
    EXPECT_EQ(run.Kept(LeftoverKept), (Bytes{1, 2, 3}));

    // Clicked button; then the checked buttons and the enabled fields.
    const char* steps[][3] = {
        {"", "SEARCH_SPECIFIC REPLACE_SPECIFIC", "SEARCH_VALUE REPLACE_VALUE"},
        {"SEARCH_RANGE", "SEARCH_RANGE REPLACE_SPECIFIC", "SEARCH_LOW SEARCH_HIGH REPLACE_VALUE"},
        {"REPLACE_DECREASE", "SEARCH_RANGE REPLACE_DECREASE", "SEARCH_LOW SEARCH_HIGH STEP_VALUE"},
        {"REPLACE_INCREASE", "SEARCH_RANGE REPLACE_INCREASE", "SEARCH_LOW SEARCH_HIGH STEP_VALUE"},
        {"SEARCH_ALL", "SEARCH_ALL REPLACE_INCREASE", "STEP_VALUE"},
        {"REPLACE_RANDOM", "SEARCH_ALL REPLACE_RANDOM", ""},
        {"SEARCH_SPECIFIC", "SEARCH_SPECIFIC REPLACE_RANDOM", "SEARCH_VALUE"},
    };
    for (const auto& [click, checked, enabled] : steps) {
        SCOPED_TRACE(click);
        run.Do(click);
        EXPECT_EQ(run.Which(ControlKind::Radio, run.checked), checked);
        EXPECT_EQ(run.Which(ControlKind::Edit, run.enabled), enabled);
    }
}

TEST(DialogLogic, CorruptReadsTheFormAndShowsItsResultsBeforeItsMessage) {
    // The steps, the results shown, and the bytes [from, to) that become `value`.
    const std::tuple<std::vector<std::string>, Texts, int, int, int> cases[] = {
        // clang-format off
        {{}, {"0", "", ""}, 0, 0, 0},
        {{"SEARCH_ALL", "RANGE_START=0x100", "RANGE_END=" + std::string(40000, '0') + "FFFFFF",
          "REPLACE_VALUE=5A"}, // any length of text
         {"512", "100", "2FF"}, 0x100, 0x300, 0x5A},
        // 1FF reads as FF, FFFFFFFF as 00.
        {{"RANGE_END=100", "SEARCH_VALUE=1FF", "REPLACE_VALUE=FFFFFFFF"},
         {"1", "FF", "FF"}, 0xFF, 0x100, 0x00},
        {{"SEARCH_RANGE", "REPLACE_DECREASE", "RANGE_START=10", "RANGE_END=20",
          "SEARCH_LOW=18", "SEARCH_HIGH=1C", "STEP_VALUE=20"},
         {"4", "18", "1B"}, 0x18, 0x1C, 0x00},
        // clang-format on
    };
    for (const auto& [steps, results, from, to, value] : cases) {
        SCOPED_TRACE(results.front());
        Session run;
        run.Start();
        for (const std::string& step : steps)
            run.Do(step);
        Texts shownWithMessage;
        run.whileShown = [&] { shownWithMessage = run.Results(); };
        run.Do("CORRUPT");
        EXPECT_EQ(run.messages, Texts{kCorrupted});
        EXPECT_EQ(shownWithMessage, results);
        Bytes expected = kOriginal;
        std::fill(expected.begin() + from, expected.begin() + to, value);
        EXPECT_EQ(ReadFile(run.rom), expected);
    }
}

// Corrupt compounds, Re-Corrupt starts from the pristine file, Restore puts it back; a file that
// cannot be written, opened or restored is reported, and No at exit keeps the originals.
TEST(DialogLogic, CommandsFromCorruptToExit) {
    Session run;
    run.Start();
    for (const char* step : {"SEARCH_ALL", "REPLACE_INCREASE", "RANGE_END=4", "STEP_VALUE=1"})
        run.Do(step);
    Bytes plus1 = kOriginal, plus2 = kOriginal;
    for (int i = 0; i < 4; ++i)
        plus1[i] += 1, plus2[i] += 2;
    Texts said;
#ifndef _WIN32
    OnAFullDisk(0, [&] { return run.Do("CORRUPT"), 0; });
    said.push_back(kCorruptIncomplete);
#endif
    run.Do("CORRUPT");
    run.Do("CORRUPT");
    EXPECT_EQ(ReadFile(run.rom), plus2);
    run.Do("RECORRUPT");
    EXPECT_EQ(ReadFile(run.rom), plus1);
    run.Do("RESTORE");
    EXPECT_EQ(ReadFile(run.rom), kOriginal);
    EXPECT_EQ(Texts(run.progress.end() - 4, run.progress.end()),
              (Texts{kCorrupting, kRestoring, kCorrupting, kRestoring}));

    fs::rename(run.rom, run.dir / "moved.nes");
    fs::create_directory(run.rom); // neither updated nor rewritten from now on
    run.Do("RECORRUPT");           // stops at the failed restore
    EXPECT_EQ(run.Results(), (Texts{"0", "", ""}));
    run.Do("CORRUPT");
    run.Do("RESTORE");
    run.answer = Answer::Yes;
    run.Do("IDCANCEL");
    said.insert(said.end(), {kCorrupted, kCorrupted, kCorrupted, kRestored, kRestoreFailed,
                             kCorruptNotOpened, kRestoreFailed, kExitQuestion, kExitRestoreFailed});
    EXPECT_EQ(run.messages, said);
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(ReadFile(kDataFileName), kOriginal);
#ifndef _WIN32
    fs::rename(kDataFileName, "moved.dat");
    run.answer = Answer::No;
    OnAFullDisk(0, [&] { return run.Do("IDCANCEL"), 0; });
    EXPECT_EQ(run.messages.back(), kOriginalsNotKept);
    EXPECT_FALSE(run.ended);
    fs::rename("moved.dat", kDataFileName);
#endif
    run.answer = Answer::No;
    run.Do("IDCANCEL");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.Kept(OriginalsKept), kOriginal);
    EXPECT_TRUE(ReadFile(kDataFileName).empty());
}

TEST(DialogLogic, ExitAsksBeforeEndingAndSaysWhenTheDataFileStaysFull) {
    for (const Answer answer : {Answer::Cancel, Answer::Yes, Answer::No}) {
        SCOPED_TRACE(static_cast<int>(answer));
        Session run;
        run.Start();
        WriteFile(run.rom, {0xEE}); // as a corruption would leave it
        run.answer = answer;
        Texts said{kExitQuestion};
#ifndef _WIN32
        if (answer == Answer::No) { // truncating a stream that cannot write fails
            const int readOnly = ::open(kDataFileName, O_RDONLY | O_CLOEXEC);
            ::dup2(readOnly, ::fileno(run.dialog.Backup().dataFile.get()));
            ::close(readOnly);
            said.push_back(kDataFileNotEmptied);
        }
#endif
        run.Do("IDCANCEL");
        EXPECT_EQ(run.messages, said);
        EXPECT_EQ(run.ended, answer != Answer::Cancel);
        EXPECT_EQ(ReadFile(run.rom), answer == Answer::Yes ? kOriginal : Bytes{0xEE});
        EXPECT_EQ(ReadFile(kDataFileName).empty(), answer != Answer::Cancel && said.size() == 1);
    }
}

// The panel as the test sees it: open or closed, its controls' state, and the answers it gives.
struct Panel final : Controls<PanelView> {
    bool open = true;
    std::vector<HistoryRow> rows;
    int selected = -1;
    std::optional<std::string> clipboard;
    std::optional<fs::path> saveName, openName; // the file dialogs' answers
    fs::path suggested;                         // what the last one offered

    bool IsOpen() const override { return open; }
    void ShowHistory(const std::vector<HistoryRow>& shown, int row) override {
        rows = shown, selected = row;
    }
    int SelectedRow() const override { return selected; }
    void SetClipboardText(const std::string& text) override { clipboard = text; }
    std::optional<std::string> ClipboardText() const override { return clipboard; }
    std::optional<fs::path> AskForSaveName(const std::string&, const fs::path& offered,
                                           const std::vector<FileType>&) override {
        return suggested = offered, saveName;
    }
    std::optional<fs::path> AskForOpenName(const std::string&, const fs::path&,
                                           const std::vector<FileType>&) override {
        return openName;
    }
    // Parts and preview: the work runs at once, and the platform decodes no image.
    Texts parts;
    std::vector<bool> kept;
    int part = -1;
    PreviewPicture preview;
    void ShowParts(const Texts& shown, const std::vector<bool>& ticked) override {
        parts = shown, kept = ticked;
    }
    int SelectedPart() const override { return part; }
    bool PartKept(int row) const override {
        return row >= 0 && static_cast<std::size_t>(row) < kept.size() && kept[row];
    }
    std::map<int, std::pair<Texts, int>> choices; // by control: the items, the chosen one
    void ShowChoices(int id, const Texts& items, int chosen) override {
        choices[id] = {items, chosen};
    }
    int SelectedChoice(int id) const override {
        return choices.contains(id) ? choices.at(id).second : -1;
    }
    ImageDecoder PreviewDecoder() const override { return {}; }
    void ShowPreview(const PreviewPicture& picture) override { preview = picture; }
    void RunInBackground(std::function<void()> work, std::function<void()> done) override {
        work(), done();
    }
    fs::path folder;
    fs::path DataFolder() const override { return folder; }
    // Play: the tasks posted from the workers wait for Pump, as a window's events do.
    PlaySetup play;
    bool playView = false;
    std::vector<play::Frame> frames;
    std::string playState;
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    PlaySetup Playing() const override { return play; }
    void ShowPlayView(bool shown) override { playView = shown; }
    void ShowFrame(const play::Frame& frame) override { frames.push_back(frame); }
    void ShowPlayState(const std::string& text) override { playState = text; }
    void Post(std::function<void()> task) override {
        const std::lock_guard lock(mutex);
        posted.push_back(std::move(task));
    }
    // Runs what was posted until `done` holds, or for `most`: whether it held.
    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds most = 10s) {
        for (const auto until = std::chrono::steady_clock::now() + most;
             !done() && std::chrono::steady_clock::now() < until;) {
            std::vector<std::function<void()>> tasks;
            {
                const std::lock_guard lock(mutex);
                tasks.swap(posted);
            }
            for (const auto& task : tasks)
                task();
            std::this_thread::sleep_for(2ms);
        }
        return done();
    }
};

struct PanelSession : Session {
    Panel panel;
    explicit PanelSession(const fs::path& dataFolder = {}, const Bytes& file = kOriginal,
                          const PlaySetup& play = {}) {
        panel.folder = dataFolder;
        panel.play = play;
        WriteFile(rom, file);
        Start();
        dialog.AttachPanel(panel);
        dialog.OnPanelShown();
    }
    void Spread(int choice, const std::string& n = "") {
        panel.texts[choice == IDC_SPREAD_NTH ? IDC_SPREAD_N : IDC_SPREAD_K] = n;
        dialog.OnPanelCommand(choice);
    }
    void Select(int row) {
        panel.selected = row;
        dialog.OnPanelCommand(IDC_HISTORY);
    }
    // "NAME" clicks the panel's IDC_NAME; the dialog's names otherwise.
    void Click(int id) { dialog.OnPanelCommand(id); }
    ~PanelSession() { dialog.DetachPanel(); }
};

// Rows: Apply again replays one without adding another, and the next Corrupt begins a new row
// from it; Save try, Copy, Paste and Open recipe all give a row's bytes from the pristine copy,
// whatever the file holds now; a recipe of another file, or unchecked, is refused.
TEST(DialogLogic, TriesReplaySaveAndComeBackFromTheirRecipes) {
    PanelSession run;
    for (const char* step : {"SEARCH_ALL", "REPLACE_RANDOM", "RANGE_START=10", "RANGE_END=300"})
        run.Do(step);
    run.Spread(IDC_SPREAD_PICK, "40");
    run.Do("CORRUPT");
    run.Spread(IDC_SPREAD_NTH, "3");
    run.Do("CORRUPT");
    run.Do("RANGE_START=400"); // processes no byte: left out of the row
    run.Do("CORRUPT");
    const Bytes first = ReadFile(run.rom);
    ASSERT_EQ(run.panel.rows.size(), 1u);
    EXPECT_EQ(run.panel.rows[0].steps, "10:300 random pick 40 | 10:300 random every 3");
    run.Do("RANGE_START=0");
    run.Do("RECORRUPT");
    const Bytes second = ReadFile(run.rom);
    for (const char* step : {"SEARCH_SPECIFIC", "SEARCH_VALUE=1", "RANGE_END=1"})
        run.Do(step); // a Re-Corrupt that hits nothing: no row
    run.panel.checked[IDC_QUIET_RESULTS] = true;
    run.Do("RECORRUPT");
    EXPECT_EQ(run.panel.rows.size(), 2u);
    EXPECT_EQ(run.panel.texts[IDC_PANEL_STATUS], kNothingHit);

    run.Select(0);
    run.Click(IDC_APPLY_AGAIN);
    EXPECT_EQ(ReadFile(run.rom), first);
    EXPECT_EQ(run.panel.rows.size(), 2u);
    EXPECT_EQ(run.panel.selected, 0);
    run.Do("SEARCH_ALL");
    run.Do("CORRUPT"); // a new row: the replayed one's steps, then this
    ASSERT_EQ(run.panel.rows.size(), 3u);
    EXPECT_EQ(run.panel.rows[2].steps, run.panel.rows[0].steps + " | 0:1 random every 3");
    run.Select(2);
    run.Click(IDC_USE_FORM); // the last step back in the form
    EXPECT_EQ(Texts({run.texts[IDC_RANGE_START], run.texts[IDC_RANGE_END]}), (Texts{"0", "1"}));

    // Row 1 saved while row 2 is in the file, with its recipe.
    run.Select(1);
    run.panel.saveName = run.dir / "try.nes";
    run.Click(IDC_SAVE_TRY);
    EXPECT_EQ(ReadFile(run.dir / "try.nes"), second);
    const fs::path json = run.dir / "try.glitchwerk.json";
    const auto saved = nlohmann::json::parse(ReadFile(json), nullptr, false);
    ASSERT_TRUE(saved.is_object());
    EXPECT_EQ(run.panel.suggested,
              run.dir / ("game-" + std::to_string(saved.at("seed").get<std::uint64_t>()) + "-" +
                         std::to_string(saved.at("draw").get<std::uint64_t>()) + ".nes"));
    run.Click(IDC_SAVE_TRY); // the same name again: a new one, nothing replaced
    EXPECT_EQ(ReadFile(run.dir / "try-2.nes"), second);
    WriteFile(run.dir / "taken.nes", Bytes(1, 1)); // taken without a recipe beside it
    run.panel.saveName = run.dir / "taken.nes";
    run.Click(IDC_SAVE_TRY);
    EXPECT_EQ(ReadFile(run.dir / "taken.nes"), Bytes(1, 1));
    EXPECT_EQ(ReadFile(run.dir / "taken-2.nes"), second);

    run.Select(1); // its stream starts past the first row's: --draw
    run.Click(IDC_COPY_RECIPE);
    const std::string recipe = run.panel.clipboard.value_or("");
    EXPECT_NE(recipe.find("--draw "), std::string::npos);
    run.Do("RESTORE");
    const Bytes restored = ReadFile(run.rom);
    run.Click(IDC_PASTE_RECIPE);
    EXPECT_EQ(ReadFile(run.rom), second);
    EXPECT_EQ(run.panel.rows.size(), 4u);
    run.Do("RESTORE");
    run.panel.openName = json;
    run.Click(IDC_OPEN_RECIPE);
    EXPECT_EQ(ReadFile(run.rom), second);
    EXPECT_EQ(run.panel.selected, 4);

    const std::size_t crc = recipe.find("--expect-crc32 ") + 15;
    const std::pair<std::string, std::string> refused[] = {
        {std::string(recipe).replace(crc, 8, "12345678"), "12345678"},
        {std::string(recipe).erase(crc - 16, 24), kRecipeUnchecked},
        {recipe + " $(reboot)", "could not be read"},
    };
    for (const auto& [text, said] : refused) {
        SCOPED_TRACE(text);
        run.panel.clipboard = text;
        run.messages.clear();
        run.Click(IDC_PASTE_RECIPE);
        ASSERT_EQ(run.messages.size(), 1u);
        EXPECT_NE(run.messages[0].find(said), std::string::npos) << run.messages[0];
    }
    EXPECT_EQ(run.panel.rows.size(), 5u);
#ifdef GLITCHWERK_HAS_CLI
    // glitchwerk-cli makes the same bytes from the same recipe, and prints it alike.
    run.Do("RESTORE");
    EXPECT_EQ(ReadFile(run.rom), restored);
    std::vector<std::string> words = SplitCommand(recipe);
    ASSERT_EQ(words.at(1), "corrupt");
    std::ostringstream out, err;
    ASSERT_EQ(RunCli({words.begin() + 1, words.end()}, out, err), 0) << err.str();
    EXPECT_EQ(ReadFile(words.at(4)), second);
    EXPECT_EQ(out.str().substr(out.str().find("recipe: ") + 8), recipe + "\n");
    std::ostringstream replayed, why;
    ASSERT_EQ(RunCli({"corrupt", "--recipe", PathText(json), "-o", "again.nes"}, replayed, why), 0)
        << why.str();
    EXPECT_EQ(ReadFile("again.nes"), second);
#endif
}

// The panel's own Corrupt takes its rule in place of the form's; kept parts stay as they were, the
// checksums valid on the original are mended, and the row replays with both.
TEST(DialogLogic, ThePanelsRulesKeptPartsAndMendedSums) {
    Bytes gba = CountingBytes(0x200);
    gba[0xB2] = 0x96; // and BD the complement of A0 to BC
    const auto complement = [](const Bytes& f) {
        return static_cast<std::uint8_t>(
            0 - std::accumulate(f.begin() + 0xA0, f.begin() + 0xBD, 0) - 0x19);
    };
    gba[0xBD] = complement(gba);
    PanelSession run({}, gba);
    const auto rule = [&](int choice, const std::string& value) {
        run.panel.choices[IDC_RULE].second = choice;
        run.panel.texts[IDC_RULE_VALUE] = value;
        run.Click(IDC_RULE);
    };
    for (const char* step : {"SEARCH_ALL", "RANGE_START=A0", "RANGE_END=C0"})
        run.Do(step);
    const std::pair<std::function<void()>, const char*> refused[] = {
        {[&] { rule(1, "1FF"); },
         "XOR with V (hex): the value is a hexadecimal number from 0 to FF."},
        {[&] { rule(3, "8"); },
         "Rotate left by N (1-7): the value is a decimal number from 1 to 7."},
        {[&] { rule(5, "1"), run.Do("SEARCH_SPECIFIC"); },
         "Shift by N bytes works on the range as a whole: choose All Bytes and Every byte found."},
    };
    for (const auto& [choose, said] : refused) {
        run.messages.clear();
        choose();
        run.Click(IDC_PANEL_CORRUPT);
        EXPECT_EQ(run.messages, Texts{said});
    }
    EXPECT_EQ(ReadFile(run.rom), gba);
    run.Do("SEARCH_ALL");
    rule(1, "FF");
    run.panel.checked[IDC_MEND] = true;
    run.Click(IDC_PANEL_CORRUPT);
    Bytes xored = gba;
    for (std::size_t i = 0xA0; i < 0xC0; ++i)
        xored[i] ^= 0xFF;
    xored[0xBD] = complement(xored);
    EXPECT_EQ(ReadFile(run.rom), xored);
    EXPECT_EQ(run.panel.texts[IDC_PANEL_STATUS], Mended({"gba-header"}));

    // The header kept, the rest random, by the dialog's own rule.
    run.panel.checked[IDC_MEND] = false;
    rule(0, "");
    run.panel.kept = {true, false};
    run.panel.part = 0;
    run.Click(IDC_PARTS_KEEP);
    for (const char* step : {"REPLACE_RANDOM", "RANGE_START=0", "RANGE_END=200", "RECORRUPT"})
        run.Do(step);
    const Bytes kept = ReadFile(run.rom);
    EXPECT_TRUE(std::equal(gba.begin(), gba.begin() + 0xC0, kept.begin()));
    EXPECT_NE(kept, gba);

    ASSERT_EQ(run.panel.rows.size(), 2u);
    const std::pair<int, Bytes> rows[] = {{0, xored}, {1, kept}};
    for (const auto& [row, bytes] : rows) {
        run.Select(row);
        run.Click(IDC_COPY_RECIPE);
        const std::string recipe = run.panel.clipboard.value_or("");
        EXPECT_NE(recipe.find(row ? " --keep header" : " --xor FF"), std::string::npos) << recipe;
        EXPECT_EQ(recipe.find(" --mend") == std::string::npos, row == 1) << recipe;
        run.Click(IDC_APPLY_AGAIN);
        EXPECT_EQ(ReadFile(run.rom), bytes);
    }
}

// Save copy as writes the file as it is now, never over a file of this run or another's, and asks
// before it replaces any other file.
TEST(DialogLogic, SaveCopyAsNeverGoesOverARunsFiles) {
    const TempDir other(true); // another run, in a folder of its own
    WriteFile(other / "theirs.nes", kOriginal);
    BackupStore theirs;
    ASSERT_EQ(CreateBackup(theirs, other / "theirs.nes"), BackupResult::BackupCreated);
    const auto saveAs = [](const fs::path& name, Answer answer = Answer::Cancel) {
        return [=](PanelSession& r) {
            WriteFile(r.dir / "kept.bin", {7});
            fs::create_directory(r.dir / "old");
            WriteFile(r.dir / "old" / "glitchwerk-20261207-101010.dat", {8});
            r.panel.saveName = name.empty() ? r.rom : r.rom.parent_path() / name;
            r.answer = answer;
            r.Click(IDC_SAVE_COPY);
        };
    };
    const std::tuple<const char*, std::function<void(PanelSession&)>, Texts> cases[] = {
        {"over the file", saveAs({}), {kCopyNotOverOwn}},
        {"over the data file", saveAs(kDataFileName), {kCopyNotOverOwn}},
#ifdef _WIN32
        {"over a kept copy", saveAs("old/glitchwerk-20261207-101010.dat"), {kCopyNotOverRunFile}},
#else
        {"over a kept copy", saveAs("old/Glitchwerk-20261207-101010.dat"), {kCopyNotOverRunFile}},
#endif
        {"over another run's data file", saveAs(other / kDataFileName), {kCopyNotOverRunFile}},
        {"over another run's file", saveAs(other / "theirs.nes"), {kCopyNotOverRunFile}},
        {"over another, kept", saveAs("kept.bin"), {ReplaceQuestion("kept.bin")}},
        {"over another, replaced",
         [&](PanelSession& r) {
             saveAs("kept.bin", Answer::Yes)(r);
             EXPECT_EQ(ReadFile(r.dir / "kept.bin"), kOriginal);
         },
         {ReplaceQuestion("kept.bin"), kCopySaved}},
        {"new",
         [&](PanelSession& r) {
             saveAs("copy.nes")(r);
             EXPECT_EQ(ReadFile(r.dir / "copy.nes"), kOriginal);
             EXPECT_EQ(fs::status(r.dir / "copy.nes").permissions(), // the original's
                       fs::status(r.rom).permissions());
         },
         {kCopySaved}},
    };
    for (const auto& [name, act, said] : cases) {
        SCOPED_TRACE(name);
        PanelSession run;
        act(run);
        EXPECT_EQ(run.messages, said);
        EXPECT_EQ(ReadFile(run.rom), kOriginal);
        EXPECT_EQ(ReadFile(kDataFileName), kOriginal);
        EXPECT_EQ(ReadFile(other / kDataFileName), kOriginal);
        EXPECT_EQ(ReadFile(run.dir / "old" / "glitchwerk-20261207-101010.dat"), Bytes{8});
        EXPECT_EQ(ReadFile(run.dir / "kept.bin") == kOriginal,
                  std::string(name) == "over another, replaced");
    }
}

TEST(DialogLogic, PanelCommandsAndWhatActsOnlyWhileItIsOpen) {
    struct Case {
        const char* name;
        std::function<void(PanelSession&)> act;
        Texts said;
        Bytes file = kOriginal;
    };
    Bytes zeroed = kOriginal;
    std::fill(zeroed.begin(), zeroed.begin() + 8, 0);
    const auto corruptAll = [](PanelSession& r) {
        for (const char* step : {"SEARCH_ALL", "RANGE_END=8", "REPLACE_VALUE=0", "CORRUPT"})
            r.Do(step);
    };
    const Case cases[] = {
        {"quiet",
         [](PanelSession& r) {
             r.panel.checked[IDC_QUIET_RESULTS] = true;
             r.Do("RECORRUPT"), r.Do("RESTORE");
             EXPECT_EQ(r.panel.texts[IDC_PANEL_STATUS], kRestored);
             r.Do("SEARCH_ALL"); // the next command clears it
             EXPECT_EQ(r.panel.texts[IDC_PANEL_STATUS], "");
         },
         {}},
        {"closed",
         [&](PanelSession& r) {
             r.panel.checked[IDC_QUIET_RESULTS] = true;
             r.Spread(IDC_SPREAD_PICK, "1");
             r.panel.texts[IDC_RUN_AFTER] = "no-such-program %f";
             r.panel.open = false;
             corruptAll(r);
             EXPECT_EQ(r.panel.rows.size(), 1u);
         },
         {kCorrupted},
         zeroed},
        {"missing command",
         [&](PanelSession& r) {
             r.panel.texts[IDC_RUN_AFTER] = "no-such-program %f";
             corruptAll(r), r.Do("CORRUPT");
             r.messages.erase(r.messages.begin() + 1); // the reason is the system's
         },
         {kCorrupted, kCorrupted},
         zeroed},
        {"every 0th",
         [](PanelSession& r) { r.Spread(IDC_SPREAD_NTH, "0"), r.Do("CORRUPT"); },
         {kBadEvery}},
        {"Enter in a spread's field",
         [&](PanelSession& r) {
             corruptAll(r);
             r.Click(IDC_SPREAD_K); // Re-Corrupt
             EXPECT_EQ(r.progress.back(), kCorrupting);
             EXPECT_EQ(r.panel.rows.size(), 2u);
         },
         {kCorrupted, kCorrupted},
         zeroed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PanelSession run;
        c.act(run);
        EXPECT_EQ(run.messages, c.said);
        EXPECT_EQ(ReadFile(run.rom), c.file);
    }
}

TEST(DialogLogic, APartFillsTheRangeAndThePreviewShowsTheFileAfterEachCommand) {
    Session run;
    Bytes rom = {'N', 'E', 'S', 0x1A, 1, 1};
    rom.resize(0x6010);
    for (std::size_t i = 0x4010; i < rom.size(); ++i)
        rom[i] = static_cast<std::uint8_t>(i * 7);
    WriteFile(run.rom, rom);
    run.Start();
    Panel panel;
    run.dialog.AttachPanel(panel);
    run.dialog.OnPanelShown();
    EXPECT_EQ(panel.parts, (Texts{"header  0:10", "prg  10:4010", "chr  4010:6010"}));
    panel.part = 2;
    run.dialog.OnPanelCommand(IDC_PARTS);
    EXPECT_EQ(Texts({run.texts[IDC_RANGE_START], run.texts[IDC_RANGE_END]}),
              (Texts{"4010", "6010"}));
    const auto tilesOf = [](const Bytes& file) {
        return DecodeTiles(std::span(file).subspan(0x4010), TileLayout::Nes).pixels;
    };
    EXPECT_EQ(panel.preview.pixels, tilesOf(rom));
    for (const char* step : {"SEARCH_ALL", "REPLACE_RANDOM", "CORRUPT"})
        run.Do(step);
    EXPECT_NE(ReadFile(run.rom), rom);
    EXPECT_EQ(panel.preview.pixels, tilesOf(ReadFile(run.rom)));
    run.Do("RESTORE");
    EXPECT_EQ(panel.preview.pixels, tilesOf(rom));

    // A file shorter than it was measured: only what could be read.
    const FileParts bmp{FileKind::Bmp, {{"headers", 0, 0x36}, {"pixels", 0x36, 0x6010}}};
    const FileParts other{FileKind::Other, {{"all", 0, 0x6010}}};
    for (const FileParts& parts : {bmp, other}) {
        FileHandle file = OpenFile(run.rom, OpenHow::Reading);
        const PreviewSource source = ReadPreviewSource(file.get(), 0x9000, parts, 0x100, 0x7000);
        EXPECT_EQ(source.file.size(), 0x6010u);
        EXPECT_EQ(source.tiles.size(), parts.kind == FileKind::Other ? 0x6010u - 0x100 : 0u);
    }
}

// The settings are the user's, the history each file's; two windows on copies of one file add their
// rows to it; lines that fail a check are set aside once; a file that is not the user's alone is
// never used, its command never run; an old history over the limit keeps its starred rows.
TEST(DialogLogic, KeptHistoryIsTheUsersAloneAndSurvivesDamage) {
    const TempDir data;
    const fs::path folder = data / "kept"; // made by the first run
    const auto keep = [](PanelSession& r) {
        r.panel.checked[IDC_KEEP_HISTORY] = true;
        r.Click(IDC_KEEP_HISTORY);
    };
    {
        PanelSession one(folder);
        keep(one);
        one.panel.texts[IDC_RUN_AFTER] = "viewer %f";
        for (const char* step : {"SEARCH_ALL", "RANGE_END=10", "CORRUPT"})
            one.Do(step);
        PanelSession two(folder); // a copy of the same file in a second window
        for (const char* step : {"SEARCH_ALL", "RANGE_END=20", "CORRUPT"})
            two.Do(step);
        one.Do("RECORRUPT");
        EXPECT_EQ(two.panel.rows.size(), 2u);
    }
#ifndef _WIN32
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::mask, fs::perms::owner_all);
#endif
    fs::path history;
    for (const auto& entry : fs::directory_iterator(folder))
        history = entry.path().extension() == ".jsonl" ? entry.path() : history; // not its lock
    {
        PanelSession again(folder);
        EXPECT_EQ(again.panel.rows.size(), 3u);
        EXPECT_TRUE(again.panel.checked[IDC_KEEP_HISTORY]);
        EXPECT_EQ(again.panel.texts[IDC_RUN_AFTER], "viewer %f");
        again.Select(0);
        again.panel.checked[IDC_STAR] = true;
        again.Click(IDC_STAR);
    }
    {
        Session other; // another file: the settings, none of the rows
        WriteFile(other.rom, Bytes(0x40, 1));
        Panel panel;
        panel.folder = folder;
        other.Start();
        other.dialog.AttachPanel(panel);
        other.dialog.OnPanelShown();
        EXPECT_TRUE(panel.rows.empty());
        EXPECT_EQ(panel.texts[IDC_RUN_AFTER], "viewer %f");
    }
    // Damaged lines: not JSON, wrong types, values out of range, a float, a step of another stream.
    const std::string good = R"({"chain":"00000000000000AA","when":"1","seed":1,"draw":0,)"
                             R"("step":"--range 0:10 --search-all --set 1","hits":16})";
    std::ofstream(history, std::ios::app)
        << "{\n"
        << R"({"chain":"00000000000000AB","when":"1","seed":4294967297,"draw":0,"step":"--range 0:1 --search-all --set 1","hits":1})"
        << '\n'
        << R"({"chain":"00000000000000AC","when":"1","seed":1.5,"draw":0,"step":"--range 0:1 --search-all --set 1","hits":1})"
        << '\n'
        << R"({"chain":"00000000000000AD","when":"1","seed":1,"draw":0,"step":"--range 0:1 --search-all --set 1 --every 0","hits":1})"
        << '\n'
        << R"({"chain":"00000000000000AE","when":"1","seed":1,"draw":0,"step":"--range 0:1 --search-all --random --pick 4294967295","hits":1})"
        << '\n'
        << R"({"chain":"00000000000000AF","star":"yes"})" << '\n'
        << R"({"when":"1","seed":1,"draw":0,"hits":1,"complete":true,"steps":[[0,1,2,0,0,0,1,3,1]]})"
        << '\n'
        << good << '\n'
        << R"({"chain":"00000000000000AA","played":"exploded"})" << '\n'
        << R"({"chain":"00000000000000AA","when":"1","seed":2,"draw":0,"step":"--range 0:1 --search-all --set 1","hits":1})"
        << '\n';
    const fs::path aside = fs::path(history) += ".damaged";
    for (const bool first : {true, false}) {
        PanelSession run(folder);
        EXPECT_EQ(run.panel.rows.size(), 4u);
        EXPECT_EQ(run.panel.texts[IDC_PANEL_STATUS],
                  first ? HistoryLinesSetAside(9, PathText(aside)) : "");
    }
    const Bytes asideBytes = ReadFile(aside);
    const std::string setAside(asideBytes.begin(), asideBytes.end());
    EXPECT_EQ(std::count(setAside.begin(), setAside.end(), '\n'), 9);
    EXPECT_TRUE(setAside.starts_with("line ")) << setAside; // each with its number
    EXPECT_NE(setAside.find(": {\"chain\":\"00000000000000AB\""), std::string::npos);

    // Over the limit: the last rows and the starred one.
    {
        std::ofstream lines(history, std::ios::app);
        for (int i = 0; i < 2100; ++i) {
            char id[17];
            std::snprintf(id, sizeof id, "%016X", i + 0x100);
            lines << std::string(good).replace(10, 16, id) << '\n';
        }
    }
    {
        PanelSession run(folder);
        ASSERT_EQ(run.panel.rows.size(), 1001u);
        EXPECT_NE(run.panel.rows[0].summary.find("\xE2\x98\x85"), std::string::npos);
    }
#ifndef _WIN32
    // Not the user's alone: the file or its folder writable by the group, or a link.
    // Nothing of it is used.
    for (const fs::path& loose : {history, folder}) {
        fs::permissions(loose, fs::perms::group_write, fs::perm_options::add);
        {
            PanelSession run(folder);
            EXPECT_TRUE(run.panel.rows.empty());
            EXPECT_FALSE(run.panel.checked[IDC_KEEP_HISTORY]);
            EXPECT_EQ(run.panel.texts[IDC_PANEL_STATUS], HistoryNotYours(PathText(folder)));
            run.Do("CORRUPT"); // and nothing is written to it
        }
        fs::permissions(loose, fs::perms::group_write, fs::perm_options::remove);
    }
    const fs::path settings = folder / "settings.json";
    fs::rename(settings, data / "elsewhere.json");
    fs::create_symlink(data / "elsewhere.json", settings);
    {
        PanelSession run(folder);
        EXPECT_EQ(run.panel.texts[IDC_RUN_AFTER], "");
        EXPECT_EQ(run.panel.texts[IDC_PANEL_STATUS], HistoryNotYours(PathText(folder)));
    }
    fs::remove(settings);
    fs::rename(data / "elsewhere.json", settings);
#endif
    // Settings of a kind no version writes: set aside, none of them used.
    const Bytes kept = ReadFile(folder / "settings.json");
    for (const auto& [key, value] : {std::pair("spread", nlohmann::json(3)), {"quiet", "yes"}}) {
        auto changed = nlohmann::json::parse(kept);
        changed[key] = value;
        const std::string text = changed.dump();
        WriteFile(folder / "settings.json", Bytes(text.begin(), text.end()));
        {
            PanelSession run(folder);
            EXPECT_EQ(run.panel.texts[IDC_RUN_AFTER], "") << key;
            EXPECT_EQ(run.panel.texts[IDC_PANEL_STATUS], SettingsSetAside(PathText(folder)));
        }
        EXPECT_TRUE(fs::remove(folder / "settings.json.damaged"));
        WriteFile(folder / "settings.json", kept);
    }
    // Unticked: this file's history goes; the settings too after a Yes.
    PanelSession run(folder);
    run.answer = Answer::Yes;
    run.panel.checked[IDC_KEEP_HISTORY] = false;
    run.Click(IDC_KEEP_HISTORY);
    EXPECT_EQ(run.messages, Texts{kForgetSettings});
    EXPECT_FALSE(fs::exists(history));
    EXPECT_FALSE(fs::exists(folder / "settings.json"));
}

// Exit and Restore say what another program took from the data file, before anything is emptied,
// and never say "kept" of bytes that are not.
TEST(DialogLogic, ExitSaysWhatTheDataFileLost) {
    const Bytes original = CountingBytes(3 * kHashedBlock);
    const auto damage = [](std::size_t at) {
        std::fstream(kDataFileName, std::ios::in | std::ios::out | std::ios::binary)
            .seekp(static_cast<std::streamoff>(at))
            .put(9);
    };
    {
        Session run;
        WriteFile(run.rom, original);
        run.Start();
        damage(kHashedBlock + 5);
        WriteFile(run.rom, Bytes(original.size(), 0)); // the whole file corrupted
        run.answer = Answer::Yes;
        run.Do("RESTORE"); // the damaged block cannot be put back
        run.Do("IDCANCEL");
        EXPECT_EQ(run.messages, (Texts{kRestoreFailed, DataFileChangedStill(1, 3), kExitQuestion,
                                       kExitRestoreFailed, DataFileChangedStill(1, 3)}));
        EXPECT_FALSE(run.ended);
        run.messages.clear();
        run.answer = Answer::No;
        run.Do("IDCANCEL");
        EXPECT_TRUE(run.ended);
        ASSERT_EQ(run.messages.size(), 2u);
        const std::string kept = PathText(run.dialog.Backup().keptFile);
        EXPECT_EQ(run.messages[1], DataFileChanged(1, 3, kept));
        Bytes expected = original;
        expected[kHashedBlock + 5] = 9;
        EXPECT_EQ(ReadFile(run.dialog.Backup().keptFile), expected);
        EXPECT_TRUE(ReadFile(kDataFileName).empty());
    }
    Session run; // a data file cut short: two blocks gone, and none kept when there is no room
    WriteFile(run.rom, original);
    run.Start();
    fs::resize_file(kDataFileName, kHashedBlock);
    run.answer = Answer::No;
#ifndef _WIN32
    OnAFullDisk(0, [&] { return run.Do("IDCANCEL"), 0; });
    EXPECT_EQ(run.messages.back(), DataFileChangedStill(2, 3));
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(ReadFile(kDataFileName).size(), kHashedBlock);
#endif
    run.Do("IDCANCEL");
    EXPECT_EQ(run.messages.back(), DataFileChanged(2, 3, PathText(run.dialog.Backup().keptFile)));
    EXPECT_TRUE(run.ended);
}

TEST(DialogLogic, RunAfterCorruptSplitsAsAShellAndClosesWhatItStarted) {
    const std::pair<const char*, Texts> lines[] = {
        {R"(emu "%f")", {"emu", "a b"}},
        {R"(emu '%f' --x)", {"emu", "a b", "--x"}},
        {R"(emu -f=%f %%f 100%%)", {"emu", "-f=a b", "%f", "100%"}},
        {R"(emu "q\"%f")", {"emu", "q\"a b"}},
    };
    for (const auto& [line, words] : lines)
        EXPECT_EQ(SplitCommand(line, "a b"), words) << line;
#ifndef _WIN32
    PanelSession run;
    // A wrapper that starts the program it stands for, as emulators' scripts do.
    run.panel.texts[IDC_RUN_AFTER] = "sh -c 'sleep 30 & echo $! >child; wait' %f";
    run.Do("CORRUPT");
    for (int tries = 0; tries < 200 && !fs::exists("child"); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Bytes id = ReadFile("child");
    const std::string stat = "/proc/" + std::string(id.begin(), id.end() - 1) + "/stat";
    ASSERT_TRUE(fs::exists(stat));
    run.Do("CORRUPT"); // closed, with what it started, before the file is written
    const auto ended = [&] {
        std::ifstream in(stat);
        std::string pid, name, state;
        return !(in >> pid >> name >> state) || state == "Z";
    };
    EXPECT_TRUE(ended());
#endif
}

#ifndef GLITCHWERK_TEST_CORE
#define GLITCHWERK_TEST_CORE ""
#endif

// The tests' core, which takes .nes files, with deadlines short enough to wait for. Its frame is
// 32 x 16, 0RGB1555 for these files: row 0 the frames run and the joypad, then the file's bytes
// from offset 8.
fs::path CoreIn(const TempDir& folder) {
    return folder / ("gwtest_libretro" + fs::path(GLITCHWERK_TEST_CORE).extension().string());
}
PlaySetup TestCore(const TempDir& folder) {
    fs::copy_file(GLITCHWERK_TEST_CORE, CoreIn(folder));
    std::ofstream(folder / "gwtest_libretro.info") << "supported_extensions = \"nes\"\n";
    PlaySetup setup{{CoreIn(folder).parent_path(), CoreIn(folder).parent_path()}, {}};
    setup.session.deadlines.frames =
        1000ms; // a crash under the sanitizers takes its time to report
    setup.session.deadlines.perFrame = 1ms;
    return setup;
}

unsigned PixelValue(const play::Frame& frame, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* at = frame.rgb.data() + (std::size_t{y} * frame.width + x) * 3;
    return (at[0] >> 3) << 10 | (at[1] >> 3) << 5 | at[2] >> 3;
}

// Corrupt, Re-Corrupt and Apply again each play the file as it is then; the game stops before
// each write; keys reach it; the row gets the outcome and frame 180 of a run with no input.
TEST(DialogLogic, EachTryPlaysLiveAndItsRowGetsItsOutcomeAndThumbnail) {
    if (std::string_view(GLITCHWERK_TEST_CORE).empty())
        GTEST_SKIP() << "glitchwerk-play was left out: no libretro.h (scripts/fetch-libretro.sh)";
    TempDir cores, data;
    const fs::path folder = data / "kept";
    auto run = std::make_unique<PanelSession>(folder, kOriginal, TestCore(cores));
    Panel& panel = run->panel;
    EXPECT_TRUE(panel.checked[IDC_PLAY_AFTER] && panel.playView);
    EXPECT_EQ(panel.choices[IDC_CORE],
              std::pair(Texts{kByTheFile + std::string("gwtest"), "gwtest"}, 0));
    EXPECT_EQ(panel.playState, kPlayWaits);
    for (const char* step : {"SEARCH_ALL", "RANGE_START=10", "RANGE_END=20"})
        run->Do(step);
    panel.checked[IDC_KEEP_HISTORY] = true;
    run->Click(IDC_KEEP_HISTORY);
    const auto shows = [&](unsigned value) {
        return !panel.frames.empty() &&
               PixelValue(panel.frames.back(), 4, 1) == (value | value << 8);
    };
    const auto thumbnailed = [&](std::size_t row) {
        return row < panel.rows.size() && !panel.rows[row].thumbnail.rgb.empty();
    };
    std::size_t shownWhileWriting = 0;
    run->whileWorking = [&] {
        const std::size_t before = panel.frames.size();
        panel.Pump([] { return false; }, 100ms);
        shownWhileWriting += panel.frames.size() - before;
    };
    for (const char* command : {"CORRUPT", "RECORRUPT", "APPLY_AGAIN"}) {
        SCOPED_TRACE(command);
        const bool second = command[0] == 'R';
        run->Do(second ? "REPLACE_VALUE=5B" : "REPLACE_VALUE=5A");
        std::this_thread::sleep_for(50ms); // a frame of the game before waits to be shown
        if (command[0] == 'A')
            run->Select(0), run->Click(IDC_APPLY_AGAIN);
        else
            run->Do(command);
        ASSERT_TRUE(panel.Pump([&] { return shows(second ? 0x5B : 0x5A) && thumbnailed(second); }));
        EXPECT_EQ(panel.playState, "");
    }
    EXPECT_EQ(shownWhileWriting, 0u);
    // Live at about 60 frames a second, with the keys held.
    const std::size_t shown = panel.frames.size();
    run->dialog.OnPlayKeys(play::kA | play::kStart);
    ASSERT_TRUE(panel.Pump(
        [&] { return PixelValue(panel.frames.back(), 1, 0) == (play::kA | play::kStart); }));
    const unsigned runs = PixelValue(panel.frames.back(), 0, 0);
    panel.Pump([] { return false; }, 500ms);
    EXPECT_NEAR(PixelValue(panel.frames.back(), 0, 0) - runs, 30, 8);
    EXPECT_GT(panel.frames.size(), shown + 10);
    // Closing the panel ends the game.
    panel.open = false;
    panel.Pump([] { return false; }, 100ms);
    panel.open = true;
    const std::size_t closed = panel.frames.size();
    panel.Pump([] { return false; }, 100ms);
    EXPECT_EQ(panel.frames.size(), closed);
    // The thumbnail is frame 180 of a run with no input.
    play::Session session;
    play::Frame frame;
    ASSERT_TRUE(
        play::Play(session, CoreIn(cores), ReadFile(run->rom), "game.nes", 180, frame).ok());
    EXPECT_EQ(panel.rows[0].thumbnail.rgb, frame.rgb);
    EXPECT_TRUE(panel.rows[0].summary.ends_with(" hits, ran")) << panel.rows[0].summary;
    // Its outcome is kept with the history; the settings keep the play options.
    panel.checked[IDC_PLAY_AFTER] = false;
    run->Click(IDC_PLAY_AFTER);
    EXPECT_FALSE(panel.playView);
    run->Do("CORRUPT");
    const std::size_t before = panel.frames.size();
    panel.Pump([] { return false; }, 200ms);
    EXPECT_EQ(panel.frames.size(), before);
    run.reset();
    TempDir moreCores;
    PanelSession again(folder, kOriginal, TestCore(moreCores));
    EXPECT_FALSE(again.panel.checked[IDC_PLAY_AFTER]);
    EXPECT_FALSE(again.panel.playView);
    ASSERT_FALSE(again.panel.rows.empty());
    EXPECT_TRUE(again.panel.rows[0].summary.ends_with(", ran"));
}

// Tries made faster than their thumbnails: the oldest that wait are dropped,
// each holding a copy of its file; the newest try gets its thumbnail.
TEST(DialogLogic, TriesFasterThanTheirThumbnailsDropTheOldestThatWait) {
    if (std::string_view(GLITCHWERK_TEST_CORE).empty())
        GTEST_SKIP() << "glitchwerk-play was left out: no libretro.h (scripts/fetch-libretro.sh)";
#ifdef _WIN32
    GTEST_SKIP() << "under Wine a try takes longer than the thumbnail it waits for";
#endif
    TempDir cores;
    Bytes file = kOriginal;
    std::copy_n("SLOW", 4, file.begin()); // 2 ms a frame: 360 ms a thumbnail
    PanelSession run({}, file, TestCore(cores));
    for (const char* step : {"SEARCH_ALL", "RANGE_START=10", "RANGE_END=20", "REPLACE_VALUE=5A"})
        run.Do(step);
    constexpr std::size_t kTries = 12;
    for (std::size_t i = 0; i < kTries; ++i) {
        const std::size_t shown = run.panel.frames.size();
        run.Do(i == 0 ? "CORRUPT" : "RECORRUPT");
        ASSERT_TRUE(run.panel.Pump([&] { return run.panel.frames.size() > shown; }));
    }
    ASSERT_TRUE(run.panel.Pump([&] {
        return run.panel.rows.size() == kTries && !run.panel.rows.back().thumbnail.rgb.empty();
    }));
    EXPECT_LT(std::ranges::count_if(run.panel.rows,
                                    [](const auto& row) { return !row.thumbnail.rgb.empty(); }),
              9);
}

TEST(DialogLogic, AThumbnailIsTheFrameShrunkByAWholeFactor) {
    play::Frame frame{256, 240, {}};
    for (std::size_t i = 0; i < 256 * 240 * 3; ++i)
        frame.rgb.push_back(static_cast<std::uint8_t>(i % 251));
    // Its largest side, and the size and pixel (1, 1) of the thumbnail.
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::size_t> sides[] = {
        {256, 256, 240, 257}, {64, 64, 60, 4 * 257}, {63, 51, 48, 5 * 257}};
    for (const auto& [side, width, height, from] : sides) {
        const play::Frame small = Shrunk(frame, side);
        EXPECT_EQ(std::tuple(small.width, small.height, small.rgb.size()),
                  std::tuple(width, height, std::size_t{width} * height * 3));
        EXPECT_EQ(small.rgb[(width + 1) * 3], frame.rgb[from * 3]) << side;
    }
}

// A core that refuses, crashes or hangs gives the row its outcome, the view a line, and the
// window never waits for it.
TEST(DialogLogic, ATryThatDoesNotRunSaysHowAndTheWindowGoesOn) {
    if (std::string_view(GLITCHWERK_TEST_CORE).empty())
        GTEST_SKIP() << "glitchwerk-play was left out: no libretro.h (scripts/fetch-libretro.sh)";
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"NOPE", "refused", kPlayRefused},
        {"CRSH", "crashed", kPlayCrashed},
        {"HANG", "hung", PlayHung(1001)},
    };
    for (const auto& [marker, outcome, state] : cases) {
        SCOPED_TRACE(marker);
        TempDir cores;
        Bytes file = kOriginal;
        std::copy(marker, marker + 4, file.begin());
        PanelSession run({}, file, TestCore(cores));
        for (const char* step :
             {"SEARCH_ALL", "RANGE_START=10", "RANGE_END=20", "REPLACE_VALUE=5A"})
            run.Do(step);
        const auto started = std::chrono::steady_clock::now();
        run.Do("CORRUPT");
        EXPECT_LT(std::chrono::steady_clock::now() - started, 250ms);
        ASSERT_TRUE(run.panel.Pump([&, outcome = outcome, state = state] {
            return !run.panel.rows.empty() && run.panel.rows[0].summary.ends_with(outcome) &&
                   run.panel.playState == state;
        })) << run.panel.playState;
        EXPECT_TRUE(run.panel.frames.empty());
        EXPECT_TRUE(run.panel.rows[0].thumbnail.rgb.empty());
    }
}

} // namespace
} // namespace glitchwerk
