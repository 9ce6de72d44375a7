// SPDX-License-Identifier: MIT
#pragma once
// What the panel's logic asks of a face: the panel window's controls by
// identifier (from resource.h, laid out by kPanelControls), the history list,
// the clipboard, a save-file dialog and the user's data folder. Plain C++, like
// DialogView; message boxes still go through the dialog's view. Texts are
// UTF-8; paths are paths.

#include "dialog/dialog_view.h"
#include "dialog/resource.h"
#include "play/core_choice.h"
#include "play/play_client.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace glitchwerk {

// Combo: a drop-down list to choose from. PartList: a list whose rows each
// have a check box. Play: where a running game is shown, which takes keys.
enum class PanelControlKind {
    Frame,
    Radio,
    Edit,
    Check,
    Button,
    List,
    Text,
    Picture,
    Combo,
    PartList,
    Play
};

// One control of the panel, in tab order; places in dialog units as in the
// dialog's own table. Where the screen leaves the panel less than its width,
// the controls that `give` lose the difference from theirs (the lists and the
// preview of the right-hand column), down to kPanelNarrowest.
struct PanelControl {
    int id;
    PanelControlKind kind;
    const char* caption; // UTF-8
    int x, y, width, height;
    bool give = false;
};

inline constexpr char kPanelCaption[] = "Glitchwerk panel";
inline constexpr int kPanelWidth = 366;
inline constexpr int kPanelNarrowest = 326;
inline constexpr int kPanelHeight = 327;
// Between the dialog and the panel, in pixels.
inline constexpr int kPanelGap = 8;
// The preview follows a typed range once typing has paused this long.
inline constexpr int kTypedRangePauseMs = 400;

// The play view and the preview take turns in one place.
inline constexpr PanelControl kPanelControls[] = {
    {IDC_STATIC, PanelControlKind::Frame, "Spread", 7, 4, 186, 52},
    {IDC_SPREAD_EVERY, PanelControlKind::Radio, "Every byte found", 13, 15, 120, 10},
    {IDC_SPREAD_NTH, PanelControlKind::Radio, "Every Nth byte found, N:", 13, 28, 124, 10},
    {IDC_SPREAD_N, PanelControlKind::Edit, "", 140, 27, 46, 12},
    {IDC_SPREAD_PICK, PanelControlKind::Radio, "K bytes found, by the seed:", 13, 41, 124, 10},
    {IDC_SPREAD_K, PanelControlKind::Edit, "", 140, 40, 46, 12},
    {IDC_STATIC, PanelControlKind::Frame, "Rule", 7, 58, 186, 42},
    {IDC_RULE, PanelControlKind::Combo, "", 13, 69, 124, 120},
    {IDC_RULE_VALUE, PanelControlKind::Edit, "", 140, 69, 46, 12},
    {IDC_MEND, PanelControlKind::Check, "Mend checksums", 13, 85, 124, 10},
    {IDC_PANEL_RECORRUPT, PanelControlKind::Button, "Re-Corrupt", 7, 104, 60, 14},
    {IDC_PANEL_CORRUPT, PanelControlKind::Button, "Corrupt", 70, 104, 60, 14},
    {IDC_SAVE_COPY, PanelControlKind::Button, "Save copy as\xE2\x80\xA6", 133, 104, 60, 14},
    {IDC_STATIC, PanelControlKind::Text, "History:", 7, 122, 186, 8},
    {IDC_HISTORY, PanelControlKind::List, "", 7, 132, 186, 70},
    {IDC_STATIC, PanelControlKind::Text, "Name:", 7, 207, 22, 8},
    {IDC_TRY_NAME, PanelControlKind::Edit, "", 30, 205, 103, 12},
    {IDC_STAR, PanelControlKind::Check, "Starred", 137, 206, 56, 10},
    {IDC_APPLY_AGAIN, PanelControlKind::Button, "Apply again", 7, 221, 60, 14},
    {IDC_USE_FORM, PanelControlKind::Button, "Use form", 70, 221, 60, 14},
    {IDC_SAVE_TRY, PanelControlKind::Button, "Save try\xE2\x80\xA6", 133, 221, 60, 14},
    {IDC_COPY_RECIPE, PanelControlKind::Button, "Copy recipe", 7, 237, 60, 14},
    {IDC_OPEN_RECIPE, PanelControlKind::Button, "Open recipe\xE2\x80\xA6", 70, 237, 60, 14},
    {IDC_PASTE_RECIPE, PanelControlKind::Button, "Paste recipe", 133, 237, 60, 14},
    {IDC_KEEP_HISTORY, PanelControlKind::Check, "Keep history and settings", 7, 255, 186, 10},
    {IDC_QUIET_RESULTS, PanelControlKind::Check, "Show results without a message box", 7, 266, 186,
     10},
    {IDC_STATIC, PanelControlKind::Text, "Run after corrupt (%f is the file):", 7, 279, 186, 8},
    {IDC_RUN_AFTER, PanelControlKind::Edit, "", 7, 289, 186, 12},
    {IDC_PANEL_STATUS, PanelControlKind::Text, "", 7, 305, 186, 18},
    {IDC_STATIC, PanelControlKind::Text, "Parts (ticked: kept):", 200, 4, 159, 8, true},
    {IDC_PARTS, PanelControlKind::PartList, "", 200, 14, 159, 52, true},
    {IDC_PREVIEW, PanelControlKind::Picture, "", 200, 70, 159, 200, true},
    {IDC_PLAY_VIEW, PanelControlKind::Play, "", 200, 70, 159, 200, true},
    {IDC_PLAY_AFTER, PanelControlKind::Check, "Play after corrupt", 200, 274, 159, 10, true},
    {IDC_STATIC, PanelControlKind::Text, "Core:", 200, 288, 22, 8},
    {IDC_CORE, PanelControlKind::Combo, "", 224, 286, 135, 120, true},
    {IDC_PLAY_KEYS, PanelControlKind::Text,
     "Keys: arrows; Z B, X A; Enter Start; Right Shift Select", 200, 302, 159, 21, true},
};

