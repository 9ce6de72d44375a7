// SPDX-License-Identifier: MIT
#include "app/glitchwerk_dlg.h"

#include "app/prompts.h"
#include "app/qt_path.h"
#include "app/resource.h"
#include "engine/corruption_pass.h"

#include <QButtonGroup>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cmath>
#include <ctime>
#include <limits>
#include <string_view>

namespace glitchwerk {
namespace {

enum class Kind { Edit, Radio, Button, DefaultButton, Text, RightText, Frame };

// One control of the form. Places are in dialog units: a quarter of the
// average character width across, an eighth of the character height down.
struct ControlTemplate {
    int id;
    const char* name;
    Kind kind;
    const char* caption;
    int x, y, width, height;
};

// An identifier and its name, which becomes the control's objectName.
#define ID(identifier) identifier, #identifier

// The form, in tab order.
constexpr ControlTemplate kControls[] = {
    {ID(IDC_RANGE_START), Kind::Edit, "", 11, 63, 40, 12},
    {ID(IDC_RANGE_END), Kind::Edit, "", 63, 63, 40, 12},
    {ID(IDC_SEARCH_SPECIFIC), Kind::Radio, "Specific Byte:", 12, 94, 66, 8},
    {ID(IDC_SEARCH_RANGE), Kind::Radio, "Range of Bytes:", 12, 108, 76, 8},
    {ID(IDC_SEARCH_ALL), Kind::Radio, "All Bytes", 12, 135, 52, 8},
    {ID(IDC_REPLACE_SPECIFIC), Kind::Radio, "Specific Byte:", 119, 94, 68, 8},
    {ID(IDC_REPLACE_INCREASE), Kind::Radio, "Increase by:", 119, 108, 58, 8},
    {ID(IDC_REPLACE_DECREASE), Kind::Radio, "Decrease by:", 119, 117, 58, 8},
    {ID(IDC_REPLACE_RANDOM), Kind::Radio, "Random Byte", 119, 135, 58, 8},
    {ID(IDC_SEARCH_VALUE), Kind::Edit, "", 80, 92, 19, 12},
    {ID(IDC_SEARCH_LOW), Kind::Edit, "", 21, 119, 19, 12},
    {ID(IDC_SEARCH_HIGH), Kind::Edit, "", 52, 119, 19, 12},
    {ID(IDC_REPLACE_VALUE), Kind::Edit, "", 189, 92, 19, 12},
    {ID(IDC_STEP_VALUE), Kind::Edit, "", 180, 111, 19, 12},
    {ID(IDC_RECORRUPT), Kind::DefaultButton, "Re-Corrupt", 7, 152, 51, 14},
    {ID(IDC_CORRUPT), Kind::Button, "Corrupt", 59, 152, 51, 14},
    {ID(IDC_RESTORE), Kind::Button, "Restore", 112, 152, 51, 14},
    {ID(IDCANCEL), Kind::Button, "Exit", 164, 152, 51, 14},
    {ID(IDC_STATIC), Kind::Text, "Editing file:", 7, 7, 53, 8},
    {ID(IDC_FILE_PATH), Kind::Text, "", 7, 18, 208, 24},
    {ID(IDC_STATIC), Kind::Text, "File Size:", 7, 44, 41, 8},
    {ID(IDC_FILE_SIZE), Kind::Text, "", 49, 44, 59, 8},
    {ID(IDC_STATIC), Kind::Frame, "Range of Corruption:", 7, 54, 101, 27},
    {ID(IDC_STATIC), Kind::Text, "to", 53, 66, 9, 8},
    {ID(IDC_STATIC), Kind::Frame, "Search For:", 7, 84, 101, 63},
    {ID(IDC_STATIC), Kind::Text, "to", 42, 122, 9, 8},
    {ID(IDC_STATIC), Kind::Frame, "Replace With:", 114, 84, 101, 63},
    {ID(IDC_STATIC), Kind::Frame, "Results:", 114, 43, 101, 39},
    {ID(IDC_STATIC), Kind::RightText, "Last byte:", 117, 69, 48, 8},
    {ID(IDC_STATIC), Kind::RightText, "First byte:", 117, 60, 48, 8},
    {ID(IDC_STATIC), Kind::RightText, "Total bytes:", 117, 51, 48, 8},
    {ID(IDC_TOTAL_BYTES), Kind::Text, "", 166, 51, 46, 8},
    {ID(IDC_FIRST_BYTE), Kind::Text, "", 166, 60, 46, 8},
    {ID(IDC_LAST_BYTE), Kind::Text, "", 166, 69, 46, 8},
};

#undef ID

constexpr int kDialogWidth = 222;
constexpr int kDialogHeight = 173;
// About the smallest size at which every caption, radio mark included, fits
// its place in DejaVu Sans Mono.
constexpr double kFontPoints = 10.5;

// Converts dialog units to pixels for the dialog's font.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetricsF metrics(font);
        const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        // Rounded up, so that a caption of n characters fits in 4n units.
        baseX_ = static_cast<int>(std::ceil(metrics.horizontalAdvance(letters) / 52));
        baseY_ = static_cast<int>(std::ceil(metrics.height()));
    }
    // Each edge is mapped on its own, so that neighbours that touch in
    // dialog units touch in pixels.
    QRect Map(int x, int y, int width, int height) const {
        const int left = Scale(x, baseX_, 4);
        const int top = Scale(y, baseY_, 8);
        return QRect(left, top, Scale(x + width, baseX_, 4) - left,
                     Scale(y + height, baseY_, 8) - top);
    }

