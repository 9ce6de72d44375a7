// SPDX-License-Identifier: MIT
// Draws the README's picture of the window: the dialog after a random
// corruption of offsets 10 to 800F of a scratch file, saved as a PNG.
//   QT_QPA_PLATFORM=offscreen build/docs/glitchwerk_picture docs/glitchwerk.png

#include "app/glitchwerk_dlg.h"
#include "app/prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Picks the scratch file, lets every message go unanswered, shows no progress.
class ScriptedPrompts final : public glitchwerk::Prompts {
  public:
    std::optional<std::filesystem::path> AskForFile(QWidget*) override {
        return std::filesystem::absolute("game.nes");
    }
    glitchwerk::Answer ShowMessage(QWidget*, const QString&, glitchwerk::MessageButtons) override {
        return glitchwerk::Answer::Ok;
    }
    std::unique_ptr<glitchwerk::ProgressView> ShowProgress(QWidget* owner,
                                                           const QString& what) override {
        return std::make_unique<glitchwerk::QtProgress>(owner, what, 60000); // never shown
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

    ScriptedPrompts prompts;
    glitchwerk::CGlitchwerkDlg dialog(prompts);
    const bool shown = dialog.OnInitDialog();
    dialog.findChild<QLineEdit*>("IDC_RANGE_START")->setText("10");
    dialog.findChild<QLineEdit*>("IDC_RANGE_END")->setText("8010");
    dialog.SetSearchMode(glitchwerk::SearchMode::SearchAllBytes);
    dialog.SetReplaceMode(glitchwerk::ReplaceMode::ReplaceRandomByte);
    dialog.findChild<QAbstractButton*>("IDC_CORRUPT")->click();
    const bool saved = shown && dialog.grab().save(picture);
    dialog.done(0);
    scratch.removeRecursively();
    return saved ? 0 : 1;
}
