// SPDX-License-Identifier: MIT
// Draws the README's picture of the panel playing: an NES ROM built here with
// cc65, corrupted three times in the tiles of its capitals through the real
// window, each try played in nestopia (Debian's, or the one
// scripts/fetch-libretro.sh unpacked), the last one live in the play view and
// every row with its outcome and thumbnail.
//   QT_QPA_PLATFORM=offscreen:configfile=build-run/docs/screen.json
//       build-run/docs/glitchwerk_playing_picture docs/glitchwerk-playing.png
// With a second name, on a real screen (xvfb-run), the whole screen too.

#include "app/qt_dialog_view.h"
#include "dialog/resource.h"
#include "tests/temp_dir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Letters over the whole screen, a line of them moving, so that the game is
// seen to run.
constexpr char kSource[] = R"(#include <conio.h>
#include <nes.h>
int main(void) {
    static const char text[] = "GLITCHWERK ";
    unsigned char x, y, width, height, shift = 0;
    screensize(&width, &height);
    clrscr();
    for (y = 0; y < height; ++y) {
        gotoxy(0, y);
        for (x = 0; x < width; ++x)
            cputc(text[(x + 2 * y) % 11]);
    }
    for (;;) {
        waitvsync();
        if ((++shift & 7) == 0) {
            gotoxy(0, height / 2);
            for (x = 0; x < width; ++x)
                cputc(text[(x + shift / 8) % 11]);
        }
    }
    return 0;
}
)";

class PictureView final : public glitchwerk::QtDialogView {
  public:
    glitchwerk::Answer ShowMessage(const std::string&, glitchwerk::MessageButtons) override {
        return glitchwerk::Answer::Ok;
    }
};

void Wait(int milliseconds) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    QApplication application(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s PICTURE.png [SCREEN.png]\n", argv[0]);
        return 2;
    }
    const fs::path picture = fs::absolute(argv[1]);
    fs::path cores = GLITCHWERK_UNPACKED_CORES;
    if (!fs::exists(cores / "nestopia_libretro.so"))
        cores = GLITCHWERK_DEBIAN_CORES;
    const glitchwerk::testing::TempDir dir(true); // the run's data file goes here
    std::ofstream(dir / "letters.c") << kSource;
    const std::string rom = (dir / "letters.nes").string();
    if (std::system(("cl65 -t nes -O -o " + rom + " " + (dir / "letters.c").string()).c_str()) !=
        0) {
        std::fprintf(stderr, "cl65 failed (apt-get install cc65)\n");
        return 1;
    }

    PictureView dialog;
    dialog.Panel().UsePlaySetup({{cores, "/usr/share/libretro/info"}, {}});
    dialog.Logic().OpenAtStart(rom);
    if (!dialog.Start())
        return 1;
    dialog.show();
    glitchwerk::QtPanelView& panel = dialog.Panel();
    panel.Open();
    if (!panel.IsChecked(IDC_PLAY_AFTER)) {
        std::fprintf(stderr, "no core plays the ROM (scripts/fetch-libretro.sh)\n");
        return 1;
    }
    panel.SetChecked(IDC_QUIET_RESULTS, true);
    dialog.findChild<QLineEdit*>("IDC_RANGE_START")->setText("8410");
    dialog.findChild<QLineEdit*>("IDC_RANGE_END")->setText("8610");
    panel.SetFieldText(IDC_SPREAD_K, "120");
    dialog.Logic().OnPanelCommand(IDC_SPREAD_PICK);
    for (const int id : {IDC_SEARCH_ALL, IDC_REPLACE_RANDOM})
        dialog.Logic().OnCommand(id);
    for (const int id : {IDC_PANEL_CORRUPT, IDC_PANEL_RECORRUPT, IDC_PANEL_RECORRUPT}) {
        dialog.Logic().OnPanelCommand(id);
        Wait(1500); // played live, and to frame 180 for the row
    }
    Wait(1500);
    const QPixmap left = dialog.grab(), right = panel.grab();
    QPixmap both(left.width() + 8 + right.width(), std::max(left.height(), right.height()));
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawPixmap(0, 0, left);
    painter.drawPixmap(left.width() + 8, 0, right);
    painter.end();
    bool saved = both.save(QString::fromStdString(picture.string()));
    if (argc == 3)
        saved = saved && dialog.screen()->grabWindow(0).save(QString::fromLocal8Bit(argv[2]));
    dialog.done(0);
    return saved ? 0 : 1;
}
