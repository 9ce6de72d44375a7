// SPDX-License-Identifier: MIT
#pragma once
// Tiles of the 8-bit consoles: 8x8 pixels of 2 bits, in two bit planes,
// drawn as a grey image of 16 tiles a row, so that any bytes can be looked at
// as the graphics they would be.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace glitchwerk {

enum class TileLayout {
    Nes,     // 16 bytes a tile: the 8 rows of plane 0, then the 8 rows of plane 1
    GameBoy, // 16 bytes a tile: each row's plane 0 byte, then its plane 1 byte
};

inline constexpr std::size_t kTileBytes = 16;
inline constexpr int kTilesPerRow = 16;
// More are left out: 4096 tiles are 64 KiB of bytes and a 128x2048 image.
inline constexpr std::size_t kMostTiles = 4096;

// One byte a pixel, row after row: 0xFF, 0xAA, 0x55 and 0x00 for the values
// 0 to 3, as the consoles' default palettes go from light to dark.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// The whole tiles in `bytes`, at most kMostTiles; a last row that is not full
// is filled with value 0. No tiles give an empty image.
GreyImage DecodeTiles(std::span<const std::uint8_t> bytes, TileLayout layout);

} // namespace glitchwerk
