// SPDX-License-Identifier: MIT
// Draws the README's pictures of the window: the dialog after a random
// corruption of offsets 10 to 800F of a scratch file, and, when a second name
// is given, the dialog with its panel after sparse random corruptions of a
// scratch ROM, saved as PNGs.
// On a screen wide enough for the panel's natural width:
//   QT_QPA_PLATFORM=offscreen:configfile=build-run/docs/screen.json
//       build-run/docs/glitchwerk_picture docs/glitchwerk.png docs/glitchwerk-panel.png

#include "app/qt_dialog_view.h"
#include "dialog/resource.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QTreeWidget>

#include <algorithm>
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
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s PICTURE.png [PANEL.png]\n", argv[0]);
        return 2;
    }
    const QString picture = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const QString panelPicture =
        argc == 3 ? QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[2])) : QString();
    QDir scratch(QDir::temp().filePath("glitchwerk-picture"));
    scratch.mkpath(".");
    QDir::setCurrent(scratch.path());
    // An iNES header: 16 KiB of program, 8 KiB of tiles.
    std::ofstream("game.nes", std::ios::binary)
        << std::string("NES\x1A\x01\x01", 6) << std::string(10, '\0')
        << std::string(0x40000, '\x5A');

    PictureView dialog;
    dialog.Logic().OpenAtStart(std::filesystem::absolute("game.nes"));
    const bool shown = dialog.Start();
    dialog.findChild<QLineEdit*>("IDC_RANGE_START")->setText("10");
    dialog.findChild<QLineEdit*>("IDC_RANGE_END")->setText("8010");
    for (const int id : {IDC_SEARCH_ALL, IDC_REPLACE_RANDOM, IDC_CORRUPT})
        dialog.Logic().OnCommand(id);
    bool saved = shown && dialog.grab().save(picture);
    if (saved && argc == 3) {
        glitchwerk::QtPanelView& panel = dialog.Panel();
        panel.Open();
        panel.SetChecked(IDC_QUIET_RESULTS, true);
        panel.SetFieldText(IDC_SPREAD_K, "40");
        dialog.Logic().OnPanelCommand(IDC_SPREAD_PICK);
        panel.SetFieldText(IDC_RUN_AFTER, "emulator %f");
        for (const int id : {IDC_RECORRUPT, IDC_CORRUPT, IDC_RECORRUPT})
            dialog.Logic().OnCommand(id);
        auto* history = panel.findChild<QTreeWidget*>();
        history->setCurrentItem(history->topLevelItem(1));
        // The preview is drawn on a worker thread.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const QPixmap left = dialog.grab(), right = panel.grab();
        QPixmap both(left.width() + 8 + right.width(), std::max(left.height(), right.height()));
        both.fill(Qt::white);
        QPainter painter(&both);
        painter.drawPixmap(0, 0, left);
        painter.drawPixmap(left.width() + 8, 0, right);
        painter.end();
        saved = both.save(panelPicture);
    }
    dialog.done(0);
    scratch.removeRecursively();
    return saved ? 0 : 1;
}
