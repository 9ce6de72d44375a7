// SPDX-License-Identifier: MIT
#include "app/qt_panel_view.h"

#include "app/qt_path.h"
#include "dialog/glitchwerk_dlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>

#include <cmath>

namespace glitchwerk {
namespace {

QWidget* CreateControl(const PanelControl& control, QWidget* parent) {
    const QString caption = QString::fromUtf8(control.caption);
    switch (control.kind) {
    case PanelControlKind::Frame:
        return new QGroupBox(caption, parent);
    case PanelControlKind::Radio:
        return new QRadioButton(caption, parent);
    case PanelControlKind::Edit:
        return new QLineEdit(parent);
    case PanelControlKind::Check:
        return new QCheckBox(caption, parent);
    case PanelControlKind::Button:
        return new QPushButton(caption, parent);
    case PanelControlKind::List:
        return new QListWidget(parent);
    case PanelControlKind::Text: {
        auto* label = new QLabel(caption, parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    }
    return nullptr;
}

} // namespace

QtPanelView::QtPanelView(CGlitchwerkDlg& logic, QWidget* dialog)
    : QWidget(nullptr, Qt::Tool), m_logic(logic), m_dialog(dialog) {
    setObjectName("IDD_GLITCHWERK_PANEL");
    setWindowTitle(kPanelCaption);
    setFont(dialog->font());
    const QFontMetricsF metrics(font());
    const double baseX = std::ceil(
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52);
    const double baseY = std::ceil(metrics.height());
    const auto map = [&](int x, int y, int w, int h) {
        return QRect(static_cast<int>(x * baseX / 4), static_cast<int>(y * baseY / 8),
                     static_cast<int>(w * baseX / 4), static_cast<int>(h * baseY / 8));
    };
    for (std::size_t i = 0; i < kControlCount; ++i) {
        const PanelControl& control = kPanelControls[i];
        QWidget* widget = CreateControl(control, this);
        widget->setGeometry(map(control.x, control.y, control.width, control.height));
        m_controls[i] = widget;
        if (control.kind == PanelControlKind::Frame)
            widget->lower();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, id = control.id] { m_logic.OnPanelCommand(id); });
        }
        if (auto* list = qobject_cast<QListWidget*>(widget)) {
            connect(list, &QListWidget::currentRowChanged, this,
                    [this, id = control.id] { m_logic.OnPanelCommand(id); });
        }
    }
    setFixedSize(map(0, 0, kPanelWidth, kPanelHeight).size());
    m_logic.AttachPanel(*this);
}

void QtPanelView::Open() {
    if (!isVisible()) {
        // Beside the dialog, on the right where the screen has room, else on the left.
        const QRect frame = m_dialog->frameGeometry();
        const QScreen* screen = m_dialog->screen();
        int x = frame.right() + 8;
        if (screen && x + width() > screen->availableGeometry().right())
            x = frame.left() - frameGeometry().width() - 8;
        move(x, frame.top());
        winId(); // so that the panel stays over the dialog, as a tool window of it
        windowHandle()->setTransientParent(m_dialog->windowHandle());
        show();
        m_logic.OnPanelShown();
    }
    raise();
}

template <typename T> T* QtPanelView::Control(int id) const {
    for (std::size_t i = 0; i < kControlCount; ++i) {
        if (kPanelControls[i].id != id)
            continue;
        if (auto* control = qobject_cast<T*>(m_controls[i]))
            return control;
        qFatal("Panel control %d is no %s", id, T::staticMetaObject.className());
    }
    qFatal("No panel control %d", id);
}

bool QtPanelView::IsOpen() const {
    return isVisible();
}

std::string QtPanelView::FieldText(int id) const {
    return Control<QLineEdit>(id)->text().toStdString();
}

void QtPanelView::SetFieldText(int id, const std::string& text) {
    Control<QLineEdit>(id)->setText(QString::fromStdString(text));
}

void QtPanelView::ShowText(int id, const std::string& text) {
    Control<QLabel>(id)->setText(QString::fromStdString(text));
}

bool QtPanelView::IsChecked(int id) const {
    return Control<QAbstractButton>(id)->isChecked();
}

void QtPanelView::SetChecked(int id, bool checked) {
    Control<QAbstractButton>(id)->setChecked(checked);
}

void QtPanelView::SetEnabled(int id, bool enabled) {
    Control<QWidget>(id)->setEnabled(enabled);
}

void QtPanelView::ShowHistory(const std::vector<std::string>& rows, int selected) {
    auto* list = Control<QListWidget>(IDC_HISTORY);
    const QSignalBlocker quiet(list);
    list->clear();
    for (const std::string& row : rows)
        list->addItem(QString::fromStdString(row));
    list->setCurrentRow(selected);
}

int QtPanelView::SelectedRow() const {
    return Control<QListWidget>(IDC_HISTORY)->currentRow();
}

void QtPanelView::SetClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

std::optional<std::filesystem::path>
QtPanelView::AskForSaveName(const std::filesystem::path& suggested, bool& replace) {
    // Qt's dialog asks before it names a file that exists.
    const QString name =
        QFileDialog::getSaveFileName(this, "Save copy as", ToText(suggested), QString(), nullptr,
                                     QFileDialog::DontUseNativeDialog);
    if (name.isEmpty())
        return std::nullopt;
    replace = true;
    return ToPath(name);
}

std::filesystem::path QtPanelView::DataFolder() const {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder.isEmpty() ? std::filesystem::path() : ToPath(folder);
}

} // namespace glitchwerk
