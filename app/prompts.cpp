// SPDX-License-Identifier: MIT
#include "app/prompts.h"

#include "app/qt_path.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>

namespace glitchwerk {
namespace {

constexpr char kMessageTitle[] = "Glitchwerk"; // every message box's

// A window that is not on screen yet (the dialog while it starts up) cannot
// carry a box; such boxes are centred on the screen instead.
QWidget* VisibleOwner(QWidget* owner) {
    return owner && owner->isVisible() ? owner : nullptr;
}

// Nothing the user does stops the work: no Esc, no close box.
class UnstoppableProgress final : public QProgressDialog {
  public:
    using QProgressDialog::QProgressDialog;

  protected:
    void keyPressEvent(QKeyEvent* event) override { event->accept(); }
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

} // namespace

QtProgress::QtProgress(QWidget* owner, QString what, int delayMs)
    : m_owner(owner), m_what(std::move(what)), m_delayMs(delayMs) {
    m_clock.start();
}

QtProgress::~QtProgress() = default;

void QtProgress::Update(std::uint64_t done, std::uint64_t total) {
    if (!m_dialog && m_clock.elapsed() >= m_delayMs) {
        QWidget* owner = VisibleOwner(m_owner);
        m_dialog = std::make_unique<UnstoppableProgress>(m_what, QString(), 0, 1000, owner);
        m_dialog->setWindowTitle(kMessageTitle);
        m_dialog->setCancelButton(nullptr);
        m_dialog->setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoReset(false); // stays up until the work is over, flush included
        m_dialog->setAutoClose(false);
        m_dialog->show();
    }
    if (m_dialog) {
        m_dialog->setLabelText(
            QString("%1\n%2 of %3 MiB").arg(m_what).arg(done >> 20).arg(total >> 20));
        m_dialog->setValue(total ? static_cast<int>(done * 1000 / total) : 0);
        QCoreApplication::processEvents(); // the only events then are the dialog's own
    }
}

std::unique_ptr<ProgressView> QtPrompts::ShowProgress(QWidget* owner, const QString& what) {
    return std::make_unique<QtProgress>(owner, what, 500);
}

std::optional<std::filesystem::path> QtPrompts::AskForFile(QWidget* owner) {
    QFileDialog dialog(VisibleOwner(owner));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile); // a typed name that does not exist is accepted
    dialog.setNameFilters({"NES ROM files (*.nes)", "All Files (*)"});
    // Qt's own dialog: a platform dialog may insist that the named file exists.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return ToPath(dialog.selectedFiles().front());
}

Answer QtPrompts::ShowMessage(QWidget* owner, const QString& text, MessageButtons buttons) {
    QMessageBox box(VisibleOwner(owner));
    box.setWindowTitle(kMessageTitle);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    if (buttons == MessageButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
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
        return buttons == MessageButtons::Ok ? Answer::Ok : Answer::Cancel;
    }
}

} // namespace glitchwerk
