// SPDX-License-Identifier: MIT
// A PNG's chunk CRCs mended after a change in its text: Qt decodes the file and keeps the text,
// which it drops unmended (its CRC failed).

#include "engine/corruption_pass.h"
#include "engine/mend.h"
#include "tests/temp_dir.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

namespace glitchwerk {
namespace {

TEST(MendPng, QtDecodesAFileWhoseTextChunkChanged) {
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    image.setText("Comment", "bent here");
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    const auto text = static_cast<std::uint32_t>(png.indexOf("bent here"));
    ASSERT_TRUE(png.indexOf("tEXt") > 0 && png.indexOf("tEXt") < text);

    const testing::TempDir dir;
    const CorruptionStep capitals{
        text, text + 4, {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceXor, 0x20}};
    for (const bool mend : {false, true}) {
        testing::WriteFile(dir / "image.png", testing::Bytes(png.begin(), png.end()));
        FileHandle file = OpenFile(dir / "image.png", OpenHow::Existing);
        MendPlan plan;
        RandomStream stream;
        std::vector<CorruptionResult> results;
        std::vector<std::string> mended;
        ASSERT_TRUE(FindMendable(file.get(), plan) &&
                    RunCorruptionPass(file.get(),
                                      {{}, static_cast<std::uint32_t>(png.size()), {capitals}},
                                      stream, results) == PassOutcome::Done);
        ASSERT_TRUE((!mend || MendChecksums(file.get(), plan, mended)) && CloseStream(file));
        const testing::Bytes bytes = testing::ReadFile(dir / "image.png");
        QImage back;
        ASSERT_TRUE(back.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "PNG"));
        EXPECT_EQ(back.pixel(3, 3), qRgb(10, 200, 30));
        EXPECT_EQ(back.text("Comment"), mend ? "BENT here" : "");
    }
}

} // namespace
} // namespace glitchwerk
