// SPDX-License-Identifier: MIT
// Draws the README's picture of the window: the dialog after a random
// corruption of offsets 10 to 800F of a scratch file, saved as a PNG.
//   QT_QPA_PLATFORM=offscreen build/docs/glitchwerk_picture docs/glitchwerk.png

#include "app/qt_dialog_view.h"
#include "dialog/resource.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// The real window, with every message left unanswered.
class PictureView final : public glitchwerk::QtDialogView {
  public:
    glitchwerk::Answer ShowMessage(const std::string&, glitchwerk::MessageButtons) override {
        return glitchwerk::Answer::Ok;
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PICTURE.png\n", argv[0]);
        return 2;
    }
    const QString picture = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    QDir scratch(QDir::temp().filePath("glitchwerk-picture"));
    scratch.mkpath(".");
    QDir::setCurrent(scratch.path());
    std::ofstream("game.nes", std::ios::binary) << std::string(0x40010, '\x5A');

    PictureView dialog;
    dialog.Logic().OpenAtStart(std::filesystem::absolute("game.nes"));
    const bool shown = dialog.Start();
    dialog.findChild<QLineEdit*>("IDC_RANGE_START")->setText("10");
    dialog.findChild<QLineEdit*>("IDC_RANGE_END")->setText("8010");
    for (const int id : {IDC_SEARCH_ALL, IDC_REPLACE_RANDOM, IDC_CORRUPT})
        dialog.Logic().OnCommand(id);
    const bool saved = shown && dialog.grab().save(picture);
    dialog.done(0);
    scratch.removeRecursively();
    return saved ? 0 : 1;
}
