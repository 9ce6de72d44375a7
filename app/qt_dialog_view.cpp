// SPDX-License-Identifier: MIT
#include "app/qt_dialog_view.h"

#include "app/qt_path.h"
#include "dialog/control_table.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

namespace glitchwerk {
namespace {

// About the smallest size at which every caption, radio mark included, fits
// its place in DejaVu Sans Mono.
constexpr double kFontPoints = 10.5;
constexpr int kProgressDelayMs = 500;
constexpr char kMessageTitle[] = "Glitchwerk"; // every message box's
// The property that keeps a text control's accessible name, to which its text is added.
constexpr char kCaption[] = "glitchwerkCaption";

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

// Nothing the user does stops the work: no Esc, no close box.
class UnstoppableProgress final : public QProgressDialog {
  public:
    using QProgressDialog::QProgressDialog;

  protected:
    void keyPressEvent(QKeyEvent* event) override { event->accept(); }
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

// While it lives, the user's input to every window of the program (the dialog,
// its panel) is dropped, not kept for later: a click made during the work
// never runs afterwards, nor while the work still uses the run's state.
class SwallowInput final : public QObject {
  public:
    SwallowInput() { QCoreApplication::instance()->installEventFilter(this); }
    ~SwallowInput() override { QCoreApplication::instance()->removeEventFilter(this); }
    SwallowInput(const SwallowInput&) = delete;
    SwallowInput& operator=(const SwallowInput&) = delete;

  protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (!target->isWidgetType())
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        case QEvent::Close:
            event->ignore(); // the window stays
            return true;
        default:
            return false;
        }
    }
};

// Runs `then` once, after the window is first on the screen: in the frame a
// window manager gives it, if there is one, so that frames can be measured.
class WhenExposed final : public QObject {
  public:
    WhenExposed(QWindow* window, std::function<void()> then)
        : QObject(window), m_then(std::move(then)) {
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(target)->isExposed()) {
            target->removeEventFilter(this);
            QTimer::singleShot(0, target, std::move(m_then));
            deleteLater();
        }
        return false;
    }

  private:
    std::function<void()> m_then;
};

QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) {
    const QString caption = QString::fromLatin1(control.caption);
    switch (control.kind) {
    case ControlKind::Edit: {
        // Any text of any length; ParseHexField says how it reads.
        auto* edit = new QLineEdit(parent);
        edit->setMaxLength(std::numeric_limits<int>::max());
        return edit;
    }
    case ControlKind::Radio: {
        // Out of the tab order. Each rule group is an exclusive button group
        // (so that screen readers say radio button), and the rule selectors
        // keep it so.
        auto* radio = new ArrowKeysMoveFocus(caption, parent);
        radio->setFocusPolicy(Qt::ClickFocus);
        return radio;
    }
    case ControlKind::Button:
    case ControlKind::DefaultButton: {
        auto* button = new QPushButton(caption, parent);
        button->setDefault(control.kind == ControlKind::DefaultButton);
        return button;
    }
    case ControlKind::Text:
    case ControlKind::RightText: {
        // Plain text: a file path is shown as it is, never as markup or a shortcut.
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setText(caption);
        label->setWordWrap(true);
        label->setAlignment(
            (control.kind == ControlKind::RightText ? Qt::AlignRight : Qt::AlignLeft) |
            Qt::AlignTop);
        return label;
    }
    case ControlKind::Frame: {
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

} // namespace

QtDialogView::QtDialogView(QWidget* parent) : QDialog(parent) {
    m_hIcon.addFile(":/icons/glitchwerk-32.png");
    m_hIcon.addFile(":/icons/glitchwerk-16.png");
    setWindowIcon(m_hIcon);
    setObjectName("IDD_GLITCHWERK_DIALOG");
    setWindowTitle(kDialogCaption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    BuildControls();
    m_panel = std::make_unique<QtPanelView>(m_logic, this);
    connect(new QShortcut(Qt::Key_F2, this), &QShortcut::activated, m_panel.get(),
            &QtPanelView::Open);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        connect(menu.addAction("Show panel"), &QAction::triggered, m_panel.get(),
                &QtPanelView::Open);
        menu.exec(mapToGlobal(at));
    });
}

template <typename T> T* QtDialogView::Control(int id) const {
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

void QtDialogView::BuildControls() {
    static_assert(std::size(kControls) == kControlCount);
    const DialogUnits units(font());
    for (std::size_t i = 0; i < kControlCount; ++i) {
        const ControlTemplate& control = kControls[i];
        QWidget* widget = CreateControl(control, this);
        widget->setObjectName(control.name);
        widget->setGeometry(units.Map(control.x, control.y, control.width, control.height));
        m_controls[i] = widget;
        // Every click on a button goes to the logic: a rule selector, a command or Exit.
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, id = control.id] { m_logic.OnCommand(id); });
        }
        // The range typed: once typing pauses, the panel's preview follows.
        if (control.id == IDC_RANGE_START || control.id == IDC_RANGE_END) {
            connect(qobject_cast<QLineEdit*>(widget), &QLineEdit::textEdited, &m_rangeTyped,
                    qOverload<>(&QTimer::start));
        }
    }
    m_rangeTyped.setSingleShot(true);
    m_rangeTyped.setInterval(kTypedRangePauseMs);
    connect(&m_rangeTyped, &QTimer::timeout, this, [this] { m_logic.OnRangeTyped(); });
    setFixedSize(units.Map(0, 0, kDialogWidth, kDialogHeight).size());
    for (const auto& [id, name] : kAccessibleNames) {
        Control<QWidget>(id)->setProperty(kCaption, name);
        Control<QWidget>(id)->setAccessibleName(name);
    }
    using Group = std::initializer_list<int>;
    for (const Group group : {Group{IDC_SEARCH_SPECIFIC, IDC_SEARCH_RANGE, IDC_SEARCH_ALL},
                              Group{IDC_REPLACE_SPECIFIC, IDC_REPLACE_INCREASE,
                                    IDC_REPLACE_DECREASE, IDC_REPLACE_RANDOM}}) {
        auto* exclusive = new QButtonGroup(this);
        for (const int id : group)
            exclusive->addButton(Control<QAbstractButton>(id));
    }
}