  private:
    static int Scale(int units, int base, int divisor) {
        return (units * base + divisor / 2) / divisor;
    }
    int baseX_;
    int baseY_;
};

QFont DialogFont() {
    QFont font("DejaVu Sans Mono");
    font.setStyleHint(QFont::TypeWriter); // another fixed-pitch font where it is missing
    font.setFixedPitch(true);
    font.setPointSizeF(kFontPoints);
    return font;
}

// What assistive technology calls the controls whose caption is elsewhere;
// the property keeps it, for fields that add their text to it.
constexpr char kCaption[] = "glitchwerkCaption";
constexpr std::pair<int, const char*> kAccessibleNames[] = {
    {IDC_RANGE_START, "Range of Corruption: start"},
    {IDC_RANGE_END, "Range of Corruption: end"},
    {IDC_SEARCH_VALUE, "Search For: Specific Byte"},
    {IDC_SEARCH_LOW, "Search For: Range of Bytes, from"},
    {IDC_SEARCH_HIGH, "Search For: Range of Bytes, to"},
    {IDC_REPLACE_VALUE, "Replace With: Specific Byte"},
    {IDC_STEP_VALUE, "Replace With: Increase or Decrease by"},
    {IDC_FILE_PATH, "Editing file"},
    {IDC_FILE_SIZE, "File Size"},
    {IDC_TOTAL_BYTES, "Total bytes"},
    {IDC_FIRST_BYTE, "First byte"},
    {IDC_LAST_BYTE, "Last byte"},
};

// A radio button in a button group whose arrow keys still only move the
// focus, as they do for a button alone: they never check another button.
class ArrowKeysMoveFocus final : public QRadioButton {
  public:
    using QRadioButton::QRadioButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down)
            focusNextPrevChild(key == Qt::Key_Right || key == Qt::Key_Down);
        else
            QRadioButton::keyPressEvent(event);
    }
};

QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) {
    const QString caption = QString::fromLatin1(control.caption);
    switch (control.kind) {
    case Kind::Edit: {
        // Any text of any length; ParseHexField says how it reads.
        auto* edit = new QLineEdit(parent);
        edit->setMaxLength(std::numeric_limits<int>::max());
        return edit;
    }
    case Kind::Radio: {
        // Out of the tab order. Each rule group is an exclusive button group
        // (so that screen readers say radio button), and the rule selectors
        // keep it so.
        auto* radio = new ArrowKeysMoveFocus(caption, parent);
        radio->setFocusPolicy(Qt::ClickFocus);
        return radio;
    }
    case Kind::Button:
    case Kind::DefaultButton: {
        auto* button = new QPushButton(caption, parent);
        button->setDefault(control.kind == Kind::DefaultButton);
        return button;
    }
    case Kind::Text:
    case Kind::RightText: {
        // Plain text: a file path is shown as it is, never as markup or a shortcut.
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setText(caption);
        label->setWordWrap(true);
        label->setAlignment((control.kind == Kind::RightText ? Qt::AlignRight : Qt::AlignLeft) |
                            Qt::AlignTop);
        return label;
    }
    case Kind::Frame: {
        // A frame is created after the controls inside it and so lies on top
        // of them; it must let their clicks through.
        auto* frame = new QGroupBox(caption, parent);
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        // The frame line runs through the middle of the caption, so that the
        // controls placed just below the caption stay clear of it.
        frame->setStyleSheet("QGroupBox { border: 1px solid palette(mid); margin-top: 0.5em; }"
                             "QGroupBox::title { subcontrol-origin: margin; left: 0.5em;"
                             " padding: 0 2px; top: 0; }");
        return frame;
    }
    }
    return nullptr;
}

