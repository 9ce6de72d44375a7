// SPDX-License-Identifier: MIT
#pragma once
// The program's one window: the form that describes a corruption, the two
// rule selectors, the start of a run (file choice and backup), its commands
// and its exit.

#include "engine/backup_store.h"
#include "engine/byte_rules.h"

#include <QDialog>
#include <QIcon>

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>

class QLabel;
class QLineEdit;
class QRadioButton;

namespace glitchwerk {

class Prompts;

class CGlitchwerkDlg final : public QDialog {
  public:
    explicit CGlitchwerkDlg(Prompts& prompts, QWidget* parent = nullptr);

    // Starts the run and, when a file was backed up, shows the window until
    // the user exits. Returns QDialog::Rejected.
    int DoModal();

    // Start-up, before the window is first shown: asks for the file and backs
    // it up. Returns false when the run ends here; the window never appears.
    bool OnInitDialog();
    // A file chosen already (opened from the desktop): start-up edits it
    // without asking.
    void OpenAtStart(std::filesystem::path file) { m_fileToOpen = std::move(file); }

    // The exit prompt. The Exit button, the Esc key and the close box all come
    // here; QDialog::reject() is what ends the dialog.
    void reject() override;

    // The rule selectors: check exactly one button of the group and enable
    // only the fields that mode reads.
    void SetSearchMode(SearchMode mode);
    void SetReplaceMode(ReplaceMode mode);

  private:
    // The control with identifier `id` (from resource.h), of kind T.
    template <typename T> T* Control(int id) const;
    void BuildControls();
    void BindControls();
    void ConnectMessageMap();

    void OnReplaceSpecific() { SetReplaceMode(ReplaceMode::ReplaceSpecificByte); }
    void OnDecrease() { SetReplaceMode(ReplaceMode::ReplaceDecreaseBy); }
    void OnIncrease() { SetReplaceMode(ReplaceMode::ReplaceIncreaseBy); }
    void OnRandom() { SetReplaceMode(ReplaceMode::ReplaceRandomByte); }
    void OnSearchAll() { SetSearchMode(SearchMode::SearchAllBytes); }
    void OnSearchSpecific() { SetSearchMode(SearchMode::SearchSpecificByte); }
    void OnSearchRange() { SetSearchMode(SearchMode::SearchByteRange); }
    void OnRestore();
    void OnReCorrupt();
    void OnCorrupt();

    ByteRule ReadRule() const;
    void ResetResults();
    void Message(const QString& text);
    bool Restore();
    // Shows `text` in a result or file field.
    void Show(QLabel* field, const QString& text);
    // Runs `work`, given a Progress that shows in a progress view named `what`.
    template <typename Work> auto WithProgress(const char* what, Work work);
    void TellKeptLeftover();

    struct MessageMapEntry {
        int id;
        void (CGlitchwerkDlg::*handler)();
    };
    static const MessageMapEntry kMessageMap[];

    Prompts& m_prompts;
    static constexpr std::size_t kControlCount = 34;
    std::array<QWidget*, kControlCount> m_controls{}; // in the order of the control table

    QLabel* m_totalBytesText = nullptr;
    QLineEdit* m_rangeStartEdit = nullptr;
    QLineEdit* m_rangeEndEdit = nullptr;
    QLineEdit* m_searchLowEdit = nullptr;
    QLineEdit* m_searchHighEdit = nullptr;
    QRadioButton* m_searchRangeRadio = nullptr;
    QLineEdit* m_searchValueEdit = nullptr;
    QRadioButton* m_searchSpecificRadio = nullptr;
    QRadioButton* m_searchAllRadio = nullptr;
    QRadioButton* m_randomRadio = nullptr;
    QRadioButton* m_increaseRadio = nullptr;
    QRadioButton* m_decreaseRadio = nullptr;
    QLineEdit* m_replaceValueEdit = nullptr;
    QRadioButton* m_replaceSpecificRadio = nullptr;
    QLabel* m_lastByteText = nullptr;
    QLineEdit* m_stepEdit = nullptr;
    QLabel* m_firstByteText = nullptr;
    QLabel* m_fileSizeText = nullptr;
    QLabel* m_filePathText = nullptr;
    QIcon m_hIcon;
    BackupStore m_backup;
    RandomStream m_stream; // one per run, seeded from the time at start
    std::optional<std::filesystem::path> m_fileToOpen;
};

} // namespace glitchwerk
