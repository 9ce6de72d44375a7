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
    ASSERT_GT(png.indexOf("tEXt"), 0);
    ASSERT_LT(png.indexOf("tEXt"), static_cast<qsizetype>(text));

    const testing::TempDir dir;
    const auto read = [&] {
        const testing::Bytes bytes = testing::ReadFile(dir / "image.png");
        QImage back;
        back.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                          static_cast<int>(bytes.size()), "PNG");
        return back;
    };
    for (const bool mend : {false, true}) {
        testing::WriteFile(dir / "image.png", testing::Bytes(png.begin(), png.end()));
        FileHandle file = OpenFile(dir / "image.png", OpenHow::Existing);
        const std::optional<MendPlan> plan = FindMendable(file.get());
        ASSERT_TRUE(plan);
        // "bent" in capitals.
        const CorruptionStep step{
            text, text + 4, {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceXor, 0x20}};
        RandomStream stream;
        std::vector<CorruptionResult> results;
        ASSERT_EQ(RunCorruptionPass(file.get(),
                                    {{}, static_cast<std::uint32_t>(png.size()), {step}}, stream,
                                    results),
                  PassOutcome::Done);
        std::vector<std::string> mended;
        ASSERT_TRUE(!mend || MendChecksums(file.get(), *plan, mended));
        ASSERT_TRUE(CloseStream(file));
        EXPECT_EQ(mended, mend ? std::vector<std::string>{"png-crc"} : std::vector<std::string>{});
        const QImage back = read();
        ASSERT_FALSE(back.isNull());
        EXPECT_EQ(back.pixel(3, 3), qRgb(10, 200, 30));
        EXPECT_EQ(back.text("Comment"), mend ? "BENT here" : "");
    }
}

} // namespace
} // namespace glitchwerk
