// SPDX-License-Identifier: MIT
// The panel's preview of a 2560x1600 JPEG (read, decode and scale to the
// preview's size) against a plain QImage decode of the same file, and the
// preview of an iNES file's 8 KiB of tiles (read and draw). Both targets are
// absolute: 150 ms and 10 ms.

#include "bench/figures.h"

#include "app/qt_panel_view.h"
#include "dialog/panel.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <memory>
#include <random>

namespace glitchwerk::bench {
namespace {

constexpr int kPreviewWidth = 358, kPreviewHeight = 370; // the panel's, in pixels

struct TempFile {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{std::tmpfile(), &std::fclose};
    std::int64_t length = 0;
};

TempFile Holding(const QByteArray& bytes) {
    TempFile held;
    held.length = bytes.size();
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), held.file.get());
    std::fflush(held.file.get());
    return held;
}

QByteArray Jpeg() {
    QImage image(2560, 1600, QImage::Format_RGB32);
    std::mt19937 noise(18);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = static_cast<int>(noise() % 32);
            row[x] = qRgb((x / 10 + n) & 0xFF, (y / 7 + n) & 0xFF, ((x + y) / 16) & 0xFF);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

void Preview(benchmark::State& state, const QByteArray& bytes) {
    const TempFile held = Holding(bytes);
    const FileParts parts = *FindParts(held.file.get());
    const ImageDecoder decode = QtImageDecoder(kPreviewWidth, kPreviewHeight);
    for (auto _ : state) {
        const PreviewSource source = ReadPreviewSource(
            held.file.get(), static_cast<std::uint64_t>(held.length), parts, 0, 0);
        PreviewPicture picture = DrawPreview(source, decode);
        if (picture.pixels.empty())
            return state.SkipWithError(picture.why.c_str());
        benchmark::DoNotOptimize(picture.pixels.data());
    }
}

} // namespace

void AddPreviewBenchmarks() {
    static int argc = 1;
    static char name[] = "glitchwerk_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv); // for Qt's image plugins
    static const QByteArray jpeg = Jpeg();
    static const QByteArray ines = [] {
        QByteArray bytes("NES\x1A\x01\x01", 6);
        bytes.resize(16 + 0x4000 + 0x2000);
        std::mt19937 generator(18);
        for (qsizetype i = 16; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(generator());
        return bytes;
    }();
    constexpr std::int64_t kPixels = 2560 * 1600;

    const std::string floor = "QImage decode 2560x1600 JPEG";
    AddFigure(floor, "", Target::None,
              [](benchmark::State& state) {
                  for (auto _ : state) {
                      QImage image = QImage::fromData(jpeg, "JPEG");
                      benchmark::DoNotOptimize(image.constBits());
                  }
                  state.SetBytesProcessed(state.iterations() * kPixels);
              })
        ->Repetitions(5)
        ->Unit(benchmark::kMillisecond);
    AddFigure("Preview 2560x1600 JPEG", floor, Target::ImageIn150Ms,
              [](benchmark::State& state) {
                  Preview(state, jpeg);
                  state.SetBytesProcessed(state.iterations() * kPixels);
              })
        ->Repetitions(5)
        ->Unit(benchmark::kMillisecond);
    AddFigure("Preview 8 KiB tiles of iNES", "memcpy 8 KiB", Target::TilesInTenMilliseconds,
              [](benchmark::State& state) {
                  Preview(state, ines);
                  state.SetBytesProcessed(state.iterations() * 8192);
              })
        ->Repetitions(9);
}

} // namespace glitchwerk::bench