std::uint32_t ReadHexField(const QLineEdit* edit) {
    const QByteArray text = edit->text().toLatin1(); // one byte per typed character
    return ParseHexField(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

std::uint8_t ReadByteField(const QLineEdit* edit) {
    return ClampByte(static_cast<std::int32_t>(ReadHexField(edit)));
}

// "%X": upper-case hexadecimal without prefix or leading zeros.
QString HexText(std::uint32_t value) {
    return QString::number(value, 16).toUpper();
}

} // namespace

const CGlitchwerkDlg::MessageMapEntry CGlitchwerkDlg::kMessageMap[] = {
    {IDC_REPLACE_SPECIFIC, &CGlitchwerkDlg::OnReplaceSpecific},
    {IDC_REPLACE_DECREASE, &CGlitchwerkDlg::OnDecrease},
    {IDC_REPLACE_INCREASE, &CGlitchwerkDlg::OnIncrease},
    {IDC_REPLACE_RANDOM, &CGlitchwerkDlg::OnRandom},
    {IDC_SEARCH_ALL, &CGlitchwerkDlg::OnSearchAll},
    {IDC_SEARCH_SPECIFIC, &CGlitchwerkDlg::OnSearchSpecific},
    {IDC_SEARCH_RANGE, &CGlitchwerkDlg::OnSearchRange},
    {IDC_RESTORE, &CGlitchwerkDlg::OnRestore},
    {IDC_RECORRUPT, &CGlitchwerkDlg::OnReCorrupt},
    {IDC_CORRUPT, &CGlitchwerkDlg::OnCorrupt},
};

CGlitchwerkDlg::CGlitchwerkDlg(Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts) {
    m_hIcon.addFile(":/icons/glitchwerk-32.png");
    m_hIcon.addFile(":/icons/glitchwerk-16.png");
    setWindowIcon(m_hIcon);
    setObjectName("IDD_GLITCHWERK_DIALOG");
    setWindowTitle("Glitchwerk");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    BuildControls();
    BindControls();
    ConnectMessageMap();
}

template <typename T> T* CGlitchwerkDlg::Control(int id) const {
    for (std::size_t i = 0; i < kControlCount; ++i) {
        if (kControls[i].id != id)
            continue;
        // A kind changed in the control table stops the program here, at once.
        if (auto* control = qobject_cast<T*>(m_controls[i]))
            return control;
        qFatal("Control %d is no %s", id, T::staticMetaObject.className());
    }
    qFatal("No control %d", id);
}

template <typename Work> auto CGlitchwerkDlg::WithProgress(const char* what, Work work) {
    const std::unique_ptr<ProgressView> view = m_prompts.ShowProgress(this, what);
    view->Update(0, 0);
    return work([&view](std::uint64_t done, std::uint64_t total) { view->Update(done, total); });
}

void CGlitchwerkDlg::BuildControls() {
    static_assert(std::size(kControls) == kControlCount);
    const DialogUnits units(font());
    for (std::size_t i = 0; i < kControlCount; ++i) {
        const ControlTemplate& control = kControls[i];
        QWidget* widget = CreateControl(control, this);
        widget->setObjectName(control.name);
        widget->setGeometry(units.Map(control.x, control.y, control.width, control.height));
        m_controls[i] = widget;
    }
    setFixedSize(units.Map(0, 0, kDialogWidth, kDialogHeight).size());
    for (const auto& [id, name] : kAccessibleNames) {
        Control<QWidget>(id)->setProperty(kCaption, name);
        Control<QWidget>(id)->setAccessibleName(name);
    }
}

void CGlitchwerkDlg::BindControls() {
    m_totalBytesText = Control<QLabel>(IDC_TOTAL_BYTES);
    m_rangeStartEdit = Control<QLineEdit>(IDC_RANGE_START);
    m_rangeEndEdit = Control<QLineEdit>(IDC_RANGE_END);
    m_searchLowEdit = Control<QLineEdit>(IDC_SEARCH_LOW);
    m_searchHighEdit = Control<QLineEdit>(IDC_SEARCH_HIGH);
    m_searchRangeRadio = Control<QRadioButton>(IDC_SEARCH_RANGE);
    m_searchValueEdit = Control<QLineEdit>(IDC_SEARCH_VALUE);
    m_searchSpecificRadio = Control<QRadioButton>(IDC_SEARCH_SPECIFIC);
    m_searchAllRadio = Control<QRadioButton>(IDC_SEARCH_ALL);
    m_randomRadio = Control<QRadioButton>(IDC_REPLACE_RANDOM);
    m_increaseRadio = Control<QRadioButton>(IDC_REPLACE_INCREASE);
    m_decreaseRadio = Control<QRadioButton>(IDC_REPLACE_DECREASE);
    m_replaceValueEdit = Control<QLineEdit>(IDC_REPLACE_VALUE);
    m_replaceSpecificRadio = Control<QRadioButton>(IDC_REPLACE_SPECIFIC);
    m_lastByteText = Control<QLabel>(IDC_LAST_BYTE);
    m_stepEdit = Control<QLineEdit>(IDC_STEP_VALUE);
    m_firstByteText = Control<QLabel>(IDC_FIRST_BYTE);
    m_fileSizeText = Control<QLabel>(IDC_FILE_SIZE);
    m_filePathText = Control<QLabel>(IDC_FILE_PATH);
    using Buttons = std::initializer_list<QAbstractButton*>;
    for (const Buttons group :
         {Buttons{m_searchSpecificRadio, m_searchRangeRadio, m_searchAllRadio},
          Buttons{m_replaceSpecificRadio, m_increaseRadio, m_decreaseRadio, m_randomRadio}}) {
        auto* exclusive = new QButtonGroup(this);
        for (QAbstractButton* button : group)
            exclusive->addButton(button);
    }
}

void CGlitchwerkDlg::ConnectMessageMap() {
    for (const MessageMapEntry& entry : kMessageMap) {
        auto* button = Control<QAbstractButton>(entry.id);
        connect(button, &QAbstractButton::clicked, this,
                [this, handler = entry.handler] { (this->*handler)(); });
    }
    // Exit, like Esc and the close box, reaches the exit prompt.
    connect(Control<QAbstractButton>(IDCANCEL), &QAbstractButton::clicked, this,
            &CGlitchwerkDlg::reject);
}

int CGlitchwerkDlg::DoModal() {
    if (!OnInitDialog())
        return result();
    return exec();
}

bool CGlitchwerkDlg::OnInitDialog() {
    m_stream = {static_cast<std::uint32_t>(std::time(nullptr)), 0};

    const std::optional<std::filesystem::path> path =
        m_fileToOpen ? m_fileToOpen : m_prompts.AskForFile(this);
    if (!path) {
        QDialog::reject();
        return false;
    }
    const char* failure = nullptr;
    switch (WithProgress("Copying the file to Glitchwerk.dat",
                         [&](const Progress& p) { return CreateBackup(m_backup, *path, p); })) {
    case BackupResult::BackupCreated:
        break;
    case BackupResult::DataFileNotCreated:
        failure = "Unable to create data file.\nApplication cannot continue.";
        break;
    case BackupResult::EditedFileNotOpened:
        failure = "Error opening file.";
        break;
    case BackupResult::DataFileInUse:
        failure = "Data file is in use by another Glitchwerk window.\nApplication cannot continue.";
        break;
    case BackupResult::EditedFileIsDataFile:
        failure = "Glitchwerk.dat is the data file and cannot be edited.\nApplication cannot "
                  "continue.";
        break;
    case BackupResult::EditedFileTooLarge:
        failure = "File is too large (2 GB or more).\nApplication cannot continue.";
        break;
    case BackupResult::DataFileUnsafe:
        failure = "Glitchwerk.dat is not a plain file of your own.\nApplication cannot continue.";
        break;
    case BackupResult::EditedFileInUse:
        failure = "File is in use by another Glitchwerk window.\nApplication cannot continue.";
        break;
    }
    if (failure) {
        Message(failure);
        TellKeptLeftover(); // kept before a later step failed
        QDialog::reject();
        return false;
    }

    SetReplaceMode(ReplaceMode::ReplaceSpecificByte);
    SetSearchMode(SearchMode::SearchSpecificByte);
    Show(m_fileSizeText, HexText(m_backup.romLength));
    Show(m_filePathText, ToText(m_backup.romPath));
    m_rangeStartEdit->setFocus();
    QTimer::singleShot(0, this, &CGlitchwerkDlg::TellKeptLeftover); // once the window is up
    return true;
}

void CGlitchwerkDlg::TellKeptLeftover() {
    if (!m_backup.keptFile.empty()) {
        Message("Glitchwerk.dat held the backup of a run that did not end normally.\nIt was kept "
                "as " +
                ToText(m_backup.keptFile) + ".");
    }
}

void CGlitchwerkDlg::reject() {
    switch (
        m_prompts.ShowMessage(this, "Restore file before exiting?", MessageButtons::YesNoCancel)) {
    case Answer::Yes:
        if (!Restore()) {
            Message("Error\nCould not restore file."); // the data file keeps the copy
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
    ClearBackup(m_backup);
    if (keepOriginals && m_backup.keptFile.empty()) {
        Message("The last restore failed and the original bytes could not be kept.\nRestore the "
                "file, or make room on the disk and exit again.");
        return;
    }
    if (keepOriginals) {
        Message("The last restore failed.\nThe original bytes are kept in " +
                ToText(m_backup.keptFile) + ".");
    }
    QDialog::reject();
}

void CGlitchwerkDlg::SetSearchMode(SearchMode mode) {
    m_searchSpecificRadio->setChecked(mode == SearchMode::SearchSpecificByte);
    m_searchRangeRadio->setChecked(mode == SearchMode::SearchByteRange);
    m_searchAllRadio->setChecked(mode == SearchMode::SearchAllBytes);
    m_searchValueEdit->setEnabled(mode == SearchMode::SearchSpecificByte);
    m_searchLowEdit->setEnabled(mode == SearchMode::SearchByteRange);
    m_searchHighEdit->setEnabled(mode == SearchMode::SearchByteRange);
}

void CGlitchwerkDlg::SetReplaceMode(ReplaceMode mode) {
    m_replaceSpecificRadio->setChecked(mode == ReplaceMode::ReplaceSpecificByte);
    m_increaseRadio->setChecked(mode == ReplaceMode::ReplaceIncreaseBy);
    m_decreaseRadio->setChecked(mode == ReplaceMode::ReplaceDecreaseBy);
    m_randomRadio->setChecked(mode == ReplaceMode::ReplaceRandomByte);
    m_replaceValueEdit->setEnabled(mode == ReplaceMode::ReplaceSpecificByte);
    m_stepEdit->setEnabled(mode == ReplaceMode::ReplaceIncreaseBy ||
                           mode == ReplaceMode::ReplaceDecreaseBy);
}

ByteRule CGlitchwerkDlg::ReadRule() const {
    ByteRule rule{};
    if (m_searchSpecificRadio->isChecked()) {
        rule.searchMode = SearchMode::SearchSpecificByte;
        rule.searchValue = ReadByteField(m_searchValueEdit);
    }
    if (m_searchRangeRadio->isChecked()) {
        rule.searchMode = SearchMode::SearchByteRange;
        rule.searchValue = ReadByteField(m_searchLowEdit);
        rule.searchHigh = ReadByteField(m_searchHighEdit);
    }
    if (m_searchAllRadio->isChecked())
        rule.searchMode = SearchMode::SearchAllBytes;

    if (m_replaceSpecificRadio->isChecked()) {
        rule.replaceMode = ReplaceMode::ReplaceSpecificByte;
        rule.replaceValue = ReadByteField(m_replaceValueEdit);
    }
    if (m_increaseRadio->isChecked()) {
        rule.replaceMode = ReplaceMode::ReplaceIncreaseBy;
        rule.replaceValue = ReadByteField(m_stepEdit);
    }
    if (m_decreaseRadio->isChecked()) {
        rule.replaceMode = ReplaceMode::ReplaceDecreaseBy;
        rule.replaceValue = ReadByteField(m_stepEdit);
    }
    if (m_randomRadio->isChecked())
        rule.replaceMode = ReplaceMode::ReplaceRandomByte;
    return rule;
}

void CGlitchwerkDlg::ResetResults() {
    Show(m_totalBytesText, "0");
    Show(m_firstByteText, "");
    Show(m_lastByteText, "");
}

void CGlitchwerkDlg::OnCorrupt() {
    ResetResults();

    const CorruptionRequest request{
        m_backup.romPath,
        m_backup.romLength,
        {{ReadHexField(m_rangeStartEdit), ReadHexField(m_rangeEndEdit), ReadRule()}}};
    std::vector<CorruptionResult> results;
    switch (WithProgress("Corrupting the file", [&](const Progress& p) {
        return RunCorruptionPass(m_backup, request, m_stream, results, p);
    })) {
    case PassOutcome::Done:
        break;
    case PassOutcome::NotOpened:
        Message("Error opening file:\nCorruption failed");
        return;
    case PassOutcome::Incomplete:
        Message("Error writing file:\nCorruption incomplete. Restore puts the original back.");
        return;
    }
    const CorruptionResult& result = results.front();
    if (result.totalBytes != 0) {
        Show(m_totalBytesText, QString::number(result.totalBytes));
        Show(m_firstByteText, HexText(static_cast<std::uint32_t>(result.firstByte)));
        Show(m_lastByteText, HexText(static_cast<std::uint32_t>(result.lastByte)));
    }
    Message("Corruption sucessful");
}

void CGlitchwerkDlg::OnRestore() {
    Message(Restore() ? "File Restore Sucessfully" : "Error\nUnable to  restore file");
}

void CGlitchwerkDlg::OnReCorrupt() {
    // A corruption is only worth running on the pristine bytes: when they
    // cannot be put back, say so rather than corrupt a half-restored file.
    if (!Restore()) {
        ResetResults();
        Message("Error\nUnable to  restore file");
        return;
    }
    OnCorrupt();
}

void CGlitchwerkDlg::Show(QLabel* field, const QString& text) {
    field->setText(text);
    // A label's accessible name hides its text: the name carries both.
    const QString caption = field->property(kCaption).toString();
    field->setAccessibleName(text.isEmpty() ? caption : caption + ": " + text);
}

bool CGlitchwerkDlg::Restore() {
    return WithProgress("Restoring the file",
                        [this](const Progress& p) { return RestoreFromBackup(m_backup, p); });
}

void CGlitchwerkDlg::Message(const QString& text) {
    m_prompts.ShowMessage(this, text, MessageButtons::Ok);
}

} // namespace glitchwerk
