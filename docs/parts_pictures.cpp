// SPDX-License-Identifier: MIT
// Draws the README's pictures of parts and the preview, from files made here:
// a JPEG before and after glitchwerk-cli bent its scan part, one bent by
// --shuffle, --shift and --tilt side by side, and the window with its panel
// showing the tiles of an iNES file whose CHR was bent.
//   QT_QPA_PLATFORM=offscreen build/docs/glitchwerk_parts_pictures docs

#include "app/qt_dialog_view.h"
#include "cli/cli.h"
#include "dialog/resource.h"
#include "engine/file_parts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

class PictureView final : public glitchwerk::QtDialogView {
  public:
    glitchwerk::Answer ShowMessage(const std::string&, glitchwerk::MessageButtons) override {
        return glitchwerk::Answer::Ok;
    }
};

// Something to recognise: a sky, a sun, hills and a word.
QImage Scene(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(40, 60, 160));
    sky.setColorAt(1, QColor(250, 160, 90));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(255, 230, 120));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(width * 0.7, height * 0.4), height * 0.18, height * 0.18);
    painter.setBrush(QColor(30, 90, 50));
    painter.drawEllipse(QPointF(width * 0.25, height * 1.1), width * 0.5, height * 0.45);
    painter.setBrush(QColor(20, 60, 40));
    painter.drawEllipse(QPointF(width * 0.85, height * 1.15), width * 0.45, height * 0.4);
    painter.setPen(Qt::white);
    painter.setFont(QFont("DejaVu Sans", height / 8, QFont::Bold));
    painter.drawText(QRect(0, 0, width, height / 3), Qt::AlignCenter, "Glitchwerk");
    return image;
}

// A grey image as NES tiles: 16 a row, two bit planes, 0 the lightest.
std::string NesTiles(const QImage& grey) {
    std::string bytes;
    for (int ty = 0; ty < grey.height() / 8; ++ty) {
        for (int tx = 0; tx < 16; ++tx) {
            char planes[16] = {};
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    const int value = 3 - qGray(grey.pixel(tx * 8 + x, ty * 8 + y)) / 64;
                    planes[y] = static_cast<char>(planes[y] | (value & 1) << (7 - x));
                    planes[8 + y] = static_cast<char>(planes[8 + y] | (value >> 1) << (7 - x));
                }
            }
            bytes.append(planes, 16);
        }
    }
    return bytes;
}

bool Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = glitchwerk::RunCli(args, out, err);
    std::cout << out.str();
    std::cerr << err.str();
    return code == 0;
}

bool BentJpeg(const QString& picture) {
    Scene(640, 400).save("scene.jpg", "JPEG", 85);
    if (!Cli({"parts", "scene.jpg"}) ||
        !Cli({"corrupt", "scene.jpg", "-o", "bent.jpg", "--seed", "18", "--range", "scan",
              "--search-all", "--random", "--pick", "6"}))
        return false;
    const QImage before("scene.jpg"), after("bent.jpg");
    QImage both(before.width() * 2 + 8, before.height(), QImage::Format_RGB32);
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawImage(0, 0, before);
    painter.drawImage(before.width() + 8, 0, after);
    painter.end();
    return !after.isNull() && both.save(picture);
}

// The offsets START:END, in hexadecimal, from a third into the scan to its end.
std::string LowerScan(const char* jpeg) {
    std::FILE* file = std::fopen(jpeg, "rb");
    if (file == nullptr)
        return {};
    const auto parts = glitchwerk::FindParts(file);
    if (std::fclose(file) != 0 || !parts)
        return {};
    const glitchwerk::FilePart* scan = glitchwerk::FindPart(*parts, "scan");
    if (scan == nullptr)
        return {};
    char range[40];
    std::snprintf(range, sizeof range, "%llX:%llX",
                  static_cast<unsigned long long>(scan->start + (scan->end - scan->start) / 3),
                  static_cast<unsigned long long>(scan->end));
    return range;
}

// Three copies of one JPEG, each bent by one rule, over the rule as typed.
bool BentByRules(const QString& picture) {
    const std::vector<std::vector<std::string>> rules{
        {"--shuffle", "1024"}, {"--shift", "1000"}, {"--tilt", "8", "--pick", "20"}};
    const int width = 400, height = 250, gap = 8, label = 30;
    Scene(width, height).save("rules.jpg", "JPEG", 85);
    const std::string range = LowerScan("rules.jpg");
    if (range.empty())
        return false;
    QImage all(3 * width + 2 * gap, height + label, QImage::Format_RGB32);
    all.fill(Qt::white);
    QPainter painter(&all);
    painter.setFont(QFont("DejaVu Sans Mono", 12));
    painter.setPen(QColor(30, 30, 30));
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const std::string bent = "rule" + std::to_string(i) + ".jpg";
        std::vector<std::string> args{"corrupt", "rules.jpg", "-o",      bent,
                                      "--seed",  "26",        "--range", range};
        args.insert(args.end(), rules[i].begin(), rules[i].end());
        if (!Cli(args))
            return false;
        const QImage image(QString::fromStdString(bent));
        if (image.isNull())
            return false;
        const int x = static_cast<int>(i) * (width + gap);
        painter.drawImage(x, 0, image);
        std::string text;
        for (const auto& word : rules[i])
            text += (text.empty() ? "" : " ") + word;
        painter.drawText(QRect(x, height, width, label), Qt::AlignCenter,
                         QString::fromStdString(text));
    }
    painter.end();
    return all.save(picture);
}

bool TilesInThePanel(const QString& picture) {
    QImage art = Scene(128, 256).convertToFormat(QImage::Format_Grayscale8);
    std::ofstream("game.nes", std::ios::binary)
        << std::string("NES\x1A\x01\x01", 6) << std::string(10, '\0') << std::string(0x4000, '\xEA')
        << NesTiles(art);

    PictureView dialog;
    dialog.Logic().OpenAtStart(std::filesystem::absolute("game.nes"));
    if (!dialog.Start())
        return false;
    dialog.show();
    dialog.Panel().Open();
    for (auto* list : dialog.Panel().findChildren<QListWidget*>()) {
        if (list->count() == 3 && list->item(2)->text().startsWith("chr"))
            list->setCurrentRow(2);
    }
    dialog.Logic().OnPanelCommand(IDC_PARTS);
    dialog.Panel().findChildren<QLineEdit*>().front()->setText("37"); // every 37th byte
    for (const int id : {IDC_SPREAD_NTH})
        dialog.Logic().OnPanelCommand(id);
    for (const int id : {IDC_SEARCH_ALL, IDC_REPLACE_RANDOM, IDC_CORRUPT})
        dialog.Logic().OnCommand(id);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);

    const QPixmap window = dialog.grab(), panel = dialog.Panel().grab();
    QImage both(window.width() + panel.width() + 8, std::max(window.height(), panel.height()),
                QImage::Format_RGB32);
    both.fill(QColor(236, 236, 236));
    QPainter painter(&both);
    painter.drawPixmap(0, 0, window);
    painter.drawPixmap(window.width() + 8, 0, panel);
    painter.end();
    dialog.done(0);
    return both.save(picture);
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir pictures(QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1])));
    QDir scratch(QDir::temp().filePath("glitchwerk-parts-pictures"));
    scratch.mkpath(".");
    QDir::setCurrent(scratch.path());
    const bool drawn = BentJpeg(pictures.filePath("bent-jpeg.png")) &&
                       BentByRules(pictures.filePath("bent-rules.png")) &&
                       TilesInThePanel(pictures.filePath("glitchwerk-tiles.png"));
    scratch.removeRecursively();
    return drawn ? 0 : 1;
}
