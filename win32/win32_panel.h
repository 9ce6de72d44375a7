// SPDX-License-Identifier: MIT
#pragma once
// The panel on Windows: a modeless tool window beside the dialog, built from
// the panel's control table, with the clipboard, the save-file dialog and the
// roaming application data folder that the panel's logic asks for.

#include "dialog/panel_view.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

namespace glitchwerk {

class CGlitchwerkDlg;

class Win32Panel final : public PanelView {
  public:
    // Created hidden, owned by `dialog`, so that it stays over it.
    Win32Panel(CGlitchwerkDlg& logic, HWND dialog);
    ~Win32Panel() override;
    Win32Panel(const Win32Panel&) = delete;
    Win32Panel& operator=(const Win32Panel&) = delete;

    HWND Window() const { return m_window; }
    // Opens the panel beside the dialog, both placed on the dialog's monitor
    // (dialog/placement.h), without taking the focus from it.
    void Open();

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
    // Games do not play on this face yet: no cores, nothing to show.
    PlaySetup Playing() const override { return {}; }
    void ShowPlayView(bool) override {}
    void ShowFrame(const play::Frame&) override {}
    void ShowPlayState(const std::string&) override {}
    void Post(std::function<void()>) override {}

  private:
    struct Job;

    static INT_PTR CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Finish(Job* job);
    // The controls for a panel `width` pixels wide: those that give lose
    // what it lacks of its natural width.
    void Layout(int width);
    void OnPartChanged(const NMLISTVIEW& change);
    void DrawPreview(const DRAWITEMSTRUCT& item) const;

    CGlitchwerkDlg& m_logic;
    HWND m_dialog;
    HWND m_window = nullptr;
    std::vector<HWND> m_controls; // in the order of the control table
    bool m_quiet = false;         // the parts list changed by the panel, not the user
    // Work on worker threads, owned here until its `done` has run on the
    // window's thread, or joined and dropped when the panel goes.
    std::list<std::unique_ptr<Job>> m_jobs;
    // The preview as drawn: blue, green, red, unused; or the reason why not.
    int m_previewWidth = 0;
    int m_previewHeight = 0;
    bool m_tiles = false;
    std::vector<std::uint8_t> m_previewBits;
};

} // namespace glitchwerk