bool QtDialogView::Start() {
    if (!m_logic.OnInitDialog())
        return false;
    Control<QWidget>(IDC_RANGE_START)->setFocus();
    winId();
    new WhenExposed(windowHandle(), [this] {
        m_panel->Open();
        m_logic.OnShown();
    });
    return true;
}

int QtDialogView::DoModal() {
    return Start() ? exec() : result();
}

void QtDialogView::reject() {
    m_logic.OnCancel();
}

void QtDialogView::EndDialog() {
    QDialog::reject();
}

std::string QtDialogView::FieldText(int id) const {
    return Control<QLineEdit>(id)->text().toLatin1().toStdString(); // one byte per character
}

void QtDialogView::SetFieldText(int id, const std::string& text) {
    Control<QLineEdit>(id)->setText(QString::fromStdString(text));
}

void QtDialogView::ShowText(int id, const std::string& text) {
    auto* field = Control<QLabel>(id);
    const QString shown = QString::fromStdString(text);
    field->setText(shown);
    // A label's accessible name hides its text: the name carries both.
    const QString caption = field->property(kCaption).toString();
    field->setAccessibleName(shown.isEmpty() ? caption : caption + ": " + shown);
}

bool QtDialogView::IsChecked(int id) const {
    return Control<QAbstractButton>(id)->isChecked();
}

void QtDialogView::SetChecked(int id, bool checked) {
    Control<QAbstractButton>(id)->setChecked(checked);
}

void QtDialogView::SetEnabled(int id, bool enabled) {
    Control<QWidget>(id)->setEnabled(enabled);
}

// A window that is not on screen yet (the dialog while it starts up) cannot
// carry a box; such boxes are centred on the screen instead.
std::optional<std::filesystem::path> QtDialogView::AskForFile() {
    QFileDialog dialog(isVisible() ? this : nullptr);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile); // a typed name that does not exist is accepted
    dialog.setNameFilters({"NES ROM files (*.nes)", "All Files (*)"});
    // Qt's own dialog: a platform dialog may insist that the named file exists.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return ToPath(dialog.selectedFiles().front());
}

Answer QtDialogView::ShowMessage(const std::string& text, MessageButtons buttons) {
    QMessageBox box(isVisible() ? this : nullptr);
    box.setWindowTitle(kMessageTitle);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    if (buttons == MessageButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    } else if (buttons == MessageButtons::YesNo) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default: // an OK box, or a box closed without a button
        return buttons == MessageButtons::Ok      ? Answer::Ok
               : buttons == MessageButtons::YesNo ? Answer::No
                                                  : Answer::Cancel;
    }
}

void QtDialogView::RunWithProgress(const std::string& title,
                                   const std::function<void(const Progress&)>& work) {
    const QString what = QString::fromStdString(title);
    std::atomic<std::uint64_t> done = 0;
    std::atomic<std::uint64_t> total = 0;
    std::unique_ptr<QProgressDialog> view;
    const auto update = [&] {
        view->setLabelText(QString("%1\n%2 of %3 MiB").arg(what).arg(done >> 20).arg(total >> 20));
        view->setValue(total ? static_cast<int>(done * 1000 / total) : 0);
    };
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (view)
            return update();
        QWidget* owner = isVisible() ? this : nullptr;
        view = std::make_unique<UnstoppableProgress>(what, QString(), 0, 1000, owner);
        view->setWindowTitle(kMessageTitle);
        view->setCancelButton(nullptr);
        view->setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
        view->setMinimumDuration(0);
        view->setAutoReset(false); // stays up until the work is over, flush included
        view->setAutoClose(false);
        update();
        view->show();
        poll.setInterval(50);
    });
    poll.start(kProgressDelayMs);

    QEventLoop loop;
    {
        const SwallowInput swallow;
        std::thread worker([&] {
            work([&](std::uint64_t doneNow, std::uint64_t totalNow) {
                done = doneNow;
                total = totalNow;
            });
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
    }
}

} // namespace glitchwerk