// One row of the history: when, its name or star, and its hits; then its
// steps, in a column of their own.
// Its thumbnail, when the try was played: frame 180 of a run with no input.
struct HistoryRow {
    std::string summary;
    std::string steps;
    play::Frame thumbnail;
    bool operator==(const HistoryRow& other) const {
        return summary == other.summary && steps == other.steps &&
               thumbnail.width == other.thumbnail.width &&
               thumbnail.height == other.thumbnail.height && thumbnail.rgb == other.thumbnail.rgb;
    }
};

// Where the cores are and how the helper runs; no cores, no play.
struct PlaySetup {
    play::CoreFolders cores;
    play::SessionOptions session;
};

// A type a file dialog offers: its name and its pattern ("*.nes").
struct FileType {
    std::string name;
    std::string pattern;
};

// What the preview shows: 8-bit grey (1 channel) or 32-bit RGBA (4), rows
// packed; or, when there is no picture, why in one line.
struct PreviewPicture {
    int width = 0;
    int height = 0;
    int channels = 1;
    std::vector<std::uint8_t> pixels;
    std::string why;
};

// Decodes `bytes` with the platform's image readers, scaled to fit the
// preview. Nothing when no reader knows them; a picture with `why` when one
// does and fails. Runs on a worker thread, apart from the view.
using ImageDecoder =
    std::function<std::optional<PreviewPicture>(std::span<const std::uint8_t> bytes)>;

// Its controls: entry fields (IDC_SPREAD_N, IDC_SPREAD_K, IDC_TRY_NAME,
// IDC_RUN_AFTER) as typed and as set from kept settings, the status text
// (IDC_PANEL_STATUS), radio buttons and check boxes. Enter in an entry field
// is reported as that field's command; a double click on a history row as
// IDC_USE_FORM.
class PanelView : public ControlsView {
  public:
    // Whether the panel is open: everything it sets acts only then.
    virtual bool IsOpen() const = 0;

    // The history list (IDC_HISTORY): its rows, oldest first, and which is
    // selected (-1: none). A click on a row is reported as the command
    // IDC_HISTORY.
    virtual void ShowHistory(const std::vector<HistoryRow>& rows, int selected) = 0;
    virtual int SelectedRow() const = 0;

    virtual void SetClipboardText(const std::string& text) = 0;
    // The clipboard's text, or nothing when it holds none.
    virtual std::optional<std::string> ClipboardText() const = 0;
    // A file name to save under or to open, or nothing when the user cancels.
    // The dialog asks nothing of a file that exists (the logic does), offers
    // `types`, and starts at `suggested` (a name in a folder, or a folder).
    virtual std::optional<std::filesystem::path>
    AskForSaveName(const std::string& title, const std::filesystem::path& suggested,
                   const std::vector<FileType>& types) = 0;
    virtual std::optional<std::filesystem::path>
    AskForOpenName(const std::string& title, const std::filesystem::path& folder,
                   const std::vector<FileType>& types) = 0;
    // The folder for the user's kept history and settings (it may not exist
    // yet), or an empty path when there is none.
    virtual std::filesystem::path DataFolder() const = 0;

    // The parts list (IDC_PARTS): its rows, each with a box ticked where
    // `kept` says (unticked past its end), and its selected row (-1: none). A
    // click on a row is reported as the command IDC_PARTS; a box ticked or
    // cleared as IDC_PARTS_KEEP, with its row selected.
    virtual void ShowParts(const std::vector<std::string>& rows, const std::vector<bool>& kept) = 0;
    virtual int SelectedPart() const = 0;
    virtual bool PartKept(int row) const = 0;

    // A drop-down list (IDC_RULE, IDC_CORE): its items and the chosen one
    // (-1: none). The user's choice is reported as the command `id`.
    virtual void ShowChoices(int id, const std::vector<std::string>& items, int selected) = 0;
    virtual int SelectedChoice(int id) const = 0;

    // The preview (IDC_PREVIEW). The decoder scales to the preview's size now.
    virtual ImageDecoder PreviewDecoder() const = 0;
    virtual void ShowPreview(const PreviewPicture& picture) = 0;
    // Runs `work` on a worker thread, then `done` on the window's thread,
    // unless the panel is gone by then.
    virtual void RunInBackground(std::function<void()> work, std::function<void()> done) = 0;

    // The play view (IDC_PLAY_VIEW), in the preview's place while `shown`.
    // Keys pressed while it has the focus go to CGlitchwerkDlg::OnPlayKeys.
    virtual PlaySetup Playing() const = 0;
    virtual void ShowPlayView(bool shown) = 0;
    virtual void ShowFrame(const play::Frame& frame) = 0;
    // A line in the view instead of a game; empty while one plays.
    virtual void ShowPlayState(const std::string& text) = 0;
    // From any thread: runs `task` on the window's thread, unless the panel
    // is gone by then.
    virtual void Post(std::function<void()> task) = 0;
};

} // namespace glitchwerk
