// SPDX-License-Identifier: MIT
// A dialog session on game.bin for sweep.sh (see there); prints each message,
// and VIOLATION where a success told of is not on the disk.
#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "dialog/resource.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <vector>

namespace {
using namespace glitchwerk;

// Raw system calls: the shim neither counts nor fails them.
std::string Raw(const std::string& path) {
    std::string bytes;
    const long fd = syscall(SYS_openat, AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC);
    char block[1 << 16];
    for (long got = 0; fd >= 0 && (got = syscall(SYS_read, fd, block, sizeof block)) > 0;)
        bytes.append(block, static_cast<std::size_t>(got));
    return fd >= 0 ? (syscall(SYS_close, fd), bytes) : "(none)";
}

struct View : DialogView {
    mutable std::map<int, std::string> texts;
    mutable std::map<int, bool> checked;
    Answer exitAnswer = Answer::Yes;
    std::string last;
    bool ended = false;

    std::string FieldText(int id) const override { return texts[id]; }
    void SetFieldText(int id, const std::string& text) override { texts[id] = text; }
    void ShowText(int id, const std::string& text) override { texts[id] = text; }
    bool IsChecked(int id) const override { return checked[id]; }
    void SetChecked(int id, bool on) override { checked[id] = on; }
    void SetEnabled(int, bool) override {}
    std::optional<std::filesystem::path> AskForFile() override { return std::nullopt; }
    Answer ShowMessage(const std::string& text, MessageButtons buttons) override {
        std::cout << "MESSAGE " << text << '\n';
        last = text;
        return buttons == MessageButtons::Ok ? Answer::Ok : exitAnswer;
    }
    void RunWithProgress(const std::string&,
                         const std::function<void(const Progress&)>& work) override {
        work([](std::uint64_t, std::uint64_t) {});
    }
    void EndDialog() override { ended = true; }
};

// The panel, answering as a user who keeps the history and saves copies.
struct PanelAnswers : PanelView {
    mutable std::map<int, std::string> texts;
    mutable std::map<int, bool> checked;
    std::vector<HistoryRow> rows;
    int selected = -1;
    std::filesystem::path saveAs;

    std::string FieldText(int id) const override { return texts[id]; }
    void SetFieldText(int id, const std::string& text) override { texts[id] = text; }
    void ShowText(int id, const std::string& text) override { texts[id] = text; }
    bool IsChecked(int id) const override { return checked[id]; }
    void SetChecked(int id, bool on) override { checked[id] = on; }
    void SetEnabled(int, bool) override {}
    bool IsOpen() const override { return true; }
    void ShowHistory(const std::vector<HistoryRow>& shown, int row) override {
        rows = shown, selected = row;
    }
    int SelectedRow() const override { return selected; }
    void SetClipboardText(const std::string&) override {}
    std::optional<std::string> ClipboardText() const override { return std::nullopt; }
    std::optional<std::filesystem::path> AskForSaveName(const std::string&,
                                                        const std::filesystem::path&,
                                                        const std::vector<FileType>&) override {
        return saveAs;
    }
    std::optional<std::filesystem::path> AskForOpenName(const std::string&,
                                                        const std::filesystem::path&,
                                                        const std::vector<FileType>&) override {
        return std::nullopt;
    }
    std::filesystem::path DataFolder() const override { return "kept"; }
    void ShowParts(const std::vector<std::string>&, const std::vector<bool>&) override {}
    int SelectedPart() const override { return -1; }
    bool PartKept(int) const override { return false; }
    void ShowChoices(int, const std::vector<std::string>&, int) override {}
    int SelectedChoice(int) const override { return -1; }
    ImageDecoder PreviewDecoder() const override { return {}; }
    void ShowPreview(const PreviewPicture&) override {}
    void RunInBackground(std::function<void()> work, std::function<void()> done) override {
        work(), done();
    }
    PlaySetup Playing() const override { return {}; } // nothing plays
    void ShowPlayView(bool) override {}
    void ShowFrame(const glitchwerk::play::Frame&) override {}
    void ShowPlayState(const std::string&) override {}
    void Post(std::function<void()>) override {}
};

} // namespace

int main(int argc, char** argv) {
    const std::string original = Raw(argc == 3 ? argv[2] : ""), answer = argc == 3 ? argv[1] : "";
    View view;
    view.exitAnswer = answer == "no" ? Answer::No : Answer::Yes;
    CGlitchwerkDlg dialog(view);
    dialog.OpenAtStart("game.bin");
    int violations = 0;
    const auto check = [&](const std::string& command, bool restored) {
        const std::string now = Raw("game.bin");
        if (((restored || view.last == messages::kRestored) && now != original) ||
            (view.last == messages::kCorrupted && now.size() != original.size()))
            ++violations, std::cout << "VIOLATION after " << command << '\n';
        view.last.clear();
    };
    PanelAnswers panel;
    if (dialog.OnInitDialog()) {
        dialog.OnShown();
        view.texts[IDC_RANGE_START] = "1000";
        view.texts[IDC_RANGE_END] = "40000";
        dialog.OnCommand(IDC_SEARCH_ALL);
        dialog.OnCommand(IDC_REPLACE_RANDOM);
        if (answer == "panel") {
            // History kept, a pick, a copy, Apply again, the copy again over the first.
            dialog.AttachPanel(panel);
            dialog.OnPanelShown();
            panel.checked[IDC_KEEP_HISTORY] = true;
            dialog.OnPanelCommand(IDC_KEEP_HISTORY);
            panel.texts[IDC_SPREAD_K] = "500";
            dialog.OnPanelCommand(IDC_SPREAD_PICK);
            dialog.OnCommand(IDC_CORRUPT);
            check("Corrupt", false);
            view.exitAnswer = Answer::Yes; // to "Replace it?", and at exit
            for (const int command : {IDC_SAVE_COPY, IDC_APPLY_AGAIN, IDC_SAVE_COPY}) {
                const std::string before = Raw("game.bin");
                panel.selected = 0;
                panel.saveAs = "copy.bin";
                dialog.OnPanelCommand(command);
                if (view.last == messages::kCopySaved && Raw("copy.bin") != before)
                    ++violations, std::cout << "VIOLATION the copy is not the file\n";
                check("panel " + std::to_string(command), false);
            }
            dialog.OnCommand(IDC_RESTORE);
            check("Restore", false);
        } else {
            const int steps[] = {IDC_CORRUPT, IDC_RESTORE, IDC_RECORRUPT, IDC_RESTORE};
            for (std::size_t i = 0; i < (answer == "yes" ? 3U : 4U); ++i) {
                dialog.OnCommand(steps[i]);
                check(std::to_string(steps[i]), false);
            }
        }
        dialog.OnCommand(IDCANCEL);
        check("Exit", view.ended && answer != "no");
    }
    return violations ? 1 : 0;
}
