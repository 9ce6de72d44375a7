// SPDX-License-Identifier: MIT
#include "dialog/glitchwerk_dlg.h"

#include "dialog/messages.h"
#include "dialog/resource.h"
#include "engine/corruption_pass.h"

#include <algorithm>
#include <ctime>
#include <type_traits>
#include <utility>

namespace glitchwerk {
namespace {

// The buttons' handlers, by identifier.
using Handler = void (*)(CGlitchwerkDlg&);
constexpr std::pair<int, Handler> kMessageMap[] = {
    {IDC_REPLACE_SPECIFIC,
     [](CGlitchwerkDlg& d) { d.SetReplaceMode(ReplaceMode::ReplaceSpecificByte); }},
    {IDC_REPLACE_DECREASE,
     [](CGlitchwerkDlg& d) { d.SetReplaceMode(ReplaceMode::ReplaceDecreaseBy); }},
    {IDC_REPLACE_INCREASE,
     [](CGlitchwerkDlg& d) { d.SetReplaceMode(ReplaceMode::ReplaceIncreaseBy); }},
    {IDC_REPLACE_RANDOM,
     [](CGlitchwerkDlg& d) { d.SetReplaceMode(ReplaceMode::ReplaceRandomByte); }},
    {IDC_SEARCH_ALL, [](CGlitchwerkDlg& d) { d.SetSearchMode(SearchMode::SearchAllBytes); }},
    {IDC_SEARCH_SPECIFIC,
     [](CGlitchwerkDlg& d) { d.SetSearchMode(SearchMode::SearchSpecificByte); }},
    {IDC_SEARCH_RANGE, [](CGlitchwerkDlg& d) { d.SetSearchMode(SearchMode::SearchByteRange); }},
    {IDC_RESTORE, [](CGlitchwerkDlg& d) { d.OnRestore(); }},
    {IDC_RECORRUPT, [](CGlitchwerkDlg& d) { d.OnReCorrupt(); }},
    {IDC_CORRUPT, [](CGlitchwerkDlg& d) { d.OnCorrupt(); }},
    {IDCANCEL, [](CGlitchwerkDlg& d) { d.OnCancel(); }},
};

// Runs `work` through the view's progress and returns what it returns.
template <typename Work> auto WithProgress(DialogView& view, const char* title, Work work) {
    std::invoke_result_t<Work, const Progress&> result{};
    view.RunWithProgress(title, [&](const Progress& progress) { result = work(progress); });
    return result;
}

const char* StartFailure(BackupResult result) {
    switch (result) {
    case BackupResult::BackupCreated:
        return nullptr;
    case BackupResult::DataFileNotCreated:
        return messages::kDataFileNotCreated;
    case BackupResult::EditedFileNotOpened:
        return messages::kFileNotOpened;
    case BackupResult::DataFileInUse:
        return messages::kDataFileInUse;
    case BackupResult::EditedFileIsDataFile:
        return messages::kFileIsDataFile;
    case BackupResult::EditedFileTooLarge:
        return messages::kFileTooLarge;
    case BackupResult::DataFileUnsafe:
        return messages::kDataFileUnsafe;
    case BackupResult::EditedFileInUse:
        return messages::kFileInUse;
    }
    return messages::kFileNotOpened;
}

std::uint8_t ByteOf(const std::string& text) {
    return ClampByte(static_cast<std::int32_t>(ParseHexField(text)));
}

} // namespace

std::string HexText(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

std::string PathText(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.native(); // the name's own bytes, UTF-8 where the system's names are
#endif
}

ByteRule RuleOf(const Form& form) {
    ByteRule rule{form.searchMode, 0, 0, form.replaceMode, 0};
    switch (form.searchMode) {
    case SearchMode::SearchSpecificByte:
        rule.searchValue = ByteOf(form.searchValue);
        break;
    case SearchMode::SearchByteRange:
        rule.searchValue = ByteOf(form.searchLow);
        rule.searchHigh = ByteOf(form.searchHigh);
        break;
    case SearchMode::SearchAllBytes:
        break;
    }
    switch (form.replaceMode) {
    case ReplaceMode::ReplaceSpecificByte:
        rule.replaceValue = ByteOf(form.replaceValue);
        break;
    case ReplaceMode::ReplaceIncreaseBy:
    case ReplaceMode::ReplaceDecreaseBy:
        rule.replaceValue = ByteOf(form.stepValue);
        break;
    case ReplaceMode::ReplaceRandomByte:
    case ReplaceMode::ReplaceXor: // the panel's own rules: no field of the form
    case ReplaceMode::ReplaceFlipBit:
    case ReplaceMode::ReplaceRotateLeft:
    case ReplaceMode::ReplaceTilt:
        break;
    }
    return rule;
}

CGlitchwerkDlg::CGlitchwerkDlg(DialogView& view) : m_view(view) {}

bool CGlitchwerkDlg::OnInitDialog() {
    m_stream = {static_cast<std::uint32_t>(std::time(nullptr)), 0};

    const std::optional<std::filesystem::path> path =
        m_fileToOpen ? m_fileToOpen : m_view.AskForFile();
    if (!path) {
        m_view.EndDialog();
        return false;
    }
    const BackupResult result = WithProgress(m_view, messages::kCopying, [&](const Progress& p) {
        return CreateBackup(m_backup, *path, p);
    });
    if (const char* failure = StartFailure(result)) {
        Message(failure);
        TellKeptLeftover(); // kept before a later step failed
        m_view.EndDialog();
        return false;
    }
    SetReplaceMode(ReplaceMode::ReplaceSpecificByte);
    SetSearchMode(SearchMode::SearchSpecificByte);
    m_view.ShowText(IDC_FILE_SIZE, HexText(m_backup.romLength));
    m_view.ShowText(IDC_FILE_PATH, PathText(m_backup.romPath));
    return true;
}

void CGlitchwerkDlg::OnShown() {
    TellKeptLeftover();
}

void CGlitchwerkDlg::TellKeptLeftover() {
    if (!m_backup.keptFile.empty())
        Message(messages::LeftoverKept(PathText(m_backup.keptFile)));
}

void CGlitchwerkDlg::OnCommand(int id) {
    for (const auto& [entry, handler] : kMessageMap) {
        if (entry == id)
            return handler(*this);
    }
}

void CGlitchwerkDlg::OnCancel() {
    switch (m_view.ShowMessage(messages::kExitQuestion, MessageButtons::YesNoCancel)) {
    case Answer::Yes:
        if (!Restore()) {
            Message(messages::kExitRestoreFailed); // the data file keeps the copy
            return;
        }
        break;
    case Answer::No:
        break;
    default:
        return;
    }
    // After a failed restore the file may be anything; the data file's copy
    // is then kept rather than emptied.
    const bool keepOriginals = m_backup.restoreFailed;
    const bool emptied = ClearBackup(m_backup);
    if (keepOriginals && m_backup.keptFile.empty()) {
        Message(messages::kOriginalsNotKept);
        return;
    }
    if (keepOriginals)
        Message(messages::OriginalsKept(PathText(m_backup.keptFile)));
    if (!emptied)
        Message(messages::kDataFileNotEmptied);
    m_view.EndDialog();
}

void CGlitchwerkDlg::SetSearchMode(SearchMode mode) {
    m_view.SetChecked(IDC_SEARCH_SPECIFIC, mode == SearchMode::SearchSpecificByte);
    m_view.SetChecked(IDC_SEARCH_RANGE, mode == SearchMode::SearchByteRange);
    m_view.SetChecked(IDC_SEARCH_ALL, mode == SearchMode::SearchAllBytes);
    m_view.SetEnabled(IDC_SEARCH_VALUE, mode == SearchMode::SearchSpecificByte);
    m_view.SetEnabled(IDC_SEARCH_LOW, mode == SearchMode::SearchByteRange);
    m_view.SetEnabled(IDC_SEARCH_HIGH, mode == SearchMode::SearchByteRange);
}

void CGlitchwerkDlg::SetReplaceMode(ReplaceMode mode) {
    m_view.SetChecked(IDC_REPLACE_SPECIFIC, mode == ReplaceMode::ReplaceSpecificByte);
    m_view.SetChecked(IDC_REPLACE_INCREASE, mode == ReplaceMode::ReplaceIncreaseBy);
    m_view.SetChecked(IDC_REPLACE_DECREASE, mode == ReplaceMode::ReplaceDecreaseBy);
    m_view.SetChecked(IDC_REPLACE_RANDOM, mode == ReplaceMode::ReplaceRandomByte);
    m_view.SetEnabled(IDC_REPLACE_VALUE, mode == ReplaceMode::ReplaceSpecificByte);
    m_view.SetEnabled(IDC_STEP_VALUE, mode == ReplaceMode::ReplaceIncreaseBy ||
                                          mode == ReplaceMode::ReplaceDecreaseBy);
}

Form CGlitchwerkDlg::ReadForm() const {
    Form form{m_view.FieldText(IDC_RANGE_START),  m_view.FieldText(IDC_RANGE_END),
              m_view.FieldText(IDC_SEARCH_VALUE), m_view.FieldText(IDC_SEARCH_LOW),
              m_view.FieldText(IDC_SEARCH_HIGH),  m_view.FieldText(IDC_REPLACE_VALUE),
              m_view.FieldText(IDC_STEP_VALUE)};
    // In this order, a later checked button over an earlier one; the rule
    // selectors keep exactly one checked.
    for (const auto& [id, mode] : {std::pair{IDC_SEARCH_SPECIFIC, SearchMode::SearchSpecificByte},
                                   {IDC_SEARCH_RANGE, SearchMode::SearchByteRange},
                                   {IDC_SEARCH_ALL, SearchMode::SearchAllBytes}}) {
        if (m_view.IsChecked(id))
            form.searchMode = mode;
    }
    for (const auto& [id, mode] :
         {std::pair{IDC_REPLACE_SPECIFIC, ReplaceMode::ReplaceSpecificByte},
          {IDC_REPLACE_INCREASE, ReplaceMode::ReplaceIncreaseBy},
          {IDC_REPLACE_DECREASE, ReplaceMode::ReplaceDecreaseBy},
          {IDC_REPLACE_RANDOM, ReplaceMode::ReplaceRandomByte}}) {
        if (m_view.IsChecked(id))
            form.replaceMode = mode;
    }
    return form;
}

void CGlitchwerkDlg::ResetResults() {
    m_view.ShowText(IDC_TOTAL_BYTES, "0");
    m_view.ShowText(IDC_FIRST_BYTE, "");
    m_view.ShowText(IDC_LAST_BYTE, "");
}

void CGlitchwerkDlg::OnCorrupt() {
    Corrupt(false);
}

void CGlitchwerkDlg::Corrupt(bool reCorrupt) {
    ResetResults();

    const std::optional<Spread> spread = m_panel.ReadSpread();
    if (!spread)
        return;
    const Form form = ReadForm();
    const CorruptionStep step{ParseHexField(form.rangeStart), ParseHexField(form.rangeEnd),
                              RuleOf(form), *spread};
    const CorruptionRequest request{m_backup.romPath, m_backup.romLength, {step}};
    std::vector<CorruptionResult> results;
    m_panel.BeforeWrite();
    RandomStream& stream = m_panel.StreamFor(m_stream);
    const PassOutcome outcome = WithProgress(m_view, messages::kCorrupting, [&](const Progress& p) {
        return RunCorruptionPass(m_backup, request, stream, results, p);
    });
    m_stream.draw = std::max(m_stream.draw, stream.draw);
    m_panel.Preview();
    m_panel.Record(step, outcome, results.empty() ? CorruptionResult{0, -1, -1} : results.front(),
                   m_backup.romLength);
    if (reCorrupt)
        m_panel.EndChain();
    switch (outcome) {
    case PassOutcome::Done:
        break;
    case PassOutcome::NotOpened:
        Message(messages::kCorruptNotOpened);
        return;
    case PassOutcome::Incomplete:
        Message(messages::kCorruptIncomplete);
        return;
    }
    const CorruptionResult& result = results.front();
    if (result.totalBytes != 0) {
        m_view.ShowText(IDC_TOTAL_BYTES, std::to_string(result.totalBytes));
        m_view.ShowText(IDC_FIRST_BYTE, HexText(static_cast<std::uint32_t>(result.firstByte)));
        m_view.ShowText(IDC_LAST_BYTE, HexText(static_cast<std::uint32_t>(result.lastByte)));
    }
    m_panel.Tell(messages::kCorrupted);
    m_panel.RunAfterCorrupt();
}

void CGlitchwerkDlg::OnRestore() {
    m_panel.EndChain();
    const bool restored = Restore();
    m_panel.Preview();
    if (restored)
        m_panel.Tell(messages::kRestored);
    else
        Message(messages::kRestoreFailed);
}

void CGlitchwerkDlg::OnReCorrupt() {
    m_panel.EndChain();
    // A corruption is only worth running on the pristine bytes: when they
    // cannot be put back, say so rather than corrupt a half-restored file.
    if (!Restore()) {
        m_panel.Preview();
        ResetResults();
        Message(messages::kRestoreFailed);
        return;
    }
    Corrupt(true);
}

bool CGlitchwerkDlg::Restore() {
    m_panel.BeforeWrite();
    return WithProgress(m_view, messages::kRestoring,
                        [this](const Progress& p) { return RestoreFromBackup(m_backup, p); });
}

void CGlitchwerkDlg::Message(const std::string& text) {
    m_view.ShowMessage(text, MessageButtons::Ok);
}

} // namespace glitchwerk
