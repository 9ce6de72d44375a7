// SPDX-License-Identifier: MIT
#pragma once
// The panel in Qt: a tool window of its own beside the dialog, built from the
// panel's control table, with the clipboard, a save-file dialog and the data
// folder that the panel's logic asks for.

#include "dialog/panel_view.h"

#include <QThreadPool>
#include <QWidget>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

class QKeyEvent;
class QLabel;
class QListWidget;
class QTreeWidget;

namespace glitchwerk {

class CGlitchwerkDlg;

// Qt's image readers, scaled to fit `width` x `height`; images whose header
// claims more than kMostPreviewPixels are refused unread.
ImageDecoder QtImageDecoder(int width, int height);

// The joypad button a key stands for in the play view (arrows; Z B, X A;
// Enter Start; Right Shift Select), or 0.
std::uint16_t JoypadButton(const QKeyEvent& key);

class QtPanelView : public QWidget, public PanelView {
  public:
    QtPanelView(CGlitchwerkDlg& logic, QWidget* dialog);
    ~QtPanelView() override;
    QtPanelView(const QtPanelView&) = delete;
    QtPanelView& operator=(const QtPanelView&) = delete;

    // Opens the panel beside the dialog, both placed on the dialog's screen
    // (dialog/placement.h), or raises it.
    void Open();
    // Where the cores are: the installed ones unless set before the panel is
    // first shown.
    void UsePlaySetup(PlaySetup setup) { m_playSetup = std::move(setup); }

    bool IsOpen() const override;
    std::string FieldText(int id) const override;
    void SetFieldText(int id, const std::string& text) override;
    void ShowText(int id, const std::string& text) override;
    bool IsChecked(int id) const override;
    void SetChecked(int id, bool checked) override;
    void SetEnabled(int id, bool enabled) override;
    void ShowHistory(const std::vector<HistoryRow>& rows, int selected) override;
    int SelectedRow() const override;
    void SetClipboardText(const std::string& text) override;
    std::optional<std::string> ClipboardText() const override;
    std::optional<std::filesystem::path>
    AskForSaveName(const std::string& title, const std::filesystem::path& suggested,
                   const std::vector<FileType>& types) override;
    std::optional<std::filesystem::path>
    AskForOpenName(const std::string& title, const std::filesystem::path& folder,
                   const std::vector<FileType>& types) override;
    std::filesystem::path DataFolder() const override;
    void ShowParts(const std::vector<std::string>& rows, const std::vector<bool>& kept) override;
    int SelectedPart() const override;
    bool PartKept(int row) const override;
    void ShowChoices(int id, const std::vector<std::string>& items, int selected) override;
    int SelectedChoice(int id) const override;
    ImageDecoder PreviewDecoder() const override;
    void ShowPreview(const PreviewPicture& picture) override;
    void RunInBackground(std::function<void()> work, std::function<void()> done) override;
    PlaySetup Playing() const override;
    void ShowPlayView(bool shown) override;
    void ShowFrame(const play::Frame& frame) override;
    void ShowPlayState(const std::string& text) override;
    void Post(std::function<void()> task) override;

  private:
    template <typename T> T* Control(int id) const;
    void Place();
    // The controls for a panel `width` pixels wide: those that give lose
    // what it lacks of its natural width.
    void Layout(int width);

    static constexpr std::size_t kControlCount = std::size(kPanelControls);
    std::array<QWidget*, kControlCount> m_controls{};
    std::array<QRect, kControlCount> m_places{}; // at the panel's natural width
    QSize m_natural;
    int m_narrowest = 0;
    // The part whose box was ticked or cleared since the last press on a row:
    // the click that comes with a tick is no choice of the part.
    int m_tickedPart = -1;
    CGlitchwerkDlg& m_logic;
    QWidget* m_dialog;
    std::optional<PlaySetup> m_playSetup;
    QThreadPool m_workers; // the previews' decoding, waited for when the panel goes
};

} // namespace glitchwerk
