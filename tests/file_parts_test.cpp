// SPDX-License-Identifier: MIT
#include "engine/file_parts.h"
#include "engine/tiles.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string_view>

namespace glitchwerk {
namespace {

using namespace std::literals;
using testing::Bytes;

// `length` zero bytes with each piece's bytes written at its offset.
Bytes Make(std::size_t length,
           std::initializer_list<std::pair<std::size_t, std::string_view>> pieces) {
    Bytes bytes(length);
    for (const auto& [at, piece] : pieces)
        std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

std::string Text(const FileParts& found) {
    std::ostringstream text;
    for (const FilePart& part : found.parts)
        text << ' ' << part.name << ' ' << std::hex << part.start << ':' << part.end;
    return text.str();
}

constexpr std::string_view kLogo =
    "\xCE\xED\x66\x66\xCC\x0D\x00\x0B\x03\x73\x00\x83\x00\x0C\x00\x0D"
    "\x00\x08\x11\x1F\x88\x89\x00\x0E\xDC\xCC\x6E\xE6\xDD\xDD\xD9\x99"
    "\xBB\xBB\x67\x63\x6E\x0E\xEC\xCC\xDD\xDC\x99\x9F\xBB\xB9\x33\x3E"sv;

using Sample = std::tuple<const char*, Bytes, FileKind, const char*>; // what, bytes, kind, parts

std::vector<Sample> Samples() {
    const auto snes = "\x34\x12\xCB\xED"sv; // a checksum complement, then its checksum
    return {
        {"iNES", Make(0x6015, {{0, "NES\x1A\x01\x01"sv}}), FileKind::INes,
         " header 0:10 prg 10:4010 chr 4010:6010 rest 6010:6015"},
        {"iNES, a trainer, no CHR", Make(0x4210, {{0, "NES\x1A\x01\x00\x04"sv}}), FileKind::INes,
         " header 0:10 trainer 10:210 prg 210:4210"},
        {"NES 2.0 sizes", Make(0x8010, {{0, "NES\x1A\x3C\x00\x00\x08\x00\x0F"sv}}), FileKind::INes,
         " header 0:10 prg 10:8010"},
        {"Game Boy", Make(0x8000, {{0x104, kLogo}}), FileKind::GameBoy,
         " start 0:100 header 100:150 rom 150:8000"},
        {"Game Boy Advance", Make(0x200, {{0xB2, "\x96"sv}, {0xBD, "\x51"sv}}), FileKind::Gba,
         " header 0:c0 rom c0:200"},
        {"96h at B2, a wrong complement", Make(0x200, {{0xB2, "\x96"sv}, {0xBD, "\x52"sv}}),
         FileKind::Other, " all 0:200"},
        {"SNES LoROM", Make(0x10000, {{0x7FDC, snes}}), FileKind::Snes,
         " start 0:7fc0 header 7fc0:8000 rom 8000:10000"},
        {"SNES HiROM, a copier", Make(0x10200, {{0x101DC, snes}}), FileKind::Snes,
         " copier 0:200 start 200:101c0 header 101c0:10200"},
        {"JPEG",
         Make(0x20, {{0, "\xFF\xD8\xFF\xDB\x00\x04\x01\x02\xFF\xDA\x00\x04"sv},
                     {0xF, "\xFF\xD9\x34\xFF\xD9"sv}}),
         FileKind::Jpeg, " headers 0:e scan e:12 end 12:20"},
        {"JPEG without its end", Make(0x10, {{0, "\xFF\xD8\xFF\xDA\x00\x02"sv}}), FileKind::Jpeg,
         " headers 0:6 scan 6:10"},
        {"BMP", Make(0x46, {{0, "BM"sv}, {10, "\x36\x00\x00\x00\x28"sv}}), FileKind::Bmp,
         " headers 0:36 pixels 36:46"},
        {"BM and no BMP", Make(0x46, {{0, "BM"sv}, {10, "\x36\x00\x00\x00\x29"sv}}),
         FileKind::Other, " all 0:46"},
        {"WAV", Make(0x40, {{0, "RIFF\x38\x00\x00\x00WAVEfmt \x05"sv}, {0x1A, "data\x0A"sv}}),
         FileKind::Wav, " headers 0:22 samples 22:2c rest 2c:40"},
        {"PNG",
         Make(0x50,
              {{0, "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR"sv}, {0x21, "\x00\x00\x00\x0AIDAT"sv}}),
         FileKind::Png, " headers 0:29 idat 29:33 rest 33:50"},
    };
}

TEST(FileParts, FoundFromTheBytes) {
    for (const auto& [what, bytes, kind, parts] : Samples()) {
        SCOPED_TRACE(what);
        const FileParts found = FindParts(bytes, bytes.size());
        EXPECT_EQ(found.kind, kind);
        EXPECT_EQ(Text(found), parts);
    }
}

// Any bytes, cut anywhere: ranges in order, inside the file, never empty.
TEST(FileParts, DamagedAndCutFilesGiveRangesInsideThem) {
    std::mt19937 random(18);
    const auto check = [](std::span<const std::uint8_t> bytes) {
        std::uint64_t last = 0;
        for (const FilePart& part : FindParts(bytes, bytes.size()).parts) {
            ASSERT_TRUE(last <= part.start && part.start < part.end && part.end <= bytes.size())
                << part.name << " " << part.start << ":" << part.end << " of " << bytes.size();
            last = part.end;
        }
    };
    for (const auto& [what, sample, kind, parts] : Samples()) {
        SCOPED_TRACE(what);
        std::vector<std::size_t> cuts;
        for (std::size_t cut = 0; cut <= sample.size(); cut += cut < 0x400 ? 1 : 0x3FF)
            cuts.push_back(cut);
        for (const FilePart& part : FindParts(sample, sample.size()).parts)
            cuts.insert(cuts.end(), {part.start + 1, part.end - 1, part.end});
        for (const std::size_t cut : cuts)
            check(std::span(sample).first(cut));
        for (int i = 0; i < 100 && !sample.empty(); ++i) {
            Bytes bent(sample.begin(), sample.begin() + random() % sample.size());
            for (int hits = 0; hits < 4 && !bent.empty(); ++hits)
                bent[random() % std::min<std::size_t>(bent.size(), 0x40)] ^= 1 << random() % 8;
            check(bent);
        }
    }
    for (int i = 0; i < 2000; ++i) {
        Bytes bytes(random() % 0x200);
        std::generate(bytes.begin(), bytes.end(),
                      [&] { return static_cast<std::uint8_t>(random()); });
        check(bytes);
    }
}

// Row 0 of tile 0 holds the values 1, 2, 3 and 0; tile 16 starts the second row of tiles.
TEST(Tiles, EachConsoleKeepsItsPlanesItsOwnWay) {
    Bytes nes(17 * kTileBytes), gameBoy(17 * kTileBytes);
    nes[0] = gameBoy[0] = 0xA0;
    nes[8] = gameBoy[1] = 0x60;
    nes[16 * kTileBytes + 7] = gameBoy[16 * kTileBytes + 14] = 0x01; // its row 7: 1 at x 7
    Bytes expected(128 * 16, 0xFF);
    std::copy_n("\xAA\x55\x00", 3, expected.begin());
    expected[15 * 128 + 7] = 0xAA;
    for (const auto& [bytes, layout] :
         {std::pair{nes, TileLayout::Nes}, std::pair{gameBoy, TileLayout::GameBoy}}) {
        const GreyImage image = DecodeTiles(bytes, layout);
        EXPECT_EQ(std::pair(image.width, image.height), std::pair(128, 16));
        EXPECT_EQ(image.pixels, expected);
    }
    EXPECT_EQ(DecodeTiles(Bytes(15), TileLayout::Nes).pixels.size(), 0u);
    EXPECT_EQ(DecodeTiles(Bytes(kTileBytes * 5000), TileLayout::Nes).height, 2048);
}

} // namespace
} // namespace glitchwerk
