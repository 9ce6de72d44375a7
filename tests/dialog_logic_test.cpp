// SPDX-License-Identifier: MIT
#include "dialog/control_table.h"
#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "engine/tiles.h"
#include "tests/temp_dir.h"
#ifdef GLITCHWERK_HAS_CLI
#include "cli/cli.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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
    void RunWithProgress(const std::string& title,
                         const std::function<void(const Progress&)>& work) override {
        progress.push_back(title);
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
    Texts rows;
    int selected = -1;
    std::string clipboard;
    std::optional<fs::path> saveName;
    bool replace = false;

    bool IsOpen() const override { return open; }
    void ShowHistory(const Texts& shown, int row) override { rows = shown, selected = row; }
    int SelectedRow() const override { return selected; }
    void SetClipboardText(const std::string& text) override { clipboard = text; }
    std::optional<fs::path> AskForSaveName(const fs::path&, bool& replaceIt) override {
        return replaceIt = replace, saveName;
    }
    // Parts and preview: the work runs at once, and the platform decodes no image.
    Texts parts;
    int part = -1;
    PreviewPicture preview;
    void ShowParts(const Texts& shown) override { parts = shown; }
    int SelectedPart() const override { return part; }
    ImageDecoder PreviewDecoder() const override { return {}; }
    void ShowPreview(const PreviewPicture& picture) override { preview = picture; }
    void RunInBackground(std::function<void()> work, std::function<void()> done) override {
        work(), done();
    }
    fs::path folder;
    fs::path DataFolder() const override { return folder; }
};

struct PanelSession : Session {
    Panel panel;
    explicit PanelSession(const fs::path& dataFolder = {}) {
        panel.folder = dataFolder;
        Start();
        dialog.AttachPanel(panel);
        dialog.OnPanelShown();
    }
    void Spread(int choice, const std::string& n = "") {
        panel.texts[choice == IDC_SPREAD_NTH ? IDC_SPREAD_N : IDC_SPREAD_K] = n;
        dialog.OnPanelCommand(choice);
    }
};

TEST(DialogLogic, ApplyAgainAndTheCopiedRecipeMakeTheChainsBytes) {
    PanelSession run;
    for (const char* step : {"SEARCH_ALL", "REPLACE_RANDOM", "RANGE_START=10", "RANGE_END=300"})
        run.Do(step);
    run.Spread(IDC_SPREAD_PICK, "40");
    run.Do("CORRUPT");
    run.Spread(IDC_SPREAD_NTH, "3");
    run.Do("CORRUPT");
    run.Do("RANGE_START=400"); // processes no byte: left out of the recipe
    run.Do("CORRUPT");
    const Bytes chain = ReadFile(run.rom);
    ASSERT_EQ(run.panel.rows.size(), 1u);
    EXPECT_NE(run.panel.rows[0].find("seed "), std::string::npos);
    run.Do("RANGE_START=0");
    run.Do("RECORRUPT");
    EXPECT_NE(ReadFile(run.rom), chain);

    run.panel.selected = 0;
    run.dialog.OnPanelCommand(IDC_APPLY_AGAIN);
    EXPECT_EQ(ReadFile(run.rom), chain);
    EXPECT_EQ(run.panel.rows.size(), 3u);
    run.dialog.OnPanelCommand(IDC_COPY_RECIPE);
    EXPECT_EQ(run.panel.clipboard.find("--range 400"), std::string::npos) << run.panel.clipboard;
#ifdef GLITCHWERK_HAS_CLI
    std::vector<std::string> words = SplitCommand(run.panel.clipboard);
    ASSERT_EQ(words.front(), "glitchwerk-cli");
    run.Do("RESTORE"); // the recipe starts from the original
    std::ostringstream out, err;
    ASSERT_EQ(RunCli({words.begin() + 1, words.end()}, out, err), 0) << err.str();
    EXPECT_EQ(ReadFile(run.dir / "game-glitch.nes"), chain);
#endif
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
    const auto saveAs = [](const fs::path& name, bool replace = false) {
        return [=](PanelSession& r) {
            WriteFile("kept.bin", {7});
            r.panel.saveName = name.empty() ? r.rom : name;
            r.panel.replace = replace;
            r.dialog.OnPanelCommand(IDC_SAVE_COPY);
        };
    };
    const Case cases[] = {
        {"quiet",
         [](PanelSession& r) {
             r.panel.checked[IDC_QUIET_RESULTS] = true;
             r.Do("RECORRUPT"), r.Do("RESTORE");
             EXPECT_EQ(r.panel.texts[IDC_PANEL_STATUS], kRestored);
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
        {"over the file", saveAs({}, true), {kCopyNotOverOwn}},
        {"over the data file", saveAs(kDataFileName, true), {kCopyNotOverOwn}},
        {"over another", saveAs("kept.bin"), {CopyNotSaved("kept.bin")}},
        {"new",
         [&](PanelSession& r) {
             saveAs("copy.nes")(r);
             EXPECT_EQ(ReadFile("copy.nes"), kOriginal);
             EXPECT_EQ(ReadFile("kept.bin"), Bytes{7});
         },
         {kCopySaved}},
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
}

TEST(DialogLogic, KeptHistoryComesBackUntilUntickedAndADamagedOneIsSetAside) {
    const TempDir data;
    const fs::path folder = data / "kept"; // made by the first run
    {
        PanelSession run(folder);
        run.panel.checked[IDC_KEEP_HISTORY] = true;
        run.panel.texts[IDC_RUN_AFTER] = "viewer %f";
        run.Do("CORRUPT");
    }
    const fs::path kept = fs::directory_iterator(folder)->path();
    for (const int keepAfter : {1, 0}) {
        PanelSession run(folder);
        EXPECT_EQ(run.panel.rows.size(), 1u);
        EXPECT_EQ(run.panel.texts[IDC_RUN_AFTER], "viewer %f");
        run.panel.checked[IDC_KEEP_HISTORY] = keepAfter;
        run.dialog.OnPanelCommand(IDC_KEEP_HISTORY);
        EXPECT_EQ(fs::exists(kept), keepAfter == 1);
    }
    WriteFile(kept, {'{', '\n'});
    PanelSession run(folder);
    EXPECT_TRUE(run.panel.rows.empty());
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0], HistorySetAside(PathText(kept) + ".damaged"));
}

} // namespace
} // namespace glitchwerk
