// SPDX-License-Identifier: MIT
#include "app/prompts.h"

#include "app/qt_path.h"

#include <QFileDialog>
#include <QMessageBox>

namespace glitchwerk {
namespace {

constexpr char kMessageTitle[] = "Glitchwerk"; // every message box's

// A window that is not on screen yet (the dialog while it starts up) cannot
// carry a box; such boxes are centred on the screen instead.
QWidget* VisibleOwner(QWidget* owner) {
    return owner && owner->isVisible() ? owner : nullptr;
}

} // namespace

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
