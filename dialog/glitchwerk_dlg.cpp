// SPDX-License-Identifier: MIT
#include "dialog/glitchwerk_dlg.h"

#include "dialog/messages.h"
#include "dialog/resource.h"
#include "engine/corruption_pass.h"

#include <functional>
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

// Long work through the view's progress view titled `title`.
WorkRunner Runner(DialogView& view, const char* title) {
    return [&view, title](const std::function<void(const Progress&)>& work) {
        view.RunWithProgress(title, work);
    };
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

Form FormOf(const CorruptionStep& step) {
    const ByteRule& rule = step.rule;
    Form form;
    form.rangeStart = HexText(step.startOffset);
    form.rangeEnd = HexText(step.endOffset);
    form.searchMode = rule.searchMode;
    if (rule.searchMode == SearchMode::SearchSpecificByte)
        form.searchValue = HexText(rule.searchValue);
    if (rule.searchMode == SearchMode::SearchByteRange) {
        form.searchLow = HexText(rule.searchValue);
        form.searchHigh = HexText(rule.searchHigh);
    }
    // The panel's own rules are no choice of the form's: its replacement is
    // left at the first button.
    switch (rule.replaceMode) {
    case ReplaceMode::ReplaceSpecificByte:
        form.replaceValue = HexText(rule.replaceValue);
        break;
    case ReplaceMode::ReplaceIncreaseBy:
    case ReplaceMode::ReplaceDecreaseBy:
        form.stepValue = HexText(rule.replaceValue);
        [[fallthrough]];
    case ReplaceMode::ReplaceRandomByte:
        form.replaceMode = rule.replaceMode;
        break;
    default:
        break;
    }
    if (step.whole.kind != WholeRule::None)
        form.searchMode = SearchMode::SearchAllBytes;
    return form;
}

CGlitchwerkDlg::CGlitchwerkDlg(DialogView& view) : m_view(view) {}

bool CGlitchwerkDlg::OnInitDialog() {
    const std::optional<std::filesystem::path> path =
        m_fileToOpen ? m_fileToOpen : m_view.AskForFile();
    if (!path) {
        m_view.EndDialog();
        return false;
    }
    const BackupResult result = m_run.Start(*path, Runner(m_view, messages::kCopying));
    if (const char* failure = StartFailure(result)) {
        Message(failure);
        TellKeptLeftover(); // kept before a later step failed
        m_view.EndDialog();
        return false;
    }
    SetReplaceMode(ReplaceMode::ReplaceSpecificByte);
    SetSearchMode(SearchMode::SearchSpecificByte);
    m_view.ShowText(IDC_FILE_SIZE, HexText(Backup().romLength));
    m_view.ShowText(IDC_FILE_PATH, PathText(Backup().romPath));
    return true;
}

void CGlitchwerkDlg::OnShown() {
    TellKeptLeftover();
}

void CGlitchwerkDlg::TellKeptLeftover() {
    if (!Backup().keptFile.empty())
        Message(messages::LeftoverKept(PathText(Backup().keptFile)));
}

void CGlitchwerkDlg::OnCommand(int id) {
    for (const auto& [entry, handler] : kMessageMap) {
        if (entry == id) {
            m_panel.ClearStatus();
            return handler(*this);
        }
    }
}

bool CGlitchwerkDlg::DataFileWhole(BackupCheck& check) {
    check = m_run.Check(Runner(m_view, messages::kChecking));
    return check.lost == 0;
}

void CGlitchwerkDlg::OnCancel() {
    const Answer answer = m_view.ShowMessage(messages::kExitQuestion, MessageButtons::YesNoCancel);
    if (answer != Answer::Yes && answer != Answer::No)
        return;
    BackupCheck check;
    if (answer == Answer::Yes && !m_run.Restore(Runner(m_view, messages::kRestoring))) {
        Message(messages::kExitRestoreFailed); // the data file keeps the copy
        if (!DataFileWhole(check))
            Message(messages::DataFileChangedStill(check.lost, check.blocks));
        return;
    }
    // Answered No, the file keeps its corruption: the data file must hold the
    // originals before it is emptied, else what is left of them is kept.
    if (answer == Answer::No && !DataFileWhole(check)) {
        if (!m_run.KeepDataFile()) {
            Message(messages::DataFileChangedStill(check.lost, check.blocks));
            return;
        }
        Message(messages::DataFileChanged(check.lost, check.blocks, PathText(Backup().keptFile)));
    }
    // After a failed restore the file may be anything; the data file's copy
    // is then kept rather than emptied.
    const bool keepOriginals = Backup().restoreFailed && !Backup().originalsKept;
    m_panel.OnExit();
    const bool emptied = m_run.Clear();
    if (keepOriginals && Backup().keptFile.empty()) {
        Message(messages::kOriginalsNotKept);
        return;
    }
    if (keepOriginals)
        Message(messages::OriginalsKept(PathText(Backup().keptFile)));
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

void CGlitchwerkDlg::SetForm(const Form& form) {
    for (const auto& [id, text] : {std::pair{IDC_RANGE_START, &form.rangeStart},
                                   {IDC_RANGE_END, &form.rangeEnd},
                                   {IDC_SEARCH_VALUE, &form.searchValue},
                                   {IDC_SEARCH_LOW, &form.searchLow},
                                   {IDC_SEARCH_HIGH, &form.searchHigh},
                                   {IDC_REPLACE_VALUE, &form.replaceValue},
                                   {IDC_STEP_VALUE, &form.stepValue}})
        m_view.SetFieldText(id, *text);
    SetSearchMode(form.searchMode);
    SetReplaceMode(form.replaceMode);
}

void CGlitchwerkDlg::ResetResults() {
    m_view.ShowText(IDC_TOTAL_BYTES, "0");
    m_view.ShowText(IDC_FIRST_BYTE, "");
    m_view.ShowText(IDC_LAST_BYTE, "");
}

void CGlitchwerkDlg::OnCorrupt() {
    Corrupt();
}

void CGlitchwerkDlg::Corrupt() {
    ResetResults();
    if (const std::optional<CorruptionStep> step = FormStep())
        RunStep(*step);
}

std::optional<CorruptionStep> CGlitchwerkDlg::FormStep() {
    const std::optional<Spread> spread = m_panel.ReadSpread();
    if (!spread)
        return std::nullopt;
    const Form form = ReadForm();
    return CorruptionStep{ParseHexField(form.rangeStart), ParseHexField(form.rangeEnd),
                          RuleOf(form), *spread};
}

void CGlitchwerkDlg::CorruptBy(const CorruptionStep& step, bool reCorrupt) {
    if (reCorrupt && !m_run.Restore(Runner(m_view, messages::kRestoring))) {
        ResetResults();
        return TellRestoreFailed();
    }
    ResetResults();
    RunStep(step);
}

void CGlitchwerkDlg::RunStep(const CorruptionStep& step) {
    const CRun::StepOutcome outcome =
        m_run.Corrupt(step, m_panel.Options(), Runner(m_view, messages::kCorrupting));
    switch (outcome.pass) {
    case PassOutcome::Done:
        break;
    case PassOutcome::NotOpened:
        Message(messages::kCorruptNotOpened);
        return;
    case PassOutcome::Incomplete:
        Message(messages::kCorruptIncomplete);
        return;
    }
    const CorruptionResult& result = outcome.result;
    if (result.totalBytes != 0) {
        m_view.ShowText(IDC_TOTAL_BYTES, std::to_string(result.totalBytes));
        m_view.ShowText(IDC_FIRST_BYTE, HexText(static_cast<std::uint32_t>(result.firstByte)));
        m_view.ShowText(IDC_LAST_BYTE, HexText(static_cast<std::uint32_t>(result.lastByte)));
    }
    m_panel.Tell(messages::kCorrupted);
    if (outcome.nothingHit)
        m_panel.Status(messages::kNothingHit);
    else if (!outcome.mended.empty())
        m_panel.Status(messages::Mended(outcome.mended));
    m_panel.Corrupted();
}

void CGlitchwerkDlg::OnRestore() {
    if (m_run.Restore(Runner(m_view, messages::kRestoring)))
        m_panel.Tell(messages::kRestored);
    else
        TellRestoreFailed();
}

void CGlitchwerkDlg::OnReCorrupt() {
    // A corruption is only worth running on the pristine bytes: when they
    // cannot be put back, say so rather than corrupt a half-restored file.
    if (!m_run.Restore(Runner(m_view, messages::kRestoring))) {
        ResetResults();
        TellRestoreFailed();
        return;
    }
    Corrupt();
}

void CGlitchwerkDlg::TellRestoreFailed() {
    Message(messages::kRestoreFailed);
    BackupCheck check;
    if (!DataFileWhole(check))
        Message(messages::DataFileChangedStill(check.lost, check.blocks));
}

void CGlitchwerkDlg::Message(const std::string& text) {
    m_view.ShowMessage(text, MessageButtons::Ok);
}

} // namespace glitchwerk
